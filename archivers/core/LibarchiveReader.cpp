#include "core/LibarchiveReader.h"

#include "ArchiverApi.h"
#include "core/LhaTail.h"
#include "core/NameCodec.h"
#include "core/Payload.h"
#include "core/Utf8Locale.h"

#include <archive.h>
#include <archive_entry.h>
#include <cctype>
#include <zlib.h>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <locale.h>
#include <memory>
#include <strings.h>
#include <vector>

namespace arc {
namespace {

struct ReadFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ReadFree>;

enum class ZipMode { Seekable, Streamable };

ArchivePtr MakeReader(Kind kind, ZipMode zipMode, bool withRaw)
{
    ArchivePtr a(archive_read_new());
    switch (kind) {
    case Kind::Lha:
        archive_read_support_format_lha(a.get());
        break;
    case Kind::Zip:
        if (zipMode == ZipMode::Seekable)
            archive_read_support_format_zip_seekable(a.get());
        else
            archive_read_support_format_zip_streamable(a.get());
        break;
    case Kind::Cab:
        archive_read_support_format_cab(a.get());
        break;
    case Kind::Rar:
        archive_read_support_format_rar(a.get());
        archive_read_support_format_rar5(a.get());
        break;
    case Kind::Tar:
        archive_read_support_filter_all(a.get());
        archive_read_support_format_tar(a.get());
        archive_read_support_format_gnutar(a.get());
        if (withRaw)
            archive_read_support_format_raw(a.get());
        break;
    default:
        break;
    }
    return a;
}

int Classify(const char* message)
{
    std::string m = message ? message : "";
    for (auto& c : m)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (m.find("encrypt") != std::string::npos || m.find("unsupported") != std::string::npos
        || m.find("password") != std::string::npos)
        return ARCERR_METHOD;
    if (m.find("crc") != std::string::npos || m.find("checksum") != std::string::npos)
        return ARCERR_CRC;
    return ARCERR_DAMAGED;
}

std::string ErrorText(archive* a)
{
    const char* e = archive_error_string(a);
    return e ? e : "unknown error";
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The output name of a plain compressed file.
std::string RawName(const std::string& archivePath)
{
    std::string base = BaseName(archivePath);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        std::string ext = base.substr(dot);
        if (strcasecmp(ext.c_str(), ".tgz") == 0 || strcasecmp(ext.c_str(), ".taz") == 0)
            return base.substr(0, dot) + ".tar";
        for (const char* e : {".gz", ".z", ".bz2", ".bz", ".tbz"})
            if (strcasecmp(ext.c_str(), e) == 0)
                return base.substr(0, dot);
    }
    return base + ".out";
}

bool IsWindowsNamed(Kind kind) { return kind == Kind::Lha || kind == Kind::Zip || kind == Kind::Cab; }

// Reads every member of an opened archive into the job. False when the
// format was not recognised at all.
bool ReadAll(Kind kind, archive* a, const std::string& archivePath, MemberSink& job, bool gunzipped)
{
    archive_entry* entry = nullptr;
    bool first = true;
    uint64_t lastHeader = 0;
    while (!job.Stopped()) {
        int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r == ARCHIVE_FATAL) {
            if (first && archive_format(a) == 0)
                return false;
            // LHA archives may be followed by data that is not LHA.
            if (!first && kind == Kind::Lha) {
                // Behind a stub of ours, positions count from the archive.
                int64_t end = LhaMemberEnd(archivePath, PayloadStart(archivePath) + lastHeader);
                if (end >= 0 && LhaEndsAt(archivePath, static_cast<uint64_t>(end)))
                    break;
            }
            job.Fail(Classify(archive_error_string(a)), ErrorText(a));
            break;
        }
        if (first && kind == Kind::Tar && archive_format(a) == ARCHIVE_FORMAT_RAW
            && archive_filter_count(a) <= 1 && !gunzipped)
            return false;
        first = false;
        // A reader that returns to a header it has read before makes no
        // progress through the file and would go on for ever.
        lastHeader = static_cast<uint64_t>(archive_read_header_position(a));
        if (!job.AtHeader(lastHeader))
            break;
        if (r == ARCHIVE_FAILED) {
            job.Fail(Classify(archive_error_string(a)), ErrorText(a));
            continue;
        }
        // libarchive's tar reader goes on past a damaged header with a
        // warning; the archive is damaged all the same.
        if (r == ARCHIVE_WARN) {
            std::string text = ErrorText(a);
            if (strcasestr(text.c_str(), "damaged"))
                job.Fail(ARCERR_DAMAGED, text);
            else
                job.Note("warning: " + text);
        }

        Member m;
        bool cp932 = kind != Kind::Tar;
        if (archive_format(a) == ARCHIVE_FORMAT_RAW) {
            m.name = RawName(archivePath);
        } else {
            const char* raw = archive_entry_pathname(entry);
            if (!raw)
                raw = archive_entry_pathname_utf8(entry);
            m.name = DecodeName(raw ? raw : "", cp932);
            if (IsWindowsNamed(kind))
                m.name = BackslashesToSlashes(m.name);
        }
        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR:
            m.type = Member::Folder;
            break;
        case AE_IFLNK: {
            m.type = Member::Symlink;
            const char* target = archive_entry_symlink(entry);
            m.link = DecodeName(target ? target : "", cp932);
            break;
        }
        case AE_IFREG:
        case 0:
            m.type = Member::File;
            break;
        default:
            job.Note("skipped (not a file, folder or link): " + m.name);
            continue;
        }
        if (const char* hard = archive_entry_hardlink(entry)) {
            m.type = Member::Hardlink;
            m.link = DecodeName(hard, cp932);
            if (IsWindowsNamed(kind))
                m.link = BackslashesToSlashes(m.link);
        }
        m.size = archive_entry_size_is_set(entry) ? static_cast<uint64_t>(archive_entry_size(entry)) : 0;
        if (archive_entry_mtime_is_set(entry))
            m.mtime = archive_entry_mtime(entry);
        m.mode = archive_entry_perm(entry) & 07777;
        if (kind == Kind::Tar) {
            // "tar", "tar+gzip", ..., or the filter alone for a plain
            // compressed file.
            const char* filter = gunzipped ? "gzip" : archive_filter_count(a) > 1 ? archive_filter_name(a, 0) : nullptr;
            bool raw = archive_format(a) == ARCHIVE_FORMAT_RAW;
            m.method = raw ? (filter ? filter : "raw") : filter ? std::string("tar+") + filter : std::string("tar");
        } else if (const char* fmt = archive_format_name(a)) {
            m.method = fmt;
        }

