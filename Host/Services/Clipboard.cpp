// The clipboard's text through the display server's helper programs (see
// Clipboard.h).
#include "Clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kTimeLimitMs = 2000;
constexpr size_t kMostBytes = size_t(64) << 20;

long long nowMs() {
    struct timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Runs argv[0] (found on $PATH) with no shell, and gives its standard output
// when it ends successfully within the time limit.
bool runForOutput(const std::vector<const char*>& argv, std::string& out) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The child starts with default signal handling whatever the host set.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> args;
    for (const char* a : argv) args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(pipeFds[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return false;
    }

    bool ok = true;
    const long long deadline = nowMs() + kTimeLimitMs;
    char buf[65536];
    for (;;) {
        const long long left = deadline - nowMs();
        if (left <= 0) {
            ok = false;
            break;
        }
        struct pollfd p{pipeFds[0], POLLIN, 0};
        const int ready = poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            ok = false;
            break;
        }
        const ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of output (or a read error: judged by the exit)
        if (out.size() + size_t(n) > kMostBytes) {
            ok = false;
            break;
        }
        out.append(buf, size_t(n));
    }
    close(pipeFds[0]);
    // A helper that outlives its output or its time is stopped; either way it
    // is reaped here, so no zombie is left.
    int status = 0;
    bool reaped = false;
    if (ok) {
        // The output has ended; the helper gets the rest of its time to exit.
        for (;;) {
            const pid_t w = waitpid(pid, &status, WNOHANG);
            if (w < 0 && errno == EINTR) continue;
            if (w != 0) {
                reaped = true;  // or gone already (ECHILD): nothing to wait for
                break;
            }
            if (nowMs() >= deadline) break;
            struct timespec pause{0, 5 * 1000000L};
            nanosleep(&pause, nullptr);
        }
        ok = reaped;
    }
    if (!reaped) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool set(const char* var) {
    const char* v = std::getenv(var);
    return v && *v;
}

}  // namespace

bool sp_PasteTextFromClipboard(YString& text) {
    std::string out;
    if (set("WAYLAND_DISPLAY") && runForOutput({"wl-paste", "--no-newline", "--type", "text"}, out) && !out.empty()) {
        text = YString(out);
        return true;
    }
    out.clear();
    if (set("DISPLAY") && runForOutput({"xclip", "-selection", "clipboard", "-out"}, out) && !out.empty()) {
        text = YString(out);
        return true;
    }
    return false;
}
