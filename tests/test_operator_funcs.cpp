// Binary operators, comparisons and the two-argument element functions:
// how operands of every kind pair line up, the element arithmetic, messages,
// references and physical types, string comparisons and divided operands.
#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;

namespace {

using cplx = std::complex<double>;
using cv::Kind;
using cv::Value;
using cv::ValuePtr;

ValuePtr complexes(std::vector<cplx> v) { return Value::complexes(v); }
ValuePtr strings(std::vector<std::string> v) { return Value::strings(v); }

// A waveform: values over a real reference, with physical types.
ValuePtr waveform(std::vector<double> y, std::vector<double> x, PhysType phys = PhysType::Voltage) {
    auto v = Value::make(Kind::Real, int64_t(y.size()));
    std::copy(y.begin(), y.end(), static_cast<double*>(v->mutableData()));
    v->setRef(reals(x));
    v->setPhysType(phys);
    v->setRefPhysType(PhysType::Time);
    return v;
}

ValuePtr withPhys(ValuePtr in, PhysType t) {
    auto v = in->shallowCopy();
    v->setPhysType(t);
    return v;
}

// A real vector of several divisions, each with the reference 0, 1, 2, ...
ValuePtr divided(std::vector<double> data, std::vector<int64_t> lengths) {
    auto v = Value::makeDivided(Kind::Real, lengths);
    std::copy(data.begin(), data.end(), static_cast<double*>(v->mutableData()));
    auto ref = Value::makeDivided(Kind::Real, lengths);
    double* x = static_cast<double*>(ref->mutableData());
    for (int64_t d = 0, k = 0; d < int64_t(lengths.size()); ++d)
        for (int64_t i = 0; i < lengths[size_t(d)]; ++i) x[k++] = double(i);
    v->setRef(ref);
    return v;
}

ValuePtr real(double x) { return Value::real(x); }

void expectNoResult(const cvtest::Outcome& o) {
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value->kind(), Kind::None);
}

void expectFailure(const cvtest::Outcome& o, const std::string& message) {
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, message);
}

// ---------------------------------------------------------------- lining up operands

TEST(OperatorLengths, EqualLengthsSingleValuesAndMismatchesForEveryKindPair) {
    const std::vector<double> r3{1, 2, 3}, r2{1, 2};
    const std::vector<cplx> c3{{1, 1}, {2, -1}, {0, 3}}, c2{{1, 1}, {2, 2}};
    struct Case {
        ValuePtr three, two, single;
    };
    const Case realCase{reals(r3), reals(r2), real(10)};
    const Case cpx{complexes(c3), complexes(c2), Value::complex({10, 1})};
    for (const Case* left : {&realCase, &cpx}) {
        for (const Case* right : {&realCase, &cpx}) {
            SCOPED_TRACE(std::string(left == &realCase ? "real" : "complex") + " with " +
                         (right == &realCase ? "real" : "complex"));
            auto both = call("_Plus", {left->three, right->three});
            ASSERT_TRUE(both.ok) << both.error;
            auto lhs = call("_Plus", {left->single, right->three});
            auto rhs = call("_Plus", {left->three, right->single});
            ASSERT_TRUE(lhs.ok && rhs.ok);
            ASSERT_EQ(lhs.value->size(), 3);
            ASSERT_EQ(rhs.value->size(), 3);
            for (int64_t i = 0; i < 3; ++i) {
                EXPECT_EQ(both.value->complexAt(i), left->three->complexAt(i) + right->three->complexAt(i));
                EXPECT_EQ(lhs.value->complexAt(i), left->single->complexAt(0) + right->three->complexAt(i));
                EXPECT_EQ(rhs.value->complexAt(i), left->three->complexAt(i) + right->single->complexAt(0));
            }
            // Lengths 3 and 2 in either order: nothing, and no message; a
            // shorter right operand is never read past its end.
            expectNoResult(call("_Times", {left->three, right->two}));
            expectNoResult(call("_Times", {left->two, right->three}));
        }
    }
}

TEST(OperatorLengths, EmptyOperands) {
    auto o = call("_Plus", {reals({}), reals({})});
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.value->kind(), Kind::Real);
    EXPECT_EQ(o.value->size(), 0);
    expectNoResult(call("_Plus", {reals({}), real(1)}));
    expectNoResult(call("_Minus", {complexes({}), reals({1, 2})}));
}