        Step step = job.BeginMember(m);
        if (step == Step::Stop)
            break;
        if (step == Step::Skip)
            continue; // the reader skips the data itself
        if (m.type != Member::File) {
            job.EndMember(true);
            continue;
        }
        bool ok = true, fatal = false;
        int64_t next = 0; // where the data handed over so far ends
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            int rd = archive_read_data_block(a, &block, &size, &offset);
            if (rd == ARCHIVE_EOF)
                break;
            // A warning may be a refusal: libarchive's LHA reader warns of a
            // method it does not decode and hands over nothing.
            if (rd == ARCHIVE_WARN && Classify(archive_error_string(a)) == ARCERR_DAMAGED)
                job.Note("warning: " + m.name + ": " + ErrorText(a));
            else if (rd != ARCHIVE_OK) {
                job.EndMember(false, Classify(archive_error_string(a)), "error: " + m.name + ": " + ErrorText(a));
                ok = false;
                fatal = rd == ARCHIVE_FATAL;
                break;
            }
            // Blocks come in order; a gap between them is a hole of a sparse
            // file, an overlap would be damage.
            if (offset < next) {
                job.EndMember(false, ARCERR_DAMAGED, "error: " + m.name + ": data blocks out of order");
                ok = false;
                break;
            }
            bool written = job.Hole(static_cast<uint64_t>(offset - next)) && (size == 0 || job.Write(block, size));
            if (!written) {
                job.EndMember(false);
                ok = false;
                break;
            }
            next = offset + static_cast<int64_t>(size);
        }
        // A sparse file may end in a hole (tar knows its real size).
        if (ok && kind == Kind::Tar && archive_entry_size_is_set(entry) && next < archive_entry_size(entry)) {
            if (job.Hole(static_cast<uint64_t>(archive_entry_size(entry) - next))) {
                next = archive_entry_size(entry);
            } else {
                job.EndMember(false);
                ok = false;
            }
        }
        // libarchive only warns when a member's data comes out shorter or
        // longer than its header says; such a member is damaged. (ZIP
        // writers without ZIP64 keep the size of a member over 4 GiB modulo
        // 2^32.)
        if (ok && archive_entry_size_is_set(entry)) {
            uint64_t declared = static_cast<uint64_t>(archive_entry_size(entry)), got = static_cast<uint64_t>(next);
            if (got != declared && !(kind == Kind::Zip && (got & 0xFFFFFFFFu) == (declared & 0xFFFFFFFFu))) {
                job.EndMember(false, ARCERR_DAMAGED,
                              "error: " + m.name + ": " + std::to_string(got) + " bytes instead of "
                                  + std::to_string(declared));
                ok = false;
            }
        }
        if (!ok) {
            if (fatal || job.Stopped())
                break;
            continue;
        }
        job.EndMember(true);
    }
    return true;
}

