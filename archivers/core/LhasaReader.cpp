#include "core/LhasaReader.h"

#include "ArchiverApi.h"
#include "core/Crc16.h"
#include "core/LhaTail.h"
#include "core/NameCodec.h"
#include "core/Payload.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <lhasa.h>
#include <memory>
#include <vector>

namespace arc {
namespace {

// Owns the file, the stream and the reader.
class Reader {
public:
    explicit Reader(const std::string& path)
    {
        file_ = std::fopen(path.c_str(), "rb");
        // Behind a stub program of ours, the archive begins where it ends.
        if (file_ && fseeko(file_, static_cast<off_t>(PayloadStart(path)), SEEK_SET) != 0) {
            std::fclose(file_);
            file_ = nullptr;
        }
        if (file_)
            stream_ = lha_input_stream_from_FILE(file_);
        if (stream_)
            reader_ = lha_reader_new(stream_);
        if (reader_)
            lha_reader_set_dir_policy(reader_, LHA_READER_DIR_PLAIN);
    }
    ~Reader()
    {
        if (reader_)
            lha_reader_free(reader_);
        if (stream_)
            lha_input_stream_free(stream_);
        if (file_)
            std::fclose(file_);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    LHAReader* get() const { return reader_; }
    std::FILE* file() const { return file_; }

private:
    std::FILE* file_ = nullptr;
    LHAInputStream* stream_ = nullptr;
    LHAReader* reader_ = nullptr;
};


// liblhasa turns every "\\" byte into "/", also the second byte of a
// double-byte CP932 character; "/" is never such a second byte, so it is
// put back wherever it follows a first byte.
std::string RestoreCp932(const std::string& raw)
{
    if (IsValidUtf8(raw))
        return raw;
    std::string out = raw;
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        auto c = static_cast<unsigned char>(out[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            if (out[i + 1] == '/')
                out[i + 1] = '\\';
            ++i;
        }
    }
    return out;
}

bool IsFolder(const LHAFileHeader* h) { return std::strncmp(h->compress_method, LHA_COMPRESS_TYPE_DIR, 5) == 0; }

// Decodes the current member; 0, ARCERR_CRC or ARCERR_DAMAGED / ARCERR_WRITE.
int ReadData(LHAReader* r, const LHAFileHeader* h, const std::function<bool(const uint8_t*, size_t)>& sink)
{
    std::vector<uint8_t> buffer(65536);
    uint16_t crc = 0;
    size_t total = 0;
    for (;;) {
        size_t n = lha_reader_read(r, buffer.data(), buffer.size());
        if (n == 0)
            break;
        total += n;
        crc = Crc16(crc, buffer.data(), n);
        if (!sink(buffer.data(), n))
            return ARCERR_WRITE;
    }
    if (total != h->length)
        return ARCERR_DAMAGED;
    return crc == h->crc ? 0 : ARCERR_CRC;
}

} // namespace

void ReadWithLhasa(const std::string& path, MemberSink& job)
{
    Reader reader(path);
    if (!reader.get()) {
        job.Fail(ARCERR_OPEN, "cannot open " + path);
        return;
    }
    bool any = false;
    uint64_t end = 0; // where the members read so far end
    while (!job.Stopped()) {
        LHAFileHeader* h = lha_reader_next_file(reader.get());
        if (!h)
            break;
        any = true;
        // liblhasa has read the header and nothing more.
        uint64_t data = static_cast<uint64_t>(ftello(reader.file()));
        if (!job.AtHeader(data))
            break;
        end = data + h->compressed_length;
        Member m;
        std::string raw = std::string(h->path ? h->path : "") + (h->filename ? h->filename : "");
        m.name = BackslashesToSlashes(DecodeName(RestoreCp932(raw), true));
        if (h->symlink_target) {
            m.type = Member::Symlink;
            m.link = DecodeName(RestoreCp932(h->symlink_target), true);
        } else if (IsFolder(h)) {
            m.type = Member::Folder;
        }
        m.size = h->length;
        m.compressedSize = h->compressed_length;
        m.crc = h->crc;
        m.mtime = h->timestamp;
        if (LHA_FILE_HAVE_EXTRA(h, LHA_FILE_UNIX_PERMS))
            m.mode = h->unix_perms & 0777;
        m.method = std::string(h->compress_method, 5);
        Step step = job.BeginMember(m);
        if (step == Step::Stop)
            break;
        if (step == Step::Skip || m.type != Member::File) {
            if (step == Step::Write)
                job.EndMember(true);
            continue;
        }
        int rc = ReadData(reader.get(), h, [&](const uint8_t* d, size_t n) { return job.Write(d, n); });
        if (rc != 0) {
            job.EndMember(false, rc == ARCERR_WRITE && job.Stopped() ? 0 : rc,
                          "error: " + m.name + (rc == ARCERR_CRC ? ": bad CRC" : ": damaged data"));
            if (rc != ARCERR_CRC)
                break;
            continue;
        }
        job.EndMember(true);
    }
    if (!any)
        job.Fail(ARCERR_NOT_ARCHIVE, path + ": not an LHA archive");
    else if (!job.Stopped() && !LhaEndsAt(path, end))
        job.Fail(ARCERR_DAMAGED, path + ": damaged or truncated archive");
}

bool LhasaRecognises(const std::string& path)
{
    // Only a file that starts with an LHA header or a program stub: an LHA
    // archive stored inside another archive does not make that one LHA.
    {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f)
            return false;
        unsigned char b[7] = {};
        if (fseeko(f, static_cast<off_t>(PayloadStart(path)), SEEK_SET) != 0) {
            std::fclose(f);
            return false;
        }
        size_t n = std::fread(b, 1, sizeof b, f);
        std::fclose(f);
        bool header = n == sizeof b && b[2] == '-' && b[6] == '-';
        bool stub = n >= 2 && b[0] == 'M' && b[1] == 'Z';
        if (!header && !stub)
            return false;
    }
    Reader reader(path);
    return reader.get() && lha_reader_next_file(reader.get()) != nullptr;
}

} // namespace arc
