// Extrema of waveforms: local peaks and troughs with sub-sample position
// (Maxima, Minima), the largest or smallest value inside an x-window
// (Maximum, Minimum), the position of a value in a monotonic vector (Locate),
// and two whole-vector tests (Ones, Zeros).
#ifdef __linux__
#include <sys/mman.h>
#endif
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "../FuncKit.h"
#include "VecMath.h"
#include "Interp.h"

namespace {

using namespace cvmod;

// ---------------------------------------------------------------- shared

// Peaks and troughs share every line; only the comparison differs.
template <bool Lower>
inline bool beats(double a, double b) {
    return Lower ? a < b : a > b;
}

// ---------------------------------------------------------------- Maxima / Minima

// A point of the settled record sequence: a sample, a collapsed flat (one
// record at the middle of a run of equal samples, never interpolated), or a
// sentinel standing for "nothing beyond this end".
struct PeakRecord {
    double x, y;
    bool noInterp, sentinel;
};

struct PeakOptions {
    bool keepFoundOrder = false;  // "xsort"
    bool noInterp = false;        // "nointerp"
    bool noEndPoints = false;     // "noendpts"
    const double* limits = nullptr;
    int64_t numLimits = 0;
    double spacing = 0;
};

// Value at `at` of the parabola through three points with distinct x. For
// finite points this is the host interpolator's own arithmetic (divided
// differences, then the Newton form), operation for operation, so the result
// is the same to the bit without the cost of a call per peak; anything else
// goes to the host.
double parabolaAt(const double (&xs)[3], const double (&ys)[3], double at) {
    bool finite = std::isfinite(at);
    for (int i = 0; i < 3; ++i) finite = finite && std::isfinite(xs[i]) && std::isfinite(ys[i]);
    if (!finite) return support_Interp(ys, xs, at, InterpOpts{false, false, false, false, 2, 0, 0.0});
    const double c1 = (ys[1] - ys[0]) / (xs[1] - xs[0]);
    const double c2 = ((ys[2] - ys[1]) / (xs[2] - xs[1]) - c1) / (xs[2] - xs[0]);
    return (c2 * (at - xs[1]) + c1) * (at - xs[0]) + ys[0];
}

// Where found peaks go. Counting first and writing second lets the peaks go
// straight into the result, sized once.
struct PeakCounter {
    static constexpr bool kNeedsPosition = false;
    int64_t count = 0;
    void add(double, double) { ++count; }
};

struct PeakWriter {
    static constexpr bool kNeedsPosition = true;
    double* outX;
    double* outY;
    int64_t capacity;
    int64_t count = 0;
    void add(double x, double y) {
        // Both passes take the same decisions; the guard only keeps a slip
        // from writing past the result.
        if (count < capacity) {
            outX[count] = x;
            outY[count] = y;
        }
        ++count;
    }
};

// Samples are taken in chunks. A chunk whose samples (and the four before
// it) hold no NaN and no two equal neighbours consists of plain records
// only, so its peaks are simply the samples that beat both neighbours; such
// chunks are scanned without the record machinery.
constexpr int64_t kPeakChunk = 1024;

// Whether y[lo, hi] has no NaN and no two equal neighbours.
bool plainStretch(const double* y, int64_t lo, int64_t hi) {
    bool anyBad = std::isnan(y[hi]);
    int64_t k = lo;
#ifdef __SSE2__
    __m128d bad = _mm_setzero_pd();
    for (; k + 2 <= hi; k += 2) {
        const __m128d a = _mm_loadu_pd(y + k), b = _mm_loadu_pd(y + k + 1);
        bad = _mm_or_pd(bad, _mm_or_pd(_mm_cmpeq_pd(a, b), _mm_cmpunord_pd(a, a)));
    }
    anyBad |= _mm_movemask_pd(bad) != 0;
#endif
    for (; k < hi; ++k) anyBad |= (y[k] == y[k + 1]) | std::isnan(y[k]);
    return !anyBad;
}

// Bit j set when y[from + j] beats both its neighbours, j < 64.
template <bool Lower>
inline uint64_t beatsNeighbours(const double* y, int64_t from) {
    uint64_t bits = 0;
    const double* p = y + from;
#ifdef __SSE2__
    for (int j = 0; j < 64; j += 2) {
        const __m128d before = _mm_loadu_pd(p + j - 1), at = _mm_loadu_pd(p + j), after = _mm_loadu_pd(p + j + 1);
        const __m128d m = Lower ? _mm_and_pd(_mm_cmplt_pd(at, before), _mm_cmplt_pd(at, after))
                                : _mm_and_pd(_mm_cmpgt_pd(at, before), _mm_cmpgt_pd(at, after));
        bits |= uint64_t(_mm_movemask_pd(m)) << j;
    }
#else
    for (int j = 0; j < 64; ++j)
        bits |= uint64_t(beats<Lower>(p[j], p[j - 1]) & beats<Lower>(p[j], p[j + 1])) << j;
#endif
    return bits;
}

// Walks the waveform once. The window of the classic formulation (records
// entering at the back, a flat kept as its first and latest sample until a
// different value closes it, evaluation from the front) examines every three
// consecutive settled records exactly once; here that is done directly on a
// three-record shift register plus the open run, so memory stays constant
// whatever the data. Samples whose y is NaN are skipped: the samples on
// either side of them are neighbours, as in the host's crossing search.
template <bool Lower, class Sink>
class PeakFinder {
public:
    PeakFinder(const PeakOptions& o, Sink& sink) : opt_(o), sink_(sink) {}

