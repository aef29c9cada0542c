// BGA archives written by this library itself (no Debian library writes
// them), in the layout the reader follows (BgaReader.h): GZA members with
// one gzip stream each (zlib), BZA members with one bzip2 stream each
// (libbz2), the header checksum over the header and the names, names in
// CP932 with "\" between folders and the folder part apart from the file
// name. A member whose compressed data would not be smaller is stored
// (arc type 2). Members of 4 GiB or more, and names without a CP932 form,
// cannot be stored. Folders and links are not members of a BGA archive.
#pragma once
#include "core/ArchiveWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace arc {

class BgaWriter : public ArchiveWriter {
public:
    // bzip2 selects BZA, otherwise GZA; level 1 to 9, -1 the default.
    BgaWriter(int fd, bool bzip2, int level);
    ~BgaWriter() override;

    bool Begin(const Member& member, std::string& why) override;
    bool Write(const void* data, size_t size) override;
    bool End() override;
    bool Finish() override { return error_.empty(); }
    std::string Error() const override { return error_; }

private:
    bool Put(const void* data, size_t size);
    bool Compress(const void* data, size_t size, bool finish);
    void EndStream();

    int fd_;
    bool bzip2_;
    int level_;
    std::string error_;
    // The member being written.
    std::vector<uint8_t> header_;
    int64_t headerAt_ = 0;
    uint64_t original_ = 0, packed_ = 0;
    int copy_ = -1; // the original data, kept to store it when it does not shrink
    void* stream_ = nullptr;
};

} // namespace arc
