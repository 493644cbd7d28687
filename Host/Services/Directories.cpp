// Directory services on POSIX (see Directories.h). The tree walks work on
// directory descriptors (openat, unlinkat, O_NOFOLLOW), so a link swapped in
// while a walk runs is still never followed.
#include "Directories.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PathUtil.h"

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    bool ok() const { return fd >= 0; }
};

std::string str(std::string_view s) { return std::string(s); }

struct Entry {
    std::string name;
    unsigned char type;  // d_type: DT_DIR, DT_LNK, ..., or DT_UNKNOWN when the file system does not say
    bool operator<(const Entry& o) const { return name < o.name; }
};

// The sorted entries of an open directory; takes over `fd`.
bool entriesOf(int fd, std::vector<Entry>& entries) {
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return false;
    }
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        entries.push_back({e->d_name, e->d_type});
    }
    ::closedir(d);
    std::sort(entries.begin(), entries.end());
    return true;
}

bool namesOf(int fd, std::vector<std::string>& names) {
    std::vector<Entry> entries;
    if (!entriesOf(fd, entries)) return false;
    names.reserve(entries.size());
    for (auto& e : entries) names.push_back(std::move(e.name));
    return true;
}

std::string joined(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() && out.back() != '/') out += '/';
    return out + std::string(name);
}

// ---------------------------------------------------------------- deletion

// Deeper trees are left incomplete rather than risk the C stack (each level
// holds a frame and a descriptor or two).
constexpr int kMaxDepth = 2048;

struct Deleter {
    const TreeProgress& progress;
    bool incomplete = false;
    int depth = 0;

    // Empties the directory open as `fd` (taken over).
    void empty(int fd) {
        if (depth >= kMaxDepth) {
            incomplete = true;
            ::close(fd);
            return;
        }
        std::vector<std::string> names;
        const int listFd = ::dup(fd);
        if (listFd < 0 || !namesOf(listFd, names)) {
            incomplete = true;
            ::close(fd);
            return;
        }
        for (const auto& name : names) {
            struct stat st;
            if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                incomplete = true;
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (sub < 0) {
                    incomplete = true;
                    continue;
                }
                ++depth;
                empty(sub);
                --depth;
                if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) incomplete = true;
            } else if (::unlinkat(fd, name.c_str(), 0) != 0) {
                incomplete = true;
            }
            if (progress) progress();
        }
        ::close(fd);
    }
};

