// Shared by the fuzz targets: a reader of the input bytes, a session with the
// function module loaded the way the tool loads it, and the sandbox every
// target runs in.
//
// Each fuzz_*.cpp defines LLVMFuzzerTestOneInput. Built with clang and
// -fsanitize=fuzzer it is a libFuzzer executable (`make fuzz`); built with
// ReplayMain.cpp it is the replay driver that `make test` runs over the
// target's committed corpus (fuzz/corpus/<target>/).
#pragma once
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "FunctionTable.h"
#include "OptionStore.h"
#include "Session.h"
#include "Value.h"

namespace fuzz {

// Takes typed pieces off the front of the input; past the end everything is 0/"".
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : p_(data), n_(size) {}
    size_t left() const noexcept { return n_; }
    uint8_t u8() noexcept {
        if (!n_) return 0;
        --n_;
        return *p_++;
    }
    uint32_t u32() noexcept {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | u8();
        return v;
    }
    double f64() noexcept {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v = v << 8 | u8();
        double d;
        std::memcpy(&d, &v, sizeof d);
        return d;
    }
    bool flag() noexcept { return u8() & 1; }
    // 0 ... n-1 (0 when n is 0).
    size_t pick(size_t n) noexcept { return n ? u8() % n : 0; }
    // A string whose length is the next byte (at most 255 bytes).
    std::string str() {
        size_t len = std::min<size_t>(u8(), n_);
        std::string s(reinterpret_cast<const char*>(p_), len);
        p_ += len;
        n_ -= len;
        return s;
    }
    // Everything that is left.
    std::string rest() {
        std::string s(reinterpret_cast<const char*>(p_), n_);
        p_ += n_;
        n_ = 0;
        return s;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

// The host's memory limit while fuzzing: an input that would need more is
// refused with the not-enough-memory message instead of exhausting the machine.
inline constexpr const char* kFuzzMemoryLimitMB = "1024";
inline constexpr rlim_t kLargestFileBytes = rlim_t(1) << 20;

// The size limit below holds for every write of the process, its own output
// too: a campaign logged to a file lost its progress lines, final statistics
// and any crash report once the log passed the limit. So standard output and
// standard error, when they are files, are passed through a pipe to a copier
// started before the limit is set; it appends to the file until the pipe
// closes, and ignores the interrupts meant for the fuzzer, so that the final
// statistics printed on Ctrl-C still arrive.
inline void copyThroughPipe(int fd) {
    struct stat st;
    int p[2];
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || pipe(p) != 0) return;
    const pid_t pid = fork();
    if (pid == 0) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_IGN);
        close(p[1]);
        char buf[1 << 16];
        for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;)
            for (ssize_t done = 0, w; done < n; done += w)
                if ((w = write(fd, buf + done, size_t(n - done))) <= 0) _exit(1);
        _exit(0);
    }
    if (pid > 0) dup2(p[1], fd);
    close(p[0]);
    close(p[1]);
}

inline void copyOutputPastTheLimit() {
    std::fflush(nullptr);  // what is buffered goes straight to the files
    struct stat out, err;
    const bool oneFile = fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0 &&
                         out.st_dev == err.st_dev && out.st_ino == err.st_ino;
    copyThroughPipe(STDERR_FILENO);
    // `> log 2>&1`: one copier keeps the two streams in the order written.
    if (oneFile) dup2(STDERR_FILENO, STDOUT_FILENO);
    else copyThroughPipe(STDOUT_FILENO);
}

// A throwaway directory made the working directory, HOME, the XDG
// directories and $CVFUNC_HOME, so that functions that read or write files,
// settings or the environment stay inside it. Made once per process.
//
// No file written there grows past kLargestFileBytes (a write beyond fails as
// on a full disk). Functions that read files and write one may be given the
// same name for both; call after call, a campaign would grow such a file
// without bound until reading it alone needed more memory than the limit.
inline const std::string& sandbox() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/cvfunc-fuzz-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::string d = buf.data();
        if (chdir(d.c_str()) != 0) std::abort();
        copyOutputPastTheLimit();
        const rlimit cap{kLargestFileBytes, kLargestFileBytes};
        std::signal(SIGXFSZ, SIG_IGN);
        if (setrlimit(RLIMIT_FSIZE, &cap) != 0) std::abort();
        for (const char* v : {"HOME", "CVFUNC_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                              "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
            setenv(v, d.c_str(), 1);
        return d;
    }();
    return dir;
}

