// TStaging: extraction all or nothing. An archive is extracted into a
// staging folder inside the working folder (".fetchlet-staging-XXXXXX"),
// and its members are moved into the working folder only once the whole
// archive has extracted. A failure while extracting (a damaged member, a
// full disk, a library's refusal) removes the staging folder and leaves the
// working folder as it was; the downloaded archive stays.
//
// Moving into place, member by member (folders first, then their files):
//  - a member whose name is free is renamed there (never over a file that
//    appears meanwhile: RENAME_NOREPLACE);
//  - a member that replaces an existing file is exchanged with it
//    (RENAME_EXCHANGE, or two renames where the file system has no
//    exchange), so the old file waits in the staging folder;
//  - a folder of the archive that exists already is merged into; one that
//    is missing is made.
// A file where the archive has a folder, or a folder (or a link) where it
// has a file, stops the move: everything moved so far is put back (the
// old files return, folders made are removed) and the working folder is
// as it was. After a complete move the old versions of replaced files are
// deleted with the staging folder.
//
// The exceptions: the move is not one atomic step. A crash or a power loss
// in the middle of it leaves some members in place and the rest (and the
// old versions) in the staging folder; the next extraction in the folder
// removes such leftovers. A member whose name is the working folder's own
// file ("DL.ini", the downloaded archive itself) replaces it like any
// other; the archiver libraries already refuse names that leave the
// folder. Links in the archive are moved as links, never followed; a link
// already in the working folder where the archive has a folder stops the
// move rather than writing through it.
#pragma once
#include <string>
#include <vector>

class TStaging {
public:
    static constexpr const char* Prefix = ".fetchlet-staging-";

    // folder: the working folder, with its "/".
    explicit TStaging(std::string folder);
    // Removes the staging folder when it is still there.
    ~TStaging();
    TStaging(const TStaging&) = delete;
    TStaging& operator=(const TStaging&) = delete;

    // Makes a new staging folder and gives its path with a "/"; also
    // removes the leftovers of an interrupted run. Empty when it cannot be
    // made (Error() says why).
    std::string Begin();
    // Moves the staged members into the working folder. False (Error())
    // when it could not, and then nothing has changed there.
    bool Commit();
    // Throws away the staging folder and what it holds.
    void Abandon();

    const std::string& Error() const { return error_; }

private:
    struct Step {
        enum Kind { MadeFolder, Moved, Exchanged, Renamed } kind;
        std::string target;  // in the working folder
        std::string staged;  // in the staging folder
        std::string backup;  // Renamed: where the old file waits
    };
    bool MoveTree(const std::string& stagedDir, const std::string& targetDir);
    void Undo();
    // The error: what failed and the system's reason; false.
    bool Failed(const std::string& what, int error);

    std::string folder_;
    std::string staging_;
    std::vector<Step> done_;
    std::string error_;
};
