// A download finishes by itself on a bad line: scripted servers that reset
// at random places, answer 503 with Retry-After, serve other bytes or are
// down, and a real nginx as the good mirror; one press each.
#include "AppFixture.h"
#include "DownloadSupport.h"

#include "Commands.h"
#include "RangeFile.h"
#include "Servers.h"
#include "app/Download.h"

#include <QElapsedTimer>

#include <algorithm>
#include <random>

using namespace testsupport;
using namespace downloadsupport;

namespace {

std::int64_t sum(const std::vector<std::int64_t>& values)
{
    std::int64_t total = 0;
    for (std::int64_t v : values)
        total += v;
    return total;
}

} // namespace

TEST_F(AppFixture, ResetsAtRandomPlacesEndInTheExactFileFromOnePress)
{
    testsupport::RangeFile file;
    file.content = contentOf(8'000'000, 'r');
    std::mt19937 random(29);
    int resets = 0;
    // Fifteen GETs are reset somewhere in what they would send.
    ScriptedServer server([&](ScriptedConnection& c) {
        {
            std::lock_guard<std::mutex> guard(file.lock);
            if (resets < 15) {
                file.cutAt = 20'000 + static_cast<std::int64_t>(random() % 400'000);
                file.reset = true;
            }
        }
        const std::size_t before = file.gets.size();
        file.handler()(c);
        std::lock_guard<std::mutex> guard(file.lock);
        if (file.gets.size() > before && resets < 15)
            ++resets;
    });
    WriteFile("flaky.bin", "the last good file");
    WriteSettings(settings(server.url("/flaky.bin"), "", 0, false));
    Start();
    form1->RetryWait = 250; // long enough for the display to be seen waiting
    // The Kbyte text counts the whole file across the attempts, waits
    // included: it never goes back.
    std::vector<long long> shownKbytes;
    auto* watch = new QTimer(form1.get());
    QObject::connect(watch, &QTimer::timeout, [&] {
        const QString text = form1->Label2->Caption();
        const int unit = text.indexOf(QStringLiteral("byte"), 0, Qt::CaseInsensitive);
        if (unit > 1)
            shownKbytes.push_back(text.left(unit - 1).toLongLong());
    });
    watch->start(2);
    form1->CuteButton1->Click();
    watch->stop();
    EXPECT_GT(shownKbytes.size(), 3u);
    EXPECT_TRUE(std::is_sorted(shownKbytes.begin(), shownKbytes.end()));
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_TRUE(ReadFile("flaky.bin") == file.content);
    EXPECT_EQ(resets, 15);
    EXPECT_EQ(file.gets.size(), 16u);
    // Each attempt resumes where the last one's part ends: the server sends
    // the file about once (what a reset loses in the sockets on the way is
    // all it sends again).
    EXPECT_LE(sum(file.sent), 8'000'000 + 15 * 4'000'000) << sum(file.sent);
    for (std::size_t i = 1; i < file.gets.size(); ++i)
        EXPECT_FALSE(RangeFile::field(file.gets[i], "Range").empty()) << i;
}

TEST_F(AppFixture, RetryAfterIsWaitedOutAndCancelEndsAWaitAtOnce)
{
    std::atomic<int> requests{0};
    ScriptedServer busy([&](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        if (request.rfind("GET ", 0) == 0 && requests++ == 0)
            c.Send("HTTP/1.0 503 Service Unavailable\r\nRetry-After: 1\r\nContent-Length: 4\r\n\r\nbusy");
        else
            c.Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nfile");
    });
    WriteSettings(settings(busy.url("/a.bin"), "", 0, false));
    Start();
    QStringList statuses;
    auto* watch = new QTimer(form1.get());
    QObject::connect(watch, &QTimer::timeout, [&] {
        if (statuses.isEmpty() || statuses.last() != form1->Label1->Caption())
            statuses << form1->Label1->Caption();
    });
    watch->start(20);
    QElapsedTimer clock;
    clock.start();
    form1->CuteButton1->Click();
    const qint64 waited = clock.elapsed();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(ReadFile("a.bin"), "file");
    EXPECT_GE(waited, 1000); // no sooner
    EXPECT_TRUE(statuses.contains(QStringLiteral("1 秒後にもう一度試します"))) << statuses.join(QLatin1Char('|')).toStdString();

    // A long Retry-After: Cancel ends the wait at once, and nothing more is
    // asked of the server.
    requests = 0;
    ScriptedServer later(ScriptedServer::Reply("HTTP/1.0 503 Service Unavailable\r\nRetry-After: 600\r\n\r\n"));
    form2->URL_Edit->setText(QString::fromStdString(later.url("/b.bin")));
    when([&] { return form1->Label1->Caption().endsWith(QStringLiteral("秒後にもう一度試します")); },
         [&] {
             EXPECT_TRUE(form1->Label1->Caption().startsWith(QStringLiteral("600 ")) ||
                         form1->Label1->Caption().startsWith(QStringLiteral("599 ")));
             form1->CuteButton2->Click();
         });
    clock.restart();
    form1->CuteButton1->Click();
    EXPECT_LT(clock.elapsed(), 60'000);
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("中断しました"));
    const int connections = later.Connections();
    EXPECT_EQ(connections, 2); // the HEAD and the GET of the one attempt
    EXPECT_FALSE(form1->Timer1->isActive());
}

