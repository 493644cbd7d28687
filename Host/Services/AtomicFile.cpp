#include "AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
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

// Whether `name` is a temporary file of this writer, NAME.~PID.N.tmp, left by
// a process that no longer exists.
bool orphanedTemp(std::string_view name) {
    constexpr std::string_view suffix = ".tmp";
    if (name.size() < suffix.size() || name.substr(name.size() - suffix.size()) != suffix) return false;
    name.remove_suffix(suffix.size());
    const size_t serialDot = name.rfind('.');
    if (serialDot == std::string_view::npos || serialDot + 1 == name.size()) return false;
    for (char c : name.substr(serialDot + 1))
        if (c < '0' || c > '9') return false;
    const std::string_view head = name.substr(0, serialDot);
    const size_t mark = head.rfind(".~");
    if (mark == std::string_view::npos || mark == 0 || mark + 2 == head.size() || head.size() - mark > 12) return false;
    long pid = 0;
    for (char c : head.substr(mark + 2)) {
        if (c < '0' || c > '9') return false;
        pid = pid * 10 + (c - '0');
    }
    return pid > 0 && pid != ::getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

// A writer killed between creating its temporary file and renaming it leaves
// the file behind. The first write into a directory in each process removes
// such files there: only this writer's own name pattern, only regular files
// of this user, only when the process that made them is gone. Once per
// directory, so that many writes into one large directory stay linear.
void removeOrphanedTemps(const std::string& target) {
    static std::mutex lock;
    static std::set<std::string> swept;
    std::string dir = sp_GetDirFromPath(target);
    if (dir.empty()) dir = ".";
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!swept.insert(dir).second) return;
    }
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const int dfd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        if (!orphanedTemp(e->d_name)) continue;
        struct stat st {};
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            (void)::unlinkat(dfd, e->d_name, 0);
    }
    ::closedir(d);
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(const char* target) {
    if (!target || !*target) return;
    target_ = target;
    struct stat st {};
    const bool exists = ::lstat(target, &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(target, nullptr);
        if (!real) return;
        target_ = real;
        std::free(real);
        if (::stat(target_.c_str(), &st) != 0) return;
    }
    try {
        removeOrphanedTemps(target_);
    } catch (const std::bad_alloc&) {
        // Tidying is optional; the write itself still fails cleanly below if memory is that short.
    }
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_ = target_ + ".~" + std::to_string(::getpid()) + "." + std::to_string(serial++) + ".tmp";
        const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        if (exists) (void)::fchmod(fd, st.st_mode & 07777);
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            ::close(fd);
            ::unlink(temp_.c_str());
        }
        return;
    }
    temp_.clear();
}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

void AtomicFileWriter::discard() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}

bool AtomicFileWriter::commit() {
    if (!file_) return false;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_) && ::fsync(::fileno(file_)) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (ok && ::rename(temp_.c_str(), target_.c_str()) == 0) {
        temp_.clear();
        return true;
    }
    renameFailed_ = ok;
    discard();
    return false;
}

bool cv::writeFileAtomic(std::string_view path, std::string_view content, std::string* why) {
    const std::string target(path);
    AtomicFileWriter writer(target.c_str());
    const bool ok = writer.file() && std::fwrite(content.data(), 1, content.size(), writer.file()) == content.size() &&
                    writer.commit();
    if (!ok && why) *why = (target.empty() ? std::string("(empty file name)") : target) + ": " + std::strerror(errno);
    return ok;
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