// The file from where its archive begins: behind a stub program of ours
// (Payload.h) for the kinds libarchive does not search behind a program;
// ZIP is read from its end, where its directory is.
struct View {
    int fd = -1;
    std::vector<char> buffer = std::vector<char>(65536);
};

la_ssize_t ViewRead(archive*, void* data, const void** block)
{
    auto* v = static_cast<View*>(data);
    for (;;) {
        ssize_t n = read(v->fd, v->buffer.data(), v->buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        *block = v->buffer.data();
        return n;
    }
}

la_int64_t ViewSkip(archive*, void* data, la_int64_t request)
{
    auto* v = static_cast<View*>(data);
    return lseek(v->fd, request, SEEK_CUR) < 0 ? 0 : request;
}

int ViewClose(archive*, void* data)
{
    auto* v = static_cast<View*>(data);
    if (v->fd >= 0)
        close(v->fd);
    delete v;
    return ARCHIVE_OK;
}

// A gzip-compressed tar archive (or gzip file) decompressed by zlib, which
// checks each gzip member's CRC-32 and length, as libarchive 3.6's gzip
// filter does not; libarchive reads what comes out. Concatenated gzip
// members follow one another; anything else after the last ends the data.
struct GunzipView {
    int fd = -1;
    z_stream z{};
    bool started = false, ended = false, eof = false;
    std::vector<unsigned char> in = std::vector<unsigned char>(65536), out = std::vector<unsigned char>(65536);
};

la_ssize_t GunzipRead(archive* a, void* data, const void** block)
{
    auto* v = static_cast<GunzipView*>(data);
    *block = v->out.data();
    for (;;) {
        if (v->z.avail_in == 0 && !v->eof) {
            ssize_t n = read(v->fd, v->in.data(), v->in.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                archive_set_error(a, errno, "cannot read the archive");
                return -1;
            }
            v->eof = n == 0;
            v->z.next_in = v->in.data();
            v->z.avail_in = static_cast<uInt>(n);
        }
        if (v->ended) {
            // Another gzip member, or the end.
            if (v->z.avail_in == 0)
                return 0;
            if (v->z.avail_in >= 2 && (v->z.next_in[0] != 0x1F || v->z.next_in[1] != 0x8B))
                return 0;
            if (v->z.avail_in < 2 && v->eof)
                return 0;
            if (v->z.avail_in < 2) {
                // Too little to tell: keep it and read more.
                std::memmove(v->in.data(), v->z.next_in, v->z.avail_in);
                ssize_t n = read(v->fd, v->in.data() + v->z.avail_in, v->in.size() - v->z.avail_in);
                v->eof = n <= 0;
                v->z.next_in = v->in.data();
                v->z.avail_in += n > 0 ? static_cast<uInt>(n) : 0;
                continue;
            }
            inflateReset(&v->z);
            v->ended = false;
        }
        v->z.next_out = v->out.data();
        v->z.avail_out = static_cast<uInt>(v->out.size());
        int r = inflate(&v->z, Z_NO_FLUSH);
        size_t made = v->out.size() - v->z.avail_out;
        if (r == Z_STREAM_END) {
            v->ended = true;
        } else if (r == Z_BUF_ERROR && v->eof && v->z.avail_in == 0 && made == 0) {
            archive_set_error(a, EILSEQ, "truncated gzip data");
            return -1;
        } else if (r != Z_OK && r != Z_BUF_ERROR) {
            archive_set_error(a, EILSEQ, "gzip data: %s (a bad CRC or damaged data)",
                              v->z.msg ? v->z.msg : "damaged");
            return -1;
        }
        if (made > 0)
            return static_cast<la_ssize_t>(made);
    }
}

int GunzipClose(archive*, void* data)
{
    auto* v = static_cast<GunzipView*>(data);
    if (v->started)
        inflateEnd(&v->z);
    if (v->fd >= 0)
        close(v->fd);
    delete v;
    return ARCHIVE_OK;
}

// gunzip: a tar archive or plain file that starts as gzip data is
// decompressed by zlib (GunzipView); gunzipped tells whether it was.
bool OpenFile(archive* a, const std::string& path, Kind kind, bool gunzip = false, bool* gunzipped = nullptr)
{
    uint64_t base = kind == Kind::Zip ? 0 : PayloadStart(path);
    if (gunzipped)
        *gunzipped = false;
    if (gunzip && kind == Kind::Tar) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        unsigned char magic[2] = {0, 0};
        if (fd >= 0 && pread(fd, magic, 2, static_cast<off_t>(base)) == 2 && magic[0] == 0x1F && magic[1] == 0x8B
            && lseek(fd, static_cast<off_t>(base), SEEK_SET) >= 0) {
            auto* v = new GunzipView;
            v->fd = fd;
            v->started = inflateInit2(&v->z, 15 + 16) == Z_OK;
            if (!v->started) {
                GunzipClose(a, v);
                return false;
            }
            if (gunzipped)
                *gunzipped = true;
            return archive_read_open2(a, v, nullptr, GunzipRead, nullptr, GunzipClose) == ARCHIVE_OK;
        }
        if (fd >= 0)
            close(fd);
    }
    if (base == 0)
        return archive_read_open_filename(a, path.c_str(), 65536) == ARCHIVE_OK;
    auto* v = new View;
    v->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (v->fd < 0 || lseek(v->fd, static_cast<off_t>(base), SEEK_SET) < 0) {
        ViewClose(a, v);
        return false;
    }
    // libarchive closes the view, whatever the outcome.
    return archive_read_open2(a, v, nullptr, ViewRead, ViewSkip, ViewClose) == ARCHIVE_OK;
}

} // namespace