TEST_F(AppFixture, ADownServerIsGivenFiveAttemptsAndNonTransientRepliesNone)
{
    // Accepts and closes without a word, every time.
    ScriptedServer mute([](ScriptedConnection& c) { c.ReadRequest(); });
    WriteSettings(settings(mute.url("/m.bin"), "", 0, false));
    Start();
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("サーバーから応答がありません (127.0.0.1)"));
    EXPECT_TRUE(mute.WaitForConnections(5));
    EXPECT_EQ(mute.Connections(), 5);
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("失敗しました"));

    // A 403 is final: one attempt, the system's "error" with the reply.
    shown.clear();
    std::atomic<int> gets{0};
    ScriptedServer forbidden([&](ScriptedConnection& c) {
        if (c.ReadRequest().rfind("GET ", 0) == 0)
            ++gets;
        c.Send("HTTP/1.0 403 Forbidden\r\n\r\n");
    });
    form2->URL_Edit->setText(QString::fromStdString(forbidden.url("/f.bin")));
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"message"});
    EXPECT_EQ(shown[0].text, QStringLiteral("error\nサーバーの応答: 403 アクセスが禁止されています"));
    EXPECT_EQ(gets.load(), 1);
}

TEST_F(AppFixture, MirrorsAreTriedInOrderAndABadOnesBytesNeverReachTheFile)
{
    NginxServer good;
    ASSERT_TRUE(good.ok()) << good.log();
    const std::string content = contentOf(300'000, 'g');
    testsupport::WriteFile(good.root() + "/pack.bin", content);
    // The configured address has no such file; the first mirror serves
    // other bytes; the second is down; nginx has the publisher's file.
    ScriptedServer missing(ScriptedServer::Reply("HTTP/1.0 404 Not Found\r\n\r\n"));
    std::atomic<int> otherGets{0};
    ScriptedServer other([&](ScriptedConnection& c) {
        const bool get = c.ReadRequest().rfind("GET ", 0) == 0;
        otherGets += get;
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 300000\r\n\r\n" + (get ? std::string(300'000, 'X') : std::string()));
    });
    int downPort;
    {
        ScriptedServer gone(ScriptedServer::Reply(""));
        downPort = gone.port();
    }
    WriteFile("pack.bin", "the last good file");
    WriteFile("DL.sha256", RunShell("cd " + ShellQuote(good.root()) + " && sha256sum pack.bin").out);
    // CP932 like DL.ini: a comment in Japanese, blank lines.
    WriteFile("DL.mirrors", "# \x83\x7E\x83\x89\x81\x5B\r\n\r\n" + other.url("/mirror/pack.bin") + "\r\n" +
                                "http://127.0.0.1:" + std::to_string(downPort) + "/pack.bin\r\n   \r\n" +
                                good.url("/pack.bin") + "\r\n");
    WriteSettings(settings(missing.url("/pack.bin"), "", 0, false));
    Start();
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_TRUE(ReadFile("pack.bin") == content);
    EXPECT_EQ(otherGets.load(), 1); // its file failed the pin: no retries there
    EXPECT_FALSE(Exists(Dir() + "pack.bin.part"));

    // A line that is no http or https address: said before any request.
    shown.clear();
    WriteFile("DL.mirrors", good.url("/pack.bin") + "\nftp://127.0.0.1/pack.bin\n");
    const int before = missing.Connections();
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("DL.mirrors の 2 行目 (ftp://127.0.0.1/pack.bin) は使えません: http か https のアドレスではありません"));
    EXPECT_EQ(missing.Connections(), before);
}

