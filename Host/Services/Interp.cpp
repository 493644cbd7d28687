// Crossing search and polynomial interpolation.
//
// Rules of the crossing search (support_FindYFromX):
//  - The data is walked once. NaN points of the searched values are skipped:
//    the points on either side of them are treated as neighbours.
//  - A segment whose ends lie strictly on opposite sides of the target gives
//    one crossing inside it; its index is the segment's left end (the last
//    point before the crossing).
//  - Points exactly at the target count once per run: a run of consecutive
//    points at the target is one find, at the run's first point, with the
//    returned value of that point taken as is. The run's direction comes from
//    the sides it is entered from and left to: from below to above is rising,
//    from above to below falling; a run at either end of the data takes the
//    direction of its one neighbour side; a run entered and left on the same
//    side (a touch), or data lying wholly at the target, has no direction
//    and is found only when both directions are asked for.
//  - Direction filter: 1 keeps rising crossings, -1 falling ones, 0 all.
//  - Interpolation: order 1 is linear between the segment's ends. Order m >= 2
//    uses the polynomial through m + 1 points around the segment (the segment
//    and the points after it, shifted back at the end of the data). With the
//    y-search flag the searched values are the dependent variable (y against
//    x): the polynomial y(x) is solved for the target inside the segment,
//    which always holds a root since the polynomial passes through both ends.
//    Without it the searched values are the abscissa and the returned values
//    are interpolated at the target. A window that is unusable (NaN, or two
//    equal abscissae) falls back to linear.
//  - Each find is inserted at the front of the lists.
#include "Interp.h"
#include "Parallel.h"
#include "VecMath.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Polynomials of higher degree through samples oscillate rather than gain
// accuracy, and the cost grows with the square of the order.
constexpr int kMaxOrder = 16;

int effectiveOrder(int order, int64_t n) {
    int64_t m = std::clamp<int64_t>(order, 1, kMaxOrder);
    return int(std::max<int64_t>(1, std::min<int64_t>(m, n - 1)));
}

// First point of the order + 1 point window around segment (left, left + 1).
int64_t windowStart(int64_t left, int order, int64_t n) {
    int64_t w = left - (order - 1) / 2;
    return std::clamp<int64_t>(w, 0, n - 1 - order);
}

// Newton divided differences of (x[i], y[i]), i < count, in place in c;
// false when two abscissae are equal or a value is not finite.
bool dividedDifferences(const double* x, const double* y, int count, double* c) {
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i])) return false;
        c[i] = y[i];
    }
    for (int j = 1; j < count; ++j)
        for (int i = count - 1; i >= j; --i) {
            double dx = x[i] - x[i - j];
            if (dx == 0) return false;
            c[i] = (c[i] - c[i - 1]) / dx;
        }
    return true;
}

// Value and derivative of the Newton-form polynomial at t.
void newtonEval(const double* x, const double* c, int count, double t, double& p, double& dp) {
    p = c[count - 1];
    dp = 0;
    for (int i = count - 2; i >= 0; --i) {
        dp = dp * (t - x[i]) + p;
        p = p * (t - x[i]) + c[i];
    }
}

double linear(double s0, double s1, double r0, double r1, double target) {
    if (s1 == s0) return r0;
    return r0 + (target - s0) / (s1 - s0) * (r1 - r0);
}

