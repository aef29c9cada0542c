// The download, end to end, against a real nginx and scripted servers, with
// the real archiver libraries.
#include "AppFixture.h"
#include "DownloadSupport.h"

#include "Servers.h"
#include "app/SettingsFile.h"
#include "integrity/CrcListComp.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <functional>
#include <unistd.h>
#include <mutex>

using testsupport::NginxServer;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

using namespace downloadsupport;

TEST_F(AppFixture, ProgressTextFollowsExtendedPrecision)
{
    int p = -1;
    EXPECT_EQ(TForm1::ProgressText(53 * 1024, 100, &p), QStringLiteral("53Kbyte/100Kbyte(52%)"));
    EXPECT_EQ(p, 52);
    EXPECT_EQ(TForm1::ProgressText(59 * 1024 + 1023, 100, &p), QStringLiteral("59Kbyte/100Kbyte(58%)"));
    EXPECT_EQ(TForm1::ProgressText(29 * 1024, 100, &p), QStringLiteral("29Kbyte/100Kbyte(29%)"));
    EXPECT_EQ(p, 29);
    EXPECT_EQ(TForm1::ProgressText(60 * 1024, 120, &p), QStringLiteral("60Kbyte/120Kbyte(50%)"));
    EXPECT_EQ(TForm1::ProgressText(1000, 120, &p), QStringLiteral("0Kbyte/120Kbyte(0%)"));
    EXPECT_EQ(TForm1::ProgressText(300 * 1024, 120, &p), QStringLiteral("300Kbyte/120Kbyte(250%)"));
    EXPECT_EQ(TForm1::ProgressText(61440, 0, &p), QStringLiteral("60kbyte"));
    // 3 GiB of a 4 GiB file.
    EXPECT_EQ(TForm1::ProgressText(3LL << 30, 4 << 20, &p), QStringLiteral("3145728Kbyte/4194304Kbyte(75%)"));

    EXPECT_EQ(TForm1::LocalFileName("http://h/dir/file.lzh"), "file.lzh");
    EXPECT_EQ(TForm1::LocalFileName("http://h/dir/"), "");
    EXPECT_EQ(TForm1::LocalFileName("http://h/get?f=a/b.zip"), "get");
    EXPECT_EQ(TForm1::LocalFileName("http://h/d/app.zip?token=abc#top"), "app.zip");
    EXPECT_EQ(TForm1::LocalFileName("http://h/x/a b/c.zip"), "c.zip");
    EXPECT_EQ(TForm1::LocalFileName("http://h/d/my%20app.zip"), "my app.zip");
    EXPECT_EQ(TForm1::LocalFileName("http://h/d/%E3%82%A2.zip"), "ア.zip");
    EXPECT_EQ(TForm1::LocalFileName("archive.zip"), "archive.zip");
    // Names that cannot be the file: said, whatever the case.
    for (const char* bad : {"", ".", "..", "a/b", "DL.ini", "dl.INI", "DL.dat", "UNLHA32.DLL", "tar32.dll",
                            "fetchlet", ".fetchlet-staging-x"})
        EXPECT_FALSE(TForm1::NameProblem(bad).empty()) << bad;
    EXPECT_TRUE(TForm1::NameProblem("DL.ini.zip").empty());
}

TEST_F(AppFixture, AddressesWithBlanksQueriesAndJapaneseNamesAreSavedUnderTheirNames)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    const std::string zip = makeZip(nginx.root());
    QDir().mkpath(QString::fromStdString(nginx.root() + "/配布 物"));
    ASSERT_EQ(::rename(zip.c_str(), (nginx.root() + "/配布 物/ア pack.zip").c_str()), 0);
    testsupport::TempDir outside;
    testsupport::WriteFile(outside.file("victim"), "keep me");
    // A link planted where the resume information is written first.
    ASSERT_EQ(::symlink(outside.file("victim").c_str(), (Dir() + "ア pack.zip.part.info.new").c_str()), 0);
    WriteSettings(settings(nginx.url("/配布 物/ア pack.zip?v=2#top"), "", 0, true));
    Start();
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_TRUE(FileExists(Dir() + "ア pack.zip"));
    EXPECT_EQ(ReadFile("readme.txt"), "hello\r\n");
    EXPECT_EQ(testsupport::ReadFile(outside.file("victim")), "keep me");

    // The same, percent-encoded.
    shown.clear();
    std::remove((Dir() + "ア pack.zip").c_str());
    form2->URL_Edit->setText(QString::fromStdString(nginx.url("/%E9%85%8D%E5%B8%83%20%E7%89%A9/%E3%82%A2%20pack.zip")));
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_TRUE(FileExists(Dir() + "ア pack.zip"));

    // An address that names the settings file: refused before any request.
    shown.clear();
    const std::string settingsBefore = ReadFile("DL.ini");
    ScriptedServer counted(ScriptedServer::Reply("HTTP/1.0 200 OK\r\n\r\nevil"));
    form2->URL_Edit->setText(QString::fromStdString(counted.url("/x/DL.ini")));
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("ファイル名 DL.ini はこのプログラム自身のファイルと同じなので、ダウンロードできません"));
    EXPECT_EQ(ReadFile("DL.ini"), settingsBefore);
    EXPECT_EQ(counted.Connections(), 0);
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了")); // the display as it was
}

