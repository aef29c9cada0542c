#include "core/BgaWriter.h"

#include "core/Files.h"
#include "core/NameCodec.h"

#include <algorithm>
#include <bzlib.h>
#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace arc {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

int32_t Checksum(const std::vector<uint8_t>& h)
{
    int32_t sum = 0;
    for (size_t i = 4; i < h.size(); ++i)
        sum += static_cast<signed char>(h[i]);
    return sum;
}

} // namespace

BgaWriter::BgaWriter(int fd, bool bzip2, int level) : fd_(fd), bzip2_(bzip2), level_(level) {}

BgaWriter::~BgaWriter()
{
    EndStream();
    if (copy_ >= 0)
        close(copy_);
}

void BgaWriter::EndStream()
{
    if (!stream_)
        return;
    if (bzip2_) {
        BZ2_bzCompressEnd(static_cast<bz_stream*>(stream_));
        delete static_cast<bz_stream*>(stream_);
    } else {
        deflateEnd(static_cast<z_stream*>(stream_));
        delete static_cast<z_stream*>(stream_);
    }
    stream_ = nullptr;
}

bool BgaWriter::Put(const void* data, size_t size)
{
    if (!WriteAll(fd_, data, size)) {
        error_ = std::string("cannot write the archive: ") + std::strerror(errno);
        return false;
    }
    packed_ += size;
    return true;
}

bool BgaWriter::Begin(const Member& m, std::string& why)
{
    if (m.type != Member::File) {
        why = m.name + ": BGA archives hold files only";
        return false;
    }
    if (m.size >= (uint64_t(1) << 32)) {
        why = m.name + ": too large for a BGA archive (4 GiB and more)";
        return false;
    }
    if (m.name.find('\\') != std::string::npos) {
        why = m.name + ": \"\\\" separates folders in a BGA archive";
        return false;
    }
    std::string name;
    if (!Utf8ToCp932(m.name, name)) {
        why = m.name + ": the name has no CP932 form";
        return false;
    }
    for (auto& c : name)
        if (c == '/')
            c = '\\';
    // The folder part is kept apart from the file name; the second byte of
    // a double-byte character is never a "\\" here, since "/" was replaced
    // in the UTF-8 text's CP932 form only where it stood alone.
    size_t cut = std::string::npos;
    for (size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC))
            ++i;
        else if (c == '\\')
            cut = i;
    }
    std::string folder = cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
    std::string file = name.substr(folder.size());
    header_.assign(28, 0);
    std::memcpy(header_.data() + 4, bzip2_ ? "BZ2\0" : "GZIP", 4);
    Put16(header_, 16, DosDate(m.mtime));
    Put16(header_, 18, DosTime(m.mtime));
    header_[20] = static_cast<uint8_t>(m.attributes & 0x27) | 0x20;
    Put16(header_, 24, static_cast<uint32_t>(folder.size()));
    Put16(header_, 26, static_cast<uint32_t>(file.size()));
    header_.insert(header_.end(), folder.begin(), folder.end());
    header_.insert(header_.end(), file.begin(), file.end());
    headerAt_ = lseek(fd_, 0, SEEK_CUR);
    packed_ = 0;
    original_ = 0;
    if (headerAt_ < 0 || !Put(header_.data(), header_.size())) {
        why = error_;
        return false;
    }
    packed_ = 0;
    if (copy_ >= 0)
        close(copy_);
    copy_ = ScratchFile("");
    if (copy_ < 0) {
        error_ = why = "no room for a scratch file";
        return false;
    }
    int lvl = level_ >= 1 && level_ <= 9 ? level_ : (bzip2_ ? 9 : 6);
    if (bzip2_) {
        auto* z = new bz_stream{};
        stream_ = z;
        if (BZ2_bzCompressInit(z, lvl, 0, 30) != BZ_OK) {
            error_ = why = "the bzip2 coder cannot start";
            return false;
        }
    } else {
        auto* z = new z_stream{};
        stream_ = z;
        if (deflateInit2(z, lvl, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            error_ = why = "the deflate coder cannot start";
            return false;
        }
    }
    return true;
}

