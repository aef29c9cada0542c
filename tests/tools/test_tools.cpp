// Every tool answers --help and --version and rejects bad usage the same
// way; the picture tools write device-resolution pictures at a ratio of 2.
#include "Commands.h"
#include "Servers.h"

#include <QImage>

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace testsupport;

namespace {

const std::map<std::string, std::string> Tools = {
#include "ToolPaths.inc"
};

TEST(Tools, HelpVersionAndBadUsage)
{
    for (const auto& [name, path] : Tools) {
        SCOPED_TRACE(name);
        const std::string tool = ShellQuote(path);
        const CommandResult help = RunShell(tool + " --help");
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.out.rfind("Usage: " + name + " ", 0), 0u) << help.out;
        EXPECT_NE(help.out.find("--version"), std::string::npos);
        EXPECT_EQ(help.err, "");

        const CommandResult version = RunShell(tool + " --version");
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out, name + " (Fetchlet) " FETCHLET_VERSION "\n");
        EXPECT_EQ(version.err, "");

        // --help wins wherever it stands among the options.
        EXPECT_EQ(RunShell(tool + " --no-such-option --help").exitCode, 0);

        const CommandResult bad = RunShell(tool + " --no-such-option x y z 2>&1 >/dev/null");
        EXPECT_EQ(bad.exitCode, 2);
        EXPECT_NE(bad.out.find(name + ": "), std::string::npos) << bad.out;
        EXPECT_NE(bad.out.find("Usage: " + name + " "), std::string::npos) << bad.out;
        const CommandResult quiet = RunShell(tool + " --no-such-option x y z 2>/dev/null");
        EXPECT_EQ(quiet.out, "") << "usage belongs on standard error";
    }
    // After "--" a "--help" is an operand: crclist reports on no such file.
    const CommandResult operand = RunShell(ShellQuote(Tools.at("crclist")) + " -- --help");
    EXPECT_EQ(operand.exitCode, 0);
    EXPECT_EQ(operand.out.rfind("Usage:", 0), std::string::npos);
    // Too few operands is bad usage too.
    EXPECT_EQ(RunShell(ShellQuote(Tools.at("fetchlet-publish")) + " onlyone 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunShell(ShellQuote(Tools.at("dlini")) + " 2>/dev/null").exitCode, 2);
}

// Whether any 2 x 2 block on even coordinates inside the rectangle holds
// two colours: glyphs enlarged from ratio 1 never do.
bool HasFinerDetailThanDoubled(const QImage& image, const QRect& area)
{
    for (int y = area.top() & ~1; y + 1 <= area.bottom(); y += 2)
        for (int x = area.left() & ~1; x + 1 <= area.right(); x += 2) {
            const QRgb a = image.pixel(x, y);
            if (image.pixel(x + 1, y) != a || image.pixel(x, y + 1) != a || image.pixel(x + 1, y + 1) != a)
                return true;
        }
    return false;
}

TEST(Tools, PicturesAtDeviceResolutionUnderScaleFactorTwo)
{
    TempDir dir;
    const std::string env = "QT_SCALE_FACTOR=2 ";
    ASSERT_EQ(RunShell(env + ShellQuote(Tools.at("controls-gallery")) + " " + ShellQuote(dir / "g2")).exitCode, 0);
    ASSERT_EQ(RunShell(ShellQuote(Tools.at("controls-gallery")) + " " + ShellQuote(dir / "g1")).exitCode, 0);
    const QImage button2(QString::fromStdString(dir / "g2/button-rest.png"));
    const QImage button1(QString::fromStdString(dir / "g1/button-rest.png"));
    ASSERT_EQ(button1.size(), QSize(107, 25));
    ASSERT_EQ(button2.size(), QSize(214, 50));
    EXPECT_TRUE(HasFinerDetailThanDoubled(button2, QRect(8, 8, 198, 34)));
    const QImage pie2(QString::fromStdString(dir / "g2/gauge-pie-30-single.png"));
    EXPECT_EQ(pie2.size(), QSize(200, 200));
    EXPECT_TRUE(HasFinerDetailThanDoubled(pie2, QRect(4, 4, 192, 192)));

    // The windows as the program shows them, in a folder of its own.
    const std::string work = dir / "work";
    ASSERT_EQ(RunShell("mkdir -p " + ShellQuote(work)).exitCode, 0);
    ASSERT_EQ(RunShell("cd " + ShellQuote(work) + " && " + env + ShellQuote(Tools.at("render-windows")) + " " +
                       ShellQuote(dir / "w2") + " >/dev/null")
                  .exitCode,
              0);
    const QImage main2(QString::fromStdString(dir / "w2/main.png"));
    EXPECT_EQ(main2.size(), QSize(700, 500));
}

} // namespace
