// Resampling and truncation of waveforms; see Waveform.h.
#include "Waveform.h"

#include "Clocks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "Interp.h"

namespace cv::wave {

namespace {

// The host interpolator ignores window points beyond this order; the window
// must be chosen with the order it will really use, or it would not end at
// the sample that brackets the grid point.
constexpr int64_t kMaxInterpOrder = 16;

// Position of x against the interval: 1 below (or NaN), 2 on lo, 3 inside,
// 4 on hi, 5 above.
enum Where : int { kNone = 0, kBelow = 1, kAtLo = 2, kInside = 3, kAtHi = 4, kAbove = 5 };

inline int classify(double x, double lo, double hi) {
    if (!(x >= lo)) return kBelow;
    if (x == lo) return kAtLo;
    if (x < hi) return kInside;
    if (x == hi) return kAtHi;
    return kAbove;
}

// One pass of the cut. The counting pass and the writing pass must take
// exactly the same decisions, hence one body for both.
template <bool Write>
int64_t truncatePass(double lo, double hi, const double* y, const double* x, int64_t n, double* outY,
                     double* outX) {
    int64_t k = 0;
    int prev = kNone;
    double x0 = 0.0, y0 = 0.0;
    auto emit = [&](double xv, double yv) {
        if constexpr (Write) {
            outX[k] = xv;
            outY[k] = yv;
        }
        ++k;
    };
    // The point on `level` of the segment from the previous sample to (x1, y1).
    auto onBound = [&](double level, double x1, double y1) {
        if constexpr (Write)
            emit(level, ((level - x0) * y1 - (level - x1) * y0) / (x1 - x0));
        else
            emit(level, 0.0);
    };
    for (int64_t i = 0; i < n; ++i) {
        const double xi = x[i], yi = y[i];
        const int s = classify(xi, lo, hi);
        // Entering (or jumping across) the interval: the bound crossed first.
        if (prev == kBelow && s >= kInside)
            onBound(lo, xi, yi);
        else if (prev == kAbove && s <= kInside)
            onBound(hi, xi, yi);
        // Then the sample itself, or the bound through which the data leaves.
        if (s == kBelow) {
            if (prev >= kInside) onBound(lo, xi, yi);
        } else if (s == kAbove) {
            if (prev >= kBelow && prev <= kInside) onBound(hi, xi, yi);
        } else {
            emit(xi, yi);
        }
        prev = s;
        x0 = xi;
        y0 = yi;
    }
    return k;
}

// Where an x-value lies against [lo, hi], as the fast cut tests it: one
// value, or two at once (a lane mask) with SSE2, which every x86-64 has.
enum class Part { Below, Within, Above };

template <Part part>
inline bool liesIn(double v, double lo, double hi) {
    if constexpr (part == Part::Below) return !(v >= lo);  // NaN counts as below
    else if constexpr (part == Part::Within) return v >= lo && v <= hi;
    else return v > hi;
}

#ifdef __SSE2__
template <Part part>
inline __m128d liesIn(__m128d v, __m128d lo, __m128d hi) {
    if constexpr (part == Part::Below) return _mm_cmpnge_pd(v, lo);
    else if constexpr (part == Part::Within) return _mm_and_pd(_mm_cmpge_pd(v, lo), _mm_cmple_pd(v, hi));
    else return _mm_cmpgt_pd(v, hi);
}
#endif

// Whether every one of v[0, n) lies in the part. With `to`, the values are
// also copied there, the copy being as good as done when they pass: the check
// and the copy then read them once. The test is branch-free within a block,
// so that it runs at the speed of memory; a failure ends the scan at the end
// of its block.
template <Part part>
bool holdsThroughout(const double* v, int64_t n, double lo, double hi, double* to = nullptr) {
    constexpr int64_t kBlock = 512;
    for (int64_t b = 0; b < n; b += kBlock) {
        const int64_t e = std::min(n, b + kBlock);
        int64_t k = b;
        bool all = true;
#ifdef __SSE2__
        const __m128d l = _mm_set1_pd(lo), h = _mm_set1_pd(hi);
        __m128d lanes = _mm_castsi128_pd(_mm_set1_epi32(-1));
        for (; k + 4 <= e; k += 4) {
            const __m128d p = _mm_loadu_pd(v + k), q = _mm_loadu_pd(v + k + 2);
            lanes = _mm_and_pd(lanes, _mm_and_pd(liesIn<part>(p, l, h), liesIn<part>(q, l, h)));
            if (to) {
                _mm_storeu_pd(to + k, p);
                _mm_storeu_pd(to + k + 2, q);
            }
        }
        all = _mm_movemask_pd(lanes) == 3;
#endif
        for (; k < e; ++k) {
            all &= liesIn<part>(v[k], lo, hi);
            if (to) to[k] = v[k];
        }
        if (!all) return false;
    }
    return true;
}

// First index of x[0, n) at which pred fails, for data on which pred holds on
// a prefix; on other data some index, which the caller must check.
template <class Pred>
int64_t firstFailure(const double* x, int64_t n, Pred pred) {
    int64_t lo = 0, hi = n;
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (pred(x[mid]))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// The common case: samples below the interval, then samples in it, then
// samples above it (each part possibly empty), as rising x crossing the
// interval once gives. The walk would keep the middle part as it is and add
// at most one point on each bound, so the cut is found by bisection, checked
// by one pass (the middle part while it is copied), and copied as a block.
// Returns false when the data has another shape: nothing is written then,
// though storage may have been asked for.
bool truncateSpan(double lo, double hi, const double* y, const double* x, int64_t n,
                  TruncateOutData<double>& out, bool& wrote) {
    if (!(lo <= hi)) return false;
    auto below = [lo, hi](double v) { return liesIn<Part::Below>(v, lo, hi); };
    auto notAbove = [lo, hi](double v) { return !liesIn<Part::Above>(v, lo, hi); };
    const int64_t begin = firstFailure(x, n, below);
    const int64_t end = begin + firstFailure(x + begin, n - begin, notAbove);
    if (!holdsThroughout<Part::Below>(x, begin, lo, hi) || !holdsThroughout<Part::Above>(x + end, n - end, lo, hi))
        return false;
    const int64_t kept = end - begin;
    const bool before = begin > 0, after = end < n;
    // The walk adds a bound point where a segment enters the interval other
    // than on lo, or leaves it other than on hi; a jump over the whole
    // interval gives both.
    const bool loPoint = before && (kept > 0 ? classify(x[begin], lo, hi) >= kInside : after);
    const bool hiPoint = after && (kept > 0 ? classify(x[end - 1], lo, hi) <= kInside : before);
    const int64_t count = kept + loPoint + hiPoint;
    wrote = count > 0;
    if (!wrote) return true;
    double* outY = out.allocateY(count);
    double* outX = out.allocateX(count);
    if (!outY || !outX) {
        wrote = false;
        return true;
    }
    // The same arithmetic as the walk's, for the same bits.
    auto onBound = [&](double level, int64_t right) {
        const double x0 = x[right - 1], y0 = y[right - 1], x1 = x[right], y1 = y[right];
        return ((level - x0) * y1 - (level - x1) * y0) / (x1 - x0);
    };
    int64_t k = 0;
    if (loPoint) {
        outX[k] = lo;
        outY[k++] = onBound(lo, begin);
    }
    if (kept > 0) {
        // The middle is checked as it is copied; should it leave the interval
        // after all, the walk starts over and asks for storage again.
        if (!holdsThroughout<Part::Within>(x + begin, kept, lo, hi, outX + k)) return false;
        std::memcpy(outY + k, y + begin, size_t(kept) * sizeof(double));
        k += kept;
    }
    if (hiPoint) {
        outX[k] = hi;
        outY[k] = onBound(hi, end);
    }
    return true;
}

}  // namespace

// The host interpolator's order-2 value for the common window (three
// distinct, finite points), with its arithmetic step for step, so the result
// is the same to the bit; any other window goes to the host. Inline, it
// spares the resampling loop a call and the host's general bookkeeping.
inline double parabolaAt(const double* y, const double* x, double t, const InterpOpts& opts) {
    const double x0 = x[0], x1 = x[1], x2 = x[2];
    if (!(x0 != x1 && x1 != x2 && x0 != x2) ||
        !(std::isfinite(x0) && std::isfinite(x1) && std::isfinite(x2) && std::isfinite(y[0]) && std::isfinite(y[1]) &&
          std::isfinite(y[2])))
        return support_Interp(y, x, t, opts);
    double c0 = y[0], c1 = y[1], c2 = y[2];
    c2 = (c2 - c1) / (x2 - x1);
    c1 = (c1 - c0) / (x1 - x0);
    c2 = (c2 - c1) / (x2 - x0);
    double p = c2;
    p = p * (t - x1) + c1;
    p = p * (t - x0) + c0;
    return p;
}

bool resample(const ResampleSource& source, ResampleDest& dest, int order, bool includeEnd) {
    if (dest.step == 0.0) {
        const double intervals = includeEnd && dest.count >= 2 ? double(dest.count - 1) : double(dest.count);
        dest.step = (source.stop - source.start) / intervals;
    }
    const int64_t count = dest.count;
    if (count < 1) return true;
    double* const out = dest.out;
    const double* const y = source.y;
    const double* const x = source.x;
    const int64_t n = source.n;
    if (n < 1 || !y || !x) {
        std::fill(out, out + count, std::numeric_limits<double>::quiet_NaN());
        return true;
    }
    // A single sample defines no polynomial: the waveform is that constant.
    if (n == 1) {
        std::fill(out, out + count, y[0]);
        return true;
    }
    const int64_t m = std::max<int64_t>(1, std::min<int64_t>({int64_t(order), n - 1, kMaxInterpOrder}));
    const InterpOpts opts{false, false, false, false, int32_t(m), 0, 0.0};
    const double start = source.start, step = dest.step;
    // Grid points ascend, so the bracketing sample only moves forward: one
    // pass over the data for the whole grid.
    int64_t j = 0;
    int64_t made = -1;  // the window whose polynomial `poly` holds
    InterpPolynomial poly;
    for (int64_t i = 0; i < count; ++i) {
        if ((i & 0xffff) == 0 && i && cv::interruptRequested()) return false;  // a grid of millions: let Ctrl-C in
        const double t = double(i) * step + start;
        while (j < n && x[j] < t) ++j;
        if (j == n) j = n - 1;
        const int64_t w = j > m ? j - m : 0;
        if (m == 1) {  // the host's linear rule, inline
            out[i] = x[w + 1] == x[w] ? y[w] : y[w] + (t - x[w]) / (x[w + 1] - x[w]) * (y[w + 1] - y[w]);
        } else if (m == 2) {
            out[i] = parabolaAt(y + w, x + w, t, opts);
        } else {
            if (w != made) {
                support_InterpMake(y + w, x + w, int(m), poly);
                made = w;
            }
            out[i] = support_InterpEval(poly, t);
        }
    }
    return true;
}

bool truncateWaveform(double lo, double hi, const double* y, const double* x, int64_t n,
                      TruncateOutData<double>& out) {
    if (n <= 0 || !y || !x) return false;
    bool wrote = false;
    if (truncateSpan(lo, hi, y, x, n, out, wrote)) return wrote;
    const int64_t count = truncatePass<false>(lo, hi, y, x, n, nullptr, nullptr);
    if (count == 0) return false;
    double* outY = out.allocateY(count);
    double* outX = out.allocateX(count);
    if (!outY || !outX) return false;
    truncatePass<true>(lo, hi, y, x, n, outY, outX);
    return true;
}

}  // namespace cv::wave
