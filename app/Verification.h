// TVerification: what a downloaded file must be before it may replace the
// last good one, beside the CRC the settings name.
//
//  - A pin: "DL.sha256" in the working folder, one line in sha256sum's
//    format (TSha256Pin) naming the file the address gives. The file's
//    SHA-256 must match.
//  - A publisher's signature: "DL.pub" in the working folder, a minisign
//    public key (TMinisign). Every download then needs "ADDRESS.minisig"
//    (".minisig" added to the address's path; the query stays), made with
//    that key, that verifies, whose trusted comment, when it names a
//    "file:", names this file, and whose "timestamp:", when it has one, is
//    not older than the newest one accepted before for this address and
//    key. Those times are kept in "signatures" in the user's configuration
//    folder ($XDG_CONFIG_HOME/fetchlet, or ~/.config/fetchlet), mode 0600,
//    one line each: KEY ID, TAB, TIME, TAB, ADDRESS; the file is replaced
//    whole (a temporary, then a rename), so a crash leaves the old one.
//
// Both are read before any request: a pin or key that is there but cannot
// be read is a failure of its own, and nothing is fetched. The digests come
// from TStreamDigest as the bytes arrive; a legacy ("Ed") signature signs
// the file itself, so its check maps the complete part file and reads it
// once more (minisign's default "ED" form needs no such pass).
//
// Every failure text is the user's: a Japanese lead sentence and, on a
// second line, which check failed and why.
#pragma once
#include "integrity/Minisign.h"
#include "integrity/Sha256Pin.h"
#include "integrity/StreamDigest.h"

#include <optional>
#include <string>

class TVerification {
public:
    static constexpr std::size_t SignatureLimit = 64 * 1024;
    static constexpr const char* PinFile = "DL.sha256";
    static constexpr const char* KeyFile = "DL.pub";

    // folder: the working folder, with its "/".
    explicit TVerification(std::string folder);

    // Reads the pin and the key of the working folder for the file `name`.
    // False (Error() says why) when one is there but unusable.
    bool Load(const std::string& name);
    bool Pinned() const { return pin_.has_value(); }
    bool Signed() const { return key_.has_value(); }

    // The address of the signature of the file at url.
    static std::string SignatureAddress(const std::string& url);
    // The signature fetched; false (Error()) when it is not one.
    bool SetSignature(const std::string& text);
    // A signature that could not be fetched: the reply number (404: there
    // is none) or the failure's own text.
    void SignatureMissing(int replyNumber, const std::string& why);

    // The digests the checks need (TStreamDigest's kinds).
    unsigned DigestKinds() const;
    // The checks on the complete part file: false (Error()) on a failure.
    // address: the configured address (the rollback protection's key).
    bool Check(const TStreamDigest::TResult& digests, const std::string& partFile, const std::string& address);
    // The file has replaced the last good one: its signature's time is the
    // newest accepted for the address.
    void Accepted(const std::string& address);

    const std::string& Error() const { return error_; }

    // The file of accepted signature times.
    static std::string TimesFile();

private:
    bool Fail(const std::string& lead, const std::string& why);
    std::optional<std::uint64_t> NewestAccepted(const std::string& address) const;

    std::string folder_;
    std::string name_;
    std::optional<TSha256Pin> pin_;
    std::optional<TMinisign::TKey> key_;
    std::optional<TMinisign::TSignature> signature_;
    std::string error_;
};
