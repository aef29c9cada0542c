#include "app/Verification.h"

#include "net/Url.h"
#include "platform/FileNames.h"
#include "runtime/SysUtils.h"

#include <QDateTime>
#include <QDir>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* NotThePublishers = "発行者のファイルと確認できませんでした";
constexpr const char* BadSetup = "ファイルを確かめる設定が正しくありません";

// The file's bytes, at most `limit`; nothing when it is missing, larger or
// unreadable (a link is not followed).
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit, bool& missing)
{
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        missing = errno == ENOENT;
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > limit) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

// One line of the file of accepted signature times.
struct TimesLine {
    std::string keyId;
    std::string time;
    std::string address;
};

std::vector<TimesLine> timesLines(const std::string& text)
{
    std::vector<TimesLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 != std::string::npos)
            lines.push_back({line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)});
    }
    return lines;
}

} // namespace

TVerification::TVerification(std::string folder) : folder_(std::move(folder)) {}

bool TVerification::Fail(const std::string& lead, const std::string& why)
{
    error_ = lead + "\n" + why;
    return false;
}

bool TVerification::Load(const std::string& name)
{
    name_ = name;
    pin_.reset();
    key_.reset();
    signature_.reset();
    error_.clear();
    bool missing = false;
    const std::string pinPath = ResolveName(folder_, PinFile);
    if (const auto text = readSmallFile(pinPath, 64 * 1024, missing)) {
        pin_ = TSha256Pin::Parse(*text);
        if (!pin_)
            return Fail(BadSetup, std::string(PinFile) +
                                      " の形式が正しくありません (sha256sum の形の 1 行: 16 進数 64 桁、空白 2 つ、ファイル名)");
        if (pin_->Name != name)
            return Fail(BadSetup, std::string(PinFile) + " は別のファイル (" + pin_->Name + ") のものです (このファイルは " +
                                      name + ")");
    } else if (!missing) {
        return Fail(BadSetup, std::string(PinFile) + " を読めません");
    }
    const std::string keyPath = ResolveName(folder_, KeyFile);
    if (const auto text = readSmallFile(keyPath, 64 * 1024, missing)) {
        key_ = TMinisign::ParseKey(*text);
        if (!key_)
            return Fail(BadSetup, std::string(KeyFile) + " は minisign の公開鍵ではありません");
    } else if (!missing) {
        return Fail(BadSetup, std::string(KeyFile) + " を読めません");
    }
    return true;
}

std::string TVerification::SignatureAddress(const std::string& url)
{
    TUrlParts parts = SplitReference(url);
    parts.Path += ".minisig";
    parts.HasFragment = false;
    return JoinReference(parts);
}

bool TVerification::SetSignature(const std::string& text)
{
    signature_ = TMinisign::ParseSignature(text);
    if (!signature_)
        return Fail(NotThePublishers, "署名ファイル (" + name_ + ".minisig) の形式が正しくありません");
    return true;
}

void TVerification::SignatureMissing(int replyNumber, const std::string& why)
{
    if (replyNumber == 404 || replyNumber == 410)
        Fail(NotThePublishers, "署名がありません: 署名ファイル " + name_ + ".minisig がサーバーにありません");
    else if (replyNumber != 0)
        Fail(NotThePublishers, "署名ファイル " + name_ + ".minisig を受け取れません (応答 " + std::to_string(replyNumber) + ")");
    else
        Fail(NotThePublishers, "署名ファイル " + name_ + ".minisig を受け取れません (" + why + ")");
}

unsigned TVerification::DigestKinds() const
{
    unsigned kinds = 0;
    if (pin_)
        kinds |= TStreamDigest::dkSha256;
    if (signature_ && signature_->Prehashed)
        kinds |= TStreamDigest::dkBlake2b512;
    return kinds;
}

