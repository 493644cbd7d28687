// Level crossings and the pulse measurements built on them, per run.
//
// Crossings come from the host's crossing search (support_FindYFromX): a
// segment whose ends lie on opposite sides of the level crosses it once, at
// the x where the line through its ends (order 1, the default) or the
// parabola through its window (order 2) reaches the level; a run of samples
// exactly at the level is one crossing, at its first sample, rising when it
// is entered from below and left above, falling the other way, and no
// crossing at all when it is entered and left on the same side (a touch).
// NaN values are passed over: the samples on either side are neighbours.
// Rising and falling crossings therefore alternate, and a definition that
// wants one direction only ever sees that one.
//
// With r_1 < r_2 < ... < r_R the rising and f_1 < ... the falling crossings:
//   Cross        the n-th crossing of the chosen edge, n = 1 first, -1 last
//   TrigTarg     Cross(w2, level2, edge2, n2) - Cross(w1, level1, edge1, n1)
//   DerivAt      dy/dx of the segment holding x; on a sample inside the data
//                (s1 h2 + s2 h1) / (h1 + h2), the derivative there of the
//                parabola through it and its two neighbours (s1, s2 the
//                slopes, h1, h2 the widths of the segments before and after);
//                on the first or last sample the slope of the end segment
//   PeakToPeak   max - min over [x1, x2], the interpolated ends included
//   PulseWidth   mean of (f_j - r_i), each rising crossing with the falling
//                one after it ('high'), or of (r_i - f_j) ('low')
//   DutyCycle    100 * sum over k = 1..K of (f_k - r_k) / (r_{K+1} - r_1),
//                over the K whole cycles from rising to rising crossing, f_k
//                the falling crossing inside cycle k
//   Frequency    K / (r_{K+1} - r_1): one over the mean period
//   PeriodJitter over the periods P_k = r_{k+1} - r_k (K of them):
//                'rms'   sqrt(sum (P_k - mean P)^2 / K), the population
//                        standard deviation: the periods measured are all
//                        there are in the run, not a sample of them
//                'pp'    max P_k - min P_k
//                'cycle' sqrt(sum over k = 1..K-1 of (P_{k+1} - P_k)^2 / (K - 1))
// The pulse measurements default to the level halfway between the run's
// smallest and largest value.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "Interp.h"
#include "MeasureKit.h"

