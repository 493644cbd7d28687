// Spectra through the function table: frequencies and types, the option
// checks of the spectrum analyser, Fourier integrals against closed forms,
// the time limit and unusable input. The transform itself, at every size
// class, its windows and the Fourier integrals of cosines are checked against
// numpy in the Python peer tests.
#include <cmath>
#include <algorithm>
#include <complex>
#include <limits>
#include <tuple>

#include "OptionStore.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::complexesOf;
using cvtest::grid;
using cvtest::noResult;
using cvtest::realsOf;
using cvtest::reals;
using cvtest::str;
using cvtest::wave;

namespace {

using Reals = std::vector<double>;
using C = std::complex<double>;
constexpr double kPi = 3.141592653589793;

// ---------------------------------------------------------------- fft

TEST(FftTransform, PadsToAPowerOfTwoAndScalesFrequenciesByTheFirstSpacing) {
    auto o = call("fft", {wave({1, 2, 3, 4, 5}, {0, 0.5, 1, 1.5, 2}, PhysType::Voltage, PhysType::Time)});
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(realsOf(*o.value->ref()), (Reals{0, 0.25, 0.5, 0.75}));
    cvtest::expectTypes(*o.value, PhysType::Voltage, PhysType::Frequency);
    EXPECT_EQ(o.value->refName(), "Frequency");
}

TEST(FftMessages, ShortDataMissingReferenceAndNoSpacing) {
    EXPECT_EQ(call("fft", {wave({1}, {0})}).error, "Need at least two points for FFT");
    EXPECT_EQ(call("fft", {reals({1, 2, 3})}).error, "Argument 1 in function 'fft' has no reference (xvalues)");
    EXPECT_EQ(call("fft", {wave({1, 2, 3}, {1, 1, 2})}).error,
              "The first two x-values of argument 1 in function 'fft' give no sample spacing");
    EXPECT_FALSE(call("fft", {wave({1, 2, 3}, {0, std::nan(""), 2})}).ok);
    // NaN samples are data: they spread to every bin instead of failing.
    auto o = call("fft", {wave({1, std::nan(""), 3, 4}, grid(4, 1)), str("none")});
    ASSERT_TRUE(o.ok);
    EXPECT_TRUE(std::isnan(o.value->complexAt(1).real()));
}

// A simulator's transient starts with a tiny step: the bins, which take the
// first step for all, are then wrong, and the call says so but keeps its values.
TEST(FftMessages, UnevenXValuesGiveTheValuesAndAWarning) {
    std::vector<std::pair<MessageHandler::Severity, std::string>> seen;
    cv::Caller caller([&](MessageHandler::Severity s, const std::string& t) { seen.emplace_back(s, t); });
    auto fftOf = [&](const std::vector<double>& x) {
        cv::ValuePtr out;
        std::string error;
        const std::vector<cv::ValuePtr> args{wave({1, 2, 3, 4, 5}, x)};
        EXPECT_TRUE(caller.call("fft", args, out, error)) << error;
        return out;
    };
    const auto uneven = fftOf({0, 0.5, 1.5, 2, 9});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, MessageHandler::Warning);
    EXPECT_EQ(seen[0].second, "The x-values in function 'fft' are not evenly spaced (steps from 0.5 to 7); its "
                              "frequencies take the first step, 0.5, for all. Spectrum resamples onto an even grid first");
    EXPECT_EQ(realsOf(*uneven->ref()), realsOf(*fftOf(grid(5, 0.5))->ref()));
    // Steps that differ by rounding alone are even.
    ASSERT_EQ(seen.size(), 1u);
    fftOf(grid(1000, 1e-9, 1e-3));
    EXPECT_EQ(seen.size(), 1u);
}

