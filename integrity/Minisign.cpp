#include "integrity/Minisign.h"

#include "runtime/SysUtils.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::string_view UntrustedPrefix = "untrusted comment: ";
constexpr std::string_view TrustedPrefix = "trusted comment: ";

// The text's lines without their CR LF or LF; a last line without an end
// counts too.
std::vector<std::string_view> linesOf(std::string_view text, std::size_t most)
{
    std::vector<std::string_view> lines;
    while (!text.empty() && lines.size() < most) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string hexOf(const std::array<unsigned char, 8>& number)
{
    // minisign prints the key number as a little-endian 64-bit number in
    // upper-case hexadecimal, without leading zeros.
    unsigned long long value = 0;
    for (auto byte = number.rbegin(); byte != number.rend(); ++byte)
        value = value << 8 | *byte;
    char text[17];
    std::snprintf(text, sizeof text, "%llX", value);
    return text;
}

bool ed25519Verify(const unsigned char* publicKey, const unsigned char* signature, const unsigned char* message,
                   std::size_t length)
{
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey, 32), EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    // EVP_DigestVerify takes no null message even when it is empty.
    static const unsigned char nothing = 0;
    return EVP_DigestVerify(context.get(), signature, 64, length ? message : &nothing, length) == 1;
}

} // namespace

std::string TMinisign::TKey::KeyId() const { return hexOf(KeyNumber); }
std::string TMinisign::TSignature::KeyId() const { return hexOf(KeyNumber); }

std::optional<TMinisign::TKey> TMinisign::ParseKey(std::string_view text)
{
    const auto lines = linesOf(text, 2);
    if (lines.size() < 2 || !lines[0].starts_with(UntrustedPrefix))
        return std::nullopt;
    const auto bytes = DecodeBase64(trimmed(lines[1]));
    if (!bytes || bytes->size() != 42 || bytes->compare(0, 2, "Ed") != 0)
        return std::nullopt;
    TKey key;
    std::memcpy(key.KeyNumber.data(), bytes->data() + 2, 8);
    std::memcpy(key.PublicKey.data(), bytes->data() + 10, 32);
    return key;
}

std::optional<TMinisign::TSignature> TMinisign::ParseSignature(std::string_view text)
{
    const auto lines = linesOf(text, 4);
    if (lines.size() < 4 || !lines[0].starts_with(UntrustedPrefix) ||
        !lines[2].starts_with(TrustedPrefix))
        return std::nullopt;
    const auto bytes = DecodeBase64(trimmed(lines[1]));
    if (!bytes || bytes->size() != 74)
        return std::nullopt;
    TSignature signature;
    if (bytes->compare(0, 2, "ED") == 0)
        signature.Prehashed = true;
    else if (bytes->compare(0, 2, "Ed") == 0)
        signature.Prehashed = false;
    else
        return std::nullopt;
    std::memcpy(signature.KeyNumber.data(), bytes->data() + 2, 8);
    std::memcpy(signature.Signature.data(), bytes->data() + 10, 64);
    const std::string_view comment = lines[2].substr(TrustedPrefix.size());
    if (comment.size() > MaxTrustedComment)
        return std::nullopt;
    signature.TrustedComment.assign(comment);
    const auto global = DecodeBase64(trimmed(lines[3]));
    if (!global || global->size() != 64)
        return std::nullopt;
    std::memcpy(signature.GlobalSignature.data(), global->data(), 64);
    return signature;
}

TMinisign::TComment TMinisign::Comment(const std::string& trustedComment)
{
    TComment comment;
    std::size_t start = 0;
    while (start <= trustedComment.size()) {
        std::size_t end = trustedComment.find('\t', start);
        if (end == std::string::npos)
            end = trustedComment.size();
        const std::string field = trustedComment.substr(start, end - start);
        if (field.starts_with("file:")) {
            comment.File = field.substr(5);
        } else if (field.starts_with("timestamp:")) {
            const std::string digits = field.substr(10);
            if (!digits.empty() && digits.size() <= 19 && digits.find_first_not_of("0123456789") == std::string::npos)
                comment.Timestamp = std::stoull(digits);
        }
        start = end + 1;
    }
    return comment;
}

TMinisign::TResult TMinisign::Verify(const TKey& key, const TSignature& signature, const unsigned char* message,
                                     std::size_t length)
{
    if (key.KeyNumber != signature.KeyNumber)
        return msOtherKey;
    if (!ed25519Verify(key.PublicKey.data(), signature.Signature.data(), message, length))
        return msInvalid;
    std::string signed_(reinterpret_cast<const char*>(signature.Signature.data()), signature.Signature.size());
    signed_ += signature.TrustedComment;
    if (!ed25519Verify(key.PublicKey.data(), signature.GlobalSignature.data(),
                       reinterpret_cast<const unsigned char*>(signed_.data()), signed_.size()))
        return msCommentInvalid;
    return msOk;
}

TMinisign::TResult TMinisign::VerifyPrehashed(const TKey& key, const TSignature& signature, const unsigned char* digest)
{
    if (!signature.Prehashed)
        return msInvalid;
    return Verify(key, signature, digest, DigestSize);
}

TMinisign::TResult TMinisign::VerifyMessage(const TKey& key, const TSignature& signature, const unsigned char* message,
                                            std::size_t length)
{
    if (signature.Prehashed)
        return msInvalid;
    return Verify(key, signature, message, length);
}
