// Facts about the machine, the process and the user (see SystemInfo.h).
#include "SystemInfo.h"

#include <dirent.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "FaultGuard.h"

extern char** environ;

namespace {

struct utsname unameOf() {
    struct utsname u{};
    if (uname(&u) != 0) std::memset(&u, 0, sizeof u);
    return u;
}

// A small text file of /proc or /sys; "" when it cannot be read.
std::string readSmallFile(const std::string& path) {
    std::ifstream in(path);
    std::string s;
    std::getline(in, s);
    return s;
}

bool isExecutable(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Whether `program` runs as a command: a path, or a name found on $PATH.
bool onPath(const std::string& program) {
    if (program.empty()) return false;
    if (program.find('/') != std::string::npos) return isExecutable(program);
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (isExecutable((dir.empty() ? std::string(".") : dir) + "/" + program)) return true;
    return false;
}

// Mount points in /proc/self/mountinfo write blanks and a few other bytes as
// three-digit octal escapes.
std::string unescapeMount(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto octal = [&](size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '7'; };
        if (s[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct Mount {
    unsigned major = 0, minor = 0;
    std::string point, type;
};

std::vector<Mount> mounts() {
    std::vector<Mount> out;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string id, parent, dev, root, point, word;
        if (!(f >> id >> parent >> dev >> root >> point)) continue;
        // Optional fields run up to a lone "-"; the file system type follows.
        while (f >> word && word != "-") {
        }
        Mount m;
        if (!(f >> m.type)) continue;
        if (std::sscanf(dev.c_str(), "%u:%u", &m.major, &m.minor) != 2) continue;
        m.point = unescapeMount(point);
        out.push_back(std::move(m));
    }
    return out;
}

bool underMount(const std::string& path, const std::string& point) {
    if (point == "/") return true;
    return path.compare(0, point.size(), point) == 0 && (path.size() == point.size() || path[point.size()] == '/');
}

bool listed(const std::string& type, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (type == n) return true;
    return false;
}

int driveTypeOf(const std::string& type) {
    // FUSE mounts are "fuse.<program>"; the program says where the data lives.
    const std::string base = type.rfind("fuse.", 0) == 0 ? type.substr(5) : type;
    if (listed(base, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "rclone", "s3fs", "gcsfuse", "davfs", "davfs2",
                      "ceph", "cephfs", "glusterfs", "9p", "afs", "ncpfs", "coda", "lustre", "gpfs", "beegfs",
                      "curlftpfs", "afpfs"}))
        return 3;
    if (listed(base, {"iso9660", "udf"})) return 4;
    if (listed(base, {"proc", "sysfs", "devtmpfs", "devpts", "cgroup", "cgroup2", "debugfs", "securityfs", "pstore",
                      "bpf", "tracefs", "configfs", "fusectl", "mqueue", "hugetlbfs", "autofs", "binfmt_misc",
                      "efivarfs", "nsfs", "rpc_pipefs", "selinuxfs"}))
        return 5;
    return 2;
}

// The processor packages and cores of the online logical processors.
struct Topology {
    int logical = 0;
    std::set<std::pair<int, int>> cores;  // (package, core)
    std::set<int> packages;
};

Topology topology() {
    Topology t;
    t.logical = int(sysconf(_SC_NPROCESSORS_ONLN));
    DIR* d = opendir("/sys/devices/system/cpu");
    if (!d) return t;
    while (dirent* e = readdir(d)) {
        int n;
        char tail;
        if (std::sscanf(e->d_name, "cpu%d%c", &n, &tail) != 1) continue;
        const std::string base = std::string("/sys/devices/system/cpu/") + e->d_name;
        // cpu0 often has no "online" file: it cannot be taken offline.
        const std::string online = readSmallFile(base + "/online");
        if (!online.empty() && online != "1") continue;
        const std::string package = readSmallFile(base + "/topology/physical_package_id");
        const std::string core = readSmallFile(base + "/topology/core_id");
        if (package.empty() || core.empty()) continue;
        const int p = std::atoi(package.c_str());
        t.packages.insert(p);
        t.cores.insert({p, std::atoi(core.c_str())});
    }
    closedir(d);
    return t;
}

}  // namespace

// Runs a look-up through the C library's name services (hosts, passwd).
// When an allocation fails on the first such look-up of the process, the C
// library goes on with the state it could not allocate and faults at once,
// before it holds any lock; that fault is turned into the memory failure it
// is. Nothing else faults there, so nothing else is hidden.
template <class Lookup>
void nameServiceLookup(Lookup& lookup) {
    if (!cv::runFaultGuarded([](void* f) { (*static_cast<Lookup*>(f))(); }, &lookup)) throw std::bad_alloc();
}

YString sp_GetLocalHostId() {
    long id = 0;
    auto lookup = [&id] { id = gethostid(); };
    nameServiceLookup(lookup);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08lx", static_cast<unsigned long>(id) & 0xffffffffUL);
    return YString(buf);
}

YString sp_GetUserName() {
    struct passwd pw{}, *found = nullptr;
    std::vector<char> buf(16384);
    int status = -1;
    auto lookup = [&] { status = getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found); };
    nameServiceLookup(lookup);
    if (status == 0 && found && found->pw_name)
        return YString(found->pw_name);
    for (const char* var : {"USER", "LOGNAME"})
        if (const char* v = std::getenv(var); v && *v) return YString(v);
    return YString();
}

bool sp_IsAdmin() { return geteuid() == 0; }

uint64_t sp_GetSystemRamSize() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : 0;
}

