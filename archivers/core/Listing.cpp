#include "core/Listing.h"

#include "core/LhasaReader.h"
#include "core/LibarchiveReader.h"
#include "core/NameCodec.h"
#include "core/ZipRecords.h"
#include "core/Readers.h"
#include "core/SecondChance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace arc {
namespace {

class ListSink : public MemberSink {
public:
    explicit ListSink(Listing& listing) : listing_(listing) {}
    Step BeginMember(const Member& member) override
    {
        listing_.members.push_back(member);
        return Step::Skip;
    }
    void EndMember(bool, int, const std::string&) override {}
    void AbandonMember(const std::string&) override {}
    void Fail(int error, const std::string&) override
    {
        if (listing_.error == 0)
            listing_.error = error;
    }
    void Note(const std::string&) override {}

protected:
    bool OnWrite(const void*, size_t) override { return true; }
    bool OnStopped() const override { return false; }

private:
    Listing& listing_;
};

class MemorySink : public MemberSink {
public:
    MemorySink(const std::string& name, bool escape, char* buffer, size_t size)
        : name_(name), escape_(escape), buffer_(buffer), size_(size)
    {
    }
    Step BeginMember(const Member& member) override
    {
        if (done_ || member.type != Member::File)
            return done_ ? Step::Stop : Step::Skip;
        if (!NameMatches(name_, member.name, escape_))
            return Step::Skip;
        found_ = true;
        member_ = member;
        written_ = 0;
        overflow_ = false;
        return Step::Write;
    }
    void EndMember(bool ok, int error, const std::string&) override
    {
        if (ok) {
            done_ = true;
            error_ = overflow_ ? ARCERR_SMALL_BUFFER : 0;
        } else if (error_ == 0) {
            error_ = error ? error : ARCERR_DAMAGED;
        }
    }
    void AbandonMember(const std::string&) override { written_ = 0; }
    void Fail(int error, const std::string&) override
    {
        if (!done_ && error_ == 0)
            error_ = error ? error : ARCERR_DAMAGED;
    }
    void Note(const std::string&) override {}

