// The vectorised kernels against plain one-element-at-a-time references at
// every instruction-set level this processor runs; divided calls on one and
// two threads; results written into buffers that are not cleared first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "OptionStore.h"
#include "TestHost.h"
#include "VecMath.h"

namespace {

using cvtest::call;
using cvtest::complexes;
using cvtest::reals;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// NaN payloads may differ when both operands are NaN; everything else must
// match bit for bit (-0 against +0 included).
bool same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Random values with the cases that trip vector code: NaN, infinities, both
// zeros, repeated values (ties) and exact small integers.
std::vector<double> nasty(size_t n, unsigned seed, double specials = 0.05) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-10, 10), p(0, 1);
    const double pool[] = {kNaN, kInf, -kInf, 0.0, -0.0, 1.0, 3.0, -3.0};
    std::vector<double> v(n);
    for (auto& x : v) x = p(rng) < specials ? pool[rng() % 8] : p(rng) < 0.2 ? double(int(u(rng))) : u(rng);
    return v;
}

std::vector<KernelLevel> levels() {
    std::vector<KernelLevel> all;
    for (int l = 0; l <= int(cv::kernelLevelSupported()); ++l) all.push_back(KernelLevel(l));
    return all;
}

struct LevelSetting {
    explicit LevelSetting(KernelLevel l) { EXPECT_EQ(cv::setKernelLevel(l), l); }
    ~LevelSetting() { cv::setKernelLevel(cv::kernelLevelSupported()); }
};

TEST(Kernels, BinaryOperationsMatchTheScalarExpressionsAtEveryLevel) {
    using F = std::function<double(double, double)>;
    const std::pair<VecOp, F> ops[] = {
        {VecOp::Add, [](double a, double b) { return a + b; }},
        {VecOp::Subtract, [](double a, double b) { return a - b; }},
        {VecOp::Multiply, [](double a, double b) { return a * b; }},
        {VecOp::Divide, [](double a, double b) { return a / b; }},
        {VecOp::Equal, [](double a, double b) { return a == b ? 1.0 : 0.0; }},
        {VecOp::NotEqual, [](double a, double b) { return a == b ? 0.0 : 1.0; }},
        {VecOp::Greater, [](double a, double b) { return a > b ? 1.0 : 0.0; }},
        {VecOp::Less, [](double a, double b) { return a < b ? 1.0 : 0.0; }},
        {VecOp::GreaterEqual, [](double a, double b) { return a >= b ? 1.0 : 0.0; }},
        {VecOp::LessEqual, [](double a, double b) { return a <= b ? 1.0 : 0.0; }},
        {VecOp::And, [](double a, double b) { return a != 0 && b != 0 ? 1.0 : 0.0; }},
        {VecOp::Or, [](double a, double b) { return a != 0 || b != 0 ? 1.0 : 0.0; }},
        {VecOp::Max, [](double a, double b) { return a > b ? a : b; }},
        {VecOp::Min, [](double a, double b) { return a > b ? b : a; }},
    };
    for (KernelLevel level : levels()) {
        LevelSetting setting(level);
        for (size_t n : {size_t(1), size_t(7), size_t(64), size_t(1001)}) {
            const auto a = nasty(n, 1 + unsigned(n)), b = nasty(n, 100 + unsigned(n));
            std::vector<double> out(n);
            for (const auto& [op, f] : ops)
                for (VecSpread s : {VecSpread::Both, VecSpread::LeftSingle, VecSpread::RightSingle}) {
                    cv::vecBinary(op, out.data(), a.data(), b.data(), int64_t(n), s);
                    for (size_t i = 0; i < n; ++i) {
                        const double x = s == VecSpread::LeftSingle ? a[0] : a[i];
                        const double y = s == VecSpread::RightSingle ? b[0] : b[i];
                        ASSERT_TRUE(same(out[i], f(x, y)))
                            << "level " << int(level) << " op " << int(op) << " spread " << int(s) << " at " << i;
                    }
                }
            std::vector<double> z = a;
            for (double& x : z) x = x == 0 ? 1.0 : x;
            EXPECT_FALSE(cv::vecAnyZero(z.data(), int64_t(n)));
            z[n - 1] = -0.0;
            EXPECT_TRUE(cv::vecAnyZero(z.data(), int64_t(n)));
            // Magnitudes of the pairs (a[i], b[i]), each operation rounded alone.
            std::vector<double> pairs(2 * n);
            for (size_t i = 0; i < n; ++i) pairs[2 * i] = a[i], pairs[2 * i + 1] = b[i];
            cv::vecMagnitudes(pairs.data(), out.data(), int64_t(n));
            for (size_t i = 0; i < n; ++i) {
                const volatile double re2 = a[i] * a[i], im2 = b[i] * b[i];  // not contracted into a fused multiply-add
                ASSERT_TRUE(same(out[i], std::sqrt(re2 + im2))) << "level " << int(level) << " |z| at " << i;
            }
        }
    }
}

