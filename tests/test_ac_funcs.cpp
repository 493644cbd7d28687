// Gain, bandwidth and the margins of AC sweeps: the phase unwrapped past
// -180 degrees, a loop gain with or without its inversion, the units, and
// the refusals. ngspice's `meas ac`, analytic loops, magnitude and dB sweeps
// and runs measured alone are the peers in the Python tests.
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

// H sampled at f.
cv::ValuePtr sweep(const Response& H, const Reals& f) {
    auto v = cv::Value::make(cv::Kind::Complex, int64_t(f.size()));
    auto* h = static_cast<cplx*>(v->mutableData());
    for (double fk : f) *h++ = H(fk);
    v->setRef(reals(f));
    return v;
}

// T0 / ((1 + jf/p1)(1 + jf/p2)(1 + jf/p3)), a pole at infinity left out.
Response poles(double t0, double p1, double p2 = INFINITY, double p3 = INFINITY) {
    return [=](double f) {
        const cplx s(0.0, f);
        return t0 / ((1.0 + s / p1) * (1.0 + s / p2) * (1.0 + s / p3));
    };
}

std::string error(const std::string& f, std::vector<cv::ValuePtr> args) { return call(f, std::move(args)).error; }

}  // namespace

TEST(AcPhase, IsUnwrappedPastMinus180FromTheLowFrequencyEnd) {
    // Three equal poles: -180 degrees at p sqrt(3), where |T| = t0 / 8. At
    // t0 = 100 the crossover lies at -233 degrees: negative margins, which
    // the principal phase (+127) would turn into 307.
    const double p = 1e3, t0 = 100, fu = p * std::sqrt(std::pow(t0, 2.0 / 3) - 1);
    auto t = sweep(poles(t0, p, p, p), logSweep(1, 1e7, 400));
    EXPECT_NEAR(number("GainMargin", {t}), -20 * std::log10(t0 / 8), 1e-4);
    auto pm = call("PhaseMargin", {t});
    ASSERT_TRUE(pm.ok) << pm.error;
    EXPECT_NEAR(pm.value->realAt(0), 180 - 3 * std::atan(fu / p) * kDeg, 1e-3);
    EXPECT_EQ(pm.value->physType(), PhysType::Phase);
    // A delay turns the phase through a hundred turns; the first -180 counts.
    // T = fc / (jf) exp(-j 2 pi f tau): margin 90 - 360 fc tau, -180 at 1 / (4 tau).
    const double fc = 1e3, tau = 1e-4;
    auto delayed = sweep([&](double f) { return fc / cplx(0, f) * std::exp(cplx(0, -2 * std::numbers::pi * f * tau)); },
                         cvtest::grid(100000, 10, 10));
    EXPECT_NEAR(number("PhaseMargin", {delayed}), 90 - 360 * fc * tau, 1e-6);
    EXPECT_NEAR(number("GainMargin", {delayed}), 20 * std::log10(1 / (4 * tau) / fc), 1e-5);
}

TEST(AcPhase, LoopGainWithItsInversionIsReadByItsStartingPhaseOrAsTold) {
    const Response plain = poles(100, 1e3, 1e5, 1e6);
    const Response inverted = [&](double f) { return -plain(f); };
    const Reals f = logSweep(1, 1e8, 200);
    const double pm = number("PhaseMargin", {sweep(plain, f)}), gm = number("GainMargin", {sweep(plain, f)});
    EXPECT_DOUBLE_EQ(number("PhaseMargin", {sweep(inverted, f), str("inverted")}), pm);
    EXPECT_DOUBLE_EQ(number("GainMargin", {sweep(inverted, f), str("INVERTED")}), gm);
    // Two integrators and a zero also start near 180 degrees: 'plain' reads
    // them as they are, with the zero's lead as the margin.
    const double fz = 100;
    auto pll = sweep([&](double x) { return std::pow(1e3 / cplx(0, x), 2) * (1.0 + cplx(0, x / fz)); }, f);
    const double fu = number("UnityGainFrequency", {pll});
    EXPECT_NEAR(number("PhaseMargin", {pll, str("plain")}), std::atan(fu / fz) * kDeg, 1e-4);
    EXPECT_EQ(error("PhaseMargin", {pll, str("upside")}),
              "PhaseMargin: argument 2 (form) must be 'auto', 'plain' or 'inverted'");
}

