// The memory budget of a call: what its results and large scratch buffers
// may hold. The lowest layer keeps it, so that every service that reads or
// builds something large can count against it without the value model.
#pragma once
#include <cstddef>

namespace cv {

// The most bytes the results of the current call may hold: a result known to
// need more is refused (std::bad_alloc, the host's not-enough-memory message)
// before anything is allocated, so that one call cannot drive the machine
// into the kernel's out-of-memory killer. The host sets it when a top-level
// call starts (setMemoryLimitBytes): the host option MemoryLimitMB when it is
// set, else the memory available at that moment; never more than the
// physical total, which is also the limit before any call has started.
size_t memoryLimitBytes() noexcept;
void setMemoryLimitBytes(size_t bytes) noexcept;
// Large scratch buffers of a handler count against the same limit as the
// results: reserveMemoryBytes throws std::bad_alloc when `bytes` more would
// exceed it; releaseMemoryBytes gives them back when the buffer goes.
void reserveMemoryBytes(size_t bytes);
void releaseMemoryBytes(size_t bytes) noexcept;
// The machine's physical memory.
size_t physicalMemoryBytes() noexcept;
// What the system can still hand out without swapping (MemAvailable of
// /proc/meminfo); the physical total when that cannot be read.
size_t availableMemoryBytes() noexcept;

}  // namespace cv