void ReadWithLibarchive(Kind kind, const std::string& path, MemberSink& job)
{
    Utf8Locale locale;
    ArchivePtr a = MakeReader(kind, ZipMode::Seekable, true);
    bool gunzipped = false;
    if (!OpenFile(a.get(), path, kind, true, &gunzipped)) {
        if (kind == Kind::Zip) {
            // Nothing recognised from the end: read the local headers.
            a = MakeReader(kind, ZipMode::Streamable, false);
            if (OpenFile(a.get(), path, kind) && ReadAll(kind, a.get(), path, job, false))
                return;
        }
        // The file itself was readable: the format was not recognised.
        job.Fail(ARCERR_NOT_ARCHIVE, path + ": " + ErrorText(a.get()));
        return;
    }
    if (ReadAll(kind, a.get(), path, job, gunzipped))
        return;
    if (kind == Kind::Zip) {
        a = MakeReader(kind, ZipMode::Streamable, false);
        if (OpenFile(a.get(), path, kind) && ReadAll(kind, a.get(), path, job, false))
            return;
    }
    job.Fail(ARCERR_NOT_ARCHIVE, path + ": not an archive of this kind");
}

namespace {

bool Recognises(Kind kind, ZipMode zipMode, const std::string& path)
{
    ArchivePtr a = MakeReader(kind, zipMode, false);
    if (!OpenFile(a.get(), path, kind))
        return false;
    archive_entry* entry = nullptr;
    int r = archive_read_next_header(a.get(), &entry);
    if (r == ARCHIVE_EOF)
        return archive_format(a.get()) != 0;
    return r == ARCHIVE_OK || r == ARCHIVE_WARN;
}

} // namespace

bool LibarchiveRecognises(Kind kind, const std::string& path)
{
    Utf8Locale locale;
    if (kind == Kind::Tar) {
        int type = TarArchiveType(path);
        return type >= 1 && type <= 7;
    }
    if (Recognises(kind, ZipMode::Seekable, path))
        return true;
    return kind == Kind::Zip && Recognises(kind, ZipMode::Streamable, path);
}

int TarArchiveType(const std::string& path)
{
    Utf8Locale locale;
    ArchivePtr a = MakeReader(Kind::Tar, ZipMode::Seekable, true);
    if (!OpenFile(a.get(), path, Kind::Tar))
        return -1;
    archive_entry* entry = nullptr;
    int r = archive_read_next_header(a.get(), &entry);
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN && r != ARCHIVE_EOF)
        return 0;
    bool tar = (archive_format(a.get()) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
    bool raw = archive_format(a.get()) == ARCHIVE_FORMAT_RAW;
    if (!tar && !raw)
        return 0;
    int filter = archive_filter_count(a.get()) > 1 ? archive_filter_code(a.get(), 0) : ARCHIVE_FILTER_NONE;
    switch (filter) {
    case ARCHIVE_FILTER_NONE:
        return tar ? 1 : 0;
    case ARCHIVE_FILTER_GZIP:
        return tar ? 2 : 3;
    case ARCHIVE_FILTER_COMPRESS:
        return tar ? 4 : 5;
    case ARCHIVE_FILTER_BZIP2:
        return tar ? 7 : 6;
    default:
        return 0;
    }
}

} // namespace arc