    void run(const double* x, const double* y, int64_t n) {
        int64_t first = 0, last = n - 1;
        while (first < n && std::isnan(y[first])) ++first;
        while (last > first && std::isnan(y[last])) --last;
        if (first >= n) return;
        const bool rising = !(x[last] < x[first]);
        const double outside = Lower ? DBL_MAX : -DBL_MAX;
        if (!opt_.noEndPoints) push({rising ? -DBL_MAX : DBL_MAX, outside, true, true});

        runY_ = y[first];
        runFirstX_ = runLastX_ = x[first];
        runIsFlat_ = false;
        int64_t i = first + 1;
        // Before a chunk at a, sample a - 1 is the open run and a - 2, a - 3
        // are the last two records; after it, the same holds at its end.
        while (i + kPeakChunk - 1 <= last) {
            const int64_t end = i + kPeakChunk;
            if (i >= first + 4 && plainStretch(y, i - 4, end - 1)) {
                plainChunk(x, y, i, end);
                i = end;
            } else {
                for (; i < end; ++i) step(x, y, i);
            }
        }
        for (; i <= last; ++i) step(x, y, i);
        // A flat that reaches the last sample is collapsed whatever its length.
        push(closeRun());
        if (!opt_.noEndPoints) push({rising ? DBL_MAX : -DBL_MAX, outside, true, true});
    }

private:
    void step(const double* x, const double* y, int64_t i) {
        const double yi = y[i];
        if (std::isnan(yi)) return;
        if (yi == runY_) {
            runLastX_ = x[i];
            runIsFlat_ = true;
            return;
        }
        push(closeRun());
        runY_ = yi;
        runFirstX_ = runLastX_ = x[i];
        runIsFlat_ = false;
    }

    // Samples a .. end - 1 close the runs of a - 1 .. end - 2, which
    // evaluates the records a - 2 .. end - 3 between their plain neighbours.
    void plainChunk(const double* x, const double* y, int64_t a, int64_t end) {
        static_assert(kPeakChunk % 64 == 0);
        const bool bare = opt_.numLimits == 0 && opt_.spacing == 0;
        for (int64_t from = a - 2; from < end - 2; from += 64) {
            uint64_t bits = beatsNeighbours<Lower>(y, from);
            if constexpr (!Sink::kNeedsPosition) {
                if (bare) {
                    sink_.count += std::popcount(bits);
                    continue;
                }
            }
            for (; bits; bits &= bits - 1) {
                const int64_t k = from + std::countr_zero(bits);
                if (bare && opt_.noInterp)
                    sink_.add(x[k], y[k]);
                else
                    evaluate({x[k - 1], y[k - 1], false, false}, {x[k], y[k], false, false},
                             {x[k + 1], y[k + 1], false, false});
            }
        }
        f_ = {x[end - 3], y[end - 3], false, false};
        m_ = {x[end - 2], y[end - 2], false, false};
        count_ += end - a;
        runY_ = y[end - 1];
        runFirstX_ = runLastX_ = x[end - 1];
        runIsFlat_ = false;
    }

