// Advisory file locks (see FileLock.h).
#include "FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool FileLock::lock(const char* path, bool create) {
    if (fd_ >= 0) return true;
    if (!path || !*path) return false;
    // O_NONBLOCK: opening a pipe must not wait for its other end. An existing
    // file is locked through a link to it; a missing one is made exclusively,
    // so that a dangling link never makes a file somewhere else.
    const int flags = O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path, O_RDWR | flags);
    if (fd < 0 && errno == ENOENT && create) {
        fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | flags, 0666);
        if (fd < 0 && errno == EEXIST) fd = ::open(path, O_RDWR | flags);  // made meanwhile by someone else
    }
    if (fd < 0 && errno != ENOENT) fd = ::open(path, O_RDONLY | flags);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    // An open-file-description lock conflicts with the lockf/fcntl locks of
    // other processes, yet, unlike a classic fcntl lock, is not dropped when
    // this process closes some other descriptor of the same file. It needs a
    // descriptor open for writing; a read-only file keeps the flock alone.
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &range) != 0 && errno != EBADF) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void FileLock::unlock() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}
