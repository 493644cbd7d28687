// Elementary functions on one vector: kernel choice by argument kind, the
// statuses and their messages, references and physical types and reductions;
// then the measures of a whole vector: group delay, element
// access and the counts. Complex kernels and phase unwrapping are checked
// against numpy in the Python peer tests.
#include <cmath>
#include <limits>
#include <tuple>

#include "TestHost.h"

using cvtest::call;
using cvtest::complexes;
using cvtest::complexesOf;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::values;

namespace {

using cplx = std::complex<double>;
using Reals = std::vector<double>;
using cv::Kind;
using cv::Value;
using cv::ValuePtr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ValuePtr withRef(ValuePtr values, ValuePtr x, PhysType phys = PhysType::None, PhysType refPhys = PhysType::None) {
    auto v = values->shallowCopy();
    v->setRef(std::move(x));
    v->setPhysType(phys);
    v->setRefPhysType(refPhys);
    return v;
}

std::string outOfRange(const std::string& name) { return "Argument out of range for function '" + name + "'"; }
std::string overflow(const std::string& name) { return "Overflow in function '" + name + "'"; }

// ---------------------------------------------------------------- kernel choice

TEST(UnaryKernels, ComplexPartsUnderEveryNameAreReal) {
    for (const char* name : {"re", "real", "im", "imag", "abs", "mag", "magnitude"}) {
        auto o = call(name, {complexes({{-1.5, 2.5}})});
        ASSERT_TRUE(o.ok) << name;
        EXPECT_EQ(o.value->kind(), Kind::Real) << name;
        double want = name[0] == 'r' ? -1.5 : name[0] == 'i' ? 2.5 : std::hypot(1.5, 2.5);
        EXPECT_NEAR(o.value->realAt(0), want, 1e-15) << name;
    }
}

TEST(UnaryKernels, RealArgumentsTakeTheRealKernels) {
    const std::tuple<const char*, Reals, Reals> cases[] = {
        {"sign", {-2, 0, 3}, {0, 0, 1}}, {"_Not", {0, 2, kNaN}, {1, 0, 0}}, {"floorv", {-1.5, 2.5}, {-2, 2}},
        {"db", {0, -10, 0.1}, {-6160, 20, -20}}, {"_UMinus", {2}, {-2}},
    };
    for (const auto& [name, in, want] : cases) EXPECT_EQ(values(name, {reals(in)}), want) << name;
    // Phases and imaginary parts of reals are 0 whatever the sign.
    for (const char* name : {"phase", "ph", "phase_rad", "arg", "arg_rad", "im"})
        EXPECT_EQ(values(name, {reals({-3, 0, 2})}), (Reals{0, 0, 0})) << name;
    EXPECT_TRUE(std::signbit(call("_UMinus", {reals({0})}).value->realAt(0)));
    cvtest::expectNear(values("sin_deg", {reals({30})}), {0.5}, 1e-15);
    cvtest::expectNear(values("atan_deg", {reals({1})}), {45}, 1e-13);
    cvtest::expectNear(values("log10", {reals({1000})}), {3}, 1e-15);
}

TEST(UnaryKernels, ComplexSpecialPoints) {
    // The angle of a zero is 0 also for negative zeros, where atan2 gives pi.
    EXPECT_EQ(values("arg", {complexes({{-0.0, -0.0}, {0, 1}, {-1, 0}})}), (Reals{0, 90, 180}));
    EXPECT_EQ(values("db", {complexes({{0, 0}})}), Reals{-6160});
    // Degree variants compute in radians on complex input.
    EXPECT_EQ(complexesOf(*call("sin_deg", {complexes({{1, 0.5}})}).value),
              complexesOf(*call("sin", {complexes({{1, 0.5}})}).value));
    auto th = complexesOf(*call("tanh", {complexes({{30, 1}, {-400, 1}, {2, 0}})}).value);
    EXPECT_EQ(th[0].real(), 1);
    EXPECT_NEAR(th[0].imag(), 2 * std::sin(2.0) * std::exp(-60.0), 1e-40);
    EXPECT_EQ(th[1], cplx(-1, 0));
    EXPECT_EQ(th[2], cplx(std::tanh(2.0), 0));
}

TEST(UnaryKernels, NormAndRandomValues) {
    EXPECT_EQ(values("norm", {reals({1, -4, 2})}), (Reals{0.25, -1, 0.5}));
    EXPECT_EQ(call("norm", {complexes({{3, 4}, {1, 0}})}).value->complexAt(0), cplx(0.6, 0.8));
    Reals v = values("rnd", {reals(Reals(8, 1.0))});
    for (double x : v) EXPECT_TRUE(x >= 0 && x <= 1);
    EXPECT_GT(*std::max_element(v.begin(), v.end()), *std::min_element(v.begin(), v.end()));  // not one value
    EXPECT_LE(values("rnd", {reals({-2})}).at(0), 0);
}

// ---------------------------------------------------------------- statuses and messages

TEST(UnaryMessages, EachFailureNamesTheTableEntry) {
    const std::tuple<const char*, ValuePtr, std::string> failures[] = {
        // Complex arguments to real-only entries; sign and rnd are declared
        // real, so the host refuses those before the call.
        {"_Not", complexes({{1, 1}}), "The function '!' requires a real argument"},
        {"floorv", complexes({{1, 1}}), "The function 'floorv' requires a real argument"},
        // Domain errors, named by the entry ("log" for log10 too).
        {"log10", reals({0, 100, -1}), outOfRange("log")},
        {"atanh", complexes({{1, 0}, {0, 0.5}}), outOfRange("atanh")},
        // Overflows, only on the upper side for the hyperbolic functions; the poles of atan.
        {"exp", reals({1, 800, 2}), overflow("exp")},  {"sinh", reals({709.016}), overflow("sinh")},
        {"exp", complexes({{710, 0}}), overflow("exp")}, {"cosh", complexes({{-800, 1}}), overflow("cosh")},
        {"atan_deg", complexes({{0, 1}}), overflow("atan_deg")},
        // A zero vector has no largest element to normalise by.
        {"norm", reals({0, 0, -0.0}), "Cannot normalise zero vector"}, {"norm", complexes({{0, 0}}), "Cannot normalise zero vector"},
    };
    for (const auto& [name, arg, message] : failures) EXPECT_EQ(call(name, {arg}).error, message) << name;
    for (std::string name : {"asin", "acos", "atanh", "acosh", "ln", "sqrt"})
        EXPECT_EQ(call(name, {reals({0.5, -3})}).error, outOfRange(name));
    EXPECT_TRUE(call("sinh", {reals({-800})}).ok);
    // acosh between 0 and 1 is the library's NaN, without a failure.
    auto ac = values("acosh", {reals({0.5})});
    EXPECT_TRUE(ac.size() == 1 && std::isnan(ac[0]));
}

// ---------------------------------------------------------------- references, types, reductions, divisions

TEST(UnaryResults, ElementWiseResultsKeepTheReferenceAndReductionsDropIt) {
    auto v = withRef(reals({1, 4}), reals({0, 1e-3}), PhysType::Voltage, PhysType::Time);
    auto a = call("abs", {v});
    EXPECT_EQ(cvtest::refOf(a), (Reals{0, 1e-3}));
    cvtest::expectTypes(*a.value, PhysType::Voltage, PhysType::Time);
    // The rule's type is the values'; the reference keeps its own.
    auto d = call("db", {v});
    cvtest::expectTypes(*d.value, PhysType::db(PhysType::Voltage), PhysType::Time);

    auto m = call("mean", {withRef(reals({1, 2, 6}), reals({0, 1, 2}), PhysType::Voltage, PhysType::Time)});
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(realsOf(*m.value), Reals{3});
    EXPECT_FALSE(m.value->ref());
    cvtest::expectTypes(*m.value, PhysType::Voltage, PhysType::None);
}

TEST(UnaryResults, SumsMeansAndExtremeIndices) {
    Reals ramp;
    for (int i = 1; i <= 1001; ++i) ramp.push_back(i);
    EXPECT_EQ(values("sum", {reals(ramp)}), Reals{501501});
    EXPECT_EQ(values("mean", {reals(ramp)}), Reals{501});
    EXPECT_EQ(call("mean", {complexes({{1, 2}, {3, -4}})}).value->complexAt(0), cplx(2, -1));
    EXPECT_EQ(call("sum", {complexes({{1, 2}, {3, -4}, {1, 1}})}).value->complexAt(0), cplx(5, -1));
    // Complex values compare by magnitude; the first of equals wins; nothing
    // beats the start value, so NaN data keeps the initial 0.
    const std::tuple<const char*, ValuePtr, double> indices[] = {
        {"maxidx", reals({1, 5, 5}), 1},                      {"minidx", reals({3, -1, -1, 7}), 1},
        {"maxidx", complexes({{1, 0}, {3, 4}, {-5, 0}}), 1},  {"minidx", complexes({{3, 4}, {0, 1}, {-1, 0}}), 1},
        {"maxidx", reals({kNaN, kNaN}), 0},
    };
    for (const auto& [name, arg, want] : indices) EXPECT_EQ(values(name, {arg}), Reals{want}) << name;
    EXPECT_EQ(call("maxidx", {reals({})}).value->size(), 1);
    EXPECT_TRUE(std::isnan(call("mean", {reals({})}).value->realAt(0)));
}

TEST(UnaryResults, CountsOfPlainAndDividedVectors) {
    auto count = [](const char* f, ValuePtr v) { return call(f, {v}).value->integers64()[0]; };
    auto plain = reals(Reals(10, 1.0));
    auto four = Value::makeDivided(Kind::Real, std::vector<int64_t>{3, 3, 3, 3});
    const std::tuple<const char*, ValuePtr, int64_t> counts[] = {
        {"veclength", plain, 10}, {"length", plain, 10}, {"NumDivisions", plain, 1},
        {"veclength", four, 4},   {"length", four, 3},   {"NumDivisions", four, 4},
        {"length", Value::string("abc"), 1},
    };
    for (const auto& [name, arg, want] : counts) EXPECT_EQ(count(name, arg), want) << name;
    EXPECT_EQ(call("NumElems", {four}).value->kind(), Kind::Real);
    EXPECT_EQ(values("NumElems", {four}), Reals{3});
}

// ---------------------------------------------------------------- group delay

// The delay of an RC low-pass with its type and reference is checked against
// the analytic delay in the Python peer tests.
TEST(GroupDelay, FailuresRealInputAndComplexReferences) {
    const std::string slope = "Cannot find group delay. Argument has infinite slope";
    EXPECT_EQ(call("GroupDelay", {complexes({{1, 1}})}).error, "Need at least two points to find group delay");
    EXPECT_EQ(call("GroupDelay", {complexes({{1, 1}, {1, 2}})}).error,
              "Argument 1 in function 'GroupDelay' has no reference (xvalues)");
    EXPECT_EQ(call("GroupDelay", {withRef(complexes({{1, 1}, {1, 2}, {0, 1}}), reals({1, 2, 2}))}).error, slope);
    EXPECT_EQ(call("GroupDelay", {withRef(complexes({{1, 1}, {1, 2}}), reals({3, 3}))}).error, slope);
    EXPECT_EQ(values("GroupDelay", {withRef(reals({1, 2, 3}), reals({1, 2, 3}))}), (Reals{0, 0, 0}));
    EXPECT_TRUE(call("GroupDelay", {reals({1, 2})}).ok);  // no phase, no need of x-values
    // A complex reference serves through its real parts.
    const std::vector<cplx> h{{1, 0}, {0, 1}, {-1, 0}};
    EXPECT_EQ(values("GroupDelay", {withRef(complexes(h), complexes({{1, 5}, {2, -1}, {4, 0}}))}),
              values("GroupDelay", {withRef(complexes(h), reals({1, 2, 4}))}));
}

// ---------------------------------------------------------------- element access

TEST(IndexOperator, PicksOneElementOfEveryKindOrSaysWhyNot) {
    auto v = withRef(reals({5, 6, 7}), reals({0, 1, 2}), PhysType::Current, PhysType::Time);
    auto r = call("_Index", {v, reals({2})});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(realsOf(*r.value), Reals{7});
    EXPECT_EQ(r.value->physType(), PhysType::Current);
    EXPECT_EQ(call("_Index", {complexes({{1, 2}, {3, 4}}), reals({1})}).value->complexAt(0), cplx(3, 4));
    EXPECT_EQ(call("_Index", {cvtest::strings({"ab", "cd"}), reals({1})}).value->stringAt(0), "cd");
    auto absent = Value::make(Kind::String, 2);  // null strings read as ""
    EXPECT_EQ(call("_Index", {absent, reals({0})}).value->stringAt(0), "");
    // The messages in the order they are checked.
    const std::pair<Reals, const char*> cases[] = {
        {{0, 1}, "Index must be scalar"}, {{1.5}, "Index must be an integer"}, {{kNaN}, "Index must be an integer"},
        {{2}, "Index out of range"},      {{-1}, "Index out of range"},        {{1e300}, "Index out of range"},
    };
    for (const auto& [index, message] : cases) EXPECT_EQ(call("_Index", {absent, reals(index)}).error, message);
}

}  // namespace
