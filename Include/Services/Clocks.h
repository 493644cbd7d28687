// Dates and clocks, pauses, and Ctrl-C during a pause.
//
// Dates and times are local time (TZ and the system zone, as the C library
// resolves them), written in the C locale so that scripts can parse them:
//   sp_GetFormattedDate(false)  "06-Dec-2026"      sp_GetFormattedDate(true)  "2026-12-06"
//   sp_GetFormattedTime(false)  "15:04:05"         sp_GetFormattedTime(true)  "15:04:05.123"
// Clocks:
//   sp_EpochTimeMilliSeconds  wall clock, milliseconds since 1970-01-01 UTC
//   sp_GetSystemTime          wall clock, whole seconds since 1970 (unsigned 32 bits: wraps in 2106)
//   sp_GetTickCount           milliseconds since the machine started, sleep included (CLOCK_BOOTTIME)
//   sp_GetPerfTime            seconds of a monotonic high-resolution clock (CLOCK_MONOTONIC),
//                             for measuring intervals; its zero is arbitrary
#pragma once
#include <cstdint>

#include "YString.h"

YString sp_GetFormattedDate(bool iso);
YString sp_GetFormattedTime(bool fractions);
int64_t sp_EpochTimeMilliSeconds();
uint32_t sp_GetSystemTime();
uint64_t sp_GetTickCount();
double sp_GetPerfTime();

// Sleeps `milliseconds` (0 yields the processor once). A signal ends the
// sleep early, so that a caller watching for Ctrl-C sees it at once.
void sp_Sleep(uint32_t milliseconds);

// Handles pending user-interface events. This host has no window system of
// its own, so there are none; waits still call it, as hosts with an event
// loop need.
void sp_ProcessEvents(int flags);

// Ctrl-C (SIGINT) during a wait. While a scope lives, SIGINT only sets a flag
// that the waiting code polls, so an interactive user can stop a long pause
// without losing the session; when the scope ends the previous disposition
// is back. A SIGINT caught this way is handed on to a previous handler that
// is a function (the Python interpreter's, which then raises
// KeyboardInterrupt), never to the default action, which would end the
// process. Where SIGINT was ignored it stays ignored. Outside any scope
// SIGINT behaves as the host set it up. One scope at a time (the script
// thread); nested scopes share the first one's flag.
class InterruptScope {
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
    // Whether SIGINT arrived since the scope began.
    bool interrupted() const noexcept;

private:
    bool installed_ = false;
};

// Whether Ctrl-C arrived within the current InterruptScope (false outside
// any). Long computations poll it and stop early; the session abandons the
// statement at the next call.
namespace cv {
bool interruptRequested() noexcept;
}  // namespace cv
