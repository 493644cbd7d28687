// THD, THDN, SNR, SINAD, ENOB and SFDR: sines whose straight lines have
// known components, breakpoints, the `periods` window, the even grid's own
// road, and the refusals. numpy's DFT recipe, uneven steps integrated with
// numpy and runs measured alone are the peers in the Python tests.
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

std::string error(const std::string& f, std::vector<cv::ValuePtr> args) { return call(f, std::move(args)).error; }

TEST(DistortionValues, HarmonicsReadAsTheStraightLinesHoldThemOrAsTheSamplesDo) {
    const Reals x = evenTimes(32, 4), a = {1.0, 0.05, 0.02, 0, 0.01}, y = sines(x, a);
    const double A1 = droop(1, 32), A2 = 0.05 * droop(2, 32), A3 = 0.02 * droop(3, 32), A5 = 0.01 * droop(5, 32);
    const double thd = 100 * std::hypot(A2, A3, A5) / A1;
    EXPECT_NEAR(number("THD", {wave(y, x), reals({1000})}), thd, 1e-11);
    EXPECT_NEAR(number("THD", {wave(y, x), reals({1000}), reals({3})}), 100 * std::hypot(A2, A3) / A1, 1e-11);
    EXPECT_NEAR(number("THD", {wave(y, x), reals({1000}), none(), none(), str("samples")}),
                100 * std::hypot(0.05, 0.02, 0.01), 1e-11);
    // Ratios are in percent, levels in dB.
    for (const char* f : {"THD", "THDN", "SNR", "SINAD", "ENOB", "SFDR"}) {
        const bool dB = std::string(f) == "SNR" || std::string(f) == "SINAD" || std::string(f) == "SFDR";
        EXPECT_EQ(call(f, {wave(y, x), reals({1000})}).value->physType(), dB ? PhysType::Decibel : PhysType::None);
    }
    // A breakpoint (a repeated time point) adds nothing to the lines.
    Reals bx = x, by = y;
    bx.insert(bx.begin() + 20, bx[20]), by.insert(by.begin() + 20, by[20]);
    EXPECT_NEAR(number("THD", {wave(by, bx), reals({1000})}), thd, 1e-11);
    // The samples alone need even steps.
    Reals nudged = x;
    nudged[70] += 0.1 * (x[1] - x[0]);
    EXPECT_EQ(error("THD", {wave(y, nudged), reals({1000}), none(), none(), str("samples")}),
              "THD: argument 1 (wave) has steps from 2.8125e-05 to 3.4375e-05 in the analysed periods: read as "
              "'samples', it needs even steps (read it as 'lines')");
}

TEST(DistortionWindow, PeriodsTakesTheLastOnesAndNoMoreThanThereAre) {
    const Reals x = evenTimes(40, 3.5), clean = sines(x, {1.0, 0.02, 0.01});
    Reals early = clean;
    for (size_t i = 0; i < 60; ++i) early[i] *= 2;  // the first 1.5 periods
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

// Waves on an even grid take a road of their own to the same integrals: the
// same wave with one sample moved off the grid (by far too little to
// matter) takes the general one. 70001 samples: several chunks and blocks of
// the passes over the data and of the spur search.
using OnAndOff = std::pair<cv::ValuePtr, cv::ValuePtr>;
OnAndOff onAndOffGrid(double perPeriod) {
    Reals x = cvtest::grid(70001, 1e-3 / perPeriod), y = sines(x, {1.0, 0.02, 0.01, 0, 0.003, 0, 0, 0, 0, 0, 0, 1e-3});
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 1e-4);
    for (double& v : y) v += 0.5 + noise(rng);
    const auto on = wave(y, x);
    x[35000] += 2e-7 * (x[1] - x[0]);  // steps still even to 1e-6
    return {on, wave(y, x)};
}

// f(wave, 1000, rest...) on the grid and off it.
void expectGridAsOffGrid(const OnAndOff& w, const char* f, std::vector<cv::ValuePtr> rest, double tol) {
    rest.insert(rest.begin(), {w.first, reals({1000})});
    const double on = number(f, rest);
    rest[0] = w.second;
    const double off = number(f, rest);
    EXPECT_NEAR(on, off, tol * std::fabs(off)) << f;
}

TEST(DistortionGrid, AnEvenGridMeasuresAsTheSameWaveOffIt) {
    // Read as lines, with a start between two samples.
    const OnAndOff lines = onAndOffGrid(997.3);
    for (const char* f : {"THD", "THDN", "SINAD", "SFDR"}) expectGridAsOffGrid(lines, f, {}, 1e-9);
    // More harmonics than one pass takes at a time. The noise left by SNR
    // is 75 times below the 12th harmonic, whose last digits it inherits.
    expectGridAsOffGrid(lines, "THD", {reals({40})}, 1e-9);
    expectGridAsOffGrid(lines, "SNR", {reals({40})}, 1e-7);
    // Read as samples, the periods start on one.
    const OnAndOff samples = onAndOffGrid(1000);
    for (const char* f : {"THD", "SNR"}) expectGridAsOffGrid(samples, f, {none(), none(), str("samples")}, 1e-9);
    for (const char* f : {"SINAD", "SFDR"}) expectGridAsOffGrid(samples, f, {none(), str("samples")}, 1e-9);
}

TEST(DistortionGrid, TheCoresDoNotChangeABit) {
    const cv::ValuePtr w = onAndOffGrid(997.3).first;
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
