// What the program calls finished is the publisher's exact file: signatures
// made by the real minisign (its own verdict beside ours), SHA-256 pins,
// the CRC, all checked on the part before it replaces the last good file;
// extraction all or nothing; one download per folder. Files are served by
// a real nginx.
#include "AppFixture.h"
#include "DownloadSupport.h"

#include "Commands.h"
#include "MinisignTool.h"
#include "Servers.h"
#include "app/Download.h"
#include "app/FolderLock.h"
#include "app/Staging.h"
#include "app/Verification.h"
#include "integrity/Sha256Pin.h"
#include "platform/FileNames.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

using namespace testsupport;
using namespace downloadsupport;

namespace {

std::string sha256Line(const std::string& folder, const std::string& name)
{
    return RunShell("cd " + ShellQuote(folder) + " && sha256sum " + ShellQuote(name)).out;
}

// The configuration folder of the signature times, for one test.
struct ConfigHome {
    TempDir dir;
    QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    ConfigHome() { qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir.path())); }
    ~ConfigHome() { qputenv("XDG_CONFIG_HOME", previous); }
};

// One download into a working folder through TDownload with the folder's
// pin and key, as the program runs it.
struct Fetcher {
    explicit Fetcher(const TempDir& work) : work(work), verification(work.path() + "/")
    {
        http.OutputFileMode = true;
        http.Header = work.file("DL.dat");
        http.TimeOut = 20000;
    }
    // "finished", or the failure's text.
    std::string Fetch(const std::string& url, const std::string& name = "f.zip")
    {
        TDownload download(http, work.file(name));
        if (!verification.Load(name))
            return verification.Error();
        download.SetVerification(&verification);
        try {
            download.Prepare(url);
            return download.Fetch(url) ? "finished" : "reply " + std::to_string(http.ReplyNumber);
        } catch (const Exception& e) {
            return e.Message();
        }
    }
    const TempDir& work;
    TNMHTTP http;
    TVerification verification;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A working folder that trusts the publisher's key (made by minisign), and
// nginx to serve the publisher's files.
class SignedDownload : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(nginx.ok()) << nginx.log();
        ASSERT_TRUE(key.ok);
        WriteFile(work.file("DL.pub"), ReadFile(key.pub));
    }
    ConfigHome config;
    TempDir work, keys;
    NginxServer nginx;
    const MinisignKey key = MinisignKey::Make(keys.path(), "publisher");
};

} // namespace

