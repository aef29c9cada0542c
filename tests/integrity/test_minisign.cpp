// Publisher signatures, pins and streamed digests against the real tools:
// keys and signatures made by minisign, whose own verdict (minisign -V) ours
// must match on every case; pin lines written by sha256sum; digests from
// openssl dgst.
#include "Commands.h"
#include "MinisignTool.h"
#include "Servers.h"
#include "integrity/Minisign.h"
#include "integrity/Sha256Pin.h"
#include "integrity/StreamDigest.h"
#include "runtime/SysUtils.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using testsupport::MinisignAccepts;
using testsupport::MinisignKey;
using testsupport::ReadFile;
using testsupport::RunShell;
using testsupport::ShellQuote;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TStreamDigest::TResult digestOf(const std::string& data, unsigned kinds)
{
    TStreamDigest digest(kinds);
    digest.Restart({}, 0);
    digest.Feed(data.data(), data.size());
    return digest.Finish();
}

// Our verdict on a file and its signature, as the download makes it.
bool oursAccepts(const std::string& pub, const std::string& file, const std::string& signature)
{
    const auto key = TMinisign::ParseKey(ReadFile(pub));
    const auto sig = TMinisign::ParseSignature(ReadFile(signature));
    if (!key || !sig)
        return false;
    const std::string data = ReadFile(file);
    if (sig->Prehashed) {
        const auto digests = digestOf(data, TStreamDigest::dkBlake2b512);
        return TMinisign::VerifyPrehashed(*key, *sig, digests.Blake2b512.data()) == TMinisign::msOk;
    }
    return TMinisign::VerifyMessage(*key, *sig, reinterpret_cast<const unsigned char*>(data.data()), data.size()) ==
           TMinisign::msOk;
}

std::string hexDigest(const std::string& tool, const std::string& file)
{
    const std::string out = RunShell(tool + " " + ShellQuote(file)).out;
    return out.substr(0, out.find(' '));
}

} // namespace

