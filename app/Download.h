// TDownload: the program's GET of the configured file, with the part file,
// the resume, the checks the file must pass before it replaces the last
// good one, and the words for a failure. The main window runs the rest of
// the download (HEAD, the size, the progress display, the extraction);
// this class holds what must never go wrong there, so that tests drive it
// without the window.
//
// The part file. The body goes to "NAME.part" beside NAME and is renamed
// over NAME only once it is complete and has passed every check, so a
// failed, cancelled or refused attempt leaves NAME as it was (the last good
// file stays usable). The HTTP component is told to keep no error bodies: a
// 404, a 500 or a redirect's page never lands in NAME.part, so an earlier
// attempt's part stays for the next resume.
//
// The resume. Beside the part file, "NAME.part.info" keeps three lines:
// the address, the validator of the reply whose bytes the part holds (its
// ETag when that is a strong one, else its Last-Modified) and the whole
// file's length (or -1). The next download of the same address sends
// "Range: bytes=N-" and "If-Range: VALIDATOR" when the part has N bytes; a
// 206 for that range with the same validator is appended, a 200 (the file
// changed, or the server has no ranges) starts over in an empty part, a 416
// (the part is longer than the file) starts over once without a range.
// Without a validator nothing is resumed: two versions of a file are never
// spliced. A 206 whose total disagrees with the part's is refused and the
// part removed.
//
// The checks (SetVerification, ExpectedCrc): the pin and the publisher's
// signature (TVerification) and the CRC the settings name, all on the
// complete NAME.part. The signature is fetched first, before the file
// (".minisig" added to the address's path, the same component, so the same
// TLS, proxy and redirect rules; at most 64 KiB; no "error" box for its
// reply), so a missing one costs no transfer and the digest it needs is
// known. The SHA-256 and BLAKE2b-512 are computed as the bytes arrive
// (TStreamDigest, on a thread of its own, fed by the component's
// OnCaptured), the resumed part's bytes included, never in a second pass
// over the file. A failed check removes the part and its info (their bytes
// are not the publisher's, so they cannot be resumed), leaves NAME as it
// was and raises EVerifyError with the user's text.
//
// Safety: every file the download makes beside NAME (the part, the info and
// its temporary) is opened without following a link at its name. A
// NAME.part that is a symbolic link is removed (the link, never what it
// points to) and the download starts afresh; one that is a folder or
// another non-file fails with the runtime's creation error.
//
// A part that can never be resumed (its reply named no validator) is
// removed when the download fails, rather than left to fill the disk.
#pragma once
#include "app/Verification.h"
#include "integrity/StreamDigest.h"
#include "net/NMHttp.h"
#include "runtime/Exceptions.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QEventLoop;

// A complete file that failed a check; the message is the user's.
class EVerifyError : public Exception {
public:
    using Exception::Exception;
};

class TDownload {
public:
    // How a download ended, when it did not end with a failure raised.
    struct TOutcome {
        enum TKind {
            Finished,         // NAME is the complete, checked file
            NotFound,         // 404
            HttpError,        // another reply of 400 or more (Reply)
            BadReply,         // a reply that is neither a file nor an error
            NoReply,          // the server closed without any reply
            ProxyCredentials, // the proxy answered 407
            Refused,          // Message says why (space, the proxy setting)
        } Kind = Finished;
        int Reply = 0;
        std::string Message;
    };

    // Retries: at most MaxQuietAttempts attempts in a row without a new
    // byte; waits from RetryBase doubling up to RetryCap, with up to 20 %
    // jitter; a Retry-After up to RetryAfterCap; an address that gives no
    // byte for QuietLimit is given up (its limits shrink to fit).
    static constexpr int MaxQuietAttempts = 5;
    int RetryBase = 1000;                 // milliseconds
    static constexpr int RetryCap = 30000;
    static constexpr int RetryAfterCap = 600000;
    int QuietLimit = 180000;              // milliseconds
    // The mirrors file of the working folder.
    static constexpr const char* MirrorsFile = "DL.mirrors";

    TDownload(TNMHTTP& http, std::string target);
    ~TDownload();

    // The further addresses, tried in order after the configured one.
    void SetMirrors(std::vector<std::string> mirrors) { mirrors_ = std::move(mirrors); }
    // Reads "DL.mirrors" of a folder (CP932, one address a line, blank
    // lines and "#" lines ignored); false with why when a line is no http
    // or https address.
    static bool LoadMirrors(const std::string& folder, std::vector<std::string>& mirrors, std::string& why);
    // A line of the mirrors file that is no http or https address (with a
    // host and a port in 1..65535): why, else empty.
    static std::string BadAddress(const std::string& address);

