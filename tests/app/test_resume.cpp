// The download never reports a failure as success, never destroys the last
// good file, and resumes: scripted servers that cut, reset, stall, keep the
// connection open and honour Range/If-Range; the part file on its own
// (TDownload); a full disk; https with a CA made by the openssl command.
#include "AppFixture.h"
#include "DownloadSupport.h"

#include "Commands.h"
#include "RangeFile.h"
#include "Servers.h"
#include "TlsPeers.h"
#include "app/Download.h"
#include "platform/FileNames.h"
#include "runtime/Application.h"

#include <QApplication>

#include <atomic>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using namespace downloadsupport;

TEST_F(AppFixture, ACutDownloadResumesByItselfToTheExactFile)
{
    testsupport::RangeFile file;
    file.content = contentOf(1'000'000, 'a');
    file.cutAt = 500'000;
    // The second GET holds after 100,000 bytes until the test has looked.
    ScriptedServer server([&](ScriptedConnection& c) {
        file.handler()(c);
        std::lock_guard<std::mutex> guard(file.lock);
        if (file.gets.size() == 1)
            file.holdAt = 100'000;
    });
    WriteFile("big.bin", "the last good file");
    WriteSettings(settings(server.url("/big.bin"), "", 0, false));
    Start();

    // One press: the cut attempt leaves the last good file, the next one
    // fetches only the rest, and the display counts the whole.
    QString held;
    std::string whileCut;
    when([&] { return form1->Label2->Caption().startsWith(QStringLiteral("585Kbyte")); },
         [&] {
             held = form1->Label2->Caption();
             whileCut = ReadFile("big.bin");
             file.released = true;
         });
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(whileCut, "the last good file");
    EXPECT_EQ(held, QStringLiteral("585Kbyte/976Kbyte(59%)"));
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_EQ(form1->Label2->Caption(), QStringLiteral("976Kbyte/976Kbyte(100%)"));
    EXPECT_EQ(ReadFile("big.bin"), file.content);
    EXPECT_FALSE(Exists(Dir() + "big.bin.part"));
    EXPECT_FALSE(Exists(Dir() + "big.bin.part.info"));
    ASSERT_EQ(file.gets.size(), 2u);
    EXPECT_EQ(testsupport::RangeFile::field(file.gets[0], "Range"), "");
    EXPECT_EQ(testsupport::RangeFile::field(file.gets[1], "Range"), "bytes=500000-");
    EXPECT_EQ(testsupport::RangeFile::field(file.gets[1], "If-Range"), "\"v1\"");
    EXPECT_EQ(file.sent[0] + file.sent[1], 1'000'000);
}

