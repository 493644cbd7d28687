// Advisory file locks that other processes see.
//
// A lock is an exclusive flock(2) on the file, opened (and created when
// missing) for the purpose, together with an open-file-description write
// lock (fcntl F_OFD_SETLK), which the lockf/fcntl locks of other processes
// respect: a process that tests with either call sees the file locked. Both
// belong to the descriptor, so the kernel releases them when it closes, also
// when the holder dies: a crashed process never leaves a file locked. Within
// one process a second FileLock on the same file fails as well. A missing file
// is created exclusively (never through a dangling link) and is not removed on
// release: another process may be using its name by then.
#pragma once
#include <string>

class FileLock {
public:
    FileLock() = default;
    ~FileLock() { unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    // Takes the lock without waiting; true when it is held afterwards (also
    // when this object held it already). False when another holder has it or
    // the file cannot be opened. With `create` false a missing file is not
    // made, and the lock fails.
    bool lock(const char* path, bool create = true);
    void unlock();
    bool locked() const noexcept { return fd_ >= 0; }

private:
    int fd_ = -1;
};
