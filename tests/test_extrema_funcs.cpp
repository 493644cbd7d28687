// Peaks and troughs, windowed extremes, Locate, Ones and Zeros through the
// function table.
#include <cfloat>
#include <cmath>
#include <random>
#include <tuple>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::wave;
using cvtest::expectNear;
using cvtest::grid;

namespace {

using Reals = std::vector<double>;

struct Points {
    Reals x, y;
};

Points peaksOf(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << o.error;
    if (!o.ok || o.value->kind() == cv::Kind::None) return {};
    EXPECT_TRUE(o.value->ref());
    return {realsOf(*o.value->ref()), realsOf(*o.value)};
}

// The definition the streaming search must reproduce: samples with NaN y
// dropped, runs of equal y collapsed to their middle (never interpolated),
// sentinels at both ends, every three consecutive records tested.
Points bruteForcePeaks(const Reals& x, const Reals& y, bool lower, bool endpoints) {
    struct Rec {
        double x, y;
        bool plain, sentinel;
    };
    std::vector<Rec> r;
    const double outside = lower ? DBL_MAX : -DBL_MAX;
    if (endpoints) r.push_back({-DBL_MAX, outside, false, true});
    for (size_t i = 0; i < y.size(); ++i) {
        if (std::isnan(y[i])) continue;
        size_t j = i;
        while (j + 1 < y.size() && (y[j + 1] == y[i] || std::isnan(y[j + 1]))) ++j;
        while (std::isnan(y[j])) --j;
        r.push_back({0.5 * x[i] + 0.5 * x[j], y[i], j == i, false});
        i = j;
    }
    if (endpoints) r.push_back({DBL_MAX, outside, false, true});
    auto beats = [lower](double a, double b) { return lower ? a < b : a > b; };
    Points p;
    for (size_t k = 1; k + 1 < r.size(); ++k) {
        const Rec &f = r[k - 1], &m = r[k], &t = r[k + 1];
        if ((f.sentinel && t.sentinel) || !beats(m.y, f.y) || !beats(m.y, t.y)) continue;
        double vx = m.x, vy = m.y;
        if (f.plain && m.plain && t.plain) {
            double s = (f.y - m.y) / (f.x - m.x), q = ((m.y - t.y) / (m.x - t.x) - s) / (t.x - f.x);
            vx = ((f.x + m.x) * q - s) / (2 * q);
            vy = f.y + (vx - f.x) * (s + q * (vx - m.x));
        }
        p.x.push_back(vx);
        p.y.push_back(vy);
    }
    return p;
}

// End points, flats and NaN holes on their own: the random test below against
// the definition. Vertices of sampled sines and the orders of the results are
// checked against the analytic peaks in the Python peer tests.
TEST(PeakSearch, EndPointsFlatsLimitsSpacingAndWords) {
    auto w = wave({0, 0.4, 0, 0.9, 0, -0.3, 0, -1, 0}, grid(9));
    auto noEnds = cv::Value::string("noendpts");
    auto onSamples = cvtest::strings({"noendpts", "nointerp"});
    auto sparse = wave({0, 1, 0, 0.5, 0}, {0, 1, 2, 2.5, 3});
    const struct {
        const char* f;
        std::vector<cv::ValuePtr> args;
        Reals x, y;
    } cases[] = {
        // An end point beats the sentinel beyond it, unless end points are off.
        {"Maxima", {wave({3, 2, 1}, {0, 1, 2})}, {0}, {3}},
        {"Maxima", {wave({3, 2, 1}, {0, 1, 2}), reals({}), noEnds}, {}, {}},
        // A flat top two samples long that ends the data: once, at its middle, with its own value.
        {"Maxima", {wave({0, 1, 2, 2}, grid(4))}, {2.5}, {2}},
        // Fewer than two points have no peak.
        {"Maxima", {wave({5}, {0})}, {}, {}},
        {"Maxima", {wave({}, {})}, {}, {}},
        // Limits: beyond the first, and short of the second; minima by depth.
        {"Maxima", {w, reals({0.5}), onSamples}, {3}, {0.9}},
        {"Maxima", {w, reals({0, 0.5}), onSamples}, {1}, {0.4}},
        {"Minima", {w, reals({0}), onSamples}, {7, 5}, {-1, -0.3}},
        // The spacing is tested against the neighbouring records, by its
        // magnitude, in either direction of x.
        {"Maxima", {sparse, reals({}), noEnds, reals({1})}, {1}, {1}},
        {"Maxima", {sparse, reals({}), noEnds, reals({0.4})}, {1, 2.5}, {1, 0.5}},
        {"Maxima", {wave({0, 0.5, 0, 1, 0}, {3, 2.5, 2, 1, 0}), reals({}), noEnds, reals({-1})}, {1}, {1}},
        // Without interpolation peaks stay on their samples, NaN holes skipped.
        {"Maxima", {wave({0, 1, NAN, 0.5, 0}, grid(5)), reals({}), cv::Value::string("NoInterp")}, {1}, {1}},
        {"Maxima", {wave({NAN, NAN}, grid(2))}, {}, {}},
    };
    for (const auto& c : cases) {
        Points got = peaksOf(c.f, c.args);
        EXPECT_EQ(got.x, c.x) << c.f << " " << (&c - cases);
        EXPECT_EQ(got.y, c.y) << c.f << " " << (&c - cases);
    }
}

TEST(PeakSearch, MatchesTheDefinitionOnRandomDataWithFlatsAndNaN) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        // Long slopes, quantised noise (flats), NaN holes.
        const size_t n = 1 + rng() % 400;
        Reals x = grid(n, 0.5), y(n);
        double level = 0, slope = 0;
        for (size_t i = 0; i < n; ++i) {
            if (rng() % 50 == 0) slope = double(int(rng() % 5) - 2);
            level += slope;
            y[i] = level + double(rng() % 3) * (trial % 3 == 0);
            if (rng() % 97 == 0) y[i] = NAN;
        }
        for (bool lower : {false, true}) {
            for (bool ends : {true, false}) {
                Points want = bruteForcePeaks(x, y, lower, ends);
                std::vector<std::string> words{"xsort"};
                if (!ends) words.push_back("NoEndPts");
                Points got = peaksOf(lower ? "Minima" : "Maxima", {wave(y, x), reals({}), cv::Value::strings(words)});
                SCOPED_TRACE(testing::Message() << "trial " << trial << " lower " << lower << " ends " << ends);
                expectNear(got.x, want.x, 1e-9);
                expectNear(got.y, want.y, 1e-9);
            }
        }
    }
}

