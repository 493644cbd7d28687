// Step responses: where the levels lie (counted in time), which crossings
// make an edge, settling, long waves on several cores, and the refusals.
// ngspice, analytic steps and runs measured alone are the Python tests' peers.
#include <cmath>
#include <functional>
#include <random>

#include "Parallel.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::number;
using cvtest::reals;

namespace {

using Reals = std::vector<double>;

cv::ValuePtr wave(const Reals& y, const Reals& x) { return cvtest::wave(y, x, PhysType::Voltage, PhysType::Time); }

// Two pulses: edges 0.8 s from 10 % to 90 %, except the second rise (1.6 s).
cv::ValuePtr twoPulses() { return wave({0, 0, 1, 1, 0, 0, 1, 1, 0, 0}, {0, 1, 2, 4, 5, 7, 9, 11, 12, 14}); }

// f over 20 s in 1.5 million uneven steps (x, y): many blocks and chunks of
// the passes over the data.
std::pair<Reals, Reals> longSamples(unsigned seed, const std::function<double(double)>& f) {
    std::pair<Reals, Reals> xy;
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> step(0.5, 1.5);
    for (double t = 0; t <= 20; t += step(rng) * 20 / 1.5e6) xy.first.push_back(t), xy.second.push_back(f(t));
    return xy;
}

std::string error(const std::string& f, std::vector<cv::ValuePtr> args) { return call(f, std::move(args)).error; }

}  // namespace

TEST(StepLevels, AreWhereTheWaveSpendsItsTimeNotWhereItHasMostSamples) {
    // Six samples crowd an overshoot to 1.2 within 40 ms; the top dwells at 1
    // for 18 s in two samples.
    auto w = wave({0, 0, 1, 1.2, 1.2, 1.2, 1.2, 1.2, 1, 1}, {0, 10, 11, 11.01, 11.02, 11.03, 11.04, 11.05, 12, 30});
    EXPECT_EQ(number("TopLevel", {w}), 1.0);
    EXPECT_EQ(number("BaseLevel", {w}), 0.0);
    EXPECT_NEAR(number("Overshoot", {w}), 20.0, 1e-12);
    // 1 - exp(-t) from its first instant: the time below its midpoint crowds
    // towards the midpoint, so with no dwell before the step the base is the
    // minimum, and the top is the value it settles to.
    Reals y, x = cvtest::grid(2001, 0.01);
    for (double t : x) y.push_back(1 - std::exp(-t));
    EXPECT_EQ(number("BaseLevel", {wave(y, x)}), 0.0);
    EXPECT_NEAR(number("TopLevel", {wave(y, x)}), y.back(), 1e-9);
}

TEST(StepLevels, ALevelApproachedForeverIsTheMeanOfTheWaveInItsFinestBin) {
    // exp(-t): the time below y is ln(y / m) (m its last value), so the
    // lowest bin, of width w, is the mode at every scale and holds the mean
    // w / ln(1 + w / m). Its last thousands of samples lie inside that bin,
    // read in pieces and whole.
    const auto [x, y] = longSamples(7, [](double t) { return std::exp(-t); });
    const double m = y.back(), first = (1 - m) / 200, zoomed = 2 * (2 * first / 9999) / 9999;
    EXPECT_NEAR(number("BaseLevel", {wave(y, x)}), zoomed / std::log1p(zoomed / m), 1e-6 * m);
}

