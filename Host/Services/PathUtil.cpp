// Path services on POSIX (see PathUtil.h).
#include "PathUtil.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "Options.h"

namespace {

constexpr size_t npos = std::string_view::npos;

bool sameWordNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        char x = a[k], y = b[k];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

PathName split(std::string_view path, bool leadingDotsAreName) {
    PathName parts;
    const size_t lastSlash = path.rfind('/');
    if (lastSlash != npos) {
        parts.dir = path.substr(0, lastSlash + 1);
        path.remove_prefix(lastSlash + 1);
    }
    const size_t nameStart = leadingDotsAreName ? path.find_first_not_of('.') : 0;
    const size_t lastDot = path.rfind('.');
    const bool hasExtension = nameStart != npos && lastDot != npos && lastDot >= nameStart &&
                              (!leadingDotsAreName || lastDot > nameStart);
    parts.fname = path.substr(0, hasExtension ? lastDot : npos);
    if (hasExtension) parts.ext = path.substr(lastDot);
    return parts;
}

std::string envOr(const char* name, std::string fallback = {}) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string home() { return envOr("HOME"); }

std::string xdgConfigHome() {
    const std::string h = home();
    return envOr("XDG_CONFIG_HOME", h.empty() ? std::string() : h + "/.config");
}

std::string cvfuncHome() {
    std::string dir = envOr("CVFUNC_HOME");
    if (!dir.empty()) return dir;
    dir = xdgConfigHome();
    return dir.empty() ? dir : dir + "/cvfunc";
}

std::string programDir() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return sp_GetDirFromPath(std::string_view(buf, size_t(n)));
}

std::string withoutTrailingSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

struct LogicalName {
    const char* name;
    bool project;
    std::string (*dir)();
};

const LogicalName kLogicalNames[] = {
    {"PROJECT", true, [] {
         const std::string opt = sp_GetStringOption("ProjectDir").str();
         return opt.empty() ? envOr("CVFUNC_PROJECT") : opt;
     }},
    {"CVFUNC_HOME", false, cvfuncHome},
    {"CVAPPDATAPATH", false, cvfuncHome},
    {"SHAREPATH", false, cv::shareDir},
    {"PROGRAM", false, programDir},
    {"TEMP", false, [] { return sp_GetTempPath(); }},
    {"HOME", false, home},
};

// The XDG user directory of `key` ("DOCUMENTS"), as user-dirs.dirs sets it.
std::string xdgUserDir(const std::string& key, const char* fallback) {
    const std::string h = home();
    std::ifstream in(xdgConfigHome() + "/user-dirs.dirs");
    const std::string prefix = "XDG_" + key + "_DIR=";
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        std::string v = line.substr(prefix.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        if (v.compare(0, 5, "$HOME") == 0) v = h + v.substr(5);
        if (!v.empty() && v.front() == '/') return withoutTrailingSlash(v);
    }
    return h.empty() ? std::string() : h + "/" + fallback;
}

}  // namespace

PathName sp_SplitPath(std::string_view path) { return split(path, true); }
PathName sp_SplitPath_Old(std::string_view path) { return split(path, false); }

std::string sp_GetDirFromPath(std::string_view path) {
    const size_t lastSlash = path.rfind('/');
    return lastSlash == npos ? std::string() : std::string(path.substr(0, lastSlash + 1));
}

std::string sp_CleanPath(std::string_view path) {
    if (path.empty()) return {};
    const bool absolute = path.front() == '/';
    std::vector<std::string_view> parts;
    size_t at = 0;
    while (at <= path.size()) {
        size_t end = path.find('/', at);
        if (end == npos) end = path.size();
        const std::string_view part = path.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") parts.pop_back();
            else if (!absolute) parts.push_back(part);
            continue;
        }
        parts.push_back(part);
    }
    std::string out = absolute ? "/" : "";
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) out += '/';
        out += parts[k];
    }
    return out.empty() ? "." : out;
}

