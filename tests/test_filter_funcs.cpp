// FIR, IIR and LPF through the function table: the history before the first
// sample, layout with divisions, references and physical types, and input
// that has no sound reading (empty taps, bad time constants, bad x-values).
#include <cmath>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::values;

namespace {

using Reals = std::vector<double>;

cv::ValuePtr divided(const std::vector<Reals>& parts, const std::vector<Reals>& xs) {
    return cvtest::dividedWave(parts, xs, PhysType::Voltage, PhysType::Time);
}

// Every kernel path, with and without a full history, is checked against
// numpy and scipy in the Python peer tests.
TEST(FilterHistory, GivenValuesAreReadTimeShiftedAndPaddedWithZeros) {
    auto x = reals({1, 2, 3, 4});
    auto c = reals({1, 10, 100});
    EXPECT_EQ(values("FIR", {x, c, reals({5, 6})}), (Reals{651, 512, 123, 234}));  // not 612 at i = 1
    EXPECT_EQ(values("FIR", {x, c, reals({5})}), (Reals{51, 512, 123, 234}));
    EXPECT_EQ(values("FIR", {x, c, reals({5, 6, 7, 8})}), (Reals{651, 512, 123, 234}));
    EXPECT_EQ(values("FIR", {x, c, reals({})}), (Reals{1, 12, 123, 234}));
    EXPECT_EQ(values("IIR", {x, reals({1, 0.5, 0.25}), reals({4})}), (Reals{3, 4.5, 6, 8.125}));
}

TEST(FilterLayout, DivisionsReferencesAndPhysicalTypesFollowTheSignal) {
    auto v = divided({{1, 3, 5}, {10, 30, 50}, {-2, -2, 4}}, {{0, 1, 2}, {0, 2, 4}, {0, 1, 1.5}});
    for (const char* f : {"FIR", "IIR", "LPF"}) {
        auto o = call(f, {v, reals({0.5, 0.5})});
        ASSERT_TRUE(o.ok) << f << ": " << o.error;
        EXPECT_EQ(o.value->numDivisions(), 3) << f;
        EXPECT_EQ(o.value->physType(), PhysType::Voltage) << f;
        EXPECT_EQ(o.value->refPhysType(), PhysType::Time) << f;
        ASSERT_TRUE(o.value->ref()) << f;
        EXPECT_EQ(realsOf(*o.value->ref()), (Reals{0, 1, 2, 0, 2, 4, 0, 1, 1.5})) << f;
    }
    // Each division starts from its own first sample.
    EXPECT_EQ(values("FIR", {v, reals({0.5, 0.5})}), (Reals{1, 2, 4, 10, 20, 40, -2, -2, 1}));
    // Coefficients in three divisions of total length 6 must not reshape a
    // six-sample result; their first division is the filter.
    auto six = values("FIR", {reals({1, 2, 3, 4, 5, 6}), divided({{1, 1}, {7, 7}, {9, 9}}, {{0, 1}, {0, 1}, {0, 1}})});
    EXPECT_EQ(six, (Reals{2, 3, 5, 7, 9, 11}));
}

TEST(FilterFaults, EmptyAndNaNInputHaveDefinedResults) {
    for (const char* f : {"FIR", "IIR"}) {
        EXPECT_EQ(values(f, {reals({}), reals({1, 2})}).size(), 0u);
        EXPECT_EQ(values(f, {reals({1, 2}), reals({})}), (Reals{0, 0}));
    }
    // A NaN reaches exactly the outputs whose taps see it.
    const Reals f = values("FIR", {reals({1, 1, NAN, 1, 1, 1}), reals({1, 1})});
    EXPECT_EQ(std::isnan(f[1]) + std::isnan(f[2]) + std::isnan(f[3]) + std::isnan(f[4]), 2);
    EXPECT_TRUE(std::isnan(f[2]) && std::isnan(f[3]));
}

// Step responses on uneven grids are checked against their closed form in the
// Python peer tests.
TEST(FilterLowPass, TimeConstantsAndXValues) {
    auto step = divided({{1, 1, 1, 1}}, {{0, 0.1, 0.2, 0.3}});
    EXPECT_EQ(values("LPF", {divided({{3, 5, 7}}, {{0, 1, 1}}), reals({0})}), (Reals{3, 3, 5}));  // delayed
    // A repeated time point leaves no time to move; an empty start is no start.
    EXPECT_EQ(values("LPF", {divided({{0, 9, 9}}, {{0, 0, 0}}), reals({2}), reals({})}), (Reals{0, 0, 0}));
    EXPECT_TRUE(cvtest::noResult(call("LPF", {reals({1, 2}), reals({1})})));
    for (auto tau : {reals({-1}), reals({NAN}), reals({})})
        EXPECT_EQ(call("LPF", {step, tau}).error, "Argument 2 in function 'LPF' must be a time constant of 0 or more");
    for (Reals x : {Reals{0, 2, 1}, Reals{0, NAN, 2}, Reals{0, INFINITY, INFINITY}})
        EXPECT_EQ(call("LPF", {divided({{1, 2, 3}}, {x}), reals({1})}).error,
                  "Argument 1 in function 'LPF' needs one real x-value per value, in non-decreasing order");
}

}  // namespace
