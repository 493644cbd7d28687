// Extrema of waveforms: local peaks and troughs with sub-sample position
// (Maxima, Minima), the largest or smallest value inside an x-window
// (Maximum, Minimum), the position of a value in a monotonic vector (Locate),
// and two whole-vector tests (Ones, Zeros).
#include <strings.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "FuncArgs.h"
#include "FuncContract.h"
#include "Interp.h"

namespace {

// ---------------------------------------------------------------- shared

// One argument is present when it was given with at least one value.
bool hasValue(const FuncArgsMinimal& args, int i) {
    return args.numArgs() > i && args.length(i) > 0 && args.realData(i) != nullptr;
}

// A reference shorter than its values would be read past its end: only the
// points that have both an x and a y take part.
int64_t pointsWithX(const FuncArgsMinimal& args, int i) {
    return std::min(args.length(i), args.refLength(i));
}

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

struct FoundPeak {
    double x, y;
};

// Walks the waveform once. The window of the classic formulation (records
// entering at the back, a flat kept as its first and latest sample until a
// different value closes it, evaluation from the front) examines every three
// consecutive settled records exactly once; here that is done directly on a
// three-record shift register plus the open run, so memory stays constant
// whatever the data. Samples whose y is NaN are skipped: the samples on
// either side of them are neighbours, as in the host's crossing search.
template <bool Lower>
class PeakFinder {
public:
    PeakFinder(const PeakOptions& o, std::vector<FoundPeak>& found) : opt_(o), found_(found) {}

    void run(const double* x, const double* y, int64_t n) {
        int64_t first = 0, last = n - 1;
        while (first < n && std::isnan(y[first])) ++first;
        while (last > first && std::isnan(y[last])) --last;
        if (first >= n) return;
        const bool rising = !(x[last] < x[first]);
        const double outside = Lower ? DBL_MAX : -DBL_MAX;
        if (!opt_.noEndPoints) push({rising ? -DBL_MAX : DBL_MAX, outside, true, true});

        double runY = y[first], runFirstX = x[first], runLastX = x[first];
        bool runIsFlat = false;
        for (int64_t i = first + 1; i <= last; ++i) {
            const double yi = y[i];
            if (std::isnan(yi)) continue;
            if (yi == runY) {
                runLastX = x[i];
                runIsFlat = true;
                continue;
            }
            push(closeRun(runFirstX, runLastX, runY, runIsFlat));
            runY = yi;
            runFirstX = runLastX = x[i];
            runIsFlat = false;
            // Most samples lie on a slope: strictly between their neighbours.
            // Such a sample is never a peak, never part of a flat, and its
            // record is the plain sample, so a stretch of them only shifts the
            // register; it is skipped in one tight scan.
            if (i >= first + 2 && y[i - 1] == m_.y && !m_.noInterp) {
                const int64_t t = firstTurn(y, i - 1, last);
                if (t > i) {
                    f_ = {x[t - 2], y[t - 2], false, false};
                    m_ = {x[t - 1], y[t - 1], false, false};
                    count_ += t - i;
                    i = t;
                    runY = y[t];
                    runFirstX = runLastX = x[t];
                }
            }
        }
        // A flat that reaches the last sample is collapsed whatever its length.
        push(closeRun(runFirstX, runLastX, runY, runIsFlat));
        if (!opt_.noEndPoints) push({rising ? DBL_MAX : -DBL_MAX, outside, true, true});
    }

private:
    // First t >= from (and < last) at which y does not run strictly up or
    // strictly down through t; last when there is none. NaN and equal
    // neighbours end a slope, since every comparison with NaN is false.
    static int64_t firstTurn(const double* y, int64_t from, int64_t last) {
        auto turns = [y](int64_t k) {
            const double a = y[k - 1], b = y[k], c = y[k + 1];
            return !((a < b && b < c) || (a > b && b > c));
        };
        // Noisy data turns within a few samples: look there first, and scan
        // whole blocks only along a long slope.
        constexpr int64_t kNear = 8, kBlock = 64;
        int64_t t = from;
        for (const int64_t near = std::min(last, from + kNear); t < near; ++t)
            if (turns(t)) return t;
        while (t + kBlock < last) {
            int count = 0;
            for (int64_t k = t; k < t + kBlock; ++k) count += turns(k);
            if (count) break;
            t += kBlock;
        }
        for (; t < last; ++t)
            if (turns(t)) return t;
        return last;
    }

