// One extraction: member selection, safe writing into the destination
// folder, progress messages, the log text and the result code.
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
// the way of a member's folders is refused.
//
// A file is written under a temporary name in its folder and renamed over
// the member's name only when it is complete, so an existing file is
// replaced, never truncated or written through (it may be a link, or have
// other hard links outside the destination), and stays as it was when the
// member fails.
//
// archive_write_disk is not used for libarchive's members: it cannot be
// given the destination as an open folder without changing the process's
// current directory, which a library inside the program must not do, and
// its checks would not cover the ARJ and BGA readers. This writer gives
// every reader the same checks.
// A member that fails half-way (damaged data, bad check value, abort)
// leaves nothing behind, so no truncated file is left looking complete;
// members finished before the failure stay. Sparse files keep their holes.
#pragma once
#include "ArchiverApi.h"
#include "core/CommandLine.h"
#include "core/MemberSink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace arc {

// Normalises a stored name to a relative path below the destination
// ("a//./b" -> "a/b"). False for absolute names and ".." components.
bool SafeRelativePath(const std::string& name, std::string& out);
// True when the link target, seen from the member at relPath, stays inside
// (leading ".." components only).
bool SafeLinkTarget(const std::string& relPath, const std::string& target);
// A line for the log: control characters (a name may hold a line feed)
// become "?", so one line of the log is one line of text.
std::string LogLine(std::string line);

class Extraction : public MemberSink {
public:
    Extraction(Kind kind, const Command& command);
    ~Extraction() override;

    // Opens (creating when missing) the destination folder.
    bool Open();
    Step BeginMember(const Member& member) override;
    void EndMember(bool ok, int error = 0, const std::string& why = {}) override;
    void AbandonMember(const std::string& why) override;
    void Fail(int error, const std::string& message) override;
    void Note(const std::string& line) override;

    int Finish();
    const std::string& LogText() const { return log_; }

protected:
    bool OnWrite(const void* data, size_t size) override;
    bool OnHole(uint64_t size) override;
    bool OnStopped() const override { return stopped_; }

private:
    bool Selected(const std::string& path) const;
    // Opens the folder of the first `count` parts below the destination,
    // never following a link; missing folders are made when create holds.
    int OpenParent(const std::vector<std::string>& parts, size_t count, int& error, bool create = true);
    // Closes the member's files; the temporary file is removed unless kept.
    void CloseMember(bool keepTemp);
    void SendState(unsigned state);

    Kind kind_;
    std::string destination_;
    std::vector<std::string> names_;
    ExtractSettings settings_;
    int destFd_ = -1;
    int fileFd_ = -1;
    int parentFd_ = -1;
    std::string leaf_;
    std::string temp_;      // the temporary name of the file being written
    uint64_t written_ = 0;  // its length so far, holes included
    bool pendingHole_ = false;
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
