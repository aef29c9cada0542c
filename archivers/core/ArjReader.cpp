#include "core/ArjReader.h"

#include "ArchiverApi.h"
#include "core/NameCodec.h"
#include "core/Payload.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>
#include <zlib.h>

namespace arc {
namespace {

constexpr int kMaxHeader = 2600;
constexpr int64_t kSearchLimit = 4 << 20;

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

struct Header {
    bool end = false;
    std::vector<uint8_t> basic;
    int64_t dataOffset = 0;
};

// Reads the header at the current position. Returns 0 or ARCERR_DAMAGED.
int ReadHeader(std::FILE* f, Header& h)
{
    uint8_t b[4];
    if (std::fread(b, 1, 4, f) != 4 || b[0] != 0x60 || b[1] != 0xEA)
        return ARCERR_DAMAGED;
    int size = U16(b + 2);
    if (size == 0) {
        h.end = true;
        return 0;
    }
    if (size > kMaxHeader)
        return ARCERR_DAMAGED;
    h.basic.resize(static_cast<size_t>(size));
    uint8_t crc[4];
    if (std::fread(h.basic.data(), 1, h.basic.size(), f) != h.basic.size() || std::fread(crc, 1, 4, f) != 4)
        return ARCERR_DAMAGED;
    if (::crc32(0, h.basic.data(), static_cast<uInt>(h.basic.size())) != U32(crc))
        return ARCERR_DAMAGED;
    for (;;) {
        uint8_t e[2];
        if (std::fread(e, 1, 2, f) != 2)
            return ARCERR_DAMAGED;
        int ext = U16(e);
        if (ext == 0)
            break;
        if (std::fseek(f, ext + 4, SEEK_CUR) != 0)
            return ARCERR_DAMAGED;
    }
    if (h.basic.size() < 30 || h.basic[0] < 30 || h.basic[0] > h.basic.size())
        return ARCERR_DAMAGED;
    h.dataOffset = ftello(f);
    return 0;
}

// Finds the main header: at the start, or behind a self-extracting stub.
bool FindMainHeader(std::FILE* f, Header& main, uint64_t from)
{
    // The window is as large as what follows from, at most the search
    // limit: a small file costs no 4 MiB buffer.
    std::fseek(f, 0, SEEK_END);
    const int64_t rest = ftello(f) - static_cast<int64_t>(from);
    std::vector<uint8_t> window(static_cast<size_t>(std::clamp<int64_t>(rest, 0, kSearchLimit + 4)));
    if (fseeko(f, static_cast<off_t>(from), SEEK_SET) != 0)
        return false;
    size_t n = std::fread(window.data(), 1, window.size(), f);
    for (size_t i = 0; i + 4 <= n; ++i) {
        if (window[i] != 0x60 || window[i + 1] != 0xEA)
            continue;
        int size = U16(&window[i + 2]);
        if (size < 30 || size > kMaxHeader)
            continue;
        if (i + 4 + static_cast<size_t>(size) + 4 <= n) {
            const uint8_t* p = &window[i + 4];
            if (::crc32(0, p, static_cast<uInt>(size)) != U32(p + size) || p[6] != 2)
                continue;
        }
        if (fseeko(f, static_cast<off_t>(from + i), SEEK_SET) != 0)
            return false;
        if (ReadHeader(f, main) == 0 && !main.end && main.basic[6] == 2)
            return true;
    }
    return false;
}

class BitReader {
public:
    BitReader(std::FILE* f, uint64_t size) : f_(f), remaining_(size) {}

    uint32_t Peek(int n)
    {
        while (count_ < n) {
            bits_ |= static_cast<uint32_t>(NextByte()) << (24 - count_);
            count_ += 8;
        }
        return bits_ >> (32 - n);
    }
    void Skip(int n)
    {
        Peek(n);
        bits_ <<= n;
        count_ -= n;
    }
    uint32_t Get(int n)
    {
        if (n == 0)
            return 0;
        uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    bool Overrun() const { return overrun_ > 16; }

private:
    uint8_t NextByte()
    {
        if (pos_ == len_) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(remaining_, sizeof buffer_));
            len_ = want ? std::fread(buffer_, 1, want, f_) : 0;
            remaining_ -= len_;
            pos_ = 0;
            if (len_ == 0) {
                ++overrun_;
                return 0;
            }
        }
        return buffer_[pos_++];
    }

