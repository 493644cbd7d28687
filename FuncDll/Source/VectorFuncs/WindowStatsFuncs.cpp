// Integral statistics of waveforms over an x-window: the mean (Mean1), the
// RMS about zero (RMS1) and about the mean (RMS1_AC), the root of the
// integral of the square (RootSumOfSquares, SumNoise), and the running RMS
// from the first point (Rms).
#include <algorithm>
#include <cmath>

#include "../FuncKit.h"
#include "Interp.h"
#include "VecMath.h"

namespace {

using namespace cvmod;

const InterpOpts kEdgeSearch{false, false, false, false, 2, 0, 0.0};

// ---------------------------------------------------------------- segment sums

// The integrand of one linear segment from (xa, ya) to (xb, yb), without its
// constant factor (applied once to the whole sum); `kind` names the same term
// for the host's vectorised segment sum.
struct TrapezoidTerm {  // times 1/2: the integral of y
    double operator()(double xa, double ya, double xb, double yb) const { return (ya + yb) * (xb - xa); }
    static constexpr double kFactor = 0.5;
    static constexpr SegmentTerm kind = SegmentTerm::Trapezoid;
    double level = 0.0;
};
struct SquareTerm {  // times 1/3: the integral of (y - level)^2
    double level;
    double operator()(double xa, double ya, double xb, double yb) const {
        const double u = ya - level, w = yb - level;
        return (u * u + u * w + w * w) * (xb - xa);
    }
    static constexpr double kFactor = 1.0 / 3.0;
    static constexpr SegmentTerm kind = SegmentTerm::Square;
};

// Sum of term over the segments (k, k + 1), k in [a, b), in four fixed lanes
// (the same bits whatever the processor); `falling` collects whether any
// step of x is negative or NaN.
template <class Term>
double sumSegments(const double* x, const double* y, int64_t a, int64_t b, Term term, bool& falling) {
    return cv::vecSegmentSum(Term::kind, x, y, a, b, term.level, &falling);
}

// True when x[a ... b] never falls (and holds no NaN).
bool risesThrough(const double* x, int64_t a, int64_t b) {
    int bad = 0;
    for (int64_t k = a; k < b; ++k) bad |= !(x[k + 1] >= x[k]);
    return !bad;
}

// ---------------------------------------------------------------- the window

enum WindowCode { WindowOk = 0, WindowOutOfRange = 1, WindowFailed = 2, WindowNotMonotonic = 3 };

// The window as integrated: from the left edge through the samples
// first ... last to the right edge.
struct Window {
    double leftX, leftY, rightX, rightY;
    int64_t first, last;
};

class WindowLocator {
public:
    WindowLocator(const double* x, const double* y, int64_t n) : x_(x), y_(y), n_(n) {}

