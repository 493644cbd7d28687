// Level crossings, values at x, resampling, pairing, cutting to an interval
// and index ranges, through the function table: the order and direction of
// crossings, order limits, the resampling grid and its flags, the cut's
// state machine, messages, references and physical types, and divisions.
#include <cmath>
#include <limits>
#include <string>

#include "TestHost.h"

using cvtest::call;
using cvtest::dividedWave;
using cvtest::expectNear;
using cvtest::noResult;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::refOf;
using cvtest::values;

namespace {

using Reals = std::vector<double>;
using Args = std::vector<cv::ValuePtr>;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

cv::ValuePtr wave(const Reals& y, const Reals& x, PhysType py = PhysType::None, PhysType px = PhysType::None) {
    auto v = cvtest::wave(y, x, py, px)->shallowCopy();
    v->setRefName("time");
    return v;
}

// One call and the values (and, when given, x-values) it must give exactly.
struct Case {
    Args args;
    Reals y, x = {};
};
void expectCases(const char* function, std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << function << " case " << (&c - cases.begin()));
        auto o = call(function, c.args);
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(realsOf(*o.value), c.y);
        EXPECT_EQ(noResult(o), c.y.empty());  // nothing found is no value at all, not an empty one
        if (!c.x.empty()) {
            EXPECT_EQ(refOf(o), c.x);
        }
    }
}

// ---------------------------------------------------------------- crossings

TEST(LevelCrossings, DataOrderDirectionsRepeatedPointsNaNAndRunsOnTheLevel) {
    // A zigzag crossing 0.5 rising at 0.5 and 4.5, falling at 1.5 and 5.5.
    auto zigzag = wave({0, 1, 0, -1, 0, 1, 0, -1, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8});
    auto touch = wave({0, 1, 0}, {0, 1, 2});
    // Crossings of noisy data in both directions and each are checked against
    // numpy in the Python peer tests.
    expectCases("XFromY", {
        // Direction 0 is both; only the sign of others counts.
        {{zigzag, reals({0.5}), reals({1}), reals({0})}, {0.5, 1.5, 4.5, 5.5}},
        {{zigzag, reals({0.5}), reals({1}), reals({-0.1})}, {1.5, 5.5}},
        // A step at a repeated time point crosses there, for every order.
        {{wave({0, 0, 2, 2}, {0, 1, 1, 2}), reals({1})}, {1}},
        // NaN samples are stepped over: their neighbours bracket the crossing.
        {{wave({0, kNaN, 2}, {0, 1, 2}), reals({1}), reals({1})}, {1}},
        // A run of samples on the level is one find at its first point.
        {{wave({0, 1, 1, 1, 2}, {0, 1, 2, 3, 4}), reals({1}), reals({1}), reals({1})}, {1}},
        // A touch has no direction: found only when both directions are asked for.
        {{touch, reals({1}), reals({1})}, {1}},
        {{touch, reals({1}), reals({1}), reals({1})}, {}},
    });
}

TEST(LevelCrossings, OrderDefaultsToQuadraticAndIsLimitedByTheData) {
    auto parabola = wave({0, 1, 4}, {0, 1, 2});
    const double root2 = std::sqrt(2.0);
    expectNear(values("XFromY", {parabola, reals({2})}), {root2});
    for (double order : {0.0, 5.0}) expectNear(values("XFromY", {parabola, reals({2}), reals({order})}), {root2});
    expectNear(values("XFromY", {parabola, reals({2}), reals({1})}), {4.0 / 3});
    // A cubic is found exactly with order 3 on enough points.
    auto cubic = wave({-8, -1, 0, 1, 8}, {-2, -1, 0, 1, 2});
    expectNear(values("XFromY", {cubic, reals({4}), reals({3})}), {std::cbrt(4.0)}, 1e-12);
}

TEST(LevelCrossings, MessagesTypesAndEmptyResults) {
    for (const char* f : {"XFromY", "YFromX"})
        EXPECT_EQ(call(f, {reals({0, 1}), reals({0.5})}).error,
                  std::string("Argument 1 in function '") + f + "' has no reference (xvalues)");
    auto v = wave({0, 1}, {0, 1e-6}, PhysType::Voltage, PhysType::Time);
    auto x = call("XFromY", {v, reals({0.25})});
    ASSERT_TRUE(x.ok);
    EXPECT_EQ(x.value->physType(), PhysType::Time);
    EXPECT_FALSE(x.value->ref());
    for (auto args : {Args{v, reals({5})}, {v, reals({kNaN})}, {wave({}, {}), reals({0})}})
        EXPECT_TRUE(noResult(call("XFromY", args)));
    EXPECT_EQ(call("YFromX", {v, reals({0.5e-6})}).value->physType(), PhysType::Voltage);
}