namespace {

using namespace measure;

enum Edge { Rise = 1, Fall = -1, Either = 0 };

const char* edgeName(Edge e) { return e == Rise ? "rising " : e == Fall ? "falling " : ""; }

std::string plural(size_t count, const std::string& one) {
    return std::to_string(count) + " " + one + (count == 1 ? "" : "s");
}

// The crossings of one direction (or both) in the order of the data, with
// the index of the sample each was found at, which orders two crossings at
// the same x.
struct Crossings {
    std::vector<double> x;
    std::vector<int64_t> at;
    size_t size() const { return x.size(); }
};

Crossings search(const Wave& w, double level, int order, int direction) {
    YList<double> found;
    YList<int64_t> indices;
    support_FindYFromX(found, indices, w.x, w.y, w.n, level,
                       InterpOpts{true, false, false, false, order, direction, 0.0});
    Crossings c;
    c.x.resize(found.size());
    c.at.resize(indices.size());
    cv::copyFindsInOrder(found, c.x.data());
    // The indices come newest first, as the finds do.
    auto slot = c.at.end();
    for (int64_t i : indices) *--slot = i;
    return c;
}

// Both directions are searched apart and merged, rather than asked for at
// once: the search reports a touch when both directions are asked for, and a
// touch does not cross.
Crossings crossings(const Wave& w, double level, int order, Edge edge) {
    if (edge != Either) return search(w, level, order, edge);
    const Crossings up = search(w, level, order, Rise), down = search(w, level, order, Fall);
    Crossings c;
    c.x.reserve(up.size() + down.size());
    c.at.reserve(up.size() + down.size());
    size_t i = 0, j = 0;
    while (i < up.size() || j < down.size()) {
        const bool takeUp = j == down.size() || (i < up.size() && up.at[i] < down.at[j]);
        const Crossings& from = takeUp ? up : down;
        size_t& k = takeUp ? i : j;
        c.x.push_back(from.x[k]);
        c.at.push_back(from.at[k]);
        ++k;
    }
    return c;
}

// ---------------------------------------------------------------- arguments

// The optional interpolation order at argument i: 1 (linear) or 2.
bool orderArg(const FuncArgs& a, int i, MessageHandler& m, int& order) {
    order = 1;
    if (!given(a, i)) return true;
    const std::optional<double> v = firstReal(a, i);
    if (!v || (*v != 1.0 && *v != 2.0)) {
        refuse(m, a, i + 1, "order", "must be 1 (linear between samples) or 2 (a parabola through three samples)");
        return false;
    }
    order = int(*v);
    return true;
}

bool edgeArg(const FuncArgs& a, int i, const char* name, MessageHandler& m, Edge& edge) {
    static constexpr Edge edges[] = {Rise, Fall, Either};
    const int k = wordOf(a, i, {"rise", "fall", "either"}, 2, -1);
    if (k < 0) {
        refuse(m, a, i + 1, name, "must be 'rise', 'fall' or 'either'");
        return false;
    }
    edge = edges[k];
    return true;
}

// Which crossing: a whole number, from 1 counting from the first, from -1
// counting from the last. Kept a double: a count beyond any data is still
// refused with the number of crossings there are.
bool countArg(const FuncArgs& a, int i, const char* name, MessageHandler& m, double& n) {
    n = 1;
    if (!given(a, i)) return true;
    const std::optional<double> v = firstReal(a, i);
    if (v) n = *v;
    if (!v || !std::isfinite(n) || n != std::trunc(n)) {
        refuse(m, a, i + 1, name, "must be a whole number: 1 the first crossing, 2 the second, -1 the last");
        return false;
    }
    return true;
}

// The level at argument i, or halfway between the run's extremes.
bool levelOrMiddle(const FuncArgs& a, int i, const Wave& w, MessageHandler& m, double& level) {
    if (given(a, i)) {
        const std::optional<double> v = levelArg(a, i, "level", m);
        if (v) level = *v;
        return bool(v);
    }
    double lo = INFINITY, hi = -INFINITY;
    for (int64_t k = 0; k < w.n; ++k) {
        lo = std::min(lo, w.y[k]);  // a NaN loses both comparisons
        hi = std::max(hi, w.y[k]);
    }
    if (lo > hi) {
        refuse(m, a, 1, "wave", "holds NaN only: no level to cross");
        return false;
    }
    level = lo + (hi - lo) / 2;
    return true;
}

// The four arguments that choose one crossing, from `first` on: the wave,
// the level, the edge and the count, with the names the messages give them.
struct Chosen {
    int first;
    const char* names[4];
};

// The n-th crossing of the chosen edge of the chosen wave; the messages name
// the wave when it never crosses, and the count, with how many crossings
// there are, when there are too few.
bool chosenCrossing(const FuncArgs& a, MessageHandler& m, const Chosen& arg, int order, double& x) {
    const int i = arg.first;
    const auto w = waveArg(a, i, arg.names[0], m);
    if (!w) return false;
    const auto level = levelArg(a, i + 1, arg.names[1], m);
    if (!level) return false;
    Edge edge;
    double n;
    if (!edgeArg(a, i + 2, arg.names[2], m, edge) || !countArg(a, i + 3, arg.names[3], m, n)) return false;
    const Crossings c = crossings(*w, *level, order, edge);
    const std::string kind = std::string(edgeName(edge)) + "crossing";
    if (c.size() == 0) {
        refuse(m, a, i + 1, arg.names[0], "has no " + kind + " of level " + shown(*level));
        return false;
    }
    const double count = double(c.size());
    if (n == 0 || n > count || n < -count) {
        const std::string there =
            std::string(count == 1 ? "there is " : "there are ") + plural(c.size(), kind) + " of level " + shown(*level);
        const std::string choices = count == 1 ? "give 1 or -1"
                                               : "give 1 to " + std::to_string(c.size()) + ", or -1 to -" +
                                                     std::to_string(c.size()) + " counting back from the last";
        refuse(m, a, i + 4, arg.names[3],
               n == 0 ? "is 0, which names no crossing: " + there + "; " + choices
                      : "is " + shown(n) + ", but " + there + ": " + choices);
        return false;
    }
    x = c.x[size_t(n > 0 ? n - 1 : count + n)];
    return true;
}

// ---------------------------------------------------------------- crossings and points

FUNC_ERROR cross(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    int order;
    double x;
    if (!orderArg(a, 4, m, order) || !chosenCrossing(a, m, {0, {"wave", "level", "edge", "n"}}, order, x))
        return FuncFailed;
    setMeasured(r, x, a.refPhysType(0));
    return FuncOk;
}

FUNC_ERROR trigTarg(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    int order;
    double trig, targ;
    if (!orderArg(a, 8, m, order) || !chosenCrossing(a, m, {0, {"w1", "level1", "edge1", "n1"}}, order, trig) ||
        !chosenCrossing(a, m, {4, {"w2", "level2", "edge2", "n2"}}, order, targ))
        return FuncFailed;
    setMeasured(r, targ - trig, a.refPhysType(0));
    return FuncOk;
}

FUNC_ERROR derivAt(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto at = levelArg(a, 1, "x", m);
    if (!at) return FuncFailed;
    const double *x = w->x, *y = w->y;
    const int64_t n = w->n;
    if (*at < x[0] || *at > x[n - 1])
        return refuse(
            m, a, 2, "x",
            "is " + shown(*at) + ", outside the wave's x-range [" + shown(x[0]) + ", " + shown(x[n - 1]) + "]");
    // [lo, hi) are the samples at x exactly; none when x falls between two.
    const int64_t lo = std::lower_bound(x, x + n, *at) - x;
    const int64_t hi = std::upper_bound(x + lo, x + n, *at) - x;
    const auto nanBeside = [&] {
        return refuse(m, a, 1, "wave", "has a NaN value beside x = " + shown(*at) + ": no slope there");
    };
    double slope;
    if (lo == hi) {
        // Strictly inside the segment (lo - 1, lo).
        slope = (y[lo] - y[lo - 1]) / (x[lo] - x[lo - 1]);
        if (std::isnan(slope)) return nanBeside();
    } else {
        for (int64_t k = lo + 1; k < hi; ++k)
            if (!(y[k] == y[lo]))
                return refuse(m, a, 1, "wave",
                              "jumps at x = " + shown(*at) + " (several samples there): it has no slope there");
        const int64_t left = lo - 1, right = hi;
        if (left < 0 && right >= n) return refuse(m, a, 1, "wave", "has all its samples at one x: no slope");
        const double v = y[lo];
        if (left < 0) {
            slope = (y[right] - v) / (x[right] - *at);
        } else if (right >= n) {
            slope = (v - y[left]) / (*at - x[left]);
        } else {
            const double h1 = *at - x[left], h2 = x[right] - *at;
            const double s1 = (v - y[left]) / h1, s2 = (y[right] - v) / h2;
            slope = (s1 * h2 + s2 * h1) / (h1 + h2);
        }
        if (std::isnan(slope)) return nanBeside();
    }
    setMeasured(r, slope, PhysType::div(a.physType(0), a.refPhysType(0)));
    return FuncOk;
}

FUNC_ERROR peakToPeak(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m, 1);
    if (!w) return FuncFailed;
    const double *x = w->x, *y = w->y;
    const int64_t n = w->n;
    double x1 = x[0], x2 = x[n - 1];
    if (given(a, 1)) {
        const auto v = levelArg(a, 1, "x1", m);
        if (!v) return FuncFailed;
        x1 = *v;
    }
    if (given(a, 2)) {
        const auto v = levelArg(a, 2, "x2", m);
        if (!v) return FuncFailed;
        x2 = *v;
    }
    if (x1 > x[n - 1])
        return refuse(m, a, 2, "x1", "is " + shown(x1) + ", after the wave's last x-value " + shown(x[n - 1]));
    if (x2 < x[0]) return refuse(m, a, 3, "x2", "is " + shown(x2) + ", before the wave's first x-value " + shown(x[0]));
    if (x2 < x1) return refuse(m, a, 3, "x2", "lies before x1: the window is x1 <= x <= x2");
    // Where the window reaches beyond the data there is nothing to measure.
    x1 = std::max(x1, x[0]);
    x2 = std::min(x2, x[n - 1]);
    double lo = INFINITY, hi = -INFINITY;
    const auto take = [&](double v) {
        lo = std::min(lo, v);  // NaN loses both comparisons
        hi = std::max(hi, v);
    };
    // The line between the samples around an end that falls between two.
    const auto edgeValue = [&](double at) {
        const int64_t k = std::lower_bound(x, x + n, at) - x;
        if (x[k] != at) take(y[k - 1] + (y[k] - y[k - 1]) * ((at - x[k - 1]) / (x[k] - x[k - 1])));
    };
    edgeValue(x1);
    edgeValue(x2);
    for (int64_t k = std::lower_bound(x, x + n, x1) - x; k < n && x[k] <= x2; ++k) take(y[k]);
    if (lo > hi) return refuse(m, a, 1, "wave", "holds NaN only in the window: no peak to measure");
    setMeasured(r, hi - lo, a.physType(0));
    return FuncOk;
}

