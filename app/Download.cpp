#include "app/Download.h"

#include "net/Url.h"
#include "platform/Cp932.h"
#include "platform/FileNames.h"
#include "runtime/Exceptions.h"
#include "runtime/SysUtils.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// The validator a resume may name: a strong entity tag, else the date.
std::string validatorOf(const TNMHTTP& http)
{
    if (!http.ReplyETag.empty() && !http.ReplyETag.starts_with("W/"))
        return http.ReplyETag;
    return http.ReplyLastModified;
}

std::int64_t fileSize(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<std::int64_t>(st.st_size);
}

} // namespace

TDownload::TDownload(TNMHTTP& http, std::string target) : http_(http), target_(std::move(target)) {}

TDownload::~TDownload() = default;

bool TDownload::LoadInfo(Info& info) const
{
    std::ifstream in(InfoFile(), std::ios::binary);
    std::string total;
    if (!in || !std::getline(in, info.url) || !std::getline(in, info.validator) || !std::getline(in, total))
        return false;
    try {
        info.total = StrToInt64(total);
    } catch (const Exception&) {
        return false;
    }
    return !info.url.empty() && !info.validator.empty();
}

void TDownload::SaveInfo(const std::string& url) const
{
    // The part now holds the bytes of the last reply's version.
    const std::string validator = validatorOf(http_);
    if (validator.empty() || validator.find_first_of("\r\n") != std::string::npos ||
        url.find_first_of("\r\n") != std::string::npos) {
        ::unlink(InfoFile().c_str());
        return;
    }
    std::int64_t total = http_.ReplyRangeTotal;
    if (http_.ReplyNumber == 200)
        total = http_.ContentLength;
    ReplaceFileWith(InfoFile(), url + '\n' + validator + '\n' + std::to_string(total) + '\n', 0666);
}

void TDownload::RemovePart() const
{
    ::unlink(PartFile().c_str());
    ::unlink(InfoFile().c_str());
}

void TDownload::DropUnresumable() const
{
    struct stat st {};
    if (::lstat(InfoFile().c_str(), &st) != 0 && errno == ENOENT)
        ::unlink(PartFile().c_str());
}

