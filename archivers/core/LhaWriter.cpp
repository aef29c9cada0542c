// The LHA writer: level-2 headers with a header CRC and Unix permissions,
// CP932 names with 0xFF between folders, -lhd- folders, links as
// "name|target", -lh5- through our own encoder (no Debian library writes
// LHA) with -lh0- for data that does not shrink; the reasons are in
// LhaWriter.h.
#include "core/LhaWriter.h"

#include "core/Crc16.h"
#include "core/NameCodec.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arc {
namespace {

constexpr size_t kBufferSize = 256 * 1024;
constexpr size_t kKeptInMemory = 1024 * 1024;
constexpr uint64_t kMaxSize = 0xFFFFFFFFu;
constexpr size_t kMaxHeader = 0xFFFF;

void Put16(std::string& s, uint32_t v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

void Ext(std::string& h, uint8_t type, const std::string& data)
{
    // The size just written (at the end of h) counts the type byte, the
    // data and the size of the next extension header.
    size_t at = h.size() - 2;
    size_t size = 1 + data.size() + 2;
    h[at] = static_cast<char>(size & 0xFF);
    h[at + 1] = static_cast<char>((size >> 8) & 0xFF);
    h += static_cast<char>(type);
    h += data;
    Put16(h, 0);
}

// Whether a CP932 text has the byte b as a character of its own (not as
// the second byte of a double-byte character).
bool HasSingleByte(const std::string& cp932, char b)
{
    for (size_t i = 0; i < cp932.size(); ++i) {
        auto c = static_cast<unsigned char>(cp932[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))
            ++i;
        else if (cp932[i] == b)
            return true;
    }
    return false;
}

uint32_t UnixTime(int64_t t)
{
    if (t < 0)
        t = static_cast<int64_t>(std::time(nullptr));
    return static_cast<uint32_t>(std::clamp<int64_t>(t, 0, 0xFFFFFFFF));
}

// A temporary file that no folder names: beside the archive when the
// descriptor's path can be learnt, else in the temporary folder.
int UnnamedFile(int archiveFd)
{
    std::vector<std::string> folders;
    char link[PATH_MAX];
    std::string proc = "/proc/self/fd/" + std::to_string(archiveFd);
    ssize_t n = readlink(proc.c_str(), link, sizeof link - 1);
    if (n > 0 && link[0] == '/') {
        std::string path(link, static_cast<size_t>(n));
        folders.push_back(path.substr(0, std::max<size_t>(path.rfind('/'), 1)));
    }
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        folders.emplace_back(tmp);
    folders.emplace_back("/tmp");
    for (const auto& folder : folders) {
        int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0)
            return fd;
        std::string pattern = folder + "/.lhawriter-XXXXXX";
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd >= 0) {
            unlink(pattern.c_str());
            return fd;
        }
    }
    return -1;
}

bool WriteAll(int fd, const uint8_t* p, size_t n, uint64_t offset)
{
    while (n > 0) {
        ssize_t w = pwrite(fd, p, n, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        offset += static_cast<uint64_t>(w);
    }
    return true;
}

} // namespace

LhaWriter::LhaWriter(int fd, Method method) : fd_(fd), method_(method)
{
    off_t at = lseek(fd, 0, SEEK_CUR);
    base_ = at > 0 ? static_cast<uint64_t>(at) : 0;
    buffer_.reserve(kBufferSize);
}

LhaWriter::~LhaWriter()
{
    if (keptFd_ >= 0)
        close(keptFd_);
}

std::string LhaWriter::Error() const { return error_; }

bool LhaWriter::Fail(const std::string& what, int error)
{
    failed_ = true;
    error_ = what + (error ? std::string(": ") + std::strerror(error) : std::string());
    return false;
}