// ---------------------------------------------------------------- pulses and cycles

// The rising crossings of one run at its level (argument 1, or the middle),
// and the falling ones for the measurements that pair them.
struct Edges {
    Crossings rise, fall;
    double level = 0.0;
};

std::optional<Edges> edgesOf(const FuncArgs& a, MessageHandler& m, const Wave& w, int orderIndex, bool falling) {
    Edges e;
    int order;
    if (!levelOrMiddle(a, 1, w, m, e.level) || !orderArg(a, orderIndex, m, order)) return std::nullopt;
    e.rise = crossings(w, e.level, order, Rise);
    if (falling) e.fall = crossings(w, e.level, order, Fall);
    return e;
}

// Too few rising crossings for what needs them: says how many there are.
FUNC_ERROR tooFewRising(const FuncArgs& a, MessageHandler& m, const Edges& e, const char* need) {
    return refuse(m, a, 1, "wave",
                  "has " + plural(e.rise.size(), "rising crossing") + " of level " + shown(e.level) + ": " + need);
}

// For each crossing of `from`, the first crossing of `to` after it; the
// directions alternate, so no other crossing of `from` lies between them.
template <class Pair>
void pairUp(const Crossings& from, const Crossings& to, Pair pair) {
    size_t j = 0;
    for (size_t i = 0; i < from.size(); ++i) {
        while (j < to.size() && to.at[j] < from.at[i]) ++j;
        if (j == to.size()) return;
        pair(i, j);
    }
}

