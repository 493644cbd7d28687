// The gamma family and the error functions through the function table: values
// at known points, statuses and their messages, refusal of complex arguments,
// physical types and references, divided arguments, and the sign of lgamma.
#include <cmath>
#include <limits>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.141592653589793;

double value1(const std::string& name, double x) {
    auto o = call(name, {reals({x})});
    EXPECT_TRUE(o.ok) << name << "(" << x << "): " << o.error;
    return o.ok && o.value->size() == 1 ? o.value->realAt(0) : kNaN;
}

double value2(const std::string& name, double a, double b) {
    auto o = call(name, {reals({a}), reals({b})});
    EXPECT_TRUE(o.ok) << name << "(" << a << ", " << b << "): " << o.error;
    return o.ok && o.value->size() == 1 ? o.value->realAt(0) : kNaN;
}

cv::cplx lgammaOf(double x) {
    auto o = call("lgamma", {reals({x})});
    EXPECT_TRUE(o.ok) << o.error;
    return o.ok ? o.value->complexAt(0) : cv::cplx(kNaN, kNaN);
}

void expectRel(double got, double want, double tol) { EXPECT_NEAR(got, want, std::fabs(want) * tol) << want; }

cv::ValuePtr waveform(std::vector<double> y, std::vector<int64_t> lengths) {
    auto v = cv::Value::makeDivided(cv::Kind::Real, lengths);
    auto ref = cv::Value::makeDivided(cv::Kind::Real, lengths);
    for (size_t i = 0; i < y.size(); ++i) {
        static_cast<double*>(v->mutableData())[i] = y[i];
        static_cast<double*>(ref->mutableData())[i] = 1e-6 * double(i);
    }
    v->setRef(ref);
    v->setPhysType(PhysType::Voltage);
    v->setRefPhysType(PhysType::Time);
    return v;
}

TEST(SpecialFunctions, ValuesAtKnownPoints) {
    EXPECT_EQ(value1("erf", 0), 0.0);
    // P and Q stop at a relative step of 1e-13.
    expectRel(value1("erf", 1), 0.8427007929497149, 1e-13);
    expectRel(value1("erf", -1), -0.8427007929497149, 1e-13);
    expectRel(value1("erfc", -1), 1.8427007929497149, 1e-13);
    expectRel(value1("erfc", 3), 2.209049699858544e-05, 1e-13);
    expectRel(value1("gamma", 5), 24, 1e-15);
    expectRel(value1("gamma", 0.5), 1.7724538509055159, 1e-15);
    expectRel(value1("gamma", -0.5), -3.5449077018110318, 1e-15);
    expectRel(lgammaOf(10).real(), 12.801827480081469, 1e-15);
    EXPECT_EQ(lgammaOf(10).imag(), 0.0);
    expectRel(value2("gammp", 1, 1), 1 - std::exp(-1.0), 1e-13);
    expectRel(value2("gammq", 1, 1), std::exp(-1.0), 1e-13);
    expectRel(value2("gammq", 3, 10), 61 * std::exp(-10.0), 1e-13);  // continued fraction
    expectRel(value2("chisquare", 3.84, 1), 0.94995647875130096, 1e-13);
}

TEST(SpecialFunctions, AccuracyWhereNaiveFormulasFail) {
    // Next to the poles at negative integers (sin(pi x) needs an exact reduction).
    const double x = -3 + 1e-9, e = x + 3;  // e exact
    expectRel(value1("gamma", x), std::tgamma(1 + e) / ((x + 2) * (x + 1) * x * e), 1e-14);
    // Next to the zeros of lnGamma at 1 and 2 (Taylor series in the exact offset d).
    double d = (1 + 1e-12) - 1;
    expectRel(lgammaOf(1 + d).real(), d * (-0.5772156649015329 + d * 0.8224670334241132), 1e-15);
    d = (2 - 1e-12) - 2;
    expectRel(lgammaOf(2 + d).real(), d * (0.42278433509846713 + d * 0.3224670334241132), 1e-15);
    // Where x * x would underflow, erf is 2x / sqrt(pi).
    expectRel(value1("erf", 1e-200), 1.1283791670955126e-200, 1e-15);
    EXPECT_EQ(value1("erfc", -1e-200), 1.0);
    // Far out, and at infinite x, P and Q saturate instead of becoming NaN.
    EXPECT_EQ(value1("erf", -1e200), -1.0);
    EXPECT_EQ(value1("erfc", 1e200), 0.0);
    EXPECT_EQ(value1("erfc", -1e200), 2.0);
    EXPECT_EQ(value2("gammp", 2, kInf), 1.0);
    EXPECT_EQ(value2("gammq", 2, kInf), 0.0);
    EXPECT_EQ(value2("gammq", 2, 0), 1.0);
}

TEST(SpecialFunctions, NaNPassesThrough) {
    for (const char* name : {"erf", "erfc", "gamma"}) EXPECT_TRUE(std::isnan(value1(name, kNaN))) << name;
    EXPECT_TRUE(std::isnan(lgammaOf(kNaN).real()));
    for (const char* name : {"gammp", "gammq", "chisquare"}) {
        EXPECT_TRUE(std::isnan(value2(name, kNaN, 1))) << name;
        EXPECT_TRUE(std::isnan(value2(name, 1, kNaN))) << name;
    }
}