TEST_F(SignedDownload, SignaturesDecideAsMinisignDoesAndAFailureReplacesNothing)
{
    const MinisignKey other = MinisignKey::Make(keys.path(), "other");
    ASSERT_TRUE(other.ok);

    // Each case is a folder on the server holding f.zip and, mostly, its
    // signature; "good" is what minisign -V says of the pair.
    struct Case {
        std::string name;
        std::string content;
        std::function<void(const std::string& folder)> sign;
        std::string expected; // "finished" or a part of the message
    };
    const std::string v2 = "version 2 " + std::string(200'000, 'b');
    auto signed_ = [&](const MinisignKey& k, bool legacy, const std::string& trusted) {
        return [&k, legacy, trusted](const std::string& folder) {
            ASSERT_TRUE(k.Sign(folder + "/f.zip", {.legacy = legacy, .trusted = trusted, .out = {}}));
        };
    };
    const std::vector<Case> cases = {
        {"prehashed", v2, signed_(key, false, {}), "finished"},
        {"legacy", v2, signed_(key, true, {}), "finished"},
        {"tampered", v2,
         [&](const std::string& folder) {
             ASSERT_TRUE(key.Sign(folder + "/f.zip"));
             std::string bytes = ReadFile(folder + "/f.zip");
             bytes[100'000] ^= 0x20;
             WriteFile(folder + "/f.zip", bytes);
         },
         "ファイルが署名と一致しません"},
        {"unsigned", v2, [](const std::string&) {}, "署名がありません"},
        {"otherkey", v2, signed_(other, false, {}), "別の鍵の署名です"},
        {"otherfile", v2,
         [&](const std::string& folder) {
             // The same bytes signed as another file: valid for minisign,
             // but a signature of another name.
             WriteFile(folder + "/setup.zip", ReadFile(folder + "/f.zip"));
             ASSERT_TRUE(key.Sign(folder + "/setup.zip", {.legacy = false, .trusted = {}, .out = folder + "/f.zip.minisig"}));
         },
         "別のファイルの署名です: 署名は setup.zip のもの"},
        {"comment", v2,
         [&](const std::string& folder) {
             ASSERT_TRUE(key.Sign(folder + "/f.zip", {.legacy = false, .trusted = "timestamp:3000\tfile:f.zip", .out = {}}));
             std::string signature = ReadFile(folder + "/f.zip.minisig");
             signature.replace(signature.find("timestamp:3000"), 14, "timestamp:9000");
             WriteFile(folder + "/f.zip.minisig", signature);
         },
         "信頼できるコメントが書き換えられています"},
        {"garbage", v2, [](const std::string& folder) { WriteFile(folder + "/f.zip.minisig", "not a signature\n"); },
         "形式が正しくありません"},
        {"huge", v2, [](const std::string& folder) { WriteFile(folder + "/f.zip.minisig", std::string(100'000, 'x')); },
         "64 KiB を超えています"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = nginx.root() + "/" + c.name;
        QDir().mkpath(QString::fromStdString(folder));
        WriteFile(folder + "/f.zip", c.content);
        c.sign(folder);
        const bool signature = Exists(folder + "/f.zip.minisig");
        if (signature && c.name != "huge" && c.name != "garbage" && c.name != "otherfile") {
            EXPECT_EQ(MinisignAccepts(key.pub, folder + "/f.zip", folder + "/f.zip.minisig"), c.expected == "finished");
        }
        WriteFile(work.file("f.zip"), "the last good file");
        Fetcher fetcher(work);
        const std::string outcome = fetcher.Fetch(nginx.url("/" + c.name + "/f.zip"));
        if (c.expected == "finished") {
            EXPECT_EQ(outcome, "finished");
            EXPECT_EQ(ReadFile(work.file("f.zip")), c.content);
        } else {
            EXPECT_TRUE(contains(outcome, "発行者のファイルと確認できませんでした\n")) << outcome;
            EXPECT_TRUE(contains(outcome, c.expected)) << outcome;
            EXPECT_EQ(ReadFile(work.file("f.zip")), "the last good file");
        }
        EXPECT_FALSE(Exists(work.file("f.zip.part")));
        EXPECT_FALSE(Exists(work.file("f.zip.part.info")));
    }
    // minisign itself finds the renamed and the changed-comment signatures
    // as it does: the name is a check of ours, the comment one of both.
    EXPECT_TRUE(MinisignAccepts(key.pub, nginx.root() + "/otherfile/f.zip", nginx.root() + "/otherfile/f.zip.minisig"));
    EXPECT_FALSE(MinisignAccepts(key.pub, nginx.root() + "/comment/f.zip", nginx.root() + "/comment/f.zip.minisig"));
}

TEST_F(SignedDownload, AnOlderSignedVersionIsRefusedAfterANewerOne)
{
    auto publish = [&](const std::string& content, const std::string& time) {
        WriteFile(nginx.root() + "/f.zip", content);
        ASSERT_TRUE(key.Sign(nginx.root() + "/f.zip",
                             {.legacy = false, .trusted = "timestamp:" + time + "\tfile:f.zip\thashed", .out = {}}));
    };
    const std::string url = nginx.url("/f.zip");
    publish("new version", "2000000000");
    EXPECT_EQ(Fetcher(work).Fetch(url), "finished");
    // The times are the user's own.
    struct stat st {};
    ASSERT_EQ(::stat(TVerification::TimesFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    publish("old version", "1900000000");
    EXPECT_TRUE(MinisignAccepts(key.pub, nginx.root() + "/f.zip", nginx.root() + "/f.zip.minisig"));
    const std::string outcome = Fetcher(work).Fetch(url);
    EXPECT_TRUE(contains(outcome, "前に受け取ったものより古い版です")) << outcome;
    EXPECT_EQ(ReadFile(work.file("f.zip")), "new version");

    // The same version again, and the old one at another address, are fine.
    publish("new version", "2000000000");
    EXPECT_EQ(Fetcher(work).Fetch(url), "finished");
    publish("old version", "1900000000");
    EXPECT_EQ(Fetcher(work).Fetch(nginx.url("/f.zip?mirror=2")), "finished");
}

TEST(Verification, PinsAndUnusableSettingsAreCheckedBeforeAnything)
{
    ConfigHome config;
    TempDir work;
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    WriteFile(nginx.root() + "/f.zip", "published bytes");
    const std::string url = nginx.url("/f.zip");
    WriteFile(work.file("f.zip"), "published bytes");
    const std::string good = sha256Line(work.path(), "f.zip");
    WriteFile(work.file("f.zip"), "the last good file");

    WriteFile(work.file("DL.sha256"), good);
    EXPECT_EQ(Fetcher(work).Fetch(url), "finished");
    EXPECT_EQ(ReadFile(work.file("f.zip")), "published bytes");

    WriteFile(work.file("f.zip"), "the last good file");
    WriteFile(nginx.root() + "/f.zip", "other bytes of the same length");
    std::string outcome = Fetcher(work).Fetch(url);
    EXPECT_TRUE(contains(outcome, "SHA-256 が一致しません")) << outcome;
    EXPECT_EQ(ReadFile(work.file("f.zip")), "the last good file");
    EXPECT_FALSE(Exists(work.file("f.zip.part")));

    // A pin for another name, a short one, CR LF, a broken key: said, and
    // no request made.
    const std::string hex = good.substr(0, 64);
    const std::vector<std::pair<std::string, std::string>> unusable = {
        {"DL.sha256", hex + "  g.zip\n"}, {"DL.sha256", hex.substr(2) + "  f.zip\n"}, {"DL.sha256", hex + "  f.zip\r\n"},
        {"DL.pub", "untrusted comment: minisign public key\nRWQnotakey\n"}};
    ScriptedServer counted(ScriptedServer::Reply("HTTP/1.0 200 OK\r\n\r\npublished bytes"));
    for (const auto& [file, text] : unusable) {
        std::remove(work.file("DL.sha256").c_str());
        std::remove(work.file("DL.pub").c_str());
        WriteFile(work.file(file), text);
        outcome = Fetcher(work).Fetch(counted.url("/f.zip"));
        EXPECT_TRUE(contains(outcome, "ファイルを確かめる設定が正しくありません\n" + file)) << outcome;
        EXPECT_EQ(ReadFile(work.file("f.zip")), "the last good file");
    }
    EXPECT_EQ(counted.Connections(), 0);
}

TEST(Staging, AFailedMoveLeavesTheFolderAsItWas)
{
    TempDir work;
    const std::string folder = work.path() + "/";
    WriteFile(work.file("a.txt"), "old a");
    QDir().mkpath(QString::fromStdString(work.file("docs")));
    WriteFile(work.file("docs/keep.txt"), "keep");
    WriteFile(work.file("z"), "a file where the archive has a folder");

    TStaging staging(folder);
    const std::string stage = staging.Begin();
    ASSERT_FALSE(stage.empty()) << staging.Error();
    EXPECT_EQ(stage.rfind(folder + TStaging::Prefix, 0), 0u);
    WriteFile(stage + "a.txt", "new a");
    QDir().mkpath(QString::fromStdString(stage + "docs/new"));
    WriteFile(stage + "docs/new/n.txt", "n");
    WriteFile(stage + "docs/keep.txt", "replaced");
    QDir().mkpath(QString::fromStdString(stage + "z"));
    WriteFile(stage + "z/inner", "i");
    EXPECT_FALSE(staging.Commit());
    EXPECT_TRUE(contains(staging.Error(), "フォルダー z を置く場所に同じ名前のファイルがあります")) << staging.Error();
    // Everything moved before the conflict went back.
    EXPECT_EQ(ReadFile(work.file("a.txt")), "old a");
    EXPECT_EQ(ReadFile(work.file("docs/keep.txt")), "keep");
    EXPECT_FALSE(Exists(work.file("docs/new")));
    EXPECT_EQ(ReadFile(work.file("z")), "a file where the archive has a folder");
    EXPECT_EQ(QDir(QString::fromStdString(work.path())).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("a.txt"), QStringLiteral("docs"), QStringLiteral("z")}));

    // Without the conflict it all lands, and a link is never written
    // through.
    std::remove(work.file("z").c_str());
    TempDir outside;
    ASSERT_EQ(::symlink(outside.path().c_str(), work.file("linked").c_str()), 0);
    const std::string again = staging.Begin();
    WriteFile(again + "a.txt", "new a");
    QDir().mkpath(QString::fromStdString(again + "linked"));
    WriteFile(again + "linked/escape", "x");
    EXPECT_FALSE(staging.Commit());
    EXPECT_FALSE(Exists(outside.file("escape")));
    EXPECT_EQ(ReadFile(work.file("a.txt")), "old a");
    std::remove(work.file("linked").c_str());
    const std::string third = staging.Begin();
    WriteFile(third + "a.txt", "new a");
    QDir().mkpath(QString::fromStdString(third + "docs/new"));
    WriteFile(third + "docs/new/n.txt", "n");
    EXPECT_TRUE(staging.Commit()) << staging.Error();
    EXPECT_EQ(ReadFile(work.file("a.txt")), "new a");
    EXPECT_EQ(ReadFile(work.file("docs/new/n.txt")), "n");
    EXPECT_EQ(ReadFile(work.file("docs/keep.txt")), "keep");
    EXPECT_EQ(QDir(QString::fromStdString(work.path())).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("a.txt"), QStringLiteral("docs")}));
}

TEST_F(AppFixture, ACheckThatFailsLeavesTheLastGoodFileAndExtractsNothing)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    const std::string zip = makeZip(nginx.root());
    const std::string crc = crcOf(zip);
    WriteFile("pack.zip", "the last good file");

    // The CRC.
    WriteSettings(settings(nginx.url("/pack.zip"), "0000", 1));
    Start();
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_EQ(shown[1].text, QStringLiteral("CRCが一致しません,ファイルが壊れてる可能性があります"));
    EXPECT_FALSE(form1->CuteButton2->isVisible()); // the Stopped display
    EXPECT_TRUE(form1->CuteButton1->isVisible());
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_EQ(ReadFile("pack.zip"), "the last good file");
    EXPECT_FALSE(FileExists(Dir() + "pack.zip.part"));
    EXPECT_FALSE(FileExists(Dir() + "readme.txt"));

    // A pin that does not match, with the right CRC.
    shown.clear();
    form1->Check_CRC = crc;
    WriteFile("DL.sha256", std::string(64, '0') + "  pack.zip\n");
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_TRUE(shown[1].text.startsWith(QStringLiteral("発行者のファイルと確認できませんでした\nSHA-256 が一致しません")))
        << shown[1].text.toStdString();
    EXPECT_EQ(ReadFile("pack.zip"), "the last good file");
    EXPECT_FALSE(FileExists(Dir() + "readme.txt"));

    // The pin that matches: finished and extracted.
    shown.clear();
    WriteFile("DL.sha256", sha256Line(nginx.root(), "pack.zip"));
    form1->CuteButton1->Click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(form1->Label1->Caption(), QStringLiteral("終了"));
    EXPECT_TRUE(ReadFile("pack.zip") == testsupport::ReadFile(zip));
    EXPECT_EQ(ReadFile("readme.txt"), "hello\r\n");
}

TEST_F(AppFixture, ADamagedArchiveExtractsNothingAndASecondCopyWaits)
{
    NginxServer nginx;
    ASSERT_TRUE(nginx.ok()) << nginx.log();
    // Three stored members; the third one's data damaged.
    const std::string src = nginx.root() + "/src";
    QDir().mkpath(QString::fromStdString(src));
    testsupport::WriteFile(src + "/1.txt", std::string(5000, '1'));
    testsupport::WriteFile(src + "/2.txt", std::string(5000, '2'));
    testsupport::WriteFile(src + "/3.txt", std::string(5000, '3'));
    ASSERT_EQ(RunShell("cd " + ShellQuote(src) + " && zip -q -0 ../three.zip 1.txt 2.txt 3.txt").exitCode, 0);
    std::string zip = testsupport::ReadFile(nginx.root() + "/three.zip");
    const std::size_t third = zip.find(std::string(5000, '3'));
    ASSERT_NE(third, std::string::npos);
    zip[third + 2500] = 'X';
    testsupport::WriteFile(nginx.root() + "/three.zip", zip);
    WriteFile("1.txt", "old one");

    WriteSettings(settings(nginx.url("/three.zip"), "", 0, true));
    Start();
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_TRUE(shown[1].text.startsWith(QStringLiteral("解凍できませんでした: "))) << shown[1].text.toStdString();
    EXPECT_FALSE(form1->CuteButton2->isVisible());
    // The folder is as before the extraction; the archive stays.
    EXPECT_EQ(ReadFile("1.txt"), "old one");
    EXPECT_FALSE(FileExists(Dir() + "2.txt"));
    EXPECT_FALSE(FileExists(Dir() + "3.txt"));
    EXPECT_TRUE(ReadFile("three.zip") == zip);
    for (const QString& name : QDir(dir_->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        EXPECT_FALSE(name.startsWith(QLatin1String(TStaging::Prefix))) << name.toStdString();

    // Another copy downloading in this folder: said, nothing touched, no
    // request made.
    shown.clear();
    TFolderLock other(Dir());
    ASSERT_EQ(other.Acquire(), TFolderLock::flLocked);
    std::remove((Dir() + "three.zip").c_str());
    form1->CuteButton1->Click();
    ASSERT_EQ(Kinds(), (std::vector<std::string>{"beep", "message"}));
    EXPECT_TRUE(shown[1].text.startsWith(QStringLiteral("このフォルダーでは別のダウンロードが実行中です"))) << shown[1].text.toStdString();
    EXPECT_FALSE(FileExists(Dir() + "three.zip"));
    EXPECT_FALSE(FileExists(Dir() + "three.zip.part"));
    EXPECT_FALSE(form1->Timer1->isActive());
    other.Release();
    shown.clear();
    form1->CuteButton1->Click();
    EXPECT_TRUE(FileExists(Dir() + "three.zip"));
}
