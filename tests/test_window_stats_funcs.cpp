// Windowed integral statistics (Mean1, RMS1, RMS1_AC, RootSumOfSquares,
// SumNoise) and the running RMS through the function table: window edges and
// return codes with their messages, uneven and repeated x, falling x and NaN.
#include <cmath>
#include <random>

#include "FunctionTable.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::number;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::wave;

namespace {

using Reals = std::vector<double>;

// A call on a caller of its own that keeps every message, also those of a
// call that succeeds without a result.
struct Heard {
    bool ok;
    cv::ValuePtr value;
    std::string error;
    std::vector<std::string> messages;
};
Heard listen(const std::string& name, std::vector<cv::ValuePtr> args) {
    cvtest::session();
    Heard h;
    cv::Caller caller([&h](MessageHandler::Severity, const std::string& text) { h.messages.push_back(text); });
    h.ok = caller.call(name, args, h.value, h.error);
    return h;
}

// The window measured independently: edges on the parabola through the
// segment and the point after it (the last three points at the end), linear
// segments between, integrated as y and as (y - level)^2.
struct Expected {
    double integral, square, span;
};
Expected expectedWindow(const Reals& x, const Reals& y, double a, double b, double level = 0) {
    // The edge's value and index: the first point at t itself, else the
    // segment's left end.
    auto edge = [&](double t, size_t& index) {
        size_t i = 0;
        while (x[i + 1] < t) ++i;
        if (x[i] == t || x[i + 1] == t) {
            index = x[i] == t ? i : i + 1;
            return y[index];
        }
        index = i;
        size_t w = std::min(i, x.size() - 3);
        double r = 0;
        for (size_t j = w; j < w + 3; ++j) {
            double l = y[j];
            for (size_t k = w; k < w + 3; ++k)
                if (k != j) l *= (t - x[k]) / (x[j] - x[k]);
            r += l;
        }
        return r;
    };
    size_t left, right;
    Reals px{a}, py{edge(a, left)};
    const double yb = edge(b, right);
    for (size_t i = left + 1; i <= right; ++i) px.push_back(x[i]), py.push_back(y[i]);
    px.push_back(b);
    py.push_back(yb);
    Expected e{0, 0, b - a};
    for (size_t i = 0; i + 1 < px.size(); ++i) {
        double dx = px[i + 1] - px[i], u = py[i] - level, w = py[i + 1] - level;
        e.integral += (py[i] + py[i + 1]) / 2 * dx;
        e.square += (u * u + u * w + w * w) / 3 * dx;
    }
    return e;
}

TEST(WindowIntegral, RampConstantAndInterpolatedEdges) {
    EXPECT_DOUBLE_EQ(number("Mean1", {wave({0, 1}, {0, 1})}), 0.5);
    auto two = wave({2, 2, 2}, {0, 1, 3}, PhysType::Voltage, PhysType::Time);
    EXPECT_DOUBLE_EQ(number("RMS1", {two}), 2);
    EXPECT_DOUBLE_EQ(number("RMS1_AC", {two}), 0);
    EXPECT_DOUBLE_EQ(number("RootSumOfSquares", {two}), std::sqrt(12.0));
    EXPECT_EQ(call("RMS1", {two}).value->physType(), PhysType::Voltage);
    // The root of the integral of a noise density over frequency is a voltage.
    auto noise = wave({1, 1}, {0, 4}, PhysType::VoltageNoise, PhysType::Frequency);
    auto o = call("SumNoise", {noise});
    EXPECT_DOUBLE_EQ(o.value->realAt(0), 2);
    EXPECT_EQ(o.value->physType(), PhysType::Voltage);
    // Edges inside segments sit on the parabola: exact for a quadratic.
    Reals x{0, 0.7, 1.5, 2.0, 3.1, 4.0}, y;
    for (double t : x) y.push_back(t * t - 2 * t);
    Expected e = expectedWindow(x, y, 0.3, 3.5);
    EXPECT_NEAR(number("Mean1", {wave(y, x), reals({0.3}), reals({3.5})}), e.integral / e.span, 1e-13);
    EXPECT_NEAR(number("RMS1", {wave(y, x), reals({0.3}), reals({3.5})}), std::sqrt(e.square / e.span), 1e-13);
    Expected ac = expectedWindow(x, y, 0.3, 3.5, e.integral / e.span);
    EXPECT_NEAR(number("RMS1_AC", {wave(y, x), reals({0.3}), reals({3.5})}), std::sqrt(ac.square / ac.span), 1e-13);
    // A start before the data is the first point; an end at or past the last is
    // no end.
    EXPECT_DOUBLE_EQ(number("Mean1", {wave(y, x), reals({-5}), reals({4})}), number("Mean1", {wave(y, x)}));
}

TEST(WindowIntegral, ReturnCodesAndMessages) {
    auto ramp = wave({0, 1, 2}, {0, 1, 2});
    Heard h = listen("Mean1", {ramp, reals({1}), reals({0.5})});
    EXPECT_EQ(h.error, "Start is after end in 'Mean1' function");
    h = listen("RMS1_AC", {ramp, reals({1}), reals({1})});
    EXPECT_EQ(h.error, "Start and end are identical in 'RMS1_AC' function");
    h = listen("SumNoise", {reals({1, 2})});
    EXPECT_EQ(h.error, "Argument 1 in function 'SumNoise' has no reference (xvalues)");
    // Out of range: success without a result, after the message.
    for (auto args : {std::vector<cv::ValuePtr>{ramp, reals({3})}, {ramp, reals({-3}), reals({-1})},
                      {ramp, reals({NAN})}, {wave({}, {})}}) {
        h = listen("RMS1", args);
        EXPECT_TRUE(h.ok);
        EXPECT_EQ(h.value->kind(), cv::Kind::None);
        EXPECT_EQ(h.messages, std::vector<std::string>{"The x value specified for the 'RMS1' function is out of range"});
    }
    // x that comes back through a window edge.
    h = listen("Mean1", {wave({0, 1, 2, 3, 4}, {0, 1, 2, 1, 3}), reals({1.5})});
    EXPECT_FALSE(h.ok);
    EXPECT_EQ(h.error, "Argument to 'Mean1' function is non-monotonic");
}

TEST(WindowIntegral, UnevenRepeatedAndFallingX) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(0, 1);
    for (int trial = 0; trial < 50; ++trial) {
        Reals x{0}, y{u(rng)};
        for (int i = 1; i < 200; ++i) {
            x.push_back(x.back() + (i % 17 == 0 ? 0.0 : u(rng) + 0.01));  // repeated time points
            y.push_back(std::sin(x.back()) + 0.1 * u(rng));
        }
        double a = x[20] + 0.3 * (x[21] - x[20]), b = x[150] + 0.6 * (x[151] - x[150]);
        if (trial % 5 == 0) a = x[34];  // an edge on a repeated point
        Expected e = expectedWindow(x, y, a, b);
        EXPECT_NEAR(number("Mean1", {wave(y, x), reals({a}), reals({b})}), e.integral / e.span, 1e-12);
        EXPECT_NEAR(number("RootSumOfSquares", {wave(y, x), reals({a}), reals({b})}), std::sqrt(e.square), 1e-12);
        // A tail that falls back (but never to the window) takes the general
        // search over every point and must agree.
        Reals xt = x, yt = y;
        xt.push_back(x.back() - 0.001);
        yt.push_back(5);
        EXPECT_NEAR(number("RMS1", {wave(yt, xt), reals({a}), reals({b})}), std::sqrt(e.square / e.span), 1e-12);
    }
}

