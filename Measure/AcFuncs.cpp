// Measurements of an AC sweep: a response against frequency in Hz (a
// complex signal of an AC raw file), one run at a time.
//
// How a sweep is read, by the kind of its values:
//   complex                      the response H: gain g = 20 log10 |H| dB,
//                                phase arg H
//   real of physical type Decibel the gain g in dB (db() of a typed signal)
//   real of any other type       the magnitude |H|: g = 20 log10 |H|
// A real sweep has no phase, so the margins refuse it; a real sweep of type
// Phase is no gain and is refused, as is a negative magnitude, a NaN or an
// infinite value (a magnitude of 0 is -inf dB and allowed), and a sweep whose
// x-values are times.
//
// Between two samples both gain (in dB) and phase are linear in frequency,
// not in log frequency: that is how `meas ac` interpolates vdb and vp, so a
// crossing lands where it puts it on any sweep. On a log sweep of N points a
// decade the difference to log interpolation shrinks as 1/N^2.
//
// The phase is unwrapped along the sweep from the lowest frequency:
// phi_0 = arg H(f_0) in (-180, 180], and every later phi_k is arg H(f_k) plus
// the whole turns that bring it nearest to phi_(k-1).
//
// With g_k, phi_k the values at the sampled f_k, and L a level:
//   the first fall to L      k is the first index with g_(k-1) > L >= g_k,
//                            t = (L - g_(k-1)) / (g_k - g_(k-1)),
//                            f = f_(k-1) + t (f_k - f_(k-1))
//   Bandwidth(w, drop)       the first fall to L = g_0 - drop (drop > 0,
//                            default 3): relative to the lowest frequency
//   GainAt(w, f)             g_(k-1) + t (g_k - g_(k-1)), f_(k-1) < f <= f_k
//   UnityGainFrequency(w)    the first fall to 0 dB (|w| falls through 1)
//   PhaseMargin(T)           180 + phi(f_u), f_u = UnityGainFrequency(T),
//                            phi interpolated with the same t, in degrees
//   GainMargin(T)            -g(f_180) dB, f_180 the first frequency where
//                            phi falls to -180 (interpolated the same way)
// A falling crossing is what each one looks for; a sweep that only rises
// through the level, or stays on one side, is refused saying so.
//
// The loop gain T is the return ratio of a negative feedback loop: the
// closed loop is A / (1 + T) and the margins are taken from T = -1. A loop
// gain written with its inversion (A * beta of a loop closed at an inverting
// input, the ratio return / injected of a broken loop) is -T and starts near
// 180 degrees. The optional form says which was given: 'plain' (T),
// 'inverted' (-T: its sign is flipped first) or 'auto' (the default):
// inverted when the phase at the lowest frequency lies within 45 degrees of
// 180, i.e. Re H(f_0) < 0 and |Im H(f_0)| <= |Re H(f_0)|. A loop with two
// integrators also starts near 180 degrees: give it as 'plain'.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>
#include <optional>
#include <string>
#include <utility>

#include "MeasureKit.h"

namespace {

using namespace measure;

constexpr double kDegrees = 180.0 / std::numbers::pi;

// One run of a sweep, read as the header says.
struct Sweep {
    const double* f = nullptr;
    const double* y = nullptr;  // a real sweep: magnitudes, or dB when inDb
    const cplx* h = nullptr;    // a complex sweep
    int64_t n = 0;
    bool inDb = false;

