// Statistics over runs: what a measurement over the runs hands them (one
// value per run, its unit, the run keys), the rules for NaN, and the
// refusals. The values are checked against numpy in the Python peer tests.
#include <cmath>

#include "TestHost.h"

using cvtest::call;
using cvtest::number;
using cvtest::reals;

namespace {

using Reals = std::vector<double>;

// Three runs of a waveform whose maxima are 1.2, 0.9 and 1.1.
cv::ValuePtr threeRuns() {
    return cvtest::dividedWave({{0, 1.2, 0}, {0, 0.9, 0}, {0, 1.1, 0}}, {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}},
                               PhysType::Voltage, PhysType::Time);
}

}  // namespace

TEST(RunStats, TakeOneMeasuredValuePerRunAndKeepItsUnitAndRunKey) {
    auto maxima = call("Maximum", {threeRuns()});
    ASSERT_TRUE(maxima.ok) << maxima.error;
    EXPECT_EQ(call("StdDev", {maxima.value}).value->physType(), PhysType::Voltage);
    auto worst = call("MinRun", {maxima.value});
    ASSERT_TRUE(worst.ok) << worst.error;
    EXPECT_EQ(cvtest::realsOf(*worst.value), Reals{0.9});
    EXPECT_EQ(cvtest::refOf(worst), Reals{cvtest::refOf(maxima).at(1)});
    // A vector of several runs of one value each reads the same way.
    auto perRun = cvtest::dividedWave({{1.2}, {0.9}, {1.1}}, {{0}, {0}, {0}});
    EXPECT_EQ(number("Median", {perRun}), 1.1);
    EXPECT_EQ(number("Yield", {perRun, reals({1.0}), reals({1.2})}), 100.0 * 2 / 3);
}

TEST(RunStats, NaNRunsFollowTheNumpyRecipeExceptWhereCountingThem) {
    auto v = reals({1.0, NAN, 3.0});
    for (const char* f : {"StdDev", "Median"}) EXPECT_TRUE(std::isnan(number(f, {v}))) << f;
    EXPECT_EQ(number("Yield", {v, reals({0}), reals({4})}), 100.0 * 2 / 3);  // NaN is outside
    EXPECT_EQ(cvtest::values("MaxRun", {v}), Reals{3.0});
    EXPECT_EQ(call("MaxRun", {reals({NAN, NAN})}).error,
              "MaxRun: argument 1 (values) holds NaN only: no run was measured");
}

TEST(RunStats, RefuseWaveformsTooFewValuesAndBadLimitsNamingTheArgument) {
    EXPECT_EQ(call("StdDev", {threeRuns()}).error,
              "StdDev: argument 1 (values) has 3 values in run 1: give one value per run (a measurement of each "
              "run, such as Maximum(wave))");
    EXPECT_EQ(call("StdDev", {reals({1})}).error, "StdDev: argument 1 (values) has 1 value; at least 2 are needed");
    EXPECT_EQ(call("Median", {reals({})}).error,
              "Median: argument 1 (values) is empty: give one measured value per run");
    EXPECT_EQ(call("Percentile", {reals({1, 2}), reals({101})}).error,
              "Percentile: argument 2 (p) must lie between 0 and 100 (a percentage)");
    EXPECT_EQ(call("Percentile", {reals({1, 2}), reals({NAN})}).error, "Percentile: argument 2 (p) is NaN");
    EXPECT_EQ(call("Cpk", {reals({1, 2}), reals({3}), reals({2})}).error,
              "Cpk: argument 3 (high) lies below low: the limits are low <= value <= high");
}