// One thread or two, a plan kept from an earlier call or a new one: the
// same bits. The baseline code agrees with the wide one to rounding (the
// wide one fuses multiply-adds). Sizes: the smallest four-step transform with
// padding, one spread over threads, and sizes taken in turns so that kept
// plans are reused and dropped.
TEST(FftTransform, ThreadsInstructionSetsAndKeptPlansGiveTheSameBits) {
    const std::pair<int64_t, const char*> cases[] = {{2053, "none"}, {4096, "hamming"}, {(1 << 17) + 9, "hann"}, {1 << 18, "none"}};
    auto bins = [](const std::pair<int64_t, const char*>& c) {
        Reals y(static_cast<size_t>(c.first));
        for (size_t i = 0; i < y.size(); ++i) y[i] = std::sin(0.37 * double(i)) + 1e-3 * double(i % 17);
        auto o = call("fft", {wave(y, grid(y.size(), 1e-6)), str(c.second)});
        return o.ok ? complexesOf(*o.value) : std::vector<C>{};
    };
    std::vector<std::vector<C>> first;
    cv::OptionStore::global().set("Threads", "1");
    for (const auto& c : cases) first.push_back(bins(c));
    cv::OptionStore::global().set("Threads", "2");
    for (int round = 0; round < 2; ++round)
        for (size_t k = 0; k < std::size(cases); ++k) EXPECT_TRUE(bins(cases[k]) == first[k]) << cases[k].first;
    setenv("CVFUNC_FFT_BASELINE", "1", 1);
    for (size_t k = 0; k < std::size(cases); ++k) {
        const auto base = bins(cases[k]);
        ASSERT_EQ(base.size(), first[k].size());
        double worst = 0, top = 0;
        for (size_t i = 0; i < base.size(); ++i) {
            worst = std::max(worst, std::abs(base[i] - first[k][i]));
            top = std::max(top, std::abs(first[k][i]));
        }
        EXPECT_LT(worst, 1e-14 * top) << cases[k].first;
    }
    unsetenv("CVFUNC_FFT_BASELINE");
    cv::OptionStore::global().reset("Threads");
}

// ---------------------------------------------------------------- Spectrum

TEST(SpectrumResampled, PointCountsFrequenciesUnusableInputAndHugeCounts) {
    const auto ramp = wave({1, 2, 3, 4}, {0, 1, 2, 3});
    const auto long32 = wave(Reals(32, 1.0), grid(32, 0.25));
    // A count of 20 is raised to 32 bins' worth; without a count the
    // waveform's own point count is used.
    EXPECT_EQ(call("Spectrum", {long32, reals({20})}).value->size(), 16);
    EXPECT_EQ(call("Spectrum", {long32}).value->size(), 16);
    EXPECT_TRUE(noResult(call("Spectrum", {reals({1, 2, 3}), reals({8})})));
    for (const Reals& args : {Reals{1}, Reals{NAN}, Reals{8, 2, 2}, Reals{8, 3, 1}}) {
        std::vector<cv::ValuePtr> all{ramp};
        for (double v : args) all.push_back(reals({v}));
        EXPECT_TRUE(noResult(call("Spectrum", all))) << args[0];
    }
    EXPECT_EQ(call("Spectrum", {ramp, reals({1e300})}).error, "Too many points (1e+300) for FFT in function 'Spectrum'");
    // Scratch buffers count against the host's memory limit with the result:
    // 2^31 points once took 16 GB before anything was refused.
    cv::OptionStore::global().set("MemoryLimitMB", "64");
    EXPECT_EQ(call("Spectrum", {ramp, reals({2147483648.0})}).error,
              "Not enough memory to complete function 'Spectrum'");
    EXPECT_EQ(call("Spectrum", {ramp, reals({4194304})}).error, "Not enough memory to complete function 'Spectrum'");
    cv::OptionStore::global().reset("MemoryLimitMB");
    EXPECT_EQ(call("Spectrum", {ramp, reals({4194304})}).value->size(), 2097152);
}

// ---------------------------------------------------------------- Fourier

TEST(FourierIntegral, FirstHarmonicShiftsTheSetAndMayStartBelowZero) {
    // 2 cos(2 pi 50 t) + 0.5 over one period.
    const Reals x = grid(2001, 1e-5);
    Reals y;
    for (double t : x) y.push_back(0.5 + 2.0 * std::cos(2 * kPi * 50 * t));
    auto o = call("Fourier", {wave(y, x), reals({50}), reals({3}), reals({-1})});
    ASSERT_TRUE(o.ok) << o.error;
    const auto F = complexesOf(*o.value);
    EXPECT_NEAR(std::abs(F[0] - C(2.0, 0)), 0, 1e-6);  // k = -1: conjugate of k = 1
    EXPECT_DOUBLE_EQ(o.value->ref()->realAt(0), -50);
}

