// Named system mutexes as flock'd lock files (see NamedMutex.h).
#include "NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace {

struct Held {
    int fd = -1;  // -1 for a mutex without a name
    std::string path;
    bool created = false;  // this process made the file, so it may delete it
    bool owned = false;
};

std::mutex gGuard;
std::map<int64_t, Held> gHandles;
int64_t gNext = 1;

// Makes `dir` when missing; true when it is then a real directory of this
// user (not a link someone planted in a shared place such as /tmp).
bool ownDirectory(const std::string& dir) {
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st{};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

bool mutexDirectory(std::string& dir) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* home = std::getenv("CVFUNC_HOME");
    std::string base;
    if (runtime && runtime[0] == '/') {
        base = std::string(runtime) + "/cvfunc";
    } else if (home && *home) {
        base = home;
        mkdir(base.c_str(), 0700);  // its owner and place are the user's choice
        struct stat st{};
        if (stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        dir = base + "/mutex";
        return ownDirectory(dir);
    } else {
        base = "/tmp/cvfunc-" + std::to_string(geteuid());
    }
    if (!ownDirectory(base)) return false;
    dir = base + "/mutex";
    return ownDirectory(dir);
}

std::string sha256Hex(const std::string& s) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(s.data(), s.size(), md, &n, EVP_sha256(), nullptr) != 1) n = 0;
    std::string out;
    char b[3];
    for (unsigned k = 0; k < n; ++k) {
        std::snprintf(b, sizeof b, "%02x", md[k]);
        out += b;
    }
    return out;
}

std::string fileNameOf(const std::string& name) {
    std::string out;
    for (size_t k = 0; k < name.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(name[k]);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '-' || (c == '.' && k > 0);
        if (plain) {
            out += char(c);
        } else {
            char b[4];
            std::snprintf(b, sizeof b, "%%%02X", c);
            out += b;
        }
    }
    return out.size() > 200 ? "long-" + sha256Hex(name) : out;
}

bool sameFile(int fd, const std::string& path) {
    struct stat a{}, b{};
    return fstat(fd, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens (and with `take`, locks) the lock file; false when it is held
// elsewhere or cannot be made.
bool openLockFile(const std::string& path, bool take, Held& h) {
    // A holder that deletes its file between our open and our lock makes us
    // lock a file no longer in the directory: try again with the new one.
    for (int attempt = 0; attempt < 16; ++attempt) {
        bool created = true;
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST) {
            created = false;
            fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0 && errno == ENOENT) continue;
        }
        if (fd < 0) return false;
        struct stat st{};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            return false;
        }
        if (take) {
            if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
                close(fd);
                return false;
            }
            if (!sameFile(fd, path)) {
                close(fd);
                continue;
            }
        }
        h.fd = fd;
        h.path = path;
        h.created = created;
        h.owned = take;
        return true;
    }
    return false;
}

bool release(Held& h) {
    if (!h.owned) return false;
    if (h.fd >= 0) {
        if (h.created && sameFile(h.fd, h.path)) unlink(h.path.c_str());
        h.created = false;
        flock(h.fd, LOCK_UN);
    }
    h.owned = false;
    return true;
}

}  // namespace

int64_t sp_CreateMutex(const char* name, bool initialOwner) {
    Held h;
    if (name && *name) {
        std::string dir;
        if (!mutexDirectory(dir)) return 0;
        if (!openLockFile(dir + "/" + fileNameOf(name), initialOwner, h)) return 0;
    } else {
        h.owned = initialOwner;
    }
    std::lock_guard<std::mutex> lock(gGuard);
    const int64_t handle = gNext++;
    gHandles.emplace(handle, std::move(h));
    return handle;
}

bool sp_ReleaseMutex(int64_t handle) {
    std::lock_guard<std::mutex> lock(gGuard);
    auto it = gHandles.find(handle);
    return it != gHandles.end() && release(it->second);
}

bool sp_CloseMutex(int64_t handle) {
    std::lock_guard<std::mutex> lock(gGuard);
    auto it = gHandles.find(handle);
    if (it == gHandles.end()) return false;
    release(it->second);
    if (it->second.fd >= 0) close(it->second.fd);
    gHandles.erase(it);
    return true;
}