bool sp_IsRelativePath(std::string_view path) { return path.empty() || path.front() != '/'; }

std::string sp_GetFullPath(std::string_view path) { return sp_GetFullPath(path, sp_GetCwd()); }

std::string sp_GetFullPath(std::string_view path, std::string_view base) {
    if (!sp_IsRelativePath(path)) return sp_CleanPath(path);
    std::string b = sp_IsRelativePath(base) ? sp_GetCwd() + "/" + std::string(base) : std::string(base);
    if (!path.empty()) b += "/" + std::string(path);
    return sp_CleanPath(b);
}

std::string sp_RelativePath(std::string_view path, std::string_view base) {
    const std::string p = sp_GetFullPath(path), b = sp_GetFullPath(base);
    auto components = [](const std::string& s) {
        std::vector<std::string_view> out;
        std::string_view v(s);
        for (size_t at = 1; at < v.size();) {
            size_t end = v.find('/', at);
            if (end == npos) end = v.size();
            out.push_back(v.substr(at, end - at));
            at = end + 1;
        }
        return out;
    };
    const auto pc = components(p), bc = components(b);
    size_t common = 0;
    while (common < pc.size() && common < bc.size() && pc[common] == bc[common]) ++common;
    std::string out;
    for (size_t k = common; k < bc.size(); ++k) out += out.empty() ? ".." : "/..";
    for (size_t k = common; k < pc.size(); ++k) {
        if (!out.empty()) out += '/';
        out += pc[k];
    }
    return out.empty() ? "." : out;
}

std::string sp_ResolvePath(std::string_view path) {
    // Component by component, as the kernel walks a path: a link is replaced
    // by its target before the next component ("link/.." is the link target's
    // parent), and a component that does not exist is kept as written.
    std::string done = "/";
    std::vector<std::string> todo;  // components still to walk, last one first
    auto push = [&todo](std::string_view p) {
        std::vector<std::string> parts;
        for (size_t at = 0; at <= p.size();) {
            size_t end = p.find('/', at);
            if (end == npos) end = p.size();
            if (end > at) parts.emplace_back(p.substr(at, end - at));
            at = end + 1;
        }
        todo.insert(todo.end(), parts.rbegin(), parts.rend());
    };
    push(sp_IsRelativePath(path) ? sp_GetCwd() + "/" + std::string(path) : std::string(path));
    int links = 0;
    // Below a component that does not exist nothing can be a link, so those
    // components are appended unexamined: a long path costs one pass, not a
    // copy and a lookup of the whole prefix per component.
    size_t missingDepth = 0;
    while (!todo.empty()) {
        const std::string part = std::move(todo.back());
        todo.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            done.resize(std::max<size_t>(done.rfind('/'), 1));
            if (missingDepth) --missingDepth;
            continue;
        }
        const size_t before = done.size();
        if (done != "/") done += '/';
        done += part;
        if (missingDepth) {
            ++missingDepth;
            continue;
        }
        struct stat st;
        if (::lstat(done.c_str(), &st) != 0) {
            missingDepth = 1;
            continue;
        }
        if (S_ISLNK(st.st_mode) && ++links <= 40) {
            std::string target(PATH_MAX, '\0');
            const ssize_t n = ::readlink(done.c_str(), target.data(), target.size());
            if (n > 0) {
                target.resize(size_t(n));
                done.resize(before);
                if (target.front() == '/') done = "/";
                push(target);
            }
        }
    }
    return done;
}

