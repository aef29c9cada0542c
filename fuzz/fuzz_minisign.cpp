// Publisher keys and signatures in minisign's formats (integrity/Minisign),
// as the download reads "DL.pub" and a fetched "FILE.minisig".
//
// Input: arbitrary bytes, read both as a public key file and as a
// signature file.
//
// Checked: a key that parses has an id of at most 16 digits; a signature that parses
// has a trusted comment within the limit and an id of the same form, and
// its checks against a fixed key give one of the known verdicts for the
// prehashed and the legacy form (never a crash, whatever the bytes); the
// comment's fields come out of any text. Strict Base64 decodes to three
// bytes for every four characters at most.
#include "fuzz/FuzzSupport.h"
#include "integrity/Minisign.h"
#include "runtime/SysUtils.h"

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text = fuzz::AsText(data, size);
    // A fixed key, as "minisign -G" writes it.
    static const auto fixed = TMinisign::ParseKey(
        "untrusted comment: minisign public key A9C890280F3DF4E6\n"
        "RWTm9D0PKJDIqfX280BLiISAUOu9dDozfTWHwX56pzJsrrvbw5AKXpk1\n");
    FUZZ_CHECK(fixed.has_value(), std::string("the fixed key"));

    if (const auto key = TMinisign::ParseKey(text))
        FUZZ_CHECK(!key->KeyId().empty() && key->KeyId().size() <= 16, std::string(text));
    if (const auto signature = TMinisign::ParseSignature(text)) {
        FUZZ_CHECK(signature->TrustedComment.size() <= TMinisign::MaxTrustedComment, std::string(text));
        FUZZ_CHECK(!signature->KeyId().empty() && signature->KeyId().size() <= 16, std::string(text));
        unsigned char digest[TMinisign::DigestSize] = {};
        const auto prehashed = TMinisign::VerifyPrehashed(*fixed, *signature, digest);
        const auto legacy = TMinisign::VerifyMessage(*fixed, *signature, data, size);
        for (const auto verdict : {prehashed, legacy})
            FUZZ_CHECK(verdict == TMinisign::msOk || verdict == TMinisign::msOtherKey ||
                           verdict == TMinisign::msInvalid || verdict == TMinisign::msCommentInvalid,
                       std::string(text));
        (void)TMinisign::Comment(signature->TrustedComment);
    }
    (void)TMinisign::Comment(std::string(text));
    if (const auto bytes = DecodeBase64(text))
        FUZZ_CHECK(bytes->size() <= text.size() / 4 * 3, std::string(text));
    return 0;
}
