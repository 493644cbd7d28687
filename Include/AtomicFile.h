// Whole-file replacement that never leaves a half-written file, and the lock
// that makes read-modify-write of a shared file safe between processes.
//
// sp_WriteFileAtomic writes into a fresh temporary file in the target's own
// directory (so the rename cannot cross file systems), flushes it to disk and
// renames it over the target only when every byte is there: a failure at any
// point leaves the old file as it was and removes the temporary file. A
// target that is a symbolic link is resolved first, so the link stays and
// its file is replaced; an existing file keeps its permission bits.
//
// DirectoryUpdateLock serialises updates of files in one directory: it holds
// an exclusive flock(2) on the directory itself, which other processes using
// the same lock see, and the kernel drops when the holder exits or dies. A
// lock on the file would not do: the rename replaces the file, so a second
// writer could lock the old one. Locking the directory leaves no lock file
// behind in the user's folders.
#pragma once
#include <string>
#include <string_view>

bool sp_WriteFileAtomic(std::string_view path, std::string_view content, std::string* why = nullptr);

class DirectoryUpdateLock {
public:
    // Locks the directory that holds `path` (the file need not exist),
    // waiting up to `timeoutMs` for another holder. locked() tells.
    explicit DirectoryUpdateLock(std::string_view path, int timeoutMs = 10000);
    ~DirectoryUpdateLock();
    DirectoryUpdateLock(const DirectoryUpdateLock&) = delete;
    DirectoryUpdateLock& operator=(const DirectoryUpdateLock&) = delete;
    bool locked() const noexcept { return fd_ >= 0; }

private:
    int fd_ = -1;
};
