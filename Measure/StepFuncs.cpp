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
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Interp.h"
#include "MeasureKit.h"
#include "Parallel.h"
#include "VecMath.h"

namespace {

using namespace measure;

// ---------------------------------------------------------------- levels

constexpr int kFirstBins = 100;   // over one half of the range
constexpr int kZoomBins = 9999;   // over the modal bin and its neighbours: 3333 per bin
constexpr double kFinest = 1e-9;  // of the swing: where zooming stops

// The wave in blocks of kBlock segments, read once: where each block's
// values lie, and what its segments add to a bin that holds them all. A
// histogram then passes over the blocks outside its window unread, adds a
// block that lies inside one bin at once, and reads the segments of the
// others; its bins are narrow only about the mode, so few blocks are read
// twice. Blocks are handed to the cores kChunkBlocks at a time, and partial
// results are added in chunk order: they do not depend on the thread count.
constexpr int64_t kBlock = 1024;
constexpr size_t kChunkBlocks = 1024;
// Samples of a search handed to one core: shorter waves are searched on the
// calling thread.
constexpr int64_t kScanChunk = int64_t(1) << 18;

struct Block {
    int64_t low = -1, high = -1;  // where its first smallest and largest values are; -1 when all are NaN
    // Its sloped segments: their time and first moment about the block's
    // smallest value (terms of the block's own size, so the moment about a
    // nearby bin edge keeps its digits).
    double slopedTime = 0, slopedMoment = 0;
    double flatTime = 0, flatSum = 0, flatMin = INFINITY, flatMax = -INFINITY;
};

struct Blocks {
    const Wave* w;
    std::vector<Block> list;

    size_t count() const { return list.size(); }
    int64_t first(size_t b) const { return int64_t(b) * kBlock; }
    int64_t end(size_t b) const { return std::min(first(b) + kBlock, w->n - 1); }  // segments [first, end)
    double min(size_t b) const { return w->y[list[b].low]; }
    double max(size_t b) const { return w->y[list[b].high]; }
    bool meets(size_t b, double lo, double hi) const { return list[b].low >= 0 && max(b) >= lo && min(b) <= hi; }
};

// The block of segments [k0, k1).
Block blockOf(const Wave& w, int64_t k0, int64_t k1) {
    Block s;
    s.low = cv::vecExtremeIndex(w.y, k0, k1 + 1, true);
    s.high = cv::vecExtremeIndex(w.y, k0, k1 + 1, false);
    if (s.low < 0) return s;
    // Sums in locals (the compiler cannot keep a field it might alias with
    // the wave in a register); each sample is read once, carried over as the
    // next segment's start.
    const double base = w.y[s.low];
    double slopedTime = 0, moment = 0, flatTime = 0, flatSum = 0, flatMin = INFINITY, flatMax = -INFINITY;
    double x0 = w.x[k0], y0 = w.y[k0];
    for (int64_t k = k0; k < k1; ++k) {
        const double x1 = w.x[k + 1], y1 = w.y[k + 1], dt = x1 - x0;
        if (!(dt > 0) || std::isnan(y0) || std::isnan(y1)) {
        } else if (y0 == y1) {
            flatTime += dt;
            flatSum += dt * y0;
            flatMin = std::min(flatMin, y0);
            flatMax = std::max(flatMax, y0);
        } else {
            slopedTime += dt;
            moment += dt * ((y0 - base) + (y1 - base));
        }
        x0 = x1;
        y0 = y1;
    }
    s.slopedTime = slopedTime;
    s.slopedMoment = 0.5 * moment;
    s.flatTime = flatTime;
    s.flatSum = flatSum;
    s.flatMin = flatMin;
    s.flatMax = flatMax;
    return s;
}

Blocks blocksOf(const Wave& w) {
    Blocks blocks{&w, std::vector<Block>(size_t((w.n - 2) / kBlock + 1))};
    cv::forEachChunk(blocks.count(), kChunkBlocks, [&](size_t from, size_t to) {
        for (size_t b = from; b < to; ++b) blocks.list[b] = blockOf(w, blocks.first(b), blocks.end(b));
    });
    return blocks;
}

struct Extremes {
    double min, max;
};

// The smallest and largest values of a run; refused when it holds no finite
// value or an infinite one.
std::optional<Extremes> extremesOf(const FuncArgs& a, const Blocks& blocks, MessageHandler& m) {
    const Wave& w = *blocks.w;
    // The first smallest and largest, as one search over the whole wave finds.
    int64_t lo = -1, hi = -1;
    for (const Block& b : blocks.list) {
        if (b.low < 0) continue;
        if (lo < 0 || w.y[b.low] < w.y[lo]) lo = b.low;
        if (hi < 0 || w.y[b.high] > w.y[hi]) hi = b.high;
    }
    if (lo < 0) {
        refuse(m, a, 1, "wave", "holds NaN only");
        return std::nullopt;
    }
    for (int64_t k : {lo, hi})
        if (std::isinf(w.y[k])) {
            refuse(m, a, 1, "wave", "has an infinite value at x = " + shown(w.x[k]));
            return std::nullopt;
        }
    // Bins of a swing that overflows, or of a few denormals, are not numbers.
    const double swing = w.y[hi] - w.y[lo];
    if (std::isinf(swing) || (swing > 0 && swing < 1e-290)) {
        refuse(m, a, 1, "wave",
               "has a swing (max - min) of " + shown(swing) + ", too " + (swing > 1 ? "large" : "small") + " to bin");
        return std::nullopt;
    }
    if (!(w.x[w.n - 1] > w.x[0])) {
        refuse(m, a, 1, "wave", "spans no time: its x-values are all " + shown(w.x[0]));
        return std::nullopt;
    }
    return Extremes{w.y[lo], w.y[hi]};
}

// `count` equal bins over [lo, hi].
struct Grid {
    double lo, hi, width, perBin;
    int count;

