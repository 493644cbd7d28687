#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "PathUtil.h"

namespace {

// The file a write to `path` really replaces: the end of a chain of links.
std::string resolvedTarget(std::string_view path) {
    std::string p(path);
    for (int hops = 0; hops < 40; ++hops) {
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
        if (n <= 0) return p;
        std::string link(buf, size_t(n));
        p = link.front() == '/' ? link : sp_GetDirFromPath(p) + link;
    }
    return p;
}

// The process's umask without changing it (umask(2) can only set it, which
// would race with other threads creating files).
mode_t currentUmask() {
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned mask = 022;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
        std::fclose(f);
        return mode_t(mask);
    }
    return 022;
}

bool fail(std::string* why, const std::string& what) {
    if (why) *why = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool sp_WriteFileAtomic(std::string_view path, std::string_view content, std::string* why) {
    if (path.empty()) {
        errno = ENOENT;
        return fail(why, "(empty file name)");
    }
    const std::string target = resolvedTarget(path);
    std::string dir = sp_GetDirFromPath(target);
    if (dir.empty()) dir = "./";
    std::string temp = dir + "." + target.substr(target.rfind('/') + 1) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return fail(why, target);
    struct stat st {};
    ::fchmod(fd, ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : mode_t(0666) & ~currentUmask());
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            errno = err;
            return fail(why, target);
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        errno = err;
        return fail(why, target);
    }
    return true;
}

DirectoryUpdateLock::DirectoryUpdateLock(std::string_view path, int timeoutMs) {
    std::string dir = sp_GetDirFromPath(resolvedTarget(path));
    if (dir.empty()) dir = ".";
    fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

DirectoryUpdateLock::~DirectoryUpdateLock() {
    if (fd_ >= 0) ::close(fd_);
}
