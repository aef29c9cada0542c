// ZIP and tar family archives written with libarchive's writers.
//
// ZIP: Deflate at the level asked for (6 unless said otherwise; level 0
// stores), ZIP64 where a member passes 4 GiB, names as UTF-8 with the UTF-8
// flag where they are not plain ASCII, folders and symbolic links with
// their Unix modes. tar: POSIX pax (ustar where it suffices) with UTF-8
// names, plain, gzip- or bzip2-compressed.
#pragma once
#include "core/ArchiveWriter.h"

#include <memory>

struct archive;

namespace arc {

class LibarchiveWriter : public ArchiveWriter {
public:
    enum class Format { Zip, Tar, TarGzip, TarBzip2 };
    // level: -1 the format's default, 0 to 9 otherwise.
    LibarchiveWriter(int fd, Format format, int level);
    ~LibarchiveWriter() override;

    bool Begin(const Member& member, std::string& why) override;
    bool Write(const void* data, size_t size) override;
    bool End() override;
    bool Finish() override;
    std::string Error() const override { return error_; }

private:
    bool Check(int r);

    archive* a_ = nullptr;
    bool zip_ = false; // names are flagged UTF-8, so they must be UTF-8
    std::string error_;
    bool open_ = false;
};

} // namespace arc