    PeakRecord closeRun() const {
        if (!runIsFlat_) return {runFirstX_, runY_, false, false};
        // Halves first: the ends may be near the limits of the doubles.
        return {0.5 * runFirstX_ + 0.5 * runLastX_, runY_, true, false};
    }

    void push(const PeakRecord& r) {
        if (count_ >= 2) evaluate(f_, m_, r);
        f_ = m_;
        m_ = r;
        ++count_;
    }

    bool withinLimits(double v) const {
        if (opt_.numLimits >= 1 && !beats<Lower>(v, opt_.limits[0])) return false;
        if (opt_.numLimits >= 2 && !beats<Lower>(opt_.limits[1], v)) return false;
        return true;
    }

    // Neighbouring records closer than the spacing disqualify a candidate.
    // The magnitude of the spacing counts, so it serves data with falling x
    // as well as rising x.
    bool spaced(const PeakRecord& f, const PeakRecord& m, const PeakRecord& t) const {
        if (opt_.spacing == 0) return true;
        const double d = std::fabs(opt_.spacing);
        const double a = m.x - f.x, b = t.x - m.x;
        if (a > 0 && b > 0) return a >= d && b >= d;
        if (a < 0 && b < 0) return a <= -d && b <= -d;
        return true;
    }

    void evaluate(const PeakRecord& f, const PeakRecord& m, const PeakRecord& t) {
        // A single record between the two sentinels is a constant waveform:
        // it has no peak.
        if (f.sentinel && t.sentinel) return;
        if (!beats<Lower>(m.y, f.y) || !beats<Lower>(m.y, t.y)) return;
        if (!withinLimits(m.y) || !spaced(f, m, t)) return;
        if constexpr (Sink::kNeedsPosition)
            locate(f, m, t);
        else
            sink_.add(0.0, 0.0);
    }

    void locate(const PeakRecord& f, const PeakRecord& m, const PeakRecord& t) {
        if (opt_.noInterp || f.noInterp || m.noInterp || t.noInterp || f.x == m.x || m.x == t.x || f.x == t.x)
            return sink_.add(m.x, m.y);
        // Vertex of the parabola through the three points (Newton form).
        const double s = (f.y - m.y) / (f.x - m.x);
        const double q = ((m.y - t.y) / (m.x - t.x) - s) / (t.x - f.x);
        const double v = ((f.x + m.x) * q - s) / (2 * q);
        const double vy = parabolaAt({f.x, m.x, t.x}, {f.y, m.y, t.y}, v);
        // Values near the limits of the doubles can overflow the divided
        // differences; the sample itself is then the best answer.
        if (!std::isfinite(v) || !std::isfinite(vy)) return sink_.add(m.x, m.y);
        sink_.add(v, vy);
    }

