#include "app/Download.h"

#include "platform/FileNames.h"
#include "runtime/Exceptions.h"
#include "runtime/SysUtils.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The validator a resume may name: a strong entity tag, else the date.
std::string validatorOf(const TNMHTTP& http)
{
    if (!http.ReplyETag.empty() && !startsWith(http.ReplyETag, "W/"))
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
    const std::string temporary = InfoFile() + ".new";
    ::unlink(temporary.c_str()); // a leftover, or a link planted there
    const std::string text = url + '\n' + validator + '\n' + std::to_string(total) + '\n';
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.c_str());
        return;
    }
    if (std::rename(temporary.c_str(), InfoFile().c_str()) != 0)
        ::unlink(temporary.c_str());
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
    if (st.st_size > 0 && LoadInfo(info) && info.url == url) {
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
        return;
    }
    if (!digest_ || digest_->Kinds() != kinds)
        digest_ = std::make_unique<TStreamDigest>(kinds);
    // The kept bytes of an earlier attempt are hashed while the request
    // goes out; a reply that starts over begins anew with its first byte.
    digest_->Restart(PartFile(), resumed_);
    bodyStarted_ = false;
    http_.OnCaptured = [this](const char* data, std::size_t length) {
        if (!bodyStarted_) {
            bodyStarted_ = true;
            const bool appended = resumed_ > 0 && http_.ReplyNumber == 206 && http_.RangeFrom == resumed_;
            if (!appended)
                digest_->Restart({}, 0);
        }
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
        if (!verification_->Check(digests, PartFile(), url))
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
        verification_->Accepted(url);
    return true;
}

std::int64_t TDownload::FreeSpace(const std::string& folder)
{
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0)
        return -1;
    return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}
