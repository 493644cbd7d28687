// Cycle periods, propagation delays and jitter through the function table:
// how crossings are paired, the messages, divided waveforms, and waveforms
// with uneven steps, repeated time points and NaN.
#include <cmath>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::refOf;
using cvtest::expectNear;

namespace {

using Reals = std::vector<double>;

cv::ValuePtr wave(const Reals& y, const Reals& x, PhysType px = PhysType::None) {
    return cvtest::wave(y, x, PhysType::None, px);
}

// sin(2 pi f (t - delay)) sampled every dt over [0, end].
cv::ValuePtr sine(double f, double end, double dt, double delay = 0, double phase = 0.3) {
    Reals x, y;
    for (double t = 0; t <= end + dt / 2; t += dt) {
        x.push_back(t);
        y.push_back(std::sin(2 * M_PI * f * (t - delay) + phase));
    }
    return wave(y, x, PhysType::Time);
}


TEST(TimingPairing, CyclePeriodSpansTwoCrossingsAndPlacesThemByMode) {
    auto v = sine(1000, 3e-3, 1e-6);
    auto later = call("CyclePeriod", {v, reals({0})});
    ASSERT_TRUE(later.ok) << later.error;
    const Reals p = realsOf(*later.value), x0 = refOf(later);
    ASSERT_EQ(p.size(), 4u);  // six crossings in three cycles
    expectNear(p, Reals(4, 1e-3), 1e-9);
    EXPECT_EQ(later.value->physType(), PhysType::Time);
    EXPECT_EQ(later.value->refPhysType(), PhysType::Time);
    const Reals x1 = refOf(call("CyclePeriod", {v, reals({0}), reals({1}), reals({1})}));
    const Reals x2 = refOf(call("CyclePeriod", {v, reals({0}), reals({2}), reals({2})}));
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(x0[k] - x2[k], 1e-3, 1e-9);
        EXPECT_NEAR(x1[k] - x2[k], 0.5e-3, 1e-9);
    }
    // Two crossings are not a cycle: an empty waveform, not a failure.
    auto two = call("CyclePeriod", {wave({-1, 1, -1}, {0, 1, 2}), reals({0})});
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(two.value->size(), 0);
}

TEST(TimingPairing, PropagationDelayPairsEachReferenceCrossingWithTheNextSignalCrossing) {
    auto in = sine(1000, 3e-3, 1e-7, 0, 0), out = sine(1000, 3e-3, 1e-7, 2e-6, 0);
    for (double edge : {1.0, -1.0}) {
        auto d = call("PropagationDelay", {in, out, reals({0.5}), reals({0.5}), reals({edge})});
        ASSERT_TRUE(d.ok) << d.error;
        ASSERT_EQ(d.value->size(), 3);
        expectNear(realsOf(*d.value), Reals(3, 2e-6), 1e-11);
        const double first = edge > 0 ? std::asin(0.5) / (2 * M_PI * 1000) : (M_PI - std::asin(0.5)) / (2 * M_PI * 1000);
        EXPECT_NEAR(refOf(d)[0], first, 1e-11);
    }
    // One late signal crossing closes every reference crossing before it;
    // reference crossings after the last signal crossing get no partner.
    auto ref = wave({0, 1, 0, 1, 0, 1, 0}, {0, 1, 2, 3, 4, 5, 6});
    auto sig = wave({0, 0, 0, 0, 1, 1, 1}, {0, 1, 2, 3, 4, 5, 6});
    auto d = call("PropagationDelay", {ref, sig, reals({0.5}), reals({0.5})});
    EXPECT_EQ(realsOf(*d.value), (Reals{3, 1}));
    EXPECT_EQ(refOf(d), (Reals{0.5, 2.5}));
}

