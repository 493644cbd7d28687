// FIR, IIR and LPF through the function table: the history before the first
// sample, layout with divisions, references and physical types, and input
// that has no sound reading (empty taps, bad time constants, bad x-values).
#include <cmath>
#include <random>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;

namespace {

using Reals = std::vector<double>;

cv::ValuePtr divided(const std::vector<Reals>& parts, const std::vector<Reals>& xs = {}) {
    std::vector<int64_t> lengths;
    Reals all, allX;
    for (const auto& p : parts) lengths.push_back(int64_t(p.size())), all.insert(all.end(), p.begin(), p.end());
    for (const auto& p : xs) allX.insert(allX.end(), p.begin(), p.end());
    auto v = cv::Value::makeDivided(cv::Kind::Real, lengths);
    std::copy(all.begin(), all.end(), static_cast<double*>(v->mutableData()));
    if (!xs.empty()) {
        auto r = cv::Value::makeDivided(cv::Kind::Real, lengths);
        std::copy(allX.begin(), allX.end(), static_cast<double*>(r->mutableData()));
        v->setRef(r);
        v->setRefPhysType(PhysType::Time);
    }
    v->setPhysType(PhysType::Voltage);
    return v;
}

Reals run(const std::string& f, std::vector<cv::ValuePtr> args) {
    auto o = call(f, std::move(args));
    EXPECT_TRUE(o.ok) << o.error;
    return o.ok ? realsOf(*o.value) : Reals{};
}

// Direct sums with the time-shifted history: before x[0] (or out[0]) come
// h[0], h[1], ... going back.
Reals naive(bool feedback, const Reals& x, const Reals& c, const Reals& h) {
    Reals out(x.size());
    auto past = [&](const Reals& s, int64_t i) {
        if (i >= 0) return s[size_t(i)];
        return size_t(-i - 1) < h.size() ? h[size_t(-i - 1)] : 0.0;
    };
    for (int64_t i = 0; i < int64_t(x.size()); ++i) {
        double s = c[0] * x[size_t(i)];
        for (int64_t k = 1; k < int64_t(c.size()); ++k) s += c[size_t(k)] * past(feedback ? out : x, i - k);
        out[size_t(i)] = s;
    }
    return out;
}

TEST(FilterHistory, TheDefinedExamplesHold) {
    EXPECT_EQ(run("FIR", {reals({2, 4, 8}), reals({0.5, 0.5})}), (Reals{2, 3, 6}));
    EXPECT_EQ(run("FIR", {reals({2, -4, 8}), reals({1})}), (Reals{2, -4, 8}));
    EXPECT_EQ(run("IIR", {reals({1, 2, 3}), reals({1, 0.5})}), (Reals{1, 2.5, 4.25}));
    EXPECT_EQ(run("IIR", {reals({1, 2, 3}), reals({1, -0.5})}), (Reals{1, 1.5, 2.25}));  // feedback is added
    EXPECT_EQ(run("IIR", {reals({2, -4, 8}), reals({1})}), (Reals{2, -4, 8}));
}

TEST(FilterHistory, GivenValuesAreReadTimeShiftedAndPaddedWithZeros) {
    auto x = reals({1, 2, 3, 4});
    auto c = reals({1, 10, 100});
    EXPECT_EQ(run("FIR", {x, c}), (Reals{111, 112, 123, 234}));                   // held at x[0]
    EXPECT_EQ(run("FIR", {x, c, reals({5, 6})}), (Reals{651, 512, 123, 234}));   // not 612 at i = 1
    EXPECT_EQ(run("FIR", {x, c, reals({5})}), (Reals{51, 512, 123, 234}));
    EXPECT_EQ(run("FIR", {x, c, reals({5, 6, 7, 8})}), (Reals{651, 512, 123, 234}));
    EXPECT_EQ(run("FIR", {x, c, cv::Value::reals({})}), (Reals{1, 12, 123, 234}));
    EXPECT_EQ(run("IIR", {x, reals({1, 0.5, 0.25}), reals({4, 8})}), naive(true, {1, 2, 3, 4}, {1, 0.5, 0.25}, {4, 8}));
}

TEST(FilterHistory, EveryKernelPathMatchesTheDirectSums) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    auto draw = [&](size_t n, double scale) {
        Reals v(n);
        for (auto& e : v) e = scale * u(rng);
        return v;
    };
    for (size_t m : {1, 2, 3, 9, 10, 17, 40})
        for (size_t n : {1, 5, 16, 17, 100}) {
            const Reals x = draw(n, 1), c = draw(m, 1.0 / double(m)), h = draw(m / 2, 1);
            const Reals fir = run("FIR", {reals(x), reals(c), reals(h)}), want = naive(false, x, c, h);
            const Reals iir = run("IIR", {reals(x), reals(c), reals(h)}), wantIir = naive(true, x, c, h);
            for (size_t i = 0; i < n; ++i) {
                EXPECT_NEAR(fir[i], want[i], 1e-13) << "FIR m=" << m << " n=" << n << " i=" << i;
                EXPECT_NEAR(iir[i], wantIir[i], 1e-13) << "IIR m=" << m << " n=" << n << " i=" << i;
            }
        }
}

