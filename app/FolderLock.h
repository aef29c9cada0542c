// TFolderLock: one download at a time in a working folder. The lock is an
// flock on "DL.lock" in the folder, held from the press of the download
// button until the download has ended (extraction included); a second copy
// of the program pressed in the same folder finds it held and stops before
// it writes anything. The kernel lets go of it when the process ends, also
// when it crashes, so a stale lock file never blocks a later download. The
// file itself stays (removing it would race with a copy that has just
// opened it); it is empty.
//
// A folder where the lock file can be neither made nor opened (read-only)
// takes no lock: nothing can be downloaded there either, and the download
// says so when it tries.
#pragma once
#include <string>

class TFolderLock {
public:
    static constexpr const char* LockFile = "DL.lock";
    enum TState { flLocked, flBusy, flUnavailable };

    // folder: the working folder, with its "/".
    explicit TFolderLock(std::string folder);
    ~TFolderLock();
    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;

    TState Acquire();
    void Release();

private:
    std::string folder_;
    int fd_ = -1;
};