// Long noisy stretches take a shortcut past the record machinery; a NaN
// sample changes no peak but sends its stretch the long way, so both ways
// must agree to the bit, sorted by value (stable among ties) or not.
TEST(PeakSearch, ShortcutOnNoisyStretchesMatchesTheFullWalk) {
    std::mt19937 rng(11);
    std::normal_distribution<double> noise;
    for (int trial = 0; trial < 12; ++trial) {
        const size_t n = 3000 + rng() % 5000;
        Reals x, y, xHoles, yHoles;
        double t = 0;
        for (size_t i = 0; i < n; ++i) {
            t += 0.5 + double(rng() % 1000) / 1000;
            double v = std::sin(t / 300) + 0.01 * noise(rng);
            // Quantised stretches bring flats and equal peaks in.
            if (trial % 3 == 1 && i % 700 < 100) v = std::round(v * 20) / 20;
            if (i % 97 == 0) {
                xHoles.push_back(t);
                yHoles.push_back(NAN);
            }
            for (Reals* r : {&x, &xHoles}) r->push_back(t);
            for (Reals* r : {&y, &yHoles}) r->push_back(v);
        }
        for (const char* name : {"Maxima", "Minima"})
            for (const char* words : {"", "xsort", "nointerp", "noendpts"}) {
                SCOPED_TRACE(testing::Message() << "trial " << trial << " " << name << " " << words);
                Points fast = peaksOf(name, {wave(y, x), reals({}), cv::Value::string(words)});
                Points full = peaksOf(name, {wave(yHoles, xHoles), reals({}), cv::Value::string(words)});
                ASSERT_GT(fast.x.size(), 64u);
                EXPECT_EQ(fast.x, full.x);
                EXPECT_EQ(fast.y, full.y);
            }
    }
}

TEST(PeakSearch, ReferenceTypesAndMissingReference) {
    auto o = call("Maxima", {wave({0, 2, 0}, {0, 1, 2}, PhysType::Voltage, PhysType::Time)});
    cvtest::expectTypes(*o.value, PhysType::Voltage, PhysType::Time);
    EXPECT_EQ(call("Minima", {reals({1, 0, 1})}).error, "Argument 1 in function 'Minima' has no reference (xvalues)");
}