    Grid(double lo, double hi, int count)
        : lo(lo), hi(hi), width((hi - lo) / count), perBin(count / (hi - lo)), count(count) {}
    // Compared before the conversion: a swing of a few denormals makes
    // perBin infinite, and 0 * inf is NaN.
    int binOf(double v) const {
        const double t = (v - lo) * perBin;
        return t >= 1.0 ? std::min(int(std::min(t, double(count))), count - 1) : 0;
    }
};

// Time of the interpolant in each bin of a grid, and the first moment (about
// lo) of its sloped segments; `from` is the first bin held (a chunk's share
// holds only the bins its values reach).
struct Histogram {
    int from = 0;
    std::vector<double> time, moment;
    // The flat segments alone: their time, their values' time-weighted sum
    // and their range, so that a dwell at one value gives that value exactly.
    std::vector<double> flatTime, flatSum, flatMin, flatMax;
    // A sloped segment's full bins get its density dt/dy through this
    // difference array, so each segment costs the same however many bins it
    // spans; timeHistogram adds them in at the end.
    std::vector<double> density;

    explicit Histogram(int from = 0, int bins = 0)
        : from(from), time(size_t(bins)), moment(size_t(bins)), flatTime(size_t(bins)), flatSum(size_t(bins)),
          flatMin(size_t(bins), INFINITY), flatMax(size_t(bins), -INFINITY), density(size_t(bins)) {}
};

// Adds the segments [k0, k1) of the wave that meet the grid's window to h.
// Bins are numbered on the grid; h holds them from h.from on.
void tally(const Wave& w, int64_t k0, int64_t k1, const Grid& g, Histogram& h) {
    const double lo = g.lo, hi = g.hi, width = g.width;
    const int from = h.from;
    // The part [p, q] (about lo) of bin j, at density rho.
    auto piece = [&](int j, double p, double q, double rho) {
        h.time[size_t(j - from)] += rho * (q - p);
        h.moment[size_t(j - from)] += rho * (q - p) * 0.5 * (p + q);
    };
    for (int64_t k = k0; k < k1; ++k) {
        const double dt = w.x[k + 1] - w.x[k], y0 = w.y[k], y1 = w.y[k + 1];
        // A NaN at either end makes u or v NaN, and the test below false.
        const double u = y0 < y1 ? y0 : y1, v = y0 < y1 ? y1 : y0;
        if (!(dt > 0 && v >= lo && u <= hi)) continue;
        if (u == v) {
            const size_t j = size_t(g.binOf(u) - from);
            h.flatTime[j] += dt;
            h.flatSum[j] += dt * u;
            h.flatMin[j] = std::min(h.flatMin[j], u);
            h.flatMax[j] = std::max(h.flatMax[j], u);
            continue;
        }
        const double cu = std::max(u, lo), cv = std::min(v, hi), rho = dt / (v - u);
        if (!(cu < cv)) continue;
        const int ju = g.binOf(cu), jv = g.binOf(cv);
        if (ju == jv) {
            piece(ju, cu - lo, cv - lo, rho);
            continue;
        }
        piece(ju, cu - lo, (ju + 1) * width, rho);
        piece(jv, jv * width, cv - lo, rho);
        h.density[size_t(ju + 1 - from)] += rho;
        h.density[size_t(jv - from)] -= rho;
    }
}

// Adds block b, which lies inside one bin of the grid, to that bin.
void tallyBlock(const Blocks& blocks, size_t b, const Grid& g, Histogram& h) {
    const Block& s = blocks.list[b];
    const size_t j = size_t(g.binOf(blocks.min(b)) - h.from);
    h.time[j] += s.slopedTime;
    h.moment[j] += s.slopedMoment + (blocks.min(b) - g.lo) * s.slopedTime;
    h.flatTime[j] += s.flatTime;
    h.flatSum[j] += s.flatSum;
    h.flatMin[j] = std::min(h.flatMin[j], s.flatMin);
    h.flatMax[j] = std::max(h.flatMax[j], s.flatMax);
}

// The histogram of the wave over a grid: each chunk of blocks tallies the
// blocks that meet the window into a share of its own, bounded by their
// values; the shares are added in chunk order.
Histogram timeHistogram(const Blocks& blocks, const Grid& g) {
    std::vector<Histogram> shares(cv::chunkCount(blocks.count(), kChunkBlocks));
    cv::forEachChunk(blocks.count(), kChunkBlocks, [&](size_t from, size_t to) {
        double low = INFINITY, high = -INFINITY;
        for (size_t b = from; b < to; ++b)
            if (blocks.meets(b, g.lo, g.hi)) {
                low = std::min(low, blocks.min(b));
                high = std::max(high, blocks.max(b));
            }
        if (!(low <= high)) return;
        const int first = g.binOf(std::max(low, g.lo)), last = g.binOf(std::min(high, g.hi));
        Histogram& share = shares[from / kChunkBlocks];
        share = Histogram(first, last - first + 1);
        for (size_t b = from; b < to; ++b) {
            if (!blocks.meets(b, g.lo, g.hi)) continue;
            const bool inside = blocks.min(b) >= g.lo && blocks.max(b) <= g.hi;
            if (inside && g.binOf(blocks.min(b)) == g.binOf(blocks.max(b)))
                tallyBlock(blocks, b, g, share);
            else
                tally(*blocks.w, blocks.first(b), blocks.end(b), g, share);
        }
    });
    Histogram h(0, g.count);
    for (const Histogram& share : shares)
        for (size_t i = 0; i < share.time.size(); ++i) {
            const size_t j = size_t(share.from) + i;
            h.time[j] += share.time[i];
            h.moment[j] += share.moment[i];
            h.flatTime[j] += share.flatTime[i];
            h.flatSum[j] += share.flatSum[i];
            h.flatMin[j] = std::min(h.flatMin[j], share.flatMin[i]);
            h.flatMax[j] = std::max(h.flatMax[j], share.flatMax[i]);
            h.density[j] += share.density[i];
        }
    double rho = 0.0;
    for (int j = 0; j < g.count; ++j) {
        rho += h.density[size_t(j)];
        h.time[size_t(j)] += rho * g.width + h.flatTime[size_t(j)];
        h.moment[size_t(j)] += rho * g.width * (j + 0.5) * g.width;
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
Histogram firstHistogram(const Blocks& blocks, const Extremes& e) {
    return timeHistogram(blocks, Grid(e.min, e.max, 2 * kFirstBins));
}

// The level of the upper (or lower) half from the first histogram, zoomed in
// from its modal bin; nullopt when the wave spends no time there (its values
// beyond the midpoint are jumps at one x).
std::optional<double> levelOf(const Blocks& blocks, const Extremes& e, const Histogram& first, bool upper) {
    const double swing = e.max - e.min;
    if (swing == 0.0) return e.max;
    int from = upper ? kFirstBins : 0, to = from + kFirstBins;
    int j = modalBin(first, from, to);
    if (!(first.time[size_t(j)] > 0)) return std::nullopt;
    if (j == (upper ? from : to - 1)) return upper ? e.max : e.min;
    // Each pass narrows the bins 3333-fold: two reach the finest; the bound
    // only guards against rounding.
    Grid g(e.min, e.max, 2 * kFirstBins);
    Histogram h = first;
    for (int pass = 0;; ++pass) {
        const double level =
            h.flatTime[size_t(j)] > 0 ? dwellIn(h, size_t(j)) : g.lo + h.moment[size_t(j)] / h.time[size_t(j)];
        // A dwell at one value that holds most of the bin's time holds more
        // than any part of the bin could take from it: it stays the mode at
        // every finer scale.
        if (h.flatMin[size_t(j)] == h.flatMax[size_t(j)] && 2 * h.flatTime[size_t(j)] > h.time[size_t(j)])
            return h.flatMin[size_t(j)];
        const double lo = g.lo + std::max(j - 1, from) * g.width, hi = g.lo + std::min(j + 2, to) * g.width;
        // Rounding would make the bins uneven below a few ulps of the values.
        const double ulps = 16 * std::numeric_limits<double>::epsilon() * std::max(std::abs(lo), std::abs(hi));
        if (g.width <= kFinest * swing || g.width <= ulps || pass == 8) return std::clamp(level, e.min, e.max);
        g = Grid(lo, hi, kZoomBins);
        h = timeHistogram(blocks, g);
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

std::optional<double> oneLevel(const FuncArgs& a, const Blocks& blocks, const Extremes& e, const Histogram& first,
                               bool upper, MessageHandler& m) {
    const auto level = levelOf(blocks, e, first, upper);
    if (!level)
        refuse(m, a, 1, "wave",
               std::string("spends no time in its ") + (upper ? "upper" : "lower") +
                   " half: its values there are jumps at one x-value");
    return level;
}

// Both levels of a wave that has a swing; refused when it is flat.
std::optional<Levels> levelsOf(const FuncArgs& a, const Blocks& blocks, const Extremes& e, MessageHandler& m) {
    const Histogram first = firstHistogram(blocks, e);
    const auto base = oneLevel(a, blocks, e, first, false, m);
    if (!base) return std::nullopt;
    const auto top = oneLevel(a, blocks, e, first, true, m);
    if (!top) return std::nullopt;
    if (!(*top > *base)) {
        refuse(m, a, 1, "wave", "is flat at " + shown(*top) + ": it has no step to measure");
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
    // The two searches of a long wave are work for two cores.
    std::vector<double> from, to;
    cv::forEachChunk(2, w.n < kScanChunk ? 2 : 1, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) (i == 0 ? from : to) = crossings(w, i == 0 ? near : far, direction);
    });
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
                   "is " + shown(v) + ": it must lie between 0 and 100 (% of the swing)");
            return std::nullopt;
        }
    }
    if (!(*low < *high)) {
        refuse(m, a, i + 2, "high", "must lie above low (" + shown(*low) + " %)");
        return std::nullopt;
    }
    if (!exactInt(*n, q.n) || double(q.n) != *n || q.n == 0) {
        refuse(m, a, i + 3, "n",
               "is " + shown(*n) + ": it must be a whole number, 1 for the first edge, -1 for the last");
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
    const Blocks blocks = blocksOf(w);
    const auto e = extremesOf(a, blocks, m);
    if (!e) return std::nullopt;
    const auto lv = levelsOf(a, blocks, *e, m);
    if (!lv) return std::nullopt;
    const double low = lv->base + q.low / 100 * lv->swing(), high = lv->base + q.high / 100 * lv->swing();
    const std::vector<Edge> edges = rising ? edgesOf(w, low, high, 1) : edgesOf(w, high, low, -1);
    const int64_t count = int64_t(edges.size());
    const std::string span = std::string(rising ? "rises" : "falls") + " from " + shown(rising ? q.low : q.high) +
                             " % to " + shown(rising ? q.high : q.low) + " % of its swing (base " + shown(lv->base) +
                             ", top " + shown(lv->top) + ")";
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
    const Blocks blocks = blocksOf(*w);
    const auto e = extremesOf(a, blocks, m);
    if (!e) return FuncFailed;
    const auto level = oneLevel(a, blocks, *e, firstHistogram(blocks, *e), upper, m);
    if (!level) return FuncFailed;
    setMeasured(r, *level, a.physType(0));
    return FuncOk;
}

// The edge the arguments ask for: the wave, then the percentages and the
// count from argument 1 on.
std::optional<MeasuredEdge> askedEdge(const FuncArgs& a, bool rising, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return std::nullopt;
    const auto q = edgeRequest(a, 1, m);
    if (!q) return std::nullopt;
    return measureEdge(a, *w, *q, rising, m);
}

template <bool rising>
FUNC_ERROR edgeTime(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto e = askedEdge(a, rising, m);
    if (!e) return FuncFailed;
    setMeasured(r, e->edge.end - e->edge.start, a.refPhysType(0));
    return FuncOk;
}

FUNC_ERROR slewRate(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const int rising = wordOf(a, 4, {"fall", "rise"}, 1, -1);
    if (rising < 0) return refuse(m, a, 5, "edge", "must be 'rise' or 'fall'");
    const auto e = askedEdge(a, rising == 1, m);
    if (!e) return FuncFailed;
    const double dt = e->edge.end - e->edge.start;
    if (!(dt > 0))
        return refuse(m, a, 1, "wave",
                      "jumps across the edge at x = " + shown(e->edge.end) + ": its slew rate is infinite");
    setMeasured(r, (e->highLevel - e->lowLevel) / dt, PhysType::div(a.physType(0), a.refPhysType(0)));
    return FuncOk;
}

template <bool over>
FUNC_ERROR aberration(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const Blocks blocks = blocksOf(*w);
    const auto e = extremesOf(a, blocks, m);
    if (!e) return FuncFailed;
    const auto lv = levelsOf(a, blocks, *e, m);
    if (!lv) return FuncFailed;
    setMeasured(r, (over ? e->max - lv->top : lv->base - e->min) / lv->swing() * 100, PhysType::None);
    return FuncOk;
}

// ---------------------------------------------------------------- settling

// The last of the samples [0, count) whose value lies outside final +- tol
// (NaN lies nowhere), or -1. Chunks are numbered from the end and searched
// on both cores; a chunk behind one that has found a sample is not begun.
int64_t lastOutside(const double* y, int64_t count, double final, double tol) {
    const size_t chunks = cv::chunkCount(size_t(count), size_t(kScanChunk));
    std::vector<int64_t> found(chunks, -1);
    std::atomic<size_t> nearest{chunks};  // the chunk nearest the end with a find
    cv::forEachChunk(size_t(count), size_t(kScanChunk), [&](size_t from, size_t to) {
        const size_t c = from / size_t(kScanChunk);
        if (c > nearest.load()) return;
        for (int64_t k = count - 1 - int64_t(from); k >= count - int64_t(to); --k)
            if (std::abs(y[k] - final) > tol) {
                found[c] = k;
                // Lowered to c unless a chunk nearer the end got there first.
                size_t seen = nearest.load();
                while (c < seen && !nearest.compare_exchange_weak(seen, c)) continue;
                return;
            }
    });
    for (int64_t k : found)
        if (k >= 0) return k;
    return -1;
}

FUNC_ERROR settlingTime(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto w = waveArg(a, 0, "wave", m);
    if (!w) return FuncFailed;
    const auto tol = levelArg(a, 1, "tolerance", m);
    if (!tol) return FuncFailed;
    if (!(*tol > 0))
        return refuse(m, a, 2, "tolerance", "is " + shown(*tol) + ": it must be positive (the band's half-width)");
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
        return refuse(m, a, 4, "start", "is " + shown(*start) + ": it lies beyond the wave's last x-value " +
                                            shown(x[w->n - 1]));
    if (std::abs(y[last] - *final) > *tol)
        return refuse(m, a, 1, "wave",
                      "never settles: its last value " + shown(y[last]) + " (at x = " + shown(x[last]) +
                          ") lies outside " + shown(*final) + " +- " + shown(*tol));
    // From the crossing of the band's edge after the last sample outside it
    // (to the first sample with a value after that one).
    const int64_t k = lastOutside(y, last, *final, *tol);
    double settled = x[0];
    if (k >= 0) {
        int64_t inside = k + 1;
        while (std::isnan(y[inside])) ++inside;
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
