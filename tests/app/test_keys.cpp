// The keyboard around a download: the focus follows the Close/Cancel button
// that covers the download button, in the program's own windows (offscreen)
// and in the real program on an X display with real key presses.
#include "AppFixture.h"
#include "DownloadSupport.h"

#include "Commands.h"
#include "Servers.h"
#include "app/SettingsFile.h"
#include "runtime/Application.h"

#include <QApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <thread>

using testsupport::NginxServer;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

using downloadsupport::when;

namespace {

std::vector<std::string> settingsFor(const std::string& url)
{
    return {"なし", "DownLoad", "1722267", "12713468", "Fetchlet 鍵", "", url, "false", "", "false", "", "0",
            "16777215", "6462440", "タイプＡ"};
}

void activate(QWidget& window)
{
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

// Sends one key event to whatever has the keyboard focus now.
void sendToFocus(QEvent::Type type, int key, bool autoRepeat = false)
{
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent event(type, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString(), autoRepeat);
    QApplication::sendEvent(target, &event);
}

} // namespace

TEST_F(AppFixture, FinishedDownloadGivesTheCloseButtonTheKeys)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WriteFile(nginx.root() + "/f.txt", "payload");
    WriteSettings(settingsFor(nginx.url("/f.txt")));
    Start();
    ASSERT_NO_FATAL_FAILURE(activate(*form1));
    form1->CuteButton1->setFocus();
    ASSERT_TRUE(form1->CuteButton1->hasFocus());

    // Return on the download button downloads; the Close button then has
    // the focus and shows it.
    QTest::keyClick(form1->CuteButton1, Qt::Key_Return);
    ASSERT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_TRUE(form1->CuteButton2->hasFocus());
    EXPECT_EQ(form1->CuteButton2->BevelOuter(), bvRaised);
    EXPECT_EQ(ReadFile("f.txt"), "payload");

    // The covered download button takes no focus and no keys.
    form1->CuteButton1->setFocus();
    EXPECT_TRUE(form1->CuteButton2->hasFocus());
    std::remove((Dir() + "f.txt").c_str());
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
        QTest::keyClick(form1->CuteButton1, key);
    QApplication::processEvents();
    EXPECT_EQ(ReadFile("f.txt"), "") << "fetched again";
    EXPECT_FALSE(Application().Terminated());
    EXPECT_TRUE(shown.empty());

    // Space on the Close button ends the program (on its release).
    sendToFocus(QEvent::KeyPress, Qt::Key_Space);
    EXPECT_FALSE(Application().Terminated());
    sendToFocus(QEvent::KeyRelease, Qt::Key_Space);
    EXPECT_TRUE(Application().Terminated());
}

TEST_F(AppFixture, CancelByKeyGivesTheDownloadButtonTheFocusBack)
{
    // The body never comes: the transfer runs until it is cancelled.
    ScriptedServer server([](ScriptedConnection& c) {
        c.ReadRequest();
        if (c.request.rfind("HEAD", 0) == 0) {
            c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n");
            return;
        }
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes");
        c.WaitForPeerClose();
    });
    WriteSettings(settingsFor(server.url("/slow.bin")));
    Start();
    ASSERT_NO_FATAL_FAILURE(activate(*form1));
    form1->CuteButton1->setFocus();

    bool focusedDuringTransfer = false;
    QString afterRepeats;
    when([&] { return form1->NMHTTP1->BytesRecvd > 0; },
         [&] {
             focusedDuringTransfer = form1->CuteButton2->hasFocus();
             // The repeats of the Return that started the download are not
             // the Cancel button's.
             sendToFocus(QEvent::KeyPress, Qt::Key_Return, true);
             sendToFocus(QEvent::KeyPress, Qt::Key_Return, true);
             sendToFocus(QEvent::KeyRelease, Qt::Key_Return);
             afterRepeats = form1->Label1->Caption();
             // A new press of Return cancels.
             sendToFocus(QEvent::KeyPress, Qt::Key_Return);
             sendToFocus(QEvent::KeyRelease, Qt::Key_Return);
         });
    sendToFocus(QEvent::KeyPress, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_TRUE(focusedDuringTransfer);
    EXPECT_EQ(afterRepeats, QStringLiteral("受信中"));
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("中断しました"));
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    EXPECT_TRUE(form1->CuteButton1->hasFocus());
    EXPECT_EQ(form1->CuteButton1->focusPolicy(), Qt::StrongFocus);
}

// The real program on an X display: after a finished download, Return or
// Space (real key presses) ends it, and nothing is fetched again.
TEST(Keys, ReturnAndSpaceAfterAFinishedDownloadCloseTheProgram)
{
    testsupport::XvfbDisplay display;
    ASSERT_TRUE(display.ok());
    // The GET ends when the server closes; the finished display follows at
    // once, before the program waits for anything else.
    ScriptedServer server([](ScriptedConnection& c) {
        c.ReadRequest();
        const bool head = c.request.rfind("HEAD", 0) == 0;
        c.Send(std::string("HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\n") + (head ? "" : "payload"));
    });
    for (const char* key : {"Return", "space"}) {
        SCOPED_TRACE(key);
        testsupport::TempDir work;
        TStringList lines;
        for (const std::string& l : settingsFor(server.url("/f.txt")))
            lines.Add(l);
        testsupport::WriteFile(work / "DL.ini", EncodeSettings(lines));
        const int before = server.Connections();

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("QT_SCALE_FACTOR"));
        env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display.name()));
        const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
        if (!asan.isEmpty())
            env.insert(QStringLiteral("ASAN_OPTIONS"), asan + QStringLiteral(":fast_unwind_on_malloc=0"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(QString::fromStdString(work.path()));
        program.start(QStringLiteral(FETCHLET_PATH), {});
        ASSERT_TRUE(program.waitForStarted());
        struct Kill {
            QProcess& p;
            ~Kill()
            {
                if (p.state() != QProcess::NotRunning) {
                    p.kill();
                    p.waitForFinished();
                }
            }
        } kill{program};

        const std::string window = display.WaitForWindow("Fetchlet 鍵");
        ASSERT_FALSE(window.empty());
        // The download button: client position 232, 216, 107 x 25.
        ASSERT_TRUE(display.Click(window, 285, 228));
        ASSERT_TRUE(server.WaitForConnections(before + 2));
        ASSERT_TRUE(testsupport::RunShell(display.Env() + "xdotool windowfocus --sync " + window + " key " + key)
                        .exitCode == 0);
        ASSERT_TRUE(program.waitForFinished(30000)) << "the program did not close";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        EXPECT_EQ(server.Connections(), before + 2) << "fetched again";
        EXPECT_EQ(testsupport::ReadFile(work / "f.txt"), "payload");
    }
}
