// CAB archives written with libgcab (GNOME's cabinet library, what gcab
// uses), in one folder compressed with MSZIP (or stored). libgcab builds a
// cabinet from whole files, so each member's data is kept in a scratch file
// until Finish writes the cabinet (libgcab seeks in its output, so the
// file is reached again through its descriptor as a GIO stream). Names go in with "\" between folders,
// flagged as UTF-8 where they are not ASCII. A cabinet holds files only:
// folders and links are not members; a member of 4 GiB or more does not fit,
// nor more than 65535 files or 2 GiB of data in all (one folder's limits).
#pragma once
#include "core/ArchiveWriter.h"

#include <string>
#include <vector>

namespace arc {

class CabWriter : public ArchiveWriter {
public:
    CabWriter(int fd, bool compress);
    ~CabWriter() override;

    bool Begin(const Member& member, std::string& why) override;
    bool Write(const void* data, size_t size) override;
    bool End() override;
    bool Finish() override;
    std::string Error() const override { return error_; }

private:
    struct Pending {
        Member member;
        std::string scratch;
    };
    int fd_;
    bool compress_;
    std::string folder_; // scratch folder
    std::vector<Pending> members_;
    int current_ = -1;
    uint64_t written_ = 0; // of the current member
    uint64_t total_ = 0;   // of the members before it
    std::string error_;
};

} // namespace arc