TEST(StepLevels, ALongWaveMeasuresAsTheFormulaOfItsStepDoesOnAnyNumberOfCores) {
    // An underdamped step (zeta 0.4) after a flat start, with a gap of NaN
    // values in its ringing: some blocks added whole, some segment by segment.
    const double zeta = 0.4, wn = 2 * M_PI, wd = wn * std::sqrt(1 - zeta * zeta);
    auto [x, y] = longSamples(5, [&](double t) {
        const double tau = std::max(t - 1, 0.0);
        return 1 - std::exp(-zeta * wn * tau) * (std::cos(wd * tau) + zeta * wn / wd * std::sin(wd * tau));
    });
    std::fill(y.begin() + 200000, y.begin() + 203000, NAN);
    const auto w = wave(y, x);
    auto measure = [&](unsigned threads) {
        cv::setThreadCount(threads);
        Reals v;
        for (const char* f : {"BaseLevel", "TopLevel", "Overshoot", "RiseTime", "SlewRate"})
            v.push_back(number(f, {w}));
        v.push_back(number("SettlingTime", {w, reals({0.02})}));
        cv::setThreadCount(0);
        return v;
    };
    const Reals got = measure(1);
    EXPECT_EQ(got, measure(3));
    EXPECT_EQ(got[0], 0.0);
    EXPECT_NEAR(got[1], 1.0, 1e-9);
    EXPECT_NEAR(got[2], 100 * std::exp(-zeta * M_PI / std::sqrt(1 - zeta * zeta)), 1e-6);
    // The first crossings of 0.1 and 0.9, and the last of 1 +- 0.02, of the
    // formula (solved by bisection).
    EXPECT_NEAR(got[3], 0.23292185911522245, 1e-7);
    EXPECT_NEAR(got[5], 2.3383847867824663, 1e-7);
}

TEST(StepEdges, RiseAndFallBetweenPercentagesOfTheSwingOnTheNthEdge) {
    auto w = twoPulses();
    EXPECT_NEAR(number("RiseTime", {w, reals({20}), reals({80})}), 0.6, 1e-12);
    EXPECT_EQ(call("RiseTime", {w}).value->physType(), PhysType::Time);
    EXPECT_NEAR(number("RiseTime", {w, reals({10}), reals({90}), reals({2})}), 1.6, 1e-12);
    EXPECT_NEAR(number("RiseTime", {w, reals({10}), reals({90}), reals({-2})}), 0.8, 1e-12);
    // Slew over the same levels, positive on both edges, volts per second.
    auto slew = call("SlewRate", {w, reals({10}), reals({90}), reals({2})});
    EXPECT_NEAR(slew.value->realAt(0), 0.5, 1e-12);
    EXPECT_EQ(slew.value->physType(), PhysType::div(PhysType::Voltage, PhysType::Time));
    EXPECT_NEAR(number("SlewRate", {w, reals({10}), reals({90}), reals({1}), cvtest::str("FALL")}), 1.0, 1e-12);
}

TEST(StepEdges, RingingAboutALevelMakesNoNewEdge) {
    // The ringing falls below 90 % and rises through it again: one edge.
    auto ringing = wave({0, 0, 1, 1.3, 0.85, 1.1, 0.95, 1, 1}, {0, 5, 6, 6.5, 7, 7.5, 8, 8.5, 20});
    EXPECT_NEAR(number("RiseTime", {ringing}), 0.8, 1e-12);
    EXPECT_EQ(error("RiseTime", {ringing, reals({10}), reals({90}), reals({2})}),
              "RiseTime: argument 1 (wave) rises from 10 % to 90 % of its swing (base 0, top 1) once; edge n = 2 "
              "does not exist");
    EXPECT_EQ(error("FallTime", {ringing}),
              "FallTime: argument 1 (wave) never falls from 90 % to 10 % of its swing (base 0, top 1)");
    // Wandering about 10 % before the rise: the edge starts at the last crossing.
    auto wander = wave({0, 0, 0.15, 0.05, 0.15, 0.05, 1, 1}, {0, 5, 6, 7, 8, 9, 10, 15});
    EXPECT_NEAR(number("RiseTime", {wander}), 0.8 / 0.95, 1e-12);
    // A jump at one x-value takes no time, and has no finite slew.
    auto jump = wave({0, 0, 1, 1}, {0, 1, 1, 2});
    EXPECT_EQ(number("RiseTime", {jump}), 0.0);
    EXPECT_EQ(error("SlewRate", {jump}),
              "SlewRate: argument 1 (wave) jumps across the edge at x = 1: its slew rate is infinite");
    // A falling step's excursion past its final level is its undershoot.
    auto down = wave({1, 1, 0, -0.3, 0.1, 0, 0}, {0, 5, 6, 7, 8, 9, 20});
    EXPECT_EQ(number("Overshoot", {down}), 0.0);
    EXPECT_NEAR(number("Undershoot", {down}), 30.0, 1e-12);
}