    // What the window does along the way: after each HEAD (the captured
    // header is in its file); the size the settings give, in bytes (0:
    // unknown); the proxy for an address (its error text, empty when
    // set); each second of a wait before the next attempt (the seconds
    // left); the start of each attempt.
    std::function<void()> OnHeader;
    std::function<std::int64_t()> KnownSize;
    std::function<std::string(const std::string& url)> ChooseProxy;
    std::function<void(int seconds)> OnWaiting;
    std::function<void()> OnAttempt;

    // The whole download of url, then its mirrors: HEAD, the room for the
    // file, the GET into the part and its checks, again after a transient
    // failure (a connection refused, unreachable or timed out, a reset or a
    // body cut short, the inactivity limit, a reply of 408, 429, 500, 502,
    // 503 or 504), on to the next address when one has used its retries,
    // answers 404 or another final 4xx, or gives a file that fails a
    // check. Raises the last failure when every address has failed by
    // one; a cancel, a certificate that is refused, a full disk and an
    // unusable setting end it at once.
    TOutcome Run(const std::string& url);
    // Ends a wait before the next attempt at once (the running transfer is
    // ended by the component's own Cancel); no further request is made.
    void Cancel();
    bool Waiting() const { return waiting_; }
    // The place in the file the running or last attempt has reached (its
    // kept bytes included); 0 before its first byte.
    std::int64_t Position() const { return position_; }
    // Attempts made by the last Run, over all addresses.
    int Attempts() const { return attempts_; }
    // Milliseconds a Retry-After value asks for (seconds, or an HTTP date;
    // at most RetryAfterCap, 0 for a time past), or -1 for none.
    static int RetryAfter(const std::string& value);

    const std::string& Target() const { return target_; }
    std::string PartFile() const { return target_ + ".part"; }
    std::string InfoFile() const { return target_ + ".part.info"; }

    // The checks a complete part must pass (null: none but the CRC).
    void SetVerification(TVerification* verification) { verification_ = verification; }
    // The CRC text the file must have (empty: none), and how to compute it.
    std::string ExpectedCrc;
    std::function<std::string(const std::string& path)> CrcOf;

    // Looks at the part file for a GET of url: the bytes the next Fetch
    // keeps (0 when it starts afresh). Removes a part that is a link.
    std::int64_t Prepare(const std::string& url);
    // The bytes kept from an earlier attempt by the running or last Fetch.
    std::int64_t Resumed() const { return resumed_; }
    // The signature (when the checks need one), then the GET into the part
    // file, as Prepare decided, then the checks. True when NAME is now the
    // complete, checked file; false when the reply was not a success (the
    // reply number tells which) and nothing was written. Raises what the
    // HTTP component raises, the runtime's file errors and EVerifyError.
    bool Fetch(const std::string& url);

    // The free bytes for files in folder (statvfs), -1 when unknown.
    static std::int64_t FreeSpace(const std::string& folder);
private:
    enum class TNext { Retry, NextAddress, Stop };
    // One address with its retries: Finished or a reason to go on.
    TOutcome TryAddress(const std::string& url, std::exception_ptr& failure, bool& nextAddress);
    // What a failure means for the address.
    TNext Classify(std::exception_ptr failure) const;
    // Waits (the event loop runs); false when cancelled.
    bool Wait(int milliseconds);

    struct Info {
        std::string url;
        std::string validator;
        std::int64_t total = -1;
    };
    bool LoadInfo(Info& info) const;
    void SaveInfo(const std::string& url) const;
    void RemovePart() const;
    // Removes a part that has no resume information.
    void DropUnresumable() const;
    void FetchSignature(const std::string& url);
    // Hashing follows what the component writes to the part.
    void StartDigest();
    void Check(const std::string& url);
    bool Finish(const std::string& url);

    TNMHTTP& http_;
    std::string target_;
    std::int64_t resumed_ = 0;
    std::string validator_;
    std::int64_t total_ = -1;
    TVerification* verification_ = nullptr;
    std::unique_ptr<TStreamDigest> digest_;
    bool bodyStarted_ = false;
    std::vector<std::string> mirrors_;
    std::int64_t received_ = 0; // body bytes of the file, every attempt
    std::int64_t position_ = 0;  // where in the file the last attempt got
    std::int64_t highWater_ = 0; // the furthest place in the file reached
    std::string configured_;    // the address the settings name
    bool waiting_ = false;
    bool cancelled_ = false;
    QEventLoop* waitLoop_ = nullptr;
    int attempts_ = 0;
};
