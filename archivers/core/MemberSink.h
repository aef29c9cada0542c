// What a reader hands the members of an archive to.
//
// Every reader (libarchive, liblhasa, libmspack, libunarr, and the ARJ and
// BGA readers of this library) walks an archive and calls BeginMember for
// each header, Write (and Hole, for the gaps of sparse files) with the
// member's decoded data, and EndMember. What happens to the data is the
// sink's business: extraction to disk, a full check that only decodes, a
// listing, one member into memory.
//
// Guards against readers that do not come to an end. A reader reports the
// position of each header it returns (AtHeader); a position already seen
// means the reader has started over without consuming anything, and the
// walk ends as damaged. The decoded output of one walk is limited by what
// the archive's size allows: 16 MiB plus 2 Mi bytes per archive byte (well
// above the best ratio any method reaches, bzip2's of runs of one byte);
// the holes of sparse files do not count. Past that the walk ends as damaged
// too, so a decoder that keeps producing data from nothing is stopped. (The
// fuzz build lowers the allowance to 64 MiB, to keep every run short.)
#pragma once
#include "ArchiverApi.h"

#include <cstdint>
#include <set>
#include <string>

namespace arc {

struct Member {
    enum Type { File, Folder, Symlink, Hardlink };
    std::string name;    // UTF-8, folders separated by "/"
    std::string altName; // another reading of the stored name, or empty
    Type type = File;
    std::string link;    // symlink target, or the member name a hard link refers to
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint32_t crc = 0;
    uint32_t attributes = 0; // DOS attributes
    int64_t mtime = -1;      // seconds since 1970, -1 unknown
    uint32_t mode = 0;       // Unix permission bits, 0 unknown
    std::string method;
};

enum class Step { Write, Skip, Stop };

// DOS dates and times (local time), 0 for what they cannot hold.
uint16_t DosDate(int64_t time);
uint16_t DosTime(int64_t time);
int64_t FromDosDateTime(uint16_t date, uint16_t time);

class MemberSink {
public:
    MemberSink() = default;
    virtual ~MemberSink() = default;
    MemberSink(const MemberSink&) = delete;
    MemberSink& operator=(const MemberSink&) = delete;

    // Write: the reader decodes the member's data and hands it to Write;
    // Skip: the reader goes on to the next header; Stop: the walk ends.
    virtual Step BeginMember(const Member& member) = 0;
    // False: stop decoding this member (EndMember(false) follows).
    bool Write(const void* data, size_t size);
    // A run of zero bytes that the archive does not store (sparse files).
    bool Hole(uint64_t size);
    // ok false: the member is not complete; error (if nonzero) is kept.
    virtual void EndMember(bool ok, int error = 0, const std::string& why = {}) = 0;
    // Ends a member that did not decode without keeping an error: what was
    // made of it is removed, so that another decoder may try it.
    virtual void AbandonMember(const std::string& why) = 0;
    // An archive-level failure; the first error decides the result.
    virtual void Fail(int error, const std::string& message) = 0;
    virtual void Note(const std::string& line) = 0;
    // True once the walk must end: the owner asked to abort, a file could not
    // be written, or a guard below tripped.
    bool Stopped() const { return halted_ || OnStopped(); }

    // False, after failing the walk as damaged, when a header position comes
    // a second time.
    bool AtHeader(uint64_t position);

    // Ends a member whose data a reader decoded with result r (0, ARCERR_CRC,
    // ARCERR_WRITE or a damage code); badData names a check-value failure in
    // the log. Returns whether reading goes on: after a bad check value the
    // next member is still read.
    bool EndDecodedMember(int r, const std::string& name, const char* badData);
    // Ends the walk of an archive with the walk's result; kind names the
    // format in the log ("an ARJ archive").
    void EndWalk(int rc, const std::string& path, const char* kind);

    // Sets the output allowance from the archive's size (unlimited before).
    void LimitTo(uint64_t archiveSize);

protected:
    virtual bool OnWrite(const void* data, size_t size) = 0;
    // The default writes zeros through OnWrite.
    virtual bool OnHole(uint64_t size);
    virtual bool OnStopped() const = 0;

private:
    bool Spend(uint64_t size);

    uint64_t allowance_ = UINT64_MAX;
    uint64_t spent_ = 0;
    bool halted_ = false;
    std::set<uint64_t> headers_;
};

// The size of the archive in a file: the file less a stub program of ours
// before it (Payload.h); 0 when it cannot be read.
uint64_t ArchiveSizeOf(const std::string& path);

} // namespace arc