TEST(AcUnits, GainIsInDecibelsAndBandwidthAFrequency) {
    auto w = cvtest::wave({1, 1, 0.1}, {1, 10, 100});
    EXPECT_EQ(call("GainAt", {w, reals({55})}).value->physType(), PhysType::Decibel);
    EXPECT_EQ(call("Bandwidth", {w}).value->physType(), PhysType::Frequency);
}

TEST(AcRefusals, SweepsThatCannotBeReadAndCrossingsThatNeverHappen) {
    auto gainAt = [](cv::ValuePtr w, double f = 100) { return error("GainAt", {w, reals({f})}); };
    const Reals f{1, 10, 100, 1000};
    EXPECT_EQ(gainAt(reals({1, 2})), "GainAt: argument 1 (wave) has no x-values: it must be a sweep against frequency");
    EXPECT_EQ(gainAt(cvtest::wave({1}, {1})), "GainAt: argument 1 (wave) has 1 sample; at least 2 are needed");
    EXPECT_EQ(gainAt(cvtest::wave({1, 1}, {1, NAN})), "GainAt: argument 1 (wave) has a NaN frequency");
    EXPECT_EQ(gainAt(cvtest::wave({1, 1}, {2, 1})),
              "GainAt: argument 1 (wave) has frequencies that fall: they must not decrease");
    EXPECT_EQ(gainAt(cvtest::wave({1, NAN, 1, 1}, f)), "GainAt: argument 1 (wave) has a NaN value at 10 Hz");
    EXPECT_EQ(gainAt(sweep([](double x) { return x > 50 ? cplx(INFINITY, 0) : 1.0; }, f)),
              "GainAt: argument 1 (wave) has an infinite value at 100 Hz");
    EXPECT_EQ(gainAt(cvtest::wave({1, 1}, {0, 1}, PhysType::None, PhysType::Time)),
              "GainAt: argument 1 (wave) has times for x-values: an AC sweep is against frequency");
    EXPECT_EQ(gainAt(cvtest::wave(f, f, PhysType::Phase)),
              "GainAt: argument 1 (wave) holds phases: give the complex response, its magnitude or its gain in dB");
    // Without the Decibel type a negative value cannot be a magnitude.
    EXPECT_EQ(error("Bandwidth", {cvtest::wave({6, 3, -3}, {1, 2, 3})}),
              "Bandwidth: argument 1 (wave) has a negative value at 3 Hz: a real sweep is read as a magnitude; give "
              "the complex response, or the gain in dB with the Decibel type");
    EXPECT_EQ(error("PhaseMargin", {cvtest::wave(f, f)}),
              "PhaseMargin: argument 1 (loopgain) is real: a margin needs the phase of the complex loop gain");
    auto w = cvtest::wave({2, 1.5, 0.5, 0.2}, f);
    EXPECT_EQ(gainAt(w, 2000), "GainAt: argument 2 (f) lies outside the sweep, which runs from 1 to 1000 Hz");
    for (double drop : {0.0, -3.0, double(NAN)})
        EXPECT_EQ(error("Bandwidth", {w, reals({drop})}),
                  "Bandwidth: argument 2 (drop) must be a positive number of dB");
    EXPECT_EQ(
        error("Bandwidth", {w, reals({40})}),
        "Bandwidth: argument 1 (wave) never falls 40 dB below its gain at the lowest frequency (6.0206 dB at 1 Hz)");
    EXPECT_EQ(error("Bandwidth", {cvtest::wave({0, 1}, {1, 2})}),
              "Bandwidth: argument 1 (wave) is 0 at the lowest frequency: it has no gain to fall from");
    EXPECT_EQ(error("UnityGainFrequency", {cvtest::wave({0.5, 2, 3}, {1, 2, 3})}),
              "UnityGainFrequency: argument 1 (wave) is still above 0 dB (unity gain) at the end of the sweep: it "
              "never falls through it");
    EXPECT_EQ(error("UnityGainFrequency", {cvtest::wave({0.5, 0.2}, {1, 2})}),
              "UnityGainFrequency: argument 1 (wave) never rises above 0 dB (unity gain): it never falls through it");
}
