// Runs a piece of code so that a machine fault inside it (a write through a
// bad pointer) returns here instead of killing the process.
#pragma once

// True when fn ran to its end; false when it raised SIGSEGV or SIGBUS.
// Only for code that holds no resources at the moment of the fault: nothing
// between the fault and this call is unwound.
namespace cv {
bool runFaultGuarded(void (*fn)(void*), void* data);
// Writes to a page that is mapped without access: a real access violation
// at an address that belongs to no data.
void raiseAccessViolation();
}  // namespace cv
