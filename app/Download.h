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

// A complete file that failed a check; the message is the user's.
class EVerifyError : public Exception {
public:
    using Exception::Exception;
};

class TDownload {
public:
    TDownload(TNMHTTP& http, std::string target);
    ~TDownload();

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
};