// The first index of the extreme non-NaN value, whatever the block and lane
// the tie or the NaN falls in.
TEST(Kernels, ExtremeIndexKeepsTheFirstOfEqualValuesAndSkipsNaN) {
    auto reference = [](const std::vector<double>& y, int64_t lo, int64_t hi, bool lower) {
        int64_t best = -1;
        for (int64_t i = lo; i < hi; ++i)
            if (!std::isnan(y[size_t(i)]) && (best < 0 || (lower ? y[size_t(i)] < y[size_t(best)]
                                                                 : y[size_t(i)] > y[size_t(best)])))
                best = i;
        return best;
    };
    std::vector<std::vector<double>> cases;
    for (unsigned seed = 0; seed < 6; ++seed) cases.push_back(nasty(3000 + seed * 517, seed, 0.2));
    std::vector<double> ties(2500, 4.0), zeros(1100, -1.0);
    ties[1500] = ties[2400] = 9.0, ties[700] = ties[2000] = -9.0;
    zeros[1030] = 0.0, zeros[1029] = -0.0, zeros[5] = kNaN;
    cases.insert(cases.end(), {ties, zeros, std::vector<double>(40, kNaN)});
    for (KernelLevel level : levels()) {
        LevelSetting setting(level);
        for (const auto& y : cases)
            for (auto [lo, hi] : {std::pair<int64_t, int64_t>{0, int64_t(y.size())}, {3, int64_t(y.size()) - 5},
                                  {17, 18}, {1023, 1025 + 16 * 3}})
                for (bool lower : {false, true}) {
                    if (hi > int64_t(y.size()) || lo >= hi) continue;  // ranges past a short case
                    ASSERT_EQ(cv::vecExtremeIndex(y.data(), lo, hi, lower), reference(y, lo, hi, lower))
                        << "level " << int(level) << " range " << lo << ".." << hi << " lower " << lower;
                }
    }
}

// The same bits at every level, so that a result does not depend on the
// machine; every falling (or NaN) step of x noticed, wherever it lies in the
// group of four. The sums' values are checked by the window statistics tests.
TEST(Kernels, SegmentSumsAreTheSameAtEveryLevelAndNoticeEveryFallingStep) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> step(0.5, 1.5), val(-2, 2);
    for (int64_t fallAt : {int64_t(-1), int64_t(5), int64_t(6), int64_t(7), int64_t(8), int64_t(40)}) {
        const size_t n = 203;
        std::vector<double> x(n), y(n);
        for (size_t i = 0; i < n; ++i) {
            x[i] = (i ? x[i - 1] : 0) + step(rng);
            y[i] = val(rng);
        }
        if (fallAt >= 0) x[size_t(fallAt)] = x[size_t(fallAt) - 1] - 0.25;
        for (SegmentTerm t : {SegmentTerm::Trapezoid, SegmentTerm::Square})
            for (auto [a, b] : {std::pair<int64_t, int64_t>{1, int64_t(n) - 2}, {0, 3}, {2, 100}}) {
                const bool want = fallAt > a && fallAt <= b;
                std::vector<double> sums;
                for (KernelLevel level : levels()) {
                    LevelSetting setting(level);
                    bool got = false;
                    sums.push_back(cv::vecSegmentSum(t, x.data(), y.data(), a, b, 0.3, &got));
                    ASSERT_TRUE(same(sums.back(), sums[0])) << "level " << int(level) << " " << a << ".." << b;
                    EXPECT_EQ(got, want) << "level " << int(level) << " fall " << fallAt << " " << a << ".." << b;
                }
            }
    }
}