TEST_F(AppFixture, DownloadFromNginxChecksAndExtracts)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    const std::string zip = makeZip(nginx.root());
    const int sizeKB = static_cast<int>(FileSizeOf(zip) / 1024);
    WriteSettings(settings(nginx.url("/pack.zip"), crcOf(zip), sizeKB));
    Start();
    form1->show();
    EXPECT_EQ(form1->Label2->Caption(), QStringLiteral("ファイル容量は") + QString::number(sizeKB) + QStringLiteral("Kbyteです"));

    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_EQ(form1->Label2->Caption(),
              QString::number(sizeKB) + QStringLiteral("Kbyte/") + QString::number(sizeKB) + QStringLiteral("Kbyte(100%)"));
    EXPECT_EQ(form1->Gauge1->Progress(), 100);
    EXPECT_TRUE(form1->CuteButton2->isVisible());
    EXPECT_EQ(form1->CuteButton2->Caption(), QStringLiteral("Close"));
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_TRUE(form1->DL_OK);
    EXPECT_EQ(testsupport::ReadFile(Dir() + "pack.zip"), testsupport::ReadFile(zip));
    EXPECT_EQ(testsupport::ReadFile(Dir() + "readme.txt"), "hello\r\n");
    EXPECT_EQ(testsupport::ReadFile(Dir() + "docs/data.bin"), testsupport::ReadFile(nginx.root() + "/src/docs/data.bin"));
    // The header of the GET stays behind; the HEAD's was read and deleted.
    EXPECT_NE(ReadFile("DL.dat").find("Content-Length"), std::string::npos);
    EXPECT_EQ(form1->ListBox1[0].substr(0, 9), "HTTP/1.1 ");
    EXPECT_FALSE(form1->ArchiveFile1); // released after the extraction

    // In the finished display, the Close button ends the program.
    form1->CuteButton2->Click();
    EXPECT_TRUE(Application().Terminated());
}

TEST_F(AppFixture, SizeComesFromTheHeaderWhenNotConfigured)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WritePatternFile(nginx.root() + "/big.bin", 123456);
    WriteSettings(settings(nginx.url("/big.bin"), "", 0, false));
    Start();
    EXPECT_TRUE(form1->Size_Unknown);
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(form1->Size_KB, 120);
    EXPECT_EQ(form1->Label2->Caption(), QStringLiteral("120Kbyte/120Kbyte(100%)"));
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
}

TEST_F(AppFixture, HeaderNamesAreTakenAsTheyStand)
{
    // Lower-case names give no size; a missing blank shifts the value.
    ScriptedServer lower(ScriptedServer::Reply("HTTP/1.0 200 OK\r\ncontent-length: 2048\r\n\r\n" + std::string(2048, 'x')));
    WriteSettings(settings(lower.url("/f.bin"), "", 0, false));
    Start();
    form1->CuteButton1->Click();
    EXPECT_EQ(form1->Size_KB, 0);
    EXPECT_EQ(form1->Label2->Caption(), QStringLiteral("0Kbyte/0Kbyte(100%)"));

    ScriptedServer tight(ScriptedServer::Reply("HTTP/1.0 200 OK\r\nContent-Length:2048\r\n\r\n" + std::string(2048, 'x')));
    form2->URL_Edit->setText(QString::fromStdString(tight.url("/g.bin")));
    form1->CuteButton1->Click();
    EXPECT_EQ(form1->Size_KB, 0); // "048" bytes
    EXPECT_EQ(testsupport::ReadFile(Dir() + "g.bin").size(), 2048u);

    // A length that is not a number is a reply the download cannot trust:
    // the Stopped display with a message, nothing kept.
    ScriptedServer bad(ScriptedServer::Reply("HTTP/1.0 200 OK\r\nContent-Length: lots\r\n\r\nbody"));
    form2->URL_Edit->setText(QString::fromStdString(bad.url("/h.bin")));
    shown.clear();
    Guarded([&] { form1->CuteButton1Click(form1->CuteButton1); });
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("サーバーの応答が正しくありません (ファイルの長さの示し方が正しくありません)"));
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("失敗しました"));
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_FALSE(testsupport::Exists(Dir() + "h.bin"));
}

