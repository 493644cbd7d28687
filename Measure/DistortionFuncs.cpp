// Distortion and noise of a sampled sine at a given fundamental f0: THD,
// THDN, SNR, SINAD, ENOB and SFDR, one value per run.
//
// The waveform is analysed over whole periods of f0 only, so that every
// component at a multiple of 1/T falls on its own frequency: the largest
// whole number K of periods that ends at the last sample (a simulation
// settles towards its end), or the last `periods` of them. Over that
// window, T = K / f0 long and starting at t0 = x_last - T,
//   μ     = (1/T) ∫ y dt                                the mean (DC)
//   c_m   = (2/T) ∫ y(t) e^{+2πi m (t - t0) / T} dt     the component at m / T
//   A_k   = |c_{kK}|                                    harmonic k of f0
//   P_k   = A_k² / 2,  P_ac = (1/T) ∫ (y - μ)² dt = P_total - P_dc
// and then
//   THD   = 100 · sqrt(Σ_{k=2..H} A_k²) / A_1          in %
//   THDN  = 100 · sqrt(P_ac - P_1) / sqrt(P_1)         in %
//   SINAD = 10 · log10(P_1 / (P_ac - P_1))             in dB
//   SNR   = 10 · log10(P_1 / (P_ac - Σ_{k=1..H} P_k))  in dB
//   ENOB  = (SINAD - 1.76) / 6.02                      in bits
//   SFDR  = 20 · log10(A_1 / max_{m ≠ K} |c_m|)        in dB, 1 <= m <= M
// with M = floor(S / 2), S the number of steps (segments of positive
// length) in the window: half the mean sample rate, in multiples of 1/T.
// Harmonics beyond M are left out (the samples cannot show them), so H is
// at most M / K. A noise power that rounding leaves at or below zero counts
// as zero: SINAD and SNR are then +inf, THDN 0.
//
// y(t) is, by default ('lines'), the straight lines between the samples,
// every integral taken exactly over each segment (the closed form the
// Fourier function uses), never over resampled data. Read as 'samples', on
// even steps only, each sample stands for the step that ends at it: the
// integrals are the DFT of the samples after t0, as numpy's rfft gives it.
// The two differ where the straight lines differ from the samples: they
// soften harmonic k by sinc²(πk/N) at N samples per period, hold images of
// the signal beyond M (a perfect sine reads SINAD 40 log10(N) - 3.35 dB),
// and keep 2/3 of the power of noise that is white at the sample rate.
//
// The results are ratios, so the values are scaled by their largest
// magnitude in the window first: no square or quotient of the integration
// can overflow, however large the values.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "MeasureKit.h"
#include "MemoryBudget.h"
#include "Parallel.h"

