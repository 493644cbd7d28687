// Cycle periods, propagation delays and jitter through the function table:
// how crossings are paired, the messages, and waveforms with uneven steps,
// repeated time points and NaN. Delays and periods of simulated transients
// are checked against ngspice in the Python peer tests.
#include <cmath>

#include "TestHost.h"

using cvtest::call;
using cvtest::expectNear;
using cvtest::grid;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::refOf;

namespace {

using Reals = std::vector<double>;

cv::ValuePtr wave(const Reals& y, const Reals& x, PhysType px = PhysType::None) {
    return cvtest::wave(y, x, PhysType::None, px);
}

// A square wave of period 4 sampled at the integers, rising through 0.5 at
// 1.5, 5.5, ... and falling at 3.5, 7.5, ...
Reals squareY(int samples) {
    Reals y;
    for (int k = 0; k < samples; ++k) y.push_back(k % 4 < 2 ? 0.0 : 1.0);
    return y;
}
cv::ValuePtr square(int samples, PhysType px = PhysType::None) { return wave(squareY(samples), grid(samples), px); }

TEST(TimingPairing, CyclePeriodSpansTwoCrossingsAndPlacesThemByMode) {
    // Crossings at 1.5, 3.5, 5.5, 7.5, 9.5: a period ends at the later one
    // (mode 0), the middle one (1) or starts at the earlier one (2).
    for (auto [mode, at] : {std::pair{0.0, Reals{5.5, 7.5, 9.5}}, {1.0, {3.5, 5.5, 7.5}}, {2.0, {1.5, 3.5, 5.5}}}) {
        auto o = call("CyclePeriod", {square(11, PhysType::Time), reals({0.5}), reals({1}), reals({mode})});
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(realsOf(*o.value), Reals(3, 4.0));
        EXPECT_EQ(refOf(o), at) << mode;
        cvtest::expectTypes(*o.value, PhysType::Time, PhysType::Time);
    }
    // Two crossings are not a cycle: an empty waveform, not a failure.
    auto two = call("CyclePeriod", {wave({-1, 1, -1}, {0, 1, 2}), reals({0})});
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(two.value->size(), 0);
}

TEST(TimingPairing, PropagationDelayPairsEachReferenceCrossingWithTheNextSignalCrossing) {
    // One late signal crossing closes every reference crossing before it;
    // reference crossings after the last signal crossing get no partner.
    auto ref = wave({0, 1, 0, 1, 0, 1, 0}, {0, 1, 2, 3, 4, 5, 6});
    auto sig = wave({0, 0, 0, 0, 1, 1, 1}, {0, 1, 2, 3, 4, 5, 6});
    auto d = call("PropagationDelay", {ref, sig, reals({0.5}), reals({0.5})});
    EXPECT_EQ(realsOf(*d.value), (Reals{3, 1}));
    EXPECT_EQ(refOf(d), (Reals{0.5, 2.5}));
    // Falling edges when the edge argument is not positive.
    d = call("PropagationDelay", {ref, square(12), reals({0.5}), reals({0.5}), reals({-1})});
    EXPECT_EQ(realsOf(*d.value), (Reals{2, 4, 2}));
    EXPECT_EQ(refOf(d), (Reals{1.5, 3.5, 5.5}));
}

TEST(TimingPairing, JitterMeasuresRisingCrossingsAgainstTheirEvenGrid) {
    auto even = call("Jitter", {square(40, PhysType::Time), reals({0.5})});
    ASSERT_TRUE(even.ok) << even.error;
    EXPECT_EQ(realsOf(*even.value), Reals(10, 0.0));
    EXPECT_EQ(refOf(even)[9], 37.5);
    EXPECT_EQ(even.value->physType(), PhysType::Time);
    Reals y = squareY(40);
    y[13] = 1.0;  // the fourth rising edge comes one sample early
    EXPECT_DOUBLE_EQ(realsOf(*call("Jitter", {wave(y, grid(40)), reals({0.5})}).value)[3], -1.0);
}

TEST(TimingMessages, MissingReferencesAndTooFewCrossingsAreReportedClearly) {
    auto plain = reals({0, 1, 0, 1}), w = wave({0, 1, 0, 1}, {0, 1, 2, 3});
    for (const char* f : {"CyclePeriod", "Jitter"})
        EXPECT_EQ(call(f, {plain, reals({0.5})}).error,
                  std::string("Argument 1 in function '") + f + "' has no reference (xvalues)");
    EXPECT_EQ(call("PropagationDelay", {w, plain, reals({0.5}), reals({0.5})}).error,
              "Argument 2 in function 'PropagationDelay' has no reference (xvalues)");
    EXPECT_EQ(call("PropagationDelay", {w, w, reals({0.5}), reals({})}).error,
              "Argument 4 in function 'PropagationDelay' is empty");
    EXPECT_EQ(call("Jitter", {w, reals({5})}).error,
              "No rising crossing of level 5 in function 'Jitter': jitter needs at least two");
    EXPECT_EQ(call("Jitter", {wave({0, 1, 1}, {0, 1, 2}), reals({0.5})}).error,
              "Only one rising crossing of level 0.5 in function 'Jitter': jitter needs at least two");
    EXPECT_EQ(call("CyclePeriod", {w, reals({})}).error, "Argument 2 in function 'CyclePeriod' is empty");
    for (double order : {1e300, -1e300, std::nan(""), HUGE_VAL})
        EXPECT_TRUE(call("CyclePeriod", {w, reals({0.5}), reals({order})}).ok);
    EXPECT_EQ(call("CyclePeriod", {wave({}, {}), reals({0})}).value->size(), 0);
}

TEST(TimingSampling, UnevenStepsRepeatedTimePointsAndNaN) {
    // Vertical edges (two samples at one time point) cross exactly there,
    // also with the default quadratic order.
    auto vertical = wave({0, 0, 1, 1, 0, 0, 1, 1, 0, 0}, {0, 1, 1, 2, 2, 3, 3, 4, 4, 5});
    auto o = call("CyclePeriod", {vertical, reals({0.5})});
    EXPECT_EQ(realsOf(*o.value), (Reals{2, 2}));
    EXPECT_EQ(refOf(o), (Reals{3, 4}));
    // A triangle wave sampled unevenly crosses exactly at order 1.
    Reals tx{0, 0.1, 0.7, 1, 1.7, 2, 2.2, 2.9, 3, 3.4, 4}, ty;
    for (double t : tx) ty.push_back(std::fmod(t, 2) <= 1 ? std::fmod(t, 2) : 2 - std::fmod(t, 2));
    auto tri = call("CyclePeriod", {wave(ty, tx), reals({0.25}), reals({1})});
    expectNear(realsOf(*tri.value), {2, 2}, 1e-15);
    expectNear(refOf(tri), {2.25, 3.75}, 1e-15);
    // NaN samples are stepped over; a crossing at a NaN time is left out of
    // pairing and jitter rather than spoiling every later value.
    auto gap = call("Jitter", {wave({0, 1, NAN, 0, 1, 0, 1}, {0, 1, 2, 3, 4, 5, 6}), reals({0.5})});
    EXPECT_EQ(realsOf(*gap.value), (Reals{0, 0.5, 0}));
    auto badTime = wave({0, 1, 0, 1, 0, 1}, {0, NAN, 2, 3, 4, 5});
    EXPECT_EQ(refOf(call("Jitter", {badTime, reals({0.5})})), (Reals{2.5, 4.5}));
    auto ref = wave({0, 1, 0, 1, 0, 1}, {0, 1, 2, 3, 4, 5});
    EXPECT_EQ(realsOf(*call("PropagationDelay", {ref, badTime, reals({0.5}), reals({0.5})}).value), (Reals{2, 2}));
}

}  // namespace
