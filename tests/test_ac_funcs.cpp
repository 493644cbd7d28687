// Bandwidth, gain, unity-gain frequency and the margins of AC sweeps: analytic
// responses of one, two and three poles and of a delay, the ways a sweep is
// given (complex, magnitude, dB; a loop gain with or without its inversion),
// runs, and the refusals. ngspice's `meas ac` is the peer in the Python tests.
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>

#include "TestHost.h"

using cvtest::call;
using cvtest::number;
using cvtest::reals;
using cvtest::str;

namespace {

using Reals = std::vector<double>;
using cplx = std::complex<double>;
using Response = std::function<cplx(double)>;
constexpr double kDeg = 180.0 / std::numbers::pi;

// n points a decade from f0 to f1.
Reals logSweep(double f0, double f1, int perDecade) {
    Reals f;
    const int n = int(std::lround(std::log10(f1 / f0) * perDecade));
    for (int k = 0; k <= n; ++k) f.push_back(f0 * std::pow(10.0, double(k) / perDecade));
    return f;
}

// One run per response, each sampled at f.
cv::ValuePtr sweep(const std::vector<Response>& runs, const Reals& f) {
    std::vector<int64_t> lengths(runs.size(), int64_t(f.size()));
    auto v = cv::Value::makeDivided(cv::Kind::Complex, lengths);
    auto x = cv::Value::makeDivided(cv::Kind::Real, lengths);
    auto* h = static_cast<cplx*>(v->mutableData());
    auto* px = static_cast<double*>(x->mutableData());
    for (const auto& H : runs)
        for (double fk : f) *h++ = H(fk), *px++ = fk;
    v->setRef(x);
    v->setPhysType(PhysType::Voltage);
    v->setRefPhysType(PhysType::Frequency);
    return v;
}
cv::ValuePtr sweep(const Response& H, const Reals& f) { return sweep(std::vector<Response>{H}, f); }

// T0 / ((1 + jf/p1)(1 + jf/p2)(1 + jf/p3)), a pole at infinity left out.
Response poles(double t0, double p1, double p2 = INFINITY, double p3 = INFINITY) {
    return [=](double f) {
        const cplx s(0.0, f);
        return t0 / ((1.0 + s / p1) * (1.0 + s / p2) * (1.0 + s / p3));
    };
}

Reals realsOf(const cvtest::Outcome& o) { return o.ok ? cvtest::realsOf(*o.value) : Reals{}; }

}  // namespace

TEST(AcPoles, OnePoleFallsThreeDecibelsAtItsCornerAndGainsFollowLinearlyInFrequency) {
    const double fc = 1e3, f0 = 10.0;
    auto h = sweep(poles(1.0, fc), logSweep(f0, 1e6, 200));
    // Half the power of the lowest frequency's: |H(f)|^2 = |H(f0)|^2 / 2.
    auto bw = call("Bandwidth", {h, reals({10 * std::log10(2.0)})});
    ASSERT_TRUE(bw.ok) << bw.error;
    EXPECT_NEAR(bw.value->realAt(0), fc * std::sqrt(1 + 2 * (f0 / fc) * (f0 / fc)), 1e-6 * fc);
    cvtest::expectTypes(*bw.value, PhysType::Frequency, PhysType::None);
    EXPECT_NEAR(number("Bandwidth", {h}), fc * std::sqrt(std::pow(10, 0.3) * (1 + (f0 / fc) * (f0 / fc)) - 1),
                1e-6 * fc);
    EXPECT_NEAR(number("GainAt", {h, reals({fc})}), -10 * std::log10(2.0), 1e-9);
    // On a coarse sweep the dB values are linear in f between samples, not
    // in log f: 0 dB at 10 Hz, -20 dB at 100 Hz.
    auto coarse = cvtest::wave({1, 1, 0.1}, {1, 10, 100});
    EXPECT_DOUBLE_EQ(number("Bandwidth", {coarse}), 10 + 90 * 3.0 / 20);
    EXPECT_DOUBLE_EQ(number("GainAt", {coarse, reals({55})}), -10.0);
    EXPECT_EQ(call("GainAt", {coarse, reals({55})}).value->physType(), PhysType::Decibel);
}

TEST(AcPoles, TwoPoleLoopHasItsAnalyticCrossoverAndPhaseMarginButNoGainMargin) {
    const double t0 = 100, p1 = 1e3, p2 = 1e5;
    auto t = sweep(poles(t0, p1, p2), logSweep(1, 1e8, 400));
    // |T|^2 = 1: u^2 / (p1 p2)^2 + u (1/p1^2 + 1/p2^2) + 1 - t0^2 = 0, u = f^2.
    const double a = 1 / (p1 * p1 * p2 * p2), b = 1 / (p1 * p1) + 1 / (p2 * p2), c = 1 - t0 * t0;
    const double fu = std::sqrt((-b + std::sqrt(b * b - 4 * a * c)) / (2 * a));
    EXPECT_NEAR(number("UnityGainFrequency", {t}), fu, 1e-5 * fu);
    auto pm = call("PhaseMargin", {t});
    ASSERT_TRUE(pm.ok) << pm.error;
    EXPECT_NEAR(pm.value->realAt(0), 180 - (std::atan(fu / p1) + std::atan(fu / p2)) * kDeg, 1e-4);
    EXPECT_EQ(pm.value->physType(), PhysType::Phase);
    auto gm = call("GainMargin", {t});
    EXPECT_EQ(
        gm.error.rfind("GainMargin: argument 1 (loopgain) never reaches -180 degrees of phase (the lowest is ", 0), 0u)
        << gm.error;
}