TEST(StepSettling, EndsAtTheBandEdgeCrossingAfterTheLastSampleOutside) {
    auto w = wave({0, 1.5, 0.8, 1.05, 1, 1}, {0, 1, 2, 3, 4, 5});
    EXPECT_EQ(number("SettlingTime", {w, reals({0.1}), reals({}), reals({3})}), 0.0);  // inside from start on
    // 2.4 without the gap of NaN values, which is passed over.
    EXPECT_NEAR(number("SettlingTime", {wave({0, 1.5, 0.8, NAN, 1, 1}, {0, 1, 2, 3, 4, 5}), reals({0.1})}), 3.0, 1e-12);
    EXPECT_EQ(error("SettlingTime", {w, reals({0.1}), reals({1.2})}),
              "SettlingTime: argument 1 (wave) never settles: its last value 1 (at x = 5) lies outside 1.2 +- 0.1");
    EXPECT_EQ(error("SettlingTime", {w, reals({0})}),
              "SettlingTime: argument 2 (tolerance) is 0: it must be positive (the band's half-width)");
    EXPECT_EQ(error("SettlingTime", {w, reals({0.1}), reals({1}), reals({6})}),
              "SettlingTime: argument 4 (start) is 6: it lies beyond the wave's last x-value 5");
}

TEST(StepRefusals, NameTheArgumentAndWhatIsWrongWithIt) {
    auto w = twoPulses();
    EXPECT_EQ(error("RiseTime", {reals({0, 1})}), "RiseTime: argument 1 (wave) has no x-values: it must be a waveform");
    EXPECT_EQ(error("TopLevel", {wave({1}, {0})}), "TopLevel: argument 1 (wave) has 1 sample; at least 2 are needed");
    EXPECT_EQ(error("BaseLevel", {wave({NAN, NAN}, {0, 1})}), "BaseLevel: argument 1 (wave) holds NaN only");
    EXPECT_EQ(error("Overshoot", {wave({0, INFINITY}, {0, 1})}),
              "Overshoot: argument 1 (wave) has an infinite value at x = 1");
    EXPECT_EQ(error("TopLevel", {wave({0, 1}, {3, 3})}),
              "TopLevel: argument 1 (wave) spans no time: its x-values are all 3");
    EXPECT_EQ(error("TopLevel", {wave({0, 1, 2}, {0, NAN, 2})}), "TopLevel: argument 1 (wave) has a NaN x-value");
    // A flat wave has one level and no step.
    EXPECT_EQ(number("TopLevel", {wave(Reals(8, 2.0), cvtest::grid(8))}), 2.0);
    EXPECT_EQ(error("RiseTime", {wave(Reals(8, 2.0), cvtest::grid(8))}),
              "RiseTime: argument 1 (wave) is flat at 2: it has no step to measure");
    EXPECT_EQ(error("RiseTime", {w, reals({-5})}),
              "RiseTime: argument 2 (low) is -5: it must lie between 0 and 100 (% of the swing)");
    EXPECT_EQ(error("FallTime", {w, reals({95}), reals({90})}),
              "FallTime: argument 3 (high) must lie above low (95 %)");
    EXPECT_EQ(error("RiseTime", {w, reals({10}), reals({90}), reals({1.5})}),
              "RiseTime: argument 4 (n) is 1.5: it must be a whole number, 1 for the first edge, -1 for the last");
    EXPECT_EQ(error("SlewRate", {w, reals({10}), reals({90}), reals({1}), cvtest::str("up")}),
              "SlewRate: argument 5 (edge) must be 'rise' or 'fall'");
    // NaN values are passed over; the edges stay where they were.
    EXPECT_NEAR(number("RiseTime", {wave({0, 0, 1, NAN, 1, 0, 0, 1, 1, 0, 0}, {0, 1, 2, 3, 4, 5, 7, 9, 11, 12, 14})}),
                0.8, 1e-12);
}