TEST(OperatorLengths, ScalarExpansionOnALongVector) {
    std::vector<double> v(100001);
    for (size_t i = 0; i < v.size(); ++i) v[i] = double(i);
    auto o = call("_Minus", {real(10), reals(v)});
    ASSERT_TRUE(o.ok);
    ASSERT_EQ(o.value->size(), int64_t(v.size()));
    for (size_t i = 0; i < v.size(); ++i) ASSERT_EQ(o.value->realAt(int64_t(i)), 10.0 - v[i]);
    // Lengths that are not a multiple of the unrolled step.
    for (int n : {1, 2, 3, 5, 7}) {
        std::vector<double> w(size_t(n), 2.0);
        auto p = call("max", {reals(w), real(3)});
        EXPECT_EQ(realsOf(*p.value), std::vector<double>(size_t(n), 3.0));
    }
}

// ---------------------------------------------------------------- arithmetic

TEST(OperatorKernels, ArithmeticOnRealAndComplexPairs) {
    const std::vector<cplx> a{{1.5, -2}, {-3, 0.25}, {0, 1}};
    const std::vector<cplx> b{{2, 1}, {-0.5, -4}, {3, 0}};
    const std::vector<double> ra{1.5, -3, 7}, rb{2, -0.5, 3};
    struct Op {
        const char* name;
        cplx (*f)(cplx, cplx);
    };
    const Op ops[] = {{"_Plus", [](cplx x, cplx y) { return x + y; }},
                      {"_Minus", [](cplx x, cplx y) { return x - y; }},
                      {"_Times", [](cplx x, cplx y) { return x * y; }},
                      {"_Divide", [](cplx x, cplx y) { return x / y; }},
                      {"_Comma", [](cplx x, cplx y) { return x + cplx(0, 1) * y; }}};
    for (const Op& op : ops) {
        SCOPED_TRACE(op.name);
        const std::pair<ValuePtr, ValuePtr> pairs[] = {{complexes(a), complexes(b)},
                                                       {reals(ra), complexes(b)},
                                                       {complexes(a), reals(rb)},
                                                       {reals(ra), reals(rb)}};
        for (const auto& [x, y] : pairs) {
            auto o = call(op.name, {x, y});
            ASSERT_TRUE(o.ok) << o.error;
            const bool complexResult = x->kind() == Kind::Complex || y->kind() == Kind::Complex ||
                                       std::string(op.name) == "_Comma";
            EXPECT_EQ(o.value->kind(), complexResult ? Kind::Complex : Kind::Real);
            for (int64_t i = 0; i < 3; ++i) {
                cplx want = op.f(x->complexAt(i), y->complexAt(i));
                EXPECT_NEAR(std::abs(o.value->complexAt(i) - want), 0.0, 1e-14 * std::abs(want)) << i;
            }
        }
    }
}

TEST(OperatorKernels, PowersInEveryForm) {
    auto power = [](ValuePtr x, ValuePtr y) { return call("_Power", {x, y}).value->complexAt(0); };
    auto near = [](cplx got, cplx want) { EXPECT_NEAR(std::abs(got - want), 0.0, 1e-13 * (1 + std::abs(want))); };
    EXPECT_EQ(power(real(2), real(10)).real(), 1024.0);
    EXPECT_EQ(power(real(-2), real(3)).real(), -8.0);
    EXPECT_EQ(power(real(0), real(0)).real(), 1.0);
    EXPECT_EQ(realsOf(*call("_Power", {reals({-3, 0, 1.5, -0.5, 7}), real(2)}).value),
              (std::vector<double>{9, 0, 2.25, 0.25, 49}));
    near(power(real(2), Value::complex({1, 2})), std::pow(cplx(2), cplx(1, 2)));
    near(power(real(-2), Value::complex({0.5, 0.3})), std::pow(cplx(-2), cplx(0.5, 0.3)));
    near(power(real(0), Value::complex({0.5, 3})), 0.0);
    near(power(Value::complex({1, 1}), real(2)), cplx(0, 2));
    near(power(Value::complex({-1, 0}), real(0.5)), cplx(0, 1));
    near(power(Value::complex({1, 1}), Value::complex({2, 0.5})), std::pow(cplx(1, 1), cplx(2, 0.5)));
    near(power(Value::complex({0, 0}), real(2)), 0.0);
}