YString sp_GetOSClassName() { return YString("Unix"); }

YString sp_GetOsName() { return YString(unameOf().sysname); }

YString sp_GetNativeArchitectureString() { return YString(unameOf().machine); }

YString sp_GetProcessorArchitecture() {
#if defined(__x86_64__)
    return YString("x86_64");
#elif defined(__i386__)
    return YString("i686");
#elif defined(__aarch64__)
    return YString("aarch64");
#elif defined(__arm__)
    return YString("arm");
#elif defined(__riscv) && __riscv_xlen == 64
    return YString("riscv64");
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
    return YString("ppc64le");
#elif defined(__s390x__)
    return YString("s390x");
#else
    return sp_GetNativeArchitectureString();
#endif
}

void sp_GetOsVersion(int& major, int& minor, int& build) {
    major = minor = build = 0;
    const struct utsname u = unameOf();
    int* parts[] = {&major, &minor, &build};
    const char* p = u.release;
    for (int* part : parts) {
        if (!std::isdigit((unsigned char)*p)) break;
        long v = 0;
        while (std::isdigit((unsigned char)*p)) v = std::min(v * 10 + (*p++ - '0'), 1000000000L);
        *part = int(v);
        if (*p != '.') break;
        ++p;
    }
}

int sp_GetNumLogicalProcessors() { return std::max(1, int(sysconf(_SC_NPROCESSORS_ONLN))); }

int sp_GetNumCores() {
    const Topology t = topology();
    return t.cores.empty() ? sp_GetNumLogicalProcessors() : int(t.cores.size());
}

int sp_GetNumPhysicalProcessors() {
    const Topology t = topology();
    return t.packages.empty() ? 1 : int(t.packages.size());
}

bool sp_TestExtended() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

int sp_GetDriveType(const char* path) {
    struct stat st{};
    if (!path || !*path || stat(path, &st) != 0) return 1;
    char* real = realpath(path, nullptr);
    const std::string where = real ? real : path;
    std::free(real);
    const Mount* best = nullptr;
    const std::vector<Mount> all = mounts();
    // The mount with the path's device; among bind mounts of one device, the
    // deepest that holds the path. A device not listed (some overlay and
    // btrfs set-ups) falls back to the deepest mount point above the path.
    for (const Mount& m : all)
        if (makedev(m.major, m.minor) == st.st_dev && underMount(where, m.point) &&
            (!best || m.point.size() >= best->point.size()))
            best = &m;
    if (!best)
        for (const Mount& m : all)
            if (makedev(m.major, m.minor) == st.st_dev) best = &m;
    if (!best)
        for (const Mount& m : all)
            if (underMount(where, m.point) && (!best || m.point.size() >= best->point.size())) best = &m;
    return best ? driveTypeOf(best->type) : 2;
}

