#include "core/BgaReader.h"

#include "ArchiverApi.h"
#include "core/NameCodec.h"
#include "core/Payload.h"

#include <algorithm>
#include <bzlib.h>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <strings.h>
#include <vector>
#include <zlib.h>

namespace arc {
namespace {

constexpr int64_t kSearchLimit = 4 << 20;

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

enum class Method { Gzip, Bzip2 };

struct Header {
    Method method = Method::Gzip;
    uint32_t packed = 0, original = 0;
    uint16_t date = 0, time = 0;
    uint8_t attributes = 0;
    uint16_t arcType = 0;
    std::string rawName;
    int64_t dataOffset = 0;
};

bool ValidFixedPart(const uint8_t* b)
{
    if (std::memcmp(b + 4, "GZIP", 4) != 0 && std::memcmp(b + 4, "BZ2\0", 4) != 0)
        return false;
    return U16(b + 22) <= 2;
}

int32_t Checksum(const uint8_t* b, const std::string& names)
{
    int32_t sum = 0;
    for (int i = 4; i < 28; ++i)
        sum += static_cast<signed char>(b[i]);
    for (char c : names)
        sum += static_cast<signed char>(c);
    return sum;
}

// 1 header read, 0 clean end of file, negative: damaged.
int ReadHeader(std::FILE* f, Header& h)
{
    uint8_t b[28];
    size_t n = std::fread(b, 1, sizeof b, f);
    if (n == 0)
        return 0;
    if (n != sizeof b || !ValidFixedPart(b))
        return -1;
    size_t dirLen = U16(b + 24), fileLen = U16(b + 26);
    std::string names(dirLen + fileLen, '\0');
    if (!names.empty() && std::fread(names.data(), 1, names.size(), f) != names.size())
        return -1;
    if (static_cast<int32_t>(U32(b)) != Checksum(b, names))
        return -1;
    h.method = b[4] == 'G' ? Method::Gzip : Method::Bzip2;
    h.packed = U32(b + 8);
    h.original = U32(b + 12);
    h.date = U16(b + 16);
    h.time = U16(b + 18);
    h.attributes = b[20];
    h.arcType = U16(b + 22);
    std::string dir = names.substr(0, dirLen), file = names.substr(dirLen);
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/' && !file.empty())
        dir += '\\';
    h.rawName = dir + file;
    h.dataOffset = ftello(f);
    return 1;
}

bool FindFirstHeader(std::FILE* f, int64_t& offset, uint64_t from)
{
    // The window is as large as what follows from, at most the search
    // limit: a small file costs no 4 MiB buffer.
    std::fseek(f, 0, SEEK_END);
    const int64_t rest = ftello(f) - static_cast<int64_t>(from);
    std::vector<uint8_t> window(static_cast<size_t>(std::clamp<int64_t>(rest, 0, kSearchLimit + 28 + 1024)));
    if (fseeko(f, static_cast<off_t>(from), SEEK_SET) != 0)
        return false;
    size_t n = std::fread(window.data(), 1, window.size(), f);
    for (size_t i = 0; i + 28 <= n; ++i) {
        if (window[i + 4] != 'G' && window[i + 4] != 'B')
            continue;
        const uint8_t* b = &window[i];
        if (!ValidFixedPart(b))
            continue;
        size_t names = U16(b + 24) + U16(b + 26);
        if (i + 28 + names > n)
            continue;
        std::string text(reinterpret_cast<const char*>(b + 28), names);
        if (static_cast<int32_t>(U32(b)) == Checksum(b, text)) {
            offset = static_cast<int64_t>(from + i);
            return true;
        }
    }
    return false;
}

bool HasArchiveExtension(const std::string& name)
{
    size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot + 1);
    for (const char* e : {"lzh", "lha", "zip", "cab", "arj", "rar", "gz", "tgz", "bz2", "tbz", "gza", "bza", "yz1",
                          "7z", "z", "taz", "jar", "ace", "zoo", "xz", "lzma"})
        if (strcasecmp(ext.c_str(), e) == 0)
            return true;
    return false;
}

using Sink = std::function<bool(const uint8_t*, size_t)>;

// Reads up to `packed` bytes and feeds them to the sink, decompressing.
int DecodeData(std::FILE* f, const Header& h, const std::string& name, const Sink& sink)
{
    if (fseeko(f, static_cast<off_t>(h.dataOffset), SEEK_SET) != 0)
        return ARCERR_DAMAGED;
    std::vector<uint8_t> in(65536), out(65536);
    uint64_t left = h.packed;
    auto readMore = [&](size_t& got) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
        got = want ? std::fread(in.data(), 1, want, f) : 0;
        left -= got;
        return got > 0;
    };