bool sameInode(const struct stat& a, const char* path) {
    struct stat b;
    return path && *path && ::stat(path, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// ---------------------------------------------------------------- copying

struct Copier {
    const TreeProgress& progress;
    bool incomplete = false;
    int depth = 0;

    bool copyFile(int fromDir, int toDir, const std::string& name, mode_t mode) {
        Fd in(::openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!in.ok()) return false;
        Fd out(::openat(toDir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777));
        if (!out.ok()) return false;
        static thread_local std::vector<char> buf(1 << 20);
        for (;;) {
            const ssize_t n = ::read(in.fd, buf.data(), buf.size());
            if (n == 0) return true;
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            for (ssize_t done = 0; done < n;) {
                const ssize_t w = ::write(out.fd, buf.data() + done, size_t(n - done));
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) return false;
                done += w;
            }
        }
    }

    // Copies the contents of directory `from` into directory `to` (both taken over).
    void contents(int from, int to) {
        if (depth >= kMaxDepth) {
            incomplete = true;
            ::close(from);
            ::close(to);
            return;
        }
        std::vector<std::string> names;
        const int listFd = ::dup(from);
        if (listFd < 0 || !namesOf(listFd, names)) incomplete = true;
        for (const auto& name : names) {
            struct stat st;
            bool ok = false;
            if (::fstatat(from, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISDIR(st.st_mode)) {
                    const int sub = ::openat(from, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                    if (sub >= 0 && ::mkdirat(to, name.c_str(), 0700) == 0) {
                        const int subTo = ::openat(to, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                        if (subTo >= 0) {
                            ++depth;
                            contents(sub, subTo);
                            --depth;
                            ::fchmodat(to, name.c_str(), st.st_mode & 07777, 0);
                            ok = true;
                        } else {
                            ::close(sub);
                        }
                    } else if (sub >= 0) {
                        ::close(sub);
                    }
                } else if (S_ISLNK(st.st_mode)) {
                    std::string target(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
                    const ssize_t n = ::readlinkat(from, name.c_str(), target.data(), target.size());
                    if (n >= 0 && size_t(n) < target.size()) {
                        target.resize(size_t(n));
                        ok = ::symlinkat(target.c_str(), to, name.c_str()) == 0;
                    }
                } else if (S_ISREG(st.st_mode)) {
                    ok = copyFile(from, to, name, st.st_mode);
                }
            }
            if (!ok) incomplete = true;
            if (progress) progress();
        }
        ::close(from);
        ::close(to);
    }
};

}  // namespace

bool sp_ExistDir(std::string_view path) {
    struct stat st;
    return !path.empty() && ::stat(str(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool sp_ExistFile(std::string_view path) {
    struct stat st;
    return !path.empty() && ::stat(str(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool sp_MakeDir(std::string_view path) { return path.empty() || ::mkdir(str(path).c_str(), 0777) != 0; }

bool sp_MakeTree(std::string_view path) {
    if (path.empty()) return false;
    const std::string full = sp_GetFullPath(path);
    for (size_t at = 1; at <= full.size(); ++at) {
        if (at < full.size() && full[at] != '/') continue;
        const std::string prefix = full.substr(0, at);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return sp_ExistDir(full);
}

DirProbe cv::probeDirectory(std::string_view dir) {
    if (!sp_ExistDir(dir)) return DirProbe::Missing;
    Fd d(::open(str(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!d.ok()) d.fd = ::open(str(dir).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (!d.ok()) return DirProbe::NotWritable;
    for (int k = 0; k < 1000; ++k) {
        const std::string name = k == 0 ? "$$Temp" : "$$Temp" + std::to_string(k);
        Fd f(::openat(d.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!f.ok()) {
            if (errno == EEXIST) continue;  // someone's file: leave it alone, try the next name
            return DirProbe::NotWritable;
        }
        // Remove it only while the name still holds the file made here.
        struct stat mine, now;
        if (::fstat(f.fd, &mine) == 0 && ::fstatat(d.fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            mine.st_dev == now.st_dev && mine.st_ino == now.st_ino)
            ::unlinkat(d.fd, name.c_str(), 0);
        return DirProbe::Writable;
    }
    return DirProbe::NotWritable;
}

bool sp_DirectoryIsWriteable(std::string_view dir) { return cv::probeDirectory(dir) == DirProbe::Writable; }

bool sp_ListDirectory(std::string_view dir, std::vector<std::string>& out, bool fullPath) {
    if (dir.empty()) return false;
    const int fd = ::open(str(dir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<std::string> names;
    if (fd < 0 || !namesOf(fd, names)) return false;
    for (auto& name : names) out.push_back(fullPath ? joined(dir, name) : std::move(name));
    return true;
}

bool sp_DescendDirectories_2(std::string_view dir, std::vector<std::string>& out, bool includeHidden) {
    if (dir.empty()) return false;
    // An explicit stack, so a deep tree cannot exhaust the C stack; it holds
    // paths, not open directories, so a wide one cannot exhaust descriptors.
    std::vector<std::string> stack{std::string(dir)};
    for (bool top = true; !stack.empty(); top = false) {
        const std::string path = std::move(stack.back());
        stack.pop_back();
        // The directory named by the caller may be a link; none below it is followed.
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | (top ? 0 : O_NOFOLLOW) | O_CLOEXEC);
        if (fd < 0 && top) return false;
        out.push_back(path);
        if (fd < 0) continue;
        std::vector<Entry> entries;
        const int listFd = ::dup(fd);
        if (listFd < 0 || !entriesOf(listFd, entries)) {
            ::close(fd);
            continue;
        }
        std::vector<std::string> children;
        for (const auto& e : entries) {
            if (!includeHidden && e.name[0] == '.') continue;
            // The entry's type from the listing saves a stat per entry; links are not followed.
            if (e.type != DT_DIR) {
                struct stat st;
                if (e.type != DT_UNKNOWN || ::fstatat(fd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                    !S_ISDIR(st.st_mode))
                    continue;
            }
            children.push_back(joined(path, e.name));
        }
        ::close(fd);
        // Pushed in reverse so that the first name is visited first.
        for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back(std::move(*it));
    }
    return true;
}

CopyTreeErr sp_CopyTree(std::string_view source, std::string_view destination, const TreeProgress& progress) {
    if (source.empty() || !sp_ExistDir(source)) return CopyTreeSourceNotExist;
    if (destination.empty()) return CopyTreeFailed;
    const std::string from = sp_ResolvePath(source), to = sp_ResolvePath(destination);
    if (to == from || to.compare(0, from.size() + 1, from + "/") == 0 || from == "/") return CopyTreeFailed;
    if (sp_ExistDir(destination)) {
        std::vector<std::string> present;
        if (!sp_ListDirectory(destination, present, false)) return CopyTreeFailed;
        if (!present.empty()) return CopyTreeNotEmpty;
    } else if (::mkdir(str(destination).c_str(), 0700) != 0) {
        return CopyTreeFailed;
    }
    struct stat st;
    const int in = ::open(str(source).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int out = ::open(str(destination).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0 || out < 0) {
        if (in >= 0) ::close(in);
        if (out >= 0) ::close(out);
        return CopyTreeFailed;
    }
    if (::fstat(in, &st) == 0) ::fchmod(out, st.st_mode & 07777);
    Copier c{progress};
    c.contents(in, out);
    return c.incomplete ? CopyTreeIncomplete : CopyTreeSuccess;
}

CopyTreeErr sp_DeleteTree(std::string_view dir, const TreeProgress& progress) {
    // A trailing '/' would make lstat and open follow a link named by the path.
    std::string path(dir);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) return CopyTreeFailed;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return CopyTreeSourceNotExist;
    if (!S_ISDIR(st.st_mode)) return CopyTreeFailed;
    if (sameInode(st, "/") || sameInode(st, std::getenv("HOME"))) return CopyTreeFailed;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return CopyTreeFailed;
    Deleter d{progress};
    d.empty(fd);
    if (::rmdir(path.c_str()) != 0) return CopyTreeIncomplete;
    return d.incomplete ? CopyTreeIncomplete : CopyTreeSuccess;
}

std::string vec_GetTempDataDir() { return sp_GetTempPath(); }

std::string sp_GetTempFile(std::string_view dir) {
    if (dir.empty()) return {};
    std::string name = joined(dir, "cvXXXXXX");
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return {};
    ::close(fd);
    return name;
}
