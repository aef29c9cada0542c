// What the user reads: every failure in Japanese words with the detail the
// user can act on (no socket numbers, no component English), the status
// label after each failure, the Kbyte text clear of the Close/Cancel button
// at any size, a full disk during extraction said as such, and the
// publisher asked before extraction of a file that is no archive is saved.
#include "AppFixture.h"
#include "DownloadSupport.h"

#include "Commands.h"
#include "Servers.h"
#include "app/Messages.h"
#include "app/SettingsFile.h"
#include "app/Staging.h"
#include "platform/FileNames.h"

#include <QDir>
#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

using namespace testsupport;
using namespace downloadsupport;

namespace {

// Nothing of the components' own words reaches the user.
void expectUsersWords(const std::string& text)
{
    static const QRegularExpression internal(QStringLiteral(
        "\\d{5}:|Socket|Transfer|aborted|close_notify|Connection|Timed out|Invalid|Too many|refused|Header|Line too"));
    EXPECT_FALSE(QString::fromStdString(text).contains(internal)) << text;
}

} // namespace

TEST_F(AppFixture, EveryFailureIsSaidInTheUsersWordsAndTheStatusSaysSo)
{
    WriteSettings(settings("http://", "", 0, false));
    Start();
    auto failure = [&](const std::string& url) {
        const std::string text = FailedDownload(url);
        expectUsersWords(text);
        return text;
    };
    // A redirect loop.
    ScriptedServer loop([](ScriptedConnection& c) {
        c.ReadRequest();
        c.Send("HTTP/1.0 302 Found\r\nLocation: /again.zip\r\n\r\n");
    });
    EXPECT_EQ(failure(loop.url("/again.zip")), "転送 (リダイレクト) が多すぎます (20 回を超えました)");
    // A server error: the system's "error" and the reply in words.
    ScriptedServer busy(ScriptedServer::Reply("HTTP/1.0 503 Service Unavailable\r\nContent-Length: 4\r\n\r\nbusy"));
    EXPECT_EQ(failure(busy.url("/b.zip")), "error\nサーバーの応答: 503 サーバーが一時的に利用できません");
    // Refused, cut, reset, silent.
    int port;
    {
        ScriptedServer gone(ScriptedServer::Reply(""));
        port = gone.port();
    }
    EXPECT_EQ(failure("http://127.0.0.1:" + std::to_string(port) + "/r.zip"),
              "サーバー 127.0.0.1 に接続を拒否されました (ポート " + std::to_string(port) + " で受け付けていません)");
    ScriptedServer cut([](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 2216107\r\n\r\n");
        if (request.rfind("GET ", 0) == 0)
            c.Send(std::string(700000, 'x'));
    });
    EXPECT_EQ(failure(cut.url("/c.zip")), "ダウンロードが途中で切れました (2,216,107 バイトのうち 700,000 バイトを受け取った"
                                          "ところでサーバー 127.0.0.1 が接続を閉じました)");
    ScriptedServer reset([](ScriptedConnection& c) {
        const std::string request = c.ReadRequest();
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n");
        if (request.rfind("GET ", 0) == 0) {
            c.Send(std::string(1000, 'x'));
            c.ResetOnClose();
        }
    });
    const std::string resetText = failure(reset.url("/s.zip"));
    EXPECT_TRUE(resetText.rfind("接続が切れました (", 0) == 0 || resetText.rfind("ダウンロードが途中で切れました (", 0) == 0)
        << resetText;
    form1->NMHTTP1->IdleTimeOut = 200;
    ScriptedServer silent(ScriptedServer::Stall());
    EXPECT_EQ(failure(silent.url("/q.zip")).rfind("サーバー 127.0.0.1 からの応答が途絶えました (1 秒の間", 0), 0u);

    // A read-only folder names the user's file and why, never "DL.dat".
    const Tmpfs tmpfs(dir_->path().toStdString(), "ro,size=1m");
    if (!tmpfs.error().empty())
        GTEST_SKIP() << "no tmpfs can be mounted here: " << tmpfs.error();
    ScriptedServer good(ScriptedServer::Reply("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ngood"));
    EXPECT_EQ(failure(good.url("/app.zip")), "ファイル app.zip を " + Dir() + " に保存できません (読み取り専用の場所です)");
}