TEST(ValuesAtX, InterpolateWithTheGivenOrderOncePerPass) {
    auto parabola = wave({0, 1, 4, 9}, {0, 1, 2, 3});
    expectNear(values("YFromX", {parabola, reals({1.5})}), {2.25});
    expectNear(values("YFromX", {parabola, reals({1.5}), reals({1})}), {2.5});
    // x-values that run back and forth give one value per pass.
    expectNear(values("YFromX", {wave({0, 1, 2, 3}, {0, 2, 0, 2}), reals({1}), reals({1})}), {0.5, 1.5, 2.5});
    EXPECT_TRUE(noResult(call("YFromX", {parabola, reals({7})})));
}

TEST(LevelCrossings, OneLevelPerDivisionIsMatchedWithTheWaveformsDivisions) {
    auto v = dividedWave({{0, 1}, {0, 1, 0}, {0, 0.2, 1}}, {{0, 1}, {0, 1, 2}, {0, 1, 2}});
    auto levels = dividedWave({{0.25}, {0.75}, {0.6}}, {{0}, {0}, {0}});
    EXPECT_EQ(values("XFromY", {v, levels, reals({1}), reals({1})}), (Reals{0.25, 0.75, 1.5}));
}

// ---------------------------------------------------------------- Interp

TEST(Resampling, GridFollowsCountFlagsAndInterval) {
    // On the ramp y = x the values are the grid. The interval gives the count
    // from the whole span, even with a start; outside the data the end windows
    // extrapolate. Counts with and without the last point on the stop value
    // are checked against numpy in the Python peer tests.
    const std::pair<Args, Reals> cases[] = {
        {{reals({0.5}), reals({2}), reals({0, 1})}, {0, 0.5, 1.0}},
        {{reals({0.25, 0.5}), reals({1}), reals({0, 1})}, {0.5, 0.75, 1, 1.25, 1.5}},
        {{reals({4, -1, 2}), reals({1}), reals({1})}, {-1, 0, 1, 2}}};
    for (const auto& [args, grid] : cases) {
        Args all{wave({0, 1}, {0, 1})};
        all.insert(all.end(), args.begin(), args.end());
        auto o = call("Interp", all);
        expectNear(refOf(o), grid);
        expectNear(realsOf(*o.value), grid);
    }
}

TEST(Resampling, OrderSelectsThePolynomial) {
    auto cubic = wave({0, 1, 8, 27, 64}, {0, 1, 2, 3, 4});
    auto grid = [&](double order) { return values("Interp", {cubic, reals({9}), reals({order}), reals({1})}); };
    Reals exact;
    for (int i = 0; i <= 8; ++i) exact.push_back(std::pow(i * 0.5, 3));
    expectNear(grid(3), exact, 1e-12);
    expectNear(grid(20), exact, 1e-12);  // more than the data supports
    EXPECT_NEAR(grid(0)[1], 0.5, 1e-15);    // below 1: linear
    EXPECT_NEAR(grid(2)[3], 3.75, 1e-12);   // x = 1.5 from the points at 0, 1, 2
    EXPECT_NEAR(grid(-1)[3], 3.75, 1e-12);  // -1 on an analog signal: quadratic
    // -1 on a logic signal is linear; an absent order is quadratic whatever the signal.
    auto logic = wave({0, 0, 1, 1}, {0, 1, 2, 3}, PhysType::LogicLevel);
    EXPECT_NEAR(values("Interp", {logic, reals({7}), reals({-1}), reals({1})})[3], 0.5, 1e-15);
    EXPECT_NEAR(values("Interp", {logic, reals({2})})[1], 0.375, 1e-15);
}

