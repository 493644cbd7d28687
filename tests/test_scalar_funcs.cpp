// Elementary functions on one vector: kernel choice by argument kind, the
// statuses and their messages (and what a failing kernel leaves behind),
// references and physical types, reductions, divided vectors, group delay,
// element access and the measures of a vector.
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "FuncArgs.h"
#include "FunctionTable.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;

namespace {

using cplx = std::complex<double>;
using cv::Kind;
using cv::Value;
using cv::ValuePtr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ValuePtr complexes(std::vector<cplx> v) { return Value::complexes(v); }

std::vector<cplx> complexesOf(const Value& v) {
    std::vector<cplx> out;
    for (int64_t i = 0; i < v.size(); ++i) out.push_back(v.complexAt(i));
    return out;
}

ValuePtr withRef(ValuePtr values, ValuePtr x, PhysType phys, PhysType refPhys) {
    auto v = values->shallowCopy();
    v->setRef(std::move(x));
    v->setPhysType(phys);
    v->setRefPhysType(refPhys);
    return v;
}

// Three runs of two points each over the same x-values.
ValuePtr threeRuns() {
    std::vector<int64_t> lengths{2, 2, 2};
    auto v = Value::makeDivided(Kind::Real, lengths);
    auto r = Value::makeDivided(Kind::Real, lengths);
    double y[] = {-1, 2, -3, 4, 5, -7}, x[] = {0, 1, 0, 1, 0, 1};
    std::copy(y, y + 6, static_cast<double*>(v->mutableData()));
    std::copy(x, x + 6, static_cast<double*>(r->mutableData()));
    v->setRef(r);
    v->setPhysType(PhysType::Voltage);
    v->setRefPhysType(PhysType::Time);
    return v;
}

// Calls a handler the way the host does, but keeps what it built also when it
// fails, and every message it sent.
struct Direct {
    FUNC_ERROR rc;
    ValuePtr value;
    std::vector<std::string> errors;
};

class Collector : public MessageHandler {
public:
    void report(Severity s, const std::string& text) override {
        if (s == Error) errors.push_back(text);
    }
    std::vector<std::string> errors;
};

Direct direct(const char* name, std::vector<ValuePtr> args) {
    cvtest::session();
    const FuncConstruct* f = cv::FunctionTable::global().find(name);
    EXPECT_NE(f, nullptr) << name;
    if (!f) return {FuncFailed, nullptr, {}};
    FuncArgs fa(name, args);
    FuncResult fr(name, &fa);
    YRef<Collector> messages = makeYRef<Collector>();
    FUNC_ERROR rc = f->handler()(fa, &fr, YRef<MessageHandler>(messages.get()), ScpParseContext(), FunctionRunTime());
    EXPECT_TRUE(fr.finished()) << name;
    return {rc, fr.take(), messages->errors};
}

void expectFails(const cvtest::Outcome& o, const std::string& message) {
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.error, message);
}

// ---------------------------------------------------------------- kernel choice

TEST(UnaryDispatch, ResultKindFollowsTheKernelForTheArgumentKind) {
    auto mag = call("abs", {complexes({{3, 4}, {0, -2}})});
    ASSERT_TRUE(mag.ok);
    EXPECT_EQ(mag.value->kind(), Kind::Real);
    EXPECT_EQ(realsOf(*mag.value), (std::vector<double>{5, 2}));

    auto root = call("sqrt", {complexes({{-4, 0}, {0, 2}})});
    ASSERT_TRUE(root.ok);
    ASSERT_EQ(root.value->kind(), Kind::Complex);
    EXPECT_NEAR(std::abs(root.value->complexAt(0) - cplx(0, 2)), 0, 1e-15);
    EXPECT_NEAR(std::abs(root.value->complexAt(1) - cplx(1, 1)), 0, 1e-15);

    for (const char* name : {"re", "real", "im", "imag", "abs", "mag", "magnitude"}) {
        auto o = call(name, {complexes({{-1.5, 2.5}})});
        ASSERT_TRUE(o.ok) << name;
        double want = name[0] == 'r' ? -1.5 : name[0] == 'i' ? 2.5 : std::hypot(1.5, 2.5);
        EXPECT_DOUBLE_EQ(o.value->realAt(0), want) << name;
    }
}