    static PeakRecord closeRun(double firstX, double lastX, double y, bool flat) {
        if (!flat) return {firstX, y, false, false};
        // Halves first: the ends may be near the limits of the doubles.
        return {0.5 * firstX + 0.5 * lastX, y, true, false};
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
        found_.push_back(locate(f, m, t));
    }

    FoundPeak locate(const PeakRecord& f, const PeakRecord& m, const PeakRecord& t) const {
        if (opt_.noInterp || f.noInterp || m.noInterp || t.noInterp || f.x == m.x || m.x == t.x || f.x == t.x)
            return {m.x, m.y};
        // Vertex of the parabola through the three points (Newton form).
        const double s = (f.y - m.y) / (f.x - m.x);
        const double q = ((m.y - t.y) / (m.x - t.x) - s) / (t.x - f.x);
        const double v = ((f.x + m.x) * q - s) / (2 * q);
        const double ys[3] = {f.y, m.y, t.y}, xs[3] = {f.x, m.x, t.x};
        const double vy = support_Interp(ys, xs, v, InterpOpts{false, false, false, false, 2, 0, 0.0});
        // Values near the limits of the doubles can overflow the divided
        // differences; the sample itself is then the best answer.
        if (!std::isfinite(v) || !std::isfinite(vy)) return {m.x, m.y};
        return {v, vy};
    }