    std::FILE* f_;
    uint64_t remaining_;
    uint8_t buffer_[65536];
    size_t pos_ = 0, len_ = 0;
    uint32_t bits_ = 0;
    int count_ = 0;
    size_t overrun_ = 0;
};

// Canonical Huffman code (shorter codes first, symbols in order within a
// length), decoded bit by bit. A table of one symbol with no bits is held
// as a constant.
struct Huffman {
    int constant = -1;
    std::array<uint16_t, 17> count{};
    std::vector<uint16_t> symbol;

    bool Build(const uint8_t* lengths, int n)
    {
        constant = -1;
        count.fill(0);
        for (int i = 0; i < n; ++i)
            count[lengths[i]]++;
        count[0] = 0;
        int left = 1;
        for (int len = 1; len <= 16; ++len) {
            left <<= 1;
            left -= count[len];
            if (left < 0)
                return false;
        }
        std::array<uint16_t, 18> offs{};
        for (int len = 1; len <= 16; ++len)
            offs[len + 1] = static_cast<uint16_t>(offs[len] + count[len]);
        symbol.assign(static_cast<size_t>(n), 0);
        for (int i = 0; i < n; ++i)
            if (lengths[i])
                symbol[offs[lengths[i]]++] = static_cast<uint16_t>(i);
        return true;
    }
    int Decode(BitReader& in) const
    {
        if (constant >= 0)
            return constant;
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= 16; ++len) {
            code |= static_cast<int>(in.Get(1));
            int c = count[len];
            if (code - c < first)
                return symbol[static_cast<size_t>(index + (code - first))];
            index += c;
            first += c;
            first <<= 1;
            code <<= 1;
        }
        return -1;
    }
};

using Sink = std::function<bool(const uint8_t*, size_t)>;

// Output through a 64 KiB history window, flushed in chunks.
class Output {
public:
    Output(uint64_t size, const Sink& sink) : left_(size), sink_(sink), window_(65536) {}
    bool Done() const { return left_ == 0; }
    bool Failed() const { return failed_; }
    void Literal(uint8_t c)
    {
        if (left_ == 0)
            return;
        window_[pos_++ & 0xFFFF] = c;
        pending_.push_back(c);
        --left_;
        if (pending_.size() >= 32768)
            Flush();
    }
    void Copy(uint32_t distance, uint32_t length)
    {
        for (uint32_t k = 0; k < length && left_ > 0; ++k)
            Literal(window_[(pos_ - distance - 1) & 0xFFFF]);
    }
    bool Flush()
    {
        if (!pending_.empty() && !failed_) {
            crc_ = ::crc32(crc_, pending_.data(), static_cast<uInt>(pending_.size()));
            if (!sink_(pending_.data(), pending_.size()))
                failed_ = true;
        }
        pending_.clear();
        return !failed_;
    }
    uint32_t Crc() const { return static_cast<uint32_t>(crc_); }

private:
    uint64_t left_;
    const Sink& sink_;
    std::vector<uint8_t> window_;
    uint32_t pos_ = 0;
    std::vector<uint8_t> pending_;
    uLong crc_ = ::crc32(0, nullptr, 0);
    bool failed_ = false;
};

constexpr int NC = 255 + 256 + 2 - 3; // literals and match lengths
constexpr int NP = 17;                // position classes
constexpr int NT = 19;                // code-length code
constexpr int CBIT = 9, PBIT = 5, TBIT = 5;

bool ReadPtLen(BitReader& in, Huffman& h, uint8_t* len, int nn, int nbit, int special)
{
    int n = static_cast<int>(in.Get(nbit));
    if (n == 0) {
        int c = static_cast<int>(in.Get(nbit));
        if (c >= nn)
            return false;
        std::memset(len, 0, static_cast<size_t>(nn));
        h.constant = c;
        return true;
    }
    if (n > nn)
        return false;
    int i = 0;
    while (i < n) {
        int c = static_cast<int>(in.Get(3));
        if (c == 7) {
            while (in.Get(1)) {
                if (++c > 16)
                    return false;
            }
        }
        len[i++] = static_cast<uint8_t>(c);
        if (i == special) {
            int zeros = static_cast<int>(in.Get(2));
            while (zeros-- > 0 && i < nn)
                len[i++] = 0;
        }
    }
    while (i < nn)
        len[i++] = 0;
    return h.Build(len, nn);
}