    double gain(int64_t k) const {
        if (h) return 20.0 * std::log10(std::abs(h[k]));
        return inDb ? y[k] : 20.0 * std::log10(y[k]);
    }
};

// The sweep of argument i, or none after the refusal.
std::optional<Sweep> sweepArg(const FuncArgs& a, int i, const char* name, MessageHandler& m) {
    auto no = [&](const std::string& why) {
        refuse(m, a, i + 1, name, why);
        return std::nullopt;
    };
    if (!hasReference(a, i)) return no("has no x-values: it must be a sweep against frequency");
    Sweep s;
    s.f = a.refData(i);
    if (!s.f) return no("must have real x-values (frequencies)");
    if (a.refPhysType(i) == PhysType::Time) return no("has times for x-values: an AC sweep is against frequency");
    s.h = a.complexData(i);
    s.y = a.realData(i);
    if (!s.h && !s.y) return no("must be numeric");
    if (s.y && a.physType(i) == PhysType::Phase)
        return no("holds phases: give the complex response, its magnitude or its gain in dB");
    s.inDb = s.y && a.physType(i) == PhysType::Decibel;
    s.n = std::min(a.length(i), a.refLength(i));
    if (s.n < 2)
        return no("has " + std::to_string(s.n) + (s.n == 1 ? " sample" : " samples") + "; at least 2 are needed");
    for (int64_t k = 0; k < s.n; ++k) {
        const double x = s.f[k];
        if (std::isnan(x)) return no("has a NaN frequency");
        if (k && x < s.f[k - 1]) return no("has frequencies that fall: they must not decrease");
        auto at = [x] { return " at " + shown(x) + " Hz"; };
        if (s.h) {
            const double re = s.h[k].real(), im = s.h[k].imag();
            if (std::isnan(re) || std::isnan(im)) return no("has a NaN value" + at());
            if (std::isinf(re) || std::isinf(im)) return no("has an infinite value" + at());
        } else {
            const double v = s.y[k];
            if (std::isnan(v)) return no("has a NaN value" + at());
            if (v == INFINITY || (!s.inDb && v == -INFINITY)) return no("has an infinite value" + at());
            if (!s.inDb && v < 0.0)
                return no("has a negative value" + at() +
                          ": a real sweep is read as a magnitude; give the complex response, or the gain in dB "
                          "with the Decibel type");
        }
    }
    return s;
}

// a + t (b - a), exact at the ends, so that a -inf dB end does not turn a
// sample that is met exactly into NaN.
double between(double a, double b, double t) { return t <= 0.0 ? a : t >= 1.0 ? b : a + t * (b - a); }

// A falling crossing: between samples k - 1 and k at fraction t.
struct Crossing {
    int64_t k = 0;
    double t = 0.0;
    double at(const double* x) const { return between(x[k - 1], x[k], t); }
};

double fraction(double from, double to, double level) {
    const double t = (level - from) / (to - from);
    return std::isnan(t) ? 0.0 : t;
}

// The first k with value(k - 1) > level >= value(k), in one pass that stops
// there.
template <class ValueAt>
std::optional<Crossing> firstFall(int64_t n, double level, ValueAt value) {
    double previous = value(0);
    for (int64_t k = 1; k < n; ++k) {
        const double v = value(k);
        if (previous > level && v <= level) return Crossing{k, fraction(previous, v, level)};
        previous = v;
    }
    return std::nullopt;
}

double power(cplx h) { return h.real() * h.real() + h.imag() * h.imag(); }

// The first fall of the gain to `level` dB. Compared as power (or as
// magnitude), so that only the two samples around the crossing take a
// logarithm: a scan of 10^7 samples costs a multiply-add each.
std::optional<Crossing> firstGainFall(const Sweep& s, double level) {
    if (s.inDb) return firstFall(s.n, level, [&](int64_t k) { return s.y[k]; });
    const auto c = s.h ? firstFall(s.n, std::pow(10.0, level / 10.0), [&](int64_t k) { return power(s.h[k]); })
                       : firstFall(s.n, std::pow(10.0, level / 20.0), [&](int64_t k) { return s.y[k]; });
    if (!c) return c;
    return Crossing{c->k, fraction(s.gain(c->k - 1), s.gain(c->k), level)};
}

// The first fall through 0 dB, or the refusal that says why there is none.
std::optional<Crossing> unityGain(const FuncArgs& a, const Sweep& s, const char* name, MessageHandler& m) {
    if (auto c = firstGainFall(s, 0.0)) return c;
    bool above = false;
    for (int64_t k = 0; k < s.n && !above; ++k) above = s.gain(k) > 0.0;
    refuse(m, a, 1, name,
           above ? "is still above 0 dB (unity gain) at the end of the sweep: it never falls through it"
                 : "never rises above 0 dB (unity gain): it never falls through it");
    return std::nullopt;
}

FUNC_ERROR bandwidth(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const double drop = realOr(a, 1, 3.0);
    if (!(drop > 0.0) || std::isinf(drop)) return refuse(m, a, 2, "drop", "must be a positive number of dB");
    const auto s = sweepArg(a, 0, "wave", m);
    if (!s) return FuncFailed;
    const double g0 = s->gain(0);
    if (std::isinf(g0)) return refuse(m, a, 1, "wave", "is 0 at the lowest frequency: it has no gain to fall from");
    const auto c = firstGainFall(*s, g0 - drop);
    if (!c)
        return refuse(m, a, 1, "wave",
                      "never falls " + shown(drop) + " dB below its gain at the lowest frequency (" + shown(g0) +
                          " dB at " + shown(s->f[0]) + " Hz)");
    setMeasured(r, c->at(s->f), PhysType::Frequency);
    return FuncOk;
}

FUNC_ERROR gainAt(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto f = levelArg(a, 1, "f", m);
    if (!f) return FuncFailed;
    const auto s = sweepArg(a, 0, "wave", m);
    if (!s) return FuncFailed;
    const double* end = s->f + s->n;
    if (*f < s->f[0] || *f > end[-1])
        return refuse(m, a, 2, "f",
                      "lies outside the sweep, which runs from " + shown(s->f[0]) + " to " + shown(end[-1]) + " Hz");
    const int64_t k = std::lower_bound(s->f, end, *f) - s->f;
    const double g =
        s->f[k] == *f ? s->gain(k) : between(s->gain(k - 1), s->gain(k), (*f - s->f[k - 1]) / (s->f[k] - s->f[k - 1]));
    setMeasured(r, g, PhysType::Decibel);
    return FuncOk;
}

FUNC_ERROR unityGainFrequency(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto s = sweepArg(a, 0, "wave", m);
    if (!s) return FuncFailed;
    const auto c = unityGain(a, *s, "wave", m);
    if (!c) return FuncFailed;
    setMeasured(r, c->at(s->f), PhysType::Frequency);
    return FuncOk;
}

// The loop gain T of a margin: complex, with its sign as the form says.
struct Loop {
    Sweep s;
    double sign = 1.0;
};

std::optional<Loop> loopArg(const FuncArgs& a, MessageHandler& m) {
    const int form = wordOf(a, 1, {"auto", "plain", "inverted"}, 0, -1);
    if (form < 0) {
        refuse(m, a, 2, "form", "must be 'auto', 'plain' or 'inverted'");
        return std::nullopt;
    }
    const auto s = sweepArg(a, 0, "loopgain", m);
    if (!s) return std::nullopt;
    if (!s->h) {
        refuse(m, a, 1, "loopgain", "is real: a margin needs the phase of the complex loop gain");
        return std::nullopt;
    }
    const cplx h0 = s->h[0];
    const bool inverted = form == 2 || (form == 0 && h0.real() < 0.0 && std::abs(h0.imag()) <= -h0.real());
    return Loop{*s, inverted ? -1.0 : 1.0};
}

// The unwrapped phase of T in degrees, sample by sample from the lowest
// frequency: the principal value plus whole turns counted, not summed steps,
// so that no rounding builds up over a long sweep.
class UnwrappedPhase {
public:
    explicit UnwrappedPhase(const Loop& loop) : loop_(loop), last_(principal(0)) {}
    // Call with k = 0, 1, 2 ... in order.
    double operator()(int64_t k) {
        const double p = principal(k);
        if (p - last_ > std::numbers::pi)
            --turns_;
        else if (p - last_ < -std::numbers::pi)
            ++turns_;
        last_ = p;
        return (p + 2.0 * std::numbers::pi * double(turns_)) * kDegrees;
    }

private:
    // In (-pi, pi]: a negative real value with a -0 imaginary part is +pi,
    // so that a loop starting there starts at +180, above -180.
    double principal(int64_t k) const {
        const cplx t = loop_.sign * loop_.s.h[k];
        const double p = std::atan2(t.imag(), t.real());
        return p == -std::numbers::pi ? std::numbers::pi : p;
    }
    const Loop& loop_;
    double last_;
    int64_t turns_ = 0;
};

FUNC_ERROR phaseMargin(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto loop = loopArg(a, m);
    if (!loop) return FuncFailed;
    const auto c = unityGain(a, loop->s, "loopgain", m);
    if (!c) return FuncFailed;
    // Unwrapped up to the crossing only: the phase beyond it plays no part.
    UnwrappedPhase phase(*loop);
    double before = phase(0), after = before;
    for (int64_t k = 1; k <= c->k; ++k) before = std::exchange(after, phase(k));
    setMeasured(r, 180.0 + between(before, after, c->t), PhysType::Phase);
    return FuncOk;
}

FUNC_ERROR gainMargin(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto loop = loopArg(a, m);
    if (!loop) return FuncFailed;
    const Sweep& s = loop->s;
    UnwrappedPhase phase(*loop);
    double lowest = INFINITY, lowestAt = s.f[0];
    const auto c = firstFall(s.n, -180.0, [&](int64_t k) {
        const double p = phase(k);
        if (p < lowest) {
            lowest = p;
            lowestAt = s.f[k];
        }
        return p;
    });
    if (!c)
        return refuse(m, a, 1, "loopgain",
                      "never reaches -180 degrees of phase (the lowest is " + shown(lowest) + " at " +
                          shown(lowestAt) + " Hz): it has no gain margin");
    setMeasured(r, -between(s.gain(c->k - 1), s.gain(c->k), c->t), PhysType::Decibel);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"Bandwidth",          {Numeric, Real},   {Statistic}, 1, 2, handler<bandwidth>,          "", PyReal, Plain, Pure},
    {"GainAt",             {Numeric, Real},   {Statistic}, 2, 2, handler<gainAt>,             "", PyReal, Plain, Pure},
    {"UnityGainFrequency", {Numeric},         {Statistic}, 1, 1, handler<unityGainFrequency>, "", PyReal, Plain, Pure},
    {"PhaseMargin",        {Numeric, String}, {Statistic}, 1, 2, handler<phaseMargin>,        "", PyReal, Plain, Pure},
    {"GainMargin",         {Numeric, String}, {Statistic}, 1, 2, handler<gainMargin>,         "", PyReal, Plain, Pure},
};
// clang-format on

}  // namespace
