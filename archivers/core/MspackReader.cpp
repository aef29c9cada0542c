#include "core/MspackReader.h"

#include "ArchiverApi.h"
#include "core/NameCodec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <dirent.h>
#include <mspack.h>
#include <set>
#include <strings.h>
#include <vector>

namespace arc {
namespace {

// The name under which libmspack is asked to write a member: the system
// below hands that "file" to the sink.
constexpr const char* kSinkName = "\x01sink";

struct File {
    std::FILE* file = nullptr; // a file read by libmspack
    MemberSink* sink = nullptr; // or the member being written
};

struct System {
    mspack_system base;
    MemberSink* sink = nullptr;
};

mspack_file* Open(mspack_system* self, const char* name, int mode)
{
    auto* sys = reinterpret_cast<System*>(self);
    if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kSinkName) == 0)
        return reinterpret_cast<mspack_file*>(new File{nullptr, sys->sink});
    if (mode != MSPACK_SYS_OPEN_READ)
        return nullptr; // nothing else is ever written
    std::FILE* f = std::fopen(name, "rb");
    return f ? reinterpret_cast<mspack_file*>(new File{f, nullptr}) : nullptr;
}

void Close(mspack_file* file)
{
    auto* f = reinterpret_cast<File*>(file);
    if (f && f->file)
        std::fclose(f->file);
    delete f;
}

int Read(mspack_file* file, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<File*>(file);
    if (!f || !f->file || bytes < 0)
        return -1;
    size_t n = std::fread(buffer, 1, static_cast<size_t>(bytes), f->file);
    return n == 0 && std::ferror(f->file) ? -1 : static_cast<int>(n);
}

int Write(mspack_file* file, void* buffer, int bytes)
{
    auto* f = reinterpret_cast<File*>(file);
    if (!f || !f->sink || bytes < 0)
        return -1;
    return f->sink->Write(buffer, static_cast<size_t>(bytes)) ? bytes : -1;
}

int Seek(mspack_file* file, off_t offset, int mode)
{
    auto* f = reinterpret_cast<File*>(file);
    if (!f || !f->file)
        return -1;
    int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR : SEEK_END;
    return fseeko(f->file, offset, whence) == 0 ? 0 : -1;
}

off_t Tell(mspack_file* file)
{
    auto* f = reinterpret_cast<File*>(file);
    return f && f->file ? ftello(f->file) : -1;
}

void Message(mspack_file*, const char*, ...) {}
void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void Free(void* p) { std::free(p); }
void Copy(void* src, void* dst, size_t bytes) { std::memmove(dst, src, bytes); }

class Decompressor {
public:
    explicit Decompressor(MemberSink* sink)
    {
        sys_.base = mspack_system{Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr};
        sys_.sink = sink;
        cabd_ = mspack_create_cab_decompressor(&sys_.base);
    }
    ~Decompressor()
    {
        if (!cabd_)
            return;
        // Closing what search() found frees every part joined to it too.
        if (found_)
            cabd_->close(cabd_, found_);
        mspack_destroy_cab_decompressor(cabd_);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    mscab_decompressor* operator->() const { return cabd_; }
    explicit operator bool() const { return cabd_ != nullptr; }
    mscabd_cabinet* Search(const std::string& path)
    {
        found_ = cabd_->search(cabd_, path.c_str());
        return found_;
    }
    // Opens a part of a set; libmspack keeps using the name until the end.
    mscabd_cabinet* OpenPart(const std::string& path)
    {
        names_.push_back(path);
        return cabd_->open(cabd_, names_.back().c_str());
    }

private:
    System sys_{};
    mscab_decompressor* cabd_ = nullptr;
    mscabd_cabinet* found_ = nullptr;
    std::deque<std::string> names_;
};

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file named by a cabinet as its neighbour in the set, beside it.
std::string Neighbour(const std::string& path, const char* name)
{
    if (!name || !*name)
        return {};
    std::string base = name;
    size_t cut = base.find_last_of("\\/:");
    if (cut != std::string::npos)
        base = base.substr(cut + 1);
    std::string folder = FolderOf(path);
    std::string exact = folder + base;
    if (std::FILE* f = std::fopen(exact.c_str(), "rb")) {
        std::fclose(f);
        return exact;
    }
    std::string found;
    if (DIR* d = opendir(folder.empty() ? "." : folder.c_str())) {
        while (dirent* e = readdir(d)) {
            if (strcasecmp(e->d_name, base.c_str()) == 0) {
                found = folder + e->d_name;
                break;
            }
        }
        closedir(d);
    }
    return found;
}

// Joins the parts of the set the cabinet belongs to, as far as they are
// found.
void JoinSet(Decompressor& cabd, const std::string& path, mscabd_cabinet* cab)
{
    std::set<std::string> used{path};
    for (mscabd_cabinet* first = cab; first->prevname && !first->prevcab;) {
        std::string prev = Neighbour(path, first->prevname);
        if (prev.empty() || !used.insert(prev).second)
            break;
        mscabd_cabinet* part = cabd.OpenPart(prev);
        if (!part)
            break;
        if (cabd->prepend(cabd.operator->(), first, part) != MSPACK_ERR_OK) {
            cabd->close(cabd.operator->(), part);
            break;
        }
        first = part;
    }
    for (mscabd_cabinet* last = cab; last->nextname && !last->nextcab;) {
        std::string next = Neighbour(path, last->nextname);
        if (next.empty() || !used.insert(next).second)
            break;
        mscabd_cabinet* part = cabd.OpenPart(next);
        if (!part)
            break;
        if (cabd->append(cabd.operator->(), last, part) != MSPACK_ERR_OK) {
            cabd->close(cabd.operator->(), part);
            break;
        }
        last = part;
    }
}

std::string MethodOf(const mscabd_folder* folder)
{
    if (!folder)
        return "CAB";
    switch (MSCABD_COMP_METHOD(folder->comp_type)) {
    case MSCAB_COMP_NONE:
        return "None";
    case MSCAB_COMP_MSZIP:
        return "MSZIP";
    case MSCAB_COMP_QUANTUM:
        return "Quantum";
    case MSCAB_COMP_LZX:
        return "LZX:" + std::to_string(MSCABD_COMP_LEVEL(folder->comp_type));
    default:
        return "CAB";
    }
}

int64_t TimeOf(const mscabd_file* f)
{
    struct tm tm {};
    tm.tm_year = f->date_y - 1900;
    tm.tm_mon = f->date_m - 1;
    tm.tm_mday = f->date_d;
    tm.tm_hour = f->time_h;
    tm.tm_min = f->time_m;
    tm.tm_sec = f->time_s;
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1)
        return -1;
    return static_cast<int64_t>(mktime(&tm));
}

