// Vector construction, element-wise extremes and waveform calculus, through
// the function table: counts (and counts that cannot be allocated), divided
// results, references and physical types, and the calculus values.
#include <cmath>
#include <limits>

#include "OptionStore.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::wave;
using cvtest::dividedWave;
using cvtest::noResult;
using cvtest::values;

namespace {

using Reals = std::vector<double>;

std::vector<int32_t> integersOf(const cv::Value& v) {
    return v.integers() ? std::vector<int32_t>(v.integers(), v.integers() + v.size()) : std::vector<int32_t>{};
}

TEST(VectorCounts, CountsAreAbsoluteTruncatedAndLengthsMakeDivisions) {
    EXPECT_EQ(integersOf(*call("vector", {reals({0})}).value), (std::vector<int32_t>{0}));
    EXPECT_EQ(integersOf(*call("vector", {reals({3.9})}).value), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(integersOf(*call("unitvec", {reals({-2.7})}).value), (std::vector<int32_t>{1, 1}));
    EXPECT_TRUE(noResult(call("unitvec", {reals({0.5})})));
    EXPECT_TRUE(noResult(call("makecomplexvec", {reals({0})})));
    auto z = call("makecomplexvec", {reals({2})}).value;
    EXPECT_TRUE(z->kind() == cv::Kind::Complex && z->size() == 2);
    EXPECT_TRUE(noResult(call("vector", {reals({})})));
    auto v = call("makevec", {reals({2, -3.5})}).value;
    EXPECT_EQ(v->divisionLengths(), (std::vector<int64_t>{2, 3}));
    EXPECT_EQ(realsOf(*v), (Reals(5, 0.0)));
}

TEST(VectorCounts, CountsThatCannotBeAllocatedEndInOneMessage) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    for (const char* f : {"makevec", "vector", "unitvec", "makecomplexvec"})
        for (double n : {1e15, -1e15, 2147483648.0, inf, nan}) {
            auto o = call(f, {reals({n})});
            EXPECT_FALSE(o.ok) << f << "(" << n << ")";
            EXPECT_EQ(o.error, std::string("Count out of range in function '") + f + "'");
        }
    // Division lengths: each must fit 64 bits, and so must their sum.
    for (Reals lengths : {Reals{9e18, 9e18}, Reals{1e300, 1}, Reals{2, nan}})
        EXPECT_EQ(call("makevec", {reals(lengths)}).error, "Count out of range in function 'makevec'");
    EXPECT_EQ(call("makevec", {reals({1e15, 1e15})}).error, "Not enough memory to complete function 'makevec'");
}

TEST(CalculusTypes, ResultsTakeTheRulesOfTheirPhysicalTypes) {
    auto v = wave({1, 2}, {0, 1}, PhysType::Voltage, PhysType::Time);
    const std::pair<const char*, PhysType> types[] = {
        {"integ", PhysType::mult(PhysType::Voltage, PhysType::Time)}, {"avg", PhysType::Voltage},
        {"diff", PhysType::div(PhysType::Voltage, PhysType::Time)}};
    for (const auto& [name, type] : types) cvtest::expectTypes(*call(name, {v}).value, type, PhysType::Time);
    // Without x-values diff is the difference of neighbours, of the values' own type.
    auto plain = cv::Value::make(cv::Kind::Real, 2);
    plain->setPhysType(PhysType::Voltage);
    auto d = call("diff", {plain}).value;
    EXPECT_TRUE(d->physType() == PhysType::Voltage && !d->ref());
    // Val copies the values and their types, not the name.
    auto named = wave({1, 2}, {5, 6}, PhysType::Current, PhysType::Time);
    std::const_pointer_cast<cv::Value>(named)->setName("i1");
    auto copy = call("Val", {named}).value;
    cvtest::expectTypes(*copy, PhysType::Current, PhysType::Time);
    EXPECT_EQ(copy->name(), "");
    // Element-wise extremes keep a type their arguments share.
    auto volts = [](double y) { return wave({y}, {0}, PhysType::Voltage); };
    EXPECT_EQ(call("MaxN", {volts(1), volts(2)}).value->physType(), PhysType::Voltage);
    EXPECT_EQ(call("MinN", {volts(1), wave({2}, {0}, PhysType::Current)}).value->physType(), PhysType::Unknown);
}

TEST(CalculusValues, IntegralAndAverageFollowTheTrapezoidRule) {
    // The running integral on uneven grids is checked against numpy in the
    // Python peer tests; the average divides it by the elapsed x.
    EXPECT_EQ(values("avg", {wave({1, 1, 1}, {0, 1, 2})}), (Reals{0, 1, 1}));
    EXPECT_EQ(values("integ", {wave({2, 2}, {1, 0})}), (Reals{0, -2}));  // x in stored order, falling
    EXPECT_EQ(call("integ", {reals({})}).error, "Argument out of range for function 'integ'");
    EXPECT_EQ(call("avg", {reals({1, 2})}).error, "Argument 1 in function 'avg' has no reference (xvalues)");
}

TEST(CalculusValues, DerivativeHandlesUnevenAndRepeatedSteps) {
    // Distinct uneven steps are checked against numpy in the Python peer tests.
    EXPECT_EQ(values("diff", {reals({1, 4, 9})}), (Reals{3, 3, 5}));
    // A repeated x is crossed, the derivative interpolated over it.
    EXPECT_EQ(values("diff", {wave({0, 1, 5, 3}, {0, 1, 1, 2})}), (Reals{1, 1, 1, 2}));
    EXPECT_EQ(values("diff", {wave({0, 1, 1, 3}, {0, 1, 1.5, 2})}), (Reals{1, 1, 0, 4}));
    // Repeated x at the end: the last slope carries on rather than 0/0.
    EXPECT_EQ(values("diff", {wave({0, 1, 3, 7}, {0, 1, 2, 2})}), (Reals{1, 1, 2, 2}));
    EXPECT_TRUE(std::isnan(values("diff", {wave({0, 1}, {3, 3})})[1]));
    // Steps far below the mean step are taken together.
    cv::OptionStore::global().set("DerivAcceptFactor", "0.5");
    auto wide = values("diff", {wave({0, 0.1, 4, 6}, {0, 0.01, 2, 3})});
    cv::OptionStore::global().reset("DerivAcceptFactor");
    EXPECT_EQ(wide, (Reals{2, 2, 2, 2}));
    EXPECT_EQ(call("diff", {wave({1}, {0})}).error, "Argument out of range for function 'diff'");
}

// Values are checked against numpy in the Python peer tests.
TEST(CalculusValues, AreaNeedsLimitsInsideAndMonotonicXValues) {
    for (auto args : {std::vector<cv::ValuePtr>{wave({0, 1, 2}, {0, 1, 2}), reals({-1}), reals({2})},
                      {wave({1, 2, 3}, {0, 2, 1})}, {reals({1, 2})}})
        EXPECT_TRUE(noResult(call("area", args)));
    // Arguments passed whole are read from all their divisions, also past an
    // empty first one.
    const auto late = dividedWave({{}, {2.5, 9}}, {{}, {0, 1}});
    EXPECT_EQ(values("area", {wave({0, 1, 2, 3}, {0, 1, 2, 3}), late}), Reals{1.375});
    EXPECT_EQ(values("Floor", {late}), Reals{2});
}

TEST(VectorJoins, KindsDecideAndExtremesNeedEqualLengths) {
    EXPECT_EQ(values("JoinVectors", {reals({1}), reals({2, 3})}), (Reals{1, 2, 3}));
    const std::vector<std::string> words{"a", "bc"};
    EXPECT_EQ(cvtest::texts("JoinVectors", {reals({}), cv::Value::strings(words)}), words);
    EXPECT_TRUE(noResult(call("JoinVectors", {reals({1}), cv::Value::strings(words)})));
    EXPECT_EQ(values("MaxN", {reals({1, 5}), reals({3, 2})}), (Reals{3, 5}));
    EXPECT_EQ(values("MinN", {reals({1, 5}), reals({3, 2}), reals({0, 9})}), (Reals{0, 2}));
    EXPECT_TRUE(noResult(call("MaxN", {reals({1, 5}), reals({3})})));
    EXPECT_EQ(values("Floor", {reals({-2.5, 7})}), (Reals{-3}));
}

}  // namespace