TEST(FourierIntegral, CrowdedAndRepeatedPointsAreDropped) {
    // A breakpoint repeated at t = 0 and t = 0.5 (where x * 1e-10 is zero or
    // tiny) must not produce a zero-length segment. The triangle's first
    // harmonic is 8 / pi^2; linear segments integrate it exactly.
    const Reals x{0, 0, 0.25, 0.5, 0.5 + 1e-13, 0.75, 1.0}, y{0, 5, 1, 0, 7, -1, 0};
    auto o = call("Fourier", {wave(y, x), reals({1}), reals({2}), reals({0, 1})});
    ASSERT_TRUE(o.ok);
    const auto F = complexesOf(*o.value);
    EXPECT_NEAR(F[1].imag(), 8 / (kPi * kPi), 1e-12);
    EXPECT_TRUE(std::isfinite(F[0].real()));
}

TEST(FourierIntegral, UnusableInputGivesAnEmptyResult) {
    const auto v = wave({0, 1, 0, 1}, {0, 1, 2, 3});
    for (auto [w, f, n] : {std::tuple{v, 0.0, 3.0}, {v, -1.0, 3.0}, {v, NAN, 3.0}, {v, 1.0, 0.9},
                           {reals({0, 1, 0}), 1.0, 3.0}, {wave({0, 1, 2}, {0, 0, 0}), 1.0, 3.0}})
        EXPECT_TRUE(noResult(call("Fourier", {w, reals({f}), reals({n})}))) << f << " " << n;
    EXPECT_FALSE(call("Fourier", {v, reals({1}), reals({1e12})}).ok);
}

// The integration's work is harmonics x segments: past a few seconds it is
// refused by name. The harmonics run in fixed blocks, so the thread count
// does not change a bit of the result.
TEST(FourierIntegral, WorkIsBoundedAndBlocksGiveTheSameBitsOnAnyThreads) {
    const int64_t n = 300000;
    Reals y(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) y[size_t(i)] = std::sin(1e-3 * double(i));
    const auto big = wave(y, grid(n, 1.0 / double(n)));
    EXPECT_EQ(call("Fourier", {big, reals({1}), reals({1e5})}).error,
              "Too many harmonics (100000) in function 'Fourier'");
    EXPECT_EQ(call("SpectrumUniv", {big, reals({1, 0, 0, 1, 0, 1e5})}).error,
              "Too many frequencies (100002) in function 'SpectrumUniv'");

    const auto v = wave(Reals(y.begin(), y.begin() + 2000), grid(2000, 1e-3));
    cv::OptionStore::global().set("Threads", "1");
    const auto one = complexesOf(*call("Fourier", {v, reals({1}), reals({5000})}).value);
    cv::OptionStore::global().set("Threads", "2");
    EXPECT_TRUE(complexesOf(*call("Fourier", {v, reals({1}), reals({5000})}).value) == one);
    cv::OptionStore::global().reset("Threads");
}

// ---------------------------------------------------------------- FourierWindow