TEST_F(AppFixture, AFileThatChangesBetweenAttemptsIsFetchedWhole)
{
    testsupport::RangeFile file;
    file.content = contentOf(300'000, 'a');
    file.cutAt = 100'000;
    file.reset = true;
    // The publisher replaces the file right after the reset.
    ScriptedServer server([&](ScriptedConnection& c) {
        file.handler()(c);
        std::lock_guard<std::mutex> guard(file.lock);
        if (file.gets.size() == 1) {
            file.content = contentOf(300'000, 'A');
            file.etag = "\"v2\"";
        }
    });
    WriteSettings(settings(server.url("/c.bin"), "", 0, false));
    Start();
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(ReadFile("c.bin"), file.content); // never two versions spliced
    ASSERT_EQ(file.gets.size(), 2u);
    EXPECT_EQ(testsupport::RangeFile::field(file.gets[1], "If-Range"), "\"v1\"");
    EXPECT_EQ(file.sent[1], 300'000);
}

TEST_F(AppFixture, FailuresSayWhatHappenedAndLeaveNothingBehind)
{
    WriteSettings(settings("http://", "", 0, false));
    Start();
    // Closes without any reply.
    ScriptedServer silent([](ScriptedConnection& c) { c.ReadRequest(); });
    EXPECT_EQ(FailedDownload(silent.url("/a.bin")), "サーバーから応答がありません (127.0.0.1)");
    // The GET answered 200 with no status line at all after a good HEAD.
    ScriptedServer headOnly([](ScriptedConnection& c) {
        if (c.ReadRequest().rfind("HEAD ", 0) == 0)
            c.Send("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n");
    });
    EXPECT_EQ(FailedDownload(headOnly.url("/b.bin")), "サーバーから応答がありません (127.0.0.1)");
    // A reply that keeps the connection open after its body ends at once.
    ScriptedServer keepAlive([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody");
        c.WaitForPeerClose();
    });
    shown.clear();
    form2->URL_Edit->setText(QString::fromStdString(keepAlive.url("/k.bin")));
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_EQ(ReadFile("k.bin"), "body");
    // Stalls in the body: the inactivity limit ends it.
    form1->NMHTTP1->IdleTimeOut = 300;
    ScriptedServer stall([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nhalf");
        c.WaitForPeerClose();
    });
    const std::string stalled = FailedDownload(stall.url("/s.bin"));
    EXPECT_EQ(stalled.rfind("サーバー 127.0.0.1 からの応答が途絶えました (1 秒の間、何も届きませんでした。100 バイトのうち 4 バイトを", 0), 0u) << stalled;
    EXPECT_FALSE(Exists(Dir() + "s.bin"));
    // Without a validator it could never be resumed: not left behind.
    EXPECT_FALSE(Exists(Dir() + "s.bin.part"));
    // A part file that is a folder cannot be written.
    ::mkdir((Dir() + "d.bin.part").c_str(), 0755);
    const std::string folder = FailedDownload(keepAlive.url("/d.bin"));
    EXPECT_EQ(folder, "ファイル d.bin を " + Dir() + " に保存できません (同じ名前のフォルダーがあります)") << folder;
}

TEST_F(AppFixture, ExtractionIsPartOfTheOutcome)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    std::string zip = testsupport::ReadFile(makeZip(nginx.root()));
    // Damage the members' data, keep the directory readable.
    ASSERT_GT(zip.size(), 1000u);
    for (std::size_t i = 100; i < zip.size() / 2; ++i)
        zip[i] = static_cast<char>(zip[i] ^ 0x5A);
    testsupport::WriteFile(nginx.root() + "/broken.zip", zip);
    testsupport::WriteFile(nginx.root() + "/plain.xyz", "not an archive");
    WriteSettings(settings(nginx.url("/broken.zip"), "", 0, true));
    Start();
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_TRUE(shown[1].text.startsWith(QStringLiteral("解凍できませんでした: "))) << shown[1].text.toStdString();
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    EXPECT_NE(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_EQ(ReadFile("broken.zip"), zip); // the download itself stays

    // A type that cannot be determined: the standard error box, then the
    // Stopped display (no running timer).
    shown.clear();
    form2->URL_Edit->setText(QString::fromStdString(nginx.url("/plain.xyz")));
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(shown[0].text, QStringLiteral("書庫の形式を判別できません。"));
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    EXPECT_EQ(ReadFile("plain.xyz"), "not an archive");
}

TEST_F(AppFixture, AFullDiskIsSaidBeforeTheGetOrWhenAWriteFails)
{
    // A small tmpfs as the working folder.
    const Tmpfs tmpfs(dir_->path().toStdString(), "size=1m");
    if (!tmpfs.error().empty())
        GTEST_SKIP() << "no tmpfs can be mounted here: " << tmpfs.error();
    testsupport::RangeFile file;
    file.content = contentOf(4'000'000, 'a');
    ScriptedServer known(file.handler());
    // No length anywhere: found out by the write.
    ScriptedServer unknown([](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\n\r\n");
        if (request.rfind("GET ", 0) == 0)
            c.Send(std::string(3'000'000, 'z'));
    });
    WriteFile("big.bin", "old");
    WriteFile("u.bin", "old");
    WriteSettings(settings(known.url("/big.bin"), "", 0, false));
    Start();
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_TRUE(shown[1].text.startsWith(QStringLiteral("空き容量が足りません: あと "))) << shown[1].text.toStdString();
    EXPECT_TRUE(file.gets.empty()); // no GET was sent
    EXPECT_EQ(ReadFile("big.bin"), "old");

    shown.clear();
    form2->URL_Edit->setText(QString::fromStdString(unknown.url("/u.bin")));
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text.toStdString(),
              "ファイル u.bin を " + Dir() + " に保存できません (空き容量がありません)");
    EXPECT_EQ(ReadFile("u.bin"), "old");
}

TEST_F(AppFixture, HttpsDownloadChecksAndExtractsAndABadCertificateIsSaid)
{
    TestCA ca;
    ASSERT_TRUE(ca.ok());
    CaTrust trust(ca);
    TlsNginx good(ca.Issue("localhost", "DNS:localhost"));
    ASSERT_TRUE(good.ok()) << good.log();
    const std::string zip = makeZip(good.root());
    TlsNginx expired(ca.Issue("localhost", "DNS:localhost", "20200101000000Z", "20210101000000Z"));
    ASSERT_TRUE(expired.ok());
    testsupport::WriteFile(expired.root() + "/pack.zip", testsupport::ReadFile(zip));
    WriteSettings(settings(good.url("/pack.zip", "localhost"), crcOf(zip), 0));
    Start();
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_EQ(ReadFile("readme.txt"), "hello\r\n");

    RunShell("rm -f " + ShellQuote(Dir() + "pack.zip"));
    form1->Label1->SetCaption(QStringLiteral("ダウンロード状況"));
    shown.clear();
    form2->URL_Edit->setText(QString::fromStdString(expired.url("/pack.zip", "localhost")));
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text,
              QStringLiteral("サーバーの身元を確認できませんでした: 証明書を確認できません (証明書の有効期限が切れています)"));
    EXPECT_FALSE(Exists(Dir() + "pack.zip"));
    EXPECT_FALSE(Exists(Dir() + "pack.zip.part"));
}

// ---------------------------------------------------------------- TDownload

namespace {

struct Job {
    explicit Job(const TempDir& dir, const std::string& name = "f.bin") : download(http, dir.file(name))
    {
        http.OutputFileMode = true;
        http.Header = dir.file("DL.dat");
        http.TimeOut = 20000;
    }
    std::string Fetch(const std::string& url)
    {
        try {
            download.Prepare(url);
            return download.Fetch(url) ? "complete" : "reply " + std::to_string(http.ReplyNumber);
        } catch (const Exception& e) {
            return e.Message();
        }
    }
    TNMHTTP http;
    TDownload download;
};

} // namespace

TEST(Download, PartFilesAreResumedOnlyWhenTheyFit)
{
    TempDir dir;
    testsupport::RangeFile file;
    file.content = contentOf(50'000, 'a');
    ScriptedServer server(file.handler());
    const std::string url = server.url("/f.bin");
    Job job(dir);

    // A part without its info is not resumed: no validator, no range.
    WriteFile(dir.file("f.bin.part"), file.content.substr(0, 10'000));
    EXPECT_EQ(job.Fetch(url), "complete");
    EXPECT_EQ(testsupport::RangeFile::field(file.gets.back(), "Range"), "");
    EXPECT_EQ(ReadFile(dir.file("f.bin")), file.content);

    // A part of another address is not resumed either.
    WriteFile(dir.file("f.bin.part"), file.content.substr(0, 10'000));
    WriteFile(dir.file("f.bin.part.info"), "http://elsewhere/f.bin\n\"v1\"\n50000\n");
    EXPECT_EQ(job.Fetch(url), "complete");
    EXPECT_EQ(testsupport::RangeFile::field(file.gets.back(), "Range"), "");

    // A part longer than the file: 416, then a fresh start.
    ScriptedServer shorter([&](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        if (!testsupport::RangeFile::field(request, "Range").empty())
            c.Send("HTTP/1.0 416 Range Not Satisfiable\r\nContent-Range: bytes */5\r\n\r\n");
        else
            c.Send("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nETag: \"s\"\r\n\r\nshort");
    });
    WriteFile(dir.file("f.bin.part"), std::string(100, 'x'));
    WriteFile(dir.file("f.bin.part.info"), shorter.url("/f.bin") + "\n\"s\"\n100\n");
    EXPECT_EQ(job.Fetch(shorter.url("/f.bin")), "complete");
    EXPECT_EQ(ReadFile(dir.file("f.bin")), "short");

    // A 206 for a request without a range, and one for another range: the
    // part is never spliced.
    for (const std::string start : {"0", "7"}) {
        ScriptedServer odd([&](ScriptedConnection& c) {
            c.ReadRequest();
            c.Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + start + "-9/10\r\nContent-Length: " +
                   std::to_string(10 - std::stoi(start)) + "\r\n\r\n" + std::string(10 - std::stoi(start), 'p'));
        });
        WriteFile(dir.file("f.bin"), "good");
        WriteFile(dir.file("f.bin.part"), "12345");
        WriteFile(dir.file("f.bin.part.info"), odd.url("/f.bin") + "\n\"v\"\n10\n");
        EXPECT_EQ(job.Fetch(odd.url("/f.bin")), "Partial reply does not match the request") << start;
        EXPECT_EQ(ReadFile(dir.file("f.bin")), "good");
        EXPECT_FALSE(Exists(dir.file("f.bin.part"))) << start;
    }
    std::remove(dir.file("f.bin").c_str());
    ScriptedServer unasked([&](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-3/4\r\nContent-Length: 4\r\n\r\npart");
    });
    EXPECT_EQ(job.Fetch(unasked.url("/f.bin")), "Partial reply does not match the request");
    EXPECT_FALSE(Exists(dir.file("f.bin")));
}

TEST(Download, ALinkedPartIsNeverWrittenThroughAndErrorPagesAreNotKept)
{
    TempDir dir, outside;
    WriteFile(outside.file("victim"), "keep me");
    ASSERT_EQ(::symlink(outside.file("victim").c_str(), dir.file("f.bin.part").c_str()), 0);
    testsupport::RangeFile file;
    file.content = "fresh content";
    ScriptedServer server(file.handler());
    Job job(dir);
    EXPECT_EQ(job.Fetch(server.url("/f.bin")), "complete");
    EXPECT_EQ(ReadFile(outside.file("victim")), "keep me");
    EXPECT_EQ(ReadFile(dir.file("f.bin")), "fresh content");

    // An error reply leaves an earlier part (and its resume) as it was.
    WriteFile(dir.file("f.bin.part"), "earlier");
    WriteFile(dir.file("f.bin.part.info"), "http://127.0.0.1/f.bin\n\"v\"\n100\n");
    ScriptedServer broken(ScriptedServer::Reply("HTTP/1.0 503 Busy\r\nContent-Length: 9\r\n\r\nerrorpage"));
    EXPECT_EQ(job.Fetch(broken.url("/f.bin")), "reply 503");
    EXPECT_EQ(ReadFile(dir.file("f.bin.part")), "earlier");
    EXPECT_EQ(ReadFile(dir.file("f.bin")), "fresh content");
}