TEST_F(AppFixture, AddressAndPasswordChecks)
{
    WriteSettings(settings("http://", "", 0, false, true));
    Start();
    form1->CuteButton1->Click();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("ダウンロードするファイルが指定されていません"));

    ScriptedServer server(ScriptedServer::Reply("HTTP/1.0 200 OK\r\n\r\nok"));
    form2->URL_Edit->setText(QString::fromStdString(server.url("/p.txt")));
    // Cancelled input box, then a wrong password: both refused.
    shown.clear();
    DialogAnswer cancel;
    cancel.accepted = false;
    answers.push_back(cancel);
    form1->CuteButton1->Click();
    DialogAnswer wrong;
    wrong.accepted = true;
    wrong.text = QStringLiteral("Wren");
    answers.push_back(wrong);
    form1->CuteButton1->Click();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"input", "beep", "message", "input", "beep", "message"}));
    EXPECT_EQ(shown[0].caption, QStringLiteral("PASSWORD"));
    EXPECT_EQ(shown[0].text, QStringLiteral("パスワードを入力してください"));
    EXPECT_TRUE(shown[0].masked) << "the end user's password is typed unseen";
    EXPECT_EQ(shown[2].text, QStringLiteral("パスワードが違います"));
    EXPECT_EQ(server.Connections(), 0);

    // The right one, then never again in this run.
    shown.clear();
    DialogAnswer right;
    right.accepted = true;
    right.text = QStringLiteral("wren");
    answers.push_back(right);
    form1->CuteButton1->Click();
    form1->CuteButton1->Click();
    EXPECT_EQ(Kinds(), std::vector<std::string>{"input"});
    EXPECT_TRUE(form1->Pass_OK);
    EXPECT_EQ(testsupport::ReadFile(Dir() + "p.txt"), "ok");
}

TEST_F(AppFixture, CancelDuringTheBodyKeepsThePartialFile)
{
    NginxServer nginx("limit_rate 64k;");
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    testsupport::WritePatternFile(nginx.root() + "/slow.bin", 4 << 20);
    WriteSettings(settings(nginx.url("/slow.bin"), "", 4096, true));
    // The publisher layout, so that F1 would open the settings window.
    testsupport::WriteFile(Dir() + "マニュアル.html", "");
    QDir(QString::fromStdString(Dir())).mkdir(QStringLiteral("Data"));
    QDir(QString::fromStdString(Dir())).mkdir(QStringLiteral("DSkin"));
    Start();
    bool sawProgress = false;
    bool settingsShown = false;
    QString progressText;
    when([&] { return form1->NMHTTP1->BytesRecvd > 70000 && !form1->Label2->Caption().startsWith(QStringLiteral("ファイル")); },
         [&] {
             sawProgress = form1->Gauge1->Progress() >= 1;
             progressText = form1->Label2->Caption();
             // F1 is refused during a transfer, even in the publisher layout.
             QTimer::singleShot(0, form1.get(), [&] {
                 if (QApplication::activeModalWidget() == form2.get()) {
                     settingsShown = true;
                     form2->close();
                 }
             });
             QTest::keyClick(form1.get(), Qt::Key_F1);
             form1->CuteButton2->Click();
         });
    form1->CuteButton1->Click();
    QApplication::processEvents();
    EXPECT_TRUE(sawProgress);
    EXPECT_FALSE(settingsShown);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(progressText.endsWith(QStringLiteral("%)"))) << progressText.toStdString();
    EXPECT_EQ(Kinds(), std::vector<std::string>{"beep"});
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("中断しました"));
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    EXPECT_TRUE(form1->CuteButton1->isVisible());
    EXPECT_EQ(form1->CuteButton1->Caption(), QStringLiteral("DownLoad"));
    EXPECT_FALSE(form1->Timer1->isActive());
    // What arrived waits in the part file; no file of the name is made.
    const auto partial = FileSizeOf(Dir() + "slow.bin.part");
    EXPECT_GT(partial, 0);
    EXPECT_LT(partial, 4 << 20);
    EXPECT_FALSE(testsupport::Exists(Dir() + "slow.bin"));
}