const char* cv::driveTypeWord(int type) {
    switch (type) {
        case 1: return "notexist";
        case 2: return "local";
        case 3: return "remote";
        case 4: return "cdrom";
        case 5: return "other";
        default: return "unknown";
    }
}

int64_t sp_GetFreeDiskSpace(const char* path) {
    struct statvfs s{};
    if (!path || !*path || statvfs(path, &s) != 0) return -1;
    const unsigned __int128 bytes = (unsigned __int128)s.f_bavail * s.f_frsize;
    return bytes > (unsigned __int128)INT64_MAX ? INT64_MAX : int64_t(bytes);
}

void sp_GetEthernetAddresses(YList<YString>& out, int mode) {
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return;
    std::vector<std::pair<int, YString>> found;
    for (struct ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* ll = reinterpret_cast<const struct sockaddr_ll*>(i->ifa_addr);
        if (ll->sll_hatype != ARPHRD_ETHER || ll->sll_halen != 6) continue;
        if (std::all_of(ll->sll_addr, ll->sll_addr + 6, [](unsigned char b) { return b == 0; })) continue;
        std::string text;
        for (int k = 0; k < 6; ++k) {
            char b[4];
            if (mode == 0) std::snprintf(b, sizeof b, "%02X", ll->sll_addr[k]);
            else if (mode == 1) std::snprintf(b, sizeof b, k ? "-%02X" : "%02X", ll->sll_addr[k]);
            else std::snprintf(b, sizeof b, k ? ":%02x" : "%02x", ll->sll_addr[k]);
            text += b;
        }
        found.emplace_back(ll->sll_ifindex, YString(text));
    }
    freeifaddrs(list);
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& f : found) out.append(std::move(f.second));
}

YString sp_GetExeFileName() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return YString();
        if (size_t(n) < buf.size()) return YString(buf.data(), size_t(n));
        if (buf.size() >= (1u << 20)) return YString();
        buf.resize(buf.size() * 2);
    }
}

void sp_GetEnvironment(YList<YString>& out) {
    for (char** e = environ; e && *e; ++e) out.append(YString(*e));
}

YString sp_GetEnv(const char* name) {
    const char* v = name && *name ? std::getenv(name) : nullptr;
    return v ? YString(v) : YString();
}

bool sp_SetEnv(const char* name, const char* value) {
    if (!name || !*name || std::strchr(name, '=')) return false;
    if (!value || !*value) return ::unsetenv(name) == 0;
    return ::setenv(name, value, 1) == 0;
}

uint64_t sp_StackAvail() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
    void* base = nullptr;
    size_t size = 0;
    const int rc = pthread_attr_getstack(&attr, &base, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0) return 0;
    // The stack grows down from base + size; what is left lies below here.
    char here;
    const auto low = reinterpret_cast<uintptr_t>(base), at = reinterpret_cast<uintptr_t>(&here);
    return at > low && at - low <= size ? uint64_t(at - low) : 0;
}

bool sp_HaveOpenWebPage() {
    if (const char* b = std::getenv("BROWSER"); b && *b) {
        std::string first(b);
        first = first.substr(0, first.find(':'));
        first = first.substr(0, first.find(' '));
        if (onPath(first)) return true;
    }
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return ((x && *x) || (w && *w)) && onPath("xdg-open");
}

YString sp_GetCertificatePublisher(const char*) { return YString(); }

int sp_VerifyEmbeddedSignature(const char* file) {
    if (!file || !*file) return -1;
    struct stat st{};
    if (stat(file, &st) != 0 || !S_ISREG(st.st_mode) || access(file, R_OK) != 0) return -1;
    return 0;
}
