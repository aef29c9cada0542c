// TMinisign: publisher signatures in minisign's formats, checked with
// OpenSSL 3's EVP (Ed25519, BLAKE2b-512); no other library.
//
// A public key is what `minisign -G` writes:
//     untrusted comment: minisign public key 1234ABCD5678EF90
//     RWQ...  (Base64 of "Ed", the 8-byte key number, the 32-byte key)
// A signature is what `minisign -S` writes beside the file (FILE.minisig):
//     untrusted comment: ...
//     RUQ...  (Base64 of "ED" or "Ed", the key number, a 64-byte signature)
//     trusted comment: timestamp:1700000000	file:NAME	hashed
//     ...     (Base64 of the 64-byte global signature)
// "ED" signs the BLAKE2b-512 digest of the file (minisign's default, so a
// file of any size is checked as its bytes arrive); "Ed", the legacy form,
// signs the file itself. The global signature covers the file signature
// followed by the trusted comment, so the comment cannot be changed.
//
// Parsing is strict where minisign is: the comment prefixes, Base64 that
// decodes to exactly the expected length, the algorithm bytes. A trusted
// comment is at most 8192 bytes (minisign's own limit); lines may end in
// CR LF. Lines after the last one read are ignored, as minisign does.
//
// Verify checks in minisign's order: the key number, the file signature,
// the global signature. What the trusted comment says (the file's name,
// the time) is the caller's policy: Comment() splits it.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class TMinisign {
public:
    enum TResult {
        msOk,
        msOtherKey,         // signed with another key
        msInvalid,          // the file does not match its signature
        msCommentInvalid,   // the trusted comment was changed
    };

    struct TKey {
        std::array<unsigned char, 8> KeyNumber{};
        std::array<unsigned char, 32> PublicKey{};
        // The key number as minisign prints it ("A9C890280F3DF4E6"; no
        // leading zeros).
        std::string KeyId() const;
    };

    struct TSignature {
        bool Prehashed = true; // "ED"; false: "Ed"
        std::array<unsigned char, 8> KeyNumber{};
        std::array<unsigned char, 64> Signature{};
        std::string TrustedComment;
        std::array<unsigned char, 64> GlobalSignature{};
        std::string KeyId() const;
    };

    // The fields of a trusted comment that the program reads.
    struct TComment {
        std::optional<std::string> File;
        std::optional<std::uint64_t> Timestamp;
    };

    static constexpr std::size_t MaxTrustedComment = 8192;
    static constexpr std::size_t DigestSize = 64; // BLAKE2b-512

    static std::optional<TKey> ParseKey(std::string_view text);
    static std::optional<TSignature> ParseSignature(std::string_view text);
    static TComment Comment(const std::string& trustedComment);

    // digest: the BLAKE2b-512 of the file, for a prehashed signature.
    static TResult VerifyPrehashed(const TKey& key, const TSignature& signature, const unsigned char* digest);
    // message: the whole file, for a legacy signature.
    static TResult VerifyMessage(const TKey& key, const TSignature& signature, const unsigned char* message,
                                 std::size_t length);

private:
    static TResult Verify(const TKey& key, const TSignature& signature, const unsigned char* message,
                          std::size_t length);
};