    // Peek at the first bytes to tell stored data from a stream.
    uint8_t magic[3] = {0, 0, 0};
    size_t peeked = std::fread(magic, 1, std::min<uint64_t>(3, h.packed), f);
    fseeko(f, static_cast<off_t>(h.dataOffset), SEEK_SET);
    bool streamStart = h.method == Method::Gzip ? (peeked >= 2 && magic[0] == 0x1F && magic[1] == 0x8B)
                                                : (peeked >= 3 && std::memcmp(magic, "BZh", 3) == 0);
    bool stored = h.arcType == 2
                  || (h.arcType == 0 && h.packed == h.original && (HasArchiveExtension(name) || !streamStart));
    uint64_t produced = 0;
    if (stored) {
        if (h.packed != h.original)
            return ARCERR_DAMAGED;
        size_t got;
        while (left > 0) {
            if (!readMore(got))
                return ARCERR_DAMAGED;
            if (!sink(in.data(), got))
                return ARCERR_WRITE;
        }
        return 0;
    }

    if (h.method == Method::Gzip) {
        z_stream z{};
        // A gzip member; raw deflate data is accepted too.
        if (inflateInit2(&z, streamStart ? 15 + 16 : -15) != Z_OK)
            return ARCERR_DAMAGED;
        int rc = 0;
        bool end = false;
        while (!end) {
            size_t got = 0;
            if (z.avail_in == 0) {
                if (!readMore(got)) {
                    rc = ARCERR_DAMAGED;
                    break;
                }
                z.next_in = in.data();
                z.avail_in = static_cast<uInt>(got);
            }
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            int r = inflate(&z, Z_NO_FLUSH);
            size_t made = out.size() - z.avail_out;
            produced += made;
            if (made && !sink(out.data(), made)) {
                rc = ARCERR_WRITE;
                break;
            }
            if (r == Z_STREAM_END)
                end = true;
            else if (r == Z_DATA_ERROR)
                rc = ARCERR_CRC;
            else if (r != Z_OK && r != Z_BUF_ERROR)
                rc = ARCERR_DAMAGED;
            if (rc)
                break;
        }
        inflateEnd(&z);
        if (rc == 0 && produced != h.original)
            rc = ARCERR_DAMAGED;
        return rc;
    }

    bz_stream z{};
    if (BZ2_bzDecompressInit(&z, 0, 0) != BZ_OK)
        return ARCERR_DAMAGED;
    int rc = 0;
    bool end = false;
    while (!end) {
        size_t got = 0;
        if (z.avail_in == 0) {
            if (!readMore(got)) {
                rc = ARCERR_DAMAGED;
                break;
            }
            z.next_in = reinterpret_cast<char*>(in.data());
            z.avail_in = static_cast<unsigned>(got);
        }
        z.next_out = reinterpret_cast<char*>(out.data());
        z.avail_out = static_cast<unsigned>(out.size());
        int r = BZ2_bzDecompress(&z);
        size_t made = out.size() - z.avail_out;
        produced += made;
        if (made && !sink(out.data(), made)) {
            rc = ARCERR_WRITE;
            break;
        }
        if (r == BZ_STREAM_END)
            end = true;
        else if (r == BZ_DATA_ERROR)
            rc = ARCERR_CRC;
        else if (r != BZ_OK)
            rc = ARCERR_DAMAGED;
        if (rc)
            break;
    }
    BZ2_bzDecompressEnd(&z);
    if (rc == 0 && produced != h.original)
        rc = ARCERR_DAMAGED;
    return rc;
}

int Walk(std::FILE* f, uint64_t from, const std::function<bool(const Header&)>& visit)
{
    int64_t offset = 0;
    if (!FindFirstHeader(f, offset, from))
        return ARCERR_NOT_ARCHIVE;
    for (;;) {
        if (fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0)
            return ARCERR_DAMAGED;
        Header h;
        int r = ReadHeader(f, h);
        if (r == 0)
            return 0;
        if (r < 0)
            return ARCERR_DAMAGED;
        offset = h.dataOffset + h.packed;
        if (!visit(h))
            return 0;
    }
}

std::string MemberName(const Header& h) { return BackslashesToSlashes(DecodeName(h.rawName, true)); }

} // namespace

void ReadBga(const std::string& path, MemberSink& job)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        job.Fail(ARCERR_OPEN, "cannot open " + path);
        return;
    }
    int rc = Walk(f.get(), PayloadStart(path), [&](const Header& h) {
        if (!job.AtHeader(static_cast<uint64_t>(h.dataOffset)))
            return false;
        Member m;
        m.name = MemberName(h);
        m.type = (h.attributes & 0x10) ? Member::Folder : Member::File;
        m.size = h.original;
        m.compressedSize = h.packed;
        m.attributes = h.attributes;
        m.mtime = FromDosDateTime(h.date, h.time);
        m.method = h.method == Method::Gzip ? "GZIP" : "BZ2";
        Step step = job.BeginMember(m);
        if (step == Step::Stop)
            return false;
        if (step == Step::Skip)
            return true;
        if (m.type == Member::Folder) {
            job.EndMember(true);
            return true;
        }
        Sink sink = [&](const uint8_t* data, size_t size) { return job.Write(data, size); };
        int r = DecodeData(f.get(), h, m.name, sink);
        return job.EndDecodedMember(r, m.name, "bad data");
    });
    job.EndWalk(rc, path, "a BGA archive");
}

bool BgaRecognises(const std::string& path)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    int64_t offset;
    return f && FindFirstHeader(f.get(), offset, PayloadStart(path));
}

} // namespace arc
