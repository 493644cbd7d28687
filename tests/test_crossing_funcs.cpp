// Crossings and pulses: which crossing each edge and count picks, the slope
// and swing conventions, pulses and cycles that never mix edge directions,
// two waveforms' runs matched run by run, and the refusals. ngspice and runs
// measured alone are the peers in the Python tests.
#include <cmath>

#include "TestHost.h"

using cvtest::call;
using cvtest::number;
using cvtest::reals;
using cvtest::str;

namespace {

using Reals = std::vector<double>;

cv::ValuePtr wave(const Reals& y, const Reals& x) { return cvtest::wave(y, x, PhysType::Voltage, PhysType::Time); }

// Rising through 0.5 at 0.5, 4.5, 8.5 and falling at 1.5, 6.5: high pulses
// of 1 and 2, low ones of 3 and 2, and a last high pulse the data cuts off.
cv::ValuePtr pwm() { return wave({0, 1, 0, 0, 0, 1, 1, 0, 0, 1}, cvtest::grid(10)); }

std::string error(const std::string& f, std::vector<cv::ValuePtr> args) { return call(f, std::move(args)).error; }

}  // namespace

TEST(CrossingsEdges, CountFromEitherEndOfTheChosenEdge) {
    EXPECT_EQ(number("Cross", {pwm(), reals({0.5}), str("RISE"), reals({2})}), 4.5);
    EXPECT_EQ(number("Cross", {pwm(), reals({0.5}), str("fall"), reals({-2})}), 1.5);
    EXPECT_EQ(call("Cross", {pwm(), reals({0.5})}).value->physType(), PhysType::Time);
}

TEST(CrossingsEdges, SamplesOnTheLevelCrossOnceATouchNeverAndOrderTwoFollowsTheCurve) {
    // Up onto the level and on up: one rising crossing at the first sample
    // there; down to it and back up: a touch, not a crossing of either edge.
    auto w = wave({0, 1, 1, 2, 1, 2, 0}, cvtest::grid(7));
    EXPECT_EQ(number("Cross", {w, reals({1}), str("rise")}), 1.0);
    EXPECT_EQ(number("Cross", {w, reals({1}), str("either"), reals({2})}), 5.5);
    EXPECT_NE(error("Cross", {w, reals({1}), str("either"), reals({3})}).find("there are 2 crossings"),
              std::string::npos);
    // NaN values are gaps: the samples either side are neighbours.
    EXPECT_EQ(number("Cross", {wave({0, NAN, 2}, {0, 1, 2}), reals({1})}), 1.0);
    // y = x^2 at the integers reaches 2 at sqrt(2): the chord misses, the
    // parabola through three samples lands on it.
    auto square = wave({0, 1, 4, 9}, {0, 1, 2, 3});
    EXPECT_NEAR(number("Cross", {square, reals({2}), str("rise"), reals({1})}), 4.0 / 3, 1e-15);
    EXPECT_NEAR(number("Cross", {square, reals({2}), str("rise"), reals({1}), reals({2})}), std::sqrt(2.0), 1e-14);
}

TEST(CrossingsRefusals, SayHowManyCrossingsThereAreAndNameTheArgument) {
    EXPECT_EQ(error("Cross", {pwm(), reals({0.5}), str("rise"), reals({4})}),
              "Cross: argument 4 (n) is 4, but there are 3 rising crossings of level 0.5: give 1 to 3, or -1 to -3 "
              "counting back from the last");
    EXPECT_EQ(error("Cross", {pwm(), reals({0.5}), str("fall"), reals({0})}),
              "Cross: argument 4 (n) is 0, which names no crossing: there are 2 falling crossings of level 0.5; give 1 "
              "to 2, or -1 to -2 counting back from the last");
    EXPECT_EQ(error("Cross", {pwm(), reals({2})}), "Cross: argument 1 (wave) has no crossing of level 2");
    EXPECT_EQ(error("Cross", {pwm(), reals({0.5}), str("up")}),
              "Cross: argument 3 (edge) must be 'rise', 'fall' or 'either'");
    EXPECT_NE(error("Cross", {pwm(), reals({0.5}), str("rise"), reals({1.5})}).find("(n) must be a whole number"),
              std::string::npos);
    EXPECT_NE(error("Cross", {pwm(), reals({0.5}), str("rise"), reals({-1e300})}).find("is -1e+300, but there are 3"),
              std::string::npos);
    EXPECT_NE(error("Cross", {pwm(), reals({0.5}), str("rise"), reals({1}), reals({3})}).find("(order) must be 1"),
              std::string::npos);
    // The second waveform's arguments are counted on from the first's.
    EXPECT_EQ(
        error("TrigTarg", {pwm(), reals({0.5}), str("rise"), reals({1}), pwm(), reals({0.5}), str("fall"), reals({3})}),
        "TrigTarg: argument 8 (n2) is 3, but there are 2 falling crossings of level 0.5: give 1 to 2, or -1 "
        "to -2 counting back from the last");
    EXPECT_EQ(error("Frequency", {wave({0, 1, 0}, {0, 1, 2})}),
              "Frequency: argument 1 (wave) has 1 rising crossing of level 0.5: a whole cycle needs 2");
    EXPECT_EQ(error("PeriodJitter", {wave({NAN, NAN}, {0, 1})}),
              "PeriodJitter: argument 1 (wave) holds NaN only: no level to cross");
}

