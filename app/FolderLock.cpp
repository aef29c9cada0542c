#include "app/FolderLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TFolderLock::TFolderLock(std::string folder) : folder_(std::move(folder)) {}

TFolderLock::~TFolderLock() { Release(); }

TFolderLock::TState TFolderLock::Acquire()
{
    Release();
    const std::string path = folder_ + LockFile;
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); // a read-only folder
    if (fd_ < 0)
        return flUnavailable;
    int result;
    do
        result = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result == 0)
        return flLocked;
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd_);
    fd_ = -1;
    return busy ? flBusy : flUnavailable;
}

void TFolderLock::Release()
{
    if (fd_ >= 0) {
        ::close(fd_); // the lock goes with the descriptor
        fd_ = -1;
    }
}
