// Binary operators, comparisons and the two-argument element functions:
// how operands of every kind pair line up, the element arithmetic, messages,
// references, string comparisons and divided operands.
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "TestHost.h"

using cvtest::call;
using cvtest::complexes;
using cvtest::noResult;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::strings;
using cvtest::values;

namespace {

using cplx = std::complex<double>;
using Reals = std::vector<double>;
using cv::Kind;
using cv::Value;
using cv::ValuePtr;

ValuePtr real(double x) { return Value::real(x); }

// A waveform over 0, 1 ms, 2 ms.
ValuePtr waveform(Reals y, Reals x = {0, 1e-3, 2e-3}) { return cvtest::wave(y, x, PhysType::Voltage, PhysType::Time); }

// Three divisions of two points, each against x = 0, 1.
ValuePtr threeRuns(Reals y) {
    return cvtest::dividedWave({{y[0], y[1]}, {y[2], y[3]}, {y[4], y[5]}}, {{0, 1}, {0, 1}, {0, 1}});
}

// ---------------------------------------------------------------- lining up operands

// Values of every kind pair, and single values spread over the other operand,
// are checked against numpy in the Python peer tests.
TEST(OperatorLengths, MismatchedEmptyAndSingleOperands) {
    const std::pair<ValuePtr, ValuePtr> all[] = {{reals({1, 2, 3}), reals({1, 2})},
                                                 {complexes({{1, 1}, {2, -1}, {0, 3}}), complexes({{1, 1}, {2, 2}})}};
    // Lengths 3 and 2 in either order, of every kind pair: nothing, and no
    // message; a shorter right operand is never read past its end.
    for (const auto& [lthree, ltwo] : all)
        for (const auto& [rthree, rtwo] : all) {
            EXPECT_TRUE(noResult(call("_Times", {lthree, rtwo})));
            EXPECT_TRUE(noResult(call("_Times", {ltwo, rthree})));
        }

    auto o = call("_Plus", {reals({}), reals({})});
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.value->kind(), Kind::Real);
    EXPECT_EQ(o.value->size(), 0);
    EXPECT_TRUE(noResult(call("_Plus", {reals({}), real(1)})));
    EXPECT_TRUE(noResult(call("_Minus", {complexes({}), reals({1, 2})})));
}

// ---------------------------------------------------------------- arithmetic

TEST(OperatorKernels, CommasAndPowersInEveryForm) {
    EXPECT_EQ(cvtest::complexesOf(*call("_Comma", {reals({1.5, -3}), reals({2, 0})}).value),
              (std::vector<cplx>{{1.5, 2}, {-3, 0}}));
    // A complex part turns: (a, b) is a + i b.
    EXPECT_EQ(cvtest::complexesOf(*call("_Comma", {complexes({{1, 2}}), complexes({{3, 4}})}).value),
              (std::vector<cplx>{{-3, 5}}));
    EXPECT_EQ(call("_Comma", {real(1), complexes({{0, 1}})}).value->complexAt(0), cplx(0, 0));

    // General powers of every kind pair are checked against numpy; these are
    // the squares, signs, zeros and branches.
    EXPECT_EQ(values("_Power", {reals({-3, 0, 1.5, -0.5, 7}), real(2)}), (Reals{9, 0, 2.25, 0.25, 49}));
    const std::tuple<ValuePtr, ValuePtr, cplx> cases[] = {
        {real(-2), real(3), -8}, {real(0), real(0), 1}, {Value::complex({-1, 0}), real(0.5), cplx(0, 1)},
        {real(-2), Value::complex({0.5, 0.3}), std::pow(cplx(-2), cplx(0.5, 0.3))},
        {real(0), Value::complex({0.5, 3}), 0}, {Value::complex({0, 0}), real(2), 0},
    };
    for (const auto& [x, y, want] : cases) {
        auto o = call("_Power", {x, y});
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_NEAR(std::abs(o.value->complexAt(0) - want), 0.0, 1e-13 * (1 + std::abs(want))) << want;
    }
}

