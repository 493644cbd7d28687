// The response to a step: its two settled levels, the time and slew of its
// edges, its over- and undershoot, and when it settles.
//
// Levels (the histogram method): the values split at mid = (min + max) / 2;
// the top level is the mode of the upper half [mid, max], the base level the
// mode of the lower half [min, mid].
//   - The histogram counts time, not samples: each bin holds the time the
//     linear interpolant between the samples spends inside it (a segment from
//     y0 to y1 over dt spreads dt evenly over [y0, y1]; a flat one puts all
//     of dt at its value). Simulators take short steps on edges and long ones
//     where nothing moves, so counting samples would weigh the edges; the
//     time spent at a level is what makes it a level. A segment next to a
//     NaN value, or of no time (a jump at one x), adds nothing.
//   - 100 bins over the half, then the modal bin and its two neighbours are
//     histogrammed again in 9999 bins, until a bin is narrower than 1e-9 of
//     the swing; the level is the time-weighted mean of the interpolant in
//     the last modal bin, or of its flat segments when it has any (a wave
//     that dwells at one value gives that value exactly). So a flat level is
//     found exactly, and so is the level a settled simulation approaches (an
//     RC or an underdamped step: the time it spends close to its final value
//     outweighs every other value at every scale), to its last samples.
//   - A half whose histogram peaks in its bin next to the midpoint has no
//     level that the wave dwells at (an exponential sampled from its first
//     instant, a triangle): its level is then its extreme, max or min.
// The swing is top - base; the edges and aberrations are read against it.
//   RiseTime   t(high) - t(low) on the n-th rising edge: an edge goes from
//              below low = base + low% * swing to above high = base + high% *
//              swing; it ends at its first rising crossing of high and starts
//              at the last rising crossing of low before that, so ringing
//              about either level makes no new edge.
//   FallTime   the same for falling edges, from above high to below low:
//              t(low) - t(high).
//   SlewRate   (high - low) / RiseTime (or FallTime), positive on both edges.
//   Overshoot  (max - top) / swing * 100,  Undershoot (base - min) / swing *
//              100: by level, whatever the direction of the step, so a falling
//              step's excursion past its final (base) level is its Undershoot.
//   SettlingTime  max(ts - start, 0), where ts is the x after which the wave
//              stays inside final +- tolerance: the linear crossing of the
//              band edge after the last sample outside (the first x when none
//              lies outside). final defaults to the last value (a settled
//              run's), start to the first x; a last value outside the band
//              never settles.
// Crossings are the host's crossing search, linear (order 1), as a
// simulator's own measurements interpolate them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Interp.h"
#include "MeasureKit.h"
#include "VecMath.h"