bool ReadCLen(BitReader& in, Huffman& pt, Huffman& h, uint8_t* len)
{
    int n = static_cast<int>(in.Get(CBIT));
    if (n == 0) {
        int c = static_cast<int>(in.Get(CBIT));
        if (c >= NC)
            return false;
        std::memset(len, 0, NC);
        h.constant = c;
        return true;
    }
    if (n > NC)
        return false;
    int i = 0;
    while (i < n) {
        int c = pt.Decode(in);
        if (c < 0 || in.Overrun())
            return false;
        if (c <= 2) {
            int run = c == 0 ? 1 : c == 1 ? static_cast<int>(in.Get(4)) + 3 : static_cast<int>(in.Get(CBIT)) + 20;
            if (i + run > NC)
                return false;
            while (run-- > 0)
                len[i++] = 0;
        } else {
            len[i++] = static_cast<uint8_t>(c - 2);
        }
    }
    while (i < NC)
        len[i++] = 0;
    return h.Build(len, NC);
}

int DecodeHuffman(BitReader& in, Output& out)
{
    Huffman ct, pt, tt;
    uint8_t clen[NC], plen[NT > NP ? NT : NP];
    uint16_t blocksize = 0;
    while (!out.Done()) {
        if (blocksize == 0) {
            blocksize = static_cast<uint16_t>(in.Get(16));
            if (!ReadPtLen(in, tt, plen, NT, TBIT, 3) || !ReadCLen(in, tt, ct, clen)
                || !ReadPtLen(in, pt, plen, NP, PBIT, -1))
                return ARCERR_DAMAGED;
        }
        --blocksize;
        int c = ct.Decode(in);
        if (c < 0 || in.Overrun())
            return ARCERR_DAMAGED;
        if (c <= 255) {
            out.Literal(static_cast<uint8_t>(c));
        } else {
            uint32_t length = static_cast<uint32_t>(c - (256 - 3));
            int j = pt.Decode(in);
            if (j < 0)
                return ARCERR_DAMAGED;
            uint32_t distance = j == 0 ? 0 : (1u << (j - 1)) + in.Get(j - 1);
            out.Copy(distance, length);
        }
        if (out.Failed())
            return ARCERR_WRITE;
    }
    return 0;
}

int DecodeFast(BitReader& in, Output& out)
{
    while (!out.Done()) {
        uint32_t plus = 0, pwr = 1;
        int width = 0;
        for (; width < 7; ++width) {
            if (!in.Get(1))
                break;
            plus += pwr;
            pwr <<= 1;
        }
        uint32_t c = in.Get(width) + plus;
        if (in.Overrun())
            return ARCERR_DAMAGED;
        if (c == 0) {
            out.Literal(static_cast<uint8_t>(in.Get(8)));
        } else {
            uint32_t length = c - 1 + 3;
            plus = 0;
            pwr = 1u << 9;
            for (width = 9; width < 13; ++width) {
                if (!in.Get(1))
                    break;
                plus += pwr;
                pwr <<= 1;
            }
            uint32_t distance = in.Get(width) + plus;
            out.Copy(distance, length);
        }
        if (out.Failed())
            return ARCERR_WRITE;
    }
    return 0;
}

struct FileInfo {
    uint8_t flags = 0, method = 0, type = 0, host = 0;
    uint32_t dosDateTime = 0, packed = 0, original = 0, crc = 0;
    uint16_t access = 0;
    std::string rawName;
};

FileInfo ParseFile(const Header& h)
{
    FileInfo fi;
    const uint8_t* b = h.basic.data();
    fi.host = b[3];
    fi.flags = b[4];
    fi.method = b[5];
    fi.type = b[6];
    fi.dosDateTime = U32(b + 8);
    fi.packed = U32(b + 12);
    fi.original = U32(b + 16);
    fi.crc = U32(b + 20);
    fi.access = U16(b + 26);
    size_t start = b[0];
    size_t end = start;
    while (end < h.basic.size() && b[end] != 0)
        ++end;
    fi.rawName.assign(reinterpret_cast<const char*>(b + start), end - start);
    return fi;
}

bool DosHost(uint8_t host) { return host == 0 || host == 5 || host == 10 || host == 11; }