TEST(OperatorKernels, ModuloComparisonsLogicAndElementFunctions) {
    const std::tuple<const char*, Reals, Reals, Reals> cases[] = {
        {"_Mod", {7, -7, 7.9, 2147483646}, {-3, 3, 3.9, 10}, {1, 1, 1, 6}},
        {"_Gt", {1, 2, 3, 0}, {2, 2, 1, 0}, {0, 0, 1, 0}},   {"_Lt", {1, 2, 3, 0}, {2, 2, 1, 0}, {1, 0, 0, 0}},
        {"_Ge", {1, 2, 3, 0}, {2, 2, 1, 0}, {0, 1, 1, 1}},   {"_Le", {1, 2, 3, 0}, {2, 2, 1, 0}, {1, 1, 0, 1}},
        {"_Eq", {1, 2, 3, 0}, {2, 2, 1, 0}, {0, 1, 0, 1}},   {"_Ne", {1, 2, 3, 0}, {2, 2, 1, 0}, {1, 0, 1, 0}},
        {"_And", {0, 0, 5, -1}, {0, 3, 0, 2}, {0, 0, 0, 1}}, {"_Or", {0, 0, 5, -1}, {0, 3, 0, 2}, {0, 1, 1, 1}},
        {"max", {1, 5, -2}, {3, 2, -2}, {3, 5, -2}},         {"min", {1, 5, -2}, {3, 2, -2}, {1, 2, -2}},
        {"atan2_deg", {1}, {-1}, {135}},
    };
    for (const auto& [name, a, b, want] : cases) EXPECT_EQ(values(name, {reals(a), reals(b)}), want) << name;
    cvtest::expectNear(values("atan2", {real(1), real(-1)}), {std::atan2(1.0, -1.0)}, 1e-15);

    // Equality across kinds: a real equals a complex number only with no imaginary part.
    const ValuePtr c = complexes({{1, 0}, {1, 1}, {2, 0}});
    EXPECT_EQ(values("_Eq", {reals({1, 1, 3}), c}), (Reals{1, 0, 0}));
    EXPECT_EQ(values("_Eq", {c, reals({1, 1, 3})}), (Reals{1, 0, 0}));
    EXPECT_EQ(values("_Ne", {c, complexes({{1, 0}, {1, -1}, {2, 0}})}), (Reals{0, 1, 0}));
    EXPECT_EQ(values("_Eq", {Value::complex({2, 0}), c}), (Reals{0, 0, 1}));
}

// ---------------------------------------------------------------- messages

TEST(OperatorMessages, DivisionByZeroOutOfRangeAndComplexOperands) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::string divide = "Divide by zero", power = "Arguments out of range for '^' operator",
                      mod = "Arguments out of range for '%' operator";
    const std::tuple<const char*, ValuePtr, ValuePtr, const std::string&> cases[] = {
        {"_Divide", reals({1, 2, 3}), reals({1, 0, 1}), divide}, {"_Divide", reals({1, 2}), real(0), divide},
        {"_Divide", real(1), complexes({{1, 0}, {0, 0}}), divide}, {"_Divide", complexes({{1, 1}}), real(0), divide},
        {"_Divide", complexes({{1, 1}, {2, 2}}), complexes({{0, 0}}), divide},
        {"_Mod", real(5), real(0.5), divide},          {"_Mod", real(5), real(0), divide},
        {"_Power", real(-8), real(1.0 / 3), power},    {"_Power", real(0), real(-1), power},
        {"_Power", reals({4, 0, 1}), real(-0.5), power}, {"_Power", real(0), complexes({{0, 1}}), power},
        {"_Power", complexes({{0, 0}}), complexes({{-1, 2}}), power}, {"_Power", complexes({{0, 0}}), real(0), power},
        {"_Mod", real(3e9), real(7), mod},             {"_Mod", real(7), real(-2147483647), mod},
        {"_Mod", real(std::nan("")), real(7), mod},    {"_Mod", real(inf), real(7), mod},
    };
    for (const auto& [name, x, y, message] : cases) EXPECT_EQ(call(name, {x, y}).error, message) << name;

    const std::pair<const char*, const char*> realOnly[] = {{"_Mod", "%"}, {"_Gt", ">"},   {"_Lt", "<"},
                                                            {"_Ge", ">="}, {"_Le", "<="},  {"_And", "&&"},
                                                            {"_Or", "||"}, {"max", "max"}, {"min", "min"}};
    for (const auto& [f, name] : realOnly) {
        const std::string message = std::string("The operator '") + name + "' requires real arguments";
        EXPECT_EQ(call(f, {complexes({{1, 2}}), complexes({{3, 4}})}).error, message);
        EXPECT_EQ(call(f, {real(1), complexes({{3, 4}})}).error, message);
        EXPECT_EQ(call(f, {complexes({{1, 2}, {3, 4}}), real(1)}).error, message);
    }
}

// ---------------------------------------------------------------- references