TEST_F(AppFixture, NotFoundEndsTheProgram)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    WriteSettings(settings(nginx.url("/missing.zip"), "", 0));
    Start();
    form1->CuteButton1->Click();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("ファイルが存在しません"));
    EXPECT_TRUE(Application().Terminated());
}

TEST_F(AppFixture, NotFoundToTheGetEndsTheProgramToo)
{
    ScriptedServer server([](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        if (request.rfind("HEAD ", 0) == 0)
            c.Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n");
        else
            c.Send("HTTP/1.0 404 Not Found\r\n\r\nnot here");
    });
    WriteSettings(settings(server.url("/x.zip"), "", 0));
    Start();
    form1->CuteButton1->Click();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("ファイルが存在しません"));
    EXPECT_TRUE(Application().Terminated());
}

TEST_F(AppFixture, NotFoundEndsTheProgramEvenWhenTheConnectionBreaks)
{
    ScriptedServer server([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 404 Not Found\r\n\r\npart of a page");
        c.ResetOnClose();
    });
    WriteSettings(settings(server.url("/gone.zip"), "", 0));
    Start();
    form1->CuteButton1->Click();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("ファイルが存在しません"));
    EXPECT_TRUE(Application().Terminated());
}

TEST_F(AppFixture, ServerErrorToTheGetStopsTheDownload)
{
    ScriptedServer server(ScriptedServer::Reply("HTTP/1.0 500 Internal Server Error\r\n\r\nbroken"));
    WriteSettings(settings(server.url("/y.zip"), "ABCD", 0));
    Start();
    form1->CuteButton1->Click();
    EXPECT_EQ(Kinds(), std::vector<std::string>{"message"});
    EXPECT_EQ(shown[0].text, QStringLiteral("error\nサーバーの応答: 500 サーバー内部のエラーです"));
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("失敗しました"));
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_FALSE(form1->DL_OK);
    // The error page is kept nowhere.
    EXPECT_FALSE(testsupport::Exists(Dir() + "y.zip"));
    EXPECT_FALSE(testsupport::Exists(Dir() + "y.zip.part"));
    EXPECT_FALSE(Application().Terminated());
}

TEST_F(AppFixture, RefusedConnectionSaysSo)
{
    int port;
    {
        ScriptedServer closed(ScriptedServer::Reply(""));
        port = closed.port();
    }
    WriteSettings(settings("http://127.0.0.1:" + std::to_string(port) + "/z.zip", "", 0));
    Start();
    form1->CuteButton1->Click();
    // Said from the failure itself, not from the "would block" that the
    // connect left as the last error.
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QString::fromStdString("サーバー 127.0.0.1 に接続を拒否されました (ポート " + std::to_string(port) + " で受け付けていません)"));
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("失敗しました"));
}

TEST_F(AppFixture, EndlessHeaderStopsTheDownload)
{
    // Short header lines without end, to every request; what each request
    // asked for is noted before anything is sent back.
    std::mutex lock;
    std::vector<std::string> requests;
    ScriptedServer server([&](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        {
            std::lock_guard<std::mutex> guard(lock);
            requests.push_back(request.substr(0, request.find(' ')));
        }
        std::string block = "HTTP/1.0 200 OK\r\n";
        for (int i = 0; i < 1024; ++i)
            block += "X-Filler: " + std::string(20, 'a') + "\r\n";
        while (c.Send(block))
            block.erase(0, block.find("X-Filler"));
    });
    WriteSettings(settings(server.url("/e.zip"), "", 0));
    Start();
    form1->CuteButton1->Click();
    EXPECT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, QStringLiteral("サーバーの応答が正しくありません (応答のヘッダーが長すぎます)"));
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("失敗しました"));
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    EXPECT_TRUE(form1->CuteButton1->isVisible());
    EXPECT_EQ(form1->CuteButton1->Caption(), QStringLiteral("DownLoad"));
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_FALSE(form1->DL_OK);
    EXPECT_FALSE(Application().Terminated());
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(requests, std::vector<std::string>{"HEAD"});
    }
    // The header capture stays as far as it went.
    const auto size = FileSizeOf(Dir() + "DL.dat");
    EXPECT_GT(size, 256 * 1024);
    EXPECT_LE(size, 256 * 1024 + 32);
    EXPECT_TRUE(server.WaitForConnections(1)); // the program closed the connection
}
