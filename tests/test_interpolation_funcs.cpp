// Level crossings, values at x, resampling, pairing, cutting to an interval
// and index ranges, through the function table: the order and direction of
// crossings, order limits, the resampling grid and its flags, the cut's
// state machine, messages, references and physical types, and divisions.
#include <cmath>
#include <limits>
#include <string>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::dividedWave;
using cvtest::expectNear;
using cvtest::noResult;
using cvtest::refOf;
using cvtest::values;

namespace {

using Reals = std::vector<double>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

cv::ValuePtr wave(const Reals& y, const Reals& x, PhysType py = PhysType::None, PhysType px = PhysType::None) {
    auto v = cvtest::wave(y, x, py, px)->shallowCopy();
    v->setRefName("time");
    return v;
}

// A sine-like zigzag over x = 0 ... 8 crossing 0.5 rising at 0.5 and 4.5,
// falling at 1.5 and 5.5.
cv::ValuePtr zigzag() { return wave({0, 1, 0, -1, 0, 1, 0, -1, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8}); }

// ---------------------------------------------------------------- crossings

TEST(LevelCrossings, ComeInDataOrderAndFilterByDirection) {
    // Direction 0 is both; only the sign of others counts.
    for (auto [direction, want] : {std::pair{0.0, Reals{0.5, 1.5, 4.5, 5.5}}, {2.5, {0.5, 4.5}}, {-0.1, {1.5, 5.5}}})
        EXPECT_EQ(values("XFromY", {zigzag(), reals({0.5}), reals({1}), reals({direction})}), want);
    EXPECT_EQ(values("XFromY", {zigzag(), reals({0.5}), reals({1})}), (Reals{0.5, 1.5, 4.5, 5.5}));
    // Uneven steps.
    EXPECT_EQ(values("XFromY", {wave({0, 2, 0, 2, 0}, {0, 1, 3, 4, 10}), reals({1}), reals({1})}),
              (Reals{0.5, 2, 3.5, 7}));
}

TEST(LevelCrossings, RepeatedTimePointsNaNAndSamplesOnTheLevel) {
    // A step at a repeated time point crosses there, for every order.
    auto step = wave({0, 0, 2, 2}, {0, 1, 1, 2});
    EXPECT_EQ(values("XFromY", {step, reals({1}), reals({1})}), (Reals{1}));
    EXPECT_EQ(values("XFromY", {step, reals({1})}), (Reals{1}));
    // NaN samples are stepped over: their neighbours bracket the crossing.
    EXPECT_EQ(values("XFromY", {wave({0, kNaN, 2}, {0, 1, 2}), reals({1}), reals({1})}), (Reals{1}));
    // A run of samples on the level is one find at its first point.
    auto flat = wave({0, 1, 1, 1, 2}, {0, 1, 2, 3, 4});
    EXPECT_EQ(values("XFromY", {flat, reals({1}), reals({1}), reals({1})}), (Reals{1}));
    // A touch has no direction: found only when both directions are asked for.
    auto touch = wave({0, 1, 0}, {0, 1, 2});
    EXPECT_EQ(values("XFromY", {touch, reals({1}), reals({1})}), (Reals{1}));
    EXPECT_TRUE(noResult(call("XFromY", {touch, reals({1}), reals({1}), reals({1})})));
}

TEST(LevelCrossings, OrderDefaultsToQuadraticAndIsLimitedByTheData) {
    auto parabola = wave({0, 1, 4}, {0, 1, 2});
    const double root2 = std::sqrt(2.0);
    expectNear(values("XFromY", {parabola, reals({2})}), {root2});
    for (double order : {0.0, -3.0, 5.0}) expectNear(values("XFromY", {parabola, reals({2}), reals({order})}), {root2});
    expectNear(values("XFromY", {parabola, reals({2}), reals({1})}), {4.0 / 3});
    // A cubic is found exactly with order 3 on enough points.
    auto cubic = wave({-8, -1, 0, 1, 8}, {-2, -1, 0, 1, 2});
    expectNear(values("XFromY", {cubic, reals({4}), reals({3})}), {std::cbrt(4.0)}, 1e-12);
}

TEST(LevelCrossings, MessagesTypesAndEmptyResults) {
    auto o = call("XFromY", {reals({0, 1}), reals({0.5})});
    EXPECT_EQ(o.error, "Argument 1 in function 'XFromY' has no reference (xvalues)");
    EXPECT_EQ(call("YFromX", {reals({0, 1}), reals({0.5})}).error,
              "Argument 1 in function 'YFromX' has no reference (xvalues)");
    auto v = wave({0, 1}, {0, 1e-6}, PhysType::Voltage, PhysType::Time);
    auto x = call("XFromY", {v, reals({0.25})});
    ASSERT_TRUE(x.ok);
    EXPECT_EQ(x.value->physType(), PhysType::Time);
    EXPECT_FALSE(x.value->ref());
    for (auto args : {std::vector{v, reals({5})}, {v, reals({kNaN})}, {wave({}, {}), reals({0})}})
        EXPECT_TRUE(noResult(call("XFromY", args)));
    auto y = call("YFromX", {v, reals({0.5e-6})});
    ASSERT_TRUE(y.ok);
    EXPECT_EQ(y.value->physType(), PhysType::Voltage);
}

TEST(ValuesAtX, InterpolateWithTheGivenOrder) {
    auto parabola = wave({0, 1, 4, 9}, {0, 1, 2, 3});
    expectNear(values("YFromX", {parabola, reals({1.5})}), {2.25});
    expectNear(values("YFromX", {parabola, reals({1.5}), reals({1})}), {2.5});
    expectNear(values("YFromX", {parabola, reals({2})}), {4});
    // x-values that run back and forth give one value per pass.
    auto loop = wave({0, 1, 2, 3}, {0, 2, 0, 2});
    expectNear(values("YFromX", {loop, reals({1}), reals({1})}), {0.5, 1.5, 2.5});
    EXPECT_TRUE(noResult(call("YFromX", {parabola, reals({7})})));
}

TEST(LevelCrossings, AreFoundPerDivision) {
    auto v = dividedWave({{0, 1}, {0, 1, 0}, {0, 0.2, 1}}, {{0, 1}, {0, 1, 2}, {0, 1, 2}});
    auto o = call("XFromY", {v, reals({0.5}), reals({1})});
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(realsOf(*o.value), (Reals{0.5, 0.5, 1.5, 1.375}));
    EXPECT_EQ(o.value->divisionLengths(), (std::vector<int64_t>{1, 2, 1}));
    // One level per division, matched with the waveform's divisions.
    auto levels = dividedWave({{0.25}, {0.75}, {0.6}}, {{0}, {0}, {0}});
    EXPECT_EQ(values("XFromY", {v, levels, reals({1}), reals({1})}), (Reals{0.25, 0.75, 1.5}));
}

// ---------------------------------------------------------------- Interp

TEST(Resampling, GridFollowsCountFlagsAndInterval) {
    // On the ramp y = x the values are the grid. The interval gives the count
    // from the whole span, even with a start; outside the data the end windows
    // extrapolate.
    const std::pair<std::vector<cv::ValuePtr>, Reals> cases[] = {
        {{reals({4})}, {0, 0.25, 0.5, 0.75}},
        {{reals({4}), reals({2}), reals({1})}, {0, 1.0 / 3, 2.0 / 3, 1}},
        {{reals({0.5}), reals({2}), reals({0, 1})}, {0, 0.5, 1.0}},
        {{reals({0.25, 0.5}), reals({1}), reals({0, 1})}, {0.5, 0.75, 1, 1.25, 1.5}},
        {{reals({4, -1, 2}), reals({1}), reals({1})}, {-1, 0, 1, 2}}};
    for (const auto& [args, grid] : cases) {
        std::vector<cv::ValuePtr> all{wave({0, 1}, {0, 1})};
        all.insert(all.end(), args.begin(), args.end());
        auto o = call("Interp", all);
        expectNear(refOf(o), grid);
        expectNear(realsOf(*o.value), grid);
    }
}

TEST(Resampling, OrderSelectsThePolynomial) {
    auto cubic = wave({0, 1, 8, 27, 64}, {0, 1, 2, 3, 4});
    auto grid = [&](double order) {
        return values("Interp", {cubic, reals({9}), reals({order}), reals({1})});
    };
    Reals exact, quad;
    for (int i = 0; i <= 8; ++i) exact.push_back(std::pow(i * 0.5, 3));
    expectNear(grid(3), exact, 1e-12);
    expectNear(grid(20), exact, 1e-12);  // more than the data supports
    EXPECT_NEAR(grid(1)[1], 0.5, 1e-15);
    EXPECT_NEAR(grid(0)[1], 0.5, 1e-15);      // below 1: linear
    EXPECT_NEAR(grid(2)[3], 3.75, 1e-12);     // x = 1.5 from the points at 0, 1, 2
    EXPECT_NEAR(grid(-1)[3], 3.75, 1e-12);    // -1 on an analog signal: quadratic
    auto logic = wave({0, 0, 1, 1}, {0, 1, 2, 3}, PhysType::LogicLevel);
    auto analog = wave({0, 0, 1, 1}, {0, 1, 2, 3}, PhysType::Voltage);
    EXPECT_NEAR(values("Interp", {logic, reals({7}), reals({-1}), reals({1})})[3], 0.5, 1e-15);
    EXPECT_NEAR(values("Interp", {analog, reals({7}), reals({-1}), reals({1})})[3], 0.375, 1e-15);
    EXPECT_NEAR(values("Interp", {analog, reals({2})})[1], 0.375, 1e-15);
}

TEST(Resampling, MessagesAndSmallInputs) {
    auto ramp = wave({0, 1}, {0, 1});
    const std::string tooFew = "Need at least 2 points for interpolation in function 'Interp'";
    const std::string invalid = "Invalid data for 'Interp'. Data has no reference or interval<=0";
    const std::pair<std::vector<cv::ValuePtr>, std::string> cases[] = {
        {{ramp, reals({1})}, tooFew},
        {{ramp, reals({kNaN})}, tooFew},
        {{wave({}, {}), reals({4})}, tooFew},
        {{ramp, reals({0}), reals({1}), reals({0, 1})}, invalid},
        {{reals({0, 1}), reals({0.5}), reals({1}), reals({0, 1})}, invalid},
        {{ramp, reals({1e-300}), reals({1}), reals({0, 1})}, "Not enough memory to complete function 'Interp'"}};
    for (const auto& [args, message] : cases) EXPECT_EQ(call("Interp", args).error, message);
    // One sample: kept as it is on request, otherwise a constant.
    auto one = wave({3}, {2}, PhysType::Voltage, PhysType::Time);
    auto kept = call("Interp", {one, reals({5}), reals({1}), reals({0, 0, 1})});
    EXPECT_EQ(realsOf(*kept.value), (Reals{3}));
    EXPECT_EQ(refOf(kept), (Reals{2}));
    EXPECT_EQ(values("Interp", {one, reals({3})}), (Reals{3, 3, 3}));
}

TEST(Resampling, IndexAxisTypesAndReferenceName) {
    auto noRef = call("Interp", {reals({0, 10, 20}), reals({5}), reals({1}), reals({1})});
    ASSERT_TRUE(noRef.ok);
    EXPECT_FALSE(noRef.value->ref());
    expectNear(realsOf(*noRef.value), {0, 5, 10, 15, 20});
    auto v = call("Interp", {wave({0, 1}, {0, 1}, PhysType::Current, PhysType::Time), reals({2})});
    EXPECT_EQ(v.value->physType(), PhysType::Current);
    EXPECT_EQ(v.value->refPhysType(), PhysType::Time);
    EXPECT_EQ(v.value->refName(), "time");
}

// ---------------------------------------------------------------- Truncate

TEST(Truncation, CutsARampWithInterpolatedEnds) {
    Reals ramp;
    for (int i = 0; i <= 10; ++i) ramp.push_back(i);
    auto v = wave(ramp, ramp, PhysType::Voltage, PhysType::Time);
    for (auto bounds : {Reals{2.5, 4}, Reals{4, 2.5}}) {
        auto o = call("Truncate", {v, reals({bounds[0]}), reals({bounds[1]})});
        EXPECT_EQ(realsOf(*o.value), (Reals{2.5, 3, 4}));
        EXPECT_EQ(refOf(o), (Reals{2.5, 3, 4}));
        EXPECT_EQ(o.value->physType(), PhysType::Voltage);
        EXPECT_EQ(o.value->refPhysType(), PhysType::Time);
        EXPECT_EQ(o.value->refName(), "time");
    }
    EXPECT_EQ(values("Truncate", {v}), ramp);
    EXPECT_EQ(values("Truncate", {v, reals({8.5})}), (Reals{8.5, 9, 10}));
    EXPECT_TRUE(noResult(call("Truncate", {v, reals({20}), reals({30})})));
    EXPECT_TRUE(noResult(call("Truncate", {wave({}, {})})));
}

TEST(Truncation, EveryPassThroughTheWindowIsKept) {
    auto v = wave({0, 1, 2, 3, 4, 5, 6}, {0, 2, 4, 2, 0, 2, 4});
    auto o = call("Truncate", {v, reals({1}), reals({3})});
    EXPECT_EQ(refOf(o), (Reals{1, 2, 3, 3, 2, 1, 1, 2, 3}));
    EXPECT_EQ(realsOf(*o.value), (Reals{0.5, 1, 1.5, 2.5, 3, 3.5, 4.5, 5, 5.5}));
    // One segment across the whole window, either way.
    EXPECT_EQ(refOf(call("Truncate", {wave({0, 10}, {0, 10}), reals({2}), reals({4})})), (Reals{2, 4}));
    auto back = call("Truncate", {wave({0, 10}, {10, 0}), reals({2}), reals({4})});
    EXPECT_EQ(refOf(back), (Reals{4, 2}));
    EXPECT_EQ(realsOf(*back.value), (Reals{6, 8}));
}

TEST(Truncation, SamplesOnTheBoundsAreNeverDuplicatedAndXValuesAreNeeded) {
    auto o = call("Truncate", {wave({0, 1, 2, 3, 2, 1, 0}, {0, 1, 2, 3, 2, 1, 0}), reals({1}), reals({3})});
    EXPECT_EQ(refOf(o), (Reals{1, 2, 3, 2, 1}));
    // Leaving through a bound sample and coming back through the other.
    auto hop = call("Truncate", {wave({0, 1, 2, 3, 4}, {1, 0, 3, 4, 2}), reals({1}), reals({3})});
    EXPECT_EQ(refOf(hop), (Reals{1, 1, 3, 3, 2}));
    // A NaN x counts as below the window.
    auto gap = call("Truncate", {wave({0, 1, 2}, {2, kNaN, 2}), reals({1}), reals({3})});
    EXPECT_EQ(refOf(gap).size(), 4u);
    EXPECT_EQ(call("Truncate", {reals({1, 2})}).error, "Argument 1 in function 'Truncate' has no reference (xvalues)");
}

// ---------------------------------------------------------------- Range

TEST(IndexRange, CopiesEveryKindWithItsReference) {
    auto v = wave({10, 11, 12, 13}, {0, 1, 2, 3}, PhysType::Voltage, PhysType::Time);
    auto whole = call("Range", {v});
    EXPECT_EQ(realsOf(*whole.value), (Reals{10, 11, 12, 13}));
    EXPECT_EQ(refOf(whole), (Reals{0, 1, 2, 3}));
    EXPECT_EQ(whole.value->refName(), "time");
    EXPECT_EQ(whole.value->refPhysType(), PhysType::Time);
    auto mid = call("Range", {v, reals({1.9}), reals({2})});
    EXPECT_EQ(realsOf(*mid.value), (Reals{11, 12}));
    EXPECT_EQ(refOf(mid), (Reals{1, 2}));
    EXPECT_EQ(mid.value->physType(), PhysType::Voltage);

    auto c = call("Range", {cvtest::complexes({{1, 2}, {3, 4}, {5, 6}}), reals({1})});
    ASSERT_EQ(c.value->kind(), cv::Kind::Complex);
    EXPECT_EQ(c.value->complexAt(1), cv::cplx(5, 6));
    auto s = call("Range", {cvtest::strings({"a", "b", "c"}), reals({0}), reals({1})});
    ASSERT_EQ(s.value->kind(), cv::Kind::String);
    EXPECT_EQ(s.value->size(), 2);
    EXPECT_EQ(s.value->stringAt(1), "b");
    auto ints = cv::Value::make(cv::Kind::Integer, 3);
    static_cast<int32_t*>(ints->mutableData())[2] = 7;
    EXPECT_EQ(values("Range", {ints, reals({2})}), (Reals{7}));
}

TEST(IndexRange, RefusesRangesOutsideTheVector) {
    auto v = reals({1, 2, 3});
    for (auto bounds : {Reals{2, 1}, Reals{-1, 1}, Reals{0, 3}, Reals{1e10, 1e11}, Reals{kNaN, -1}}) {
        auto o = call("Range", {v, reals({bounds[0]}), reals({bounds[1]})});
        EXPECT_EQ(o.error, "Invalid range in 'Range()' function") << bounds[0] << ".." << bounds[1];
    }
    EXPECT_EQ(call("Range", {reals({})}).error, "Invalid range in 'Range()' function");
}

// ---------------------------------------------------------------- XY, XYOrdered

TEST(Pairing, TakesTheShorterLengthAndOrderedPairsSortByXStably) {
    auto y = reals({1, 2, 3})->shallowCopy(), x = reals({10, 20})->shallowCopy();
    y->setPhysType(PhysType::Voltage);
    x->setPhysType(PhysType::Time);
    x->setName("t");
    for (auto args : {std::vector<cv::ValuePtr>{y, x}, std::vector<cv::ValuePtr>{x, y}}) {
        auto o = call("XY", args);
        ASSERT_TRUE(o.ok);
        EXPECT_EQ(o.value->size(), 2);
        EXPECT_EQ(o.value->ref()->size(), 2);
    }
    auto o = call("XY", {y, x});
    EXPECT_EQ(realsOf(*o.value), (Reals{1, 2}));
    EXPECT_EQ(refOf(o), (Reals{10, 20}));
    EXPECT_EQ(o.value->physType(), PhysType::Voltage);
    EXPECT_EQ(o.value->refPhysType(), PhysType::Time);
    EXPECT_EQ(o.value->refName(), "t");

    o = call("XYOrdered", {reals({1, 2, 3, 4, 5}), reals({3, 1, kNaN, 2, 1})});
    EXPECT_EQ(realsOf(*o.value), (Reals{2, 5, 4, 1, 3}));
    auto sorted = refOf(o);
    EXPECT_EQ(Reals(sorted.begin(), sorted.end() - 1), (Reals{1, 1, 2, 3}));
    EXPECT_TRUE(std::isnan(sorted.back()));
    EXPECT_TRUE(noResult(call("XYOrdered", {reals({1, 2, 3}), reals({1, 2})})));
}

}  // namespace