bool BgaWriter::Compress(const void* data, size_t size, bool finish)
{
    uint8_t out[65536];
    if (bzip2_) {
        auto* z = static_cast<bz_stream*>(stream_);
        z->next_in = const_cast<char*>(static_cast<const char*>(data));
        z->avail_in = static_cast<unsigned>(size);
        for (;;) {
            z->next_out = reinterpret_cast<char*>(out);
            z->avail_out = sizeof out;
            int r = BZ2_bzCompress(z, finish ? BZ_FINISH : BZ_RUN);
            if (!Put(out, sizeof out - z->avail_out))
                return false;
            if (finish ? r == BZ_STREAM_END : z->avail_in == 0)
                return true;
            if (r < 0) {
                error_ = "bzip2 error";
                return false;
            }
        }
    }
    auto* z = static_cast<z_stream*>(stream_);
    z->next_in = static_cast<Bytef*>(const_cast<void*>(data));
    z->avail_in = static_cast<uInt>(size);
    for (;;) {
        z->next_out = out;
        z->avail_out = sizeof out;
        int r = deflate(z, finish ? Z_FINISH : Z_NO_FLUSH);
        if (!Put(out, sizeof out - z->avail_out))
            return false;
        if (finish ? r == Z_STREAM_END : (z->avail_in == 0 && z->avail_out != 0))
            return true;
        if (r == Z_STREAM_ERROR) {
            error_ = "deflate error";
            return false;
        }
    }
}

bool BgaWriter::Write(const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        size_t n = std::min<size_t>(size, 1 << 20);
        if (!WriteAll(copy_, p, n)) {
            error_ = std::string("cannot keep a copy: ") + std::strerror(errno);
            return false;
        }
        original_ += n;
        if (original_ >= (uint64_t(1) << 32)) {
            error_ = "too large for a BGA archive";
            return false;
        }
        if (!Compress(p, n, false))
            return false;
        p += n;
        size -= n;
    }
    return true;
}

bool BgaWriter::End()
{
    if (!Compress("", 0, true))
        return false;
    uint16_t arcType = 1;
    if (packed_ >= original_) {
        // Stored: the copy replaces the stream.
        arcType = 2;
        if (lseek(fd_, headerAt_ + static_cast<off_t>(header_.size()), SEEK_SET) < 0
            || lseek(copy_, 0, SEEK_SET) < 0) {
            error_ = std::string("cannot write the archive: ") + std::strerror(errno);
            return false;
        }
        packed_ = 0;
        char buffer[65536];
        for (;;) {
            ssize_t n = read(copy_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error_ = std::string("cannot read the copy: ") + std::strerror(errno);
                return false;
            }
            if (n == 0)
                break;
            if (!Put(buffer, static_cast<size_t>(n)))
                return false;
        }
        if (ftruncate(fd_, headerAt_ + static_cast<off_t>(header_.size() + packed_)) != 0) {
            error_ = std::string("cannot write the archive: ") + std::strerror(errno);
            return false;
        }
    }
    Put32(header_, 8, static_cast<uint32_t>(packed_));
    Put32(header_, 12, static_cast<uint32_t>(original_));
    Put16(header_, 22, arcType);
    Put32(header_, 0, static_cast<uint32_t>(Checksum(header_)));
    off_t end = headerAt_ + static_cast<off_t>(header_.size() + packed_);
    if (pwrite(fd_, header_.data(), header_.size(), headerAt_) != static_cast<ssize_t>(header_.size())
        || lseek(fd_, end, SEEK_SET) < 0) {
        error_ = std::string("cannot write the archive: ") + std::strerror(errno);
        return false;
    }
    close(copy_);
    copy_ = -1;
    EndStream();
    return true;
}

} // namespace arc
