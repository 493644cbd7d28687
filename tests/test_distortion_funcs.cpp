// THD, THDN, SNR, SINAD, ENOB and SFDR through the function table: sines
// whose straight lines have known components, the window of whole periods,
// uneven steps, the two readings of the samples, the even grid's own road,
// refusals and runs. The agreement with numpy's DFT recipe is checked in
// the Python peer tests.
#include <algorithm>
#include <cmath>
#include <random>

#include "Parallel.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::number;
using cvtest::reals;
using cvtest::str;

namespace {

using Reals = std::vector<double>;
constexpr double kPi = 3.141592653589793;

// sinc²(πk/N): what the straight lines through N samples per period keep of
// harmonic k.
double droop(double k, double N) {
    const double u = kPi * k / N;
    return std::pow(std::sin(u) / u, 2);
}

// Σ a_k sin(2π k f0 t + k) for the amplitudes a_1, a_2, ... at x.
Reals sines(const Reals& x, const Reals& a, double f0 = 1000.0) {
    Reals y(x.size(), 0.0);
    for (size_t i = 0; i < x.size(); ++i)
        for (size_t k = 0; k < a.size(); ++k) y[i] += a[k] * std::sin(2 * kPi * double(k + 1) * f0 * x[i] + double(k));
    return y;
}

// N samples per period of 1 kHz over `periods` periods, both ends included.
Reals evenTimes(int N, double periods) { return cvtest::grid(size_t(N * periods) + 1, 1e-3 / N); }

cv::ValuePtr wave(const Reals& y, const Reals& x) { return cvtest::wave(y, x, PhysType::Voltage, PhysType::Time); }

// An optional argument left out before one that is given.
cv::ValuePtr none() { return reals({}); }

std::string error(const std::string& f, std::vector<cv::ValuePtr> args) {
    const auto o = call(f, std::move(args));
    EXPECT_FALSE(o.ok) << f;
    return o.error;
}

TEST(DistortionValues, HarmonicsReadAsTheStraightLinesHoldThem) {
    const Reals x = evenTimes(32, 4), a = {1.0, 0.05, 0.02, 0, 0.01};
    const auto w = wave(sines(x, a), x);
    const double A1 = droop(1, 32), A2 = 0.05 * droop(2, 32), A3 = 0.02 * droop(3, 32), A5 = 0.01 * droop(5, 32);
    EXPECT_NEAR(number("THD", {w, reals({1000})}), 100 * std::hypot(A2, A3, A5) / A1, 1e-11);
    EXPECT_NEAR(number("THD", {w, reals({1000}), reals({3})}), 100 * std::hypot(A2, A3) / A1, 1e-11);
    EXPECT_NEAR(number("SFDR", {w, reals({1000})}), 20 * std::log10(A1 / A2), 1e-9);
    // Read as samples, the amplitudes are the sines' own.
    const auto samples = [&](const char* f) { return number(f, {w, reals({1000}), none(), none(), str("samples")}); };
    EXPECT_NEAR(samples("THD"), 100 * std::hypot(0.05, 0.02, 0.01), 1e-11);
    EXPECT_NEAR(number("SFDR", {w, reals({1000}), none(), str("samples")}), 20 * std::log10(1 / 0.05), 1e-9);
    // All the harmonics taken out of the samples leaves no noise but
    // rounding; the lines keep the sine's images above half the sample rate.
    EXPECT_GT(samples("SNR"), 140);
    const double snr = number("SNR", {w, reals({1000})});
    EXPECT_GT(snr, 40 * std::log10(32) - 3.4 - 1);
    EXPECT_LT(snr, 40 * std::log10(32) - 3.35 + 1);
}

TEST(DistortionValues, AToneBetweenHarmonicsIsNoiseAndASpurAndAnOffsetNothing) {
    // Read as samples (the DFT): a tone at 2.5 f0 beside a 2nd harmonic.
    const Reals x = evenTimes(50, 2), clean = sines(x, {1.0, 0.03});
    Reals y = clean;
    for (size_t i = 0; i < x.size(); ++i) y[i] += 100 + 0.04 * std::cos(2 * kPi * 2500 * x[i]);
    auto measure = [&](std::string f) {
        std::vector<cv::ValuePtr> args{wave(y, x), reals({1000}), none(), str("samples")};
        if (f == "THD" || f == "SNR") args.insert(args.begin() + 2, none());
        return number(f, args);
    };
    const double sinad = -10 * std::log10(0.03 * 0.03 + 0.04 * 0.04), tone = -20 * std::log10(0.04);
    EXPECT_NEAR(measure("SINAD"), sinad, 1e-8);
    EXPECT_NEAR(measure("THDN"), 100 * std::hypot(0.03, 0.04), 1e-8);
    EXPECT_NEAR(measure("ENOB"), (sinad - 1.76) / 6.02, 1e-8);
    EXPECT_NEAR(measure("SNR"), tone, 1e-8);
    EXPECT_NEAR(measure("SFDR"), tone, 1e-8);
    EXPECT_NEAR(measure("THD"), 3.0, 1e-8);
    // Read as lines, the tone and the offset do not reach the harmonics either.
    EXPECT_NEAR(number("THD", {wave(y, x), reals({1000})}), number("THD", {wave(clean, x), reals({1000})}), 1e-8);
}

TEST(DistortionValues, UnevenStepsOnStraightLinesAreExact) {
    // A triangle wave is its own straight lines: odd harmonics of 1/k², at
    // any steps that keep its corners.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> at(0.0, 1.0);
    auto triangle = [](double u) { return u < 0.25 ? 4 * u : u < 0.75 ? 2 - 4 * u : 4 * u - 4; };
    Reals x, y;
    for (int p = 0; p < 2; ++p) {
        Reals u = {0, 0.25, 0.5, 0.75};
        for (int i = 0; i < 60; ++i) u.push_back(at(rng));
        std::sort(u.begin(), u.end());
        for (double v : u) x.push_back((p + v) * 1e-3), y.push_back(triangle(v));
    }
    x.push_back(2e-3), y.push_back(0);
    const double thd = 100 * std::sqrt(std::pow(3, -4) + std::pow(5, -4) + std::pow(7, -4) + std::pow(9, -4));
    EXPECT_NEAR(number("THD", {wave(y, x), reals({1000})}), thd, 1e-9);
    // A breakpoint (a repeated time point) adds nothing.
    x.insert(x.begin() + 20, x[20]), y.insert(y.begin() + 20, y[20]);
    EXPECT_NEAR(number("THD", {wave(y, x), reals({1000})}), thd, 1e-9);
    // The samples alone need even steps.
    const std::string uneven = error("THD", {wave(y, x), reals({1000}), none(), none(), str("samples")});
    EXPECT_EQ(uneven.rfind("THD: argument 1 (wave) has steps from ", 0), 0u) << uneven;
    EXPECT_NE(uneven.find("read as 'samples', it needs even steps"), std::string::npos) << uneven;
}

TEST(DistortionWindow, OnlyTheLastWholePeriodsCount) {
    const Reals x = evenTimes(40, 3.5), clean = sines(x, {1.0, 0.02, 0.01});
    Reals settling = clean;
    for (size_t i = 0; i < 15; ++i) settling[i] += 5.0 * std::exp(-double(i));  // before the last 3 periods
    const Reals last(x.begin() + 20, x.end()), lastY(clean.begin() + 20, clean.end());
    for (const char* f : {"THD", "SINAD", "SFDR"}) {
        const double whole = number(f, {wave(lastY, last), reals({1000})});
        EXPECT_NEAR(number(f, {wave(settling, x), reals({1000})}), whole, 1e-9) << f;
    }
    // `periods` takes the last ones only, and no more than there are.
    Reals early = clean;
    for (size_t i = 0; i < 60; ++i) early[i] *= 2;
    EXPECT_NEAR(number("THD", {wave(early, x), reals({1000}), none(), reals({2})}),
                number("THD", {wave(clean, x), reals({1000}), none(), reals({2})}), 1e-9);
    EXPECT_GT(
        std::fabs(number("THD", {wave(early, x), reals({1000})}) - number("THD", {wave(clean, x), reals({1000})})),
        1e-3);
    EXPECT_EQ(error("SINAD", {wave(clean, x), reals({1000}), reals({4})}),
              "SINAD: argument 3 (periods) asks for 4 periods; the wave holds 3 whole periods of f0");
}

TEST(DistortionRefusals, WhatCannotBeMeasuredIsNamed) {
    const Reals x = evenTimes(16, 2), y = sines(x, {1.0});
    const auto f0 = reals({1000});
    EXPECT_EQ(error("THD", {wave(y, x), reals({400})}),
              "THD: argument 1 (wave) spans 0.8 periods of f0 = 400; at least one whole period is needed");
    EXPECT_EQ(error("SINAD", {wave(y, x), reals({12000})}),
              "SINAD: argument 1 (wave) has 1.33333 samples per period of f0 in the analysed periods; at least 2 "
              "are needed");
    EXPECT_EQ(error("THD", {wave(y, x), reals({6000})}),
              "THD: argument 1 (wave) has 2.66667 samples per period of f0 in the analysed periods; at least 4 are "
              "needed to show the 2nd harmonic");
    EXPECT_EQ(error("ENOB", {wave(Reals(x.size(), 3.0), x), f0}),
              "ENOB: argument 1 (wave) has no component at f0 = 1000: its amplitude is 0");
    // A sine at twice f0 leaves nothing at f0 but rounding.
    EXPECT_EQ(error("SINAD", {wave(sines(x, {0, 1.0}), x), f0}).substr(0, 69),
              "SINAD: argument 1 (wave) has no component at f0 = 1000 above rounding");
    EXPECT_EQ(error("THD", {wave(y, x), reals({-1})}),
              "THD: argument 2 (f0) must be a positive, finite frequency (it is -1)");
    EXPECT_EQ(error("SNR", {wave(y, x), f0, reals({1})}),
              "SNR: argument 3 (harmonics) must be a whole number of at least 2");
    EXPECT_EQ(error("SFDR", {wave(y, x), f0, none(), str("smooth")}),
              "SFDR: argument 4 (signal) must be 'lines' or 'samples'");
    // Samples alone cannot start between two of them.
    const Reals off = cvtest::grid(41, 1e-3 / 15.3);
    EXPECT_EQ(error("SINAD", {wave(sines(off, {1.0}), off), f0, none(), str("samples")}),
              "SINAD: argument 1 (wave) does not start its analysed 2 periods on a sample: read as 'samples', they "
              "must span a whole number of steps");
}

TEST(DistortionRefusals, NaNCountsOnlyInsideTheAnalysedPeriods) {
    const Reals x = evenTimes(20, 2.5);
    Reals y = sines(x, {1.0, 0.1});
    const double clean = number("THD", {wave(y, x), reals({1000})});
    y[3] = NAN;  // before the last two periods
    EXPECT_NEAR(number("THD", {wave(y, x), reals({1000})}), clean, 1e-12);
    y[30] = NAN;
    EXPECT_EQ(error("THD", {wave(y, x), reals({1000})}),
              "THD: argument 1 (wave) has a NaN value at x = 0.0015, which the analysed periods (from x = 0.0005) "
              "need");
}

TEST(DistortionRuns, EachRunGivesTheValueItGivesAlone) {
    const Reals x1 = evenTimes(32, 2), x2 = evenTimes(24, 3);
    const Reals y1 = sines(x1, {1.0, 0.1}), y2 = sines(x2, {0.5, 0, 0.05});
    auto runs = cvtest::dividedWave({y1, y2}, {x1, x2}, PhysType::Voltage, PhysType::Time);
    for (const char* f : {"THD", "THDN", "SNR", "SINAD", "ENOB", "SFDR"}) {
        const auto o = call(f, {runs, reals({1000})});
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(cvtest::realsOf(*o.value),
                  (Reals{number(f, {wave(y1, x1), reals({1000})}), number(f, {wave(y2, x2), reals({1000})})}))
            << f;
        const bool dB = std::string(f) == "SNR" || std::string(f) == "SINAD" || std::string(f) == "SFDR";
        EXPECT_EQ(o.value->physType(), dB ? PhysType::Decibel : PhysType::None) << f;
    }
}

// Waves on an even grid take a road of their own to the same integrals: the
// same wave with one sample moved off the grid (by far too little to
// matter) takes the general one. Long enough for several chunks and blocks
// of the passes over the data and of the spur search.
struct GridCase {
    Reals x, y, nudged;
};

GridCase gridCase(double perPeriod, size_t n) {
    GridCase c;
    c.x = cvtest::grid(n, 1e-3 / perPeriod);
    c.y = sines(c.x, {1.0, 0.02, 0.01, 0, 0.003, 0, 0, 0, 0, 0, 0, 1e-3});
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 1e-4);
    for (double& v : c.y) v += 0.5 + noise(rng);
    c.nudged = c.x;
    c.nudged[n / 2] += 2e-7 * (c.x[1] - c.x[0]);  // steps still even to 1e-6
    return c;
}