std::int64_t TDownload::Prepare(const std::string& url)
{
    resumed_ = 0;
    validator_.clear();
    total_ = -1;
    struct stat st {};
    if (::lstat(PartFile().c_str(), &st) != 0)
        return 0;
    if (S_ISLNK(st.st_mode)) {
        RemovePart(); // never written through: it may lead anywhere
        return 0;
    }
    if (!S_ISREG(st.st_mode))
        throw EFCreateError::CannotCreate(PartFile(), S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
    Info info;
    // A part of this address, or of another address of the same download
    // (a mirror): the validator and the length decide whether it fits.
    bool ours = false;
    if (LoadInfo(info)) {
        ours = info.url == url || info.url == configured_;
        for (const std::string& mirror : mirrors_)
            ours = ours || info.url == mirror;
    }
    if (st.st_size > 0 && ours) {
        resumed_ = static_cast<std::int64_t>(st.st_size);
        validator_ = info.validator;
        total_ = info.total;
    }
    return resumed_;
}

void TDownload::FetchSignature(const std::string& url)
{
    // The component as the file's GET leaves it; its failure event is
    // quiet for this reply (a missing signature is said as such).
    struct Restore {
        TNMHTTP& http;
        TResultEvent onFailure = http.OnFailure;
        bool inputFileMode = http.InputFileMode;
        std::string body = http.Body;
        ~Restore()
        {
            http.OnFailure = onFailure;
            http.InputFileMode = inputFileMode;
            http.Body = body;
            http.BodyLimit = -1;
            http.KeepErrorBodies = true;
        }
    } restore{http_};
    http_.OnFailure = nullptr;
    http_.InputFileMode = false;
    http_.KeepErrorBodies = false;
    http_.BodyLimit = TVerification::SignatureLimit;
    http_.RangeFrom = -1;
    http_.RangeValidator.clear();
    http_.ReplyNumber = 0;
    http_.StatusLine.clear();
    try {
        http_.Get(TVerification::SignatureAddress(url));
    } catch (const EAbortError&) {
        throw;
    } catch (const ESockError& e) {
        if (e.Message() != "Reply body too long")
            throw;
        verification_->SignatureMissing(0, "64 KiB を超えています");
        throw EVerifyError(verification_->Error());
    }
    const int reply = http_.ReplyNumber;
    if (http_.StatusLine.empty())
        verification_->SignatureMissing(0, "サーバーから応答がありません");
    else if (reply < 200 || reply > 299)
        verification_->SignatureMissing(reply, {});
    else if (verification_->SetSignature(http_.Body))
        return;
    throw EVerifyError(verification_->Error());
}

void TDownload::StartDigest()
{
    const unsigned kinds = verification_ ? verification_->DigestKinds() : 0;
    if (kinds == 0) {
        digest_.reset();
    } else {
        if (!digest_ || digest_->Kinds() != kinds)
            digest_ = std::make_unique<TStreamDigest>(kinds);
        // The kept bytes of an earlier attempt are hashed while the request
        // goes out; a reply that starts over begins anew with its first
        // byte.
        digest_->Restart(PartFile(), resumed_);
    }
    bodyStarted_ = false;
    // The body is received straight into the digest's blocks.
    http_.OnCaptureBuffer = [this](std::size_t& room) -> char* { return digest_ ? digest_->Room(room) : nullptr; };
    http_.OnCaptured = [this](const char* data, std::size_t length) {
        if (!bodyStarted_) {
            bodyStarted_ = true;
            const bool appended = resumed_ > 0 && http_.ReplyNumber == 206 && http_.RangeFrom == resumed_;
            position_ = appended ? resumed_ : 0;
            if (digest_ && !appended)
                digest_->Restart({}, 0);
        }
        received_ += static_cast<std::int64_t>(length);
        position_ += static_cast<std::int64_t>(length);
        if (digest_)
            digest_->Feed(data, length);
    };
}

bool TDownload::Fetch(const std::string& url)
{
    struct Restore {
        TNMHTTP& http;
        ~Restore()
        {
            http.RangeFrom = -1;
            http.RangeValidator.clear();
            http.KeepErrorBodies = true;
            http.OnCaptured = nullptr;
            http.OnCaptureBuffer = nullptr;
        }
    } restore{http_};
    if (verification_ && verification_->Signed())
        FetchSignature(url);
    for (int attempt = 0;; ++attempt) {
        http_.InputFileMode = true;
        http_.Body = PartFile();
        http_.KeepErrorBodies = false;
        http_.RangeFrom = resumed_ > 0 ? resumed_ : -1;
        http_.RangeValidator = resumed_ > 0 ? validator_ : std::string();
        // What the HEAD said must not be taken for this reply's.
        http_.ReplyNumber = 0;
        http_.StatusLine.clear();
        StartDigest();
        try {
            http_.Get(url);
        } catch (const ESockError& e) {
            if (e.Message() == "Partial reply does not match the request") {
                // Another range or another version: the part is of no use.
                RemovePart();
            } else if (http_.ReplyNumber == 200 || http_.ReplyNumber == 206) {
                SaveInfo(url); // what arrived is of this reply's version
            }
            DropUnresumable();
            throw;
        } catch (const EStreamError&) {
            DropUnresumable(); // a full disk is not left fuller
            throw;
        }
        const int reply = http_.ReplyNumber;
        if (reply == 416 && resumed_ > 0 && attempt == 0) {
            RemovePart(); // longer than the file: start over
            resumed_ = 0;
            continue;
        }
        if (reply < 200 || reply > 299 || http_.StatusLine.empty()) {
            DropUnresumable();
            return false;
        }
        if (reply == 200 || reply == 206)
            SaveInfo(url);
        if (reply != 206)
            resumed_ = 0;
        return Finish(url);
    }
}

void TDownload::Check(const std::string& url)
{
    std::string failure;
    if (verification_) {
        TStreamDigest::TResult digests;
        if (digest_) {
            // Every byte of the part went through the digest, unless the
            // reply had no body to capture (then it is read here, once).
            const std::int64_t size = fileSize(PartFile());
            if (digest_->Length() != size)
                digest_->Restart(PartFile(), size);
            digests = digest_->Finish();
        }
        if (!verification_->Check(digests, PartFile(), configured_.empty() ? url : configured_))
            failure = verification_->Error();
    }
    if (failure.empty() && !ExpectedCrc.empty() && CrcOf && CrcOf(PartFile()) != ExpectedCrc)
        failure = "CRCが一致しません,ファイルが壊れてる可能性があります";
    if (failure.empty())
        return;
    RemovePart(); // not the publisher's bytes: nothing to resume
    throw EVerifyError(failure);
}

bool TDownload::Finish(const std::string& url)
{
    const std::int64_t size = fileSize(PartFile());
    const std::int64_t total = http_.ReplyNumber == 206 ? http_.ReplyRangeTotal : -1;
    if (http_.ReplyNumber == 206 && ((total >= 0 && size != total) || (total_ >= 0 && total >= 0 && total != total_))) {
        RemovePart();
        throw ESockError("Partial reply does not match the request");
    }
    Check(url);
    if (std::rename(PartFile().c_str(), target_.c_str()) != 0)
        throw EFCreateError::CannotCreate(target_);
    ::unlink(InfoFile().c_str());
    if (verification_)
        verification_->Accepted(configured_.empty() ? url : configured_);
    return true;
}

std::int64_t TDownload::FreeSpace(const std::string& folder)
{
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0)
        return -1;
    return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

// ------------------------------------------------------------------ retries

namespace {

using Clock = std::chrono::steady_clock;

bool transientReply(int reply)
{
    return reply == 408 || reply == 429 || reply == 500 || reply == 502 || reply == 503 || reply == 504;
}

int millisecondsUntil(Clock::time_point when)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1LL << 30));
}

} // namespace