TEST(WindowExtreme, FirstOfEqualExtremesInsideTheWindowOfAnyReference) {
    auto w = wave({1, 3, 3, 2, 0, 5}, {0, 1, 2, 3, 4, 5}, PhysType::Voltage, PhysType::Time);
    auto z = cv::Value::complexes(std::vector<cv::cplx>{{3, 4}, {0, 6}, {1, 0}, {0, -10}});
    auto withReal = z->shallowCopy(), withComplex = z->shallowCopy();
    withReal->setRef(reals({0, 1, 2, 3}));
    // The x of a complex reference is its magnitude; complex data reads as magnitudes.
    withComplex->setRef(cv::Value::complexes(std::vector<cv::cplx>{{0, 1}, {0, 2}, {3, 4}, {6, 8}}));
    const struct {
        const char* f;
        std::vector<cv::ValuePtr> args;
        Reals y, x;
    } cases[] = {
        {"Maximum", {w}, {5}, {5}},
        {"Maximum", {w, reals({0.5}), reals({4.5})}, {3}, {1}},
        {"Minimum", {w, reals({1}), reals({3})}, {2}, {3}},
        // Repeated time points and a falling reference.
        {"Minimum", {wave({4, 2, 1, 3}, {0, 1, 1, 2}), reals({1}), reals({1})}, {1}, {1}},
        {"Maximum", {wave({9, 1, 4, 2}, {3, 2, 1, 0}), reals({0.5}), reals({2.5})}, {4}, {1}},
        {"Maximum", {withReal, reals({0.5}), reals({2.5})}, {6}, {1}},
        {"Minimum", {withComplex, reals({1.5})}, {1}, {5}},
    };
    for (const auto& c : cases) {
        auto o = call(c.f, c.args);
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(realsOf(*o.value), c.y) << c.f << " " << (&c - cases);
        EXPECT_EQ(cvtest::refOf(o), c.x) << c.f << " " << (&c - cases);
    }
    auto o = call("Maximum", {w, reals({0.5}), reals({4.5})});
    cvtest::expectTypes(*o.value, PhysType::Voltage, PhysType::Time);
    // Nothing inside the window, or nothing but NaN: no result.
    EXPECT_TRUE(cvtest::noResult(call("Maximum", {w, reals({10})})));
    EXPECT_TRUE(cvtest::noResult(call("Maximum", {wave({NAN, NAN}, {0, 1})})));
    // Without a reference the window is not applied and no x is reported.
    o = call("Minimum", {reals({NAN, -INFINITY, 2}), reals({5})});
    EXPECT_EQ(realsOf(*o.value), Reals{-INFINITY});
    EXPECT_FALSE(o.value->ref());
}

TEST(LocateAndWholeVectorTests, PositionsAndTruthValues) {
    auto locate = [](const Reals& v, double value) {
        auto o = call("Locate", {reals(v), reals({value})});
        EXPECT_TRUE(o.ok);
        return o.value->kind() == cv::Kind::None ? Reals{} : realsOf(*o.value);
    };
    const std::tuple<Reals, double, Reals> cases[] = {
        {{1, 2, 3, 4}, 2.5, {1}}, {{1, 2, 3, 4}, 0.5, {-1}}, {{1, 2, 3, 4}, 4, {3}}, {{1, 2, 2, 3}, 2, {2}},
        {{4, 3, 2, 1}, 2.5, {1}}, {{4, 3, 2, 1}, 0, {3}},    {{7}, 100, {0}},         {Reals{}, 1, Reals{}},
        {{1, 2}, NAN, {}}};
    for (const auto& [v, value, want] : cases) EXPECT_EQ(locate(v, value), want) << value;

    auto truth = [](const char* f, const Reals& v) { return call(f, {reals(v)}).value->bools()[0]; };
    EXPECT_TRUE(truth("Zeros", {}) && truth("Ones", {}));
    EXPECT_TRUE(truth("Zeros", {0, -0.0}) && truth("Ones", Reals(1000, 1.0)));
    EXPECT_FALSE(truth("Zeros", {0, NAN}));
    EXPECT_FALSE(truth("Ones", {1, 1, 1.0000001}));
}

}  // namespace