void expectGridAsOffGrid(const GridCase& c, const char* f, std::vector<cv::ValuePtr> rest, double tol) {
    std::vector<cv::ValuePtr> on{wave(c.y, c.x), reals({1000})}, off{wave(c.y, c.nudged), reals({1000})};
    on.insert(on.end(), rest.begin(), rest.end());
    off.insert(off.end(), rest.begin(), rest.end());
    const double a = number(f, on), b = number(f, off);
    EXPECT_NEAR(a, b, tol * std::fabs(b)) << f;
}

TEST(DistortionGrid, AnEvenGridMeasuresAsTheSameWaveOffIt) {
    // Read as lines, with a start between two samples.
    const GridCase lines = gridCase(997.3, 70001);
    for (const char* f : {"THD", "THDN", "SINAD", "SFDR"}) expectGridAsOffGrid(lines, f, {}, 1e-9);
    // More harmonics than one pass takes at a time. The noise left by SNR
    // is 75 times below the 12th harmonic, whose last digits it inherits.
    expectGridAsOffGrid(lines, "THD", {reals({40})}, 1e-9);
    expectGridAsOffGrid(lines, "SNR", {reals({40})}, 1e-7);
    // Read as samples, the periods start on one.
    const GridCase samples = gridCase(1000, 70001);
    for (const char* f : {"THD", "SNR"}) expectGridAsOffGrid(samples, f, {none(), none(), str("samples")}, 1e-9);
    for (const char* f : {"SINAD", "SFDR"}) expectGridAsOffGrid(samples, f, {none(), str("samples")}, 1e-9);
}

TEST(DistortionGrid, TheCoresDoNotChangeABit) {
    const GridCase c = gridCase(997.3, 70001);
    const auto w = wave(c.y, c.x);
    auto measure = [&](unsigned threads) {
        cv::setThreadCount(threads);
        Reals v;
        for (const char* f : {"THD", "SINAD", "SFDR"}) v.push_back(number(f, {w, reals({1000})}));
        cv::setThreadCount(0);
        return v;
    };
    EXPECT_EQ(measure(1), measure(3));
}

}  // namespace