TEST(FourierWindows, FormulasNamesAndPeriods) {
    const Reals x{0, 1, 2, 3}, y{2, 2, 2, 2};
    auto values = [&](const char* name) {
        return cvtest::realsOf(*call("FourierWindow", {wave(y, x), str(name)}).value);
    };
    const double u = 1.0 / 3;  // T = 3
    EXPECT_NEAR(values("HANNING")[1], 2 * (1 - std::cos(2 * kPi * u)), 1e-15);
    EXPECT_NEAR(values("hamming")[1], 2 * (1 - 0.8518518518518519 * std::cos(2 * kPi * u)), 1e-15);
    EXPECT_NEAR(values("blackman")[2],
                2 * (1 - 1.1904761904761905 * std::cos(4 * kPi * u) + 0.1904761904761905 * std::cos(8 * kPi * u)),
                1e-14);
    EXPECT_EQ(values("rectangular"), y);
    EXPECT_NEAR(cvtest::realsOf(*call("FourierWindow", {wave(y, x), str("hanning"), reals({6})}).value)[3], 2 * 2,
                1e-15);
    // A zero period, one point (no period), an unknown window, no x-values.
    EXPECT_TRUE(noResult(call("FourierWindow", {wave(y, x), str("hanning"), reals({0})})));
    EXPECT_TRUE(noResult(call("FourierWindow", {wave({1}, {5})})));
    EXPECT_TRUE(noResult(call("FourierWindow", {wave(y, x), str("kaiser")})));
    EXPECT_TRUE(noResult(call("FourierWindow", {reals(y)})));
    // A period given in divisions (the first value counts) once shaped the
    // result after them, padded with zeros.
    auto o = call("FourierWindow", {wave(y, x), str("hanning"), cvtest::dividedWave({{6, 1}, {1, 1}}, {{0, 1}, {0, 1}})});
    EXPECT_EQ(o.value->divisionLengths(), std::vector<int64_t>{4});
}

// ---------------------------------------------------------------- SpectrumUniv

// 1.5 ms of a 1 kHz cosine of amplitude 2 plus 0.5; 1537 points put every
// point of a 64-point grid over the last millisecond on a sample.
cv::ValuePtr univWave(double span = 1.5e-3, int n = 1537) {
    Reals x, y;
    for (int i = 0; i < n; ++i) {
        const double t = span * i / (n - 1);
        x.push_back(t);
        y.push_back(0.5 + 2 * std::cos(2 * kPi * 1e3 * t));
    }
    return wave(y, x, PhysType::Voltage, PhysType::Time);
}

TEST(SpectrumAnalyser, BadOptionSetsFailWithoutAMessage) {
    const auto v = univWave();
    const double nan = std::nan("");
    for (Reals opts : {Reals{0, 0, 0, 0, 0, 0, 0, 0, 1024, 1, 0, 2e-3, 1e-3},  // start >= stop
                       Reals{0, 0, 0, 0, 0, 0, 1, 0},                           // whole cycles, no fundamental
                       Reals{0, 0, 0, 0, 0, 0, 1, 100},                         // not one whole cycle
                       Reals{1, 0, 0, 0, 0, 0},                                 // integration, no stop frequency
                       Reals{1, 0, 0, 0, 5e3, 1e3},                             // start above stop
                       Reals{0, 0, 0, nan}}) {                                  // NaN anywhere
        auto o = call("SpectrumUniv", {v, reals(opts)});
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.error, "Function 'SpectrumUniv' failed");
    }
    EXPECT_FALSE(call("SpectrumUniv", {reals({1, 2, 3}), reals({0})}).ok);
    EXPECT_FALSE(call("SpectrumUniv", {wave({1}, {0}), reals({0})}).ok);
}

TEST(SpectrumAnalyser, HugePointCountsEndInAMessage) {
    EXPECT_EQ(call("SpectrumUniv", {univWave(), reals({0, 0, 0, 0, 0, 0, 0, 0, 1e300})}).error,
              "Too many points (4.61169e+18) for FFT in function 'SpectrumUniv'");
    // The sampling rule can ask for more than the count given.
    EXPECT_FALSE(call("SpectrumUniv", {univWave(), reals({0, 0, 0, 0, 0, 1e300})}).ok);
    EXPECT_FALSE(call("SpectrumUniv", {univWave(), reals({1, 0, 0, 1e-300, 0, 1e3})}).ok);
    // A time limit of its own lifts the bound on the work; the harmonics'
    // scratch still counts against the memory limit (ten million of them once
    // took 320 MB before the first was integrated).
    cv::OptionStore::global().set("MemoryLimitMB", "64");
    EXPECT_EQ(call("SpectrumUniv", {univWave(), reals({1, 0, 0, 1e-4, 0, 1e3, 0, 0, 0, 0, 1, 0, 0, 0, 0.01})}).error,
              "Not enough memory to complete function 'SpectrumUniv'");
    cv::OptionStore::global().reset("MemoryLimitMB");
}

