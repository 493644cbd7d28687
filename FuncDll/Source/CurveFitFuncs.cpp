// How far apart two waveforms are over the x-range they share: a normalised
// integral of the squared difference on linear or logarithmic scales, or the
// difference itself as a waveform. Irregular input (no reference, x not
// strictly increasing, a logarithm of a non-positive value, no overlap) gives
// no result rather than an error: scripts use these in fitting loops.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "FuncKit.h"

namespace {

using namespace cvmod;

// ---------------------------------------------------------------- curves

// Four one-byte flags, in this order.
struct CurveFitOptions {
    bool logY;
    bool logX;
    bool normalise;
    bool plot;
};

struct Curve {
    const double* x = nullptr;
    const double* y = nullptr;
    int64_t n = 0;
    std::vector<double> logX, logY;  // transformed values when a logarithmic scale is asked for
    int64_t first = 0, last = 0;     // the points that span the shared range
};

// A curve needs an x-value for every value.
bool readCurve(const FuncArgs& a, int i, Curve& c) {
    const Wave w = waveOf(a, i);
    if (!w.x || !w.y || w.n < 2 || w.n < a.length(i)) return false;
    c.x = w.x;
    c.y = w.y;
    c.n = w.n;
    for (int64_t k = 1; k < c.n; ++k)
        if (!(c.x[k] > c.x[k - 1])) return false;
    return true;
}

bool allPositive(const double* v, int64_t n) {
    for (int64_t k = 0; k < n; ++k)
        if (!(v[k] > 0.0)) return false;
    return true;
}

const double* toLog10(const double* v, int64_t n, std::vector<double>& out) {
    out.resize(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) out[static_cast<size_t>(k)] = std::log10(v[k]);
    return out.data();
}

// Linear interpolation on the segment that starts at point k.
double interpolate(const Curve& c, int64_t k, double at) {
    return c.y[k] + (c.y[k + 1] - c.y[k]) * (at - c.x[k]) / (c.x[k + 1] - c.x[k]);
}

// first: x[first] <= lo < x[first + 1]; last: x[last - 1] < hi <= x[last].
// The caller guarantees x[0] <= lo < hi <= x[n - 1].
void spanRange(Curve& c, double lo, double hi) {
    c.first = std::upper_bound(c.x, c.x + c.n, lo) - c.x - 1;
    c.last = std::lower_bound(c.x, c.x + c.n, hi) - c.x;
}

template <CurveFitOptions opts>
FUNC_ERROR curveFit(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    Curve ca, cb;
    if (!readCurve(a, 0, ca) || !readCurve(a, 1, cb)) return FuncOk;
    if (opts.logY && !(allPositive(ca.y, ca.n) && allPositive(cb.y, cb.n))) return FuncOk;
    if (opts.logX && !(allPositive(ca.x, ca.n) && allPositive(cb.x, cb.n))) return FuncOk;
    for (Curve* c : {&ca, &cb}) {
        if (opts.logY) c->y = toLog10(c->y, c->n, c->logY);
        if (opts.logX) c->x = toLog10(c->x, c->n, c->logX);
    }

    const double lo = std::max(ca.x[0], cb.x[0]);
    const double hi = std::min(ca.x[ca.n - 1], cb.x[cb.n - 1]);
    if (!(hi > lo)) return FuncOk;
    spanRange(ca, lo, hi);
    spanRange(cb, lo, hi);

    // The grid is the curve named by the third argument, or the one with fewer
    // points in the shared range.
    const char* const choice = stringOr(a, 2, nullptr);
    bool gridIsB = cb.last - cb.first < ca.last - ca.first;
    if (choice && sameWord(choice, "arg2")) gridIsB = true;
    else if (choice && sameWord(choice, "arg1")) gridIsB = false;
    const Curve& grid = gridIsB ? cb : ca;
    const Curve& other = gridIsB ? ca : cb;

    // The grid curve's points over the shared range, its ends moved onto the
    // range limits when they lie outside.
    const int64_t m = grid.last - grid.first + 1;
    std::vector<double> X(grid.x + grid.first, grid.x + grid.last + 1);
    std::vector<double> Y(grid.y + grid.first, grid.y + grid.last + 1);
    if (X.front() < lo) {
        X.front() = lo;
        Y.front() = interpolate(grid, grid.first, lo);
    }
    if (X.back() > hi) {
        X.back() = hi;
        Y.back() = interpolate(grid, grid.last - 1, hi);
    }

    // The other curve on the grid, found by one forward walk.
    std::vector<double> D(static_cast<size_t>(m));
    int64_t p = 0;
    for (int64_t k = 0; k < m; ++k) {
        const double xk = X[size_t(k)];
        while (p + 1 < other.n && other.x[p + 1] <= xk) ++p;
        double v = 0.0;
        if (other.x[p] == xk) v = other.y[p];
        else if (p + 1 < other.n && other.x[p] < xk && xk < other.x[p + 1]) v = interpolate(other, p, xk);
        D[size_t(k)] = v - Y[size_t(k)];
    }

    if (opts.plot) {
        setReals(r, D.data(), m);
        std::copy(X.begin(), X.end(), r.makeRealRefVector(m));
        r.setPhysType(PhysType::same(a.physType(0), a.physType(1)));
        r.setRefPhysType(PhysType::same(a.refPhysType(0), a.refPhysType(1)));
        return FuncOk;
    }

    double e = 0.0, own = 0.0, compared = 0.0;
    for (size_t k = 0; k + 1 < size_t(m); ++k) {
        const double dx = X[k + 1] - X[k];
        const double v0 = Y[k] + D[k], v1 = Y[k + 1] + D[k + 1];
        e += (D[k + 1] * D[k + 1] + D[k] * D[k]) * dx;
        own += (Y[k + 1] * Y[k + 1] + Y[k] * Y[k]) * dx;
        compared += (v1 * v1 + v0 * v0) * dx;
    }
    double norm = opts.normalise ? 2.0 * (own + compared) : 1.0;
    if (norm == 0.0) norm = 1.0;
    setReal(r, e / norm);
    return FuncOk;
}

// clang-format off
//                                         log y  log x  normalise  plot
constexpr CurveFitOptions kLinear{         false, false, true,      false};
constexpr CurveFitOptions kLogBoth{        true,  true,  true,      false};
constexpr CurveFitOptions kLogX{           false, true,  true,      false};
constexpr CurveFitOptions kLogY{           true,  false, true,      false};
constexpr CurveFitOptions kPlot{           false, false, false,     true};

FunctionRow registrations[] = {
    {"CurveFit",     {Real, Real, String}, {}, 2, 3, handler<curveFit<kLinear>>,  "", PyVector, Plain},
    {"CurveFitLog",  {Real, Real, String}, {}, 2, 3, handler<curveFit<kLogBoth>>, "", PyVector, Plain},
    {"CurveFitLogX", {Real, Real, String}, {}, 2, 3, handler<curveFit<kLogX>>,    "", PyVector, Plain},
    {"CurveFitLogY", {Real, Real, String}, {}, 2, 3, handler<curveFit<kLogY>>,    "", PyVector, Plain},
    {"CurveFitPlot", {Real, Real, String}, {}, 2, 3, handler<curveFit<kPlot>>,    "", PyVector, Plain},
};
// clang-format on

}  // namespace