    // Locates the window [start, end] (NaN: absent) with the host's crossing
    // search: the sum begins at the sample after the index of the start's
    // find and stops at the index of the end's find. `rising` takes the
    // shortcut that is exact for x that never falls: bisection, and the search
    // run on the few points around the edge only.
    WindowCode locate(double start, double end, bool rising, Window& w) const {
        w = {x_[0], y_[0], x_[n_ - 1], y_[n_ - 1], 1, n_ - 2};
        int64_t index;
        if (!std::isnan(start)) {
            const double xs = std::max(x_[0], start);
            if (WindowCode rc = edge(xs, rising, w.leftY, index)) return rc;
            w.leftX = xs;
            w.first = index + 1;
        }
        if (!std::isnan(end)) {
            if (WindowCode rc = edge(end, rising, w.rightY, index)) return rc;
            w.rightX = end;
            w.last = index;
        }
        return WindowOk;
    }

private:
    WindowCode edge(double target, bool rising, double& value, int64_t& index) const {
        YList<double> found;
        YList<int64_t> indices;
        if (!rising) {
            support_FindYFromX(found, indices, y_, x_, n_, target, kEdgeSearch);
        } else if (target >= x_[0] && target <= x_[n_ - 1]) {
            // First sample at or beyond the target; an exact hit (the first of
            // a run of equal x) is the find itself, with its own value.
            int64_t lo = 0, hi = n_ - 1;
            while (lo < hi) {
                int64_t mid = lo + (hi - lo) / 2;
                if (x_[mid] < target)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            if (x_[lo] == target) {
                found.insertAtFront(y_[lo]);
                indices.insertAtFront(lo);
            } else {
                // Inside segment (lo - 1, lo). The order-2 window of the full
                // search is that segment and the point after it, shifted back
                // at the end of the data: searching just those points gives
                // the same value.
                const int64_t left = lo - 1;
                const int64_t from = n_ >= 3 ? std::min(left, n_ - 3) : 0;
                support_FindYFromX(found, indices, y_ + from, x_ + from, std::min<int64_t>(3, n_), target,
                                   kEdgeSearch);
                if (!indices.empty()) indices.first() = left;
            }
        }
        if (found.empty()) return WindowOutOfRange;
        if (found.size() > 1) return WindowNotMonotonic;
        value = found.first();
        index = indices.first();
        return WindowOk;
    }

    const double* x_;
    const double* y_;
    int64_t n_;
};

// The integral of the term over the window. Steps of x inside the sum that
// fall (or are NaN) are reported through `falling`.
template <class Term>
double integrate(const double* x, const double* y, const Window& w, Term term, bool& falling) {
    if (w.first > w.last) return Term::kFactor * term(w.leftX, w.leftY, w.rightX, w.rightY);
    double sum = term(w.leftX, w.leftY, x[w.first], y[w.first]);
    sum += sumSegments(x, y, w.first, w.last, term, falling);
    sum += term(x[w.last], y[w.last], w.rightX, w.rightY);
    return Term::kFactor * sum;
}

enum class Measure { Square, Mean, SquareAboutMean };

struct WindowResult {
    double integral = 0, span = 0;
    double edgeMean = 0;  // the mean of a window of no width: its one value
};

WindowCode measureWindow(const double* x, const double* y, int64_t n, double start, double end, Measure measure,
                         bool rising, WindowResult& out, bool& falling) {
    Window w;
    WindowLocator locator(x, y, n);
    if (WindowCode rc = locator.locate(start, end, rising, w)) {
        if (rising && !risesThrough(x, 0, n - 1)) falling = true;
        return rc;
    }
    if (rising) {
        // The sum checks its own steps; the rest of the data is checked here.
        if (w.first <= w.last)
            falling = !risesThrough(x, 0, w.first) || !risesThrough(x, w.last, n - 1);
        else
            falling = !risesThrough(x, 0, n - 1);
    }
    out.span = w.rightX - w.leftX;
    out.edgeMean = 0.5 * (w.leftY + w.rightY);
    if (measure == Measure::Square) {
        out.integral = integrate(x, y, w, SquareTerm{0.0}, falling);
        return WindowOk;
    }
    out.integral = integrate(x, y, w, TrapezoidTerm{}, falling);
    if (measure == Measure::SquareAboutMean) {
        bool ignored = false;
        const double level = out.span != 0 ? out.integral / out.span : 0.0;
        out.integral = integrate(x, y, w, SquareTerm{level}, ignored);
    }
    return WindowOk;
}

const char* const kStartAfterEnd = "Start is after end in '%s' function";
const char* const kEmptyWindow = "Start and end are identical in '%s' function";
const char* const kNonMonotonic = "Argument to '%s' function is non-monotonic";

// A window that lies outside the data is reported, yet the call succeeds
// without a value: a statistic over many runs then collects NaN for the run
// that misses the window instead of failing for all. Every other failure
// fails the call.
WindowCode windowIntegral(const FuncArgs& args, Measure measure, MessageHandler& messages, WindowResult& out) {
    const YString name = args.functionName();
    const Wave w = waveOf(args, 0);
    if (!w.x) {
        noReference(messages, args, 1);
        return WindowFailed;
    }
    const std::optional<double> start = optionalReal(args, 1), end = optionalReal(args, 2);
    if (start && end) {
        if (*start > *end) {
            messages.error(kStartAfterEnd, name);
            return WindowFailed;
        }
        if (*start == *end) {
            messages.error(kEmptyWindow, name);
            return WindowFailed;
        }
    }
    // No point to measure, or a limit given as NaN, which is no position.
    if (w.n == 0 || (start && std::isnan(*start)) || (end && std::isnan(*end))) {
        xOutOfRange(messages, name);
        return WindowOutOfRange;
    }
    const double* x = w.x;
    const double* y = w.y;
    const int64_t n = w.n;
    const double from = start.value_or(NAN);
    // An end at or past the last point is no end (kept when that point's x is NaN).
    const double to = end && !(*end >= x[n - 1]) ? *end : NAN;

    // Simulated time never falls, so that is tried first; data that does fall
    // (or has NaN x) is measured again with the search over every point.
    bool falling = false;
    WindowCode rc = measureWindow(x, y, n, from, to, measure, true, out, falling);
    if (falling) rc = measureWindow(x, y, n, from, to, measure, false, out, falling);
    switch (rc) {
        case WindowOk: return WindowOk;
        case WindowOutOfRange: xOutOfRange(messages, name); return WindowOutOfRange;
        default: messages.error(kNonMonotonic, name); return WindowFailed;
    }
}

enum class Output { Mean, Rms, RootOfIntegral };

template <Measure M, Output O>
FUNC_ERROR windowStatistic(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    WindowResult w;
    const WindowCode rc = windowIntegral(a, M, m, w);
    if (rc == WindowOutOfRange) return FuncOk;
    if (rc != WindowOk) return FuncError;
    double value;
    PhysType type = a.physType(0);
    if constexpr (O == Output::Mean) {
        value = w.span != 0 ? w.integral / w.span : w.edgeMean;
    } else if constexpr (O == Output::Rms) {
        value = w.span != 0 ? std::sqrt(w.integral / w.span) : 0.0;
    } else {
        value = std::sqrt(w.integral);
        type = PhysType::sqrt(PhysType::mult(PhysType::mult(type, type), a.refPhysType(0)));
    }
    setReal(r, value);
    r.setPhysType(type);
    return FuncOk;
}

// ---------------------------------------------------------------- Rms

// The RMS from the first point to each point in turn. At a repeated x the
// span does not grow: the first point's x keeps its own value, later ones the
// RMS reached before the step.
FUNC_ERROR runningRms(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const Wave w = waveOf(a, 0);
    if (!w.x) return noReference(m, a, 1);
    const double* x = w.x;
    const double* y = w.y;
    const int64_t n = w.n;
    double* out = r.makeRealVector(n);
    if (n > 0) {
        out[0] = std::fabs(y[0]);
        double sum = 0;
        for (int64_t i = 1; i < n; ++i) {
            const double dx = x[i] - x[i - 1];
            if (dx == 0) {
                out[i] = x[i] == x[0] ? std::fabs(y[i]) : out[i - 1];
                continue;
            }
            sum += (y[i] * y[i] + y[i - 1] * y[i - 1] + y[i] * y[i - 1]) * dx;
            const double span = x[i] - x[0];
            // Data that comes back to its first x has no span to divide by.
            out[i] = span != 0 ? std::sqrt(sum / (3 * span)) : std::fabs(y[i]);
        }
    }
    r.setPhysType(a.physType(0));
    r.copyRefFromArgs(a, AllocLikeArg, 0);
    return FuncOk;
}

// Rows marked Pure only read their arguments: the runs of a divided call may
// be measured on several threads at once.
// clang-format off
FunctionRow registrations[] = {
    {"Mean1",            {Real, Real, Real}, {Statistic, PerDivision, PerDivision}, 1, 3, handler<windowStatistic<Measure::Mean,            Output::Mean>>,           "", PyReal,   Plain, Pure},
    {"RMS1",             {Real, Real, Real}, {Statistic, PerDivision, PerDivision}, 1, 3, handler<windowStatistic<Measure::Square,          Output::Rms>>,            "", PyReal,   Plain, Pure},
    {"RMS1_AC",          {Real, Real, Real}, {Statistic, PerDivision, PerDivision}, 1, 3, handler<windowStatistic<Measure::SquareAboutMean, Output::Rms>>,            "", PyReal,   Plain, Pure},
    {"RootSumOfSquares", {Real, Real, Real}, {Statistic, PerDivision, PerDivision}, 1, 3, handler<windowStatistic<Measure::Square,          Output::RootOfIntegral>>, "", PyReal,   Plain, Pure},
    {"SumNoise",         {Real, Real, Real}, {Statistic, PerDivision, PerDivision}, 1, 3, handler<windowStatistic<Measure::Square,          Output::RootOfIntegral>>, "", PyReal,   Plain, Pure},
    {"Rms",              {Real},             {PerDivision},                         1, 1, handler<runningRms>,                                                        "", PyVector, Plain, Pure},
};
// clang-format on

}  // namespace
