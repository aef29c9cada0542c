// Every tool answers --help and --version and rejects bad usage the same
// way; the picture tools write device-resolution pictures at a ratio of 2.
#include "Commands.h"
#include "Servers.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
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
    // After "--" a "--help" is an operand: crclist finds no such file.
    const CommandResult operand = RunShell(ShellQuote(Tools.at("crclist")) + " -- --help");
    EXPECT_EQ(operand.exitCode, 1);
    EXPECT_EQ(operand.out, "");
    EXPECT_NE(operand.err.find("cannot read --help"), std::string::npos) << operand.err;
    // Too few operands is bad usage too.
    EXPECT_EQ(RunShell(ShellQuote(Tools.at("fetchlet-publish")) + " onlyone 2>/dev/null").exitCode, 2);
    EXPECT_EQ(RunShell(ShellQuote(Tools.at("dlini")) + " 2>/dev/null").exitCode, 2);
}

// A missing or unreadable input is named on standard error, in one line,
// with exit code 1 (2 stays for bad usage), and nothing else is done.
TEST(Tools, MissingInputsAreNamedAndExitWithOne)
{
    TempDir dir;
    WriteFile(dir / "present.txt", "present\n");
    const std::string missing = dir / "nonexistent";
    const auto expectMissing = [&](const std::string& tool, const std::string& arguments, const std::string& named) {
        SCOPED_TRACE(tool + " " + arguments);
        const CommandResult r = RunShell("cd " + ShellQuote(dir.path()) + " && " + ShellQuote(Tools.at(tool)) + " " +
                                         arguments);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind(tool + ": cannot read " + named + ": ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    };
    expectMissing("crclist", ShellQuote(missing), missing);
    expectMissing("crclist", "-32 " + ShellQuote(missing), missing);
    expectMissing("dlini", "decode " + ShellQuote(missing), missing);
    expectMissing("dlini", "decode", "DL.ini");
    expectMissing("dlini", "decode " + ShellQuote(dir.path()), dir.path()); // a folder is no settings file
    for (const std::string operation : {"", "extract ", "list ", "check ", "sfx ", "remove ", "mem "}) {
        std::string arguments = operation + ShellQuote(missing + ".zip");
        if (operation.empty() || operation == "extract ")
            arguments += " " + ShellQuote(dir / "out");
        else if (operation == "remove ")
            arguments += " a.txt";
        else if (operation == "mem ")
            arguments += " a.txt " + ShellQuote(dir / "a.out");
        expectMissing("arcx", arguments, missing + ".zip");
    }
    expectMissing("arcx", "pack " + ShellQuote(dir / "new.zip") + " " + ShellQuote(missing) + " a.txt", missing);
    EXPECT_FALSE(Exists(dir / "new.zip"));
    EXPECT_FALSE(Exists(dir / "out"));

    // The inputs that can be read are still reported.
    const CommandResult some = RunShell("cd " + ShellQuote(dir.path()) + " && " + ShellQuote(Tools.at("crclist")) +
                                        " present.txt nonexistent");
    EXPECT_EQ(some.exitCode, 1);
    EXPECT_NE(some.out.find("present.txt"), std::string::npos) << some.out;
    EXPECT_NE(some.out.find("Total  1 Files"), std::string::npos) << some.out;
    EXPECT_EQ(some.err, "crclist: cannot read nonexistent: No such file or directory\n");

    const CommandResult publish = RunShell(ShellQuote(Tools.at("fetchlet-publish")) + " " + ShellQuote(missing) + " " +
                                           ShellQuote(dir / "copy"));
    EXPECT_EQ(publish.exitCode, 1);
    EXPECT_NE(publish.err.find(missing), std::string::npos) << publish.err;
}

// The program answers --help and --version as the tools do, without a
// display; without one it says so in one line and exits with 1.
TEST(Tools, FetchletAnswersLikeTheToolsAndNeedsADisplay)
{
    const std::string noDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    const std::string fetchlet = ShellQuote(FETCHLET_PATH);
    const CommandResult help = RunShell(noDisplay + fetchlet + " --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: fetchlet ", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--version"), std::string::npos);
    EXPECT_EQ(help.err, "");
    const CommandResult version = RunShell(noDisplay + fetchlet + " --version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "fetchlet (Fetchlet) " FETCHLET_VERSION "\n");

    // render-windows goes offscreen without a display, but not when the one
    // it is given cannot be reached.
    TempDir work;
    for (const std::string& display : {std::string(), std::string("DISPLAY=:987 ")}) {
        for (const std::string program : {"fetchlet", "render-windows"}) {
            if (display.empty() && program == "render-windows")
                continue;
            SCOPED_TRACE(display + program);
            const std::string path = program == "fetchlet" ? fetchlet : ShellQuote(Tools.at(program));
            const std::string arguments = program == "fetchlet" ? "" : " " + ShellQuote(work / "out");
            const CommandResult r =
                RunShell("cd " + ShellQuote(work.path()) + " && " + noDisplay + display + path + arguments);
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_EQ(r.err.rfind(program + ": no display", 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(r.out, "");
        }
    }
}

// The text of a manual page's section (from ".SH TITLE" to the next ".SH"),
// with the escapes of "-" and of the fonts taken out.
std::string manualSection(const std::string& page, const std::string& title)
{
    const size_t begin = page.find(".SH " + title + "\n");
    if (begin == std::string::npos)
        return {};
    const size_t end = page.find("\n.SH ", begin + 1);
    std::string text = page.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
    return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// The options a text names: words that begin with "-" and a letter or digit.
std::set<std::string> optionsIn(const std::string& text, const std::regex& lines)
{
    std::set<std::string> options;
    const std::regex option(R"(--?[A-Za-z0-9][A-Za-z0-9-]*)");
    for (auto line = std::sregex_iterator(text.begin(), text.end(), lines); line != std::sregex_iterator(); ++line) {
        const std::string l = (*line)[1];
        for (auto o = std::sregex_iterator(l.begin(), l.end(), option); o != std::sregex_iterator(); ++o)
            options.insert(o->str());
    }
    return options;
}

// Every manual page names the options that its program's --help lists and
// no others, and tells the exit codes the programs give.
TEST(Tools, ManualPagesMatchThePrograms)
{
    std::map<std::string, std::string> programs = Tools;
    programs["fetchlet"] = FETCHLET_PATH;
    for (const auto& [name, path] : programs) {
        SCOPED_TRACE(name);
        const std::string page = ReadFile(MAN_DIR "/" + name + ".1");
        ASSERT_FALSE(page.empty());
        const std::string help = RunShell("env -u DISPLAY " + ShellQuote(path) + " --help").out;
        // The option lines of the help: two blanks, then the option.
        const std::set<std::string> helped = optionsIn(help, std::regex(R"((?:^|\n)  (-[^ \n]*(?: [^ \n]+)*?)(?:  |\n))"));
        // The options of the page: those its OPTIONS entries begin with.
        const std::string options = manualSection(page, "OPTIONS");
        const std::set<std::string> documented = optionsIn(options, std::regex(R"(\n\.B[IR]? (-[^\n]*))"));
        EXPECT_EQ(documented, helped) << options;
        EXPECT_TRUE(helped.count("--help") && helped.count("--version"));

        const std::string status = manualSection(page, "EXIT STATUS");
        ASSERT_FALSE(status.empty());
        if (name != "fetchlet") {
            EXPECT_NE(status.find("2 for bad"), std::string::npos) << status;
        }
        // The programs that read inputs end with 1 when one cannot be read;
        // the program itself when it has no display.
        if (name == "crclist" || name == "dlini" || name == "arcx" || name == "fetchlet-publish" || name == "fetchlet") {
            EXPECT_NE(status.find(" 1 "), std::string::npos) << status;
        }
    }
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