int ErrorOf(int mspackError)
{
    switch (mspackError) {
    case MSPACK_ERR_CHECKSUM:
        return ARCERR_CRC;
    case MSPACK_ERR_WRITE:
        return ARCERR_WRITE;
    default:
        return ARCERR_DAMAGED;
    }
}

} // namespace

void ReadWithMspack(const std::string& path, MemberSink& sink)
{
    Decompressor cabd(&sink);
    if (!cabd) {
        sink.Fail(ARCERR_DAMAGED, "the CAB decoder cannot start");
        return;
    }
    mscabd_cabinet* found = cabd.Search(path);
    if (!found) {
        int error = cabd->last_error(cabd.operator->());
        if (error == MSPACK_ERR_OPEN || error == MSPACK_ERR_READ)
            sink.Fail(ARCERR_OPEN, "cannot open " + path);
        else if (error == MSPACK_ERR_OK || error == MSPACK_ERR_SIGNATURE)
            sink.Fail(ARCERR_NOT_ARCHIVE, path + ": not a CAB archive");
        else
            sink.Fail(ARCERR_DAMAGED, path + ": damaged cabinet");
        return;
    }
    // Cabinets of one set share their member list; each set is read once.
    std::set<const mscabd_file*> done;
    for (mscabd_cabinet* cab = found; cab && !sink.Stopped(); cab = cab->next) {
        JoinSet(cabd, path, cab);
        for (mscabd_file* f = cab->files; f && !sink.Stopped(); f = f->next) {
            if (!done.insert(f).second)
                continue;
            Member m;
            std::string raw = f->filename ? f->filename : "";
            m.name = BackslashesToSlashes((f->attribs & MSCAB_ATTRIB_UTF_NAME) && IsValidUtf8(raw)
                                              ? raw
                                              : DecodeName(raw, true));
            m.size = f->length;
            m.attributes = static_cast<uint32_t>(f->attribs) & 0x27;
            m.mtime = TimeOf(f);
            if (f->attribs & MSCAB_ATTRIB_EXEC)
                m.mode = (f->attribs & MSCAB_ATTRIB_RDONLY) ? 0555 : 0755;
            m.method = MethodOf(f->folder);
            Step step = sink.BeginMember(m);
            if (step == Step::Stop)
                return;
            if (step == Step::Skip)
                continue;
            int rc = cabd->extract(cabd.operator->(), f, kSinkName);
            if (rc == MSPACK_ERR_OK) {
                sink.EndMember(true);
            } else {
                int error = ErrorOf(rc);
                sink.EndMember(false, error == ARCERR_WRITE && sink.Stopped() ? 0 : error,
                               "error: " + m.name + (rc == MSPACK_ERR_CHECKSUM ? ": bad checksum" : ": damaged data"));
            }
        }
    }
}

bool MspackRecognises(const std::string& path)
{
    Decompressor cabd(nullptr);
    if (!cabd)
        return false;
    return cabd.Search(path) != nullptr;
}

} // namespace arc