std::string LhaWriter::HeaderOf(const Entry& e) const
{
    std::string h;
    Put16(h, 0); // the header's size, set below
    h += e.method;
    Put32(h, static_cast<uint32_t>(e.packed));
    Put32(h, static_cast<uint32_t>(e.size));
    Put32(h, e.mtime);
    h += '\x20';
    h += '\x02';
    Put16(h, e.crc);
    h += 'U';
    Put16(h, 0);
    Ext(h, 0x00, std::string(2, '\0'));
    size_t crcAt = h.size() - 4;
    Ext(h, 0x01, e.file);
    if (!e.folders.empty())
        Ext(h, 0x02, e.folders);
    if (e.attributes) {
        std::string a;
        Put16(a, e.attributes & 0xFF);
        Ext(h, 0x40, a);
    }
    std::string mode;
    Put16(mode, e.mode & 0xFFFF);
    Ext(h, 0x50, mode);
    if ((h.size() & 0xFF) == 0)
        h += '\0';
    h[0] = static_cast<char>(h.size() & 0xFF);
    h[1] = static_cast<char>((h.size() >> 8) & 0xFF);
    uint16_t crc = Crc16(0, reinterpret_cast<const uint8_t*>(h.data()), h.size());
    h[crcAt] = static_cast<char>(crc & 0xFF);
    h[crcAt + 1] = static_cast<char>(crc >> 8);
    return h;
}

bool LhaWriter::Begin(const Member& member, std::string& why)
{
    if (failed_ || finished_) {
        why = failed_ ? error_ : "the archive is finished";
        return false;
    }
    if (open_) {
        why = "the member before has not ended";
        return false;
    }
    std::string name = member.name;
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    if (name.empty()) {
        why = "a member without a name";
        return false;
    }
    if (member.type == Member::Hardlink) {
        why = name + ": an LHA archive cannot hold a hard link";
        return false;
    }
    if (member.type == Member::File && member.size > kMaxSize) {
        why = name + ": too large for an LHA archive (4 GiB at most)";
        return false;
    }
    std::string stored;
    if (name.find('\\') != std::string::npos) {
        why = name + ": \"\\\" separates folders in an LHA archive";
        return false;
    }
    if (name.find('\0') != std::string::npos || !Utf8ToCp932(name, stored) || HasSingleByte(stored, '\\')) {
        why = name + ": the name has no Shift-JIS (CP932) form";
        return false;
    }
    if (member.type == Member::Symlink) {
        std::string target;
        if (member.link.empty() || member.link.find('\\') != std::string::npos
            || member.link.find('\0') != std::string::npos || !Utf8ToCp932(member.link, target)
            || HasSingleByte(target, '\\')) {
            why = name + ": the link target has no Shift-JIS (CP932) form";
            return false;
        }
        if (stored.find('|') != std::string::npos) {
            why = name + ": a link name with \"|\" cannot be stored";
            return false;
        }
        stored += '|' + target;
    }

    Entry e;
    size_t slash = stored.rfind('/');
    if (member.type == Member::Folder) {
        e.folders = stored + '/';
    } else if (slash != std::string::npos) {
        e.folders = stored.substr(0, slash + 1);
        e.file = stored.substr(slash + 1);
    } else {
        e.file = stored;
    }
    std::replace(e.folders.begin(), e.folders.end(), '/', '\xFF');
    uint32_t perms = member.mode & 07777;
    switch (member.type) {
    case Member::Folder:
        e.method = "-lhd-";
        e.mode = S_IFDIR | (perms ? perms : 0755);
        break;
    case Member::Symlink:
        e.method = "-lhd-";
        e.mode = S_IFLNK | (perms ? perms : 0777);
        break;
    default:
        e.method = method_ == Method::Lh5 ? "-lh5-" : "-lh0-";
        e.mode = S_IFREG | (perms ? perms : 0644);
        break;
    }
    e.attributes = member.attributes & 0x27; // read-only, hidden, system, archive
    e.mtime = UnixTime(member.mtime);
    std::string header = HeaderOf(e);
    if (header.size() > kMaxHeader) {
        why = name + ": the name is too long for an LHA header";
        return false;
    }

    headerAt_ = Tell();
    if (!Emit(header.data(), header.size())) {
        why = error_;
        return false;
    }
    dataAt_ = Tell();
    entry_ = e;
    open_ = true;
    isFile_ = member.type == Member::File;
    tooLarge_ = false;
    if (isFile_ && method_ == Method::Lh5) {
        kept_.clear();
        keptInFile_ = 0;
        if (encoder_)
            encoder_->Reset();
        else
            encoder_ = std::make_unique<LhaEncoder>([this](const uint8_t* d, size_t n) { return Emit(d, n); });
    }
    return true;
}

