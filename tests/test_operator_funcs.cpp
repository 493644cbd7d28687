// Binary operators, comparisons and the two-argument element functions:
// how operands of every kind pair line up, the element arithmetic, messages,
// references, string comparisons and divided operands.
#include <cmath>
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

    EXPECT_EQ(values("_Plus", {reals({}), reals({})}), Reals{});
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
    const ValuePtr l = reals({1, 2, 3, 0}), r = reals({2, 2, 1, 0}), p = reals({0, 0, 5, -1}), q = reals({0, 3, 0, 2});
    const std::tuple<const char*, ValuePtr, ValuePtr, Reals> cases[] = {
        {"_Gt", l, r, {0, 0, 1, 0}},  {"_Lt", l, r, {1, 0, 0, 0}},  {"_Ge", l, r, {0, 1, 1, 1}},
        {"_Le", l, r, {1, 1, 0, 1}},  {"_Eq", l, r, {0, 1, 0, 1}},  {"_Ne", l, r, {1, 0, 1, 0}},
        {"max", l, r, {2, 2, 3, 0}},  {"min", l, r, {1, 2, 1, 0}},  {"_And", p, q, {0, 0, 0, 1}},
        {"_Or", p, q, {0, 1, 1, 1}},  {"atan2_deg", real(1), real(-1), {135}},
        {"_Mod", reals({7, -7, 7.9, 2147483646}), reals({-3, 3, 3.9, 10}), {1, 1, 1, 6}},
    };
    for (const auto& [name, a, b, want] : cases) EXPECT_EQ(values(name, {a, b}), want) << name;
    cvtest::expectNear(values("atan2", {real(1), real(-1)}), {std::atan2(1.0, -1.0)}, 1e-15);

    // Equality across kinds: a real equals a complex number only with no imaginary part.
    const ValuePtr c = complexes({{1, 0}, {1, 1}, {2, 0}});
    EXPECT_EQ(values("_Eq", {reals({1, 1, 3}), c}), (Reals{1, 0, 0}));
    EXPECT_EQ(values("_Ne", {c, complexes({{1, 0}, {1, -1}, {2, 0}})}), (Reals{0, 1, 0}));
    EXPECT_EQ(values("_Eq", {Value::complex({2, 0}), c}), (Reals{0, 0, 1}));
}

// ---------------------------------------------------------------- messages

TEST(OperatorMessages, DivisionByZeroOutOfRangeAndComplexOperands) {
    const std::string divide = "Divide by zero", power = "Arguments out of range for '^' operator",
                      mod = "Arguments out of range for '%' operator";
    const std::tuple<const char*, ValuePtr, ValuePtr, const std::string&> cases[] = {
        {"_Divide", reals({1, 2, 3}), reals({1, 0, 1}), divide}, {"_Divide", reals({1, 2}), real(0), divide},
        {"_Divide", real(1), complexes({{1, 0}, {0, 0}}), divide}, {"_Divide", complexes({{1, 1}}), real(0), divide},
        {"_Mod", real(5), real(0.5), divide},          {"_Power", real(-8), real(1.0 / 3), power},
        {"_Power", reals({4, 0, 1}), real(-0.5), power}, {"_Power", real(0), complexes({{0, 1}}), power},
        {"_Power", complexes({{0, 0}}), complexes({{-1, 2}}), power}, {"_Power", complexes({{0, 0}}), real(0), power},
        {"_Mod", real(3e9), real(7), mod},             {"_Mod", real(7), real(-2147483647), mod},
        {"_Mod", real(std::nan("")), real(7), mod},    {"_Mod", real(INFINITY), real(7), mod},
    };
    for (const auto& [name, x, y, message] : cases) EXPECT_EQ(call(name, {x, y}).error, message) << name;

    // Every real-only operator refuses a complex operand on either side.
    for (const char* f : {"_Mod", "_Gt", "_Lt", "_Ge", "_Le", "_And", "_Or", "max", "min"}) {
        const auto o = call(f, {real(1), complexes({{3, 4}})});
        EXPECT_NE(o.error.find("requires real arguments"), std::string::npos) << f;
        EXPECT_FALSE(call(f, {complexes({{1, 2}, {3, 4}}), real(1)}).ok) << f;
    }
    EXPECT_EQ(call("_Ge", {complexes({{1, 2}}), complexes({{3, 4}})}).error,
              "The operator '>=' requires real arguments");
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
    for (auto o : {call("max", {v, v}), call("min", {real(0), v})}) EXPECT_TRUE(o.ok && !o.value->ref());
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

    EXPECT_EQ(call("_Lt", {strings({"a"}), strings({"a", "b"})}).error,
              "Arguments for string comparison must be the same length");
    // A string against a number compares nothing.
    for (auto o : {call("_Eq", {strings({"1"}), real(1)}), call("_Gt", {real(1), strings({"1"})})})
        EXPECT_TRUE(noResult(o));
}

// ---------------------------------------------------------------- divisions

TEST(OperatorDivisions, DividedOperandsKeepTheirDivisions) {
    const ValuePtr v = threeRuns({1, 2, 3, 4, 5, 6});
    // The number of divisions and the values of a call that must succeed.
    auto divided = [](const cvtest::Outcome& o) {
        EXPECT_TRUE(o.ok) << o.error;
        return o.ok ? std::pair{int(o.value->numDivisions()), realsOf(*o.value)} : std::pair{-1, Reals{}};
    };
    const auto minus = call("_Minus", {real(10), v});
    EXPECT_EQ(divided(minus), std::pair(3, Reals{9, 8, 7, 6, 5, 4}));
    EXPECT_TRUE(minus.value->ref());
    const auto cpx = call("_Times", {Value::complex({0, 1}), v});
    EXPECT_TRUE(cpx.ok && cpx.value->numDivisions() == 3 && cpx.value->complexAt(5) == cplx(0, 6));

    // max and min take divided operands whole: every division is combined,
    // not just the first.
    EXPECT_EQ(divided(call("max", {real(3.5), v})), std::pair(3, Reals{3.5, 3.5, 3.5, 4, 5, 6}));
    EXPECT_EQ(values("min", {v, threeRuns({6, 5, 4, 3, 2, 1})}), (Reals{1, 2, 3, 3, 2, 1}));
    EXPECT_EQ(divided(call("min", {v, reals({0, 9})})), std::pair(3, Reals{0, 2, 0, 4, 0, 6}));
    // Divisions of different lengths do not line up.
    EXPECT_TRUE(noResult(call("max", {cvtest::dividedWave({{1, 2}, {3, 4, 5}}, {{0, 1}, {0, 1, 2}}), real(0)})));
}

}  // namespace