bool sp_ComparePaths(std::string_view a, std::string_view b) {
    struct stat sa, sb;
    const std::string pa(a), pb(b);
    if (!pa.empty() && !pb.empty() && ::stat(pa.c_str(), &sa) == 0 && ::stat(pb.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return sp_GetFullPath(a) == sp_GetFullPath(b);
}

bool equalPath(std::string_view a, std::string_view b) noexcept {
    return equalPathText(a, b, !sp_CaseSensitiveFiles());
}

uint32_t hashPath(std::string_view s) noexcept { return hashPathText(s, !sp_CaseSensitiveFiles()); }

bool sp_CaseSensitiveFiles() { return true; }

std::string sp_GetTempPath() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = t && *t ? t : "/tmp";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string sp_GetCwd() {
    std::string buf(256, '\0');
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) return std::string(buf.c_str());
        if (errno != ERANGE || buf.size() > (1u << 20)) return {};
        buf.resize(buf.size() * 2);
    }
}

int sp_ChangeDir(std::string_view dir) {
    if (dir.empty()) return ENOENT;
    return ::chdir(std::string(dir).c_str()) == 0 ? 0 : errno;
}

std::string sp_GetLongPathName(std::string_view path) { return std::string(path); }
std::string sp_GetShortPathName(std::string_view path) { return std::string(path); }
std::string sp_GetCompatiblePathName(std::string_view path) { return std::string(path); }
std::string sp_GetUNCPath(std::string_view path, bool) { return std::string(path); }
std::string sp_GetPathWithNoSpaces(std::string_view path) { return std::string(path); }

std::string sp_GetVolumeName(std::string_view path) {
    // Up to the nearest folder that exists, then up while the device stays
    // the same; cut in place, a path longer than the system takes unasked.
    std::string at = sp_ResolvePath(path);
    const auto up = [](std::string& p) { p.resize(std::max<size_t>(p.rfind('/'), 1)); };
    struct stat st;
    while (at.size() >= PATH_MAX || ::stat(at.c_str(), &st) != 0) {
        if (at == "/") return {};
        up(at);
    }
    while (at != "/") {
        std::string parent = at;
        up(parent);
        struct stat su;
        if (::stat(parent.c_str(), &su) != 0 || su.st_dev != st.st_dev) break;
        at = std::move(parent);
    }
    return at;
}