FUNC_ERROR pulseWidth(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const int polarity = wordOf(a, 2, {"high", "low"}, 0, -1);
    if (polarity < 0) return refuse(m, a, 3, "polarity", "must be 'high' or 'low'");
    const auto e = edgesOf(a, m, *w, 3, true);
    if (!e) return FuncFailed;
    const bool high = polarity == 0;
    const Crossings &start = high ? e->rise : e->fall, &end = high ? e->fall : e->rise;
    double sum = 0.0;
    size_t count = 0;
    pairUp(start, end, [&](size_t i, size_t j) {
        sum += end.x[j] - start.x[i];
        ++count;
    });
    if (count == 0)
        return refuse(m, a, 1, "wave",
                      std::string("has no complete ") + (high ? "high" : "low") + " pulse at level " + shown(e->level) +
                          " (a " + (high ? "rising" : "falling") + " crossing, then a " +
                          (high ? "falling" : "rising") + " one); it has " + std::to_string(e->rise.size()) +
                          " rising and " + plural(e->fall.size(), "falling crossing"));
    setMeasured(r, sum / double(count), a.refPhysType(0));
    return FuncOk;
}

FUNC_ERROR dutyCycle(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto e = edgesOf(a, m, *w, 2, true);
    if (!e) return FuncFailed;
    const size_t cycles = e->rise.size() < 2 ? 0 : e->rise.size() - 1;
    if (cycles == 0) return tooFewRising(a, m, *e, "a whole cycle needs 2");
    double high = 0.0;
    pairUp(e->rise, e->fall, [&](size_t i, size_t j) {
        if (i < cycles) high += e->fall.x[j] - e->rise.x[i];
    });
    const double span = e->rise.x[cycles] - e->rise.x[0];
    if (!(span > 0)) return refuse(m, a, 1, "wave", "has its whole cycles at one x: no period");
    setMeasured(r, 100.0 * high / span, PhysType::None);
    return FuncOk;
}