TEST(OperatorReferences, ResultTakesTheLongerOperandsReference) {
    const ValuePtr v = waveform({1, 2, 3});
    // A one-point waveform against a longer one: the single point's x-value
    // does not describe the result.
    for (auto o : {call("_Plus", {v, real(1)}), call("_Minus", {real(10), v}), call("_Times", {complexes({{0, 1}}), v}),
                   call("_Gt", {reals({0, 5, 1}), v}), call("_Plus", {waveform({5}, {42}), v}),
                   call("_Plus", {v, waveform({5}, {42})}),
                   // Equal lengths: the left operand's reference when it has one.
                   call("_Plus", {v, waveform({1, 1, 1}, {7, 8, 9})})}) {
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(cvtest::refOf(o), (Reals{0, 1e-3, 2e-3}));
        EXPECT_EQ(o.value->refPhysType(), PhysType::Time);
    }
    // max and min never take a reference.
    auto m = call("max", {v, v});
    ASSERT_TRUE(m.ok);
    EXPECT_FALSE(m.value->ref());
    EXPECT_FALSE(call("min", {real(0), v}).value->ref());
}

// ---------------------------------------------------------------- strings

TEST(OperatorStrings, CaseInsensitiveComparisons) {
    const ValuePtr a = strings({"abc", "ABD", "b", "", "Zeta"}), b = strings({"ABC", "abc", "a", "", "zetas"});
    const std::pair<const char*, Reals> cases[] = {
        {"_Eq", {1, 0, 0, 1, 0}}, {"_Ne", {0, 1, 1, 0, 1}}, {"_Gt", {0, 1, 1, 0, 0}},
        {"_Ge", {1, 1, 1, 1, 0}}, {"_Lt", {0, 0, 0, 0, 1}}, {"_Le", {1, 0, 0, 1, 1}},
    };
    for (const auto& [name, want] : cases) EXPECT_EQ(values(name, {a, b}), want) << name;
    // Letters fold to lower case before comparing bytes: "_" (0x5f) lies
    // between the upper- and lower-case letters.
    EXPECT_EQ(values("_Lt", {strings({"A"}), strings({"_"})}), Reals{0});

    const std::string lengths = "Arguments for string comparison must be the same length";
    EXPECT_EQ(call("_Eq", {strings({"a", "b"}), strings({"a", "b", "c"})}).error, lengths);
    EXPECT_EQ(call("_Lt", {strings({"a"}), strings({"a", "b"})}).error, lengths);
    // A string against a number compares nothing.
    EXPECT_TRUE(noResult(call("_Eq", {strings({"1"}), real(1)})));
    EXPECT_TRUE(noResult(call("_Gt", {real(1), strings({"1"})})));
}

// ---------------------------------------------------------------- divisions

TEST(OperatorDivisions, DividedOperandsKeepTheirDivisions) {
    const ValuePtr v = threeRuns({1, 2, 3, 4, 5, 6});
    auto minus = call("_Minus", {real(10), v});
    ASSERT_TRUE(minus.ok) << minus.error;
    EXPECT_EQ(minus.value->numDivisions(), 3);
    ASSERT_TRUE(minus.value->ref());
    EXPECT_EQ(realsOf(*minus.value), (Reals{9, 8, 7, 6, 5, 4}));
    auto cpx = call("_Times", {Value::complex({0, 1}), v});
    EXPECT_EQ(cpx.value->numDivisions(), 3);
    EXPECT_EQ(cpx.value->complexAt(5), cplx(0, 6));

    // max and min take divided operands whole: every division is combined,
    // not just the first.
    auto m = call("max", {real(3.5), v});
    ASSERT_TRUE(m.ok) << m.error;
    EXPECT_EQ(m.value->numDivisions(), 3);
    EXPECT_EQ(realsOf(*m.value), (Reals{3.5, 3.5, 3.5, 4, 5, 6}));
    EXPECT_EQ(values("min", {v, threeRuns({6, 5, 4, 3, 2, 1})}), (Reals{1, 2, 3, 3, 2, 1}));
    auto mw = call("min", {v, reals({0, 9})});
    EXPECT_EQ(mw.value->numDivisions(), 3);
    EXPECT_EQ(realsOf(*mw.value), (Reals{0, 2, 0, 4, 0, 6}));
    // Divisions of different lengths do not line up.
    EXPECT_TRUE(noResult(call("max", {cvtest::dividedWave({{1, 2}, {3, 4, 5}}, {{0, 1}, {0, 1, 2}}), real(0)})));
}

}  // namespace
