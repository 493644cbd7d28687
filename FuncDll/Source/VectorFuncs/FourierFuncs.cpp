// Spectra of waveforms: the FFT of the samples as they are (fft), after
// resampling onto an even grid (Spectrum), the configurable analyser
// (SpectrumUniv), Fourier coefficients at harmonics of a fundamental by exact
// integration of the interpolated waveform (Fourier), and the time windows
// (FourierWindow).
//
// Every transform here uses the positive exponent, X[m] = sum x[k] e^{+2 pi i mk/N},
// and scales bins by 1/(N/2) so that a sine of amplitude A reads A at its bin;
// the DC bin is halved so that it reads the mean.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "../FuncKit.h"
#include "Clocks.h"
#include "Parallel.h"
#include "Sanitizer.h"
#include "Fft.h"
#include "Waveform.h"

namespace {

using namespace cvmod;
using cv::fftcore::RealFft;
using cv::fftcore::v2;
using cv::fftcore::load2;
using cv::fftcore::splat2;
using cv::fftcore::store2;
using cv::fftcore::WorkSpace;
using Clock = std::chrono::steady_clock;

constexpr double kTwoPi = 6.283185307179586;
constexpr double kDegreesPerRadian = 57.29577951308232;

const char* const kComplexFft = "FFT function for complex data not yet implemented.";
const char* const kTooShortForFft = "Need at least two points for FFT";
const char* const kNoSpacing = "The first two x-values of argument %d in function '%s' give no sample spacing";
const char* const kUnevenSpacing =
    "The x-values in function '%s' are not evenly spaced (steps from %.6g to %.6g); its frequencies "
    "take the first step, %.6g, for all. Spectrum resamples onto an even grid first";
const char* const kTooManyPoints = "Too many points (%g) for FFT in function '%s'";
const char* const kTooManyHarmonics = "Too many harmonics (%g) in function '%s'";
const char* const kTooManyFrequencies = "Too many frequencies (%g) in function '%s'";

// ---------------------------------------------------------------- results
//
// Every result is one division of values (bins, or a windowed waveform)
// against their frequencies or x-values.

// Values keep the waveform's quantity; the reference is 1 / its x quantity
// (time gives frequency), named after that quantity.
void setSpectrumTypes(const FuncArgs& a, FuncResult& r) {
    r.setPhysType(a.physType(0));
    const PhysType f = PhysType::div(PhysType(PhysType::None), a.refPhysType(0));
    r.setRefPhysType(f);
    const char* name = sp_GetPhysTypeName(f);
    if (name && *name) r.setRefName(YString(name));
}

// ---------------------------------------------------------------- windows

enum class Window { None, Hanning, Hamming, Blackman };

// a0 + a1 cos(2 pi u) + a2 cos(4 pi u); each window has a mean of about 1, so
// windowing keeps the amplitude read at a bin.
struct WindowTerms {
    double a0, a1, a2;
};

WindowTerms termsOf(Window w) {
    switch (w) {
        case Window::Hanning: return {1.0, -1.0, 0.0};
        case Window::Hamming: return {1.0, -0.8518518518518519, 0.0};
        case Window::Blackman: return {1.0, -1.1904761904761905, 0.1904761904761905};
        default: return {1.0, 0.0, 0.0};
    }
}

// out[i] = w((x[i] - x[0]) / period) * y[i], for samples at any x.
void timeWindow(const double* y, const double* x, double* out, int64_t n, Window w, double period) {
    const WindowTerms t = termsOf(w);
    if (w == Window::None || n < 1) {
        std::copy(y, y + n, out);
        return;
    }
    const double x0 = x[0], scale = kTwoPi / period;
    for (int64_t i = 0; i < n; ++i) {
        const double c = std::cos((x[i] - x0) * scale);
        out[i] = (t.a0 + t.a1 * c + t.a2 * (2.0 * c * c - 1.0)) * y[i];
    }
}

// The same windows on an even grid of the plan's size: u = i / N, with the
// cosines read from the plan's table.
void gridWindow(const RealFft& plan, double* buf, Window w) {
    const int64_t N = plan.size();
    const WindowTerms t = termsOf(w);
    if (w == Window::None) return;
    if (t.a2 == 0.0) {
        plan.applyWindow(buf, N, t.a0, t.a1);
        return;
    }
    for (int64_t i = 0; i < N; ++i) buf[i] *= t.a0 + t.a1 * plan.cosTurn(i) + t.a2 * plan.cosTurn(2 * i);
}

// A plan borrowed for one call and handed back for the next one.
struct PlanLease {
    explicit PlanLease(int64_t n) : plan(RealFft::acquire(n)) {}
    ~PlanLease() { RealFft::release(std::move(plan)); }
    RealFft* operator->() const { return plan.get(); }
    RealFft& operator*() const { return *plan; }
    std::unique_ptr<RealFft> plan;
};

// out[i] = X[i] / (N/2) for i < N/2, with the DC bin halved.
void scaledSpectrum(RealFft& plan, const double* samples, cplx* out) {
    plan.halfSpectrum(samples, out, 2.0 / double(plan.size()));
    out[0] = {out[0].real() * 0.5, out[0].imag()};
}

// The result of fft and Spectrum: the N/2 bins of the N samples (the first
// `count` given, zeros after them, windowed by a0 + a1 cos(2 pi i / N)) taken
// `spacing` apart, against their frequencies. Frequencies are real: x-values
// the waveform functions can read, at half the memory of complex ones.
void writeSpectrum(const FuncArgs& a, FuncResult& r, RealFft& plan, const double* samples, int64_t count,
                   double spacing, double a0, double a1) {
    const int64_t N = plan.size();
    cplx* bins = r.makeComplexVector(N / 2);
    double* freq = r.makeRealRefVector(N / 2);
    plan.halfSpectrum(samples, count, bins, 2.0 / double(N), a0, a1);
    bins[0] = {bins[0].real() * 0.5, bins[0].imag()};
    for (int64_t i = 0; i < N / 2; ++i) freq[i] = double(i) * (1.0 / spacing) / double(N);
    setSpectrumTypes(a, r);
}

FUNC_ERROR tooManyPoints(const FuncArgs& a, MessageHandler& messages, double count) {
    messages.error(kTooManyPoints, count, a.functionName());
    return FuncFailed;
}

// ---------------------------------------------------------------- fft

// The bins take the first step for every sample, which a simulator's
// transient (a tiny first step, then steps the solver chose) is far from: the
// values stay as they are, and the caller hears why they may mislead.
void warnIfUneven(const FuncArgs& a, const Wave& w, double first, MessageHandler& messages) {
    double lo = first, hi = first;
    for (int64_t i = 2; i < w.n; ++i) {
        const double step = w.x[i] - w.x[i - 1];
        lo = std::min(lo, step);
        hi = std::max(hi, step);
    }
    const double tolerance = 1e-6 * std::fabs(first);
    if (!(hi - first <= tolerance && first - lo <= tolerance))
        messages.warning(kUnevenSpacing, a.functionName(), lo, hi, first);
}

FUNC_ERROR fftWorker(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    if (a.type(0) != VD_Real) {
        messages.error(kComplexFft);
        return FuncFailed;
    }
    const Wave w = waveOf(a, 0);
    if (a.length(0) < 2) {
        messages.error(kTooShortForFft);
        return FuncFailed;
    }
    if (!w.x) return noReference(messages, a, 1);
    // The bin spacing comes from the first two x-values alone; a zero or
    // undefined spacing would give infinite or NaN frequencies.
    const double spacing = w.n >= 2 ? w.x[1] - w.x[0] : 0.0;
    if (w.n < 2 || !std::isfinite(spacing) || spacing == 0.0) {
        messages.error(kNoSpacing, 1, a.functionName());
        return FuncFailed;
    }
    const int64_t N = cv::fftcore::nextPowerOfTwo(w.n);
    if (N == 0) return tooManyPoints(a, messages, double(w.n));
    warnIfUneven(a, w, spacing, messages);

    // The window and the zeros after the samples are applied as the
    // transform reads them: no copy of the waveform is made.
    const char* name = stringOr(a, 1, "");
    double a0 = 1.0, a1 = -1.0;
    if (sameWord(name, "hamming")) a0 = 1.08, a1 = -0.92;
    else if (sameWord(name, "none")) a0 = 1.0, a1 = 0.0;
    PlanLease plan(N);
    writeSpectrum(a, r, *plan, w.y, w.n, spacing, a0, a1);
    return FuncOk;
}

// ---------------------------------------------------------------- Spectrum

FUNC_ERROR spectrumWorker(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const Wave w = waveOf(a, 0);
    if (!w.x || w.n < 1) return FuncOk;
    // Without a count the spectrum takes as many points as the waveform has.
    const double count = std::trunc(realOr(a, 1, double(w.n)));
    if (!(count >= 2)) return FuncOk;
    if (count > double(cv::fftcore::kMaxPoints)) return tooManyPoints(a, messages, count);
    const int64_t N = cv::fftcore::nextPowerOfTwo(int64_t(count));

    const double start = realOr(a, 2, w.x[0]), stop = realOr(a, 3, w.x[w.n - 1]);
    const double step = (stop - start) / double(N);
    // A reversed, empty or unbounded interval has no frequency scale.
    if (!(stop > start) || !std::isfinite(step) || step == 0.0) return FuncOk;

    PlanLease plan(N);
    WorkSpace buf(N);
    cv::wave::ResampleSource src{w.y, w.x, w.n, start, stop};
    cv::wave::ResampleDest dst{buf.get(), step, N};
    cv::wave::resample(src, dst, a.physType(0) == PhysType::LogicLevel ? 1 : 2, false);
    writeSpectrum(a, r, *plan, buf.get(), N, step, 1.0, -1.0);
    return FuncOk;
}

// ---------------------------------------------------------------- Fourier integration

// The waveform with every point dropped that lies within 1e-10 (relative to
// its x) of the last point kept: repeated time points (breakpoints) would
// make zero-length segments. A point whose x does not exceed the last one
// kept, or is not a number, is dropped too, so the kept x strictly ascend.
struct KeptPoints {
    const double* y = nullptr;
    const double* x = nullptr;
    int64_t n = 0;
    WorkSpace storage;  // y then x, when something was dropped
};

void dropCrowded(const double* y, const double* x, int64_t n, KeptPoints& k) {
    auto keep = [](double xi, double last) { return xi - last > std::fabs(xi) * 1e-10 && std::isfinite(xi); };
    int64_t first = 0;
    while (first < n && !std::isfinite(x[first])) ++first;
    if (first == n) return;
    // Count first: the copy is made only when needed, and at its final size.
    int64_t count = 1;
    double last = x[first];
    for (int64_t i = first + 1; i < n; ++i) {
        if (!keep(x[i], last)) continue;
        last = x[i];
        ++count;
    }
    if (count == n) {
        k.y = y;
        k.x = x;
        k.n = n;
        return;
    }
    k.storage = WorkSpace(2 * count);
    double* ky = k.storage.get();
    double* kx = ky + count;
    int64_t m = 0;
    ky[m] = y[first];
    kx[m++] = last = x[first];
    for (int64_t i = first + 1; i < n; ++i) {
        if (!keep(x[i], last)) continue;
        ky[m] = y[i];
        kx[m++] = last = x[i];
    }
    k.y = ky;
    k.x = kx;
    k.n = m;
}

struct FourierJob {
    const double* y = nullptr;  // kept points, x strictly ascending, n >= 2
    const double* x = nullptr;
    int64_t n = 0;
    int64_t firstHarmonic = 0;
    int order = 2;
    double f0 = 0;
    int64_t harmonics = 0;
    double timeLimit = 0;  // seconds; 0 or less: none
    Clock::time_point start;
};

// Harmonics are handled eight at a time in the phase recurrence.
constexpr int64_t kLanes = 8;

// cos and sin of (k0 + h) w0 t for h < count (a multiple of kLanes): the
// first directly, the next seven by adding w0 t, the rest by adding 8 w0 t
// to the phase eight harmonics back (four independent chains, so the
// recurrence runs at the speed of the multiplier, not of its latency).
void phasesAt(double t, int64_t k0, double wFirst, double w0, int64_t count, double* c, double* s) {
    double c0 = 1.0, s0 = 0.0, ct, st;
    sincos(w0 * t, &st, &ct);
    // The usual first harmonics 0 and 1 need no sine of their own.
    if (k0 == 1) {
        c0 = ct;
        s0 = st;
    } else if (k0 != 0) {
        sincos(wFirst * t, &s0, &c0);
    }
    c[0] = c0;
    s[0] = s0;
    for (int h = 1; h < kLanes; ++h) {
        c[h] = c[h - 1] * ct - s[h - 1] * st;
        s[h] = c[h - 1] * st + s[h - 1] * ct;
    }
    double c2 = ct * ct - st * st, s2 = 2.0 * ct * st;
    double c4 = c2 * c2 - s2 * s2, s4 = 2.0 * c2 * s2;
    const v2 c8 = splat2(c4 * c4 - s4 * s4), s8 = splat2(2.0 * c4 * s4);
    v2 ac = load2(c), as = load2(s), bc = load2(c + 2), bs = load2(s + 2);
    v2 cc = load2(c + 4), cs = load2(s + 4), dc = load2(c + 6), ds = load2(s + 6);
    for (int64_t h = kLanes; h < count; h += kLanes) {
        v2 tc = ac * c8 - as * s8;
        as = ac * s8 + as * c8;
        ac = tc;
        tc = bc * c8 - bs * s8;
        bs = bc * s8 + bs * c8;
        bc = tc;
        tc = cc * c8 - cs * s8;
        cs = cc * s8 + cs * c8;
        cc = tc;
        tc = dc * c8 - ds * s8;
        ds = dc * s8 + ds * c8;
        dc = tc;
        store2(c + h, ac);
        store2(s + h, as);
        store2(c + h + 2, bc);
        store2(s + h + 2, bs);
        store2(c + h + 4, cc);
        store2(s + h + 4, cs);
        store2(c + h + 6, dc);
        store2(s + h + 6, ds);
    }
}

// Two segments belong to one parabola when they are within a factor of 10 of
// each other in length and in slope; otherwise the parabola would invent an
// overshoot the data does not have.
bool alike(double lenA, double lenB, double slopeA, double slopeB) {
    const double a = std::fabs(slopeA), b = std::fabs(slopeB);
    return lenA > 0.1 * lenB && 10.0 * lenB > lenA && a > 0.1 * b && 10.0 * b > a;
}

// Integral of y(t) e^{+i w t} over the waveform, y linear or parabolic on each
// segment, for the harmonics k0 + h0 ... k0 + h0 + count - 1 of f0. With the
// antiderivative
//   e^{iwt} (Q + iR),  Q = y'(t) / w^2,  R = (y''/w^2 - y(t)) / w,
// each segment adds its value at x1 minus its value at x0. The parabola is
// kept in its local form (end values, slope, curvature) rather than as
// coefficients of powers of t: those cancel catastrophically when the
// segments are short against their distance from t = 0. Writes each
// harmonic's coefficient, the integral scaled by (k != 0 ? 2 : 1) / T.
// Returns false when the time limit ran out or the user interrupted.
bool integrateHarmonics(const FourierJob& job, int64_t h0, int64_t count, cplx* out, const std::atomic<bool>& stop) {
    const int64_t Hp = (count + kLanes - 1) / kLanes * kLanes;
    WorkSpace space(8 * Hp);
    double* invW = space.get();
    double* invW2 = invW + Hp;
    double* c0 = invW2 + Hp;
    double* s0 = c0 + Hp;
    double* c1 = s0 + Hp;
    double* s1 = c1 + Hp;
    double* accRe = s1 + Hp;
    double* accIm = accRe + Hp;
    const int64_t kFirst = job.firstHarmonic + h0;
    const double w0 = kTwoPi * job.f0;
    const double wFirst = kTwoPi * double(kFirst) * job.f0;
    int64_t dcIndex = -1;
    for (int64_t h = 0; h < Hp; ++h) {
        const int64_t k = kFirst + h;
        const double w = kTwoPi * double(k) * job.f0;
        // The DC term and the padding lanes contribute nothing here.
        invW[h] = h < count && k != 0 ? 1.0 / w : 0.0;
        invW2[h] = invW[h] * invW[h];
        accRe[h] = accIm[h] = 0.0;
        if (h < count && k == 0) dcIndex = h;
    }
    const double* x = job.x;
    const double* y = job.y;
    const int64_t n = job.n;
    phasesAt(x[0], kFirst, wFirst, w0, Hp, c0, s0);
    double dc = 0.0;
    const int64_t checkEvery = std::max<int64_t>(1, n / 100);
    int64_t untilCheck = checkEvery;
    for (int64_t i = 0; i + 1 < n; ++i) {
        const double xa = x[i], xb = x[i + 1], ya = y[i], yb = y[i + 1];
        const double len = xb - xa, slope = (yb - ya) / len;
        double d = 0.0;  // y = ya + slope (t - xa) + d (t - xa)(t - xb)
        if (job.order >= 2 && i + 2 < n) {
            const double lenNext = x[i + 2] - xb, slopeNext = (y[i + 2] - yb) / lenNext;
            if (alike(len, lenNext, slope, slopeNext)) {
                d = (slopeNext - slope) / (x[i + 2] - xa);
            } else if (i >= 1) {
                const double lenPrev = xa - x[i - 1], slopePrev = (ya - y[i - 1]) / lenPrev;
                if (alike(lenPrev, len, slopePrev, slope)) d = (slope - slopePrev) / (xb - x[i - 1]);
            }
        }
        dc += len * (ya + yb) * 0.5 - d * len * len * len / 6.0;
        phasesAt(xb, kFirst, wFirst, w0, Hp, c1, s1);
        const v2 Ya = splat2(ya), Yb = splat2(yb), Da = splat2(slope - d * len), Db = splat2(slope + d * len);
        const v2 D2 = splat2(2.0 * d);
        for (int64_t h = 0; h < Hp; h += 2) {
            const v2 iw = load2(invW + h), iw2 = load2(invW2 + h);
            const v2 p = D2 * iw2;
            const v2 qa = Da * iw2, qb = Db * iw2, ra = (p - Ya) * iw, rb = (p - Yb) * iw;
            const v2 ca = load2(c0 + h), sa = load2(s0 + h), cb = load2(c1 + h), sb = load2(s1 + h);
            store2(accRe + h, load2(accRe + h) + ((qb * cb - rb * sb) - (qa * ca - ra * sa)));
            store2(accIm + h, load2(accIm + h) + ((qb * sb + rb * cb) - (qa * sa + ra * ca)));
        }
        std::swap(c0, c1);
        std::swap(s0, s1);
        if (--untilCheck == 0) {
            untilCheck = checkEvery;
            if (stop.load(std::memory_order_relaxed) || cv::interruptRequested()) return false;
            if (job.timeLimit > 0 &&
                std::chrono::duration<double>(Clock::now() - job.start).count() > job.timeLimit)
                return false;
        }
    }
    if (dcIndex >= 0) accRe[dcIndex] += dc;
    // Coefficients F[h] = (k != 0 ? 2 : 1) / T * integral.
    const double T = x[n - 1] - x[0];
    for (int64_t h = 0; h < count; ++h) {
        const double scale = (kFirst + h != 0 ? 2.0 : 1.0) / T;
        out[h] = {accRe[h] * scale, accIm[h] * scale};
    }
    return true;
}

// Every harmonic is integrated on its own, so blocks of harmonics go to both
// cores. The blocks are fixed in size, so the phase recurrence restarts at the
// same harmonics and the result is the same bits for any number of threads.
constexpr int64_t kHarmonicsPerBlock = 2048;

// The coefficients of harmonics k0 ... k0 + harmonics - 1 into out; false when
// the time limit ran out or the user interrupted.
bool fourierCoefficients(const FourierJob& job, cplx* out) {
    std::atomic<bool> stop{false};
    cv::forEachChunk(size_t(job.harmonics), size_t(kHarmonicsPerBlock), [&](size_t begin, size_t end) {
        if (stop.load(std::memory_order_relaxed)) return;
        const int64_t h0 = int64_t(begin);
        if (!integrateHarmonics(job, h0, int64_t(end - begin), out + h0, stop))
            stop.store(true, std::memory_order_relaxed);
    });
    return !stop.load();
}

// The integration touches every harmonic at every segment. Work beyond this
// (about five seconds on one core) would hold the caller for minutes or hours
// with nothing to show and no way to tell; such a call is refused as asking
// for too many harmonics or frequencies. The FFT method serves wide spectra.
// Under AddressSanitizer every step of the loop is checked and runs some
// twenty times slower (more with the fuzz build's coverage counters), so the
// same seconds buy less.
constexpr double kMaxIntegrationWork = cv::kAddressSanitizer ? 33554432.0 : 4294967296.0;  // harmonics x segments

bool tooMuchIntegration(double harmonics, int64_t points) {
    return harmonics * double(std::max<int64_t>(points - 1, 1)) > kMaxIntegrationWork;
}

// ---------------------------------------------------------------- Fourier

FUNC_ERROR fourierWorker(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const Wave w = waveOf(a, 0);
    const double f0 = realOr(a, 1, 0);
    const int64_t H = toInt64(realOr(a, 2, 0));
    // The first harmonic and the order share the last argument.
    const double k0 = realAt(a, 3, 0).value_or(0), order = realAt(a, 3, 1).value_or(2);
    if (!w.x || !(f0 > 0) || !std::isfinite(f0) || H <= 0) return FuncOk;
    if (H > cv::fftcore::kMaxPoints) {
        messages.error(kTooManyHarmonics, double(H), a.functionName());
        return FuncFailed;
    }
    KeptPoints kept;
    dropCrowded(w.y, w.x, w.n, kept);
    if (kept.n < 3) return FuncOk;
    if (tooMuchIntegration(double(H), kept.n)) {
        messages.error(kTooManyHarmonics, double(H), a.functionName());
        return FuncFailed;
    }

    FourierJob job;
    job.y = kept.y;
    job.x = kept.x;
    job.n = kept.n;
    job.firstHarmonic = toInt64(k0);
    job.order = std::min<int64_t>(toInt64(order), 2) >= 2 ? 2 : 1;
    job.f0 = f0;
    job.harmonics = H;
    job.start = Clock::now();

    cplx* out = r.makeComplexVector(H);
    double* freq = r.makeRealRefVector(H);
    fourierCoefficients(job, out);
    for (int64_t h = 0; h < H; ++h) freq[h] = double(job.firstHarmonic + h) * f0;
    setSpectrumTypes(a, r);
    return FuncOk;
}

// ---------------------------------------------------------------- FourierWindow

FUNC_ERROR fourierWindowWorker(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const Wave w = waveOf(a, 0);
    if (!w.x || w.n < 1) return FuncOk;
    const char* name = stringOr(a, 1, "hanning");
    const double period = realOr(a, 2, w.x[w.n - 1] - w.x[0]);
    // A period that is not a positive number (given so, or from a single
    // point or a waveform running backwards) leaves nothing to window by.
    if (!(period > 0) || !std::isfinite(period)) return FuncOk;
    Window kind;
    if (sameWord(name, "hanning")) kind = Window::Hanning;
    else if (sameWord(name, "hamming")) kind = Window::Hamming;
    else if (sameWord(name, "blackman")) kind = Window::Blackman;
    else if (sameWord(name, "rectangular")) kind = Window::None;
    else return FuncOk;  // an unknown window, like other unusable input, gives an empty result

    double* out = r.makeRealVector(w.n);
    double* ref = r.makeRealRefVector(w.n);
    timeWindow(w.y, w.x, out, w.n, kind, period);
    std::copy(w.x, w.x + w.n, ref);
    r.setPhysType(a.physType(0));
    r.setRefPhysType(a.refPhysType(0));
    r.setRefName(a.refName(0));
    return FuncOk;
}

// ---------------------------------------------------------------- SpectrumUniv

enum class Method { Fft, Integration };
enum class Form { Complex = 0, Magnitude = 1, Db = 2, PhaseDegrees = 3, DbPlus120 = 4 };

struct UnivOptions {
    Method method = Method::Fft;
    Form form = Form::Complex;
    bool stepFlag = false;
    double fStep = 0, fStart = 0, fStop = 0;
    bool wholeCycles = false;
    double fundamental = 0;
    double points = 1024;
    int order = 1;
    bool wholeRange = true;
    double xStart = 0, xStop = 0;
    Window window = Window::Hanning;
    double timeLimit = 0;
};

// False for an option that is not a finite number: no field means anything
// as NaN or infinity, and some would reach integer conversions.
// Values beyond the fifteen fields are ignored.
bool readOptions(const FuncArgs& a, UnivOptions& o) {
    for (int i = 0; i < 15; ++i)
        if (const auto v = realAt(a, 1, i); v && !std::isfinite(*v)) return false;
    auto at = [&](int i, double fallback) { return realAt(a, 1, i).value_or(fallback); };
    o.method = at(0, 0) == 1.0 ? Method::Integration : Method::Fft;
    const double form = at(1, 0);
    o.form = form == 1.0 || form == 2.0 || form == 3.0 || form == 4.0 ? Form(int(form)) : Form::Complex;
    o.stepFlag = at(2, 0) != 0;
    o.fStep = at(3, 0);
    o.fStart = at(4, 0);
    o.fStop = at(5, 0);
    o.wholeCycles = at(6, 0) != 0;
    o.fundamental = at(7, 0);
    o.points = std::trunc(at(8, 1024));
    o.order = int(std::clamp(std::trunc(at(9, 1)), -2147483648.0, 2147483647.0));
    o.wholeRange = at(10, 1) != 0;
    o.xStart = at(11, 0);
    o.xStop = at(12, 0);
    const double win = at(13, 1);
    o.window = win == 1.0 ? Window::Hanning : win == 2.0 ? Window::Hamming : win == 3.0 ? Window::Blackman
                                                                                         : Window::None;
    o.timeLimit = at(14, 0);
    return true;
}

// Completes the option set against the waveform; false for a set that
// describes no spectrum.
bool completeOptions(UnivOptions& o, const Wave& w) {
    if (!o.wholeRange && !(o.xStart < o.xStop && o.xStart >= 0 && o.xStop >= 0)) return false;
    if (o.wholeCycles && !(o.fundamental > 0)) return false;
    if (o.method == Method::Integration) {
        if (o.fStart < 0) o.fStart = 0;
        if (!(o.fStop > 0 && o.fStart < o.fStop)) return false;
    }
    if (o.wholeRange) {
        o.xStart = w.x[0];
        o.xStop = w.x[w.n - 1];
    }
    if (o.wholeCycles) {
        const double k = std::floor((o.xStop - o.xStart) * o.fundamental);
        if (!(k >= 1)) return false;
        o.xStart = o.xStop - k / o.fundamental;
        if (o.fStep <= 0 || o.stepFlag) o.fStep = o.fundamental / k;
    } else {
        if (!(o.xStop > o.xStart)) return false;
        if (o.fStep <= 0 || o.stepFlag) o.fStep = 1.0 / (o.xStop - o.xStart);
    }
    if (o.method == Method::Fft) {
        // The largest power of two in the count asked for, doubled past the
        // count that samples up to the stop frequency (any count below one
        // leaves the choice to that rule). Saturating arithmetic: the caller
        // refuses anything beyond the transform's limit with a message.
        double points = double(cv::fftcore::powerOfTwoBelow(o.points));
        const double needed = 2.0 * o.xStop * o.fStop + 1.0;
        if (points < needed) points = 2.0 * double(cv::fftcore::powerOfTwoBelow(needed));
        o.points = std::max(points, 2.0);
        if (!std::isfinite(o.fStep)) return false;
    } else if (!(o.fStep > 0) || !std::isfinite(o.fStep)) {
        return false;
    }
    return true;
}

// The spectrum v[0 .. count) at first + i * df, in the form asked for.
void emitSpectrum(const FuncArgs& a, FuncResult& r, const cplx* v, int64_t count, double first, double df,
                  Form form) {
    if (form == Form::Complex) {
        std::copy(v, v + count, r.makeComplexVector(count));
    } else {
        double* out = r.makeRealVector(count);
        for (int64_t i = 0; i < count; ++i) {
            const double re = v[i].real(), im = v[i].imag();
            switch (form) {
                case Form::Magnitude: out[i] = std::sqrt(re * re + im * im); break;
                case Form::Db: out[i] = 20.0 * std::log10(std::sqrt(re * re + im * im)); break;
                case Form::DbPlus120: out[i] = 20.0 * std::log10(std::sqrt(re * re + im * im)) + 120.0; break;
                default: out[i] = re == 0.0 && im == 0.0 ? 0.0 : std::atan2(im, re) * kDegreesPerRadian; break;
            }
        }
    }
    double* freq = r.makeRealRefVector(count);
    for (int64_t i = 0; i < count; ++i) freq[i] = first + double(i) * df;
    setSpectrumTypes(a, r);
}

FUNC_ERROR univByFft(const FuncArgs& a, FuncResult& r, MessageHandler& messages, const UnivOptions& o,
                     const Wave& w) {
    if (o.points > double(cv::fftcore::kMaxPoints)) return tooManyPoints(a, messages, o.points);
    const int64_t N = int64_t(o.points);
    const double span = o.xStop - o.xStart;
    PlanLease plan(N);
    WorkSpace buf(N);
    cv::wave::ResampleSource src{w.y, w.x, w.n, o.xStart, o.xStop};
    cv::wave::ResampleDest dst{buf.get(), span / double(N), N};
    cv::wave::resample(src, dst, o.order, false);
    gridWindow(*plan, buf.get(), o.window);
    WorkSpace bins(N);  // N/2 complex values
    cplx* spectrum = reinterpret_cast<cplx*>(bins.get());
    scaledSpectrum(*plan, buf.get(), spectrum);

    const double df = 1.0 / span;
    const int64_t half = N / 2;
    int64_t first = 0, end = half;
    if (o.fStop > 0 && o.fStop < double(half - 1) * df) {
        first = std::max<int64_t>(0, toInt64(o.fStart / df + 1e-08));
        end = std::min(half, toInt64(o.fStop / df + 1.0));
    }
    const int64_t count = std::max<int64_t>(0, end - first);
    emitSpectrum(a, r, spectrum + std::min(first, half), count, double(first) * df, df, o.form);
    return FuncOk;
}

FUNC_ERROR univByIntegration(const FuncArgs& a, FuncResult& r, MessageHandler& messages, const UnivOptions& o,
                             const Wave& w, Clock::time_point start) {
    const double k0 = std::trunc(o.fStart / o.fStep + 1e-12);
    const double harmonics = std::trunc(o.fStop / o.fStep - 1e-12) - k0 + 2;
    if (harmonics > double(cv::fftcore::kMaxPoints)) {
        messages.error(kTooManyFrequencies, harmonics, a.functionName());
        return FuncFailed;
    }
    const double* y = w.y;
    const double* x = w.x;
    int64_t n = w.n;
    cv::wave::TruncateOutData_YVector cut;
    if (o.xStart != x[0] || o.xStop != x[n - 1]) {
        if (!cv::wave::truncateWaveform(o.xStart, o.xStop, y, x, n, cut)) return FuncOk;
        y = cut.y.data();
        x = cut.x.data();
        n = cut.x.count();
    }
    std::vector<double> windowed;
    if (o.window != Window::None) {
        windowed.resize(size_t(n));
        timeWindow(y, x, windowed.data(), n, o.window, o.xStop - o.xStart);
        y = windowed.data();
    }
    KeptPoints kept;
    dropCrowded(y, x, n, kept);
    if (kept.n < 2 || harmonics < 1) return FuncOk;
    // A call with a time limit of its own has said how long it will wait.
    if (o.timeLimit <= 0 && tooMuchIntegration(harmonics, kept.n)) {
        messages.error(kTooManyFrequencies, harmonics, a.functionName());
        return FuncFailed;
    }

    FourierJob job;
    job.y = kept.y;
    job.x = kept.x;
    job.n = kept.n;
    job.firstHarmonic = int64_t(k0);
    job.order = 1;
    job.f0 = o.fStep;
    job.harmonics = int64_t(harmonics);
    job.timeLimit = o.timeLimit;
    job.start = start;
    // A granted time limit lifts the bound on the work, not on the memory:
    // the values are work space, counted against the host's limit.
    WorkSpace space(2 * job.harmonics);
    cplx* values = reinterpret_cast<cplx*>(space.get());
    if (!fourierCoefficients(job, values)) return FuncOk;  // out of time: an empty spectrum
    emitSpectrum(a, r, values, job.harmonics, k0 * o.fStep, o.fStep, o.form);
    return FuncOk;
}

FUNC_ERROR spectrumUnivWorker(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const Clock::time_point start = Clock::now();
    const Wave w = waveOf(a, 0);
    // Unusable input fails without a message.
    if (!w.x || w.n < 2) return FuncError;
    UnivOptions o;
    if (!readOptions(a, o) || !completeOptions(o, w)) return FuncError;
    return o.method == Method::Fft ? univByFft(a, r, messages, o, w)
                                   : univByIntegration(a, r, messages, o, w, start);
}

// clang-format off
FunctionRow registrations[] = {
    {"FourierWindow", {Real, String, Real},     {PerDivision}, 1, 3, handler<fourierWindowWorker>, "", PyVector, Plain},
    {"Fourier",       {Real, Real, Real, Real}, {PerDivision}, 3, 4, handler<fourierWorker>,       "", PyVector, Plain},
    {"Spectrum",      {Real, Real, Real, Real}, {PerDivision}, 1, 4, handler<spectrumWorker>,      "", PyVector, Plain},
    {"SpectrumUniv",  {Real, Real},             {PerDivision}, 2, 2, handler<spectrumUnivWorker>,  "", PyVector, Plain},
    {"fft",           {Real, String},           {PerDivision}, 1, 2, handler<fftWorker>,           "", PyVector, Plain},
};
// clang-format on

}  // namespace
