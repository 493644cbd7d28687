// Advisory file locks that other processes see.
//
// A lock is an exclusive flock(2) on the file, opened (and created when
// missing) for the purpose. Both flock and lockf (fcntl) locks are taken, so a
// process that tests with either call sees it. The kernel releases both when
// the descriptor closes, which happens also when the holder dies, so a crashed
// process never leaves a file locked. A file the lock had to create is not
// removed on release: another process may be using its name by then.
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
