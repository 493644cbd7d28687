// The host's crossing search and polynomial interpolation.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "Interp.h"
#include "Search.h"
#include "VecMath.h"

namespace {

struct Finds {
    std::vector<double> values;    // in the order found
    std::vector<int64_t> indices;
};

Finds search(const std::vector<double>& returned, const std::vector<double>& searched, double target,
             bool ySearch, int order = 1, int direction = 0) {
    YList<double> found;
    YList<int64_t> idx;
    support_FindYFromX(found, idx, returned.data(), searched.data(), int64_t(searched.size()), target,
                       InterpOpts{ySearch, false, false, false, order, direction, 0.0});
    // The lists hold the last find first.
    auto reversed = [](const auto& list) {
        return std::vector(std::reverse_iterator(list.end()), std::reverse_iterator(list.begin()));
    };
    return {reversed(found), reversed(idx)};
}

// What the script functions make of the finds is tested through XFromY and
// YFromX, and the indices by the blockwise walk below; here, what neither
// reaches: data wholly at the level, and an order-2 window across NaN.
TEST(CrossingSearch, DataWhollyAtTheLevelAndNaNInsideAWindow) {
    EXPECT_EQ(search({0, 1, 2}, {1, 1, 1}, 1.0, true).values, (std::vector<double>{0}));
    // NaN points are skipped: an order-2 window across them falls back to linear.
    EXPECT_EQ(search({0, 1, 2, 3}, {0, NAN, NAN, 3}, 1.5, true, 2).values, (std::vector<double>{1.5}));
    EXPECT_TRUE(search({1}, {0}, 0.5, true).values.empty());
}

TEST(CrossingSearch, PolynomialOrderOnUnevenFallingDataAndARepeatedAbscissa) {
    std::vector<double> xc{-1, 0.2, 0.5, 1.7, 2}, yc;
    for (double t : xc) yc.push_back(-(t * t * t));
    EXPECT_NEAR(search(xc, yc, -1.0, true, 3).values.at(0), 1.0, 1e-13);
    EXPECT_LT(std::fabs(search(xc, yc, -1.0, true, 2).values.at(0) - 1),
              std::fabs(search(xc, yc, -1.0, true, 1).values.at(0) - 1));
    // A repeated abscissa (breakpoint) hit exactly gives the first sample.
    EXPECT_EQ(search({5, 6, 7, 8}, {0, 1, 1, 2}, 1.0, false, 2).values, (std::vector<double>{6}));
}

// The walk skips long stretches on one side of the target in blocks; it must
// find exactly what a point-by-point walk finds, wherever the events fall
// relative to the blocks, at every instruction-set level of the skip.
Finds pointByPoint(const std::vector<double>& r, const std::vector<double>& s, double target, int direction) {
    Finds f;
    auto report = [&](double v, int64_t i, int dir) {
        if (direction != 0 && dir != direction) return;
        f.values.push_back(v);
        f.indices.push_back(i);
    };
    int prevSide = 0;
    int64_t prev = -1, run = -1, n = int64_t(s.size());
    for (int64_t k = 0; k < n; ++k) {
        if (std::isnan(s[k])) continue;
        if (s[k] == target) {
            if (run < 0) run = k;
            continue;
        }
        int side = s[k] > target ? 1 : -1;
        if (run >= 0) {
            report(r[run], run, prevSide == 0 ? side : prevSide == side ? 0 : side);
            run = -1;
        } else if (prevSide != 0 && side != prevSide) {
            double lin = s[k] == s[prev] ? r[prev] : r[prev] + (target - s[prev]) / (s[k] - s[prev]) * (r[k] - r[prev]);
            report(lin, prev, side);
        }
        prevSide = side;
        prev = k;
    }
    if (run >= 0) report(r[run], run, -prevSide);
    return f;
}

TEST(CrossingSearch, BlockwiseWalkFindsWhatThePointwiseWalkFinds) {
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> u(0, 1);
    for (int trial = 0; trial < 404; ++trial) {
        // The last trials are long enough for the blocks' sides to be found first, on the workers.
        int64_t n = trial < 300   ? int64_t(u(gen) * 120)
                    : trial < 400 ? int64_t(u(gen) * 5000)
                                  : (int64_t(1) << 18) + int64_t(u(gen) * 3000);
        double rate = trial % 3 == 0 ? 0.002 : trial % 3 == 1 ? 0.03 : 0.3;  // events per point
        std::vector<double> r(n), s(n);
        double side = u(gen) < 0.5 ? -1 : 1;
        for (int64_t k = 0; k < n; ++k) {
            r[k] = double(k) + u(gen);
            s[k] = side * (0.5 + u(gen));
            if (u(gen) < rate) {
                double e = u(gen);
                if (e < 0.3) side = -side;  // a crossing
                else if (e < 0.5) s[k] = NAN;
                else if (e < 0.6) s[k] = side * INFINITY;
                else {
                    int64_t len = 1 + int64_t(u(gen) * 20);  // a flat run at the target
                    for (int64_t j = k; j < std::min(n, k + len); ++j) s[j] = 0.0;
                    k += len - 1;
                    if (u(gen) < 0.5) side = -side;
                }
            }
        }
        // Bit patterns, so that NaN finds (a step from -inf to +inf) compare too.
        auto bits = [](const std::vector<double>& v) {
            std::vector<uint64_t> b;
            for (double d : v) b.push_back(std::bit_cast<uint64_t>(d));
            return b;
        };
        for (int direction : {0, 1, -1}) {
            const Finds want = pointByPoint(r, s, 0.0, direction);
            for (int level = 0; level <= int(cv::kernelLevelSupported()); ++level) {
                cv::setKernelLevel(KernelLevel(level));
                const Finds got = search(r, s, 0.0, true, 1, direction);
                cv::setKernelLevel(cv::kernelLevelSupported());
                SCOPED_TRACE(testing::Message() << "trial " << trial << " level " << level << " direction " << direction);
                ASSERT_EQ(bits(got.values), bits(want.values));
                ASSERT_EQ(got.indices, want.indices);
            }
        }
    }
}

TEST(Interpolation, PolynomialThroughTheWindow) {
    auto at = [](const double* y, const double* x, double where, int order) {
        return support_Interp(y, x, where, InterpOpts{false, false, false, false, order, 0, 0});
    };
    double x[] = {0, 1, 2, 4}, y[] = {1, 2, 5, 17};  // y = x^2 + 1
    EXPECT_DOUBLE_EQ(at(y, x, -1, 3), 2);  // extrapolation follows the same polynomial
    // A repeated abscissa lowers the order instead of dividing by zero.
    double xr[] = {0, 1, 1}, yr[] = {0, 1, 1};
    EXPECT_DOUBLE_EQ(at(yr, xr, 0.5, 2), 0.5);
}

TEST(Search, BinarySearchBracketsInEitherOrder) {
    double up[] = {0, 1, 2, 3}, down[] = {3, 2, 1, 0};
    int64_t lo = -1, hi = -1;
    // {ascending, target, found, lo, hi}; -9: not stated for a miss.
    const std::tuple<bool, double, bool, int64_t, int64_t> cases[] = {
        {true, 1.5, true, 1, 2}, {true, 2, true, 2, 2}, {false, 1.5, true, 1, 2},
        {true, 7, false, 3, -9}, {true, -1, false, -9, 0}, {true, NAN, false, -9, -9}};
    for (auto [ascending, target, found, wantLo, wantHi] : cases) {
        EXPECT_EQ(sp_BinarySearch(ascending ? up : down, 4, target, lo, hi, ascending), found) << target;
        if (wantLo != -9) { EXPECT_EQ(lo, wantLo) << target; }
        if (wantHi != -9) { EXPECT_EQ(hi, wantHi) << target; }
    }
    EXPECT_FALSE(sp_BinarySearch(up, 0, 1, lo, hi, true));
}

}  // namespace
