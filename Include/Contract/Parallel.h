// Both cores for large, independent work.
//
// The number of worker threads is one switch: the host option "Threads"
// (set per call by the host, like the memory limit), else the environment
// variable CVFUNC_THREADS, else the number of cores. 1 runs everything on the
// calling thread, exactly as a single-threaded build would.
//
// forEachChunk splits [0, n) into chunks of a fixed size and hands them to
// the workers. The chunk boundaries depend only on n and `chunk`, never on
// the number of threads, so code that combines per-chunk partial results in
// chunk order (sums, extrema with first-index ties) gives identical results
// whatever the setting. Work started from inside a chunk runs inline: no
// nested pools, no oversubscription. The first exception a chunk throws
// (std::bad_alloc, an interrupt) is rethrown on the calling thread once every
// worker has stopped; chunks not yet started are then skipped.
#pragma once

#include <cstddef>
#include <functional>

namespace cv {

// Worker threads for the current call (at least 1).
unsigned threadCount() noexcept;
// 0 returns to the default (CVFUNC_THREADS, else the number of cores).
void setThreadCount(unsigned n) noexcept;
// The default: CVFUNC_THREADS when it holds a positive number, else the cores.
unsigned defaultThreadCount() noexcept;

// body(begin, end) for every chunk [k*chunk, min(n, (k+1)*chunk)).
void forEachChunk(size_t n, size_t chunk, const std::function<void(size_t begin, size_t end)>& body);

// The number of chunks forEachChunk makes of n.
inline size_t chunkCount(size_t n, size_t chunk) noexcept { return chunk ? (n + chunk - 1) / chunk : 0; }

}  // namespace cv