// Writes the bytes to a file in the sandbox and gives its path (the loaders read files).
inline std::string writeFile(const char* name, std::string_view bytes) {
    std::string path = sandbox() + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

// Functions never called by the harness: they delete, move or copy trees,
// change the process (working directory, environment), sleep or wait, open
// dialogs, launch processes or write settings outside the sandbox.
inline const std::vector<std::string_view>& skippedFunctions() {
    static const std::vector<std::string_view> names = {
        // file system: deleting, moving, copying trees, changing directory
        "DeleteTree", "CopyTree", "ChangeDir",
        // settings and the environment
        "PutEnvVar", "WriteRegSetting", "WriteConfigSetting", "AddConfigCollection", "RemoveConfigCollection",
        "DeleteConfigCollection",
        // sleeping, waiting, process-wide locks
        "Sleep", "CreateMutex", "DestroyMutex",
        // dialogs, clipboard, browsers, other processes
        "MessageBox", "ChooseDirectory", "ReadClipboard", "HaveWebBrowser",
        // signature checks may run an external verifier
        "GetSignaturePublisher", "VerifyEmbeddedSignature",
    };
    return names;
}

// Functions that create or write a file named by a string argument, or read a
// whole directory: every string argument becomes a plain file name (no
// directory part), so what they write lands in the sandbox and what they read
// comes from it.
inline const std::vector<std::string_view>& confinedFunctions() {
    static const std::vector<std::string_view> names = {
        "MakeDir", "MakeTree", "GetTempFile", "CreateLockFile", "WAV_OpenFile",
        "WriteIniKey", "WriteDeviceCatalog", "ApplyJournal", "_BuildPartSelectorData",
        "AppendSensitivityData", "BuildMclogHTML", "BuildSensitivityHTML", "BuildWorstCaseHTML",
        // Readers of whole directories: given "/" or "..", they would read
        // (or walk) the machine's files instead of the input's.
        "_LoadFiles", "DescendDirectories",
    };
    return names;
}

inline bool listed(const std::vector<std::string_view>& list, std::string_view name) {
    for (auto n : list)
        if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) return true;
    return false;
}

// A plain file name made of `s`: directory separators and leading dots go.
inline std::string confinedName(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != '/' && c != '\0') out += c;
    while (!out.empty() && out[0] == '.') out.erase(0, 1);
    return out.empty() ? "f" : out;
}

// The process-wide session: the module loaded as the tool loads it (the
// libfunctions.so beside the host library), the memory limit at 1 GB, the
// skipped functions taken out of the table so that no expression reaches them.
inline cv::Session& session() {
    static cv::Session* s = [] {
        sandbox();
        cv::OptionStore::global().set("MemoryLimitMB", kFuzzMemoryLimitMB);
        auto* s = new cv::Session;
        std::string error;
        if (!s->loadModule(error)) {
            std::fprintf(stderr, "fuzz: cannot load the function module: %s\n", error.c_str());
            std::abort();
        }
        for (const FuncConstruct* f : cv::FunctionTable::global().all())
            if (listed(skippedFunctions(), f->name())) cv::FunctionTable::global().remove(f);
        s->caller().setSink([](auto, const std::string&) {});
        return s;
    }();
    return *s;
}

// Calls a script function by name through the tool's pipeline; failures are fine.
inline bool call(std::string_view name, std::vector<cv::ValuePtr> args) {
    cv::ValuePtr out;
    std::string error;
    return session().caller().call(name, args, out, error);
}

}  // namespace fuzz