// Decodes one member's data into the sink and checks its CRC.
int DecodeMember(std::FILE* f, const Header& h, const FileInfo& fi, const Sink& sink)
{
    if (fseeko(f, static_cast<off_t>(h.dataOffset), SEEK_SET) != 0)
        return ARCERR_DAMAGED;
    Output out(fi.original, sink);
    int rc = 0;
    if (fi.method == 0) {
        if (fi.packed != fi.original)
            return ARCERR_DAMAGED;
        BitReader in(f, fi.packed);
        while (!out.Done() && !in.Overrun())
            out.Literal(static_cast<uint8_t>(in.Get(8)));
        if (in.Overrun())
            rc = ARCERR_DAMAGED;
    } else {
        BitReader in(f, fi.packed);
        rc = fi.method == 4 ? DecodeFast(in, out) : DecodeHuffman(in, out);
    }
    if (!out.Flush() && rc == 0)
        rc = ARCERR_WRITE;
    if (rc == 0 && out.Crc() != fi.crc)
        rc = ARCERR_CRC;
    return rc;
}

// Walks the members; visit returns false to stop. Returns 0 or an error.
int Walk(std::FILE* f, uint64_t from, const std::function<bool(const Header&, const FileInfo&)>& visit)
{
    Header main;
    if (!FindMainHeader(f, main, from))
        return ARCERR_NOT_ARCHIVE;
    int64_t next = main.dataOffset;
    for (;;) {
        if (fseeko(f, static_cast<off_t>(next), SEEK_SET) != 0)
            return ARCERR_DAMAGED;
        Header h;
        if (ReadHeader(f, h) != 0)
            return ARCERR_DAMAGED;
        if (h.end)
            return 0;
        FileInfo fi = ParseFile(h);
        next = h.dataOffset + fi.packed;
        if (!visit(h, fi))
            return 0;
    }
}

} // namespace

void ReadArj(const std::string& path, MemberSink& job)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        job.Fail(ARCERR_OPEN, "cannot open " + path);
        return;
    }
    int rc = Walk(f.get(), PayloadStart(path), [&](const Header& h, const FileInfo& fi) {
        if (!job.AtHeader(static_cast<uint64_t>(h.dataOffset)))
            return false;
        if (fi.type == 4 || fi.type == 5 || fi.type == 2)
            return true; // volume and chapter labels, comments
        Member m;
        m.name = DecodeName(fi.rawName, true);
        if (DosHost(fi.host))
            m.name = BackslashesToSlashes(m.name);
        m.type = fi.type == 3 ? Member::Folder : Member::File;
        m.size = fi.original;
        m.compressedSize = fi.packed;
        m.crc = fi.crc;
        // Archives made on UNIX hosts keep a UNIX time, the others a DOS one.
        m.mtime = fi.host == 2 ? static_cast<int64_t>(fi.dosDateTime)
                               : FromDosDateTime(static_cast<uint16_t>(fi.dosDateTime >> 16),
                                                 static_cast<uint16_t>(fi.dosDateTime));
        if (DosHost(fi.host))
            m.attributes = fi.access & 0xFF;
        else if (fi.access & 0777)
            m.mode = fi.access & 0777;
        m.method = "-m" + std::to_string(fi.method);
        Step step = job.BeginMember(m);
        if (step == Step::Stop)
            return false;
        if (step == Step::Skip)
            return true;
        if (m.type == Member::Folder) {
            job.EndMember(true);
            return true;
        }
        if (fi.flags & 0x01) {
            job.EndMember(false, ARCERR_METHOD, "error: " + m.name + ": encrypted members are not supported");
            return !job.Stopped();
        }
        if (fi.method > 4) {
            job.EndMember(false, ARCERR_METHOD, "error: " + m.name + ": unknown method " + std::to_string(fi.method));
            return !job.Stopped();
        }
        Sink sink = [&](const uint8_t* data, size_t size) { return job.Write(data, size); };
        int r = DecodeMember(f.get(), h, fi, sink);
        return job.EndDecodedMember(r, m.name, "bad CRC");
    });
    job.EndWalk(rc, path, "an ARJ archive");
}

bool ArjRecognises(const std::string& path)
{
    FilePtr f(std::fopen(path.c_str(), "rb"));
    Header main;
    return f && FindMainHeader(f.get(), main, PayloadStart(path));
}

} // namespace arc
