#include "core/CabWriter.h"

#include "core/NameCodec.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gio/gio.h>
#include <libgcab.h>
#include <unistd.h>

namespace arc {
namespace {

// What one folder of a cabinet can hold: its count of data blocks is 16
// bits wide and a block holds at most 32 KiB; the cabinet counts its files
// in 16 bits. libgcab does not check these, and wraps the counts.
constexpr uint64_t kFolderBytes = uint64_t(65535) * 32768;
constexpr size_t kFiles = 65535;

} // namespace

CabWriter::CabWriter(int fd, bool compress) : fd_(fd), compress_(compress)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/cab32-XXXXXX";
    if (mkdtemp(pattern.data()))
        folder_ = pattern;
    else
        error_ = std::string("no scratch folder: ") + std::strerror(errno);
}

CabWriter::~CabWriter()
{
    if (current_ >= 0)
        close(current_);
    for (auto& p : members_)
        unlink(p.scratch.c_str());
    if (!folder_.empty())
        rmdir(folder_.c_str());
}

bool CabWriter::Begin(const Member& m, std::string& why)
{
    if (!error_.empty()) {
        why = error_;
        return false;
    }
    if (m.type != Member::File) {
        why = m.name + ": a cabinet holds files only";
        return false;
    }
    if (m.size >= (uint64_t(1) << 32)) {
        why = m.name + ": too large for a cabinet (4 GiB and more)";
        return false;
    }
    if (!IsValidUtf8(m.name) || m.name.find('\\') != std::string::npos) {
        why = m.name + (IsValidUtf8(m.name) ? ": \"\\\" separates folders in a cabinet" : ": the name is not UTF-8");
        return false;
    }
    if (members_.size() >= kFiles || m.size > kFolderBytes - total_) {
        why = m.name + ": the cabinet is full (65535 files or 2 GiB of data)";
        return false;
    }
    std::string scratch = folder_ + "/" + std::to_string(members_.size());
    current_ = open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (current_ < 0) {
        error_ = why = std::string("cannot keep the member: ") + std::strerror(errno);
        return false;
    }
    members_.push_back({m, scratch});
    written_ = 0;
    return true;
}

bool CabWriter::Write(const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    written_ += size;
    if (written_ > kFolderBytes - total_) {
        error_ = "too large for a cabinet (65535 files or 2 GiB of data)";
        return false;
    }
    while (size > 0) {
        ssize_t n = write(current_, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = std::string("cannot keep the member: ") + std::strerror(errno);
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool CabWriter::End()
{
    bool ok = close(current_) == 0;
    current_ = -1;
    total_ += written_;
    if (!ok)
        error_ = std::string("cannot keep the member: ") + std::strerror(errno);
    return ok;
}

bool CabWriter::Finish()
{
    if (!error_.empty())
        return false;
    GError* err = nullptr;
    GCabCabinet* cab = gcab_cabinet_new();
    GCabFolder* folder = gcab_folder_new(compress_ ? GCAB_COMPRESSION_MSZIP : GCAB_COMPRESSION_NONE);
    bool ok = true;
    for (auto& p : members_) {
        std::string name = p.member.name;
        for (auto& c : name)
            if (c == '/')
                c = '\\';
        GFile* file = g_file_new_for_path(p.scratch.c_str());
        GCabFile* cf = gcab_file_new_with_file(name.c_str(), file);
        g_object_unref(file);
        gcab_file_set_attributes(cf, (p.member.attributes & 0x27) | 0x20);
        if (p.member.mtime >= 0) {
            GDateTime* dt = g_date_time_new_from_unix_local(p.member.mtime);
            if (dt) {
                gcab_file_set_date_time(cf, dt);
                g_date_time_unref(dt);
            }
        }
        ok = gcab_folder_add_file(folder, cf, FALSE, nullptr, &err);
        g_object_unref(cf);
        if (!ok)
            break;
    }
    if (ok)
        ok = gcab_cabinet_add_folder(cab, folder, &err);
    if (ok) {
        // libgcab seeks in what it writes: the file is opened again through
        // its descriptor as a stream that can seek.
        GFile* target = g_file_new_for_path(("/proc/self/fd/" + std::to_string(fd_)).c_str());
        GFileIOStream* io = g_file_open_readwrite(target, nullptr, &err);
        g_object_unref(target);
        ok = io != nullptr;
        if (ok) {
            ok = gcab_cabinet_write_simple(cab, g_io_stream_get_output_stream(G_IO_STREAM(io)), nullptr, nullptr,
                                           nullptr, &err)
                 && g_io_stream_close(G_IO_STREAM(io), nullptr, &err);
            g_object_unref(io);
        }
    }
    if (!ok)
        error_ = err ? err->message : "cannot write the cabinet";
    if (err)
        g_error_free(err);
    g_object_unref(folder);
    g_object_unref(cab);
    return ok;
}

} // namespace arc