    int Result() const { return done_ ? error_ : found_ ? (error_ ? error_ : ARCERR_DAMAGED) : error_ ? error_ : ARCERR_NO_FILES; }
    size_t Written() const { return written_; }
    const Member& Found() const { return member_; }

protected:
    bool OnWrite(const void* data, size_t size) override
    {
        size_t n = std::min(size, size_ - written_);
        if (n)
            std::memcpy(buffer_ + written_, data, n);
        written_ += n;
        if (n < size)
            overflow_ = true;
        return true;
    }
    bool OnStopped() const override { return done_; }

private:
    std::string name_;
    bool escape_;
    char* buffer_;
    size_t size_;
    size_t written_ = 0;
    bool overflow_ = false, found_ = false, done_ = false;
    int error_ = 0;
    Member member_;
};

struct Stored {
    uint64_t packed = 0;
    uint32_t crc = 0;
    std::string method;
};

uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint64_t U64(const unsigned char* p) { return U32(p) | (static_cast<uint64_t>(U32(p + 4)) << 32); }

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

const char* ZipMethod(unsigned m)
{
    switch (m) {
    case 0: return "Stored";
    case 8: return "Deflate";
    case 9: return "Deflate64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 93: return "Zstandard";
    case 95: return "XZ";
    case 98: return "PPMd";
    case 99: return "AES";
    default: return "ZIP";
    }
}

// The central directory of a ZIP archive: stored sizes, CRC-32, methods.
std::multimap<std::string, Stored> ZipDirectory(const std::string& path)
{
    std::multimap<std::string, Stored> out;
    FilePtr f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f || fseeko(f.get(), 0, SEEK_END) != 0)
        return out;
    off_t size = ftello(f.get());
    off_t tail = std::min<off_t>(size, 65536 + 22);
    std::vector<unsigned char> end(static_cast<size_t>(tail));
    if (fseeko(f.get(), size - tail, SEEK_SET) != 0 || std::fread(end.data(), 1, end.size(), f.get()) != end.size())
        return out;
    if (end.size() < 22)
        return out;
    size_t at = std::string::npos;
    for (size_t i = end.size() - 22 + 1; i-- > 0;)
        if (IsZipRecord(&end[i], ZipRecord::End)) {
            at = i;
            break;
        }
    if (at == std::string::npos)
        return out;
    uint64_t count = U16(&end[at + 10]);
    uint64_t dirSize = U32(&end[at + 12]);
    // The directory lies just before its end record (a stub before the
    // archive shifts every offset, so the stated offset is not trusted).
    off_t dirStart = size - tail + static_cast<off_t>(at) - static_cast<off_t>(dirSize);
    if (count == 0xFFFF || dirSize == 0xFFFFFFFF || dirStart < 0)
        return out; // ZIP64 directories: the sizes stay unknown
    std::vector<unsigned char> dir(static_cast<size_t>(dirSize));
    if (fseeko(f.get(), dirStart, SEEK_SET) != 0 || std::fread(dir.data(), 1, dir.size(), f.get()) != dir.size())
        return out;
    for (size_t p = 0; p + 46 <= dir.size() && count > 0; --count) {
        if (!IsZipRecord(&dir[p], ZipRecord::Central))
            break;
        unsigned flags = U16(&dir[p + 8]), method = U16(&dir[p + 10]);
        size_t nameLen = U16(&dir[p + 28]), extraLen = U16(&dir[p + 30]), commentLen = U16(&dir[p + 32]);
        if (p + 46 + nameLen + extraLen + commentLen > dir.size())
            break;
        std::string raw(reinterpret_cast<const char*>(&dir[p + 46]), nameLen);
        Stored s;
        s.crc = U32(&dir[p + 16]);
        s.packed = U32(&dir[p + 20]);
        // A ZIP64 extra field holds the sizes that do not fit.
        for (size_t e = p + 46 + nameLen; e + 4 <= p + 46 + nameLen + extraLen;) {
            unsigned id = U16(&dir[e]), len = U16(&dir[e + 2]);
            if (id == 1 && len >= 16 && U32(&dir[p + 20]) == 0xFFFFFFFF && e + 4 + 16 <= dir.size())
                s.packed = U64(&dir[e + 12]);
            e += 4 + len;
        }
        s.method = (flags & 1) && method != 99 ? std::string("Encrypted") : ZipMethod(method);
        std::string name = BackslashesToSlashes((flags & 0x800) && IsValidUtf8(raw) ? raw : DecodeName(raw, true));
        out.emplace(name, s);
        p += 46 + nameLen + extraLen + commentLen;
    }
    return out;
}