    const PeakOptions& opt_;
    Sink& sink_;
    PeakRecord f_{}, m_{};
    int64_t count_ = 0;
    double runY_ = 0, runFirstX_ = 0, runLastX_ = 0;
    bool runIsFlat_ = false;
};

// Scattered writes over tens of megabytes miss the address translation
// caches on every page; large pages (where the system offers them) make
// that, and the faults of fresh memory, several hundred times rarer. Only
// a hint: nothing changes when it is refused.
void preferLargePages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kLarge = uintptr_t(1) << 21;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kLarge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

// Puts the peaks (in the order found) in order of value, equal values in
// the order found, in place. The values become unsigned keys that order as
// the values do, sorted by a stable radix sort: a handful of linear passes
// where comparison sorting would take twenty-odd over millions of peaks. The
// keys live in the value array itself while they are sorted, so the sort
// needs one scratch copy only. Only -0 and +0, equal as values but not as
// keys, need the comparison sort.
template <bool Lower>
void sortByValue(double* outX, double* outY, int64_t k) {
    auto comparisonSort = [&] {
        struct Peak {
            double x, y;
        };
        std::vector<Peak> p(static_cast<size_t>(k));
        for (int64_t i = 0; i < k; ++i) p[size_t(i)] = {outX[i], outY[i]};
        std::stable_sort(p.begin(), p.end(), [](const Peak& a, const Peak& b) { return beats<Lower>(a.y, b.y); });
        for (int64_t i = 0; i < k; ++i) {
            outX[i] = p[size_t(i)].x;
            outY[i] = p[size_t(i)].y;
        }
    };
    if (k < 64 || k > INT32_MAX) return comparisonSort();
    for (int64_t i = 0; i < k; ++i)
        if (outY[i] == 0 && std::signbit(outY[i])) return comparisonSort();

    // Rising keys put the smallest first, inverted ones the largest.
    auto keyOf = [](double y) {
        const uint64_t bits = std::bit_cast<uint64_t>(y);
        const uint64_t ordered = bits >> 63 ? ~bits : bits | (uint64_t(1) << 63);
        return Lower ? ordered : ~ordered;
    };
    auto valueOf = [](uint64_t key) {
        const uint64_t ordered = Lower ? key : ~key;
        return std::bit_cast<double>(ordered >> 63 ? ordered & ~(uint64_t(1) << 63) : ~ordered);
    };
    // Byte digits keep the scatter to a few hundred write streams, which the
    // caches and the address translation keep up with.
    constexpr int kBits = 8, kPasses = 64 / kBits;
    constexpr size_t kBuckets = size_t(1) << kBits;
    std::vector<uint32_t> counts(kPasses * kBuckets, 0);
    for (int64_t i = 0; i < k; ++i) {
        const uint64_t key = keyOf(outY[i]);
        std::memcpy(outY + i, &key, sizeof key);
        for (int p = 0; p < kPasses; ++p) ++counts[p * kBuckets + ((key >> (p * kBits)) & (kBuckets - 1))];
    }
    std::unique_ptr<double[]> scratch(new double[2 * size_t(k)]);
    preferLargePages(scratch.get(), 2 * size_t(k) * sizeof(double));
    double *keys = outY, *xs = outX, *otherKeys = scratch.get(), *otherX = scratch.get() + k;
    for (int p = 0; p < kPasses; ++p) {
        uint32_t* c = &counts[p * kBuckets];
        // A digit that is the same in every key leaves the order as it is.
        if (*std::max_element(c, c + kBuckets) == uint32_t(k)) continue;
        uint32_t sum = 0;
        for (size_t d = 0; d < kBuckets; ++d) sum += std::exchange(c[d], sum);
        const int shift = p * kBits;
        for (int64_t i = 0; i < k; ++i) {
            uint64_t key;
            std::memcpy(&key, keys + i, sizeof key);
            const uint32_t at = c[(key >> shift) & (kBuckets - 1)]++;
            std::memcpy(otherKeys + at, &key, sizeof key);
            otherX[at] = xs[i];
        }
        std::swap(keys, otherKeys);
        std::swap(xs, otherX);
    }
    if (xs != outX) std::memcpy(outX, xs, size_t(k) * sizeof(double));
    for (int64_t i = 0; i < k; ++i) {
        uint64_t key;
        std::memcpy(&key, keys + i, sizeof key);
        outY[i] = valueOf(key);
    }
}

template <bool Lower>
FUNC_ERROR peaks(const FuncArgs& args, FuncResult& result, MessageHandler& messages) {
    const Wave w = waveOf(args, 0);
    if (!w.x) return noReference(messages, args, 1);
    if (w.n < 2) return FuncOk;

    PeakOptions opt;
    if (givenReal(args, 1)) {
        opt.limits = args.realData(1);
        opt.numLimits = args.totalLength(1);
    }
    if (args.numArgs() > 2)
        if (const char* const* words = args.stringData(2))
            for (int64_t k = 0; k < args.totalLength(2); ++k) {
                const char* word = words[k] ? words[k] : "";
                opt.keepFoundOrder |= sameWord(word, "xsort");
                opt.noInterp |= sameWord(word, "nointerp");
                opt.noEndPoints |= sameWord(word, "noendpts");
            }
    if (const auto spacing = optionalReal(args, 3); spacing && !std::isnan(*spacing)) opt.spacing = *spacing;

    PeakCounter counter;
    PeakFinder<Lower, PeakCounter>(opt, counter).run(w.x, w.y, w.n);
    const int64_t k = counter.count;
    if (k == 0) return FuncOk;
    double* outY = result.makeRealVector(k);
    double* outX = result.makeRealRefVector(k);
    PeakWriter writer{outX, outY, k};
    PeakFinder<Lower, PeakWriter>(opt, writer).run(w.x, w.y, w.n);
    if (!opt.keepFoundOrder) sortByValue<Lower>(outX, outY, k);
    result.setPhysType(args.physType(0));
    result.setRefPhysType(args.refPhysType(0));
    result.setRefName(args.refName(0));
    return FuncOk;
}

// ---------------------------------------------------------------- Maximum / Minimum

// Index of the first extreme non-NaN value of y[lo, hi), or -1: the host's
// vectorised scan for the processor at hand.
template <bool Lower>
int64_t extremeIndex(const double* y, int64_t lo, int64_t hi) {
    return cv::vecExtremeIndex(y, lo, hi, Lower);
}

// First index of x[0, n) (sorted as `ascending` says) at which pred(x) is
// false, for a predicate that is true on a prefix of the sorted data.
template <class Pred>
int64_t partitionPoint(const double* x, int64_t n, Pred pred) {
    int64_t lo = 0, hi = n;
    while (lo < hi) {
        int64_t mid = lo + (hi - lo) / 2;
        if (pred(x[mid]))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// The samples whose x lies in [start, end], located by bisection on the
// sorted reference (rising or falling); absent limits are given as NaN.
void windowRange(const double* x, int64_t n, double start, double end, int64_t& lo, int64_t& hi) {
    lo = 0;
    hi = n;
    if (n == 0) return;
    if (x[n - 1] >= x[0]) {
        if (!std::isnan(start)) lo = partitionPoint(x, n, [start](double v) { return v < start; });
        if (!std::isnan(end)) hi = partitionPoint(x, n, [end](double v) { return !(v > end); });
    } else {
        if (!std::isnan(end)) lo = partitionPoint(x, n, [end](double v) { return v > end; });
        if (!std::isnan(start)) hi = partitionPoint(x, n, [start](double v) { return !(v < start); });
    }
    hi = std::max(lo, hi);
}

template <bool Lower>
FUNC_ERROR extreme(const FuncArgs& args, FuncResult& result, MessageHandler&) {
    const double start = realOr(args, 1, NAN);
    const double end = realOr(args, 2, NAN);
    const bool complexData = args.type(0) == VD_Complex;
    const double* realX = args.refData(0);
    const cplx* complexX = args.complexRefData(0);
    const bool hasRef = realX || complexX;
    // A reference shorter than its values would be read past its end: only
    // the points that have both an x and a y take part.
    const int64_t n = hasRef ? std::min(args.length(0), args.refLength(0)) : args.length(0);

    int64_t best = -1;
    double value = 0, at = 0;
    if (complexX) {
        // The x of a complex reference is its magnitude, which need not be
        // sorted: each sample is tested on its own.
        const cplx* z = args.complexData(0);
        const double* r = args.realData(0);
        for (int64_t i = 0; i < n && (z || r); ++i) {
            const double xi = std::abs(complexX[i]);
            if (xi < start || xi > end) continue;
            const double v = z ? std::abs(z[i]) : r[i];
            if (best < 0 ? !std::isnan(v) : beats<Lower>(v, value)) {
                best = i;
                value = v;
                at = xi;
            }
        }
    } else {
        int64_t lo = 0, hi = n;
        if (realX) windowRange(realX, n, start, end, lo, hi);
        if (complexData) {
            const cplx* z = args.complexData(0);
            for (int64_t i = lo; i < hi; ++i) {
                const double v = std::sqrt(z[i].real() * z[i].real() + z[i].imag() * z[i].imag());
                if (best < 0 ? !std::isnan(v) : beats<Lower>(v, value)) {
                    best = i;
                    value = v;
                }
            }
        } else if (const double* y = args.realData(0)) {
            best = extremeIndex<Lower>(y, lo, hi);
            if (best >= 0) value = y[best];
        }
        if (best >= 0 && realX) at = realX[best];
    }
    if (best < 0) return FuncOk;
    setReal(result, value);
    if (hasRef) {
        *result.makeRealRefVector(1) = at;
        result.setRefPhysType(args.refPhysType(0));
        result.setRefName(args.refName(0));
    }
    result.setPhysType(args.physType(0));
    return FuncOk;
}

// ---------------------------------------------------------------- Locate

// Index i with v[i] <= value < v[i + 1] in rising data (v[i] >= value >
// v[i + 1] in falling data); -1 before the first value, n - 1 at or beyond
// the last. An empty vector or a NaN value has no position.
FUNC_ERROR locate(const FuncArgs& args, FuncResult& result, MessageHandler&) {
    const double* v = args.realData(0);
    const int64_t n = args.length(0);
    const double value = realOr(args, 1, NAN);
    if (!v || n == 0 || std::isnan(value)) return FuncOk;
    const bool ascending = v[0] < v[n - 1];
    int64_t at;
    if (n == 1)
        at = 0;
    else if (ascending ? value < v[0] : value > v[0])
        at = -1;
    else if (ascending ? value >= v[n - 1] : value <= v[n - 1])
        at = n - 1;
    else {
        // lo < mid < hi always, so the interval halves every step.
        int64_t lo = 0, hi = n - 1;
        while (hi - lo > 1) {
            int64_t mid = lo + (hi - lo) / 2;
            if (ascending ? v[mid] > value : v[mid] < value)
                hi = mid;
            else
                lo = mid;
        }
        at = lo;
    }
    setReal(result, double(at));
    return FuncOk;
}

// ---------------------------------------------------------------- Ones / Zeros

template <int Wanted>
FUNC_ERROR allEqual(const FuncArgs& args, FuncResult& result, MessageHandler&) {
    const double* v = args.realData(0);
    const int64_t n = v ? args.totalLength(0) : 0;
    // Counting mismatches keeps the loop free of early exits (and vectorised);
    // a NaN is never equal, so it counts as one.
    int64_t mismatches = 0;
    for (int64_t i = 0; i < n; ++i) mismatches += v[i] != double(Wanted);
    setBool(result, mismatches == 0);
    return FuncOk;
}

// Rows marked Pure only read their arguments: the runs of a divided call may
// be measured on several threads at once.
// clang-format off
FunctionRow registrations[] = {
    {"Maxima",  {Real, Real, String, Real}, {PerDivision}, 1, 4, handler<peaks<false>>,   "", PyVector, Plain},
    {"Minima",  {Real, Real, String, Real}, {PerDivision}, 1, 4, handler<peaks<true>>,    "", PyVector, Plain},
    {"Locate",  {Real, Real},               {},            2, 2, handler<locate>,         "", PyReal2,  Plain},
    {"Maximum", {Numeric, Real, Real},      {Statistic},   1, 3, handler<extreme<false>>, "", PyReal,   Plain, Pure},
    {"Minimum", {Numeric, Real, Real},      {Statistic},   1, 3, handler<extreme<true>>,  "", PyReal,   Plain, Pure},
    {"Ones",    {Real},                     {},            1, 1, handler<allEqual<1>>,    "", PyBool,   Plain},
    {"Zeros",   {Real},                     {},            1, 1, handler<allEqual<0>>,    "", PyBool,   Plain},
};
// clang-format on

}  // namespace
