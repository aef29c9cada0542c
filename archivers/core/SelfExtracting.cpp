#include "core/SelfExtracting.h"

#include "ArchiverApi.h"
#include "core/ArjReader.h"
#include "core/Files.h"
#include "core/Readers.h"
#include "core/ZipRecords.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace arc {
namespace {

bool IsFile(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LeafOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool CopyInto(int out, const std::string& path, std::string& why)
{
    int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            if (!ok)
                why = "cannot read " + path + ": " + std::strerror(errno);
            break;
        }
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
            why = std::string("cannot write: ") + std::strerror(errno);
            close(in);
            return false;
        }
    }
    close(in);
    return ok;
}

const char* StubName(Kind kind)
{
    switch (kind) {
    case Kind::Lha:
        return "lhasfx.dat";
    case Kind::Cab:
        return "cabsfx.dat";
    case Kind::Bga:
        return "bgasfx.dat";
    default:
        return nullptr;
    }
}

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint64_t U64(const unsigned char* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }
void Put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put64(unsigned char* p, uint64_t v)
{
    Put32(p, static_cast<uint32_t>(v));
    Put32(p + 4, static_cast<uint32_t>(v >> 32));
}

} // namespace

std::string FindStub(const std::string& name)
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&FindStub), &info) && info.dli_fname) {
        std::string own = FolderOf(info.dli_fname) + name;
        if (IsFile(own))
            return own;
    }
    if (IsFile(name))
        return name;
    return FindOnPath(name, IsFile);
}

int MakeSelfExtracting(Kind kind, const Command& cmd, std::string& log)
{
    const std::string& archive = cmd.archive;
    bool readable = IsFile(archive) && (Recognises(kind, archive) || (kind == Kind::Lha && ArjRecognises(archive)));
    if (!readable) {
        log += "error: " + archive + ": not an archive this library reads\n";
        return IsFile(archive) ? ARCERR_NOT_ARCHIVE : ARCERR_OPEN;
    }
    const char* stubName = StubName(kind);
    std::string stub = stubName ? FindStub(stubName) : std::string();
    if (stub.empty()) {
        log += std::string("error: the stub program ") + (stubName ? stubName : "") + " is not found\n";
        return ARCERR_OPEN;
    }
    std::string leaf = LeafOf(archive);
    size_t dot = leaf.rfind('.');
    if (dot != std::string::npos && dot > 0)
        leaf.resize(dot);
    std::string folder = cmd.destination.empty() ? FolderOf(archive) : cmd.destination;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    const std::string output = folder + leaf + ".exe";
    // A name of its own, never an existing file or a link someone left.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + "." + leaf + ".exe." + std::to_string(getpid()) + "-" + std::to_string(attempt);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        log += "error: cannot create " + output + ": " + std::strerror(errno) + "\n";
        return ARCERR_WRITE;
    }
    std::string why;
    bool ok = CopyInto(fd, stub, why) && CopyInto(fd, archive, why);
    if (ok && fsync(fd) != 0) {
        why = std::string("cannot write: ") + std::strerror(errno);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        why = std::string("cannot write: ") + std::strerror(errno);
        ok = false;
    }
    if (ok && rename(temp.c_str(), output.c_str()) != 0) {
        why = "cannot create " + output + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        unlink(temp.c_str());
        log += "error: " + why + "\n";
        return ARCERR_WRITE;
    }
    log += output + "\n";
    return 0;
}

