#include "core/LibarchiveWriter.h"

#include "core/NameCodec.h"
#include "core/Utf8Locale.h"

#include <archive.h>
#include <archive_entry.h>

namespace arc {

LibarchiveWriter::LibarchiveWriter(int fd, Format format, int level)
{
    Utf8Locale locale;
    zip_ = format == Format::Zip;
    a_ = archive_write_new();
    if (!a_) {
        error_ = "out of memory";
        return;
    }
    const std::string lvl = std::to_string(level < 0 ? 6 : level > 9 ? 9 : level);
    int r = ARCHIVE_OK;
    switch (format) {
    case Format::Zip:
        r = archive_write_set_format_zip(a_);
        if (r == ARCHIVE_OK)
            r = archive_write_set_options(a_, level == 0 ? "zip:compression=store,zip:hdrcharset=UTF-8"
                                                          : ("zip:compression=deflate,zip:compression-level=" + lvl
                                                             + ",zip:hdrcharset=UTF-8")
                                                                .c_str());
        break;
    case Format::Tar:
    case Format::TarGzip:
    case Format::TarBzip2:
        r = archive_write_set_format_pax_restricted(a_);
        if (r == ARCHIVE_OK)
            r = archive_write_set_options(a_, "hdrcharset=UTF-8");
        if (r == ARCHIVE_OK && format == Format::TarGzip) {
            r = archive_write_add_filter_gzip(a_);
            if (r == ARCHIVE_OK)
                r = archive_write_set_filter_option(a_, "gzip", "compression-level", lvl.c_str());
        } else if (r == ARCHIVE_OK && format == Format::TarBzip2) {
            r = archive_write_add_filter_bzip2(a_);
            if (r == ARCHIVE_OK && level >= 1)
                r = archive_write_set_filter_option(a_, "bzip2", "compression-level", lvl.c_str());
        }
        // No padding past the last block of the compressed stream.
        if (r == ARCHIVE_OK && format != Format::Tar)
            r = archive_write_set_bytes_in_last_block(a_, 1);
        break;
    }
    if (r == ARCHIVE_OK)
        r = archive_write_open_fd(a_, fd);
    open_ = Check(r);
}

LibarchiveWriter::~LibarchiveWriter()
{
    // Freeing an archive not finished closes it, and closing writes its
    // end (a ZIP directory) to the file: the writer goes before its file.
    if (a_)
        archive_write_free(a_);
}

bool LibarchiveWriter::Check(int r)
{
    if (r == ARCHIVE_OK || r == ARCHIVE_WARN)
        return true;
    const char* e = a_ ? archive_error_string(a_) : nullptr;
    error_ = e ? e : "write error";
    return false;
}

bool LibarchiveWriter::Begin(const Member& m, std::string& why)
{
    Utf8Locale locale;
    if (!open_) {
        why = error_;
        return false;
    }
    if (zip_ && !IsValidUtf8(m.name)) {
        why = m.name + ": the name is not UTF-8";
        return false;
    }
    std::unique_ptr<archive_entry, void (*)(archive_entry*)> e(archive_entry_new(), archive_entry_free);
    std::string name = m.name;
    if (m.type == Member::Folder && (name.empty() || name.back() != '/'))
        name += '/';
    archive_entry_set_pathname_utf8(e.get(), name.c_str());
    switch (m.type) {
    case Member::Folder:
        archive_entry_set_filetype(e.get(), AE_IFDIR);
        archive_entry_set_perm(e.get(), m.mode ? m.mode & 07777 : 0755);
        archive_entry_set_size(e.get(), 0);
        break;
    case Member::Symlink:
        archive_entry_set_filetype(e.get(), AE_IFLNK);
        archive_entry_set_perm(e.get(), 0777);
        archive_entry_set_symlink_utf8(e.get(), m.link.c_str());
        archive_entry_set_size(e.get(), 0);
        break;
    default:
        archive_entry_set_filetype(e.get(), AE_IFREG);
        archive_entry_set_perm(e.get(), m.mode ? m.mode & 07777 : ((m.attributes & 1) ? 0444 : 0644));
        archive_entry_set_size(e.get(), static_cast<la_int64_t>(m.size));
        break;
    }
    if (m.mtime >= 0)
        archive_entry_set_mtime(e.get(), static_cast<time_t>(m.mtime), 0);
    if (!Check(archive_write_header(a_, e.get()))) {
        why = error_;
        return false;
    }
    return true;
}

bool LibarchiveWriter::Write(const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        la_ssize_t n = archive_write_data(a_, p, size);
        if (n <= 0)
            return Check(n < 0 ? static_cast<int>(n) : ARCHIVE_FATAL);
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool LibarchiveWriter::End() { return Check(archive_write_finish_entry(a_)); }

bool LibarchiveWriter::Finish()
{
    Utf8Locale locale;
    if (!open_)
        return false;
    open_ = false;
    return Check(archive_write_close(a_));
}

} // namespace arc
