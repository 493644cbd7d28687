// Runs a piece of code so that a machine fault inside it (a write through a
// bad pointer, a read of a mapped file that shrank) returns here instead of
// killing the process.
#pragma once
#include <signal.h>

namespace cv {
// True when fn ran to its end; false when it raised SIGSEGV or SIGBUS.
// Only for code that holds no resources at the moment of the fault: nothing
// between the fault and this call is unwound.
bool runFaultGuarded(void (*fn)(void*), void* data);

// The same for work spread over threads: the handlers are installed once, by
// a FaultHandlers that outlives the work, and each thread then guards its own
// pieces with runFaultGuardedHere (installing handlers from several threads
// at once would race on the process's signal actions).
class FaultHandlers {
public:
    FaultHandlers();
    ~FaultHandlers();
    FaultHandlers(const FaultHandlers&) = delete;
    FaultHandlers& operator=(const FaultHandlers&) = delete;

private:
    struct sigaction segv_ {}, bus_{};
};
bool runFaultGuardedHere(void (*fn)(void*), void* data);

// Writes to a page that is mapped without access: a real access violation
// at an address that belongs to no data.
void raiseAccessViolation();
}  // namespace cv