int TDownload::RetryAfter(const std::string& value)
{
    if (value.empty())
        return -1;
    if (value.find_first_not_of("0123456789") == std::string::npos) {
        if (value.size() > 9)
            return RetryAfterCap;
        return std::min<long long>(std::stoll(value) * 1000, RetryAfterCap);
    }
    // An HTTP date: IMF-fixdate, the obsolete RFC 850 form, asctime.
    for (const char* format : {"%a, %d %b %Y %H:%M:%S GMT", "%A, %d-%b-%y %H:%M:%S GMT", "%a %b %d %H:%M:%S %Y"}) {
        std::tm when{};
        const char* end = ::strptime(value.c_str(), format, &when);
        if (end && *end == '\0') {
            const std::time_t at = ::timegm(&when);
            const long long left = (static_cast<long long>(at) - static_cast<long long>(std::time(nullptr))) * 1000;
            return static_cast<int>(std::clamp<long long>(left, 0, RetryAfterCap));
        }
    }
    return -1;
}

void TDownload::Cancel()
{
    cancelled_ = true;
    if (waitLoop_)
        waitLoop_->quit();
}

bool TDownload::Wait(int milliseconds)
{
    // The event loop runs (the window paints, Cancel can be pressed); it
    // wakes at each whole second left, to tell the window, and at the end.
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(milliseconds);
    waiting_ = true;
    QEventLoop loop;
    QTimer tick;
    tick.setSingleShot(true);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    waitLoop_ = &loop;
    while (!cancelled_) {
        const int left = millisecondsUntil(end);
        if (left <= 0)
            break;
        if (OnWaiting)
            OnWaiting((left + 999) / 1000);
        tick.start(left % 1000 ? left % 1000 : 1000);
        loop.exec();
    }
    waitLoop_ = nullptr;
    waiting_ = false;
    return !cancelled_;
}

TDownload::TNext TDownload::Classify(std::exception_ptr failure) const
{
    try {
        std::rethrow_exception(failure);
    } catch (const EVerifyError&) {
        return TNext::NextAddress; // this address's file is not the publisher's
    } catch (const EAbortError&) {
        // The inactivity limit or a connection limit; a cancel ends it all.
        return http_.TimedOut() && !cancelled_ ? TNext::Retry : TNext::Stop;
    } catch (const ESockError& e) {
        const std::string& text = e.Message();
        if (text.starts_with("Certificate verify failed") || text.starts_with("TLS handshake failed") ||
            text.starts_with("Redirect from https to http refused"))
            return TNext::Stop;
        if (text == "Connection Failed") {
            const int number = http_.ConnectErrorNo();
            if (number == WSAECONNREFUSED || number == WSAETIMEDOUT || number == WSAEHOSTUNREACH ||
                number == WSAENETUNREACH || number == WSAENETDOWN || number == WSAECONNRESET)
                return TNext::Retry;
            return TNext::NextAddress;
        }
        if (text == "Connection Timed out" || text == "TLS handshake timed out" || text == "Host Lookup Timed Out" ||
            text.starts_with("Transfer closed with outstanding read data remaining") ||
            text == "TLS connection ended without close_notify" ||
            text == "Partial reply does not match the request") // the part is gone: the next attempt starts over
            return TNext::Retry;
        if (text.starts_with("Proxy"))
            return TNext::Stop; // the proxy fails every address alike
        if (http_.LastErrorNo() >= 10000 && text != "Null Remote Address" && text != "Host Lookup Failed")
            return TNext::Retry; // a reset in the middle
        return TNext::NextAddress;
    } catch (const EStreamError&) {
        return TNext::Stop; // the folder, not the server
    } catch (const Exception&) {
        return TNext::NextAddress; // too many redirects, a bad address
    } catch (...) {
        return TNext::Stop;
    }
}

