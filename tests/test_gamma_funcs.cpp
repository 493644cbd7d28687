// The gamma family and the error functions through the function table: values
// next to poles, statuses and their messages, refusal of complex arguments,
// physical types and references, and argument lengths.
// Values over wide ranges are checked against scipy in the Python peer tests.
#include <cmath>
#include <limits>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double value(const std::string& name, std::vector<double> args) {
    std::vector<cv::ValuePtr> values;
    for (double a : args) values.push_back(reals({a}));
    auto o = call(name, values);
    EXPECT_TRUE(o.ok) << name << "(" << args[0] << "): " << o.error;
    return o.ok && o.value->size() == 1 ? o.value->realAt(0) : kNaN;
}

TEST(SpecialFunctions, AccuracyNextToPolesSaturationAndNaN) {
    // sin(pi x) needs an exact reduction next to the poles at negative integers.
    const double x = -3 + 1e-9, e = x + 3;  // e exact
    const double want = std::tgamma(1 + e) / ((x + 2) * (x + 1) * x * e);
    EXPECT_NEAR(value("gamma", {x}), want, std::fabs(want) * 1e-14);
    EXPECT_EQ(value("gammq", {2, kInf}), 0.0);  // saturates rather than becoming NaN
    for (const char* name : {"erf", "erfc", "gamma", "lgamma"}) EXPECT_TRUE(std::isnan(value(name, {kNaN}))) << name;
    for (const char* name : {"gammp", "gammq", "chisquare"}) {
        EXPECT_TRUE(std::isnan(value(name, {kNaN, 1}))) << name;
        EXPECT_TRUE(std::isnan(value(name, {1, kNaN}))) << name;
    }
}

TEST(SpecialFunctions, StatusesAndTheirMessages) {
    struct Case {
        std::string name;
        std::vector<double> a, b;
        bool overflow = false;
    };
    const Case cases[] = {
        {"gamma", {0}, {}}, {"gamma", {-2}, {}}, {"gamma", {-kInf}, {}}, {"gamma", {200}, {}, true},
        {"lgamma", {0}, {}}, {"lgamma", {3e305}, {}}, {"erf", {kInf}, {}}, {"erfc", {-3e305}, {}},
        {"gammp", {0}, {1}}, {"gammq", {1}, {-1}}, {"chisquare", {1}, {0.9}},
        // No convergence within the iteration limit is reported the same way.
        {"gammp", {1e9}, {1e9}},
        // A failing element anywhere fails the whole vector.
        {"erf", {0.5, 1, kInf, 2}, {}}, {"gamma", {1, 2, 3, 180}, {}, true},
    };
    for (const Case& c : cases) {
        std::vector<cv::ValuePtr> args{reals(c.a)};
        if (!c.b.empty()) args.push_back(reals(c.b));
        const std::string message = c.overflow ? "Overflow in function '" : "Argument out of range for function '";
        EXPECT_EQ(call(c.name, args).error, message + c.name + "'");
    }
    auto z = cv::Value::complexes(std::vector<cv::cplx>{{1, 2}});
    for (std::string name : {"lgamma", "gamma", "erf", "erfc"})
        EXPECT_EQ(call(name, {z}).error, "The function '" + name + "' requires a real argument");
    for (std::string name : {"gammp", "gammq", "chisquare"}) {
        EXPECT_EQ(call(name, {z, reals({1})}).error, "The function '" + name + "' requires a real argument");
        EXPECT_EQ(call(name, {reals({1}), z}).error, "The function '" + name + "' requires a real argument");
    }
}

TEST(SpecialFunctions, TypesReferencesAndArgumentLengths) {
    auto v = cvtest::wave({0.5, 1.5, 2.5}, {0, 1e-6, 2e-6}, PhysType::Voltage, PhysType::Time);
    for (std::string name : {"erf", "gamma", "lgamma", "gammp"}) {
        auto o = name == "gammp" ? call(name, {v, reals({2})}) : call(name, {v});
        ASSERT_TRUE(o.ok) << name << ": " << o.error;
        EXPECT_EQ(o.value->physType(), PhysType::Unknown) << name;
        EXPECT_EQ(o.value->ref(), v->ref()) << name;
        EXPECT_EQ(o.value->refPhysType(), PhysType::Time) << name;
    }
    // Pairwise, or one second value for every element.
    auto pairwise = call("gammq", {reals({1, 2, 3}), reals({2, 2, 2})});
    ASSERT_TRUE(pairwise.ok);
    EXPECT_EQ(pairwise.value->size(), 3);
    EXPECT_EQ(cvtest::values("gammq", {reals({1, 2, 3}), reals({2})}), realsOf(*pairwise.value));
    // A second argument too short to pair with is refused, not over-read.
    EXPECT_EQ(call("chisquare", {reals({1, 2, 3}), reals({1, 2})}).error,
              "Argument vectors must be of the same length in function 'chisquare'");
    // Empty in, empty out.
    EXPECT_EQ(cvtest::values("erf", {reals({})}).size(), 0u);
    EXPECT_TRUE(call("gammp", {reals({}), reals({})}).ok);
}

}  // namespace