TEST(OperatorKernels, ModuloComparisonsLogicAndElementFunctions) {
    auto one = [](const char* f, double a, double b) { return call(f, {real(a), real(b)}).value->realAt(0); };
    EXPECT_EQ(one("_Mod", 7, -3), 1.0);
    EXPECT_EQ(one("_Mod", -7, 3), 1.0);
    EXPECT_EQ(one("_Mod", 7.9, 3.9), 1.0);
    EXPECT_EQ(one("_Mod", 2147483646, 10), 6.0);

    auto vec = [](const char* f, std::vector<double> a, std::vector<double> b) {
        return realsOf(*call(f, {reals(a), reals(b)}).value);
    };
    const std::vector<double> a{1, 2, 3, 0}, b{2, 2, 1, 0};
    EXPECT_EQ(vec("_Gt", a, b), (std::vector<double>{0, 0, 1, 0}));
    EXPECT_EQ(vec("_Lt", a, b), (std::vector<double>{1, 0, 0, 0}));
    EXPECT_EQ(vec("_Ge", a, b), (std::vector<double>{0, 1, 1, 1}));
    EXPECT_EQ(vec("_Le", a, b), (std::vector<double>{1, 1, 0, 1}));
    EXPECT_EQ(vec("_Eq", a, b), (std::vector<double>{0, 1, 0, 1}));
    EXPECT_EQ(vec("_Ne", a, b), (std::vector<double>{1, 0, 1, 0}));
    EXPECT_EQ(vec("_And", {0, 0, 5, -1}, {0, 3, 0, 2}), (std::vector<double>{0, 0, 0, 1}));
    EXPECT_EQ(vec("_Or", {0, 0, 5, -1}, {0, 3, 0, 2}), (std::vector<double>{0, 1, 1, 1}));
    EXPECT_EQ(vec("max", {1, 5, -2}, {3, 2, -2}), (std::vector<double>{3, 5, -2}));
    EXPECT_EQ(vec("min", {1, 5, -2}, {3, 2, -2}), (std::vector<double>{1, 2, -2}));
    EXPECT_DOUBLE_EQ(one("atan2", 1, -1), std::atan2(1.0, -1.0));
    EXPECT_DOUBLE_EQ(one("atan2_deg", 1, -1), 135.0);

    // Equality across kinds: a real equals a complex number only with no imaginary part.
    auto eq = [](const char* f, ValuePtr x, ValuePtr y) { return realsOf(*call(f, {x, y}).value); };
    const ValuePtr c = complexes({{1, 0}, {1, 1}, {2, 0}});
    EXPECT_EQ(eq("_Eq", reals({1, 1, 3}), c), (std::vector<double>{1, 0, 0}));
    EXPECT_EQ(eq("_Eq", c, reals({1, 1, 3})), (std::vector<double>{1, 0, 0}));
    EXPECT_EQ(eq("_Ne", c, complexes({{1, 0}, {1, -1}, {2, 0}})), (std::vector<double>{0, 1, 0}));
    EXPECT_EQ(eq("_Eq", Value::complex({2, 0}), c), (std::vector<double>{0, 0, 1}));
}

// ---------------------------------------------------------------- messages

TEST(OperatorMessages, DivisionByZeroAndOutOfRange) {
    const std::string divide = "Divide by zero";
    expectFailure(call("_Divide", {reals({1, 2, 3}), reals({1, 0, 1})}), divide);
    expectFailure(call("_Divide", {reals({1, 2}), real(0)}), divide);
    expectFailure(call("_Divide", {real(1), complexes({{1, 0}, {0, 0}})}), divide);
    expectFailure(call("_Divide", {complexes({{1, 1}}), real(0)}), divide);
    expectFailure(call("_Divide", {complexes({{1, 1}, {2, 2}}), complexes({{0, 0}})}), divide);
    expectFailure(call("_Mod", {real(5), real(0.5)}), divide);
    expectFailure(call("_Mod", {real(5), real(0)}), divide);

    const std::string power = "Arguments out of range for '^' operator";
    expectFailure(call("_Power", {real(-8), real(1.0 / 3)}), power);
    expectFailure(call("_Power", {real(0), real(-1)}), power);
    expectFailure(call("_Power", {reals({4, 0, 1}), real(-0.5)}), power);
    expectFailure(call("_Power", {real(0), complexes({{0, 1}})}), power);
    expectFailure(call("_Power", {complexes({{0, 0}}), complexes({{-1, 2}})}), power);
    expectFailure(call("_Power", {complexes({{0, 0}}), real(0)}), power);

    const std::string mod = "Arguments out of range for '%' operator";
    expectFailure(call("_Mod", {real(3e9), real(7)}), mod);
    expectFailure(call("_Mod", {real(7), real(-2147483647)}), mod);
    expectFailure(call("_Mod", {real(std::nan("")), real(7)}), mod);
    expectFailure(call("_Mod", {real(std::numeric_limits<double>::infinity()), real(7)}), mod);
}