bool LhaWriter::Write(const void* data, size_t size)
{
    if (failed_ || tooLarge_)
        return false;
    if (!open_ || !isFile_) {
        error_ = "data without a file member";
        return false;
    }
    if (size == 0)
        return true;
    if (entry_.size + size > kMaxSize) {
        tooLarge_ = true;
        error_ = "more than 4 GiB of data for one member";
        return false;
    }
    const auto* p = static_cast<const uint8_t*>(data);
    entry_.crc = Crc16(entry_.crc, p, size);
    entry_.size += size;
    if (method_ == Method::Lh0)
        return Emit(p, size);
    return Keep(p, size) && encoder_->Write(p, size);
}

bool LhaWriter::End()
{
    if (failed_ || !open_)
        return false;
    open_ = false;
    if (tooLarge_) {
        Rewind(headerAt_);
        return false;
    }
    if (isFile_) {
        if (method_ == Method::Lh5) {
            if (!encoder_->Finish())
                return false;
            uint64_t packed = encoder_->BytesOut();
            if (packed < entry_.size) {
                entry_.method = "-lh5-";
                entry_.packed = packed;
            } else {
                Rewind(dataAt_);
                if (!StoreKept())
                    return false;
                entry_.method = "-lh0-";
                entry_.packed = entry_.size;
            }
        } else {
            entry_.packed = entry_.size;
        }
    }
    return Patch(headerAt_, HeaderOf(entry_));
}

bool LhaWriter::Finish()
{
    if (failed_ || finished_)
        return false;
    if (open_ && !End())
        return false;
    const uint8_t mark = 0;
    if (!Emit(&mark, 1) || !Flush())
        return false;
    if (ftruncate(fd_, static_cast<off_t>(Tell())) != 0)
        return Fail("cannot cut the archive to its end", errno);
    finished_ = true;
    return true;
}

bool LhaWriter::Emit(const void* data, size_t size)
{
    if (failed_)
        return false;
    const auto* p = static_cast<const uint8_t*>(data);
    if (buffer_.size() + size > kBufferSize && !Flush())
        return false;
    if (size >= kBufferSize) {
        if (!WriteAll(fd_, p, size, base_))
            return Fail("cannot write the archive", errno);
        base_ += size;
        return true;
    }
    buffer_.insert(buffer_.end(), p, p + size);
    return true;
}

bool LhaWriter::Flush()
{
    if (failed_)
        return false;
    if (!buffer_.empty() && !WriteAll(fd_, buffer_.data(), buffer_.size(), base_))
        return Fail("cannot write the archive", errno);
    base_ += buffer_.size();
    buffer_.clear();
    return true;
}

bool LhaWriter::Patch(uint64_t offset, const std::string& bytes)
{
    if (offset >= base_) {
        std::memcpy(buffer_.data() + (offset - base_), bytes.data(), bytes.size());
        return true;
    }
    if (!WriteAll(fd_, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), offset))
        return Fail("cannot write the archive", errno);
    return true;
}

void LhaWriter::Rewind(uint64_t offset)
{
    // What lies past offset in the file is overwritten by what follows, or
    // cut off by Finish.
    if (offset >= base_) {
        buffer_.resize(offset - base_);
    } else {
        buffer_.clear();
        base_ = offset;
    }
}

bool LhaWriter::Keep(const uint8_t* data, size_t size)
{
    size_t inMemory = std::min(size, kKeptInMemory - std::min(kKeptInMemory, kept_.size()));
    kept_.insert(kept_.end(), data, data + inMemory);
    data += inMemory;
    size -= inMemory;
    if (size == 0)
        return true;
    if (keptFd_ < 0) {
        keptFd_ = UnnamedFile(fd_);
        if (keptFd_ < 0)
            return Fail("cannot make a temporary file", errno);
    }
    if (!WriteAll(keptFd_, data, size, keptInFile_))
        return Fail("cannot write a temporary file", errno);
    keptInFile_ += size;
    return true;
}

bool LhaWriter::StoreKept()
{
    if (!Emit(kept_.data(), kept_.size()))
        return false;
    std::vector<uint8_t> chunk(kBufferSize);
    for (uint64_t at = 0; at < keptInFile_;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), keptInFile_ - at));
        ssize_t r = pread(keptFd_, chunk.data(), want, static_cast<off_t>(at));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return Fail("cannot read a temporary file", r < 0 ? errno : EIO);
        if (!Emit(chunk.data(), static_cast<size_t>(r)))
            return false;
        at += static_cast<uint64_t>(r);
    }
    return true;
}

} // namespace arc
