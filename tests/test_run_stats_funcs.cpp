// Statistics over runs: what a measurement over the runs hands them (one
// value per run against the run keys), the rules for NaN, and the refusals.
#include <cmath>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;

namespace {

// Three runs of a waveform whose maxima are 1.2, 0.9 and 1.1.
cv::ValuePtr threeRuns() {
    return cvtest::dividedWave({{0, 1.2, 0}, {0, 0.9, 0}, {0, 1.1, 0}}, {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}},
                               PhysType::Voltage, PhysType::Time);
}

}  // namespace

TEST(RunStats, TakeOneMeasuredValuePerRunAndKeepItsUnit) {
    auto maxima = call("Maximum", {threeRuns()});
    ASSERT_TRUE(maxima.ok) << maxima.error;
    auto sd = call("StdDev", {maxima.value});
    ASSERT_TRUE(sd.ok) << sd.error;
    const double mean = (1.2 + 0.9 + 1.1) / 3;
    const double ss = (1.2 - mean) * (1.2 - mean) + (0.9 - mean) * (0.9 - mean) + (1.1 - mean) * (1.1 - mean);
    EXPECT_NEAR(cvtest::realsOf(*sd.value)[0], std::sqrt(ss / 2), 1e-15);
    EXPECT_EQ(sd.value->physType(), PhysType::Voltage);
    // The run the extreme came from is its x-value, as the collected
    // measurement keys it.
    auto worst = call("MinRun", {maxima.value});
    ASSERT_TRUE(worst.ok) << worst.error;
    EXPECT_EQ(cvtest::realsOf(*worst.value), std::vector<double>{0.9});
    EXPECT_EQ(cvtest::refOf(worst), std::vector<double>{cvtest::refOf(maxima).at(1)});
    // A vector of several runs of one value each reads the same way.
    auto perRun = cvtest::dividedWave({{1.2}, {0.9}, {1.1}}, {{0}, {0}, {0}});
    EXPECT_EQ(cvtest::number("Median", {perRun}), 1.1);
    EXPECT_EQ(cvtest::number("Yield", {perRun, reals({1.0}), reals({1.2})}), 100.0 * 2 / 3);
}

TEST(RunStats, NaNRunsFollowTheNumpyRecipeExceptWhereCountingThem) {
    auto v = reals({1.0, NAN, 3.0});
    EXPECT_TRUE(std::isnan(cvtest::number("StdDev", {v})));
    EXPECT_TRUE(std::isnan(cvtest::number("Median", {v})));
    EXPECT_TRUE(std::isnan(cvtest::number("Cpk", {v, reals({0}), reals({4})})));
    EXPECT_EQ(cvtest::number("Yield", {v, reals({0}), reals({4})}), 100.0 * 2 / 3);  // NaN is outside
    EXPECT_EQ(cvtest::values("MaxRun", {v}), std::vector<double>{3.0});
    auto none = call("MaxRun", {reals({NAN, NAN})});
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.error, "MaxRun: argument 1 (values) holds NaN only: no run was measured");
}

TEST(RunStats, RefuseWaveformsTooFewValuesAndBadLimitsNamingTheArgument) {
    auto wave = call("StdDev", {threeRuns()});
    EXPECT_FALSE(wave.ok);
    EXPECT_EQ(wave.error.rfind("StdDev: argument 1 (values) has 3 values in run 1: give one value per run", 0), 0u)
        << wave.error;
    EXPECT_EQ(call("StdDev", {reals({1})}).error, "StdDev: argument 1 (values) has 1 value; at least 2 are needed");
    EXPECT_EQ(call("Median", {reals({})}).error,
              "Median: argument 1 (values) is empty: give one measured value per run");
    EXPECT_EQ(call("Percentile", {reals({1, 2}), reals({101})}).error,
              "Percentile: argument 2 (p) must lie between 0 and 100 (a percentage)");
    EXPECT_EQ(call("Percentile", {reals({1, 2}), reals({NAN})}).error, "Percentile: argument 2 (p) is NaN");
    EXPECT_EQ(call("Cpk", {reals({1, 2}), reals({3}), reals({2})}).error,
              "Cpk: argument 3 (high) lies below low: the limits are low <= value <= high");
}
