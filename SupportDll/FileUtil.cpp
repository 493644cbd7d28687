// UTF-8 file access on POSIX.
#include "FileUtil.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

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