// The crossing search's skip is checked at every level by the search itself
// against a point-by-point walk (test_interp). Binning at every level counts
// as the widest level does, values on the edges included; that level is
// checked against numpy in the Python peer tests.
TEST(Kernels, HistogramBinsAreTheSameAtEveryLevel) {
    auto values = nasty(5000, 11, 0.1);
    for (size_t i = 0; i < 200; ++i) values[i] = -10.0 + 0.2 * double(i % 101);  // on the edges of 100 bins
    const auto data = reals(values);
    const auto widest = cvtest::values("Histogram", {data, reals({100}), cvtest::str("step")});
    ASSERT_EQ(widest.size(), 200u);
    for (KernelLevel level : levels()) {
        LevelSetting setting(level);
        EXPECT_EQ(cvtest::values("Histogram", {data, reals({100}), cvtest::str("step")}), widest) << int(level);
    }
}

// ---------------------------------------------------------------- threads

struct Captured {
    bool ok = false;
    cv::ValuePtr value;
    std::string error;
    std::vector<std::string> messages;
};

Captured callCapturing(const std::string& name, std::vector<cv::ValuePtr> args, unsigned threads) {
    cvtest::session();  // the module loaded
    Captured c;
    cv::Caller caller([&c](MessageHandler::Severity, const std::string& t) { c.messages.push_back(t); });
    // Each top-level call takes its thread count from the option.
    cv::OptionStore::global().set("Threads", std::to_string(threads));
    c.ok = caller.call(name, args, c.value, c.error);
    cv::OptionStore::global().set("Threads", "0");
    return c;
}

// Releases a large value filled with 7s: the next result of its size takes its
// buffer without clearing it.
void leaveKeptBuffer(cv::Kind kind, size_t n) {
    auto junk = cv::Value::make(kind, int64_t(n));
    std::fill_n(static_cast<double*>(junk->mutableData()), n * (kind == cv::Kind::Complex ? 2 : 1), 7.0);
}

// Runs of a Monte Carlo vector: some miss a window, one has NaN x.
cv::ValuePtr manyRuns(size_t runs, size_t points) {
    std::vector<std::vector<double>> ys(runs), xs(runs);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    for (size_t r = 0; r < runs; ++r) {
        const size_t n = r % 7 == 3 ? 5 : points;  // short runs end before the window
        for (size_t i = 0; i < n; ++i) {
            xs[r].push_back(double(i) * 1e-3);
            ys[r].push_back(std::sin(double(i) * 0.01 + double(r)) + 0.1 * u(rng));
        }
    }
    xs[12][50] = kNaN;
    return cvtest::dividedWave(ys, xs);
}

// Divided calls share their runs among threads, a long histogram its pieces:
// values, messages and errors are those of one thread. Where runs fail (9 and
// 30 below) the first one's error is the call's and runs after it send nothing.
TEST(KernelThreads, CallsGiveOnTwoThreadsWhatTheyGiveOnOne) {
    const auto runs = manyRuns(80, 1500);
    std::vector<std::vector<double>> ys(40, std::vector<double>(3000, 1.0)), xs(40, cvtest::grid(3000));
    for (size_t i = 0; i < 3000; ++i) xs[9][i] = xs[30][i] = double(i % 100);  // x repeats: not monotonic
    const auto failing = cvtest::dividedWave(ys, xs), longData = reals(nasty(3'000'000, 5, 0.01));
    const auto from = reals({0.2}), to = reals({1.2});
    const std::vector<std::tuple<std::string, std::vector<cv::ValuePtr>, bool>> calls = {
        {"Mean1", {runs, from, to}, true},        {"RMS1", {runs, from, to}, true},
        {"RMS1_AC", {runs}, true},                {"Maximum", {runs}, true},
        {"Minimum", {runs, from, to}, true},      {"XFromY", {runs, reals({0.0})}, true},
        {"Histogram", {runs, reals({20})}, true}, {"Histogram", {longData, reals({37})}, true},
        {"Mean1", {failing, reals({10.5}), reals({20.5})}, false},
    };
    for (const auto& [name, args, succeeds] : calls) {
        const Captured one = callCapturing(name, args, 1), two = callCapturing(name, args, 2);
        ASSERT_EQ(one.ok, succeeds) << name << ": " << one.error;
        EXPECT_EQ(two.ok, succeeds) << name << ": " << two.error;
        EXPECT_EQ(one.error, two.error) << name;
        EXPECT_EQ(one.messages, two.messages) << name;
        if (!one.ok) continue;
        ASSERT_EQ(one.value->numDivisions(), two.value->numDivisions()) << name;
        const auto a = cvtest::realsOf(*one.value), b = cvtest::realsOf(*two.value);
        ASSERT_EQ(a.size(), b.size()) << name;
        for (size_t i = 0; i < a.size(); ++i) ASSERT_TRUE(same(a[i], b[i])) << name << " at " << i;
    }
    // The short runs missed the window: one message each, in run order.
    const Captured mean = callCapturing("Mean1", {runs, from, to}, 2);
    ASSERT_GE(mean.messages.size(), 2u);
    EXPECT_EQ(mean.messages[0].rfind("run 4: ", 0), 0u) << mean.messages[0];
    EXPECT_EQ(mean.messages[1].rfind("run 11: ", 0), 0u) << mean.messages[1];
}