TEST(AcPhase, IsUnwrappedPastMinus180FromTheLowFrequencyEnd) {
    // Three equal poles: -180 degrees at p sqrt(3), where |T| = t0 / 8.
    const double p = 1e3;
    for (double t0 : {4.0, 100.0}) {
        auto t = sweep(poles(t0, p, p, p), logSweep(1, 1e7, 400));
        const double gm = number("GainMargin", {t});
        EXPECT_NEAR(gm, -20 * std::log10(t0 / 8), 1e-4) << t0;
        // At t0 = 100 the crossover lies at -233 degrees: a negative margin,
        // which the principal phase (+127) would turn into 307.
        const double fu = p * std::sqrt(std::pow(t0, 2.0 / 3) - 1);
        EXPECT_NEAR(number("PhaseMargin", {t}), 180 - 3 * std::atan(fu / p) * kDeg, 1e-3) << t0;
    }
    // A delay turns the phase through a hundred turns; the first -180 counts.
    // T = fu / (jf) exp(-j 2 pi f tau): margin 90 - 360 fu tau, -180 at 1 / (4 tau).
    const double fu = 1e3, tau = 1e-4;
    auto delayed = sweep([&](double f) { return fu / cplx(0, f) * std::exp(cplx(0, -2 * std::numbers::pi * f * tau)); },
                         cvtest::grid(100000, 10, 10));
    EXPECT_NEAR(number("PhaseMargin", {delayed}), 90 - 360 * fu * tau, 1e-6);
    EXPECT_NEAR(number("GainMargin", {delayed}), 20 * std::log10(1 / (4 * tau) / fu), 1e-5);
}

TEST(AcPhase, LoopGainWithItsInversionIsReadByItsStartingPhaseOrAsTold) {
    const Response plain = poles(100, 1e3, 1e5, 1e6);
    const Response inverted = [&](double f) { return -plain(f); };
    const Reals f = logSweep(1, 1e8, 200);
    const double pm = number("PhaseMargin", {sweep(plain, f)}), gm = number("GainMargin", {sweep(plain, f)});
    EXPECT_DOUBLE_EQ(number("PhaseMargin", {sweep(inverted, f)}), pm);
    EXPECT_DOUBLE_EQ(number("PhaseMargin", {sweep(inverted, f), str("inverted")}), pm);
    EXPECT_DOUBLE_EQ(number("GainMargin", {sweep(inverted, f), str("INVERTED")}), gm);
    // Told it is plain, the inverted loop is 180 degrees away from -1.
    EXPECT_NEAR(number("PhaseMargin", {sweep(inverted, f), str("plain")}), pm + 180, 1e-9);
    // Two integrators and a zero also start near 180 degrees: 'plain' reads
    // them as they are, with the zero's lead as the margin.
    const double fz = 100;
    auto pll = sweep([&](double x) { return std::pow(1e3 / cplx(0, x), 2) * (1.0 + cplx(0, x / fz)); }, f);
    const double fu = number("UnityGainFrequency", {pll});
    EXPECT_NEAR(number("PhaseMargin", {pll, str("plain")}), std::atan(fu / fz) * kDeg, 1e-4);
    EXPECT_EQ(call("PhaseMargin", {pll, str("upside")}).error,
              "PhaseMargin: argument 2 (form) must be 'auto', 'plain' or 'inverted'");
}

TEST(AcInputs, MagnitudesAndDecibelsReadAsTheComplexResponse) {
    const Reals f = logSweep(10, 1e5, 50);
    Reals mag, db;
    for (double x : f) mag.push_back(std::abs(poles(30, 1e3)(x))), db.push_back(20 * std::log10(mag.back()));
    auto h = sweep(poles(30, 1e3), f), m = cvtest::wave(mag, f), d = cvtest::wave(db, f, PhysType::Decibel);
    for (const char* fn : {"Bandwidth", "UnityGainFrequency"})
        for (const auto& w : {m, d}) EXPECT_NEAR(number(fn, {w}), number(fn, {h}), 1e-9) << fn;
    EXPECT_NEAR(number("GainAt", {d, reals({123})}), number("GainAt", {h, reals({123})}), 1e-12);
    // Without the Decibel type a negative value cannot be a magnitude.
    EXPECT_EQ(
        call("Bandwidth", {cvtest::wave({6, 3, -3}, {1, 2, 3})}).error,
        "Bandwidth: argument 1 (wave) has a negative value at 3 Hz: a real sweep is read as a magnitude; give the "
        "complex response, or the gain in dB with the Decibel type");
    EXPECT_EQ(call("PhaseMargin", {m}).error,
              "PhaseMargin: argument 1 (loopgain) is real: a margin needs the phase of the complex loop gain");
    EXPECT_EQ(call("GainAt", {cvtest::wave(mag, f, PhysType::Phase), reals({100})}).error,
              "GainAt: argument 1 (wave) holds phases: give the complex response, its magnitude or its gain in dB");
}