TEST_F(AppFixture, TheKbyteTextStaysClearOfTheButtonAtAnySize)
{
    // 5 GiB from a slow location: a sparse file.
    NginxServer nginx("location /slow/ { limit_rate 200k; }");
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    QDir().mkpath(QString::fromStdString(nginx.root() + "/slow"));
    const int fd = ::open((nginx.root() + "/slow/big.zip").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, std::int64_t(5) << 30), 0);
    ::close(fd);
    WriteSettings(settings(nginx.url("/slow/big.zip"), "", 0, false));
    Start();
    const QRect button = form1->CuteButton2->geometry();
    bool checked = false;
    when([&] { return form1->Label2->Caption().contains(QStringLiteral("Kbyte/")); },
         [&] {
             const QRect text = form1->Label2->geometry();
             EXPECT_TRUE(form1->Label2->Caption().endsWith(QStringLiteral("Kbyte/5242880Kbyte(0%)")))
                 << form1->Label2->Caption().toStdString();
             EXPECT_FALSE(text.intersects(button)) << text.x() << "+" << text.width();
             EXPECT_TRUE(form1->rect().contains(text));
             checked = true;
             form1->CuteButton2->Click();
         });
    form1->CuteButton1->Click();
    EXPECT_TRUE(checked);
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("中断しました"));

    // Every size up to ten-digit Kbyte figures; the form's place while the
    // text fits there.
    form1->Label2->SetCaption(TForm1::ProgressText(60 * 1024, 120));
    EXPECT_EQ(form1->Label2->pos(), QPoint(52, 232));
    EXPECT_EQ(form1->Label2->font().pixelSize(), 13);
    for (const std::int32_t kbytes : {999'999, 9'999'999, 99'999'999, 999'999'999, 2'147'483'647}) {
        form1->Label2->SetCaption(TForm1::ProgressText(std::int64_t(kbytes) * 1024 / 10 * 4, kbytes));
        const QRect text = form1->Label2->geometry();
        const QFontMetrics metrics(form1->Label2->font());
        EXPECT_FALSE(text.intersects(button)) << kbytes;
        EXPECT_GE(text.left(), 0) << kbytes;
        EXPECT_GE(text.width(), metrics.horizontalAdvance(form1->Label2->Caption())) << kbytes << ": shown whole";
        EXPECT_GE(form1->Label2->font().pixelSize(), 8) << kbytes;
    }
}

TEST_F(AppFixture, AFullDiskWhileExtractingIsSaidAndChangesNothing)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    // 3 MB of zeros packs into a few kilobytes; the folder holds 1 MB.
    const std::string src = nginx.root() + "/src";
    QDir().mkpath(QString::fromStdString(src));
    testsupport::WriteFile(src + "/zeros.bin", std::string(3'000'000, '\0'));
    ASSERT_EQ(RunShell("cd " + ShellQuote(src) + " && zip -q -9 ../z.zip zeros.bin").exitCode, 0);
    const Tmpfs tmpfs(dir_->path().toStdString(), "size=1m");
    if (!tmpfs.error().empty())
        GTEST_SKIP() << "no tmpfs can be mounted here: " << tmpfs.error();
    WriteSettings(settings(nginx.url("/z.zip"), "", 0, true));
    Start();
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text.toStdString(), "解凍できませんでした: ファイルを書き込めません (空き容量がありません)");
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("失敗しました"));
    EXPECT_TRUE(FileExists(Dir() + "z.zip"));
    EXPECT_FALSE(FileExists(Dir() + "zeros.bin"));
    for (const QString& name : QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        EXPECT_FALSE(name.startsWith(QLatin1String(TStaging::Prefix))) << name.toStdString();
}

TEST_F(AppFixture, SavingExtractionOfAFileThatIsNoArchiveAsksThePublisher)
{
    Start();
    form2->URL_Edit->setText(QStringLiteral("https://example.org/files/manual.pdf"));
    form2->LZH_CheckBox->setChecked(true);
    DialogAnswer keep; // No: keep it ticked
    answers.push_back(keep);
    form2->CuteButton1->Click();
    ASSERT_EQ(Kinds(), std::vector<std::string>{"confirm"});
    EXPECT_TRUE(shown[0].text.startsWith(QStringLiteral("「manual.pdf」は解凍できる書庫の名前ではありません")))
        << shown[0].text.toStdString();
    EXPECT_TRUE(form2->LZH_CheckBox->isChecked());
    EXPECT_EQ(DecodeSettings(ReadFile("DL.ini"))[9], "true");

    shown.clear();
    DialogAnswer untick;
    untick.accepted = true;
    answers.push_back(untick);
    form2->CuteButton1->Click();
    EXPECT_FALSE(form2->LZH_CheckBox->isChecked());
    EXPECT_EQ(DecodeSettings(ReadFile("DL.ini"))[9], "false");

    // Archives, self-extracting files and an unticked box ask nothing.
    for (const char* url : {"http://h/a.lzh", "http://h/b.tar.gz", "http://h/setup.EXE", "http://h/c.ZIP"}) {
        shown.clear();
        form2->LZH_CheckBox->setChecked(true);
        form2->URL_Edit->setText(QString::fromLatin1(url));
        form2->CuteButton1->Click();
        EXPECT_TRUE(shown.empty()) << url;
    }
    shown.clear();
    form2->LZH_CheckBox->setChecked(false);
    form2->URL_Edit->setText(QStringLiteral("http://h/notes.txt"));
    form2->CuteButton1->Click();
    EXPECT_TRUE(shown.empty());
}

TEST(Messages, CertificateReasonsAreTranslatedAsOpensslWordsThem)
{
    // OpenSSL 3's own texts (X509_verify_cert_error_string), the rest as
    // OpenSSL gives them.
    EXPECT_EQ(TMessages::TlsReason("hostname mismatch"), "証明書が別のサーバーの名前のものです");
    EXPECT_EQ(TMessages::TlsReason("self-signed certificate"), "自己署名の証明書です");
    EXPECT_EQ(TMessages::TlsReason("unable to get local issuer certificate"), "証明書の発行元が信頼されていません");
    EXPECT_EQ(TMessages::TlsReason("path length constraint exceeded"), "path length constraint exceeded");
    EXPECT_EQ(TMessages::Bytes(2216107), "2,216,107 バイト");
    EXPECT_EQ(TMessages::ReplyText(418), "418 要求が受け付けられませんでした");
}