TEST(OperatorMessages, ComplexOperandsToRealOnlyOperations) {
    const std::pair<const char*, const char*> realOnly[] = {{"_Mod", "%"}, {"_Gt", ">"},   {"_Lt", "<"},
                                                            {"_Ge", ">="}, {"_Le", "<="},  {"_And", "&&"},
                                                            {"_Or", "||"}, {"max", "max"}, {"min", "min"}};
    for (const auto& [f, name] : realOnly) {
        SCOPED_TRACE(f);
        const std::string message = std::string("The operator '") + name + "' requires real arguments";
        expectFailure(call(f, {complexes({{1, 2}}), complexes({{3, 4}})}), message);
        expectFailure(call(f, {real(1), complexes({{3, 4}})}), message);
        expectFailure(call(f, {complexes({{1, 2}, {3, 4}}), real(1)}), message);
    }
    // atan2 and atan2_deg declare real arguments: the host refuses complex ones before the call.
    EXPECT_FALSE(call("atan2", {complexes({{1, 2}}), real(1)}).ok);
}

// ---------------------------------------------------------------- references and physical types

TEST(OperatorReferences, ResultTakesTheLongerOperandsReference) {
    const ValuePtr v = waveform({1, 2, 3}, {0, 1e-3, 2e-3});
    auto keep = [&](const cvtest::Outcome& o) {
        ASSERT_TRUE(o.ok) << o.error;
        ASSERT_TRUE(o.value->ref());
        EXPECT_EQ(realsOf(*o.value->ref()), (std::vector<double>{0, 1e-3, 2e-3}));
        EXPECT_EQ(o.value->refPhysType(), PhysType::Time);
    };
    keep(call("_Plus", {v, real(1)}));
    keep(call("_Minus", {real(10), v}));
    keep(call("_Times", {complexes({{0, 1}}), v}));
    keep(call("_Gt", {reals({0, 5, 1}), v}));

    // A one-point waveform against a longer one: the single point's x-value
    // does not describe the result.
    keep(call("_Plus", {waveform({5}, {42}), v}));
    keep(call("_Plus", {v, waveform({5}, {42})}));

    // Equal lengths: the left operand's reference when it has one.
    auto both = call("_Plus", {v, waveform({1, 1, 1}, {7, 8, 9})});
    EXPECT_EQ(realsOf(*both.value->ref()), (std::vector<double>{0, 1e-3, 2e-3}));

    // max and min never take a reference.
    auto m = call("max", {v, v});
    ASSERT_TRUE(m.ok);
    EXPECT_FALSE(m.value->ref());
    EXPECT_FALSE(call("min", {real(0), v}).value->ref());
}

TEST(OperatorReferences, PhysicalTypesOfResults) {
    const ValuePtr volts = withPhys(reals({1, 2}), PhysType::Voltage);
    const ValuePtr amps = withPhys(reals({2, 4}), PhysType::Current);
    EXPECT_EQ(call("_Times", {volts, amps}).value->physType(), PhysType::Power);
    EXPECT_EQ(call("_Divide", {volts, amps}).value->physType(), PhysType::Resistance);
    EXPECT_EQ(call("_Plus", {volts, volts}).value->physType(), PhysType::Voltage);
    EXPECT_EQ(call("max", {volts, volts}).value->physType(), PhysType::Voltage);
    EXPECT_EQ(call("_Power", {volts, real(2)}).value->physType(), PhysType::Unknown);
    EXPECT_EQ(call("_Gt", {volts, volts}).value->physType(), PhysType::None);
    EXPECT_EQ(call("atan2", {volts, amps}).value->physType(), PhysType::None);
}

