#include "core/UnarrReader.h"

#include "ArchiverApi.h"
#include "core/NameCodec.h"
#include "core/ZipRecords.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unarr.h>
#include <vector>

namespace arc {
namespace {

struct StreamClose {
    void operator()(ar_stream* s) const { ar_close(s); }
};
struct ArchiveClose {
    void operator()(ar_archive* a) const { ar_close_archive(a); }
};
using StreamPtr = std::unique_ptr<ar_stream, StreamClose>;
using ArchivePtr = std::unique_ptr<ar_archive, ArchiveClose>;

ArchivePtr OpenArchive(Kind kind, ar_stream* stream)
{
    return ArchivePtr(kind == Kind::Rar ? ar_open_rar_archive(stream) : ar_open_zip_archive(stream, false));
}

uint32_t U32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// What libunarr does not hand over: the member's check value, attributes
// and type, from the header at the offset libunarr gives for the member (a
// RAR file header, or a ZIP central directory entry).
void ReadEntryHeader(Kind kind, std::FILE* f, int64_t offset, Member& m)
{
    unsigned char h[46] = {};
    if (!f || fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fread(h, 1, sizeof h, f) < 32)
        return;
    bool unix = false;
    uint32_t attributes = 0;
    if (kind == Kind::Rar && h[2] == 0x74) {
        unix = h[15] == 3;
        m.crc = U32(h + 16);
        attributes = U32(h + 28);
    } else if (kind == Kind::Zip && IsZipRecord(h, ZipRecord::Central)) {
        unix = h[5] == 3;
        m.crc = U32(h + 16);
        attributes = U32(h + 38);
        if (unix)
            attributes >>= 16;
    } else {
        return;
    }
    if (unix) {
        if ((attributes & 0xF000) == 0xA000)
            m.type = Member::Symlink;
        else if ((attributes & 0xF000) == 0x4000)
            m.type = Member::Folder;
        m.mode = attributes & 0777;
    } else {
        m.attributes = attributes & 0x27;
        if (attributes & 0x10)
            m.type = Member::Folder;
    }
}

// 100 ns ticks since 1601 to seconds since 1970.
int64_t UnixTime(time64_t filetime)
{
    if (filetime <= 0)
        return -1;
    return filetime / 10000000 - 11644473600LL;
}

} // namespace

void ReadWithUnarr(Kind kind, const std::string& path, MemberSink& sink)
{
    StreamPtr stream(ar_open_file(path.c_str()));
    if (!stream) {
        sink.Fail(ARCERR_OPEN, "cannot open " + path);
        return;
    }
    ArchivePtr archive = OpenArchive(kind, stream.get());
    if (!archive) {
        sink.Fail(ARCERR_NOT_ARCHIVE, path + ": not an archive libunarr reads");
        return;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> headers(std::fopen(path.c_str(), "rb"), std::fclose);
    std::vector<char> buffer(65536);
    while (!sink.Stopped() && ar_parse_entry(archive.get())) {
        int64_t offset = ar_entry_get_offset(archive.get());
        if (!sink.AtHeader(static_cast<uint64_t>(offset)))
            return;
        const char* name = ar_entry_get_name(archive.get());
        Member m;
        std::string utf8 = name ? name : "", stored;
        m.name = utf8;
        if (Cp437Bytes(utf8, stored) && stored != utf8) {
            m.name = DecodeName(stored, true);
            m.altName = utf8;
        }
        m.name = BackslashesToSlashes(m.name);
        m.altName = BackslashesToSlashes(m.altName);
        m.size = ar_entry_get_size(archive.get());
        m.mtime = UnixTime(ar_entry_get_filetime(archive.get()));
        m.method = kind == Kind::Rar ? "RAR" : "ZIP";
        if (!m.name.empty() && m.name.back() == '/')
            m.type = Member::Folder;
        ReadEntryHeader(kind, headers.get(), offset, m);
        if (m.type == Member::Symlink) {
            // The data is the link's target.
            if (m.size > 4096 || !ar_entry_uncompress(archive.get(), buffer.data(), static_cast<size_t>(m.size))) {
                sink.Fail(ARCERR_DAMAGED, m.name + ": damaged link");
                continue;
            }
            m.link.assign(buffer.data(), static_cast<size_t>(m.size));
        }
        Step step = sink.BeginMember(m);
        if (step == Step::Stop)
            return;
        if (step == Step::Skip)
            continue;
        if (m.type != Member::File) {
            sink.EndMember(true);
            continue;
        }
        uint64_t left = m.size;
        bool ok = true;
        while (left > 0) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
            if (!ar_entry_uncompress(archive.get(), buffer.data(), n)) {
                sink.EndMember(false, ARCERR_DAMAGED, "error: " + m.name + ": damaged data or an unknown method");
                ok = false;
                break;
            }
            if (!sink.Write(buffer.data(), n)) {
                sink.EndMember(false);
                ok = false;
                break;
            }
            left -= n;
        }
        if (ok)
            sink.EndMember(true);
        else if (sink.Stopped())
            return;
    }
    if (!sink.Stopped() && !ar_at_eof(archive.get()))
        sink.Fail(ARCERR_DAMAGED, path + ": damaged archive");
}

bool UnarrRecognises(Kind kind, const std::string& path)
{
    StreamPtr stream(ar_open_file(path.c_str()));
    if (!stream)
        return false;
    ArchivePtr archive = OpenArchive(kind, stream.get());
    return archive && (ar_parse_entry(archive.get()) || ar_at_eof(archive.get()));
}

} // namespace arc