TEST(FilterLayout, DivisionsReferencesAndPhysicalTypesFollowTheSignal) {
    auto v = divided({{1, 3, 5}, {10, 30, 50}, {-2, -2, 4}}, {{0, 1, 2}, {0, 2, 4}, {0, 1, 1.5}});
    for (const char* f : {"FIR", "IIR", "LPF"}) {
        auto o = call(f, {v, reals({0.5, 0.5})});
        ASSERT_TRUE(o.ok) << f << ": " << o.error;
        EXPECT_EQ(o.value->numDivisions(), 3) << f;
        EXPECT_EQ(o.value->physType(), PhysType::Voltage) << f;
        EXPECT_EQ(o.value->refPhysType(), PhysType::Time) << f;
        ASSERT_TRUE(o.value->ref()) << f;
        EXPECT_EQ(realsOf(*o.value->ref()), (Reals{0, 1, 2, 0, 2, 4, 0, 1, 1.5})) << f;
    }
    // Each division starts from its own first sample.
    EXPECT_EQ(run("FIR", {v, reals({0.5, 0.5})}), (Reals{1, 2, 4, 10, 20, 40, -2, -2, 1}));
    // Coefficients in three divisions of total length 6 must not reshape a
    // six-sample result; their first division is the filter.
    auto six = run("FIR", {reals({1, 2, 3, 4, 5, 6}), divided({{1, 1}, {7, 7}, {9, 9}})});
    EXPECT_EQ(six, (Reals{2, 3, 5, 7, 9, 11}));
}

TEST(FilterFaults, EmptyAndNaNInputHaveDefinedResults) {
    EXPECT_EQ(run("FIR", {cv::Value::reals({}), reals({1, 2})}).size(), 0u);
    EXPECT_EQ(run("IIR", {cv::Value::reals({}), reals({1, 2})}).size(), 0u);
    EXPECT_EQ(run("FIR", {reals({1, 2}), cv::Value::reals({})}), (Reals{0, 0}));
    EXPECT_EQ(run("IIR", {reals({1, 2}), cv::Value::reals({})}), (Reals{0, 0}));
    // A NaN reaches exactly the outputs whose taps see it.
    const Reals f = run("FIR", {reals({1, 1, NAN, 1, 1, 1}), reals({1, 1})});
    EXPECT_EQ(std::isnan(f[1]) + std::isnan(f[2]) + std::isnan(f[3]) + std::isnan(f[4]), 2);
    EXPECT_TRUE(std::isnan(f[2]) && std::isnan(f[3]));
}

TEST(FilterLowPass, StepsTimeConstantsAndXValues) {
    auto step = divided({{1, 1, 1, 1}}, {{0, 0.1, 0.2, 0.3}});
    const Reals s = run("LPF", {step, reals({1}), reals({0})});
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(s[i], 1 - std::pow(10.0 / 11, double(i)), 1e-14);
    EXPECT_EQ(run("LPF", {divided({{3, 5, 7}}, {{0, 1, 1}}), reals({0})}), (Reals{3, 3, 5}));  // delayed
    // A repeated time point leaves no time to move; an empty start is no start.
    EXPECT_EQ(run("LPF", {divided({{0, 9, 9}}, {{0, 0, 0}}), reals({2}), cv::Value::reals({})}), (Reals{0, 0, 0}));
    auto bare = call("LPF", {reals({1, 2}), reals({1})});
    ASSERT_TRUE(bare.ok);
    EXPECT_EQ(bare.value->kind(), cv::Kind::None);
    for (auto tau : {reals({-1}), reals({NAN}), cv::Value::reals({})}) {
        auto o = call("LPF", {step, tau});
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.error, "Argument 2 in function 'LPF' must be a time constant of 0 or more");
    }
    for (Reals x : {Reals{0, 2, 1}, Reals{0, NAN, 2}, Reals{0, INFINITY, INFINITY}}) {
        auto o = call("LPF", {divided({{1, 2, 3}}, {x}), reals({1})});
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.error, "Argument 1 in function 'LPF' needs one real x-value per value, in non-decreasing order");
    }
}

}  // namespace