TEST(SpecialFunctions, LgammaOfNegativeGammaIsThePrincipalLogarithm) {
    // Gamma(-0.5) = -2 sqrt(pi): ln 2 sqrt(pi) + i pi.
    auto v = lgammaOf(-0.5);
    expectRel(v.real(), std::log(2 * std::sqrt(kPi)), 1e-15);
    EXPECT_EQ(v.imag(), kPi);
    // Gamma(-1.5) = 4 sqrt(pi) / 3 is positive again.
    v = lgammaOf(-1.5);
    expectRel(v.real(), std::log(4 * std::sqrt(kPi) / 3), 1e-15);
    EXPECT_EQ(v.imag(), 0.0);
}

TEST(SpecialFunctions, StatusesAndTheirMessages) {
    struct Case {
        const char* name;
        std::vector<double> a, b;
        const char* error;
    };
    const Case cases[] = {
        {"gamma", {0}, {}, "Argument out of range for function 'gamma'"},
        {"gamma", {-2}, {}, "Argument out of range for function 'gamma'"},
        {"gamma", {-kInf}, {}, "Argument out of range for function 'gamma'"},
        {"gamma", {200}, {}, "Overflow in function 'gamma'"},
        {"lgamma", {0}, {}, "Argument out of range for function 'lgamma'"},
        {"lgamma", {3e305}, {}, "Argument out of range for function 'lgamma'"},
        {"erf", {kInf}, {}, "Argument out of range for function 'erf'"},
        {"erfc", {-3e305}, {}, "Argument out of range for function 'erfc'"},
        {"gammp", {0}, {1}, "Argument out of range for function 'gammp'"},
        {"gammq", {1}, {-1}, "Argument out of range for function 'gammq'"},
        {"chisquare", {1}, {0.9}, "Argument out of range for function 'chisquare'"},
        // No convergence within the iteration limit is reported the same way.
        {"gammp", {1e9}, {1e9}, "Argument out of range for function 'gammp'"},
        // A failing element anywhere fails the whole vector.
        {"erf", {0.5, 1, kInf, 2}, {}, "Argument out of range for function 'erf'"},
        {"gamma", {1, 2, 3, 180}, {}, "Overflow in function 'gamma'"},
    };
    for (const Case& c : cases) {
        std::vector<cv::ValuePtr> args{reals(c.a)};
        if (!c.b.empty()) args.push_back(reals(c.b));
        auto o = call(c.name, args);
        EXPECT_FALSE(o.ok) << c.name;
        EXPECT_EQ(o.error, c.error) << c.name;
        EXPECT_TRUE(!o.value || o.value->size() == 0) << c.name;
    }
}

TEST(SpecialFunctions, ComplexArgumentsAreRefused) {
    auto z = cv::Value::complexes(std::vector<cv::cplx>{{1, 2}});
    for (const char* name : {"lgamma", "gamma", "erf", "erfc"})
        EXPECT_EQ(call(name, {z}).error, std::string("The function '") + name + "' requires a real argument");
    for (const char* name : {"gammp", "gammq", "chisquare"}) {
        EXPECT_EQ(call(name, {z, reals({1})}).error, std::string("The function '") + name + "' requires a real argument");
        EXPECT_EQ(call(name, {reals({1}), z}).error, std::string("The function '") + name + "' requires a real argument");
    }
}

TEST(SpecialFunctions, PhysicalTypeUnknownAndReferenceKept) {
    auto v = waveform({0.5, 1.5, 2.5}, {3});
    for (const char* name : {"erf", "gamma", "lgamma"}) {
        auto o = call(name, {v});
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(o.value->physType(), PhysType::Unknown) << name;
        EXPECT_EQ(o.value->ref(), v->ref()) << name;
        EXPECT_EQ(o.value->refPhysType(), PhysType::Time) << name;
    }
    auto o = call("gammp", {v, reals({2})});
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value->physType(), PhysType::Unknown);
    EXPECT_EQ(o.value->ref(), v->ref());
}

TEST(SpecialFunctions, DivisionsAndArgumentLengths) {
    auto v = waveform({0.5, 1, 2, 3, 4, 5}, {2, 4});
    auto o = call("erfc", {v});
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value->divisionLengths(), (std::vector<int64_t>{2, 4}));
    auto got = realsOf(*o.value);
    for (size_t i = 0; i < got.size(); ++i) expectRel(got[i], std::erfc(v->realAt(int64_t(i))), 1e-13);

    // Pairwise, or one second value for every element.
    auto pairwise = call("gammq", {reals({1, 2, 3}), reals({2, 2, 2})});
    auto repeated = call("gammq", {reals({1, 2, 3}), reals({2})});
    ASSERT_TRUE(pairwise.ok && repeated.ok);
    EXPECT_EQ(realsOf(*pairwise.value), realsOf(*repeated.value));
    EXPECT_EQ(pairwise.value->size(), 3);
    // A second argument too short to pair with is refused, not over-read.
    EXPECT_EQ(call("chisquare", {reals({1, 2, 3}), reals({1, 2})}).error,
              "Argument vectors must be of the same length in function 'chisquare'");
    // Empty in, empty out.
    auto empty = call("erf", {reals({})});
    ASSERT_TRUE(empty.ok) << empty.error;
    EXPECT_EQ(empty.value->size(), 0);
    auto emptyPair = call("gammp", {reals({}), reals({})});
    ASSERT_TRUE(emptyPair.ok) << emptyPair.error;
}

}  // namespace