    const PeakOptions& opt_;
    std::vector<FoundPeak>& found_;
    PeakRecord f_{}, m_{};
    int64_t count_ = 0;
};

bool isWord(const char* s, const char* word) { return s && strcasecmp(s, word) == 0; }

template <bool Lower>
FUNC_ERROR peaks(const FuncArgs& args, FuncResult& result, MessageHandler& messages) {
    const double* y = args.realData(0);
    const double* x = args.refData(0);
    if (!x) {
        messages.error("Argument %d in function '%s' has no reference (xvalues)", 1, args.functionName());
        return FuncFailed;
    }
    const int64_t n = pointsWithX(args, 0);
    if (n < 2 || !y) return FuncOk;

    PeakOptions opt;
    if (hasValue(args, 1)) {
        opt.limits = args.realData(1);
        opt.numLimits = args.totalLength(1);
    }
    if (args.numArgs() > 2)
        if (const char* const* words = args.stringData(2))
            for (int64_t k = 0; k < args.totalLength(2); ++k) {
                opt.keepFoundOrder |= isWord(words[k], "xsort");
                opt.noInterp |= isWord(words[k], "nointerp");
                opt.noEndPoints |= isWord(words[k], "noendpts");
            }
    if (hasValue(args, 3) && !std::isnan(args.realData(3)[0])) opt.spacing = args.realData(3)[0];

    // At most every other sample is a peak. Reserving (up to a bound) costs
    // only address space until written, and spares noisy data the copies of
    // a growing vector.
    std::vector<FoundPeak> found;
    found.reserve(size_t(std::min<int64_t>(n / 2 + 2, int64_t(1) << 22)));
    PeakFinder<Lower>(opt, found).run(x, y, n);
    if (found.empty()) return FuncOk;
    if (!opt.keepFoundOrder)
        // Stable, so equal values stay in the order found.
        std::stable_sort(found.begin(), found.end(),
                         [](const FoundPeak& a, const FoundPeak& b) { return beats<Lower>(a.y, b.y); });

    const int64_t k = int64_t(found.size());
    double* outY = result.makeReal(k, AllocSingle, -1);
    double* outX = result.makeRealRef(k, AllocSingle, -1);
    for (int64_t i = 0; i < k; ++i) {
        outY[i] = found[size_t(i)].y;
        outX[i] = found[size_t(i)].x;
    }
    result.setPhysType(args.physType(0));
    result.setRefPhysType(args.refPhysType(0));
    result.setRefName(args.refName(0));
    return FuncOk;
}

template <bool Lower>
FUNC_ERROR peaksHandler(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                        const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = peaks<Lower>(args.funcArgs(), result->funcResult(), *messages);
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- Maximum / Minimum

// Index of the first extreme non-NaN value of y[lo, hi), or -1. Blocks keep
// the inner loop a plain reduction over cache-resident data; the index is
// looked up only in a block that improves on the extreme so far, and there
// the first sample equal to the block's extreme is the first that beat it.
template <bool Lower>
int64_t extremeIndex(const double* y, int64_t lo, int64_t hi) {
    int64_t i = lo;
    while (i < hi && std::isnan(y[i])) ++i;
    if (i >= hi) return -1;
    int64_t best = i;
    double extreme = y[i++];
    constexpr int64_t kBlock = 1024;
    while (i < hi) {
        const int64_t end = std::min(hi, i + kBlock);
        double m0 = extreme, m1 = extreme, m2 = extreme, m3 = extreme;
        int64_t k = i;
        for (; k + 4 <= end; k += 4) {
            m0 = beats<Lower>(y[k], m0) ? y[k] : m0;
            m1 = beats<Lower>(y[k + 1], m1) ? y[k + 1] : m1;
            m2 = beats<Lower>(y[k + 2], m2) ? y[k + 2] : m2;
            m3 = beats<Lower>(y[k + 3], m3) ? y[k + 3] : m3;
        }
        for (; k < end; ++k) m0 = beats<Lower>(y[k], m0) ? y[k] : m0;
        m0 = beats<Lower>(m1, m0) ? m1 : m0;
        m2 = beats<Lower>(m3, m2) ? m3 : m2;
        m0 = beats<Lower>(m2, m0) ? m2 : m0;
        if (beats<Lower>(m0, extreme)) {
            for (k = i; y[k] != m0; ++k) {
            }
            best = k;
            extreme = m0;
        }
        i = end;
    }
    return best;
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
FUNC_ERROR extreme(const FuncArgs& args, FuncResult& result) {
    const double start = hasValue(args, 1) ? args.realData(1)[0] : NAN;
    const double end = hasValue(args, 2) ? args.realData(2)[0] : NAN;
    const bool complexData = args.type(0) == VD_Complex;
    const double* realX = args.refData(0);
    const cplx* complexX = args.complexRefData(0);
    const bool hasRef = realX || complexX;
    const int64_t n = hasRef ? pointsWithX(args, 0) : args.length(0);

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
    *result.makeReal(1, AllocSingle, -1) = value;
    if (hasRef) {
        *result.makeRealRef(1, AllocSingle, -1) = at;
        result.setRefPhysType(args.refPhysType(0));
        result.setRefName(args.refName(0));
    }
    result.setPhysType(args.physType(0));
    return FuncOk;
}

template <bool Lower>
FUNC_ERROR extremeHandler(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                          const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = extreme<Lower>(args.funcArgs(), result->funcResult());
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- Locate

// Index i with v[i] <= value < v[i + 1] in rising data (v[i] >= value >
// v[i + 1] in falling data); -1 before the first value, n - 1 at or beyond
// the last. An empty vector or a NaN value has no position.
FUNC_ERROR locate(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                  const ScpParseContext&, const FunctionRunTime&) {
    const double* v = args.realData(0);
    const int64_t n = args.length(0);
    if (!v || n == 0 || !hasValue(args, 1) || std::isnan(args.realData(1)[0])) {
        result->finish();
        return FuncOk;
    }
    const double value = args.realData(1)[0];
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
    *result->makeRealScalar() = double(at);
    result->finish();
    return FuncOk;
}

// ---------------------------------------------------------------- Ones / Zeros

template <int Wanted>
FUNC_ERROR allEqual(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                    const ScpParseContext&, const FunctionRunTime&) {
    const double* v = args.realData(0);
    const int64_t n = v ? args.funcArgs().totalLength(0) : 0;
    // Counting mismatches keeps the loop free of early exits (and vectorised);
    // a NaN is never equal, so it counts as one.
    int64_t mismatches = 0;
    for (int64_t i = 0; i < n; ++i) mismatches += v[i] != double(Wanted);
    *result->makeBoolScalar() = mismatches == 0;
    result->finish();
    return FuncOk;
}

const FunctionOption kNoOptions{};

// clang-format off
FuncConstruct registrations[] = {
    {"Maxima",  {4, 4, 1, 4}, {1}, 1, 4, peaksHandler<false>,   "", PyVector, kNoOptions},
    {"Minima",  {4, 4, 1, 4}, {1}, 1, 4, peaksHandler<true>,    "", PyVector, kNoOptions},
    {"Locate",  {4, 4},       {},  2, 2, locate,                "", PyReal2,  kNoOptions},
    {"Maximum", {0, 4, 4},    {4}, 1, 3, extremeHandler<false>, "", PyReal,   kNoOptions},
    {"Minimum", {0, 4, 4},    {4}, 1, 3, extremeHandler<true>,  "", PyReal,   kNoOptions},
    {"Ones",    {4},          {},  1, 1, allEqual<1>,           "", PyBool,   kNoOptions},
    {"Zeros",   {4},          {},  1, 1, allEqual<0>,           "", PyBool,   kNoOptions},
};
// clang-format on

}  // namespace