TEST_F(AppFixture, APartIsResumedFromAMirrorOnlyWhenItIsTheSameFile)
{
    // Two servers of the same file and tag, and one of another version.
    testsupport::RangeFile same, changed;
    same.content = contentOf(200'000, 's');
    changed.content = contentOf(200'000, 'c');
    changed.etag = "\"other\"";
    // The first address has no ranges and cuts every body at the same
    // place: after its first attempt no attempt brings a new byte.
    ScriptedServer a([&](ScriptedConnection& c) {
        const bool get = c.ReadRequest().rfind("GET ", 0) == 0;
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 200000\r\nETag: \"v1\"\r\n\r\n");
        if (get)
            c.Send(same.content.substr(0, 80'000));
    });
    ScriptedServer b(same.handler());
    WriteSettings(settings(a.url("/s.bin"), "", 0, false));
    WriteFile("DL.mirrors", b.url("/s.bin") + "\n");
    Start();
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_TRUE(ReadFile("s.bin") == same.content);
    ASSERT_EQ(same.gets.size(), 1u);
    EXPECT_EQ(RangeFile::field(same.gets[0], "Range"), "bytes=80000-");
    EXPECT_EQ(same.sent[0], 120'000);

    // Another version on the mirror: its 200 starts over.
    std::remove((Dir() + "s.bin").c_str());
    ScriptedServer c(changed.handler());
    WriteFile("DL.mirrors", c.url("/s.bin") + "\n");
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty()) << shown.front().text.toStdString();
    EXPECT_TRUE(ReadFile("s.bin") == changed.content);
    ASSERT_EQ(changed.gets.size(), 1u);
    EXPECT_EQ(changed.sent[0], 200'000);
}

TEST(Retry, AServerThatNeverAnswersIsGivenUpWithinItsTime)
{
    TempDir work;
    ScriptedServer silent(ScriptedServer::Stall());
    TNMHTTP http;
    http.OutputFileMode = true;
    http.Header = work.file("DL.dat");
    http.ConnectTimeOut = 30000;
    http.IdleTimeOut = 60000;
    TDownload download(http, work.file("q.bin"));
    download.QuietLimit = 1500; // three minutes in the program
    download.RetryBase = 100;
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(download.Run(silent.url("/q.bin")), EAbortError);
    EXPECT_LT(clock.elapsed(), 15'000);
    EXPECT_GE(download.Attempts(), 1);
    EXPECT_LE(download.Attempts(), 5);
    EXPECT_EQ(http.IdleTimeOut, 60000); // the limits are the caller's again

    // Retry-After: seconds, HTTP dates (past ones ask no wait), a cap.
    EXPECT_EQ(TDownload::RetryAfter("2"), 2000);
    EXPECT_EQ(TDownload::RetryAfter("100000"), TDownload::RetryAfterCap);
    EXPECT_EQ(TDownload::RetryAfter("Sun, 06 Nov 1994 08:49:37 GMT"), 0);
    EXPECT_EQ(TDownload::RetryAfter("Sunday, 06-Nov-94 08:49:37 GMT"), 0);
    EXPECT_EQ(TDownload::RetryAfter("Sun Nov  6 08:49:37 1994"), 0);
    EXPECT_EQ(TDownload::RetryAfter("Fri, 31 Dec 2099 23:59:59 GMT"), TDownload::RetryAfterCap);
    EXPECT_EQ(TDownload::RetryAfter("soon"), -1);
    EXPECT_EQ(TDownload::RetryAfter("-5"), -1);
}

TEST(Retry, APartIsResumedFromLighttpdAndApache)
{
    // Both answer a resuming HTTP/1.1 request with the rest of the file;
    // lighttpd answers an HTTP/1.0 one with If-Range by the whole file.
    LighttpdServer lighttpd;
    ApacheServer apache;
    for (ServedFolder* server : std::initializer_list<ServedFolder*>{&lighttpd, &apache}) {
        ASSERT_TRUE(server->ok()) << server->log();
        const std::string content = contentOf(1'000'000, 'l');
        testsupport::WriteFile(server->root() + "/big.bin", content);
        // A file changed this very second has only a weak tag at Apache.
        ASSERT_EQ(RunShell("touch -d '1 hour ago' " + ShellQuote(server->root() + "/big.bin")).exitCode, 0);
        TempDir work;
        TNMHTTP http;
        http.OutputFileMode = true;
        http.Header = work.file("DL.dat");
        http.TimeOut = 20000;
        // What a first attempt cut at 400,000 bytes leaves.
        http.Head(server->url("/big.bin"));
        const std::string validator = !http.ReplyETag.empty() ? http.ReplyETag : http.ReplyLastModified;
        ASSERT_FALSE(validator.empty());
        testsupport::WriteFile(work.file("big.bin.part"), content.substr(0, 400'000));
        testsupport::WriteFile(work.file("big.bin.part.info"),
                               server->url("/big.bin") + "\n" + validator + "\n1000000\n");
        TDownload download(http, work.file("big.bin"));
        EXPECT_EQ(download.Run(server->url("/big.bin")).Kind, TDownload::TOutcome::Finished);
        EXPECT_EQ(http.ReplyNumber, 206) << server->log();
        EXPECT_EQ(http.BytesRecvd, 600'000);
        EXPECT_TRUE(testsupport::ReadFile(work.file("big.bin")) == content);
    }
}
