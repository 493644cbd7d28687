// The worker pool: chunking independent of the thread count, exceptions
// brought back to the caller, nested work inline, and the Threads option.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <new>
#include <thread>
#include <vector>

#include "OptionStore.h"
#include "Parallel.h"
#include "TestHost.h"

namespace {

struct ThreadsSetting {
    explicit ThreadsSetting(unsigned n) { cv::setThreadCount(n); }
    ~ThreadsSetting() { cv::setThreadCount(0); }
};

// Per-chunk partial sums combined in chunk order: the same bits whatever the
// number of threads, and every element visited once.
TEST(Parallel, ChunkedSumsAreTheSameForEveryThreadCount) {
    std::vector<double> x(100003);
    for (size_t i = 0; i < x.size(); ++i) x[i] = std::sin(double(i)) * 1e-3 + 1.0 / double(i + 1);
    double reference = 0;
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
        ThreadsSetting setting(threads);
        const size_t chunk = 4096;
        std::vector<double> partial(cv::chunkCount(x.size(), chunk));
        std::vector<std::atomic<int>> visits(x.size());
        cv::forEachChunk(x.size(), chunk, [&](size_t b, size_t e) {
            double s = 0;
            for (size_t i = b; i < e; ++i) s += x[i], visits[i]++;
            partial[b / chunk] = s;
        });
        double total = 0;
        for (double p : partial) total += p;
        if (threads == 1) reference = total;
        EXPECT_EQ(total, reference) << threads << " threads";
        for (auto& v : visits) ASSERT_EQ(v.load(), 1);
    }
}

TEST(Parallel, ExceptionsReachTheCallerAndNestedWorkRunsInline) {
    ThreadsSetting setting(2);
    EXPECT_THROW(cv::forEachChunk(1000, 10,
                                  [](size_t b, size_t) {
                                      if (b == 500) throw std::bad_alloc();
                                  }),
                 std::bad_alloc);
    std::atomic<int> nestedOnOtherThreads{0};
    cv::forEachChunk(4, 1, [&](size_t, size_t) {
        const auto outer = std::this_thread::get_id();
        cv::forEachChunk(100, 1, [&](size_t, size_t) {
            if (std::this_thread::get_id() != outer) nestedOnOtherThreads++;
        });
    });
    EXPECT_EQ(nestedOnOtherThreads.load(), 0);
    int calls = 0;
    cv::forEachChunk(0, 10, [&](size_t, size_t) { ++calls; });
    EXPECT_EQ(calls, 0);
}

// The host sets the count from its option when a call starts; 0 is the default.
TEST(Parallel, ThreadsOptionSetsTheCountPerCall) {
    cv::OptionStore::global().set("Threads", "1");
    ASSERT_TRUE(cvtest::call("abs", {cvtest::reals({1})}).ok);
    EXPECT_EQ(cv::threadCount(), 1u);
    cv::OptionStore::global().set("Threads", "0");
    ASSERT_TRUE(cvtest::call("abs", {cvtest::reals({1})}).ok);
    EXPECT_EQ(cv::threadCount(), cv::defaultThreadCount());
}

}  // namespace