TEST(Resampling, MessagesSmallInputsAndTheResultsShape) {
    auto ramp = wave({0, 1}, {0, 1});
    const std::string tooFew = "Need at least 2 points for interpolation in function 'Interp'";
    const std::string invalid = "Invalid data for 'Interp'. Data has no reference or interval<=0";
    const std::pair<Args, std::string> cases[] = {
        {{ramp, reals({kNaN})}, tooFew},
        {{wave({}, {}), reals({4})}, tooFew},
        {{ramp, reals({0}), reals({1}), reals({0, 1})}, invalid},
        {{reals({0, 1}), reals({0.5}), reals({1}), reals({0, 1})}, invalid},
        {{ramp, reals({1e-300}), reals({1}), reals({0, 1})}, "Not enough memory to complete function 'Interp'"}};
    for (const auto& [args, message] : cases) EXPECT_EQ(call("Interp", args).error, message);
    // One sample: kept as it is on request, otherwise a constant.
    auto one = wave({3}, {2}, PhysType::Voltage, PhysType::Time);
    expectCases("Interp", {{{one, reals({5}), reals({1}), reals({0, 0, 1})}, {3}, {2}}, {{one, reals({3})}, {3, 3, 3}}});
    // Without x-values the grid runs over the indices and has no reference.
    auto noRef = call("Interp", {reals({0, 10, 20}), reals({5}), reals({1}), reals({1})});
    EXPECT_FALSE(noRef.value->ref());
    expectNear(realsOf(*noRef.value), {0, 5, 10, 15, 20});
    auto v = call("Interp", {wave({0, 1}, {0, 1}, PhysType::Current, PhysType::Time), reals({2})});
    cvtest::expectTypes(*v.value, PhysType::Current, PhysType::Time);
    EXPECT_EQ(v.value->refName(), "time");
    // Flags given as a divided vector of empty runs once made the grid twice
    // as long as the values, padded with zeros.
    auto emptyRuns = cv::Value::makeDivided(cv::Kind::Real, std::vector<int64_t>{0, 0});
    expectCases("Interp", {{{ramp, reals({2}), reals({1}), emptyRuns}, {0, 0.5}, {0, 0.5}}});
}

// ---------------------------------------------------------------- Truncate

TEST(Truncation, CutsWithInterpolatedEndsOncePerPassThroughTheWindow) {
    Reals ramp;
    for (int i = 0; i <= 10; ++i) ramp.push_back(i);
    auto v = wave(ramp, ramp, PhysType::Voltage, PhysType::Time);
    expectCases("Truncate", {
        {{v, reals({2.5}), reals({4})}, {2.5, 3, 4}, {2.5, 3, 4}},
        {{v, reals({4}), reals({2.5})}, {2.5, 3, 4}, {2.5, 3, 4}},
        {{v}, ramp},
        {{v, reals({8.5})}, {8.5, 9, 10}},
        {{v, reals({20}), reals({30})}, {}},
        {{wave({}, {})}, {}},
        // Every pass through the window, each closed on the bounds.
        {{wave({0, 1, 2, 3, 4, 5, 6}, {0, 2, 4, 2, 0, 2, 4}), reals({1}), reals({3})},
         {0.5, 1, 1.5, 2.5, 3, 3.5, 4.5, 5, 5.5}, {1, 2, 3, 3, 2, 1, 1, 2, 3}},
        // One segment across the whole window, either way.
        {{wave({0, 10}, {0, 10}), reals({2}), reals({4})}, {2, 4}, {2, 4}},
        {{wave({0, 10}, {10, 0}), reals({2}), reals({4})}, {6, 8}, {4, 2}},
        // Samples on the bounds are never duplicated, also when leaving
        // through one bound sample and coming back through the other.
        {{wave({0, 1, 2, 3, 2, 1, 0}, {0, 1, 2, 3, 2, 1, 0}), reals({1}), reals({3})}, {1, 2, 3, 2, 1}},
        {{wave({0, 1, 2, 3, 4}, {1, 0, 3, 4, 2}), reals({1}), reals({3})}, {0, 4.0 / 3, 2, 3.5, 4}, {1, 1, 3, 3, 2}},
    });
    // A NaN x counts as below the window.
    EXPECT_EQ(refOf(call("Truncate", {wave({0, 1, 2}, {2, kNaN, 2}), reals({1}), reals({3})})).size(), 4u);
    EXPECT_EQ(call("Truncate", {reals({1, 2})}).error, "Argument 1 in function 'Truncate' has no reference (xvalues)");
}

// ---------------------------------------------------------------- Range