TDownload::TOutcome TDownload::TryAddress(const std::string& url, std::exception_ptr& failure, bool& nextAddress)
{
    nextAddress = false;
    failure = nullptr;
    const int connectLimit = http_.ConnectTimeOut;
    const int idleLimit = http_.IdleTimeOut;
    struct Limits {
        TNMHTTP& http;
        int connect, idle;
        ~Limits()
        {
            http.ConnectTimeOut = connect;
            http.IdleTimeOut = idle;
        }
    } limits{http_, connectLimit, idleLimit};
    int quiet = 0;
    int wait = RetryBase;
    Clock::time_point quietSince = Clock::now();
    std::mt19937 random(std::random_device{}());
    TOutcome previous{TOutcome::NoReply, 0, {}};
    for (;;) {
        if (cancelled_)
            throw EAbortError("Wait canceled");
        // The limits of this attempt fit in what is left of the address's
        // time without a byte.
        const int left = millisecondsUntil(quietSince + std::chrono::milliseconds(QuietLimit));
        if (left <= 0) {
            nextAddress = true;
            return previous; // with the last attempt's failure
        }
        http_.ConnectTimeOut = connectLimit > 0 ? std::min(connectLimit, left) : left;
        http_.IdleTimeOut = idleLimit > 0 ? std::min(idleLimit, left) : left;
        ++attempts_;
        if (OnAttempt)
            OnAttempt();
        position_ = 0;
        TOutcome outcome;
        bool retry = false;
        int retryAfter = -1;
        failure = nullptr;
        // A reply that ends the attempt without the file: none at all (tried
        // again), a 404, the proxy's 407 (which ends the whole download).
        const auto endsAttempt = [this, &outcome, &retry] {
            if (http_.StatusLine.empty()) {
                outcome = {TOutcome::NoReply, 0, {}};
                retry = true;
            } else if (http_.ReplyNumber == 404) {
                outcome = {TOutcome::NotFound, 404, {}};
            } else if (http_.ReplyNumber == 407 && !http_.Proxy.empty()) {
                outcome = {TOutcome::ProxyCredentials, 407, {}};
            } else {
                return false;
            }
            return true;
        };
        try {
            http_.InputFileMode = false;
            http_.ReplyNumber = 0;
            http_.StatusLine.clear();
            struct FileMode {
                TNMHTTP& http;
                ~FileMode() { http.InputFileMode = true; }
            } fileMode{http_};
            http_.Head(url);
            http_.InputFileMode = true;
            if (!endsAttempt()) {
                if (OnHeader)
                    OnHeader();
                // Room for what remains, when the size is known.
                const std::int64_t resumed = Prepare(url);
                const bool success = http_.ReplyNumber >= 200 && http_.ReplyNumber <= 299;
                const std::int64_t size =
                    http_.ContentLength >= 0 && success ? http_.ContentLength : (KnownSize ? KnownSize() : 0);
                const std::int64_t free = FreeSpace(target_.substr(0, target_.rfind('/') + 1));
                if (size > 0 && free >= 0 && free < size - resumed)
                    return {TOutcome::Refused, 0,
                            "空き容量が足りません: あと " + std::to_string((size - resumed - free + 1023) / 1024) +
                                " Kbyte 必要です"};
                if (Fetch(url))
                    return {TOutcome::Finished, http_.ReplyNumber, {}};
                if (!endsAttempt()) {
                    const int reply = http_.ReplyNumber;
                    outcome = {reply >= 400 ? TOutcome::HttpError : TOutcome::BadReply, reply, {}};
                    retry = transientReply(reply);
                    if (retry)
                        retryAfter = RetryAfter(http_.ReplyRetryAfter);
                }
            }
        } catch (...) {
            failure = std::current_exception();
            switch (Classify(failure)) {
            case TNext::Retry: retry = true; break;
            case TNext::NextAddress: break;
            case TNext::Stop: throw;
            }
        }
        if (outcome.Kind == TOutcome::ProxyCredentials)
            return outcome;
        if (!retry) {
            nextAddress = true;
            return outcome;
        }
        // A transient failure: again, after a wait, unless the address has
        // had its chances. A new byte is one of the file not had before: a
        // server that cuts every attempt at the same place, starting over
        // each time, makes none after the first.
        if (position_ > highWater_) {
            highWater_ = position_;
            quiet = 0;
            wait = RetryBase;
            quietSince = Clock::now();
        } else if (++quiet >= MaxQuietAttempts) {
            nextAddress = true;
            return outcome;
        }
        std::uniform_real_distribution<double> jitter(0.8, 1.2);
        int delay = retryAfter >= 0 ? retryAfter : static_cast<int>(wait * jitter(random));
        wait = std::min(wait * 2, RetryCap);
        // A server that has not answered at all gets no more than its time.
        if (retryAfter < 0 && millisecondsUntil(quietSince + std::chrono::milliseconds(QuietLimit)) <= delay) {
            nextAddress = true;
            return outcome;
        }
        if (!Wait(delay))
            throw EAbortError("Wait canceled");
        previous = outcome;
    }
}