int AdjustZipOffsets(const std::string& path, std::string& log)
{
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        log += "error: cannot open " + path + "\n";
        if (fd >= 0)
            close(fd);
        return ARCERR_OPEN;
    }
    auto fail = [&](int error, const std::string& why) {
        log += "error: " + path + ": " + why + "\n";
        close(fd);
        return error;
    };
    const off_t size = st.st_size;
    const off_t tailStart = size > 65557 ? size - 65557 : 0;
    std::vector<unsigned char> tail(static_cast<size_t>(size - tailStart));
    if (pread(fd, tail.data(), tail.size(), tailStart) != static_cast<ssize_t>(tail.size()))
        return fail(ARCERR_OPEN, "cannot be read");
    size_t at = std::string::npos;
    for (size_t i = tail.size() >= 22 ? tail.size() - 22 + 1 : 0; i-- > 0;)
        if (IsZipRecord(&tail[i], ZipRecord::End)) {
            at = i;
            break;
        }
    if (at == std::string::npos)
        return fail(ARCERR_NOT_ARCHIVE, "not a ZIP archive");
    const off_t eocd = tailStart + static_cast<off_t>(at);
    unsigned char* end = &tail[at];
    // ZIP64: the locator just before the end record points to the ZIP64 end
    // record, which holds the directory's size and offset.
    bool zip64 = false;
    unsigned char locator[20], record[56];
    off_t record64 = 0;
    uint64_t dirSize = U32(end + 12), dirOffset = U32(end + 16);
    if (eocd >= 20 && pread(fd, locator, 20, eocd - 20) == 20 && IsZipRecord(locator, ZipRecord::Locator64)) {
        // The ZIP64 end record lies just before its locator.
        record64 = eocd - 20 - 56;
        if (record64 < 0 || pread(fd, record, 56, record64) != 56 || !IsZipRecord(record, ZipRecord::End64))
            return fail(ARCERR_DAMAGED, "damaged ZIP64 end record");
        zip64 = true;
        dirSize = U64(record + 40);
        dirOffset = U64(record + 48);
    }
    const off_t dirStart = (zip64 ? record64 : eocd) - static_cast<off_t>(dirSize);
    if (dirStart < 0)
        return fail(ARCERR_DAMAGED, "damaged central directory");
    const int64_t shift = static_cast<int64_t>(dirStart) - static_cast<int64_t>(dirOffset);
    if (shift == 0) {
        close(fd);
        return 0;
    }
    if (shift < 0)
        return fail(ARCERR_DAMAGED, "the directory lies before where it says");
    if (!zip64 && dirOffset + static_cast<uint64_t>(shift) >= 0xFFFFFFFF)
        return fail(ARCERR_NAME, "the offsets do not fit without ZIP64");
    std::vector<unsigned char> dir(static_cast<size_t>(dirSize));
    if (pread(fd, dir.data(), dir.size(), dirStart) != static_cast<ssize_t>(dir.size()))
        return fail(ARCERR_DAMAGED, "cannot read the central directory");
    for (size_t p = 0; p + 46 <= dir.size();) {
        if (!IsZipRecord(&dir[p], ZipRecord::Central))
            return fail(ARCERR_DAMAGED, "damaged central directory");
        size_t nameLen = U16(&dir[p + 28]), extraLen = U16(&dir[p + 30]), commentLen = U16(&dir[p + 32]);
        if (p + 46 + nameLen + extraLen + commentLen > dir.size())
            return fail(ARCERR_DAMAGED, "damaged central directory");
        uint32_t offset = U32(&dir[p + 42]);
        if (offset != 0xFFFFFFFF) {
            uint64_t moved = uint64_t(offset) + static_cast<uint64_t>(shift);
            if (moved >= 0xFFFFFFFF)
                return fail(ARCERR_NAME, "the offsets do not fit without ZIP64");
            Put32(&dir[p + 42], static_cast<uint32_t>(moved));
        } else {
            // The offset is the last of the ZIP64 extra field's values.
            for (size_t e = p + 46 + nameLen; e + 4 <= p + 46 + nameLen + extraLen;) {
                unsigned id = U16(&dir[e]), len = U16(&dir[e + 2]);
                if (e + 4 + len > p + 46 + nameLen + extraLen)
                    return fail(ARCERR_DAMAGED, "damaged central directory");
                if (id == 1) {
                    size_t value = e + 4;
                    if (U32(&dir[p + 24]) == 0xFFFFFFFF)
                        value += 8;
                    if (U32(&dir[p + 20]) == 0xFFFFFFFF)
                        value += 8;
                    if (value + 8 <= e + 4 + len)
                        Put64(&dir[value], U64(&dir[value]) + static_cast<uint64_t>(shift));
                }
                e += 4 + len;
            }
        }
        p += 46 + nameLen + extraLen + commentLen;
    }
    bool ok = pwrite(fd, dir.data(), dir.size(), dirStart) == static_cast<ssize_t>(dir.size());
    if (zip64) {
        Put64(record + 48, dirOffset + static_cast<uint64_t>(shift));
        Put64(locator + 8, U64(locator + 8) + static_cast<uint64_t>(shift));
        ok = ok && pwrite(fd, record, 56, record64) == 56 && pwrite(fd, locator, 20, eocd - 20) == 20;
    }
    if (U32(end + 16) != 0xFFFFFFFF) {
        Put32(end + 16, static_cast<uint32_t>(dirOffset + static_cast<uint64_t>(shift)));
        ok = ok && pwrite(fd, end, 22, eocd) == 22;
    }
    if (!ok)
        return fail(ARCERR_WRITE, std::string("cannot write: ") + std::strerror(errno));
    close(fd);
    log += path + ": offsets moved by " + std::to_string(shift) + " bytes\n";
    return 0;
}

} // namespace arc
