#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace cv {

namespace {

std::atomic<unsigned> gThreads{0};  // 0: the default
thread_local bool tInsideChunk = false;

}  // namespace

unsigned defaultThreadCount() noexcept {
    static const unsigned n = [] {
        if (const char* env = std::getenv("CVFUNC_THREADS")) {
            char* end = nullptr;
            const long v = std::strtol(env, &end, 10);
            if (end != env && v > 0) return unsigned(std::min(v, 256L));
        }
        return std::max(1u, std::thread::hardware_concurrency());
    }();
    return n;
}

unsigned threadCount() noexcept {
    const unsigned n = gThreads.load(std::memory_order_relaxed);
    return n ? n : defaultThreadCount();
}

void setThreadCount(unsigned n) noexcept { gThreads.store(std::min(n, 256u), std::memory_order_relaxed); }

void forEachChunk(size_t n, size_t chunk, const std::function<void(size_t, size_t)>& body) {
    if (n == 0) return;
    if (chunk == 0) chunk = n;
    const size_t chunks = chunkCount(n, chunk);
    const unsigned threads = tInsideChunk ? 1u : unsigned(std::min<size_t>(threadCount(), chunks));
    if (threads <= 1) {
        for (size_t k = 0; k < chunks; ++k) body(k * chunk, std::min(n, (k + 1) * chunk));
        return;
    }
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex errorMutex;
    auto work = [&] {
        tInsideChunk = true;
        for (size_t k; !failed.load(std::memory_order_relaxed) && (k = next.fetch_add(1)) < chunks;) {
            try {
                body(k * chunk, std::min(n, (k + 1) * chunk));
            } catch (...) {
                std::lock_guard<std::mutex> lock(errorMutex);
                if (!error) error = std::current_exception();
                failed = true;
            }
        }
        tInsideChunk = false;
    };
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    try {
        for (unsigned t = 1; t < threads; ++t) workers.emplace_back(work);
    } catch (...) {
        // No thread to be had: the calling thread does the rest alone.
    }
    work();
    for (auto& w : workers) w.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace cv