// ---------------------------------------------------------------- math up to a limit

// Units in the last place between two doubles of one sign (0 when both NaN).
int64_t ulpsApart(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b) ? 0 : INT64_MAX;
    if (a == b) return 0;
    int64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return (x < 0) != (y < 0) ? INT64_MAX : std::abs(x - y);
}

// The vector exp against the C library's (correctly rounded but for rare
// cases) over the whole range, gradual underflow and overflow included: our
// own eight-lane kernel within one unit, the library's four-lane one within
// the four it promises.
TEST(KernelMath, ExpIsWithinItsBoundOfTheCorrectlyRoundedValue) {
    const int64_t bound = cv::vecMathWidth() == 8 ? 1 : 4;
    std::mt19937_64 rng(11);
    std::vector<double> x;
    for (auto [lo, hi] : {std::pair(-1e-9, 1e-9), std::pair(-1.0, 1.0), std::pair(-50.0, 50.0),
                          std::pair(-708.4, 709.78), std::pair(-745.2, -708.3)}) {
        std::uniform_real_distribution<double> u(lo, hi);
        for (int i = 0; i < 200000; ++i) x.push_back(u(rng));
    }
    for (double v : {0.0, -0.0, 1.0, -1.0, 0x1.62e42fefa39efp+9, 0x1.62e42fefa39f0p+9, 710.0, -745.1332191019411,
                     -745.2, -746.0, -1e300, 1e300, kInf, -kInf, kNaN, 5e-324, -5e-324})
        x.push_back(v);
    std::vector<double> y(x.size());
    cv::vecMath(VecFn::Exp, x.data(), y.data(), int64_t(x.size()));
    int64_t exact = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const int64_t d = ulpsApart(y[i], std::exp(x[i]));
        ASSERT_LE(d, bound) << "exp(" << x[i] << ") = " << y[i] << ", not " << std::exp(x[i]);
        exact += d == 0;
    }
    if (bound == 1) {
        EXPECT_GT(double(exact) / double(x.size()), 0.99);
    }
}

// Up to the first element beyond the limit the values are those of the whole
// pass, bit for bit, whatever group of lanes the stop falls in; from it on
// nothing is written. Long outputs at a 64-byte boundary take the streamed
// stores.
TEST(KernelMath, StoppingAtALimitKeepsTheWholePassValuesBeforeTheStop) {
    constexpr double kLimit = 709.016, kUntouched = 7.0;
    const int64_t longRun = (int64_t(1) << 18) + 13;
    for (int64_t n : {int64_t(1), int64_t(7), int64_t(8), int64_t(9), int64_t(100), longRun}) {
        std::vector<double> in = nasty(size_t(n), unsigned(n));
        for (auto& x : in) x = std::isinf(x) && x > 0 ? 700.0 : x;  // +inf is beyond the limit
        std::vector<double> storage(static_cast<size_t>(n) + 8);
        double* out = storage.data() + (8 - reinterpret_cast<uintptr_t>(storage.data()) / 8 % 8) % 8;
        for (int64_t stop : {int64_t(0), n / 2, n - 1, n}) {
            for (bool orEqual : {false, true}) {
                std::vector<double> v = in;
                // At the limit stops only with orEqual; NaN just before never does.
                if (stop < n) v[size_t(stop)] = orEqual ? kLimit : std::nextafter(kLimit, 800.0);
                if (!orEqual && stop > 1) v[0] = kLimit;
                if (stop > 0 && stop < n) v[size_t(stop - 1)] = kNaN;
                std::vector<double> ref(static_cast<size_t>(n));
                cv::vecMath(VecFn::Exp, v.data(), ref.data(), n);
                std::fill_n(out, n, kUntouched);
                ASSERT_EQ(cv::vecMathBelow(VecFn::Exp, v.data(), out, n, kLimit, orEqual), stop) << n << " " << stop;
                for (int64_t i = 0; i < n; ++i)
                    ASSERT_TRUE(same(out[i], i < stop ? ref[size_t(i)] : kUntouched)) << n << " " << stop << " " << i;
            }
        }
    }
}