// ---------------------------------------------------------------- strings

TEST(OperatorStrings, CaseInsensitiveComparisons) {
    const ValuePtr a = strings({"abc", "ABD", "b", "", "Zeta"});
    const ValuePtr b = strings({"ABC", "abc", "a", "", "zetas"});
    auto cmp = [&](const char* f) {
        auto o = call(f, {a, b});
        EXPECT_TRUE(o.ok) << o.error;
        return realsOf(*o.value);
    };
    EXPECT_EQ(cmp("_Eq"), (std::vector<double>{1, 0, 0, 1, 0}));
    EXPECT_EQ(cmp("_Ne"), (std::vector<double>{0, 1, 1, 0, 1}));
    EXPECT_EQ(cmp("_Gt"), (std::vector<double>{0, 1, 1, 0, 0}));
    EXPECT_EQ(cmp("_Ge"), (std::vector<double>{1, 1, 1, 1, 0}));
    EXPECT_EQ(cmp("_Lt"), (std::vector<double>{0, 0, 0, 0, 1}));
    EXPECT_EQ(cmp("_Le"), (std::vector<double>{1, 0, 0, 1, 1}));

    // Letters fold to lower case before comparing bytes: "_" (0x5f) lies
    // between the upper- and lower-case letters.
    EXPECT_EQ(realsOf(*call("_Lt", {strings({"A"}), strings({"_"})}).value), std::vector<double>{0});

    expectFailure(call("_Eq", {strings({"a", "b"}), strings({"a", "b", "c"})}),
                  "Arguments for string comparison must be the same length");
    expectFailure(call("_Lt", {strings({"a"}), strings({"a", "b"})}),
                  "Arguments for string comparison must be the same length");
    // A string against a number compares nothing.
    expectNoResult(call("_Eq", {strings({"1"}), real(1)}));
    expectNoResult(call("_Gt", {real(1), strings({"1"})}));
}

// ---------------------------------------------------------------- divisions

TEST(OperatorDivisions, DividedOperandsKeepTheirDivisions) {
    const ValuePtr v = divided({1, 2, 3, 4, 5, 6}, {2, 2, 2});
    auto plus = call("_Plus", {v, real(10)});
    ASSERT_TRUE(plus.ok) << plus.error;
    EXPECT_EQ(plus.value->numDivisions(), 3);
    EXPECT_EQ(realsOf(*plus.value), (std::vector<double>{11, 12, 13, 14, 15, 16}));
    ASSERT_TRUE(plus.value->ref());

    auto minus = call("_Minus", {real(10), v});
    EXPECT_EQ(minus.value->numDivisions(), 3);
    EXPECT_EQ(realsOf(*minus.value), (std::vector<double>{9, 8, 7, 6, 5, 4}));

    auto cpx = call("_Times", {Value::complex({0, 1}), v});
    EXPECT_EQ(cpx.value->numDivisions(), 3);
    EXPECT_EQ(cpx.value->complexAt(5), cplx(0, 6));

    // max and min take divided operands whole: every division is combined,
    // not just the first.
    auto m = call("max", {real(3.5), v});
    ASSERT_TRUE(m.ok) << m.error;
    EXPECT_EQ(m.value->numDivisions(), 3);
    EXPECT_EQ(realsOf(*m.value), (std::vector<double>{3.5, 3.5, 3.5, 4, 5, 6}));
    auto mm = call("min", {v, divided({6, 5, 4, 3, 2, 1}, {2, 2, 2})});
    EXPECT_EQ(realsOf(*mm.value), (std::vector<double>{1, 2, 3, 3, 2, 1}));
    auto mw = call("min", {v, reals({0, 9})});
    EXPECT_EQ(mw.value->numDivisions(), 3);
    EXPECT_EQ(realsOf(*mw.value), (std::vector<double>{0, 2, 0, 4, 0, 6}));
    // Divisions of different lengths do not line up.
    expectNoResult(call("max", {divided({1, 2, 3, 4, 5}, {2, 3}), real(0)}));
}

}  // namespace