// Solves the polynomial through the window (x, y) for y = target between
// a = x[left] and b = x[left + 1], whose values lie on opposite sides of it.
// Returns NaN when no root was found (the caller falls back to linear).
double solveInSegment(const double* x, const double* y, int count, int left, double target) {
    double c[kMaxOrder + 1];
    if (!dividedDifferences(x, y, count, c)) return NAN;
    c[0] -= target;
    double a = x[left], b = x[left + 1];
    double fa = y[left] - target;
    if (count == 3) {
        // Nodes in the window order: p(t) = c0 + (t - x0)(c1 + (t - x1) c2).
        // Written in u = t - x0: c2 u^2 + (c1 - c2 h) u + c0 = 0, h = x1 - x0.
        double h = x[1] - x[0];
        double A = c[2], B = c[1] - c[2] * h, C = c[0];
        double lo = std::min(a, b) - x[0], hi = std::max(a, b) - x[0];
        double slack = 1e-12 * (hi - lo);
        auto inside = [&](double u) { return std::isfinite(u) && u >= lo - slack && u <= hi + slack; };
        if (A == 0 || std::fabs(A) * (hi - lo) <= 1e-15 * std::fabs(B)) {
            double u = -C / B;
            if (inside(u)) return x[0] + std::clamp(u, lo, hi);
            return NAN;
        }
        double disc = B * B - 4 * A * C;
        if (disc < 0) return NAN;
        double q = -0.5 * (B + std::copysign(std::sqrt(disc), B));
        double u1 = q / A, u2 = q != 0 ? C / q : NAN;
        if (inside(u1)) return x[0] + std::clamp(u1, lo, hi);
        if (inside(u2)) return x[0] + std::clamp(u2, lo, hi);
        return NAN;
    }
    // Higher orders: Newton steps kept inside a shrinking bracket.
    double lo = a, hi = b, flo = fa;
    double t = a + (b - a) * (fa / (fa - (y[left + 1] - target)));
    for (int it = 0; it < 100; ++it) {
        double p, dp;
        newtonEval(x, c, count, t, p, dp);
        if (p == 0) return t;
        if ((p < 0) == (flo < 0)) {
            lo = t;
            flo = p;
        } else {
            hi = t;
        }
        double next = dp != 0 ? t - p / dp : NAN;
        if (!(next > std::min(lo, hi) && next < std::max(lo, hi))) next = 0.5 * (lo + hi);
        if (std::fabs(next - t) <= 1e-15 * std::max(std::fabs(a), std::fabs(b))) return next;
        t = next;
    }
    return t;
}

// The scan passes over whole blocks of 16 values that lie strictly on the
// side already reached (cv::vecSkipOnSide, vectorised for the processor).
constexpr int64_t kSkipBlock = 16;
// From this many values the blocks' sides are found first (see
// support_FindYFromX), in chunks of this many blocks per task.
constexpr int64_t kSidesFrom = int64_t(1) << 18;
constexpr size_t kSidesChunk = size_t(1) << 14;

// From block b, the blocks whose side byte is `side`: returns the first that
// is not (or `blocks`). Eight bytes at a time, then byte by byte.
int64_t skipBlocks(const int8_t* sides, int64_t b, int64_t blocks, int8_t side) {
    const uint64_t pattern = 0x0101010101010101ull * uint8_t(side);
    for (uint64_t word; b + 8 <= blocks; b += 8) {
        std::memcpy(&word, sides + b, sizeof word);
        if (word != pattern) break;
    }
    while (b < blocks && sides[b] == side) ++b;
    return b;
}

}  // namespace

void support_InterpMake(const double* y, const double* x, int order, InterpPolynomial& p) {
    static_assert(sizeof(p.x) / sizeof(p.x[0]) == kMaxOrder + 1);
    order = std::clamp(order, 1, kMaxOrder);
    p.x0 = x[0];
    p.x1 = x[1];
    p.y0 = y[0];
    p.y1 = y[1];
    p.count = 0;
    if (order == 1) return;
    // A repeated abscissa (a breakpoint) keeps its later sample; the order
    // drops by one for each repeat.
    double py[kMaxOrder + 1];
    int count = 0;
    for (int i = 0; i <= order; ++i) {
        int j = 0;
        while (j < count && p.x[j] != x[i]) ++j;
        p.x[j] = x[i];
        py[j] = y[i];
        if (j == count) ++count;
    }
    if (count == 1) {
        p.c[0] = py[0];
        p.count = 1;
        return;
    }
    if (dividedDifferences(p.x, py, count, p.c)) p.count = count;
}

double support_InterpEval(const InterpPolynomial& p, double at) {
    if (p.count == 0) return linear(p.x0, p.x1, p.y0, p.y1, at);
    if (p.count == 1) return p.c[0];
    double v, dv;
    newtonEval(p.x, p.c, p.count, at, v, dv);
    return v;
}

double support_Interp(const double* y, const double* x, double at, const InterpOpts& opts) {
    InterpPolynomial p;
    support_InterpMake(y, x, opts.order, p);
    return support_InterpEval(p, at);
}