// The file headers of a RAR 1.5 to 4 archive.
std::multimap<std::string, Stored> RarHeaders(const std::string& path)
{
    std::multimap<std::string, Stored> out;
    FilePtr f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f)
        return out;
    unsigned char mark[7];
    if (std::fread(mark, 1, 7, f.get()) != 7 || std::memcmp(mark, "Rar!\x1a\x07\x00", 7) != 0)
        return out;
    for (int blocks = 0; blocks < 1000000; ++blocks) {
        off_t at = ftello(f.get());
        unsigned char h[32];
        if (std::fread(h, 1, 7, f.get()) != 7)
            break;
        unsigned type = h[2], flags = U16(h + 3), size = U16(h + 5);
        if (size < 7)
            break;
        uint64_t add = 0;
        if (type == 0x74) {
            if (size < 32 || std::fread(h + 7, 1, 25, f.get()) != 25)
                break;
            add = U32(h + 7);
            Stored s;
            s.packed = add;
            s.crc = U32(h + 16);
            unsigned method = h[25];
            s.method = method == 0x30 ? "Stored" : "-m" + std::to_string(method - 0x30);
            size_t nameLen = U16(h + 26);
            uint64_t high = 0;
            if (flags & 0x100) {
                unsigned char hi[8];
                if (std::fread(hi, 1, 8, f.get()) != 8)
                    break;
                high = U32(hi);
                s.packed |= high << 32;
                add = s.packed;
            }
            std::string raw(nameLen, '\0');
            if (nameLen && std::fread(raw.data(), 1, nameLen, f.get()) != nameLen)
                break;
            // Unicode names: the OEM name, a zero byte, then the encoded
            // form; the listing takes the reader's name, matched below by
            // the OEM part when it is plain ASCII.
            raw = raw.substr(0, raw.find('\0'));
            out.emplace(BackslashesToSlashes(DecodeName(raw, true)), s);
        } else if (flags & 0x8000) {
            unsigned char a[4];
            if (std::fread(a, 1, 4, f.get()) != 4)
                break;
            add = U32(a);
        }
        if (fseeko(f.get(), at + static_cast<off_t>(size) + static_cast<off_t>(add), SEEK_SET) != 0)
            break;
    }
    return out;
}

void Enrich(Kind kind, const std::string& path, std::vector<Member>& members)
{
    std::multimap<std::string, Stored> stored;
    if (kind == Kind::Zip)
        stored = ZipDirectory(path);
    else if (kind == Kind::Rar)
        stored = RarHeaders(path);
    else if (kind == Kind::Tar)
        for (auto& m : members)
            if (m.compressedSize == 0 && m.method == "tar" && m.type == Member::File)
                m.compressedSize = m.size;
    if (stored.empty())
        return;
    for (auto& m : members) {
        auto it = stored.find(m.type == Member::Folder && kind == Kind::Zip ? m.name + "/" : m.name);
        if (it == stored.end())
            it = stored.find(m.name);
        if (it == stored.end())
            continue;
        if (m.compressedSize == 0)
            m.compressedSize = it->second.packed;
        if (m.crc == 0)
            m.crc = it->second.crc;
        m.method = it->second.method;
        stored.erase(it);
    }
}

} // namespace

Listing ListArchive(Kind kind, const std::string& path)
{
    Listing listing;
    ListSink sink(listing);
    if (kind == Kind::Lha) {
        // liblhasa tells methods, sizes and check values; libarchive does not.
        sink.LimitTo(ArchiveSizeOf(path));
        ReadTwice(path, sink, ReadWithLhasa,
                  [](const std::string& p, MemberSink& s) { ReadWithLibarchive(Kind::Lha, p, s); }, false);
    } else {
        ReadArchive(kind, path, sink);
    }
    Enrich(kind, path, listing.members);
    return listing;
}

void FillRecord(const Member& m, INDIVIDUALINFO& info)
{
    info = INDIVIDUALINFO{};
    info.OriginalSize = m.size;
    info.CompressedSize = m.compressedSize;
    info.CRC = m.crc;
    info.Attributes = m.attributes | (m.type == Member::Folder ? 0x10 : 0);
    if (m.size > 0 && m.compressedSize > 0)
        info.Ratio = static_cast<uint16_t>(std::min<uint64_t>(65535, m.compressedSize * 1000 / m.size));
    info.Date = DosDate(m.mtime);
    info.Time = DosTime(m.mtime);
    info.MTime = m.mtime;
    std::snprintf(info.Method, sizeof info.Method, "%s", m.method.c_str());
    std::snprintf(info.FileName, sizeof info.FileName, "%s", m.name.c_str());
}

int ExtractToMemory(Kind kind, const std::string& path, const std::string& name, char* buffer, size_t size,
                    size_t& written, Member& member)
{
    MemorySink sink(name, kind != Kind::Zip, buffer, size);
    ReadArchive(kind, path, sink);
    written = sink.Written();
    member = sink.Found();
    return sink.Result();
}

} // namespace arc