std::string sp_ConvertLocalToUnix(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::string sp_ConvertUnixToLocal(std::string_view path) { return std::string(path); }

bool sp_TranslateLogicalPath(std::string_view path, std::string& out, bool) {
    out = std::string(path);
    if (path.size() < 3 || path.front() != '%') return false;
    const size_t close = path.find('%', 1);
    if (close == npos || close == 1) return false;
    const std::string name(path.substr(1, close - 1));
    std::string dir;
    bool known = false;
    for (const auto& entry : kLogicalNames)
        if (sameWordNoCase(name, entry.name)) {
            dir = entry.dir();
            known = true;
        }
    if (!known) {
        dir = sp_GetStringOption(name.c_str()).str();
        if (dir.empty()) dir = envOr(name.c_str());
    }
    if (dir.empty()) return false;
    out = withoutTrailingSlash(dir) + std::string(path.substr(close + 1));
    return true;
}

bool sp_MakeLogicalPath(std::string_view path, std::string& out, LogicalPathOptions options) {
    out = sp_GetFullPath(path);
    size_t best = 0;
    std::string replaced;
    for (const auto& entry : kLogicalNames) {
        if ((options.systemOnly && entry.project) || (options.projectOnly && !entry.project)) continue;
        std::string dir = entry.dir();
        if (dir.empty()) continue;
        dir = sp_GetFullPath(dir);
        if (dir == "/") continue;  // every path is below the root: nothing gained
        const bool inside = out.compare(0, dir.size(), dir) == 0 &&
                            (out.size() == dir.size() || out[dir.size()] == '/');
        if (inside && dir.size() > best) {
            best = dir.size();
            replaced = "%" + std::string(entry.name) + "%" + out.substr(dir.size());
        }
    }
    if (best == 0) return false;
    out = replaced;
    return true;
}

std::string sp_GetExeDir() {
    Dl_info info{};
    char buf[PATH_MAX];
    if (!dladdr(reinterpret_cast<void*>(&sp_GetExeDir), &info) || !info.dli_fname || !::realpath(info.dli_fname, buf))
        return {};
    return withoutTrailingSlash(sp_GetDirFromPath(buf));
}

std::string cv::shareDir() {
    if (const std::string env = envOr("CVFUNC_SHARE"); !env.empty()) return withoutTrailingSlash(env);
    // Found from the host library, so that the tool, the Python package and
    // the tests all find the same tree: the build tree links the sources'
    // share/ beside the library; an install keeps it in PREFIX/share/cvfunc.
    const std::string lib = sp_GetExeDir();
    if (lib.empty()) return {};
    for (const char* rel : {"/share", "/../share/cvfunc"}) {
        struct stat st{};
        const std::string dir = sp_CleanPath(lib + rel);
        if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return withoutTrailingSlash(dir);
    }
    return {};
}

std::string sp_GetProgramPath(std::string_view name) {
    auto is = [&](const char* a, const char* b) { return sameWordNoCase(name, a) || sameWordNoCase(name, b); };
    if (is("ProgramPath", "ExePath")) return programDir();
    if (is("StartScriptPath", "StartScriptPath")) return sp_GetStringOption("StartScriptPath").str();
    if (is("DataPath", "SharePath")) {
        const std::string dir = cv::shareDir();
        return dir.empty() ? dir : dir + "/";
    }
    if (is("UserPath", "AppDataPath")) return cvfuncHome();
    if (is("TempPath", "TempPath")) return sp_GetTempPath();
    if (is("HomePath", "HomePath")) return home();
    if (is("DocumentsPath", "DocumentsPath")) return xdgUserDir("DOCUMENTS", "Documents");
    return {};
}

std::string sp_GetKnownFolderPath(std::string_view name) {
    static const struct {
        const char* name;
        const char* key;
        const char* fallback;
    } kUserDirs[] = {{"Desktop", "DESKTOP", "Desktop"},       {"Documents", "DOCUMENTS", "Documents"},
                     {"Downloads", "DOWNLOAD", "Downloads"},  {"Music", "MUSIC", "Music"},
                     {"Pictures", "PICTURES", "Pictures"},    {"Videos", "VIDEOS", "Videos"},
                     {"Templates", "TEMPLATES", "Templates"}, {"Public", "PUBLICSHARE", "Public"}};
    for (const auto& d : kUserDirs)
        if (sameWordNoCase(name, d.name)) return xdgUserDir(d.key, d.fallback);
    if (sameWordNoCase(name, "Profile")) return home();
    if (sameWordNoCase(name, "RoamingAppData")) return xdgConfigHome();
    if (sameWordNoCase(name, "LocalAppData")) {
        const std::string h = home();
        return envOr("XDG_DATA_HOME", h.empty() ? h : h + "/.local/share");
    }
    if (sameWordNoCase(name, "ProgramData")) return "/etc/xdg";
    return {};
}

bool sp_GetCorvantaFileExtension(std::string_view type, std::vector<std::string>& extensions) {
    static const struct {
        const char* type;
        std::initializer_list<const char*> extensions;
    } kTypes[] = {
        {"raw", {"raw", "dat"}},
        {"csv", {"csv"}},
        {"netlist", {"net", "cir", "sp", "spi", "ckt"}},
        {"touchstone", {"s1p", "s2p", "s3p", "s4p", "snp", "ts"}},
        {"wav", {"wav"}},
        {"ini", {"ini"}},
        {"text", {"txt", "log"}},
        {"script", {"sxscr", "scr"}},
        {"library", {"lib", "mod", "lb"}},
        {"schematic", {"sxsch", "sch"}},
        {"report", {"html", "htm", "xml"}},
    };
    extensions.clear();
    for (const auto& t : kTypes)
        if (sameWordNoCase(type, t.type)) {
            for (const char* e : t.extensions) extensions.emplace_back(e);
            return true;
        }
    return false;
}