TEST(IndexRange, CopiesEveryKindWithItsReferenceAndRefusesOutsideRanges) {
    auto v = wave({10, 11, 12, 13}, {0, 1, 2, 3}, PhysType::Voltage, PhysType::Time);
    auto ints = cv::Value::make(cv::Kind::Integer, 3);
    static_cast<int32_t*>(ints->mutableData())[2] = 7;
    expectCases("Range", {{{v}, {10, 11, 12, 13}, {0, 1, 2, 3}},
                          {{v, reals({1.9}), reals({2})}, {11, 12}, {1, 2}},
                          {{ints, reals({2})}, {7}}});
    auto c = call("Range", {cvtest::complexes({{1, 2}, {3, 4}, {5, 6}}), reals({1})});
    ASSERT_EQ(c.value->kind(), cv::Kind::Complex);
    EXPECT_EQ(c.value->complexAt(1), cv::cplx(5, 6));
    auto s = call("Range", {cvtest::strings({"a", "b", "c"}), reals({0}), reals({1})});
    EXPECT_EQ(cvtest::stringsOf(*s.value), (std::vector<std::string>{"a", "b"}));

    for (auto bounds : {Reals{2, 1}, Reals{-1, 1}, Reals{0, 3}, Reals{kNaN, -1}})
        EXPECT_EQ(call("Range", {reals({1, 2, 3}), reals({bounds[0]}), reals({bounds[1]})}).error,
                  "Invalid range in 'Range()' function")
            << bounds[0] << ".." << bounds[1];
    EXPECT_EQ(call("Range", {reals({})}).error, "Invalid range in 'Range()' function");
}

// ---------------------------------------------------------------- XY, XYOrdered

TEST(Pairing, TakesTheShorterLengthAndOrderedPairsSortByXStably) {
    auto y = reals({1, 2, 3})->shallowCopy(), x = reals({10, 20})->shallowCopy();
    y->setPhysType(PhysType::Voltage);
    x->setPhysType(PhysType::Time);
    x->setName("t");
    auto o = call("XY", {y, x});
    EXPECT_EQ(realsOf(*o.value), (Reals{1, 2}));
    EXPECT_EQ(refOf(o), (Reals{10, 20}));
    cvtest::expectTypes(*o.value, PhysType::Voltage, PhysType::Time);
    EXPECT_EQ(o.value->refName(), "t");
    auto swapped = call("XY", {x, y});
    EXPECT_EQ(swapped.value->size(), 2);
    EXPECT_EQ(swapped.value->ref()->size(), 2);

    o = call("XYOrdered", {reals({1, 2, 3, 4, 5}), reals({3, 1, kNaN, 2, 1})});
    EXPECT_EQ(realsOf(*o.value), (Reals{2, 5, 4, 1, 3}));
    auto sorted = refOf(o);
    EXPECT_EQ(Reals(sorted.begin(), sorted.end() - 1), (Reals{1, 1, 2, 3}));
    EXPECT_TRUE(std::isnan(sorted.back()));
    EXPECT_TRUE(noResult(call("XYOrdered", {reals({1, 2, 3}), reals({1, 2})})));
}

}  // namespace

// A long rising waveform is cut as a block; one sample that dips out of the
// window far inside it (where a bisection does not look) must still split the
// cut into two passes, each closed on the bound.
TEST(Truncation, LongWaveformsAreCutWholeOrSplitWhereTheyLeaveTheWindow) {
    Reals x(1000), y(1000);
    for (int k = 0; k < 1000; ++k) {
        x[k] = k;
        y[k] = 2 * k;
    }
    auto slice = [](const Reals& v, int from, int to) { return Reals(v.begin() + from, v.begin() + to); };
    auto join = [](std::initializer_list<Reals> parts) {
        Reals out;
        for (const Reals& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    auto whole = call("Truncate", {wave(y, x), reals({100.5}), reals({899.25})});
    EXPECT_EQ(realsOf(*whole.value), join({{201}, slice(y, 101, 900), {1798.5}}));
    EXPECT_EQ(refOf(whole), join({{100.5}, slice(x, 101, 900), {899.25}}));

    for (double dip : {-1.0, kNaN}) {
        Reals xd = x, yd = y;
        xd[600] = dip;
        yd[600] = 2 * dip;
        auto cut = call("Truncate", {wave(yd, xd), reals({100}), reals({900})});
        EXPECT_EQ(refOf(cut), join({slice(x, 100, 600), {100, 100}, slice(x, 601, 901)})) << dip;
        if (dip == -1.0) {
            EXPECT_EQ(realsOf(*cut.value), join({slice(y, 100, 600), {200, 200}, slice(y, 601, 901)}));
        }
    }
}
