// File access with UTF-8 paths and C runtime open modes. On POSIX a
// path is UTF-8 already; what differs is the mode: the Windows-only letters
// ('t', 'N', 'S', 'R', 'T', 'D', 'c', 'n') and a ", ccs=..." suffix are
// dropped, so modes written for Windows work unchanged.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Null (errno EINVAL) for a null path or mode, or a mode that does not start
// with 'r', 'w' or 'a'.
FILE* fopen_utf8(const char* path, const char* mode);
// Stores the file (or null) in *f; returns 0 or the errno of the failure.
int fopen_s_utf8(FILE** f, const char* path, const char* mode);
// unlink(2): 0, or -1 with errno set (EINVAL for a null path).
int unlink_utf8(const char* path);

// Opens a file for reading only when it is a regular file: a directory, FIFO,
// device or socket is refused (null, errno EISDIR or EINVAL) without blocking,
// since reading one could wait for ever or never end; so is a file larger
// than the memory the machine could hold (errno EFBIG). Binary mode. Memory
// that runs out while it opens throws std::bad_alloc.
namespace cv {
FILE* openRegularFile(const char* path);
}  // namespace cv

// A whole file in memory.
class JFileBuf {
public:
    JFileBuf() = default;
    JFileBuf(const JFileBuf&) = delete;
    JFileBuf& operator=(const JFileBuf&) = delete;
    ~JFileBuf() { close(); }
    // Loads the regular file at `path` (the flag is kept for callers written
    // against the two-argument form). False, with no data and errno set, when
    // it cannot be opened or read or is not a regular file. A file larger than
    // the memory the machine could hold throws std::bad_alloc before anything
    // is allocated.
    bool open(const char* path, bool wholeFile = true);
    void close();
    const char* data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
};

// Why `path` could not be opened in `mode` ("r", "w", ...), as one sentence:
// missing (or a missing folder on its way), a directory, not a regular file,
// permission denied, too large, or otherwise, each with the system's text for
// the error: "Cannot open file '/x/y': the file does not exist (No such file
// or directory)". Written into `message`, which is also returned.
const std::string& sp_FileOpenForensicMsg(const char* path, const char* mode, std::string& message);

// Whether the file could be opened for writing: an existing file must be free
// of FileLocks (FileLock.h) and open for appending; a missing one is created
// exclusively (O_EXCL) and removed again, but only while it is still the file
// made here, so a file someone else creates meanwhile is never truncated or
// removed. Nothing is written either way, and no file is left behind.
namespace cv {
bool canOpenForWriting(const char* path);
// Whether the file opens for reading (without waiting on a pipe); a directory
// does not count.
bool canOpenForReading(const char* path);
}  // namespace cv

// Size in bytes, -1 when the file cannot be examined (links followed).
int64_t sp_GetFileSize64(const char* path);
// Modification time in seconds since 1970-01-01 UTC, 0 when unknown.
int64_t sp_GetFileModifiedTime(const char* path);