// Long waveforms are differenced by blocks of steps; a repeated x must be
// crossed the same way wherever it falls: first step, either side of a block
// edge, deep inside, last step, or every other step.
TEST(CalculusValues, DerivativeOfLongWaveformsCrossesRepeatedStepsAnywhere) {
    const int n = 1000;
    auto slope = [](const Reals& y, const Reals& x, int a, int b) { return (y[b] - y[a]) / (x[b] - x[a]); };
    Reals x(n), y(n);
    for (int k = 0; k < n; ++k) y[k] = std::sin(0.01 * k);
    for (int p : {1, 2, 255, 256, 257, 600, n - 1}) {
        for (int k = 0; k < n; ++k) x[k] = k - (k >= p);  // x[p] repeats x[p - 1]
        Reals want(n);
        for (int k = 1; k < n; ++k) want[k] = k == p ? 0 : slope(y, x, k - 1, k);
        if (p < n - 1) {
            // The slope is taken across both steps; the repeated point keeps the one before.
            want[p + 1] = slope(y, x, p - 1, p + 1);
            want[p] = p > 1 ? want[p - 1] : want[p + 1];
        } else {
            want[p] = want[p - 1];  // at the end the last slope carries on
        }
        want[0] = want[1];
        EXPECT_EQ(values("diff", {wave(y, x)}), want) << "repeated x at " << p;
    }
    for (int k = 0; k < n; ++k) x[k] = k / 2;
    const Reals d = values("diff", {wave(y, x)});
    ASSERT_EQ(d.size(), size_t(n));
    for (int k = 2; k < n; k += 2) {
        EXPECT_EQ(d[k], slope(y, x, k - 2, k)) << k;
        EXPECT_EQ(d[k + 1], d[k]) << k + 1;
    }
    EXPECT_TRUE(d[0] == d[2] && d[1] == d[2]);
}
