// UTF-8 file access, whole files, file facts and open tests on POSIX.
#include "FileUtil.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "FileLock.h"
#include "MemoryBudget.h"

namespace {

// Keeps the letters that mean the same to glibc's fopen ('e' and 'x' are
// POSIX/C11 additions and pass through); stops at a ", ccs=" suffix.
std::string posixMode(const char* mode) {
    std::string out;
    for (const char* p = mode; *p && *p != ','; ++p)
        if (std::strchr("rwa+bxe", *p)) out += *p;
    return out;
}

}  // namespace

FILE* fopen_utf8(const char* path, const char* mode) {
    if (!path || !mode) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string m = posixMode(mode);
    if (m.empty() || !std::strchr("rwa", m[0])) {
        errno = EINVAL;
        return nullptr;
    }
    return std::fopen(path, m.c_str());
}

int fopen_s_utf8(FILE** f, const char* path, const char* mode) {
    if (!f) return EINVAL;
    errno = 0;
    *f = fopen_utf8(path, mode);
    return *f ? 0 : (errno ? errno : EINVAL);
}

int unlink_utf8(const char* path) {
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    return ::unlink(path);
}

// ---------------------------------------------------------------- whole files and file facts

FILE* cv::openRegularFile(const char* path) {
    if (!path || !*path) {
        errno = ENOENT;
        return nullptr;
    }
    // O_NONBLOCK: opening a FIFO with no writer would otherwise wait for one.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool dir = S_ISDIR(st.st_mode);
        ::close(fd);
        errno = dir ? EISDIR : EINVAL;
        return nullptr;
    }
    // Reading more than the machine could hold would take hours (a sparse
    // file can claim terabytes) and no result made of it could be kept.
    if (uint64_t(st.st_size) >= cv::memoryLimitBytes()) {
        ::close(fd);
        errno = EFBIG;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        const int e = errno;
        ::close(fd);
        // Not a file that is absent: callers that read a missing file as
        // empty would go on with a wrong result.
        if (e == ENOMEM) throw std::bad_alloc();
        errno = e;
    }
    return f;
}

bool JFileBuf::open(const char* path, bool) {
    close();
    FILE* f = cv::openRegularFile(path);
    if (!f) return false;
    struct stat st;
    if (::fstat(fileno(f), &st) != 0) {
        std::fclose(f);
        return false;
    }
    if (uint64_t(st.st_size) >= cv::memoryLimitBytes()) {
        std::fclose(f);
        throw std::bad_alloc();
    }
    size_t cap = size_t(st.st_size) + 1;
    data_ = static_cast<char*>(std::malloc(cap));
    if (!data_) {
        std::fclose(f);
        throw std::bad_alloc();
    }
    // Read to the end, not to the size seen: a file may grow while it is read.
    for (;;) {
        const size_t n = std::fread(data_ + size_, 1, cap - size_, f);
        size_ += n;
        if (size_ < cap) break;
        if (cap * 2 >= cv::memoryLimitBytes()) {
            std::fclose(f);
            close();
            throw std::bad_alloc();
        }
        char* more = static_cast<char*>(std::realloc(data_, cap * 2));
        if (!more) {
            std::fclose(f);
            close();
            throw std::bad_alloc();
        }
        data_ = more;
        cap *= 2;
    }
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed) {
        close();
        errno = EIO;
        return false;
    }
    return true;
}

void JFileBuf::close() {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
}

const std::string& sp_FileOpenForensicMsg(const char* path, const char* mode, std::string& message) {
    const std::string p = path ? path : "";
    const bool writing = mode && (std::strchr(mode, 'w') || std::strchr(mode, 'a') || std::strchr(mode, '+'));
    struct stat st;
    int err = 0;
    std::string why;
    if (p.empty()) {
        err = ENOENT;
        why = "no file name was given";
    } else if (::stat(p.c_str(), &st) != 0) {
        err = errno;
        if (err == ENOENT) {
            const size_t slash = p.rfind('/');
            const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
            struct stat ds;
            why = ::stat(dir.c_str(), &ds) == 0 ? "the file does not exist" : "its folder '" + dir + "' does not exist";
        } else if (err == EACCES) {
            why = "permission denied on a folder of its path";
        } else if (err == ENOTDIR) {
            why = "a part of its path is not a folder";
        } else {
            why = "it cannot be examined";
        }
    } else if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
        why = "it is a directory";
    } else if (!S_ISREG(st.st_mode)) {
        err = EINVAL;
        why = S_ISFIFO(st.st_mode) ? "it is a pipe, not a regular file" : "it is a device or socket, not a regular file";
    } else if (::access(p.c_str(), writing ? W_OK : R_OK) != 0) {
        err = errno;
        why = err == EACCES ? "permission denied" : "it cannot be opened";
    } else if (uint64_t(st.st_size) >= cv::memoryLimitBytes()) {
        err = EFBIG;
        why = "it is too large to load";
    } else {
        const int fd = ::open(p.c_str(), (writing ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
        err = fd < 0 ? errno : 0;
        if (fd >= 0) ::close(fd);
        why = err ? "it cannot be opened" : "it could not be read";
        if (!err) err = EIO;
    }
    message = "Cannot open file '" + p + "': " + why + " (" + std::strerror(err) + ")";
    return message;
}

int64_t sp_GetFileSize64(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0 ? int64_t(st.st_size) : -1;
}

int64_t sp_GetFileModifiedTime(const char* path) {
    struct stat st;
    return path && ::stat(path, &st) == 0 ? int64_t(st.st_mtime) : 0;
}

// ---------------------------------------------------------------- open tests

bool cv::canOpenForWriting(const char* path) {
    if (!path || !*path) return false;
    struct stat st;
    if (::lstat(path, &st) != 0) {
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat mine, now;
            if (::fstat(fd, &mine) == 0 && ::lstat(path, &now) == 0 && mine.st_dev == now.st_dev &&
                mine.st_ino == now.st_ino)
                ::unlink(path);
            ::close(fd);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    FileLock lock;
    if (!lock.lock(path, false)) return false;
    // O_NONBLOCK: a pipe without a reader fails at once instead of waiting.
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool cv::canOpenForReading(const char* path) {
    if (!path) return false;
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    const bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return ok;
}