TEST(CrossingsSlope, ExactForAParabolaOnItsSamplesAndRefusedAtAJump) {
    // y = x^2 on uneven samples: the three-point rule at an inner sample is
    // the true 2x; between samples and at the ends, the segment's slope.
    auto w = wave({0, 0.09, 1, 4}, {0, 0.3, 1, 2});
    EXPECT_NEAR(number("DerivAt", {w, reals({1})}), 2.0, 1e-14);
    EXPECT_NEAR(number("DerivAt", {w, reals({2})}), 3.0, 1e-14);
    EXPECT_EQ(call("DerivAt", {w, reals({1})}).value->physType(), PhysType::SlewRate);
    // A repeated x with one value is one sample; with two it is a step.
    EXPECT_EQ(number("DerivAt", {wave({0, 1, 1, 3}, {0, 1, 1, 2}), reals({1})}), 1.5);
    EXPECT_EQ(error("DerivAt", {wave({0, 0, 1, 1}, {0, 1, 1, 2}), reals({1})}),
              "DerivAt: argument 1 (wave) jumps at x = 1 (several samples there): it has no slope there");
    EXPECT_EQ(error("DerivAt", {w, reals({2.5})}), "DerivAt: argument 2 (x) is 2.5, outside the wave's x-range [0, 2]");
    EXPECT_NE(error("DerivAt", {wave({0, NAN, 1}, {0, 1, 2}), reals({0.5})}).find("NaN value beside x = 0.5"),
              std::string::npos);
}

TEST(CrossingsSwing, CountsTheInterpolatedEndsOfItsWindow) {
    auto w = wave({0, 4, NAN, 0, 2}, cvtest::grid(5));
    EXPECT_EQ(number("PeakToPeak", {w}), 4.0);
    EXPECT_EQ(number("PeakToPeak", {w, reals({0.25}), reals({0.5})}), 1.0);  // 1 to 2, between samples
    EXPECT_EQ(number("PeakToPeak", {w, reals({3.5}), reals({9})}), 1.0);     // the window ends with the data
    EXPECT_EQ(error("PeakToPeak", {w, reals({2}), reals({1})}),
              "PeakToPeak: argument 3 (x2) lies before x1: the window is x1 <= x <= x2");
    EXPECT_EQ(error("PeakToPeak", {w, reals({5})}),
              "PeakToPeak: argument 2 (x1) is 5, after the wave's last x-value 4");
}

TEST(CrossingsPulses, PairEachEdgeWithTheNextOfTheOtherDirection) {
    // The cut-off pulse at the end counts in no width and no cycle.
    EXPECT_EQ(number("PulseWidth", {pwm()}), 1.5);
    EXPECT_EQ(number("PulseWidth", {pwm(), reals({}), str("low")}), 2.5);
    EXPECT_EQ(number("DutyCycle", {pwm()}), 100.0 * 3 / 8);
    EXPECT_EQ(number("Frequency", {pwm(), reals({0.5})}), 2.0 / 8);
    EXPECT_EQ(call("Frequency", {pwm()}).value->physType(), PhysType::Frequency);
    // Periods from rising crossings alone: 4, 5, 3 and 4, however the high
    // stretches vary. Population deviation, RMS of the changes 1, -2, 1.
    auto w = wave({0, 1, 0, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 1, 1, 0, 1}, cvtest::grid(18));
    EXPECT_NEAR(number("PeriodJitter", {w}), std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(number("PeriodJitter", {w, reals({0.5}), str("cycle")}), std::sqrt(2.0), 1e-15);
    EXPECT_EQ(error("PulseWidth", {wave({1, 1, 0}, {0, 1, 2}), reals({0.5})}),
              "PulseWidth: argument 1 (wave) has no complete high pulse at level 0.5 (a rising crossing, then a "
              "falling one); it has 0 rising and 1 falling crossing");
}

TEST(CrossingsRuns, TwoWaveformsAreMatchedRunByRunAndAFailingRunIsNamed) {
    const Reals x = cvtest::grid(10), y1 = {0, 1, 0, 0, 0, 1, 1, 0, 0, 1}, y2 = {0, 0, 1, 1, 0, 0, 1, 0, 0, 1};
    auto runs = cvtest::dividedWave({y1, y2}, {x, x}), swapped = cvtest::dividedWave({y2, y1}, {x, x});
    EXPECT_EQ(cvtest::values("TrigTarg", {runs, reals({0.5}), str("rise"), reals({1}), swapped, reals({0.5}),
                                          str("rise"), reals({1})}),
              (Reals{1.0, -1.0}));
    auto flat = cvtest::dividedWave({y1, {0, 0, 0}}, {x, {0, 1, 2}});
    EXPECT_EQ(error("Cross", {flat, reals({0.5})}), "run 2: Cross: argument 1 (wave) has no crossing of level 0.5");
}