TEST(SpectrumAnalyser, FftMethodPointsBinsAndForms) {
    const auto v = univWave();
    // Whole cycles of 1 kHz over 1.5 ms keep the last 1 ms: bins 1 kHz apart,
    // no window: DC 0.5, 1 kHz amplitude 2.
    auto o = call("SpectrumUniv", {v, reals({0, 1, 0, 0, 0, 0, 1, 1e3, 64, 1, 1, 0, 0, 0})});
    ASSERT_TRUE(o.ok) << o.error;
    auto m = cvtest::realsOf(*o.value);
    ASSERT_EQ(m.size(), 32u);
    cvtest::expectNear({m[0], m[1], m[2]}, {0.5, 2.0, 0.0});
    EXPECT_DOUBLE_EQ(o.value->ref()->realAt(1), 1e3);
    // Stop frequency 3 kHz from 1 kHz: bins 1 ... 3, the first at 1 kHz.
    o = call("SpectrumUniv", {v, reals({0, 2, 0, 0, 1e3, 3e3, 1, 1e3, 64, 1, 1, 0, 0, 0})});
    m = cvtest::realsOf(*o.value);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_NEAR(m[0], 20 * std::log10(2.0), 1e-10);
    EXPECT_DOUBLE_EQ(o.value->ref()->realAt(0), 1e3);
    // Phase of an exactly zero bin is 0; a complex form keeps the values.
    auto z = call("SpectrumUniv", {wave(Reals(16, 0.0), grid(16, 1)), reals({0, 3, 0, 0, 0, 0, 0, 0, 16})});
    for (double p : cvtest::realsOf(*z.value)) EXPECT_EQ(p, 0.0);
    auto c = call("SpectrumUniv", {v, reals({0, 0, 0, 0, 0, 0, 1, 1e3, 64, 1, 1, 0, 0, 0})});
    EXPECT_EQ(c.value->kind(), cv::Kind::Complex);
    EXPECT_NEAR(std::abs(c.value->complexAt(1) - C(-2, 0)), 0, 1e-12);  // the window starts at phase pi
    // The sampling rule raises 16 points to 2^(floor(log2(2 * 1.5e-3 * 1.9e4 + 1)) + 1) = 64,
    // of which bins 0 ... int(1.9e4 * 1.5e-3 + 1) - 1 are kept.
    EXPECT_EQ(call("SpectrumUniv", {v, reals({0, 1, 0, 0, 0, 1.9e4, 0, 0, 16})}).value->size(), 29);
}

TEST(SpectrumAnalyser, IntegrationMethodAgreesWithFourierOnTheCutWaveform) {
    const auto v = univWave();
    // Integration over the last whole millisecond, harmonics 0 ... 3 kHz.
    auto o = call("SpectrumUniv", {v, reals({1, 1, 0, 0, 0, 3e3, 1, 1e3, 0, 1, 1, 0, 0, 0})});
    ASSERT_TRUE(o.ok) << o.error;
    auto m = cvtest::realsOf(*o.value);
    ASSERT_EQ(m.size(), 4u);
    cvtest::expectNear({m[0], m[1], m[2]}, {0.5, 2.0, 0.0}, 2e-5);
    EXPECT_DOUBLE_EQ(o.value->ref()->realAt(3), 3e3);
}

TEST(SpectrumAnalyser, TimeLimitEmptiesTheIntegrationSpectrum) {
    const auto v = univWave(1.0, 400000);
    auto o = call("SpectrumUniv", {v, reals({1, 1, 0, 1, 0, 2e3, 0, 0, 0, 1, 1, 0, 0, 0, 1e-9})});
    EXPECT_TRUE(noResult(o)) << o.error;
    o = call("SpectrumUniv", {v, reals({1, 1, 0, 1, 0, 2, 0, 0, 0, 1, 1, 0, 0, 0, 100})});
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.value->size(), 3);
}

}  // namespace
