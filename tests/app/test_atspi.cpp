// A whole download driven through the real AT-SPI bus, as a screen reader
// user drives it: the program runs on a virtual display with a session bus
// and at-spi2-core's accessibility bus of the test's own, finds that bus as
// on a desktop (through the session bus), and is driven by python3-pyatspi
// alone from the press of the download button to "終了" and Close.
#include "AppFixture.h"
#include "DownloadSupport.h"

#include "Atspi.h"
#include "Servers.h"
#include "platform/FileNames.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>

using testsupport::AtspiBus;
using testsupport::AtspiFindings;
using testsupport::NginxServer;
using testsupport::XvfbDisplay;
using namespace downloadsupport;

TEST_F(AppFixture, DownloadDrivenThroughTheAtspiBusAlone)
{
    XvfbDisplay display;
    ASSERT_TRUE(display.ok());
    AtspiBus bus(display.name());
    ASSERT_TRUE(bus.ok()) << bus.error();
    NginxServer nginx("limit_rate 200k;");
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WritePatternFile(nginx.root() + "/offer.bin", 700 * 1024);
    WriteSettings(settings(nginx.url("/offer.bin"), crcOf(nginx.root() + "/offer.bin"), 700, false));

    // The program as a desktop starts it: its own display and session, no
    // setting that forces accessibility on.
    QProcess program;
    program.setWorkingDirectory(QString::fromStdString(Dir()));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "AT_SPI_BUS_ADDRESS", "QT_ACCESSIBILITY"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display.name()));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(bus.SessionAddress()));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(bus.Folder()));
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    // Whole allocation stacks, by which the suppressions know the bridge's
    // D-Bus connection (kept to the end of the process) for Qt's.
    if (env.contains(QStringLiteral("ASAN_OPTIONS")))
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":fast_unwind_on_malloc=0"));
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QString::fromStdString(Dir() + "program.log"));
    program.setStandardErrorFile(QString::fromStdString(Dir() + "program.log"), QIODevice::Append);
    program.start(QStringLiteral(FETCHLET_PATH), {});
    ASSERT_TRUE(program.waitForStarted(30000));

    const AtspiFindings found = DriveThroughAtspi(display, bus, "Fetchlet", "DownLoad", "終了");
    const std::string log = found.output + found.errors + ReadFile("program.log");
    EXPECT_EQ(found.exitCode, 0) << log;
    EXPECT_EQ(found.error, "") << log;
    EXPECT_EQ(found.frame, "Fetchlet");
    EXPECT_EQ(found.pressed, "DownLoad");
    // The gauge was read as it moved: values between 0 and 100, rising, 100
    // at the end.
    size_t between = 0;
    for (size_t i = 0; i < found.values.size(); ++i) {
        between += found.values[i] > 0 && found.values[i] < 100 ? 1 : 0;
        if (i > 0) {
            EXPECT_LE(found.values[i - 1], found.values[i]) << log;
        }
    }
    EXPECT_GE(between, 2u) << log;
    ASSERT_FALSE(found.values.empty()) << log;
    EXPECT_EQ(found.values.back(), 100) << log;
    // "終了" read from the status line, heard as it changed; only the Close
    // button shows at the end (the download button lies under it).
    EXPECT_EQ(found.status, "終了");
    EXPECT_EQ(found.Heard(), (std::vector<std::string>{"受信中", "終了"})) << log;
    EXPECT_EQ(found.showing, std::vector<std::string>{"Close"}) << log;
    EXPECT_TRUE(found.closed) << log;

    // Close, pressed through the bus, ends the program; the file is there.
    EXPECT_TRUE(program.waitForFinished(30000)) << log;
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << log;
    EXPECT_EQ(program.exitCode(), 0) << log;
    EXPECT_EQ(testsupport::ReadFile(Dir() + "offer.bin"), testsupport::ReadFile(nginx.root() + "/offer.bin"));

    const AtspiFindings::Rate rate = found.WhileReceiving("終了");
    std::printf("AT-SPI events while the body came in: %zu in %.1f s (%.1f a second), at most %zu in one "
                "second; %zu between the press and the first progress\n",
                rate.count, rate.seconds, rate.seconds > 0 ? rate.count / rate.seconds : 0.0, rate.mostInASecond,
                rate.beforeProgress);
    // Counted as they arrive, which a busy machine bunches: the mean over
    // the transfer (the program's own spacing is checked in process).
    EXPECT_GE(rate.seconds, 1.0) << log;
    EXPECT_LE(rate.count, 4 * rate.seconds) << log;
}
