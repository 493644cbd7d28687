// Distance between two waveforms over their shared x-range: the normalised
// measures, the difference waveform, the choice of grid, and the inputs that
// give no result.
#include <cmath>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;

namespace {

using Reals = std::vector<double>;

cv::ValuePtr curve(const Reals& y, const Reals& x, PhysType py = PhysType::None) {
    return cvtest::wave(y, x, py, PhysType::Frequency);
}

double measure(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value->size(), 1) << name;
    return o.value->size() == 1 ? o.value->realAt(0) : std::nan("");
}

bool noResult(const std::string& name, std::vector<cv::ValuePtr> args) {
    return cvtest::noResult(call(name, std::move(args)));
}

const Reals kX{1, 2, 4, 8, 16};
const Reals kY{3, 1, 4, 1, 5};

TEST(CurveFitMeasure, IdenticalNegatedAndOffsetCurves) {
    auto a = curve(kY, kX);
    for (const char* f : {"CurveFit", "CurveFitLog", "CurveFitLogX", "CurveFitLogY"}) EXPECT_EQ(measure(f, {a, a}), 0) << f;
    EXPECT_EQ(measure("CurveFit", {a, curve({-3, -1, -4, -1, -5}, kX)}), 1);
    // D = 1 everywhere against Y = 0: E = 2, N = 2 * (0 + 2).
    EXPECT_EQ(measure("CurveFit", {curve({0, 0}, {0, 1}), curve({1, 1}, {0, 1})}), 0.5);
    EXPECT_EQ(measure("CurveFit", {curve({0, 0}, {0, 1}), curve({0, 0}, {0, 1})}), 0);  // N = 0 reads as 1
}

TEST(CurveFitMeasure, LogarithmicScalesWorkOnTheTransformedValues) {
    auto a = curve(kY, kX), b = curve({2, 2, 2, 2, 2}, kX);
    Reals logX, logY;
    for (double v : kX) logX.push_back(std::log10(v));
    for (double v : kY) logY.push_back(std::log10(v));
    const Reals log2(5, std::log10(2.0));
    EXPECT_DOUBLE_EQ(measure("CurveFitLogX", {a, b}), measure("CurveFit", {curve(kY, logX), curve({2, 2, 2, 2, 2}, logX)}));
    EXPECT_DOUBLE_EQ(measure("CurveFitLogY", {a, b}), measure("CurveFit", {curve(logY, kX), curve(log2, kX)}));
    EXPECT_DOUBLE_EQ(measure("CurveFitLog", {a, b}), measure("CurveFit", {curve(logY, logX), curve(log2, logX)}));
}

TEST(CurveFitPlot, DifferenceOnTheGridClippedToTheOverlap) {
    auto a = curve({0, 1, 2, 3, 4}, {0, 1, 2, 3, 4}, PhysType::Voltage);
    auto b = curve({1, 1, 1}, {0.5, 2, 3.5}, PhysType::Voltage);
    // b has fewer points in the overlap [0.5, 3.5]: it is the grid.
    auto o = call("CurveFitPlot", {a, b});
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(realsOf(*o.value->ref()), (Reals{0.5, 2, 3.5}));
    EXPECT_EQ(realsOf(*o.value), (Reals{-0.5, 1, 2.5}));
    cvtest::expectTypes(*o.value, PhysType::Voltage, PhysType::Frequency);
    // Grid a, its ends moved onto the overlap and interpolated.
    o = call("CurveFitPlot", {a, b, cv::Value::string("ARG1")});
    EXPECT_EQ(realsOf(*o.value->ref()), (Reals{0.5, 1, 2, 3, 3.5}));
    EXPECT_EQ(realsOf(*o.value), (Reals{0.5, 0, -1, -2, -2.5}));
    o = call("CurveFitPlot", {b, a, cv::Value::string("arg2")});
    EXPECT_EQ(realsOf(*o.value->ref()), (Reals{0.5, 1, 2, 3, 3.5}));
    auto same = call("CurveFitPlot", {a, a}).value;
    EXPECT_EQ(realsOf(*same), Reals(5, 0.0));
}

TEST(CurveFitMeasure, IrregularInputsGiveNoResult) {
    auto a = curve(kY, kX);
    EXPECT_TRUE(noResult("CurveFit", {a, curve({1, 2}, {20, 30})}));        // no overlap
    EXPECT_TRUE(noResult("CurveFit", {a, curve({1, 2}, {16, 30})}));        // overlap of one point
    EXPECT_TRUE(noResult("CurveFit", {a, reals(kY)}));                      // no reference
    EXPECT_TRUE(noResult("CurveFit", {a, curve({1, 2, 3}, {1, 3, 3})}));    // x not strictly increasing
    EXPECT_TRUE(noResult("CurveFit", {a, curve({1, 2, 3}, {1, std::nan(""), 3})}));
    EXPECT_TRUE(noResult("CurveFitLogY", {a, curve({1, 0, 3}, {1, 2, 3})}));
    EXPECT_TRUE(noResult("CurveFitLog", {curve({1, 2}, {-1, 3}), a}));
    EXPECT_TRUE(noResult("CurveFitPlot", {a, curve({1}, {2})}));
    EXPECT_FALSE(noResult("CurveFitLogX", {a, curve({1, 0, 3}, {1, 2, 3})}));  // y may be 0 on a log-x scale
}

}  // namespace