TEST(AcRuns, EachRunIsMeasuredAloneAndARefusalNamesItsRun) {
    const Reals f = logSweep(1, 1e6, 100);
    const std::vector<Response> runs{poles(50, 1e3, 1e5), poles(60, 2e3, 1e5), poles(70, 3e3, 2e5)};
    for (const char* fn : {"Bandwidth", "UnityGainFrequency", "PhaseMargin"}) {
        const Reals all = realsOf(call(fn, {sweep(runs, f)}));
        ASSERT_EQ(all.size(), 3u) << fn;
        for (size_t r = 0; r < 3; ++r) EXPECT_EQ(all[r], number(fn, {sweep(runs[r], f)})) << fn << r;
    }
    auto gain = call("GainAt", {sweep(runs, f), reals({1e4})});
    ASSERT_EQ(realsOf(gain).size(), 3u);
    EXPECT_EQ(gain.value->physType(), PhysType::Decibel);
    auto flat = call("UnityGainFrequency", {sweep({runs[0], poles(0.5, 1e3)}, f)});
    EXPECT_FALSE(flat.ok);
    EXPECT_EQ(
        flat.error,
        "run 2: UnityGainFrequency: argument 1 (wave) never rises above 0 dB (unity gain): it never falls through "
        "it");
}

TEST(AcRefusals, SweepsThatCannotBeReadAndCrossingsThatNeverHappen) {
    auto bad = [](const char* fn, cv::ValuePtr w) { return call(fn, {w, reals({100})}).error; };
    const Reals f{1, 10, 100, 1000};
    EXPECT_EQ(bad("GainAt", reals({1, 2})),
              "GainAt: argument 1 (wave) has no x-values: it must be a sweep against frequency");
    EXPECT_EQ(bad("GainAt", cvtest::wave({1}, {1})), "GainAt: argument 1 (wave) has 1 sample; at least 2 are needed");
    EXPECT_EQ(bad("GainAt", cvtest::wave({1, 1}, {1, NAN})), "GainAt: argument 1 (wave) has a NaN frequency");
    EXPECT_EQ(bad("GainAt", cvtest::wave({1, 1}, {2, 1})),
              "GainAt: argument 1 (wave) has frequencies that fall: they must not decrease");
    EXPECT_EQ(bad("GainAt", cvtest::wave({1, NAN, 1, 1}, f)), "GainAt: argument 1 (wave) has a NaN value at 10 Hz");
    EXPECT_EQ(bad("GainAt", sweep([](double x) { return x > 50 ? cplx(INFINITY, 0) : 1.0; }, f)),
              "GainAt: argument 1 (wave) has an infinite value at 100 Hz");
    EXPECT_EQ(bad("GainAt", cvtest::wave({1, 1}, {0, 1}, PhysType::None, PhysType::Time)),
              "GainAt: argument 1 (wave) has times for x-values: an AC sweep is against frequency");
    auto w = cvtest::wave({2, 1.5, 0.5, 0.2}, f);
    EXPECT_EQ(call("GainAt", {w, reals({2000})}).error,
              "GainAt: argument 2 (f) lies outside the sweep, which runs from 1 to 1000 Hz");
    EXPECT_EQ(call("GainAt", {w, reals({NAN})}).error, "GainAt: argument 2 (f) is NaN");
    for (double drop : {0.0, -3.0, double(NAN)})
        EXPECT_EQ(call("Bandwidth", {w, reals({drop})}).error,
                  "Bandwidth: argument 2 (drop) must be a positive number of dB");
    EXPECT_EQ(
        call("Bandwidth", {w, reals({40})}).error,
        "Bandwidth: argument 1 (wave) never falls 40 dB below its gain at the lowest frequency (6.0206 dB at 1 Hz)");
    EXPECT_EQ(call("Bandwidth", {cvtest::wave({0, 1}, {1, 2})}).error,
              "Bandwidth: argument 1 (wave) is 0 at the lowest frequency: it has no gain to fall from");
    EXPECT_EQ(
        call("UnityGainFrequency", {cvtest::wave({0.5, 2, 3}, {1, 2, 3})}).error,
        "UnityGainFrequency: argument 1 (wave) is still above 0 dB (unity gain) at the end of the sweep: it never "
        "falls through it");
}