TEST(TimingPairing, JitterMeasuresRisingCrossingsAgainstTheirEvenGrid) {
    Reals x, y;
    for (int k = 0; k < 40; ++k) {
        x.push_back(k);
        y.push_back(k % 4 < 2 ? 0.0 : 1.0);
    }
    auto even = call("Jitter", {wave(y, x, PhysType::Time), reals({0.5})});
    ASSERT_TRUE(even.ok) << even.error;
    EXPECT_EQ(realsOf(*even.value), Reals(10, 0.0));
    EXPECT_EQ(refOf(even)[9], 37.5);
    EXPECT_EQ(even.value->physType(), PhysType::Time);
    y[13] = 1.0;  // the fourth rising edge comes one sample early
    auto early = call("Jitter", {wave(y, x), reals({0.5})});
    EXPECT_DOUBLE_EQ(realsOf(*early.value)[3], -1.0);
}

TEST(TimingMessages, MissingReferencesAndTooFewCrossingsAreReportedClearly) {
    auto plain = reals({0, 1, 0, 1}), w = wave({0, 1, 0, 1}, {0, 1, 2, 3});
    EXPECT_EQ(call("CyclePeriod", {plain, reals({0.5})}).error,
              "Argument 1 in function 'CyclePeriod' has no reference (xvalues)");
    EXPECT_EQ(call("Jitter", {plain, reals({0.5})}).error,
              "Argument 1 in function 'Jitter' has no reference (xvalues)");
    EXPECT_EQ(call("PropagationDelay", {w, plain, reals({0.5}), reals({0.5})}).error,
              "Argument 2 in function 'PropagationDelay' has no reference (xvalues)");
    EXPECT_EQ(call("Jitter", {w, reals({5})}).error,
              "No rising crossing of level 5 in function 'Jitter': jitter needs at least two");
    EXPECT_EQ(call("Jitter", {wave({0, 1, 1}, {0, 1, 2}), reals({0.5})}).error,
              "Only one rising crossing of level 0.5 in function 'Jitter': jitter needs at least two");
    EXPECT_EQ(call("CyclePeriod", {w, reals({})}).error, "Argument 2 in function 'CyclePeriod' is empty");
    for (double order : {1e300, -1e300, std::nan(""), HUGE_VAL})
        EXPECT_TRUE(call("CyclePeriod", {w, reals({0.5}), reals({order})}).ok);
    EXPECT_EQ(call("CyclePeriod", {wave({}, {}), reals({0})}).value->size(), 0);
}

TEST(TimingDivisions, EachRunOfAMonteCarloWaveformIsMeasuredOnItsOwn) {
    // 100 runs, run d a square wave of period 4 + d / 100, one with too few crossings.
    std::vector<Reals> ys(100), xs(100);
    for (int d = 0; d < 100; ++d)
        for (int k = 0; k < (d == 7 ? 3 : 41); ++k)
            xs[d].push_back(k * (1 + d / 400.0)), ys[d].push_back(k % 4 < 2 ? 0 : 1);
    auto o = call("CyclePeriod", {cvtest::dividedWave(ys, xs), reals({0.5}), reals({1})});
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_EQ(o.value->numDivisions(), 100);
    EXPECT_EQ(o.value->divisionLength(7), 0);
    EXPECT_EQ(o.value->divisionLength(8), 18);
    for (int d : {0, 50, 99}) EXPECT_NEAR(o.value->realAt(o.value->divisionOffset(d)), 4 * (1 + d / 400.0), 1e-12);
}

TEST(TimingSampling, UnevenStepsRepeatedTimePointsAndNaN) {
    // Vertical edges (two samples at one time point) cross exactly there,
    // also with the default quadratic order; unevenly spaced samples of a
    // straight line cross exactly at order 1.
    auto square = wave({0, 0, 1, 1, 0, 0, 1, 1, 0, 0}, {0, 1, 1, 2, 2, 3, 3, 4, 4, 5});
    auto o = call("CyclePeriod", {square, reals({0.5})});
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
    auto j = call("Jitter", {badTime, reals({0.5})});
    ASSERT_TRUE(j.ok) << j.error;
    EXPECT_EQ(refOf(j), (Reals{2.5, 4.5}));
    auto ref = wave({0, 1, 0, 1, 0, 1}, {0, 1, 2, 3, 4, 5});
    auto p = call("PropagationDelay", {ref, badTime, reals({0.5}), reals({0.5})});
    EXPECT_EQ(realsOf(*p.value), (Reals{2, 2}));
}

}  // namespace