void support_FindYFromX(YList<double>& found, YList<int64_t>& indices, const double* returned,
                        const double* searched, int64_t n, double target, InterpOpts opts) {
    if (n <= 0 || !returned || !searched || std::isnan(target)) return;
    const int order = effectiveOrder(opts.order, n);
    const int direction = opts.direction > 0 ? 1 : opts.direction < 0 ? -1 : 0;

    auto report = [&](double value, int64_t index, int dir) {
        if (direction != 0 && dir != direction) return;
        found.insertAtFront(value);
        indices.insertAtFront(index);
    };

    // Interpolated returned value for a crossing inside (left, right), which
    // are neighbours after NaN points are skipped.
    auto atCrossing = [&](int64_t left, int64_t right) {
        double lin = linear(searched[left], searched[right], returned[left], returned[right], target);
        if (order == 1 || right != left + 1) return lin;
        int64_t w = windowStart(left, order, n);
        double v;
        if (opts.ySearch)
            v = solveInSegment(returned + w, searched + w, order + 1, int(left - w), target);
        else
            v = support_Interp(returned + w, searched + w, target, InterpOpts{false, false, false, false, order, 0, 0.0});
        return std::isfinite(v) ? v : lin;
    };

    // Long data: the side of every whole block is found first, on all cores,
    // so that the walk passes over the blocks on the side it has reached by
    // reading a byte each instead of the values (one read of the data, shared
    // by the cores, instead of one core's). Blocks start at multiples of
    // kSkipBlock, and the walk keeps to them. Without the memory for it the
    // walk reads the values, as for short data.
    const int64_t blocks = n >= kSidesFrom ? n / kSkipBlock : 0;
    std::unique_ptr<int8_t[]> sides(blocks ? new (std::nothrow) int8_t[size_t(blocks)] : nullptr);
    if (sides)
        cv::forEachChunk(size_t(blocks), kSidesChunk, [&](size_t b0, size_t b1) {
            cv::vecBlockSides(searched + b0 * kSkipBlock, int64_t(b1 - b0), target, sides.get() + b0);
        });

    int prevSide = 0;       // side of the last point off the target: -1 below, 1 above, 0 none yet
    int64_t prevIndex = -1;
    int64_t runStart = -1;  // first point of the current run at the target
    int64_t k = 0;
    while (k < n) {
        // A crossing reads the other array at the same place: it is not being
        // streamed, so ask for its lines before a block is looked into.
        __builtin_prefetch(returned + k);
        __builtin_prefetch(returned + k + 8);
        if (runStart < 0 && prevSide != 0 && k + kSkipBlock <= n) {
            // Most blocks lie wholly on the side already reached: no
            // crossing, no hit, no NaN. Such a block only moves the last
            // point off the target, so it is tested whole and skipped.
            const int64_t to = sides && k % kSkipBlock == 0
                                   ? skipBlocks(sides.get(), k / kSkipBlock, blocks, int8_t(prevSide)) * kSkipBlock
                                   : cv::vecSkipOnSide(searched, k, n, target, prevSide);
            if (to > k) {
                k = to;
                prevIndex = k - 1;
                continue;
            }
            // A block of values all off the target and none NaN (noise around
            // a level): its side changes are read from a mask of which values
            // lie above, one step per crossing instead of a branch per value.
            uint32_t above = 0, below = 0;
            for (int j = 0; j < kSkipBlock; ++j) {
                above |= uint32_t(searched[k + j] > target) << j;
                below |= uint32_t(searched[k + j] < target) << j;
            }
            constexpr uint32_t kAll = (uint32_t(1) << kSkipBlock) - 1;
            if ((above | below) == kAll) {
                const uint32_t before = ((above << 1) | (prevSide > 0 ? 1u : 0u)) & kAll;
                for (uint32_t changes = above ^ before; changes; changes &= changes - 1) {
                    const int j = std::countr_zero(changes);
                    const int64_t left = j == 0 ? prevIndex : k + j - 1;
                    report(atCrossing(left, k + j), left, (above >> j) & 1 ? 1 : -1);
                }
                prevSide = (above >> (kSkipBlock - 1)) & 1 ? 1 : -1;
                prevIndex = k + kSkipBlock - 1;
                k += kSkipBlock;
                continue;
            }
        }
        // Anything else (a NaN, a value at the target, the last short block)
        // is walked point by point.
        // To the end of the block: the walk stays on the blocks' grid.
        for (const int64_t end = std::min(n, (k / kSkipBlock + 1) * kSkipBlock); k < end; ++k) {
            double v = searched[k];
            if (std::isnan(v)) continue;
            if (v == target) {
                if (runStart < 0) runStart = k;
                continue;
            }
            int side = v > target ? 1 : -1;
            if (runStart >= 0) {
                int dir = prevSide == 0 ? side : prevSide == side ? 0 : side;
                report(returned[runStart], runStart, dir);
                runStart = -1;
            } else if (prevSide != 0 && side != prevSide) {
                report(atCrossing(prevIndex, k), prevIndex, side);
            }
            prevSide = side;
            prevIndex = k;
        }
    }
    if (runStart >= 0) report(returned[runStart], runStart, -prevSide);
}
