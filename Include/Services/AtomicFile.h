// Whole-file replacement that never leaves a half-written file, and the lock
// that makes read-modify-write of a shared file safe between processes.
//
// cv::writeFileAtomic writes into a fresh temporary file in the target's own
// directory (so the rename cannot cross file systems), flushes it to disk and
// renames it over the target only when every byte is there: a failure at any
// point leaves the old file as it was and removes the temporary file. A
// target that is a symbolic link is resolved first, so the link stays and
// its file is replaced; an existing file keeps its permission bits. The
// temporary file is named TARGET.~PID.N.tmp; a process killed before its
// rename leaves it behind, and the first write into that directory by a later
// process removes it (only that pattern, only when the process named in it is
// gone).
//
// DirectoryUpdateLock serialises updates of files in one directory: it holds
// an exclusive flock(2) on the directory itself, which other processes using
// the same lock see, and the kernel drops when the holder exits or dies. A
// lock on the file would not do: the rename replaces the file, so a second
// writer could lock the old one. Locking the directory leaves no lock file
// behind in the user's folders.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

// Streams a file that replaces one a user may own: the text goes to a new
// file beside the target (same folder, so the rename cannot cross file
// systems), which is renamed over the target only when everything was
// written and flushed to disk. A failure at any point leaves the old file as
// it was and removes the new one. A target that is a symbolic link has the
// file it points to replaced, so the link stays; an existing target's
// permission bits are kept, a new file gets 0666 less the umask.
class AtomicFileWriter {
public:
    // Creates the temporary file; file() is null when that failed (a missing
    // or unwritable folder, an empty path, a dangling link).
    explicit AtomicFileWriter(const char* target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    FILE* file() const noexcept { return file_; }
    // Closes the file and renames it over the target; false, with the target
    // untouched, when any write, the close or the rename failed.
    bool commit();
    // After a failed commit: every byte was written and flushed, and only the
    // rename failed (the target is a directory, say).
    bool renameFailed() const noexcept { return renameFailed_; }

private:
    void discard();
    std::string target_, temp_;
    FILE* file_ = nullptr;
    bool renameFailed_ = false;
};

// The whole of `content` through an AtomicFileWriter; false with `why` (the
// file and the system's reason) when it could not be written.
namespace cv {
bool writeFileAtomic(std::string_view path, std::string_view content, std::string* why = nullptr);
}  // namespace cv

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
