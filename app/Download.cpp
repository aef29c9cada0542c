#include "app/Download.h"

#include "archive/ARCHIVES.h"
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
        throw EFCreateError::CannotCreate(PartFile());
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
            throw;
        }
        const int reply = http_.ReplyNumber;
        if (reply == 416 && resumed_ > 0 && attempt == 0) {
            RemovePart(); // longer than the file: start over
            resumed_ = 0;
            continue;
        }
        if (reply < 200 || reply > 299 || http_.StatusLine.empty())
            return false;
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

std::string TDownload::FailureText(std::exception_ptr error, TNMHTTP& http)
{
    try {
        std::rethrow_exception(error);
    } catch (const EAbortError& e) {
        if (http.TimedOut())
            return "サーバーからの応答が途絶えました (" + e.Message() + ")";
        return "ダウンロードを中断しました";
    } catch (const ESockError& e) {
        const std::string& text = e.Message();
        if (startsWith(text, "Certificate verify failed: "))
            return "サーバーの身元を確認できませんでした: 証明書を確認できません (" + text.substr(27) + ")";
        if (startsWith(text, "TLS handshake failed: "))
            return "サーバーの身元を確認できませんでした: 安全な接続を始められません (" + text.substr(22) + ")";
        if (startsWith(text, "Redirect from https to http refused"))
            return "安全な接続から安全でない接続への転送は行いません (" + text + ")";
        // The peer of the connection: the server, or the proxy on the way.
        const std::string peer = http.Proxy.empty() ? "サーバー " + http.Host : "プロキシサーバー " + http.Proxy;
        if (startsWith(text, "Proxy refused the tunnel: ")) {
            if (text.find(" 407") != std::string::npos)
                return "プロキシサーバーが認証を求めています (" + text.substr(26) + ")";
            return "プロキシサーバーが接続を中継しません (" + text.substr(26) + ")";
        }
        if (text == "Proxy closed the connection before the tunnel opened")
            return "プロキシサーバーが接続を閉じました (" + http.Proxy + ")";
        if (text == "Null Remote Address" || text == "Host Lookup Failed")
            return peer + " が見つかりません";
        if (text == "Host Lookup Timed Out")
            return peer + " を調べられませんでした (時間切れ)";
        if (text == "Connection Failed") {
            const int number = http.ConnectErrorNo();
            const std::string why = http.ErrorMessage(static_cast<std::uint16_t>(number));
            if (number == WSAECONNREFUSED)
                return peer + " に接続を拒否されました (" + why + ")";
            if (number == WSAEHOSTUNREACH || number == WSAENETUNREACH || number == WSAENETDOWN)
                return "インターネットに接続されていません";
            if (number == WSAETIMEDOUT)
                return peer + " が応答しません";
            return peer + " に接続できません (" + why + ")";
        }
        if (text == "Connection Timed out" || text == "TLS handshake timed out")
            return peer + " が応答しません";
        if (startsWith(text, "Transfer closed with outstanding read data remaining") ||
            text == "TLS connection ended without close_notify")
            return "ダウンロードが途中で切れました (" + text + ")";
        if (text == "Invalid Content-Length" || text == "Partial reply does not match the request" ||
            text == "Header too long" || text == "Line too long")
            return "サーバーの応答が正しくありません (" + text + ")";
        if (http.LastErrorNo() >= 10000)
            return "接続が切れました (" + text + ")";
        return "ダウンロードできませんでした (" + text + ")";
    } catch (const EVerifyError& e) {
        return e.Message();
    } catch (const EStreamError& e) {
        return "ファイルを保存できません: " + e.Message();
    } catch (const Exception& e) {
        return "ダウンロードできませんでした (" + e.Message() + ")";
    } catch (const std::exception& e) {
        return std::string("ダウンロードできませんでした (") + e.what() + ")";
    } catch (...) {
        return "ダウンロードできませんでした";
    }
}

std::string TDownload::ExtractionText(int result)
{
    std::string why;
    switch (result) {
    case ARCERR_OPEN: why = "書庫を開けません"; break;
    case ARCERR_NOT_ARCHIVE: why = "この形式の書庫ではありません"; break;
    case ARCERR_DAMAGED: why = "書庫が壊れています"; break;
    case ARCERR_CRC: why = "書庫の中のファイルが壊れています (CRC エラー)"; break;
    case ARCERR_METHOD: why = "対応していない圧縮方法か、暗号化されたファイルがあります"; break;
    case ARCERR_UNSAFE: why = "危険な名前のファイルがあったので展開しませんでした"; break;
    case ARCERR_WRITE: why = "ファイルを書き込めません"; break;
    case ARCERR_ABORTED: why = "展開を中止しました"; break;
    case ARCERR_NO_FILES: why = "展開するファイルがありません"; break;
    case ARCERR_NAME: why = "扱えない名前か大きさのファイルがあります"; break;
    default: why = "エラー番号 " + std::to_string(result); break;
    }
    return "解凍できませんでした: " + why;
}