TEST(Minisign, AgreesWithMinisignOnEveryCase)
{
    TempDir dir;
    const MinisignKey key = MinisignKey::Make(dir.path(), "publisher");
    const MinisignKey other = MinisignKey::Make(dir.path(), "other");
    ASSERT_TRUE(key.ok && other.ok);
    const std::string f = dir.file("f.zip"), g = dir.file("g.zip"), empty = dir.file("empty");
    WriteFile(f, testsupport::RandomBytes(300'000, 1));
    WriteFile(g, testsupport::RandomBytes(1000, 2));
    WriteFile(empty, "");
    ASSERT_TRUE(key.Sign(f));
    ASSERT_TRUE(key.Sign(f, {.legacy = true, .trusted = {}, .out = f + ".legacy"}));
    ASSERT_TRUE(key.Sign(g));
    ASSERT_TRUE(key.Sign(empty));
    ASSERT_TRUE(key.Sign(empty, {.legacy = true, .trusted = {}, .out = empty + ".legacy"}));
    ASSERT_TRUE(other.Sign(f, {.legacy = false, .trusted = {}, .out = f + ".other"}));

    // A byte of the file changed, for both forms.
    const std::string tampered = dir.file("tampered.zip");
    std::string bytes = ReadFile(f);
    bytes[150'000] ^= 1;
    WriteFile(tampered, bytes);
    // The trusted comment changed after signing.
    std::string signature = ReadFile(f + ".minisig");
    const std::size_t comment = signature.find("timestamp:") + 10;
    signature[comment] = signature[comment] == '9' ? '8' : '9';
    WriteFile(f + ".comment", signature);

    struct Case {
        std::string file, signature, pub;
        bool good;
    };
    const std::vector<Case> cases = {
        {f, f + ".minisig", key.pub, true},          {f, f + ".legacy", key.pub, true},
        {empty, empty + ".minisig", key.pub, true},  {empty, empty + ".legacy", key.pub, true},
        {tampered, f + ".minisig", key.pub, false},  {tampered, f + ".legacy", key.pub, false},
        {f, f + ".other", key.pub, false},           {f, f + ".minisig", other.pub, false},
        {f, g + ".minisig", key.pub, false},         {f, f + ".comment", key.pub, false},
        {empty, f + ".minisig", key.pub, false},     {f, empty + ".legacy", key.pub, false},
    };
    for (const Case& c : cases) {
        const bool theirs = MinisignAccepts(c.pub, c.file, c.signature);
        EXPECT_EQ(theirs, c.good) << c.file << " " << c.signature;
        EXPECT_EQ(oursAccepts(c.pub, c.file, c.signature), theirs) << c.file << " " << c.signature;
    }

    // The reasons the download reports.
    const auto parsedKey = TMinisign::ParseKey(ReadFile(key.pub));
    ASSERT_TRUE(parsedKey);
    // The id as minisign prints it.
    EXPECT_NE(ReadFile(key.pub).find("minisign public key " + parsedKey->KeyId() + "\n"), std::string::npos);
    TMinisign::TKey zeros = *parsedKey;
    zeros.KeyNumber = {0x12, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(zeros.KeyId(), "12");
    const auto otherSig = TMinisign::ParseSignature(ReadFile(f + ".other"));
    const auto commentSig = TMinisign::ParseSignature(ReadFile(f + ".comment"));
    const auto digest = digestOf(ReadFile(f), TStreamDigest::dkBlake2b512);
    EXPECT_EQ(TMinisign::VerifyPrehashed(*parsedKey, *otherSig, digest.Blake2b512.data()), TMinisign::msOtherKey);
    EXPECT_EQ(TMinisign::VerifyPrehashed(*parsedKey, *commentSig, digest.Blake2b512.data()), TMinisign::msCommentInvalid);
    const auto comment2 = TMinisign::Comment(TMinisign::ParseSignature(ReadFile(f + ".minisig"))->TrustedComment);
    EXPECT_EQ(comment2.File.value_or(""), "f.zip");
    EXPECT_TRUE(comment2.Timestamp.has_value());
}

TEST(Minisign, MalformedKeysAndSignaturesAreRefused)
{
    TempDir dir;
    const MinisignKey key = MinisignKey::Make(dir.path(), "publisher");
    ASSERT_TRUE(key.ok);
    WriteFile(dir.file("f"), "content");
    ASSERT_TRUE(key.Sign(dir.file("f")));
    const std::string pub = ReadFile(key.pub);
    const std::string sig = ReadFile(dir.file("f.minisig"));
    ASSERT_TRUE(TMinisign::ParseKey(pub));
    ASSERT_TRUE(TMinisign::ParseSignature(sig));

    // Every cut short is refused, the last line's end aside.
    for (std::size_t n = 0; n + 1 < sig.size(); ++n)
        EXPECT_FALSE(TMinisign::ParseSignature(sig.substr(0, n))) << n;
    for (std::size_t n = 0; n + 1 < pub.size(); ++n)
        EXPECT_FALSE(TMinisign::ParseKey(pub.substr(0, n))) << n;
    // CR LF line ends are read.
    std::string crlf;
    for (char c : sig)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(TMinisign::ParseSignature(crlf));

    const std::size_t line2 = sig.find('\n') + 1;
    const std::size_t line3 = sig.find('\n', line2) + 1;
    const std::size_t line4 = sig.find('\n', line3) + 1;
    auto withLine2 = [&](const std::string& line) { return sig.substr(0, line2) + line + "\n" + sig.substr(line3); };
    const std::string encoded = sig.substr(line2, line3 - line2 - 1);
    // Not Base64, Base64 of the wrong length, other algorithm bytes.
    EXPECT_FALSE(TMinisign::ParseSignature(withLine2("!" + encoded.substr(1))));
    EXPECT_FALSE(TMinisign::ParseSignature(withLine2(encoded + "AAAA")));
    auto raw = *DecodeBase64(encoded);
    raw[1] = 'x';
    WriteFile(dir.file("raw"), raw);
    const std::string wrongAlgorithm = RunShell("base64 -w0 " + ShellQuote(dir.file("raw"))).out;
    EXPECT_FALSE(TMinisign::ParseSignature(withLine2(wrongAlgorithm)));
    // A key is always "Ed"; a signature's "ED" is no key.
    EXPECT_FALSE(TMinisign::ParseKey("untrusted comment: x\n" + encoded.substr(0, 56) + "\n"));
    // A trusted comment of 1 MB.
    const std::string huge = sig.substr(0, line3) + "trusted comment: " + std::string(1 << 20, 'c') + "\n" + sig.substr(line4);
    EXPECT_FALSE(TMinisign::ParseSignature(huge));
    // Prefixes matter.
    EXPECT_FALSE(TMinisign::ParseSignature("untrusted: x\n" + sig.substr(line2)));
    EXPECT_FALSE(TMinisign::ParseKey(pub.substr(pub.find('\n') + 1)));
    // Strict Base64: padding only at the end, no leftover bits.
    EXPECT_EQ(DecodeBase64("YWJj").value_or(""), "abc");
    EXPECT_EQ(DecodeBase64("YQ==").value_or(""), "a");
    EXPECT_FALSE(DecodeBase64("YR=="));
    EXPECT_FALSE(DecodeBase64("Y=Q="));
    EXPECT_FALSE(DecodeBase64("YQ="));
}

TEST(Sha256Pin, ReadsWhatSha256sumWritesAndNothingElse)
{
    TempDir dir;
    WriteFile(dir.file("app.zip"), testsupport::RandomBytes(5000, 3));
    WriteFile(dir.file("a\\b.zip"), "x");
    for (const std::string name : {"app.zip", "a\\b.zip"}) {
        const std::string line = RunShell("cd " + ShellQuote(dir.path()) + " && sha256sum " + ShellQuote(name)).out;
        const auto pin = TSha256Pin::Parse(line);
        ASSERT_TRUE(pin) << line;
        EXPECT_EQ(pin->Name, name);
        EXPECT_EQ(TSha256Pin::Line(pin->Digest, pin->Name), line); // written back the same
        // What the program writes, sha256sum -c checks.
        WriteFile(dir.file("DL.sha256"), TSha256Pin::Line(pin->Digest, name));
        EXPECT_EQ(RunShell("cd " + ShellQuote(dir.path()) + " && sha256sum -c --status DL.sha256").exitCode, 0);
    }
    const std::string hex = hexDigest("sha256sum", dir.file("app.zip"));
    ASSERT_EQ(hex.size(), 64u);
    EXPECT_TRUE(TSha256Pin::Parse(hex + " *app.zip\n"));
    EXPECT_TRUE(TSha256Pin::Parse(hex + "  app.zip")); // no final line end

    std::string upper = hex;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(TSha256Pin::Parse(upper + "  app.zip\n"));
    EXPECT_FALSE(TSha256Pin::Parse(hex.substr(1) + "  app.zip\n"));           // short
    EXPECT_FALSE(TSha256Pin::Parse(hex + "0  app.zip\n"));                    // long
    EXPECT_FALSE(TSha256Pin::Parse(hex + "  app.zip\r\n"));                   // CR LF
    EXPECT_FALSE(TSha256Pin::Parse(hex + "  app.zip\n" + hex + "  b.zip\n")); // two lines
    EXPECT_FALSE(TSha256Pin::Parse(hex + "  \n"));                            // no name
    EXPECT_FALSE(TSha256Pin::Parse(hex + " app.zip\n"));                      // one blank
    EXPECT_FALSE(TSha256Pin::Parse("g" + hex.substr(1) + "  app.zip\n"));
    EXPECT_FALSE(TSha256Pin::Parse(""));
}

TEST(StreamDigest, MatchesOpensslInAnyChunkingAndAfterARestart)
{
    TempDir dir;
    const std::string data = testsupport::RandomBytes(3'000'000, 4);
    WriteFile(dir.file("data"), data);
    const std::string sha = hexDigest("sha256sum", dir.file("data"));
    const std::string blake = RunShell("openssl dgst -blake2b512 -r " + ShellQuote(dir.file("data"))).out.substr(0, 128);

    TStreamDigest digest(TStreamDigest::dkSha256 | TStreamDigest::dkBlake2b512);
    std::mt19937 gen(5);
    // Kept bytes of an earlier attempt read from the file, the rest fed in
    // chunks of every size; then all over again from nothing.
    for (const std::size_t kept : {std::size_t(0), std::size_t(1'234'567)}) {
        digest.Restart(dir.file("data"), static_cast<std::int64_t>(kept));
        for (std::size_t at = kept; at < data.size();) {
            const std::size_t n = std::min<std::size_t>(data.size() - at, gen() % 100'000);
            digest.Feed(data.data() + at, n);
            at += n;
        }
        const auto result = digest.Finish();
        ASSERT_TRUE(result.Ok) << result.Error;
        EXPECT_EQ(result.Length, static_cast<std::int64_t>(data.size()));
        EXPECT_EQ(TSha256Pin::Hex(result.Sha256.data(), 32), sha);
        EXPECT_EQ(TSha256Pin::Hex(result.Blake2b512.data(), 64), blake);
    }
    // Earlier bytes that are not there fail instead of hashing less.
    digest.Restart(dir.file("data"), static_cast<std::int64_t>(data.size()) + 1);
    EXPECT_FALSE(digest.Finish().Ok);
    digest.Restart(dir.file("missing"), 10);
    EXPECT_FALSE(digest.Finish().Ok);
    // And the empty stream.
    digest.Restart({}, 0);
    EXPECT_EQ(TSha256Pin::Hex(digest.Finish().Sha256.data(), 32),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}
