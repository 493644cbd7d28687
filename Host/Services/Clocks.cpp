// Dates, clocks, pauses and Ctrl-C during a pause (see Clocks.h).
#include "Clocks.h"

#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstdio>

namespace {

struct timespec now(clockid_t clock) {
    struct timespec ts{};
    clock_gettime(clock, &ts);
    return ts;
}

struct tm localNow(long* milliseconds = nullptr) {
    const struct timespec ts = now(CLOCK_REALTIME);
    if (milliseconds) *milliseconds = ts.tv_nsec / 1000000;
    struct tm t{};
    const time_t s = ts.tv_sec;
    localtime_r(&s, &t);
    return t;
}

// Month names of the C locale, whatever the user's locale says.
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

volatile sig_atomic_t gInterrupted = 0;
int gScopes = 0;
struct sigaction gPrevious{};

void onInterrupt(int) { gInterrupted = 1; }

}  // namespace

YString sp_GetFormattedDate(bool iso) {
    const struct tm t = localNow();
    char buf[32];
    if (iso)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    else
        std::snprintf(buf, sizeof buf, "%02d-%s-%04d", t.tm_mday, kMonths[t.tm_mon % 12], t.tm_year + 1900);
    return YString(buf);
}

YString sp_GetFormattedTime(bool fractions) {
    long ms = 0;
    const struct tm t = localNow(&ms);
    char buf[32];
    if (fractions)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03ld", t.tm_hour, t.tm_min, t.tm_sec, ms);
    else
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return YString(buf);
}

int64_t sp_EpochTimeMilliSeconds() {
    const struct timespec ts = now(CLOCK_REALTIME);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint32_t sp_GetSystemTime() { return uint32_t(now(CLOCK_REALTIME).tv_sec); }

uint64_t sp_GetTickCount() {
    const struct timespec ts = now(CLOCK_BOOTTIME);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

double sp_GetPerfTime() {
    const struct timespec ts = now(CLOCK_MONOTONIC);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void sp_Sleep(uint32_t milliseconds) {
    struct timespec ts{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    // EINTR ends the pause early on purpose: the caller polls for Ctrl-C.
    nanosleep(&ts, nullptr);
}

void sp_ProcessEvents(int) {}

InterruptScope::InterruptScope() {
    if (gScopes++ > 0) return;
    gInterrupted = 0;
    struct sigaction previous{};
    if (sigaction(SIGINT, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
    struct sigaction catcher{};
    catcher.sa_handler = onInterrupt;
    sigemptyset(&catcher.sa_mask);
    catcher.sa_flags = 0;  // no SA_RESTART: the sleep must wake up
    if (sigaction(SIGINT, &catcher, &gPrevious) == 0) installed_ = true;
}

InterruptScope::~InterruptScope() {
    if (--gScopes > 0 || !installed_) return;
    sigaction(SIGINT, &gPrevious, nullptr);
    const bool toFunction = (gPrevious.sa_flags & SA_SIGINFO) ||
                            (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN);
    if (gInterrupted && toFunction) raise(SIGINT);
}

bool InterruptScope::interrupted() const noexcept { return gInterrupted != 0; }

bool cv::interruptRequested() noexcept { return gScopes > 0 && gInterrupted != 0; }
