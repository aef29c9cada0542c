// Writes LHA archives, the way the Japanese LHA tools read them.
//
// No Debian library writes LHA, so the member data is compressed by the
// libraries' own -lh5- encoder (LhaEncoder). What is written, and why:
//
// - Level-2 headers only: sizes, a Unix time stamp and the data CRC-16 in
//   the fixed part, everything else in extension headers, and a CRC-16 of
//   the whole header in the common extension header (0x00), so a reader
//   notices a damaged header. The fixed part carries 0x20 in the attribute
//   byte and 'U' as the maker's system, as LHa for UNIX writes them
//   (libarchive takes a level-2 header only with 0x20 there; lhasa turns
//   all-capital names of MS-DOS archives into lower case, which 'U' avoids).
//   A header whose size would end in a 0 byte gets one byte of padding, so
//   that its first byte is never read as the end mark.
// - Extension headers: the file name (0x01), the folders (0x02, each
//   followed by 0xFF), the MS-DOS attributes (0x40) when there are any, and
//   the Unix file type and permission bits (0x50). No owner: a member does
//   not carry one, and none is better than root's.
// - Names in code page 932 (Shift-JIS as Japanese Windows writes it), which
//   is what Japanese LHA tools, LHa for UNIX by default, lhasa's users and
//   libarchive (through this library's readers) expect. A name is stored
//   only when its CP932 bytes read back as the same name; one with a
//   character CP932 lacks, or one that would read back as another ("\" and
//   the yen sign are the folder separator there), is refused by Begin and
//   nothing is written for it.
// - Folders as -lhd- members without data.
// - Symbolic links as LHa for UNIX stores them: a -lhd- member whose Unix
//   file type is a link and whose path is "name|target"; lhasa and
//   libarchive (and so this library) read them back as links. A link whose
//   CP932 name contains the byte of "|" (also the second byte of some
//   double-byte characters) is refused, because readers would cut it there.
//   Hard links are refused: the format has no form for them.
// - Data compressed with -lh5- by default. When the compressed data would
//   not be smaller than the original, the member is stored (-lh0-) instead:
//   the data comes only once, so a copy is kept while it is compressed, in
//   memory up to 1 MiB and past that in an unlinked temporary file beside
//   the archive (or in the temporary folder). Empty files are stored.
//   Method::Lh0 stores every member, without a copy.
// - Each header is written before the data and rewritten with the sizes and
//   the data CRC once the data has ended; a member larger than 4 GiB - 1
//   bytes (the fixed part's size fields) is refused, or dropped by End when
//   more data comes than that. Finish writes the end mark, a 0 byte, and
//   cuts the file there.
//
// The writer writes to a file descriptor that the caller has opened on a
// fresh, seekable file and closes after Finish; it writes at its own
// offsets (pwrite), from the descriptor's position at construction on.
#pragma once
#include "core/ArchiveWriter.h"
#include "core/LhaEncoder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace arc {

class LhaWriter : public ArchiveWriter {
public:
    enum class Method {
        Lh5, // -lh5-, or -lh0- for data that does not shrink
        Lh0  // every member stored
    };

    explicit LhaWriter(int fd, Method method = Method::Lh5);
    ~LhaWriter() override;
    LhaWriter(const LhaWriter&) = delete;
    LhaWriter& operator=(const LhaWriter&) = delete;

    bool Begin(const Member& member, std::string& why) override;
    bool Write(const void* data, size_t size) override;
    bool End() override;
    bool Finish() override;
    std::string Error() const override;

private:
    struct Entry {
        std::string method = "-lh0-";
        std::string folders; // CP932, each folder followed by 0xFF
        std::string file;    // CP932
        uint32_t mode = 0;   // Unix type and permission bits
        uint32_t attributes = 0;
        uint32_t mtime = 0;
        uint64_t packed = 0;
        uint64_t size = 0;
        uint16_t crc = 0;
    };
    std::string HeaderOf(const Entry& entry) const;
    bool Fail(const std::string& what, int error);
    bool Emit(const void* data, size_t size);
    bool Flush();
    uint64_t Tell() const { return base_ + buffer_.size(); }
    bool Patch(uint64_t offset, const std::string& bytes);
    void Rewind(uint64_t offset);
    bool Keep(const uint8_t* data, size_t size);
    bool StoreKept();

    int fd_;
    Method method_;
    bool failed_ = false;
    bool finished_ = false;
    std::string error_;

    // Output: buffer_ goes to the file at base_.
    uint64_t base_ = 0;
    std::vector<uint8_t> buffer_;

    // The member being written.
    bool open_ = false;
    bool isFile_ = false;
    bool tooLarge_ = false;
    Entry entry_;
    uint64_t headerAt_ = 0;
    uint64_t dataAt_ = 0;
    std::unique_ptr<LhaEncoder> encoder_;

    // The copy of the data for storing it after all: the first bytes in
    // memory, the rest in an unlinked file made when first needed.
    std::vector<uint8_t> kept_;
    int keptFd_ = -1;
    uint64_t keptInFile_ = 0;
};

} // namespace arc
