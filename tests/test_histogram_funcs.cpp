// Histogram through the function table: bin counts and widths (given, fixed
// or from the default rule), point and stepped curves, and unusable data and
// bin requests.
#include <cmath>

#include "OptionStore.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;

namespace {

using Reals = std::vector<double>;

struct Histo {
    Reals counts, x;
};

Histo histo(std::vector<cv::ValuePtr> args) {
    auto o = call("Histogram", std::move(args));
    EXPECT_TRUE(o.ok) << o.error;
    if (!o.ok || !o.value->ref()) return {};
    return {realsOf(*o.value), realsOf(*o.value->ref())};
}

cv::ValuePtr words(const std::string& w) { return cv::Value::string(w); }

// Counts and edges for given counts, fixed widths (with values on the edges)
// and the default rule (with the points at bin centres) are checked against
// numpy in the Python peer tests.
TEST(HistogramBins, TheBinCountOption) {
    // Not positive: the option, then floor(sqrt(n)) / 2, at least two bins.
    EXPECT_EQ(histo({reals({1, 2, 3, 4}), reals({0})}).counts.size(), 2u);
    Reals hundred;
    for (int i = 0; i < 100; ++i) hundred.push_back(i);
    cv::OptionStore::global().set("MCNumberOfBins", "4");
    EXPECT_EQ(histo({reals(hundred), reals({-1})}).counts, Reals(4, 25));
    cv::OptionStore::global().reset("MCNumberOfBins");
}

TEST(HistogramCurves, SteppedCurveDrawsEachBinFromItsLowerToItsUpperEdge) {
    Histo h = histo({reals({1, 2, 3, 4}), reals({2}), cvtest::strings({"x", "STEP"})});
    EXPECT_EQ(h.counts, (Reals{2, 2, 2, 2}));
    EXPECT_EQ(h.x, (Reals{1, 2.5, 2.5, 4}));
    auto o = call("Histogram", {cvtest::wave({1, 2, 3}, {0, 1, 2}, PhysType::Voltage), reals({2})});
    cvtest::expectTypes(*o.value, PhysType::None, PhysType::Voltage);
}

TEST(HistogramInput, UnusableDataAndBinRequestsEndInOneMessage) {
    EXPECT_EQ(call("Histogram", {reals({3, 3, 3}), reals({5})}).error, "Constant values. Cannot build histogram");
    EXPECT_EQ(call("Histogram", {reals({}), reals({5})}).error, "No finite values. Cannot build histogram");
    EXPECT_EQ(call("Histogram", {reals({NAN, INFINITY}), reals({5})}).error, "No finite values. Cannot build histogram");
    for (double b : {1e300, double(INFINITY), 2e8})
        EXPECT_EQ(call("Histogram", {reals({0, 1}), reals({b})}).error.rfind("Too many bins", 0), 0u) << b;
    EXPECT_EQ(call("Histogram", {reals({0, 1}), reals({1e-300}), words("fixedbin")}).error.rfind("Too many bins", 0), 0u);
    EXPECT_EQ(call("Histogram", {reals({0, 1}), reals({INFINITY}), words("fixedbin")}).error,
              "Bin width must be finite in function 'Histogram'");
    cv::OptionStore::global().set("MCNumberOfBins", "2000000000");
    EXPECT_FALSE(call("Histogram", {reals({0, 1}), reals({0})}).ok);
    cv::OptionStore::global().reset("MCNumberOfBins");
    EXPECT_EQ(call("Histogram", {reals({0, 1}), reals({})}).error, "Argument 2 in function 'Histogram' is empty");
}

TEST(HistogramInput, NonFiniteValuesAreLeftOutAndExtremeRangesStayFinite) {
    EXPECT_EQ(histo({reals({NAN, 0, -INFINITY, 1, INFINITY, 1}), reals({2})}).counts, (Reals{1, 2}));
    Histo h = histo({reals({-1e308, 0, 1e308, 1.5e308}), reals({2})});
    EXPECT_EQ(h.counts, (Reals{2, 2}));
    for (double x : h.x) EXPECT_TRUE(std::isfinite(x));
    h = histo({reals({0, 5e-324, 1e-323}), reals({2})});  // subnormal range
    EXPECT_EQ(h.counts[0] + h.counts[1], 3);
    // The range keeps the first of equal extremes, wherever the data is split
    // to find it: with -0 and +0 that shows in the last edge of the curve.
    for (double first : {-0.0, 0.0}) {
        h = histo({reals({-0.9, first, -0.2, -0.3, -first, -0.5, -0.6, -0.1}), reals({3}), words("step")});
        EXPECT_EQ(std::signbit(h.x.back()), std::signbit(first)) << first;
    }
}

}  // namespace