namespace {

using namespace measure;

// ---------------------------------------------------------------- levels

constexpr int kFirstBins = 100;   // over one half of the range
constexpr int kZoomBins = 9999;   // over the modal bin and its neighbours: 3333 per bin
constexpr double kFinest = 1e-9;  // of the swing: where zooming stops

std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

struct Extremes {
    double min, max;
};

// The smallest and largest values of a run; refused when it holds no finite
// value or an infinite one.
std::optional<Extremes> extremesOf(const FuncArgs& a, const Wave& w, MessageHandler& m) {
    const int64_t lo = cv::vecExtremeIndex(w.y, 0, w.n, true), hi = cv::vecExtremeIndex(w.y, 0, w.n, false);
    if (lo < 0) {
        refuse(m, a, 1, "wave", "holds NaN only");
        return std::nullopt;
    }
    for (int64_t k : {lo, hi})
        if (std::isinf(w.y[k])) {
            refuse(m, a, 1, "wave", "has an infinite value at x = " + num(w.x[k]));
            return std::nullopt;
        }
    // Bins of a swing that overflows, or of a few denormals, are not numbers.
    const double swing = w.y[hi] - w.y[lo];
    if (std::isinf(swing) || (swing > 0 && swing < 1e-290)) {
        refuse(m, a, 1, "wave",
               "has a swing (max - min) of " + num(swing) + ", too " + (swing > 1 ? "large" : "small") + " to bin");
        return std::nullopt;
    }
    if (!(w.x[w.n - 1] > w.x[0])) {
        refuse(m, a, 1, "wave", "spans no time: its x-values are all " + num(w.x[0]));
        return std::nullopt;
    }
    return Extremes{w.y[lo], w.y[hi]};
}

// Time of the interpolant in each of the bins of [lo, hi], and the first
// moment (about lo) of its sloped segments. A segment's full bins are added
// through a difference array of its density dt/dy, so each segment costs the
// same however many bins it spans.
struct Histogram {
    double lo, width;
    std::vector<double> time, moment;
    // The flat segments alone: their time, their values' time-weighted sum
    // and their range, so that a dwell at one value gives that value exactly.
    std::vector<double> flatTime, flatSum, flatMin, flatMax;
};

Histogram timeHistogram(const Wave& w, double lo, double hi, int bins) {
    const std::vector<double> zeros(size_t(bins), 0.0), above(size_t(bins), INFINITY), below(size_t(bins), -INFINITY);
    Histogram h{lo, (hi - lo) / bins, zeros, zeros, zeros, zeros, above, below};
    std::vector<double> density(size_t(bins) + 1);
    const double width = h.width;
    const double perBin = bins / (hi - lo);
    // Compared before the conversion: a swing of a few denormals makes
    // perBin infinite, and 0 * inf is NaN.
    auto binOf = [&](double v) {
        const double t = (v - lo) * perBin;
        return t >= 1.0 ? std::min(int(std::min(t, double(bins))), bins - 1) : 0;
    };
    // The part [p, q] (about lo) of bin j, at density rho.
    auto piece = [&](int j, double p, double q, double rho) {
        h.time[size_t(j)] += rho * (q - p);
        h.moment[size_t(j)] += rho * (q - p) * 0.5 * (p + q);
    };
    for (int64_t k = 0; k + 1 < w.n; ++k) {
        const double dt = w.x[k + 1] - w.x[k], y0 = w.y[k], y1 = w.y[k + 1];
        if (!(dt > 0) || std::isnan(y0) || std::isnan(y1)) continue;
        const double u = std::min(y0, y1), v = std::max(y0, y1);
        if (v < lo || u > hi) continue;
        if (u == v) {
            const int j = binOf(u);
            h.flatTime[size_t(j)] += dt;
            h.flatSum[size_t(j)] += dt * u;
            h.flatMin[size_t(j)] = std::min(h.flatMin[size_t(j)], u);
            h.flatMax[size_t(j)] = std::max(h.flatMax[size_t(j)], u);
            continue;
        }
        const double cu = std::max(u, lo), cv = std::min(v, hi), rho = dt / (v - u);
        if (!(cu < cv)) continue;
        const int ju = binOf(cu), jv = binOf(cv);
        if (ju == jv) {
            piece(ju, cu - lo, cv - lo, rho);
            continue;
        }
        piece(ju, cu - lo, (ju + 1) * width, rho);
        piece(jv, jv * width, cv - lo, rho);
        density[size_t(ju) + 1] += rho;
        density[size_t(jv)] -= rho;
    }
    double rho = 0.0;
    for (int j = 0; j < bins; ++j) {
        rho += density[size_t(j)];
        h.time[size_t(j)] += rho * width + h.flatTime[size_t(j)];
        h.moment[size_t(j)] += rho * width * (j + 0.5) * width;
    }
    return h;
}

// Where the wave dwells flat in bin j, that is its level: the value itself
// when it dwells at one value, else the time-weighted mean of its dwells.
double dwellIn(const Histogram& h, size_t j) {
    return h.flatMin[j] == h.flatMax[j] ? h.flatMin[j] : h.flatSum[j] / h.flatTime[j];
}

int modalBin(const Histogram& h, int from, int to) {
    return int(std::max_element(h.time.begin() + from, h.time.begin() + to) - h.time.begin());
}

// The histogram of both halves at once: kFirstBins bins each, the upper half
// from bin kFirstBins on.
Histogram firstHistogram(const Wave& w, const Extremes& e) {
    return timeHistogram(w, e.min, e.max, 2 * kFirstBins);
}

// The level of the upper (or lower) half from the first histogram, zoomed in
// from its modal bin; nullopt when the wave spends no time there (its values
// beyond the midpoint are jumps at one x).
std::optional<double> levelOf(const Wave& w, const Extremes& e, const Histogram& first, bool upper) {
    const double swing = e.max - e.min;
    if (swing == 0.0) return e.max;
    int from = upper ? kFirstBins : 0, to = from + kFirstBins;
    int j = modalBin(first, from, to);
    if (!(first.time[size_t(j)] > 0)) return std::nullopt;
    if (j == (upper ? from : to - 1)) return upper ? e.max : e.min;
    // Each pass narrows the bins 3333-fold: two reach the finest; the bound
    // only guards against rounding.
    Histogram h = first;
    for (int pass = 0;; ++pass) {
        const double level =
            h.flatTime[size_t(j)] > 0 ? dwellIn(h, size_t(j)) : h.lo + h.moment[size_t(j)] / h.time[size_t(j)];
        // A dwell at one value that holds most of the bin's time holds more
        // than any part of the bin could take from it: it stays the mode at
        // every finer scale.
        if (h.flatMin[size_t(j)] == h.flatMax[size_t(j)] && 2 * h.flatTime[size_t(j)] > h.time[size_t(j)])
            return h.flatMin[size_t(j)];
        const double lo = h.lo + std::max(j - 1, from) * h.width, hi = h.lo + std::min(j + 2, to) * h.width;
        // Rounding would make the bins uneven below a few ulps of the values.
        const double ulps = 16 * std::numeric_limits<double>::epsilon() * std::max(std::abs(lo), std::abs(hi));
        if (h.width <= kFinest * swing || h.width <= ulps || pass == 8) return std::clamp(level, e.min, e.max);
        h = timeHistogram(w, lo, hi, kZoomBins);
        from = 0;
        to = kZoomBins;
        j = modalBin(h, from, to);
        // The window holds the last modal bin, so it holds time; rounding aside.
        if (!(h.time[size_t(j)] > 0)) return std::clamp(level, e.min, e.max);
    }
}

struct Levels {
    double base, top;
    double swing() const { return top - base; }
};

std::optional<double> oneLevel(const FuncArgs& a, const Wave& w, const Extremes& e, const Histogram& first, bool upper,
                               MessageHandler& m) {
    const auto level = levelOf(w, e, first, upper);
    if (!level)
        refuse(m, a, 1, "wave",
               std::string("spends no time in its ") + (upper ? "upper" : "lower") +
                   " half: its values there are jumps at one x-value");
    return level;
}

// Both levels of a wave that has a swing; refused when it is flat.
std::optional<Levels> levelsOf(const FuncArgs& a, const Wave& w, const Extremes& e, MessageHandler& m) {
    const Histogram first = firstHistogram(w, e);
    const auto base = oneLevel(a, w, e, first, false, m);
    if (!base) return std::nullopt;
    const auto top = oneLevel(a, w, e, first, true, m);
    if (!top) return std::nullopt;
    if (!(*top > *base)) {
        refuse(m, a, 1, "wave", "is flat at " + num(*top) + ": it has no step to measure");
        return std::nullopt;
    }
    return Levels{*base, *top};
}

// ---------------------------------------------------------------- edges

// The x-values where the wave crosses `level` in `direction`, in order.
std::vector<double> crossings(const Wave& w, double level, int direction) {
    YList<double> found;
    YList<int64_t> indices;
    const InterpOpts opts{true, false, false, false, 1, direction, 0.0};
    support_FindYFromX(found, indices, w.x, w.y, w.n, level, opts);
    std::vector<double> t(size_t(found.count()));
    cv::copyFindsInOrder(found, t.data());
    return t;
}

struct Edge {
    double start, end;  // the crossings of the near and the far level
};

// Every edge from beyond `near` to beyond `far` in `direction` (1 rising, -1
// falling): each crossing of `far` closes an edge with the last crossing of
// `near` before it, unless no crossing of `near` came since the last edge
// (the wave rang about `far` without going back past `near`).
std::vector<Edge> edgesOf(const Wave& w, double near, double far, int direction) {
    const std::vector<double> from = crossings(w, near, direction), to = crossings(w, far, direction);
    std::vector<Edge> edges;
    size_t i = 0;
    for (double t : to) {
        while (i < from.size() && from[i] <= t) ++i;
        if (i == 0 || (!edges.empty() && from[i - 1] <= edges.back().end)) continue;
        edges.push_back({from[i - 1], t});
    }
    return edges;
}

// The optional argument i, or `fallback` when it is not given; refused when
// given but NaN.
std::optional<double> optionalLevel(const FuncArgs& a, int i, const char* name, MessageHandler& m, double fallback) {
    return given(a, i) ? levelArg(a, i, name, m) : std::optional<double>(fallback);
}

struct EdgeRequest {
    double low = 10, high = 90;  // % of the swing
    int64_t n = 1;               // from 1; negative from the last edge
};

// low (argument i), high (i + 1) and n (i + 2).
std::optional<EdgeRequest> edgeRequest(const FuncArgs& a, int i, MessageHandler& m) {
    EdgeRequest q;
    const auto low = optionalLevel(a, i, "low", m, q.low);
    if (!low) return std::nullopt;
    const auto high = optionalLevel(a, i + 1, "high", m, q.high);
    if (!high) return std::nullopt;
    const auto n = optionalLevel(a, i + 2, "n", m, 1.0);
    if (!n) return std::nullopt;
    for (int k : {i, i + 1}) {
        const double v = k == i ? *low : *high;
        if (v < 0 || v > 100) {
            refuse(m, a, k + 1, k == i ? "low" : "high",
                   "is " + num(v) + ": it must lie between 0 and 100 (% of the swing)");
            return std::nullopt;
        }
    }
    if (!(*low < *high)) {
        refuse(m, a, i + 2, "high", "must lie above low (" + num(*low) + " %)");
        return std::nullopt;
    }
    if (!exactInt(*n, q.n) || double(q.n) != *n || q.n == 0) {
        refuse(m, a, i + 3, "n",
               "is " + num(*n) + ": it must be a whole number, 1 for the first edge, -1 for the last");
        return std::nullopt;
    }
    q.low = *low;
    q.high = *high;
    return q;
}

// The requested edge of a wave, with the levels it was measured at.
struct MeasuredEdge {
    Edge edge;
    double lowLevel, highLevel;
};

std::optional<MeasuredEdge> measureEdge(const FuncArgs& a, const Wave& w, const EdgeRequest& q, bool rising,
                                        MessageHandler& m) {
    const auto e = extremesOf(a, w, m);
    if (!e) return std::nullopt;
    const auto lv = levelsOf(a, w, *e, m);
    if (!lv) return std::nullopt;
    const double low = lv->base + q.low / 100 * lv->swing(), high = lv->base + q.high / 100 * lv->swing();
    const std::vector<Edge> edges = rising ? edgesOf(w, low, high, 1) : edgesOf(w, high, low, -1);
    const int64_t count = int64_t(edges.size());
    const std::string span = std::string(rising ? "rises" : "falls") + " from " + num(rising ? q.low : q.high) +
                             " % to " + num(rising ? q.high : q.low) + " % of its swing (base " + num(lv->base) +
                             ", top " + num(lv->top) + ")";
    if (count == 0) {
        refuse(m, a, 1, "wave", "never " + span);
        return std::nullopt;
    }
    if (q.n > count || q.n < -count) {
        refuse(m, a, 1, "wave",
               span + (count == 1 ? " once" : " " + std::to_string(count) + " times") + "; edge n = " +
                   std::to_string(q.n) + " does not exist");
        return std::nullopt;
    }
    const Edge edge = edges[size_t(q.n > 0 ? q.n - 1 : count + q.n)];
    return MeasuredEdge{edge, low, high};
}

// ---------------------------------------------------------------- workers

template <bool upper>
FUNC_ERROR stateLevel(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto e = extremesOf(a, *w, m);
    if (!e) return FuncFailed;
    const auto level = oneLevel(a, *w, *e, firstHistogram(*w, *e), upper, m);
    if (!level) return FuncFailed;
    setMeasured(r, *level, a.physType(0));
    return FuncOk;
}

template <bool rising>
FUNC_ERROR edgeTime(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto q = edgeRequest(a, 1, m);
    if (!q) return FuncFailed;
    const auto e = measureEdge(a, *w, *q, rising, m);
    if (!e) return FuncFailed;
    setMeasured(r, e->edge.end - e->edge.start, a.refPhysType(0));
    return FuncOk;
}

FUNC_ERROR slewRate(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto q = edgeRequest(a, 1, m);
    if (!q) return FuncFailed;
    const int rising = wordOf(a, 4, {"fall", "rise"}, 1, -1);
    if (rising < 0) return refuse(m, a, 5, "edge", "must be 'rise' or 'fall'");
    const auto e = measureEdge(a, *w, *q, rising == 1, m);
    if (!e) return FuncFailed;
    const double dt = e->edge.end - e->edge.start;
    if (!(dt > 0))
        return refuse(m, a, 1, "wave",
                      "jumps across the edge at x = " + num(e->edge.end) + ": its slew rate is infinite");
    setMeasured(r, (e->highLevel - e->lowLevel) / dt, PhysType::div(a.physType(0), a.refPhysType(0)));
    return FuncOk;
}

template <bool over>
FUNC_ERROR aberration(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto e = extremesOf(a, *w, m);
    if (!e) return FuncFailed;
    const auto lv = levelsOf(a, *w, *e, m);
    if (!lv) return FuncFailed;
    setMeasured(r, (over ? e->max - lv->top : lv->base - e->min) / lv->swing() * 100, PhysType::None);
    return FuncOk;
}

FUNC_ERROR settlingTime(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto tol = levelArg(a, 1, "tolerance", m);
    if (!tol) return FuncFailed;
    if (!(*tol > 0))
        return refuse(m, a, 2, "tolerance", "is " + num(*tol) + ": it must be positive (the band's half-width)");
    const double* y = w->y;
    const double* x = w->x;
    int64_t last = w->n - 1;
    while (last >= 0 && std::isnan(y[last])) --last;
    if (last < 0) return refuse(m, a, 1, "wave", "holds NaN only");
    const auto final = optionalLevel(a, 2, "final", m, y[last]);
    if (!final) return FuncFailed;
    const auto start = optionalLevel(a, 3, "start", m, x[0]);
    if (!start) return FuncFailed;
    if (*start > x[w->n - 1])
        return refuse(m, a, 4, "start", "is " + num(*start) + ": it lies beyond the wave's last x-value " +
                                            num(x[w->n - 1]));
    auto outside = [&](double v) { return std::abs(v - *final) > *tol; };
    if (outside(y[last]))
        return refuse(m, a, 1, "wave",
                      "never settles: its last value " + num(y[last]) + " (at x = " + num(x[last]) +
                          ") lies outside " + num(*final) + " +- " + num(*tol));
    // Back from the end to the last sample outside the band; `inside` is the
    // first sample with a value after it.
    int64_t k = last, inside = last;
    for (; k >= 0; --k) {
        if (std::isnan(y[k])) continue;
        if (outside(y[k])) break;
        inside = k;
    }
    double settled = x[0];
    if (k >= 0) {
        const double edge = y[k] > *final ? *final + *tol : *final - *tol;
        const Wave segment{y + k, x + k, inside - k + 1};
        const std::vector<double> t = crossings(segment, edge, 0);
        settled = t.empty() ? x[inside] : t.front();
    }
    setMeasured(r, std::max(settled - *start, 0.0), a.refPhysType(0));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"TopLevel",     {Real},                            {Statistic}, 1, 1, handler<stateLevel<true>>,   "", PyReal, Plain, Pure},
    {"BaseLevel",    {Real},                            {Statistic}, 1, 1, handler<stateLevel<false>>,  "", PyReal, Plain, Pure},
    {"RiseTime",     {Real, Real, Real, Real},          {Statistic}, 1, 4, handler<edgeTime<true>>,     "", PyReal, Plain, Pure},
    {"FallTime",     {Real, Real, Real, Real},          {Statistic}, 1, 4, handler<edgeTime<false>>,    "", PyReal, Plain, Pure},
    {"SlewRate",     {Real, Real, Real, Real, String},  {Statistic}, 1, 5, handler<slewRate>,           "", PyReal, Plain, Pure},
    {"Overshoot",    {Real},                            {Statistic}, 1, 1, handler<aberration<true>>,   "", PyReal, Plain, Pure},
    {"Undershoot",   {Real},                            {Statistic}, 1, 1, handler<aberration<false>>,  "", PyReal, Plain, Pure},
    {"SettlingTime", {Real, Real, Real, Real},          {Statistic}, 2, 4, handler<settlingTime>,       "", PyReal, Plain, Pure},
};
// clang-format on

}  // namespace