// A long exp or db is shared among threads in pieces and written into a kept
// buffer that is not cleared: every element is that of short calls over the
// same values, on every thread count, and an overflow in the last element
// still fails the call.
TEST(KernelThreads, LongExpAndDbAreTheirShortPiecesOnEveryThreadCount) {
    constexpr size_t n = 3'000'005, piece = 1000;
    std::vector<double> x = nasty(n, 9, 0.01);
    for (auto& v : x) v = std::isinf(v) && v > 0 ? 1.0 : v;
    std::vector<cv::cplx> z(n);
    for (size_t i = 0; i < n; ++i) z[i] = {x[i], x[(i * 7) % n]};
    const auto same2 = [](cv::cplx a, cv::cplx b) { return same(a.real(), b.real()) && same(a.imag(), b.imag()); };
    for (const char* name : {"exp", "db"}) {
        for (bool complexArg : {false, true}) {
            std::vector<cv::cplx> expected;
            for (size_t at = 0; at < n; at += piece) {
                const size_t end = std::min(at + piece, n);
                const auto o = call(name, {complexArg ? complexes({z.begin() + at, z.begin() + end})
                                                      : reals({x.begin() + at, x.begin() + end})});
                ASSERT_TRUE(o.ok) << o.error;
                for (auto c : cvtest::complexesOf(*o.value)) expected.push_back(c);
            }
            for (unsigned threads : {1u, 2u}) {
                leaveKeptBuffer(cv::Kind::Complex, n);
                const Captured c = callCapturing(name, {complexArg ? complexes(z) : reals(x)}, threads);
                ASSERT_TRUE(c.ok) << name << ": " << c.error;
                const auto got = cvtest::complexesOf(*c.value);
                ASSERT_EQ(got.size(), n);
                for (size_t i = 0; i < n; ++i)
                    ASSERT_TRUE(same2(got[i], expected[i])) << name << complexArg << " on " << threads << " at " << i;
            }
        }
    }
    x[n - 1] = 710;
    for (unsigned threads : {1u, 2u})
        EXPECT_EQ(callCapturing("exp", {reals(x)}, threads).error, "Overflow in function 'exp'") << threads;
}

// ---------------------------------------------------------------- not cleared

// A large result takes a kept buffer that still holds an earlier result's
// values: every element must be the operator's, in every division, and a
// failing call must not hand out what it did not write.
TEST(KernelBuffers, ResultsInBuffersNotClearedHoldOnlyWhatTheKernelWrote) {
    const size_t n = size_t(1) << 20;  // 8 MiB: a mapped, kept buffer
    std::vector<double> a(n), b(n);
    for (size_t i = 0; i < n; ++i) a[i] = double(i), b[i] = 0.5;
    const auto va = reals(a), vb = reals(b);
    for (int round = 0; round < 3; ++round) {
        leaveKeptBuffer(cv::Kind::Real, n);
        const auto o = call("_Plus", {va, vb});
        ASSERT_TRUE(o.ok) << o.error;
        const double* r = static_cast<const double*>(o.value->rawData());
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(r[i], double(i) + 0.5) << i;
    }
    b[n - 1] = 0;
    const auto failed = call("_Divide", {va, reals(b)});
    EXPECT_TRUE(!failed.ok && failed.error == "Divide by zero") << failed.error;
    // Strings are never left uninitialised: their pointers start null.
    auto s = cv::Value::makeUninitialized(cv::Kind::String, 100000);
    for (int64_t i = 0; i < s->size(); ++i) ASSERT_EQ(s->strings()[i], nullptr);
}

}  // namespace