TDownload::TOutcome TDownload::Run(const std::string& url)
{
    configured_ = url;
    cancelled_ = false;
    attempts_ = 0;
    received_ = 0;
    highWater_ = 0;
    std::vector<std::string> addresses{url};
    addresses.insert(addresses.end(), mirrors_.begin(), mirrors_.end());
    TOutcome last;
    std::exception_ptr lastFailure;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (ChooseProxy) {
            const std::string error = ChooseProxy(addresses[i]);
            if (!error.empty()) {
                last = {TOutcome::Refused, 0, error};
                lastFailure = nullptr;
                continue;
            }
        }
        std::exception_ptr failure;
        bool nextAddress = false;
        const TOutcome outcome = TryAddress(addresses[i], failure, nextAddress);
        if (!nextAddress)
            return outcome;
        last = outcome;
        lastFailure = failure;
    }
    if (lastFailure)
        std::rethrow_exception(lastFailure);
    return last;
}

std::string TDownload::BadAddress(const std::string& address)
{
    const TUrlParts parts = SplitReference(address);
    const std::string scheme = LowerCase(parts.Scheme);
    if (!parts.HasScheme || !parts.HasAuthority || (scheme != "http" && scheme != "https"))
        return "http か https のアドレスではありません";
    const std::size_t at = parts.Authority.rfind('@');
    const std::string authority = at == std::string::npos ? parts.Authority : parts.Authority.substr(at + 1);
    std::size_t colon = authority.rfind(':');
    if (!authority.empty() && authority[0] == '[' && authority.find(']') != std::string::npos && colon < authority.find(']'))
        colon = std::string::npos;
    const std::string host = authority.substr(0, colon);
    if (host.empty() || host == "[]")
        return "サーバーの名前がありません";
    if (colon != std::string::npos) {
        const std::string port = authority.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(port) < 1 || std::stoi(port) > 65535)
            return "ポート番号が正しくありません";
    }
    if (address.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        return "使えない文字があります";
    if (!IsPlainFileName(TargetFileName(address)))
        return "ファイルの名前がありません";
    return {};
}

bool TDownload::LoadMirrors(const std::string& folder, std::vector<std::string>& mirrors, std::string& why)
{
    mirrors.clear();
    why.clear();
    const std::string path = ResolveName(folder, MirrorsFile);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return true; // no mirrors
    std::ifstream in(path, std::ios::binary);
    if (!in || st.st_size > 1024 * 1024) {
        why = std::string(MirrorsFile) + " を読めません";
        return false;
    }
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        std::string line = Cp932ToUtf8(raw);
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        line = line.substr(start, line.find_last_not_of(" \t") - start + 1);
        if (const std::string bad = BadAddress(line); !bad.empty()) {
            why = std::string(MirrorsFile) + " の " + std::to_string(number) + " 行目 (" + line + ") は使えません: " + bad;
            return false;
        }
        mirrors.push_back(line);
    }
    return true;
}