TEST(UnaryDispatch, RealArgumentsTakeTheRealKernels) {
    EXPECT_EQ(realsOf(*call("sign", {reals({-2, 0, 3})}).value), (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(realsOf(*call("_Not", {reals({0, 2, kNaN})}).value), (std::vector<double>{1, 0, 0}));
    EXPECT_EQ(realsOf(*call("floorv", {reals({-1.5, 2.5})}).value), (std::vector<double>{-2, 2}));
    // Phases and imaginary parts of reals are 0 whatever the sign.
    for (const char* name : {"phase", "ph", "phase_rad", "arg", "arg_rad", "im"})
        EXPECT_EQ(realsOf(*call(name, {reals({-3, 0, 2})}).value), (std::vector<double>{0, 0, 0})) << name;
    auto neg = call("_UMinus", {reals({0, 2})});
    EXPECT_TRUE(std::signbit(neg.value->realAt(0)));
    EXPECT_EQ(neg.value->realAt(1), -2);
    auto degrees = call("sin_deg", {reals({30})});
    EXPECT_NEAR(degrees.value->realAt(0), 0.5, 1e-15);
    EXPECT_NEAR(call("atan_deg", {reals({1})}).value->realAt(0), 45, 1e-13);
    EXPECT_EQ(realsOf(*call("db", {reals({0, -10, 0.1})}).value), (std::vector<double>{-6160, 20, -20}));
    EXPECT_DOUBLE_EQ(call("log10", {reals({1000})}).value->realAt(0), 3);
}

TEST(UnaryDispatch, ComplexSpecialPoints) {
    // The angle of a zero is 0 also for negative zeros, where atan2 gives pi.
    auto a = call("arg", {complexes({{-0.0, -0.0}, {0, 1}, {-1, 0}})});
    EXPECT_EQ(realsOf(*a.value), (std::vector<double>{0, 90, 180}));
    EXPECT_EQ(call("db", {complexes({{0, 0}})}).value->realAt(0), -6160);
    auto lg = call("log", {complexes({{0, 10}})});
    EXPECT_NEAR(lg.value->complexAt(0).real(), 1, 1e-15);
    EXPECT_NEAR(lg.value->complexAt(0).imag(), std::log10(std::exp(1.0)) * M_PI / 2, 1e-15);
    // Degree variants compute in radians on complex input.
    EXPECT_EQ(complexesOf(*call("sin_deg", {complexes({{1, 0.5}})}).value),
              complexesOf(*call("sin", {complexes({{1, 0.5}})}).value));
    auto th = call("tanh", {complexes({{30, 1}, {-400, 1}, {2, 0}})});
    EXPECT_EQ(th.value->complexAt(0).real(), 1);
    EXPECT_NEAR(th.value->complexAt(0).imag(), 2 * std::sin(2.0) * std::exp(-60.0), 1e-40);
    EXPECT_EQ(th.value->complexAt(1), cplx(-1, 0));
    EXPECT_EQ(th.value->complexAt(2), cplx(std::tanh(2.0), 0));
}

// ---------------------------------------------------------------- statuses and messages

TEST(UnaryMessages, ComplexArgumentToRealOnlyFunctionsNamesTheEntry) {
    expectFails(call("_Not", {complexes({{1, 1}})}), "The function '!' requires a real argument");
    expectFails(call("floorv", {complexes({{1, 1}})}), "The function 'floorv' requires a real argument");
    // sign and rnd are declared real: the host refuses before the call.
    EXPECT_FALSE(call("sign", {complexes({{1, 1}})}).ok);
    EXPECT_FALSE(call("rnd", {complexes({{1, 1}})}).ok);
}

TEST(UnaryMessages, DomainErrorsFinishTheVectorWithPlaceholders) {
    auto lg = direct("log10", {reals({0, 100, -1})});
    EXPECT_EQ(lg.rc, FuncFailed);
    EXPECT_EQ(lg.errors, std::vector<std::string>{"Argument out of range for function 'log'"});
    EXPECT_EQ(realsOf(*lg.value), (std::vector<double>{-1e100, 2, -1e100}));

    auto root = direct("sqrt", {reals({-1, 4})});
    EXPECT_EQ(realsOf(*root.value), (std::vector<double>{0, 2}));
    auto at = direct("atanh", {complexes({{1, 0}, {0, 0.5}, {-1, 0}})});
    EXPECT_EQ(at.errors, std::vector<std::string>{"Argument out of range for function 'atanh'"});
    EXPECT_EQ(at.value->complexAt(0), cplx(0, 0));
    EXPECT_NEAR(at.value->complexAt(1).imag(), std::atan(0.5), 1e-15);
    EXPECT_EQ(at.value->complexAt(2), cplx(0, 0));

    for (const char* name : {"asin", "acos", "atanh", "acosh", "ln"})
        expectFails(call(name, {reals({0.5, -3})}), std::string("Argument out of range for function '") + name + "'");
    // acosh between 0 and 1 is the library's NaN, without a failure.
    auto ac = call("acosh", {reals({0.5})});
    ASSERT_TRUE(ac.ok);
    EXPECT_TRUE(std::isnan(ac.value->realAt(0)));
}

TEST(UnaryMessages, OverflowStopsAtTheFailingElement) {
    auto e = direct("exp", {reals({1, 800, 2})});
    EXPECT_EQ(e.rc, FuncFailed);
    EXPECT_EQ(e.errors, std::vector<std::string>{"Overflow in function 'exp'"});
    EXPECT_EQ(realsOf(*e.value), (std::vector<double>{std::exp(1.0), 0, 0}));

    expectFails(call("sinh", {reals({709.016})}), "Overflow in function 'sinh'");
    expectFails(call("cosh", {reals({1, 710})}), "Overflow in function 'cosh'");
    EXPECT_TRUE(call("sinh", {reals({-800})}).ok);  // only the upper side is tested
    expectFails(call("exp", {complexes({{710, 0}})}), "Overflow in function 'exp'");
    expectFails(call("sin", {complexes({{0, 710}})}), "Overflow in function 'sin'");
    expectFails(call("cosh", {complexes({{-800, 1}})}), "Overflow in function 'cosh'");
    expectFails(call("atan_deg", {complexes({{0, 1}})}), "Overflow in function 'atan_deg'");
    expectFails(call("atan", {complexes({{0, -1}})}), "Overflow in function 'atan'");
}

TEST(UnaryMessages, NormOfZeroVectorReportsOnceThroughTheCallsHandler) {
    auto z = direct("norm", {reals({0, 0, -0.0})});
    EXPECT_EQ(z.rc, FuncFailed);
    EXPECT_EQ(z.errors, std::vector<std::string>{"Cannot normalise zero vector"});
    expectFails(call("norm", {complexes({{0, 0}})}), "Cannot normalise zero vector");
    EXPECT_EQ(realsOf(*call("norm", {reals({1, -4, 2})}).value), (std::vector<double>{0.25, -1, 0.5}));
    auto c = call("norm", {complexes({{3, 4}, {1, 0}})});
    EXPECT_EQ(c.value->complexAt(0), cplx(0.6, 0.8));
}

TEST(UnaryMessages, RandomValuesScaleWithTheArgumentAndAdvance) {
    auto a = call("rnd", {reals({1, 1, 1, 1, 1, 1, 1, 1})});
    auto b = call("rnd", {reals({-2})});
    ASSERT_TRUE(a.ok && b.ok);
    std::vector<double> v = realsOf(*a.value);
    for (double x : v) EXPECT_TRUE(x >= 0 && x <= 1);
    EXPECT_LE(b.value->realAt(0), 0);
    std::sort(v.begin(), v.end());
    EXPECT_GT(v.back(), v.front());  // not one value repeated
}

// ---------------------------------------------------------------- references and physical types

TEST(UnaryReferences, ElementWiseResultsKeepTheReference) {
    auto v = withRef(reals({1, 4}), reals({0, 1e-3}), PhysType::Voltage, PhysType::Time);
    auto a = call("abs", {v});
    ASSERT_TRUE(a.ok && a.value->ref());
    EXPECT_EQ(realsOf(*a.value->ref()), (std::vector<double>{0, 1e-3}));
    EXPECT_EQ(a.value->physType(), PhysType::Voltage);
    EXPECT_EQ(a.value->refPhysType(), PhysType::Time);
    EXPECT_EQ(call("db", {v}).value->physType(), PhysType::db(PhysType::Voltage));
    EXPECT_EQ(call("sqrt", {v}).value->physType(), PhysType::sqrt(PhysType::Voltage));
    EXPECT_EQ(call("phase", {v}).value->physType(), PhysType::None);
    EXPECT_EQ(call("sign", {v}).value->physType(), PhysType::None);
    EXPECT_EQ(call("_UMinus", {v}).value->physType(), PhysType::Voltage);
    EXPECT_EQ(call("sin", {v}).value->refPhysType(), PhysType::Time);

    // A failed kernel's partial result still carries the x-values.
    auto failed = direct("ln", {withRef(reals({0, 1}), reals({0, 1e-3}), PhysType::Voltage, PhysType::Time)});
    EXPECT_EQ(failed.rc, FuncFailed);
    ASSERT_TRUE(failed.value->ref());
    EXPECT_EQ(failed.value->refPhysType(), PhysType::Time);
}

TEST(UnaryReferences, ReductionsDropTheReference) {
    auto v = withRef(reals({1, 2, 6}), reals({0, 1, 2}), PhysType::Voltage, PhysType::Time);
    auto m = call("mean", {v});
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(realsOf(*m.value), std::vector<double>{3});
    EXPECT_FALSE(m.value->ref());
    EXPECT_EQ(m.value->physType(), PhysType::Voltage);
    EXPECT_EQ(m.value->refPhysType(), PhysType::None);
    EXPECT_EQ(call("maxidx", {v}).value->physType(), PhysType::None);
}

// ---------------------------------------------------------------- reductions

TEST(UnaryReductions, SumsMeansAndExtremeIndices) {
    std::vector<double> ramp;
    for (int i = 1; i <= 1001; ++i) ramp.push_back(i);
    EXPECT_EQ(call("sum", {reals(ramp)}).value->realAt(0), 501501);
    EXPECT_EQ(call("mean", {reals(ramp)}).value->realAt(0), 501);
    auto cm = call("mean", {complexes({{1, 2}, {3, -4}})});
    EXPECT_EQ(cm.value->complexAt(0), cplx(2, -1));
    EXPECT_EQ(call("sum", {complexes({{1, 2}, {3, -4}, {1, 1}})}).value->complexAt(0), cplx(5, -1));

    EXPECT_EQ(call("maxidx", {reals({1, 5, 5})}).value->realAt(0), 1);
    EXPECT_EQ(call("minidx", {reals({3, -1, -1, 7})}).value->realAt(0), 1);
    // Complex values compare by magnitude; the first of equals wins.
    EXPECT_EQ(call("maxidx", {complexes({{1, 0}, {3, 4}, {-5, 0}})}).value->realAt(0), 1);
    EXPECT_EQ(call("minidx", {complexes({{3, 4}, {0, 1}, {-1, 0}})}).value->realAt(0), 1);
    // Nothing beats the start value: the result keeps its initial 0.
    EXPECT_EQ(call("maxidx", {reals({kNaN, kNaN})}).value->realAt(0), 0);
    EXPECT_EQ(call("maxidx", {reals({})}).value->size(), 1);
    EXPECT_TRUE(std::isnan(call("mean", {reals({})}).value->realAt(0)));
}

// ---------------------------------------------------------------- divided vectors

TEST(UnaryDivisions, ElementWiseKeepsDivisionsAndReductionsGiveOneValueEach) {
    auto a = call("abs", {threeRuns()});
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.value->divisionLengths(), (std::vector<int64_t>{2, 2, 2}));
    EXPECT_EQ(realsOf(*a.value), (std::vector<double>{1, 2, 3, 4, 5, 7}));
    ASSERT_TRUE(a.value->ref());
    EXPECT_EQ(a.value->ref()->size(), 6);

    auto m = call("mean", {threeRuns()});
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(realsOf(*m.value), (std::vector<double>{0.5, 0.5, -1}));
    EXPECT_EQ(m.value->numDivisions(), 3);
    EXPECT_EQ(call("maxidx", {threeRuns()}).value->size(), 3);
}

TEST(UnaryDivisions, MeasuresOfPlainAndDividedVectors) {
    std::vector<double> ten(10, 1.0);
    auto v64 = [](const cvtest::Outcome& o) { return o.value->integers64()[0]; };
    EXPECT_EQ(v64(call("veclength", {reals(ten)})), 10);
    EXPECT_EQ(v64(call("length", {reals(ten)})), 10);
    EXPECT_EQ(v64(call("NumDivisions", {reals(ten)})), 1);

    std::vector<int64_t> four{3, 3, 3, 3};
    auto d = Value::makeDivided(Kind::Real, four);
    EXPECT_EQ(v64(call("veclength", {d})), 4);
    EXPECT_EQ(v64(call("NumDivisions", {d})), 4);
    EXPECT_EQ(v64(call("length", {d})), 3);
    auto ne = call("NumElems", {d});
    ASSERT_TRUE(ne.ok);
    EXPECT_EQ(ne.value->kind(), Kind::Real);
    EXPECT_EQ(realsOf(*ne.value), std::vector<double>{3});
    EXPECT_EQ(v64(call("length", {Value::string("abc")})), 1);
}

// ---------------------------------------------------------------- phase and group delay

TEST(UnaryPhase, UnwrapsAcrossTheNegativeRealAxis) {
    std::vector<cplx> z;
    for (double deg : {170.0, 179.0, -179.0, -170.0, 175.0})
        z.push_back(std::polar(1.0, deg * M_PI / 180));
    auto p = call("phase", {complexes(z)});
    ASSERT_TRUE(p.ok);
    std::vector<double> want{170, 179, 181, 190, 175};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(p.value->realAt(int64_t(i)), want[i], 1e-12);
    auto r = call("phase_rad", {complexes(z)});
    EXPECT_NEAR(r.value->realAt(2), 181 * M_PI / 180, 1e-14);
}

// A delay tau plus a linearly growing extra delay: phase = -2 pi (tau f + k f^2).
// The three-point slope is exact for a parabola, so the inner points are exact.
TEST(GroupDelayFunction, ParabolicPhaseOnAnUnevenGridIsExactInside) {
    const double tau = 1e-3, k = 2e-7;
    std::vector<double> f{10, 25, 60, 100, 180, 400, 700};
    std::vector<cplx> h;
    for (double x : f) h.push_back(std::polar(2.0, -2 * M_PI * (tau * x + k * x * x)));
    auto g = call("GroupDelay", {withRef(complexes(h), reals(f), PhysType::Voltage, PhysType::Frequency)});
    ASSERT_TRUE(g.ok) << g.error;
    ASSERT_EQ(g.value->size(), 7);
    for (size_t i = 1; i + 1 < f.size(); ++i)
        EXPECT_NEAR(g.value->realAt(int64_t(i)), tau + 2 * k * f[i], 1e-12) << i;
    EXPECT_NEAR(g.value->realAt(0), tau + k * (f[0] + f[1]), 1e-12);
    EXPECT_NEAR(g.value->realAt(6), tau + k * (f[5] + f[6]), 1e-12);
    EXPECT_EQ(g.value->physType(), PhysType::div(PhysType::None, PhysType::Frequency));
    EXPECT_EQ(realsOf(*g.value->ref()), f);

    // A complex reference serves through its real parts.
    std::vector<cplx> fc(f.begin(), f.end());
    auto gc = call("GroupDelay", {withRef(complexes(h), complexes(fc), PhysType::None, PhysType::Frequency)});
    ASSERT_TRUE(gc.ok);
    EXPECT_EQ(realsOf(*gc.value), realsOf(*g.value));
}

TEST(GroupDelayFunction, FailuresAndRealInput) {
    expectFails(call("GroupDelay", {complexes({{1, 1}})}), "Need at least two points to find group delay");
    expectFails(call("GroupDelay", {complexes({{1, 1}, {1, 2}})}),
                "Argument 1 in function 'GroupDelay' has no reference (xvalues)");
    auto repeated = withRef(complexes({{1, 1}, {1, 2}, {0, 1}}), reals({1, 2, 2}), PhysType::None, PhysType::None);
    expectFails(call("GroupDelay", {repeated}), "Cannot find group delay. Argument has infinite slope");
    auto pair = withRef(complexes({{1, 1}, {1, 2}}), reals({3, 3}), PhysType::None, PhysType::None);
    expectFails(call("GroupDelay", {pair}), "Cannot find group delay. Argument has infinite slope");

    auto flat = call("GroupDelay", {withRef(reals({1, 2, 3}), reals({1, 2, 3}), PhysType::None, PhysType::None)});
    ASSERT_TRUE(flat.ok);
    EXPECT_EQ(realsOf(*flat.value), (std::vector<double>{0, 0, 0}));
    EXPECT_TRUE(call("GroupDelay", {reals({1, 2})}).ok);  // no phase, no need of x-values
}

// ---------------------------------------------------------------- element access

TEST(IndexOperator, PicksOneElementOfEveryKind) {
    auto v = withRef(reals({5, 6, 7}), reals({0, 1, 2}), PhysType::Current, PhysType::Time);
    auto r = call("_Index", {v, reals({2})});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(realsOf(*r.value), std::vector<double>{7});
    EXPECT_EQ(r.value->physType(), PhysType::Current);
    EXPECT_EQ(call("_Index", {complexes({{1, 2}, {3, 4}}), reals({1})}).value->complexAt(0), cplx(3, 4));
    std::vector<std::string> words{"ab", "cd"};
    auto s = call("_Index", {Value::strings(words), reals({1})});
    EXPECT_EQ(s.value->stringAt(0), "cd");
    auto absent = Value::make(Kind::String, 2);  // null strings read as ""
    EXPECT_EQ(call("_Index", {absent, reals({0})}).value->stringAt(0), "");
}

TEST(IndexOperator, MessagesInTheirOrder) {
    std::vector<std::string> words{"a", "b"};
    auto s = Value::strings(words);
    expectFails(call("_Index", {s, reals({0, 1})}), "Index must be scalar");
    expectFails(call("_Index", {s, reals({1.5})}), "Index must be an integer");
    expectFails(call("_Index", {s, reals({kNaN})}), "Index must be an integer");
    expectFails(call("_Index", {s, reals({2})}), "Index out of range");
    expectFails(call("_Index", {s, reals({-1})}), "Index out of range");
    expectFails(call("_Index", {s, reals({INFINITY})}), "Index out of range");
    expectFails(call("_Index", {s, reals({1e300})}), "Index out of range");
    EXPECT_FALSE(call("_Index", {s, complexes({{1, 0}})}).ok);  // refused as complex
}

}  // namespace