namespace {

using namespace measure;

constexpr double kPi = 3.141592653589793, kTwoPi = 2 * kPi;

// Work beyond harmonics x segments = 2^30 (a few seconds) is refused rather
// than left to hold the caller.
constexpr double kMaxWork = 1073741824.0;

// Plain complex products: std::complex's operator* checks for infinities
// on every call, which the inner loops cannot afford.
inline cplx mul(cplx a, cplx b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

std::string samplesPerPeriod(int64_t steps, double periods) {
    const double v = double(steps) / periods;
    return shown(v) + (v == 1.0 ? " sample" : " samples") + " per period of f0";
}

// A scratch array counted against the call's memory limit, left
// uninitialised: its user writes every element first, on all the cores,
// so that they share the faulting-in of the fresh pages.
template <class T>
class Scratch {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    explicit Scratch(size_t n) : bytes_(n * sizeof(T)) {
        cv::reserveMemoryBytes(bytes_);
        data_ = static_cast<T*>(std::malloc(std::max<size_t>(bytes_, 1)));
        if (!data_) {
            cv::releaseMemoryBytes(bytes_);
            throw std::bad_alloc();
        }
    }
    ~Scratch() {
        std::free(data_);
        cv::releaseMemoryBytes(bytes_);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    T* get() const { return data_; }

private:
    size_t bytes_;
    T* data_ = nullptr;
};

// ---------------------------------------------------------------- the window

// The analysed periods: the point (t0, y0) where they start (on the
// interpolated waveform), then the samples from `first` on. Segment s runs
// from point s - 1 to point s of that list, point -1 being (t0, y0).
struct Window {
    const double* x = nullptr;
    const double* y = nullptr;
    int64_t n = 0, first = 0;
    double t0 = 0, T = 0, y0 = 0;
    double scale = 1, mean = 0;  // values are read as y / scale - mean
    int64_t periods = 0;         // K
    int64_t steps = 0;           // segments of positive length
    bool lines = true;           // the straight lines between samples, or the samples alone
    bool even = false;           // whether the steps are even
    bool grid = false;           // whether the samples from `first` on lie on an even grid ...
    double step = 0;             // ... of this step

    int64_t segments() const { return n - first; }
    void segment(int64_t s, double& xa, double& ya, double& xb, double& yb) const {
        const int64_t j = first + s;
        xb = x[j];
        yb = y[j] / scale - mean;
        xa = s == 0 ? t0 : x[j - 1];
        ya = (s == 0 ? y0 : y[j - 1]) / scale - mean;
    }
    // Half the mean sample rate, in multiples of 1/T.
    int64_t nyquistBin() const { return steps / 2; }
};

// ---------------------------------------------------------------- passes over the data

// Points per chunk of a pass over the data: fixed, so that the chunks'
// partial sums add up in the same order, to the same bits, for any number
// of threads.
constexpr int64_t kChunk = 32768;

// Two doubles: one register at the baseline. Sums kept in several lanes are
// what lets the compiler use them (it may not reorder one sum itself), and
// their order is fixed, so the bits are too.
using V2 = double __attribute__((vector_size(16)));

// Two doubles from any address (a copy the compiler turns into one
// unaligned load).
inline V2 two(const double* p) {
    V2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline double total(V2 v) { return v[0] + v[1]; }

// One result per chunk of [0, n), combined in chunk order.
template <class T, class Body, class Combine>
T overChunks(int64_t n, T start, Body body, Combine combine) {
    std::vector<T> part(cv::chunkCount(size_t(n), size_t(kChunk)), start);
    cv::forEachChunk(size_t(n), size_t(kChunk),
                     [&](size_t b, size_t e) { part[b / size_t(kChunk)] = body(int64_t(b), int64_t(e)); });
    T v = start;
    for (const T& p : part) v = combine(v, p);
    return v;
}

// The largest magnitude of v[0, n) (NaN when a value is not finite) and
// their sum, in one pass.
struct Values {
    double largest = 0, sum = 0;
};

Values valuesOf(const double* v, int64_t n) {
    return overChunks(
        n, Values{},
        [v](int64_t b, int64_t e) {
            // v - v is 0 but for an infinity or a NaN, whose NaN the sum keeps.
            V2 hi0 = {0, 0}, hi1 = hi0, lo0 = hi0, lo1 = hi0, s0 = hi0, s1 = hi0, bad = hi0;
            int64_t i = b;
            for (; i + 4 <= e; i += 4) {
                const V2 a = two(v + i), c = two(v + i + 2);
                hi0 = a > hi0 ? a : hi0;
                hi1 = c > hi1 ? c : hi1;
                lo0 = a < lo0 ? a : lo0;
                lo1 = c < lo1 ? c : lo1;
                s0 += a;
                s1 += c;
                bad += (a - a) + (c - c);
            }
            const V2 hi = hi0 > hi1 ? hi0 : hi1, lo = lo0 < lo1 ? lo0 : lo1;
            double largest = std::max(std::max(hi[0], hi[1]), -std::min(lo[0], lo[1])), sum = total(s0 + s1);
            double invalid = total(bad);
            for (; i < e; ++i) {
                largest = std::max(largest, std::fabs(v[i]));
                sum += v[i];
                invalid += v[i] - v[i];
            }
            return Values{invalid == 0 ? largest : NAN, sum};
        },
        [](Values a, Values p) {
            return Values{std::isnan(a.largest) || std::isnan(p.largest) ? NAN : std::max(a.largest, p.largest),
                          a.sum + p.sum};
        });
}

// Below this many points the tables of the grid's pass cost more than
// they save.
constexpr int64_t kGridPoints = 2048;

// Whether x[0, n) lies on an even grid x[0] + i h, each point within 1e-8
// of a step of its place, and that step h. Read on the grid, a component
// moves by no more than its phase over such a shift; x-values made as i h
// are off by their rounding only, far less.
bool onGrid(const double* x, int64_t n, double& step) {
    if (n < kGridPoints) return false;
    const double x0 = x[0], h = (x[n - 1] - x0) / double(n - 1);
    if (!(h > 0) || !std::isfinite(h)) return false;
    // The largest square of a point's distance from the grid.
    const double off = overChunks(
        n, 0.0,
        [x, x0, h](int64_t b, int64_t e) {
            V2 k = {double(b), double(b + 1)}, m0 = {0, 0}, m1 = m0;
            int64_t i = b;
            for (; i + 4 <= e; i += 4, k += 4.0) {
                const V2 d0 = two(x + i) - (x0 + k * h), d1 = two(x + i + 2) - (x0 + (k + 2.0) * h);
                m0 = d0 * d0 > m0 ? d0 * d0 : m0;
                m1 = d1 * d1 > m1 ? d1 * d1 : m1;
            }
            double m = std::max(std::max(m0[0], m0[1]), std::max(m1[0], m1[1]));
            for (; i < e; ++i) {
                const double d = x[i] - (x0 + double(i) * h);
                m = std::max(m, d * d);
            }
            return m;
        },
        [](double a, double p) { return std::max(a, p); });
    step = h;
    return off <= 1e-16 * h * h;
}

// What the waveform, the periods (argument periodsArg) and the reading of
// the samples (the argument after it) leave to analyse; refuses (naming the
// argument) when that is not at least one whole period with finite values
// and two samples per period.
std::optional<Window> windowOf(const FuncArgs& a, MessageHandler& m, double f0, int periodsArg) {
    const auto w = waveArg(a, 0, "wave", m, 2);
    if (!w) return std::nullopt;
    Window win;
    const int signal = wordOf(a, periodsArg + 1, {"lines", "samples"}, 0, -1);
    if (signal < 0) {
        refuse(m, a, periodsArg + 2, "signal", "must be 'lines' or 'samples'");
        return std::nullopt;
    }
    win.lines = signal == 0;
    win.x = w->x;
    win.y = w->y;
    win.n = w->n;
    const double last = w->x[w->n - 1];
    const double cycles = (last - w->x[0]) * f0;
    // A wave meant to hold whole periods may miss the last by rounding.
    const double whole = std::floor(cycles * (1.0 + 1e-9));
    if (!(whole >= 1.0)) {
        refuse(m, a, 1, "wave",
               "spans " + shown(cycles) + " periods of f0 = " + shown(f0) + "; at least one whole period is needed");
        return std::nullopt;
    }
    double K = whole;
    if (givenReal(a, periodsArg)) {
        const double asked = std::trunc(*firstReal(a, periodsArg));
        if (!(asked >= 1.0)) {
            refuse(m, a, periodsArg + 1, "periods", "must be a whole number of at least 1");
            return std::nullopt;
        }
        if (asked > whole) {
            refuse(m, a, periodsArg + 1, "periods",
                   "asks for " + shown(asked) + " periods; the wave holds " + shown(whole) + " whole periods of f0");
            return std::nullopt;
        }
        K = asked;
    }
    win.T = K / f0;
    win.t0 = std::max(last - win.T, w->x[0]);
    win.first = std::upper_bound(w->x, w->x + w->n, win.t0) - w->x;
    // A start within rounding of a sample is that sample: a sliver of a
    // segment before it would count as a step of its own.
    if (win.first < w->n) {
        const double xa = w->x[win.first - 1], xb = w->x[win.first], gap = 1e-9 * (xb - xa);
        if (win.t0 - xa <= gap)
            win.t0 = xa;
        else if (xb - win.t0 <= gap)
            win.t0 = xb;
        win.first = std::upper_bound(w->x, w->x + w->n, win.t0) - w->x;
    }
    // The count of steps decides whether f0 can be seen at all; K beyond any
    // step count is refused below before it is used as an integer. On a
    // grid every step is one, and so is the one to its first point.
    win.grid = onGrid(w->x + win.first, win.segments(), win.step);
    if (win.grid)
        win.steps = win.segments();
    else
        for (int64_t j = win.first; j < w->n; ++j) win.steps += w->x[j] > (j == win.first ? win.t0 : w->x[j - 1]);
    if (!(2.0 * K <= double(win.steps))) {
        refuse(m, a, 1, "wave",
               "has " + samplesPerPeriod(win.steps, K) + " in the analysed periods; at least 2 are needed");
        return std::nullopt;
    }
    win.periods = int64_t(K);

    // Every value the window's straight lines reach must be a number: the
    // one before the start too, through which the start is interpolated.
    const int64_t before = win.first - 1;
    const Values values = valuesOf(w->y + before, w->n - before);
    const double largest = values.largest;
    for (int64_t j = before; std::isnan(largest) && j < w->n; ++j)
        if (!std::isfinite(w->y[j])) {
            refuse(m, a, 1, "wave",
                   std::string(std::isnan(w->y[j]) ? "has a NaN" : "has an infinite") + " value at x = " +
                       shown(w->x[j]) + ", which the analysed periods (from x = " + shown(win.t0) + ") need");
            return std::nullopt;
        }
    const double xa = w->x[before], xb = w->x[win.first];
    const double f = (win.t0 - xa) / (xb - xa);
    win.y0 = w->y[before] * (1.0 - f) + w->y[win.first] * f;
    win.scale = largest > 0 ? largest : 1.0;
    // The grid's pass multiplies by 1 / scale, which a scale below the
    // normal numbers cannot give; its mean is the sum of the values, which
    // values near the largest number can overflow.
    win.grid = win.grid && std::isfinite(1.0 / win.scale) && std::isfinite(values.sum);
    // The mean, and the steps after the first (which t0 may cut).
    double area = 0, shortest = INFINITY, longest = 0, firstStep = 0;
    if (win.grid) {
        // The grid's points each count a step, but its ends (read as lines)
        // or its first (read as samples) half or none of one.
        const double* y = w->y + win.first;
        const int64_t last = win.segments() - 1;
        const double inv = 1.0 / win.scale;
        const double q0 = y[0] * inv, ys = win.y0 / win.scale, sum = (values.sum - w->y[before]) * inv;
        firstStep = w->x[win.first] - win.t0;
        shortest = longest = win.step;
        area = win.lines ? firstStep * (ys + q0) * 0.5 + win.step * (sum - (q0 + y[last] * inv) * 0.5)
                         : firstStep * q0 + win.step * (sum - q0);
    }
    for (int64_t s = 0; !win.grid && s < win.segments(); ++s) {
        double x0, y0, x1, y1;
        win.segment(s, x0, y0, x1, y1);
        area += (x1 - x0) * (win.lines ? (y0 + y1) * 0.5 : y1);
        if (s == 0) {
            firstStep = x1 - x0;
            continue;
        }
        shortest = std::min(shortest, x1 - x0);
        longest = std::max(longest, x1 - x0);
    }
    auto alike = [](double u, double v) { return std::fabs(u - v) <= 1e-6 * std::max(u, v); };
    const bool evenAfter = win.segments() == 1 || alike(shortest, longest);
    win.even = evenAfter && (win.segments() == 1 || alike(firstStep, longest));
    // Samples alone are a signal only at even steps: elsewhere each would
    // stand for a different stretch of time, and the spectrum would show the
    // steps more than the signal.
    if (!win.lines && !win.even) {
        refuse(m, a, 1, "wave",
               evenAfter ? "does not start its analysed " + shown(double(win.periods)) +
                               " periods on a sample: read as 'samples', they must span a whole number of steps"
                         : "has steps from " + shown(shortest) + " to " + shown(longest) +
                               " in the analysed periods: read as 'samples', it needs even steps (read it as "
                               "'lines')");
        return std::nullopt;
    }
    win.mean = area / win.T;
    return win;
}

// ---------------------------------------------------------------- exact integration

// The phase at a segment's start is carried from the one before and taken
// afresh this often, before rounding can build up.
constexpr int64_t kResync = 32;

// The integrals over the window of (y - μ) e^{+i k w (t - t0)} for each
// base frequency w of `bases` and k = 1 ... H into out[b * H + k - 1],
// scaled by 1/scale, and of (y - μ)² into *power (when not null). On a
// segment from (a, ya) to (b, yb), length L, slope s, with
// E = e^{i w (a - t0)} and D = e^{i w L} - 1, the straight line gives
//   ∫ y e^{i w (t - t0)} dt = (E / w) · [D · (s / w - i yb) - i (yb - ya)]
//   ∫ y² dt = L (ya² + ya yb + yb²) / 3
// and the samples alone, each standing for the step that ends at it (over
// even steps, the DFT of the samples after t0)
//   ∫ y e^{i w (t - t0)} dt = L · E · yb (1 + D)
//   ∫ y² dt = L yb².
// D comes from sin(wL/2) (D = -2 sin²(wL/2) + 2i sin(wL/2) cos(wL/2)),
// never as a difference of two phases: the error of a segment is then
// rounding of its values over w, whatever its length. Harmonic k takes E and
// D from the base's by the recurrences E_k = E_{k-1} E_1 and
// D_k = D_{k-1} (1 + D_1) + D_1, so one sine per segment serves all H, and
// none where a step repeats the one before (an even grid). The cost is
// bases x H products per segment, spread over the cores by chunks.
template <bool lines>
void integrateAs(const Window& win, const std::vector<double>& bases, int64_t H, cplx* out, double* power) {
    const int64_t S = win.segments(), B = int64_t(bases.size()), terms = B * H;
    const size_t chunks = cv::chunkCount(size_t(S), size_t(kChunk));
    const size_t stride = size_t(2 * terms + 1);
    std::vector<double> partial(chunks * stride, 0.0), inverse(static_cast<size_t>(H));
    for (int64_t k = 0; k < H; ++k) inverse[size_t(k)] = 1.0 / double(k + 1);
    cv::forEachChunk(size_t(S), size_t(kChunk), [&](size_t begin, size_t end) {
        const size_t nb = static_cast<size_t>(B);
        std::vector<cplx> acc(static_cast<size_t>(terms)), E1(nb), D1(nb), R1(nb);
        double sq = 0.0, step = -1.0;
        for (int64_t s = int64_t(begin); s < int64_t(end); ++s) {
            double xa, ya, xb, yb;
            win.segment(s, xa, ya, xb, yb);
            if ((s - int64_t(begin)) % kResync == 0)
                for (int64_t b = 0; b < B; ++b) {
                    double sn, cs;
                    sincos(bases[size_t(b)] * (xa - win.t0), &sn, &cs);
                    E1[size_t(b)] = {cs, sn};
                }
            const double len = xb - xa, dy = yb - ya;
            if (!(len > 0)) continue;  // a repeated x: a jump has no area
            sq += lines ? len * (ya * ya + ya * yb + yb * yb) / 3.0 : len * yb * yb;
            // A step within rounding of the last one is taken as that one:
            // as if x moved by far less than its own rounding.
            if (std::fabs(len - step) > 1e-12 * len) {
                step = len;
                for (int64_t b = 0; b < B; ++b) {
                    double sh, ch;
                    sincos(0.5 * bases[size_t(b)] * step, &sh, &ch);
                    D1[size_t(b)] = {-2.0 * sh * sh, 2.0 * sh * ch};
                    R1[size_t(b)] = {1.0 - 2.0 * sh * sh, 2.0 * sh * ch};
                }
            }
            for (int64_t b = 0; b < B; ++b) {
                const cplx e1 = E1[size_t(b)], r1 = R1[size_t(b)], d1 = D1[size_t(b)];
                const double theta = bases[size_t(b)] * step;
                // A segment far shorter than the period holds too little to
                // matter, and its slope over w would overflow.
                if (theta > 1e-200) {
                    const double slopeOverW = dy / theta;
                    cplx* sum = acc.data() + b * H;
                    auto add = [&](int64_t k, cplx E, cplx D) {
                        if constexpr (lines) {
                            const double a = slopeOverW * inverse[size_t(k)];
                            sum[k] += mul(E, cplx(D.real() * a + D.imag() * yb, D.imag() * a - D.real() * yb - dy));
                        } else {
                            sum[k] += mul(E, cplx(len * yb * (1.0 + D.real()), len * yb * D.imag()));
                        }
                    };
                    // Odd and even harmonics in two chains, each stepping by
                    // twice the base: half the wait on each product.
                    const cplx e2 = mul(e1, e1), r2 = mul(r1, r1), d2 = mul(d1, d1 + 2.0);
                    cplx Ea = e1, Da = d1, Eb = e2, Db = d2;
                    int64_t k = 0;
                    for (; k + 1 < H; k += 2) {
                        add(k, Ea, Da);
                        add(k + 1, Eb, Db);
                        Ea = mul(Ea, e2);
                        Da = mul(Da, r2) + d2;
                        Eb = mul(Eb, e2);
                        Db = mul(Db, r2) + d2;
                    }
                    if (k < H) add(k, Ea, Da);
                }
                E1[size_t(b)] = mul(e1, r1);
            }
        }
        double* p = partial.data() + begin / size_t(kChunk) * stride;
        for (int64_t t = 0; t < terms; ++t) {
            p[2 * t] = acc[size_t(t)].real();
            p[2 * t + 1] = acc[size_t(t)].imag();
        }
        p[2 * terms] = sq;
    });
    for (int64_t t = 0; t < terms; ++t) out[t] = 0.0;
    double sq = 0.0;
    for (size_t c = 0; c < chunks; ++c) {
        const double* p = partial.data() + c * stride;
        for (int64_t t = 0; t < terms; ++t) out[t] += cplx(p[2 * t], p[2 * t + 1]);
        sq += p[2 * terms];
    }
    if (lines)
        for (int64_t b = 0; b < B; ++b)
            for (int64_t k = 0; k < H; ++k) out[b * H + k] /= double(k + 1) * bases[size_t(b)];
    if (power) *power = sq;
}

// On a grid the factors of a segment are the same for every segment, and
// the sums reduce to one per frequency over the grid's points q_0 ... q_P-1
// (P = segments; the segment from t0 to the first point, of length L0, is
// taken on its own as above):
//   G = Σ_j e^{i w (u_j - t0)} q_j,  u_j = x_first + j h,  θ = w h
// With α = (e^{iθ} - 1) / θ - i and γ = -conj(α), the straight lines give
//   ∫ = [4 sin²(θ/2) / θ · G - γ e^{i w (u_0 - t0)} q_0 + α e^{i w (u_P-1 - t0)} q_P-1] / w
//   ∫ y² = h (2 Σ q_j² - q_0² - q_P-1² + Σ q_j q_j+1) / 3
// and the samples alone
//   ∫ = h (G - e^{i w (u_0 - t0)} q_0),  ∫ y² = h (Σ q_j² - q_0²).
// G is summed block by block: within a block of kBlock points the phases
// are a table shared by all blocks, a block's own phase from the chunk's
// (taken afresh) times a table; so no sine is taken per point, the data
// are read once for up to kGroup frequencies, and the block's products run
// in lanes. The order of every sum is fixed by the chunks.
constexpr int64_t kBlock = 128;
constexpr int64_t kGroup = 16;

// e^{i θ m} for m < count, each within a few roundings: a sine at each
// power of two, the rest products of those.
void powersOf(double theta, int64_t count, cplx* out) {
    for (int64_t m = 0, top = 0; m < count; ++m) {
        if (m == 0) {
            out[0] = 1.0;
        } else if ((m & (m - 1)) == 0) {
            top = m;
            double sn, cs;
            sincos(theta * double(m), &sn, &cs);
            out[m] = {cs, sn};
        } else {
            out[m] = mul(out[top], out[m - top]);
        }
    }
}

template <bool lines>
void integrateGrid(const Window& win, const std::vector<double>& omegas, cplx* out, double* power) {
    const int64_t P = win.segments(), F = int64_t(omegas.size());
    const int64_t blocks = (std::min(P, kChunk) + kBlock - 1) / kBlock;
    const double h = win.step, inv = 1.0 / win.scale, mu = win.mean, L0 = win.x[win.first] - win.t0;
    const double* y = win.y + win.first;
    std::vector<double> wr(size_t(F * kBlock)), wi(size_t(F * kBlock));
    std::vector<cplx> blockPhase(size_t(F * blocks)), turns(static_cast<size_t>(kBlock));
    for (int64_t f = 0; f < F; ++f) {
        const double theta = omegas[size_t(f)] * h;
        powersOf(theta, kBlock, turns.data());
        for (int64_t i = 0; i < kBlock; ++i) {
            wr[size_t(f * kBlock + i)] = turns[size_t(i)].real();
            wi[size_t(f * kBlock + i)] = turns[size_t(i)].imag();
        }
        powersOf(theta * double(kBlock), blocks, blockPhase.data() + f * blocks);
    }
    const size_t stride = size_t(2 * F + 2);
    std::vector<double> partial(cv::chunkCount(size_t(P), size_t(kChunk)) * stride);
    cv::forEachChunk(size_t(P), size_t(kChunk), [&](size_t begin, size_t end) {
        double q[kBlock + 4] = {};
        std::vector<cplx> G(static_cast<size_t>(F));
        V2 squares0 = {0, 0}, squares1 = squares0, pairs0 = squares0, pairs1 = squares0;
        double across = 0.0;  // products of neighbours in two blocks
        for (int64_t g = 0; g < F; g += kGroup) {
            const int64_t gEnd = std::min(F, g + kGroup);
            for (int64_t j = int64_t(begin), b = 0; j < int64_t(end); j += kBlock, ++b) {
                const int64_t len = std::min(kBlock, int64_t(end) - j);
                if (g == 0 && j > int64_t(begin)) across += q[kBlock - 1] * (y[j] * inv - mu);
                for (int64_t i = 0; i < len; ++i) q[i] = y[j + i] * inv - mu;
                for (int64_t i = len; i < kBlock; ++i) q[i] = 0.0;
                if (g == 0)
                    for (int64_t i = 0; i < kBlock; i += 4) {
                        const V2 a = two(q + i), c = two(q + i + 2);
                        squares0 += a * a;
                        squares1 += c * c;
                        if constexpr (lines) {
                            pairs0 += a * two(q + i + 1);
                            pairs1 += c * two(q + i + 3);
                        }
                    }
                for (int64_t f = g; f < gEnd; ++f) {
                    const double *cr = wr.data() + f * kBlock, *ci = wi.data() + f * kBlock;
                    V2 r0 = {0, 0}, r1 = r0, i0 = r0, i1 = r0;
                    for (int64_t i = 0; i < kBlock; i += 4) {
                        const V2 qa = two(q + i), qb = two(q + i + 2);
                        r0 += two(cr + i) * qa;
                        r1 += two(cr + i + 2) * qb;
                        i0 += two(ci + i) * qa;
                        i1 += two(ci + i + 2) * qb;
                    }
                    const cplx sum = {total(r0 + r1), total(i0 + i1)};
                    G[size_t(f)] += mul(blockPhase[size_t(f * blocks + b)], sum);
                }
            }
        }
        if (int64_t(end) < P) across += q[(int64_t(end) - 1) % kBlock] * (y[end] * inv - mu);
        double* p = partial.data() + begin / size_t(kChunk) * stride;
        for (int64_t f = 0; f < F; ++f) {
            double sn, cs;
            sincos(omegas[size_t(f)] * (L0 + double(begin) * h), &sn, &cs);
            const cplx v = mul(cplx(cs, sn), G[size_t(f)]);
            p[2 * f] = v.real();
            p[2 * f + 1] = v.imag();
        }
        p[2 * F] = total(squares0 + squares1);
        p[2 * F + 1] = total(pairs0 + pairs1) + across;
    });
    std::vector<cplx> G(static_cast<size_t>(F));
    double squares = 0, pairs = 0;
    for (size_t c = 0; c < partial.size(); c += stride) {
        for (int64_t f = 0; f < F; ++f) G[size_t(f)] += cplx(partial[c + 2 * f], partial[c + 2 * f + 1]);
        squares += partial[c + 2 * F];
        pairs += partial[c + 2 * F + 1];
    }
    const double q0 = y[0] * inv - mu, qLast = y[P - 1] * inv - mu, ys = win.y0 / win.scale - mu;
    for (int64_t f = 0; f < F; ++f) {
        const double w = omegas[size_t(f)];
        double sn, cs;
        sincos(w * L0, &sn, &cs);
        const cplx E0 = {cs, sn};
        if constexpr (lines) {
            sincos(w * (L0 + double(P - 1) * h), &sn, &cs);
            const cplx Elast = {cs, sn};
            double sh, ch;
            sincos(0.5 * w * h, &sh, &ch);
            const double theta = w * h, re = 2.0 * sh * sh / theta, im = 2.0 * sh * ch / theta - 1.0;
            cplx v = 2.0 * re * G[size_t(f)] - mul(cplx(re, im), E0) * q0 + mul(cplx(-re, im), Elast) * qLast;
            // The first segment, from t0 on, as in integrateAs.
            const double theta0 = w * L0, dy = q0 - ys;
            if (theta0 > 1e-200) {
                sincos(0.5 * theta0, &sh, &ch);
                const cplx D = {-2.0 * sh * sh, 2.0 * sh * ch};
                const double a = dy / theta0;
                v += cplx(D.real() * a + D.imag() * q0, D.imag() * a - D.real() * q0 - dy);
            }
            out[f] = v / w;
        } else {
            out[f] = h * (G[size_t(f)] - E0 * q0) + L0 * E0 * q0;
        }
    }
    if (power)
        *power = lines ? h * (2.0 * squares - q0 * q0 - qLast * qLast + pairs) / 3.0 +
                             L0 * (ys * ys + ys * q0 + q0 * q0) / 3.0
                       : h * (squares - q0 * q0) + L0 * q0 * q0;
}

// The integrals of integrateAs, on a grid by integrateGrid.
void integrate(const Window& win, const std::vector<double>& bases, int64_t H, cplx* out, double* power) {
    if (win.grid) {
        std::vector<double> omegas;
        for (double base : bases)
            for (int64_t k = 1; k <= H; ++k) omegas.push_back(double(k) * base);
        if (win.lines)
            integrateGrid<true>(win, omegas, out, power);
        else
            integrateGrid<false>(win, omegas, out, power);
    } else if (win.lines) {
        integrateAs<true>(win, bases, H, out, power);
    } else {
        integrateAs<false>(win, bases, H, out, power);
    }
}

// The amplitudes A_1 ... A_H of the harmonics of f0 (relative to the
// scale), and P_ac (likewise).
struct Harmonics {
    std::vector<double> A;
    cplx c1;  // the fundamental's coefficient
    double acPower = 0;
};

Harmonics harmonicsOf(const Window& win, double f0, int64_t H) {
    std::vector<cplx> c(static_cast<size_t>(H));
    double sq = 0;
    integrate(win, {kTwoPi * f0}, H, c.data(), &sq);
    Harmonics h;
    h.A.resize(size_t(H));
    for (int64_t k = 0; k < H; ++k) h.A[size_t(k)] = std::abs(c[size_t(k)]) * 2.0 / win.T;
    h.c1 = c[0] * (2.0 / win.T);
    h.acPower = sq / win.T;
    return h;
}

// The largest amplitude among the components at m / T, m in `bins`.
double largestComponent(const Window& win, const std::vector<int64_t>& bins) {
    std::vector<double> bases;
    for (int64_t m : bins) bases.push_back(kTwoPi * double(m) / win.T);
    std::vector<cplx> c(bases.size());
    integrate(win, bases, 1, c.data(), nullptr);
    double largest = 0;
    for (const cplx& v : c) largest = std::max(largest, std::abs(v) * 2.0 / win.T);
    return largest;
}

// ---------------------------------------------------------------- the spur search
//
// SFDR looks at every component up to half the mean sample rate, M of them:
// integrated one by one they would cost M x segments, quadratic on long
// waves. Instead the window is averaged over the N = 2^k >= 2S cells of an
// even grid (exactly: the waveform is straight between samples) and
// transformed, in N log N. A cell average is the waveform through a box, so
// bin m of the transform over N sinc(πm/N) estimates c_m; what lies above
// half the grid's rate folds onto bin m weakened by that box to 0.3 or less
// (m <= M <= N/4), so that the images the straight lines hold beyond M,
// strong at few samples per period, do not pass for spurs; at even steps the
// fundamental, whose images are the strongest, is taken out first. The
// largest estimates are then integrated exactly, at most four in a pass
// over the data, until no estimate left exceeds the largest exact value by
// 10 % (at most sixteen); the largest exact value is the spur.

// e^{-2πi m / N} for m < N, as the product of two short tables (accurate to
// a few roundings, for a fraction of the sines a full table would take).
class Turns {
public:
    explicit Turns(int64_t N) : N_(N), lo_(kLow), hi_(size_t(N / kLow + 1)) {
        for (int64_t r = 0; r < kLow; ++r) lo_[size_t(r)] = turn(r);
        for (size_t q = 0; q < hi_.size(); ++q) hi_[q] = turn(int64_t(q) * kLow);
    }
    cplx at(int64_t m) const { return mul(hi_[size_t(m / kLow)], lo_[size_t(m % kLow)]); }

private:
    static constexpr int64_t kLow = 1024;
    cplx turn(int64_t m) const {
        double s, c;
        sincos(-kTwoPi * double(m) / double(N_), &s, &c);
        return {c, s};
    }
    int64_t N_;
    std::vector<cplx> lo_, hi_;
};

// The stages of lengths L, L/2, ..., 2L/R in one pass over the data: the
// R points of a butterfly network lie q = L/R apart, and those of twiddles
// k0 ... k1 - 1 (of q) are done. The same butterflies as stage by stage,
// with the same twiddles (w(k 2^s) at the stage of length L / 2^s), so the
// same bits; but the data are read and written once for r = log2 R stages.
template <int R, class Twiddle>
void stages(cplx* z, int64_t count, int64_t L, Twiddle w, int64_t k0, int64_t k1) {
    const int64_t q = L / R;
    double* d = reinterpret_cast<double*>(z);
    // A complex number is a register {re, im}; a twiddle t is kept as
    // {re t, re t} and {-im t, im t}, so that (a - b) t is two products and
    // a sum: the same roundings as mul(). The twiddles are taken kTile at a
    // time and each group of the array visited once per tile, so that a page
    // is visited for kTile networks, not one.
    constexpr int64_t kTile = 64;
    V2 tr[kTile][R], ti[kTile][R], x[R];
    for (int64_t t0 = k0; t0 < k1; t0 += kTile) {
        const int64_t tiles = std::min(kTile, k1 - t0);
        for (int64_t u = 0; u < tiles; ++u)
            for (int half = R / 2, s = 0; half >= 1; half /= 2, ++s)
                for (int r = 0; r < half; ++r) {
                    const cplx v = w((t0 + u + r * q) << s);
                    tr[u][half + r] = V2{v.real(), v.real()};
                    ti[u][half + r] = V2{-v.imag(), v.imag()};
                }
        for (int64_t g0 = t0; g0 < count; g0 += L)
            for (int64_t u = 0; u < tiles; ++u) {
                double* p = d + 2 * (g0 + u);
#pragma GCC unroll 16
                for (int i = 0; i < R; ++i) x[i] = two(p + 2 * i * q);
#pragma GCC unroll 4
                for (int half = R / 2; half >= 1; half /= 2)
#pragma GCC unroll 16
                    for (int i = 0; i < R; ++i)
                        if ((i & half) == 0) {
                            const int k = half + (i & (half - 1));
                            const V2 a = x[i], b = x[i + half], e = a - b;
                            x[i] = a + b;
                            x[i + half] = e * tr[u][k] + __builtin_shufflevector(e, e, 1, 0) * ti[u][k];
                        }
#pragma GCC unroll 16
                for (int i = 0; i < R; ++i) std::memcpy(p + 2 * i * q, &x[i], sizeof(V2));
            }
    }
}

// How many points the networks of one pass from length L down to `last`
// take: at most 8 (three stages; more spill out of the registers).
int64_t radixFrom(int64_t L, int64_t last) { return L / 8 >= last ? 8 : L / 4 >= last ? 4 : 2; }

template <class Twiddle>
void stagesOf(int64_t R, cplx* z, int64_t count, int64_t L, Twiddle w, int64_t k0, int64_t k1) {
    if (R == 8)
        stages<8>(z, count, L, w, k0, k1);
    else if (R == 4)
        stages<4>(z, count, L, w, k0, k1);
    else
        stages<2>(z, count, L, w, k0, k1);
}

// Z_m = Σ_j z_j e^{-2πi jm/n} in place, n a power of two, left in
// bit-reversed order (Z_m at index reverse(m)): the scan reads it so, and a
// reordering pass would cost as much as a stage. `turns` is of 2n. The long
// stages go over the whole array up to three at a time, the short ones
// block by block while a block stays in the core's cache.
void fft(cplx* z, int64_t n, const Turns& turns) {
    const int64_t block = std::min<int64_t>(n, 32768);
    std::vector<cplx> small(size_t(std::max<int64_t>(block / 2, 1)));
    for (int64_t j = 0; j < block / 2; ++j) small[size_t(j)] = turns.at(2 * j * (n / block));
    // Every butterfly is the same whoever does it: the cores share a long
    // pass by its twiddles, and the blocks.
    constexpr size_t kTwiddles = 256;
    for (int64_t L = n; L > block;) {
        const auto wide = [&turns, n, L](int64_t k) { return turns.at(2 * k * (n / L)); };
        const int64_t R = radixFrom(L, block);
        cv::forEachChunk(size_t(L / R), kTwiddles, [&](size_t k0, size_t k1) {
            stagesOf(R, z, n, L, wide, int64_t(k0), int64_t(k1));
        });
        L /= R;
    }
    cv::forEachChunk(size_t(n / block), 1, [&](size_t first, size_t last) {
        for (int64_t b = int64_t(first) * block; b < int64_t(last) * block; b += block)
            for (int64_t len = block, R; len >= 2; len /= R) {
                R = radixFrom(len, 1);
                const auto w = [&small, block, len](int64_t k) { return small[size_t(k * (block / len))]; };
                stagesOf(R, z + b, block, len, w, 0, len / R);
            }
    });
}

// sin²(u) / u², from cos 2u where that is accurate.
double sinc2(double u, double cos2u) {
    return u > 0.1 ? (1.0 - cos2u) / (2.0 * u * u) : 1.0 - u * u / 3.0 + 2.0 * u * u * u * u / 45.0;
}

// The average over each of the N cells [t0 + jT/N, t0 + (j+1)T/N] into g of
// the straight lines through the samples less the sine Re(C e^{-i w0 (x - t0)})
// at each, for the cells j0 ... j1 - 1, walking the segments once.
void cellAverages(const Window& win, int64_t N, double* g, cplx C, double w0, int64_t j0, int64_t j1) {
    const int64_t S = win.segments();
    // The sine is only taken out at even steps: its phase steps by a fixed
    // turn, taken afresh now and then.
    double sn, cs;
    sincos(-w0 * win.T / double(win.steps), &sn, &cs);
    const cplx turn = {cs, sn};
    cplx phase;
    int64_t count = 0;
    auto less = [&](double x, double y) {
        if (C == 0.0) return y;
        if (count++ % kResync == 0) {
            sincos(w0 * (x - win.t0), &sn, &cs);
            phase = {cs, -sn};
        } else {
            phase = mul(phase, turn);
        }
        return y - mul(C, phase).real();
    };
    // The segment where the first cell starts: the first to end after it.
    const double start = win.t0 + win.T / double(N) * double(j0);
    int64_t s = j0 == 0 ? 0 : std::upper_bound(win.x + win.first, win.x + win.n, start) - (win.x + win.first);
    s = std::min(s, S - 1);
    double xa, ya, xb, yb;
    win.segment(s, xa, ya, xb, yb);
    // The samples alone repeat with the window (the DFT's view): their
    // straight lines start where they end, without the jump the window's
    // ends would add to every component.
    if (!win.lines && s == 0) {
        double xl, yl, xe, ye;
        win.segment(S - 1, xl, yl, xe, ye);
        ya = ye;
    }
    ya = less(xa, ya);
    yb = less(xb, yb);
    double slope = (yb - ya) / (xb - xa);
    auto next = [&] {
        const double x = xb, y = yb;
        win.segment(++s, xa, ya, xb, yb);
        xa = x;
        ya = y;
        yb = less(xb, yb);
        slope = (yb - ya) / (xb - xa);  // of a segment of positive length only
    };
    // N is a power of two: the cells' ends are exact fractions of T.
    const double perCell = win.T / double(N);
    double lo = win.t0 + perCell * double(j0);
    for (int64_t j = j0; j < j1; ++j) {
        const double hi = win.t0 + perCell * double(j + 1);
        double sum = 0.0;
        for (;;) {
            const double a = std::max(lo, xa), b = std::min(hi, xb);
            if (b > a) sum += (b - a) * (ya + slope * (0.5 * (a + b) - xa));
            if (xb >= hi || s + 1 >= S) break;
            next();
        }
        g[j] = sum / (hi - lo);
        lo = hi;
    }
}

// The largest spur's amplitude (relative to the scale), or -1 when no bin
// but the fundamental's lies below half the sample rate. c1 is the
// fundamental's coefficient, at w0.
double largestSpur(const Window& win, cplx c1, double w0) {
    int64_t N = 8;
    while (N < 2 * win.steps) N <<= 1;
    const int64_t n = N / 2, M = win.nyquistBin(), K = win.periods;

    // The cell averages without the fundamental, whose images beyond M
    // would fold onto the grid's bins above any small spur. At even steps
    // it is taken from the samples, so the straight lines lose its images
    // too: a sine sampled S / K times per period has straight lines that
    // hold sinc²(πK/S) of it. At uneven steps the straight lines through a
    // sine's samples hold more than the sine and its images, spurs of the
    // waveform's own, which must stay.
    const double u = kPi * double(K) / double(win.steps);
    const cplx C = !win.even ? 0.0 : win.lines ? c1 / std::pow(std::sin(u) / u, 2) : c1;
    Scratch<cplx> z(static_cast<size_t>(n));
    // The cells in fixed runs, each walked by one core (and first written
    // there, so that all the cores fault the fresh pages in).
    constexpr size_t kCells = 65536;
    cv::forEachChunk(size_t(N), kCells, [&](size_t j0, size_t j1) {
        cellAverages(win, N, reinterpret_cast<double*>(z.get()), C, w0, int64_t(j0), int64_t(j1));
    });
    const Turns turns(N);
    fft(z.get(), n, turns);

    // The real transform's bin m from the packed one's bins m and n - m,
    // which in bit-reversed order lie at j and 3L - 1 - j for j in [L, 2L):
    // both read in sequence. The cores scan runs of j, each keeping its
    // largest estimates; merged in order, ties go as in one scan.
    constexpr size_t kKept = 16;
    using Best = std::vector<std::pair<double, int64_t>>;  // (estimate², bin), largest first
    auto keep = [](Best& best, double e, int64_t m) {
        if (best.size() == kKept && !(e > best.back().first)) return;
        if (best.size() == kKept) best.pop_back();
        best.insert(std::find_if(best.begin(), best.end(), [e](const auto& b) { return e > b.first; }), {e, m});
    };
    auto consider = [&](Best& best, int64_t m, cplx X, cplx turn) {
        if (m < 1 || m > M || m == K) return;
        double e = std::norm(X) / sinc2(kPi * double(m) / double(N), turn.real());
        // The samples' own component is that of their straight lines over
        // sinc²(πm/S): up to 1/sinc²(π/2)² = 6.1 times more.
        if (!win.lines && (best.size() < kKept || e * 6.1 > best.back().first)) {
            const double v = kPi * double(m) / double(win.steps);
            e /= std::pow(std::sin(v) / v, 4);
        }
        keep(best, e, m);
    };
    const cplx* Z = z.get();
    constexpr size_t kBins = 65536;
    std::vector<Best> runs(cv::chunkCount(size_t(n - 1), kBins));
    cv::forEachChunk(size_t(n - 1), kBins, [&](size_t begin, size_t end) {
        Best& best = runs[begin / kBins];
        int64_t j = int64_t(begin) + 1, L = 1, m = 0;
        while (2 * L <= j) L *= 2;
        for (int64_t b = 1, r = n / 2; b < n; b *= 2, r /= 2)
            if (j & b) m |= r;
        for (; j <= int64_t(end); ++j) {
            if (j == 2 * L) L *= 2;
            // Only the bins up to M count.
            if (m <= M) {
                const cplx a = Z[j], b = std::conj(Z[3 * L - 1 - j]), turn = turns.at(m);
                const cplx even = (a + b) * 0.5, odd = (a - b) * cplx(0.0, -0.5);
                consider(best, m, even + mul(turn, odd), turn);
            }
            // m = reverse(j + 1): the bit-reversed counter.
            int64_t bit = n / 2;
            for (; m & bit; bit /= 2) m ^= bit;
            m |= bit;
        }
    });
    Best best;
    for (const Best& part : runs)
        for (const auto& [e, m] : part) keep(best, e, m);
    if (best.empty()) return -1.0;

    // Each pass over the data takes the next estimates down to half the
    // first of them (one, where a spur stands out), at most four.
    auto amplitude = [&best, N](size_t i) { return 2.0 * std::sqrt(best[i].first) / double(N); };
    double found = 0.0;
    for (size_t next = 0; next < best.size() && (next == 0 || amplitude(next) > 1.1 * found);) {
        std::vector<int64_t> bins;
        const double floor = 0.5 * amplitude(next);
        for (; next < best.size() && bins.size() < 4 && amplitude(next) >= floor; ++next)
            bins.push_back(best[next].second);
        found = std::max(found, largestComponent(win, bins));
    }
    return found;
}

// ---------------------------------------------------------------- the measurements

enum class Measure { Thd, Thdn, Snr, Sinad, Enob, Sfdr };

// Where each measurement's optional arguments are: THD and SNR count
// harmonics (argument 3), the others only periods.
constexpr bool countsHarmonics(Measure k) { return k == Measure::Thd || k == Measure::Snr; }

std::optional<double> fundamentalArg(const FuncArgs& a, MessageHandler& m) {
    const auto f0 = levelArg(a, 1, "f0", m);
    if (!f0) return std::nullopt;
    if (!(*f0 > 0) || !std::isfinite(*f0)) {
        refuse(m, a, 2, "f0", "must be a positive, finite frequency (it is " + shown(*f0) + ")");
        return std::nullopt;
    }
    return f0;
}

// The highest harmonic counted: the argument (default 10), at most the
// highest below half the sample rate; refused when that leaves none but
// the fundamental, or when the work would hold the caller too long.
std::optional<int64_t> harmonicsArg(const FuncArgs& a, MessageHandler& m, const Window& win) {
    double H = 10;
    if (givenReal(a, 2)) {
        H = std::trunc(*firstReal(a, 2));
        if (!(H >= 2)) {
            refuse(m, a, 3, "harmonics", "must be a whole number of at least 2");
            return std::nullopt;
        }
    }
    const int64_t seen = win.nyquistBin() / win.periods;
    if (seen < 2) {
        refuse(m, a, 1, "wave",
               "has " + samplesPerPeriod(win.steps, double(win.periods)) +
                   " in the analysed periods; at least 4 are needed to show the 2nd harmonic");
        return std::nullopt;
    }
    H = std::min(H, double(seen));
    if (H * double(win.segments()) > kMaxWork) {
        refuse(m, a, 3, "harmonics",
               "asks for " + shown(H) + " harmonics over " + shown(double(win.segments())) +
                   " segments: too much work; at most " + shown(std::floor(kMaxWork / double(win.segments()))) +
                   " at this length");
        return std::nullopt;
    }
    return int64_t(H);
}

template <Measure kind>
FUNC_ERROR distortion(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto f0 = fundamentalArg(a, m);
    if (!f0) return FuncFailed;
    const auto win = windowOf(a, m, *f0, countsHarmonics(kind) ? 3 : 2);
    if (!win) return FuncFailed;
    int64_t H = 1;
    if constexpr (countsHarmonics(kind)) {
        const auto h = harmonicsArg(a, m, *win);
        if (!h) return FuncFailed;
        H = *h;
    }
    const Harmonics h = harmonicsOf(*win, *f0, H);
    const double A1 = h.A[0], P1 = A1 * A1 / 2.0;
    if (!(A1 > 0)) return refuse(m, a, 1, "wave", "has no component at f0 = " + shown(*f0) + ": its amplitude is 0");
    // A fundamental at the level of rounding is none: every ratio to it
    // would be a number of no meaning.
    const double rms = std::sqrt(h.acPower);
    if (A1 < 1e-12 * rms)
        return refuse(m, a, 1, "wave",
                      "has no component at f0 = " + shown(*f0) + " above rounding: its amplitude there is " +
                          shown(A1 * win->scale) + " against an RMS of " + shown(rms * win->scale) +
                          " (f0 must be the sine's own frequency)");
    // What is left when the fundamental (and for SNR the harmonics) is taken
    // from the power: rounding may leave a hair below zero.
    auto rest = [&](int64_t upTo) {
        double p = h.acPower;
        for (int64_t k = 0; k < upTo; ++k) p -= h.A[size_t(k)] * h.A[size_t(k)] / 2.0;
        return std::max(p, 0.0);
    };
    const double sinad = 10.0 * std::log10(P1 / rest(1));
    double v = 0;
    PhysType type = PhysType::Decibel;
    if constexpr (kind == Measure::Thd) {
        double sum = 0;
        for (int64_t k = 1; k < H; ++k) sum += h.A[size_t(k)] * h.A[size_t(k)];
        v = 100.0 * std::sqrt(sum) / A1;
        type = PhysType::None;
    } else if constexpr (kind == Measure::Thdn) {
        v = 100.0 * std::sqrt(rest(1) / P1);
        type = PhysType::None;
    } else if constexpr (kind == Measure::Snr) {
        v = 10.0 * std::log10(P1 / rest(H));
    } else if constexpr (kind == Measure::Sinad) {
        v = sinad;
    } else if constexpr (kind == Measure::Enob) {
        v = (sinad - 1.76) / 6.02;
        type = PhysType::None;
    } else {
        const double spur = largestSpur(*win, h.c1, kTwoPi * *f0);
        if (spur < 0)
            return refuse(m, a, 1, "wave",
                          "has no component but f0 below half its sample rate: at least 4 samples per period "
                          "are needed");
        v = 20.0 * std::log10(A1 / spur);
    }
    setMeasured(r, v, type);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"THD",   {Real, Real, Real, Real, String}, {Statistic}, 2, 5, handler<distortion<Measure::Thd>>,   "", PyReal, Plain, Pure},
    {"THDN",  {Real, Real, Real, String},       {Statistic}, 2, 4, handler<distortion<Measure::Thdn>>,  "", PyReal, Plain, Pure},
    {"SNR",   {Real, Real, Real, Real, String}, {Statistic}, 2, 5, handler<distortion<Measure::Snr>>,   "", PyReal, Plain, Pure},
    {"SINAD", {Real, Real, Real, String},       {Statistic}, 2, 4, handler<distortion<Measure::Sinad>>, "", PyReal, Plain, Pure},
    {"ENOB",  {Real, Real, Real, String},       {Statistic}, 2, 4, handler<distortion<Measure::Enob>>,  "", PyReal, Plain, Pure},
    {"SFDR",  {Real, Real, Real, String},       {Statistic}, 2, 4, handler<distortion<Measure::Sfdr>>,  "", PyReal, Plain, Pure},
};
// clang-format on

}  // namespace