FUNC_ERROR frequency(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto e = edgesOf(a, m, *w, 2, false);
    if (!e) return FuncFailed;
    if (e->rise.size() < 2) return tooFewRising(a, m, *e, "a whole cycle needs 2");
    const double span = e->rise.x.back() - e->rise.x.front();
    if (!(span > 0)) return refuse(m, a, 1, "wave", "has its whole cycles at one x: no period");
    setMeasured(r, double(e->rise.size() - 1) / span, PhysType::Frequency);
    return FuncOk;
}

FUNC_ERROR periodJitter(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const int kind = wordOf(a, 2, {"rms", "pp", "cycle"}, 0, -1);
    if (kind < 0) return refuse(m, a, 3, "kind", "must be 'rms', 'pp' or 'cycle'");
    const auto e = edgesOf(a, m, *w, 3, false);
    if (!e) return FuncFailed;
    const std::vector<double>& t = e->rise.x;
    if (t.size() < 3) return tooFewRising(a, m, *e, "two periods need 3");
    const size_t periods = t.size() - 1;
    double value = 0.0;
    if (kind == 0) {
        // Two passes: the mean period, then the squared deviations from it.
        const double mean = (t.back() - t.front()) / double(periods);
        for (size_t k = 0; k < periods; ++k) value += (t[k + 1] - t[k] - mean) * (t[k + 1] - t[k] - mean);
        value = std::sqrt(value / double(periods));
    } else if (kind == 1) {
        double lo = INFINITY, hi = -INFINITY;
        for (size_t k = 0; k < periods; ++k) {
            lo = std::min(lo, t[k + 1] - t[k]);
            hi = std::max(hi, t[k + 1] - t[k]);
        }
        value = hi - lo;
    } else {
        for (size_t k = 0; k + 1 < periods; ++k) {
            const double d = (t[k + 2] - t[k + 1]) - (t[k + 1] - t[k]);
            value += d * d;
        }
        value = std::sqrt(value / double(periods - 1));
    }
    setMeasured(r, value, a.refPhysType(0));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"Cross",        {Real, Real, String, Real, Real},                           {Statistic},                                    2, 5, handler<cross>,        "", PyReal, Plain, Pure},
    {"DerivAt",      {Real, Real},                                               {Statistic},                                    2, 2, handler<derivAt>,      "", PyReal, Plain, Pure},
    {"PeakToPeak",   {Real, Real, Real},                                         {Statistic},                                    1, 3, handler<peakToPeak>,   "", PyReal, Plain, Pure},
    {"PulseWidth",   {Real, Real, String, Real},                                 {Statistic},                                    1, 4, handler<pulseWidth>,   "", PyReal, Plain, Pure},
    {"DutyCycle",    {Real, Real, Real},                                         {Statistic},                                    1, 3, handler<dutyCycle>,    "", PyReal, Plain, Pure},
    {"Frequency",    {Real, Real, Real},                                         {Statistic},                                    1, 3, handler<frequency>,    "", PyReal, Plain, Pure},
    {"PeriodJitter", {Real, Real, String, Real},                                 {Statistic},                                    1, 4, handler<periodJitter>, "", PyReal, Plain, Pure},
    {"TrigTarg",     {Real, Real, String, Real, Real, Real, String, Real, Real}, {Statistic, NoRule, NoRule, NoRule, Statistic}, 8, 9, handler<trigTarg>,     "", PyReal, Plain, Pure},
};
// clang-format on

}  // namespace