bool TVerification::Check(const TStreamDigest::TResult& digests, const std::string& partFile, const std::string& address)
{
    error_.clear();
    if ((pin_ || (signature_ && signature_->Prehashed)) && !digests.Ok)
        return Fail(NotThePublishers, "ファイルの SHA-256 を計算できません (" + digests.Error + ")");
    if (pin_ && digests.Sha256 != pin_->Digest)
        return Fail(NotThePublishers, "SHA-256 が一致しません: 求める値 " + TSha256Pin::Hex(pin_->Digest.data(), 32) +
                                          "、受け取ったファイル " + TSha256Pin::Hex(digests.Sha256.data(), 32));
    if (!key_)
        return true;
    if (!signature_)
        return Fail(NotThePublishers, "署名がありません");
    TMinisign::TResult result = TMinisign::msInvalid;
    if (signature_->Prehashed) {
        result = TMinisign::VerifyPrehashed(*key_, *signature_, digests.Blake2b512.data());
    } else {
        // The legacy form signs the file itself: it is read once more.
        const int fd = ::open(partFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            if (fd >= 0)
                ::close(fd);
            return Fail(NotThePublishers, "ファイルを読めません (" + std::string(std::strerror(errno)) + ")");
        }
        const auto size = static_cast<std::size_t>(st.st_size);
        void* map = size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
        ::close(fd);
        if (size && map == MAP_FAILED)
            return Fail(NotThePublishers, "ファイルを読めません (" + std::string(std::strerror(errno)) + ")");
        result = TMinisign::VerifyMessage(*key_, *signature_, static_cast<const unsigned char*>(map), size);
        if (map)
            ::munmap(map, size);
    }
    switch (result) {
    case TMinisign::msOk:
        break;
    case TMinisign::msOtherKey:
        return Fail(NotThePublishers, "別の鍵の署名です: 署名の鍵 " + signature_->KeyId() + "、" + KeyFile + " の鍵 " +
                                          key_->KeyId());
    case TMinisign::msCommentInvalid:
        return Fail(NotThePublishers, "署名の信頼できるコメントが書き換えられています");
    default:
        return Fail(NotThePublishers, "ファイルが署名と一致しません: 書き換えられたか、壊れています");
    }
    const TMinisign::TComment comment = TMinisign::Comment(signature_->TrustedComment);
    if (comment.File && *comment.File != name_)
        return Fail(NotThePublishers, "別のファイルの署名です: 署名は " + *comment.File + " のもの、このファイルは " + name_);
    if (comment.Timestamp) {
        const auto newest = NewestAccepted(address);
        if (newest && *comment.Timestamp < *newest) {
            const auto when = [](std::uint64_t t) {
                return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t))
                    .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                    .toStdString();
            };
            return Fail(NotThePublishers, "前に受け取ったものより古い版です: 署名の日時 " + when(*comment.Timestamp) +
                                              "、前回 " + when(*newest));
        }
    }
    return true;
}

std::string TVerification::TimesFile()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return (base + QStringLiteral("/fetchlet/signatures")).toStdString();
}

std::optional<std::uint64_t> TVerification::NewestAccepted(const std::string& address) const
{
    bool missing = false;
    const auto text = readSmallFile(TimesFile(), 16 * 1024 * 1024, missing);
    if (!text || !key_)
        return std::nullopt;
    const std::string keyId = key_->KeyId();
    std::optional<std::uint64_t> newest;
    for (const TimesLine& line : timesLines(*text)) {
        const std::string& digits = line.time;
        if (line.keyId != keyId || line.address != address || digits.empty() || digits.size() > 19 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::uint64_t time = std::stoull(digits);
        if (!newest || time > *newest)
            newest = time;
    }
    return newest;
}

void TVerification::Accepted(const std::string& address)
{
    if (!key_ || !signature_ || address.find('\n') != std::string::npos)
        return;
    const TMinisign::TComment comment = TMinisign::Comment(signature_->TrustedComment);
    if (!comment.Timestamp)
        return;
    const auto newest = NewestAccepted(address);
    if (newest && *newest >= *comment.Timestamp)
        return;
    // The other lines stay; this address and key get the new time.
    const std::string path = TimesFile();
    bool missing = false;
    const std::string old = readSmallFile(path, 16 * 1024 * 1024, missing).value_or(std::string());
    const std::string keyId = key_->KeyId();
    std::string kept;
    for (const TimesLine& line : timesLines(old))
        if (line.keyId != keyId || line.address != address)
            kept += line.keyId + "\t" + line.time + "\t" + line.address + "\n";
    kept += keyId + "\t" + std::to_string(*comment.Timestamp) + "\t" + address + "\n";

    const std::string folder = path.substr(0, path.rfind('/'));
    QDir().mkpath(QString::fromStdString(folder));
    ReplaceFileWith(path, kept, 0600);
}
