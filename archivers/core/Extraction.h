// One extraction: member selection, safe writing into the destination
// folder, progress messages, the log text and the result code.
//
// Readers (libarchive, ARJ, BGA) hand every member to BeginMember, its data
// to Write and finish it with EndMember.
//
// Safety: every file, folder and link is created relative to the opened
// destination folder, walking the path one folder at a time without
// following symbolic links (openat with O_NOFOLLOW), so nothing is written
// outside it whatever the archive or the disk holds. Members whose stored
// names are absolute ("/x", "C:x"), contain a ".." component, or are links
// whose target leaves the destination are refused: skipped, logged, and the
// result becomes ARCERR_UNSAFE. A symbolic link's target may climb with
// leading ".." components (no higher than the destination) and then only
// descend: a ".." after a name is refused, because it could climb out
// through another link, whatever order the links come in. A hard link's
// target is reached without following links as well. An existing link in
// the way of a member is refused; an existing file is replaced (one with
// other hard links is unlinked first, never truncated).
//
// archive_write_disk is not used for libarchive's members: it cannot be
// given the destination as an open folder without changing the process's
// current directory, which a library inside the program must not do, and
// its checks would not cover the ARJ and BGA readers. This writer gives
// every reader the same checks.
// A member that fails half-way (damaged data, bad check value, abort) is
// removed, so no truncated file is left looking complete; members finished
// before the failure stay.
#pragma once
#include "ArchiverApi.h"
#include "core/CommandLine.h"

#include <cstdint>
#include <string>
#include <vector>

namespace arc {

struct Member {
    enum Type { File, Folder, Symlink, Hardlink };
    std::string name; // UTF-8, folders separated by "/"
    Type type = File;
    std::string link; // symlink target, or the member name a hard link refers to
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint32_t crc = 0;
    uint32_t attributes = 0; // DOS attributes
    int64_t mtime = -1;      // seconds since 1970, -1 unknown
    uint32_t mode = 0;       // Unix permission bits, 0 unknown
    std::string method;
};

enum class Step { Write, Skip, Stop };

// Normalises a stored name to a relative path below the destination
// ("a//./b" -> "a/b"). False for absolute names and ".." components.
bool SafeRelativePath(const std::string& name, std::string& out);
// True when the link target, seen from the member at relPath, stays inside
// (leading ".." components only).
bool SafeLinkTarget(const std::string& relPath, const std::string& target);

uint16_t DosDate(int64_t time);
uint16_t DosTime(int64_t time);
int64_t FromDosDateTime(uint16_t date, uint16_t time);

class Extraction {
public:
    Extraction(Kind kind, const Command& command);
    ~Extraction();
    Extraction(const Extraction&) = delete;
    Extraction& operator=(const Extraction&) = delete;

    // Opens (creating when missing) the destination folder.
    bool Open();
    Step BeginMember(const Member& member);
    // False: stop reading (write error or abort); EndMember(false) follows.
    bool Write(const void* data, size_t size);
    // ok false: the member's output is removed and error (if nonzero) kept.
    void EndMember(bool ok, int error = 0, const std::string& why = {});
    // An archive-level failure; the first error decides the result.
    void Fail(int error, const std::string& message);
    // Ends a member whose data a reader of our own decoded with result r
    // (0, ARCERR_CRC, ARCERR_WRITE or a damage code); badData names a
    // check-value failure in the log. Returns whether reading goes on: after
    // a bad check value the next member is still read.
    bool EndDecodedMember(int r, const std::string& name, const char* badData);
    // Ends the walk of an archive with the walk's result; kind names the
    // format in the log ("an ARJ archive").
    void EndWalk(int rc, const std::string& path, const char* kind);
    void Note(const std::string& line);

    bool Stopped() const { return stopped_; }
    int Finish();
    const std::string& LogText() const { return log_; }

private:
    bool Selected(const std::string& path) const;
    // Opens the folder of the first `count` parts below the destination,
    // never following a link; missing folders are made when create holds.
    int OpenParent(const std::vector<std::string>& parts, size_t count, int& error, bool create = true);
    void SendState(unsigned state);

    Kind kind_;
    std::string destination_;
    std::vector<std::string> names_;
    ExtractSettings settings_;
    int destFd_ = -1;
    int fileFd_ = -1;
    int parentFd_ = -1;
    std::string leaf_;
    Member current_;
    bool inMember_ = false;
    bool matchedAny_ = false;
    bool stopped_ = false;
    bool sentInProcess_ = false;
    int result_ = 0;
    std::string log_;
    EXTRACTINGINFOEX info_{};
};

} // namespace arc