TEST(WindowIntegral, DegenerateDataAndNaN) {
    EXPECT_DOUBLE_EQ(number("Mean1", {wave({7}, {1})}), 7);  // no width: the value itself
    EXPECT_DOUBLE_EQ(number("RMS1", {wave({7}, {1})}), 0);
    EXPECT_TRUE(std::isnan(number("Mean1", {wave({1, NAN, 3}, {0, 1, 2})})));
    EXPECT_TRUE(std::isnan(number("RMS1", {wave({1, 2, 3}, {0, NAN, 2}), reals({0.5})})));
}

TEST(RunningRms, FromTheFirstPointWithRepeatedX) {
    auto o = call("Rms", {wave({3, -3, 3, 4, 0}, {0, 0, 1, 1, 3}, PhysType::Current, PhysType::Time)});
    ASSERT_TRUE(o.ok) << o.error;
    // At the first x each repeat keeps its own magnitude; later repeats keep
    // the RMS reached; between, the integral of the linear segment.
    cvtest::expectNear(realsOf(*o.value), {3, 3, std::sqrt(3.0), std::sqrt(3.0), std::sqrt(41 / 9.0)}, 1e-14);
    cvtest::expectTypes(*o.value, PhysType::Current, PhysType::Time);
    EXPECT_EQ(call("Rms", {wave({}, {})}).value->size(), 0);
    EXPECT_EQ(call("Rms", {reals({1})}).error, "Argument 1 in function 'Rms' has no reference (xvalues)");
}

}  // namespace
