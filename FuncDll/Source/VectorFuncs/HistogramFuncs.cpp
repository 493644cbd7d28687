// Histogram of a vector (typically one measurement per Monte Carlo run) in
// equal-width bins, as one point per bin or as a stepped curve.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "../FuncKit.h"
#include "Options.h"
#include "Parallel.h"
#include "VecMath.h"

namespace {

using namespace cvmod;

// Beyond this the result (up to four doubles per bin for a stepped curve)
// would take gigabytes for a plot nobody can read; more likely the bin count
// or width was given in the wrong unit.
constexpr double kMaxBins = 1e8;

struct DataRange {
    double lo = DBL_MAX;
    double hi = -DBL_MAX;
    int64_t count = 0;  // finite values: the ones that are counted
};

// NaN and infinite values have no place in equal-width bins over a finite
// range; they are left out of the range and out of the counts.
//
// The range is that of one walk keeping the first of equal extremes (equal
// but different: -0 and +0). One walk would chain every comparison on the
// one before, so the data is walked as four consecutive quarters at once,
// each with extremes of its own, merged in order keeping the first of
// equal ones: the same values, four times the pace.
struct Extremes {
    double lo = DBL_MAX;
    double hi = -DBL_MAX;
    int64_t count = 0;
    void take(double x) {
        const bool finite = std::fabs(x) <= DBL_MAX;
        lo = finite && x < lo ? x : lo;
        hi = finite && x > hi ? x : hi;
        count += finite;
    }
    void takeLater(const Extremes& e) {
        lo = e.lo < lo ? e.lo : lo;
        hi = e.hi > hi ? e.hi : hi;
        count += e.count;
    }
};

DataRange scan(const double* v, int64_t n) {
    const int64_t quarter = n / 4;
    const double *v1 = v + quarter, *v2 = v1 + quarter, *v3 = v2 + quarter;
    Extremes e0, e1, e2, e3;
    for (int64_t i = 0; i < quarter; ++i) {
        e0.take(v[i]);
        e1.take(v1[i]);
        e2.take(v2[i]);
        e3.take(v3[i]);
    }
    // The few values beyond four quarters come after the last one.
    for (int64_t i = 4 * quarter; i < n; ++i) e3.take(v[i]);
    e0.takeLater(e1);
    e0.takeLater(e2);
    e0.takeLater(e3);
    return {e0.lo, e0.hi, e0.count};
}

// hi - lo can overflow for finite data (-1e308 ... 1e308); the histogram is
// then computed on halved values, which keeps every quantity finite.
double scaleFor(const DataRange& r) { return std::isfinite(r.hi - r.lo) ? 1.0 : 0.5; }

struct Bins {
    int64_t count = 0;
    double width = 0;
};

// b is argument 2: the bin count, or with fixedWidth the bin width.
FUNC_ERROR chooseBins(const FuncArgs& a, double b, const DataRange& range, bool fixedWidth, Bins& bins,
                      MessageHandler& messages) {
    const double s = scaleFor(range);
    const double span = range.hi * s - range.lo * s;  // finite, scaled by s
    double count;
    if (b > 0 && fixedWidth) {
        if (!std::isfinite(b)) {
            messages.error("Bin width must be finite in function '%s'", a.functionName());
            return FuncFailed;
        }
        count = std::floor(span / (b * s) + 1.0);
    } else if (b > 0) {
        count = std::trunc(b);
    } else {
        const int option = sp_GetIntOption("MCNumberOfBins");
        count = option >= 1 ? double(option) : std::trunc(std::floor(std::sqrt(double(range.count))) * 0.5);
    }
    if (!(count >= 2)) count = 2;
    if (count > kMaxBins) {
        messages.error("Too many bins (%g) for a histogram in function '%s'", count, a.functionName());
        return FuncFailed;
    }
    bins.count = int64_t(count);
    bins.width = fixedWidth && b > 0 ? b : span / count / s;
    return FuncOk;
}

// The bin of each finite value: O(1) from the bin width, then a one-step
// correction against the bin edges exactly as reported (lo + i * width), so
// a value on an edge always lands in the bin that the edge opens, and the
// maximum in the last bin.
class BinLookup {
public:
    BinLookup(const DataRange& range, const Bins& bins)
        : s_(scaleFor(range)), lo_(range.lo), w_(bins.width), los_(range.lo * s_), inverse_(1.0 / (bins.width * s_)),
          last_(bins.count - 1), lastAsDouble_(double(bins.count - 1)) {}
    // -1 for NaN and infinite values.
    int64_t operator()(double x) const {
        if (!(std::fabs(x) <= DBL_MAX)) return -1;
        return binOfFinite(x);
    }

    // The bins of n values, `outside` for NaN and infinite ones: the host's
    // vectorised form of binOfFinite (32-bit bins, for counts far below 2^31).
    void block(const double* v, int32_t* out, int64_t n, int32_t outside) const {
        const BinParams p{s_, lo_, w_, los_, inverse_, int32_t(last_), outside};
        cv::vecBinIndices(p, v, out, n);
    }

private:
    // Written without branches: in random data they would be mispredicted.
    int64_t binOfFinite(double x) const {
        double t = (x * s_ - los_) * inverse_;
        t = t > 0 ? t : 0;  // also NaN (0 * inf for a subnormal width)
        t = t < lastAsDouble_ ? t : lastAsDouble_;
        int64_t i = int64_t(t);
        const double lower = lo_ + double(i) * w_, upper = lo_ + double(i + 1) * w_;
        i -= int64_t((x < lower) & (i > 0));
        i += int64_t((x >= upper) & (i < last_));
        return i;
    }

    double s_, lo_, w_, los_, inverse_;
    int64_t last_;
    double lastAsDouble_;
};

// Runs of values in one bin (sorted or slowly varying data) would chain every
// increment on the one before; four interleaved sets of counters break the
// chain. Beyond this many bins the extra memory is not worth it: values then
// rarely hit the same bin twice in a row.
constexpr int64_t kInterleavedBins = 1 << 16;

// Values are counted in chunks of this many, each into counters of its own
// added to the totals as it ends: both cores count a long vector, and the
// totals are whole numbers, the same in whatever order the chunks end.
constexpr int64_t kCountChunk = int64_t(1) << 20;

void countInto(double* counts, const double* v, int64_t n, const DataRange& range, const Bins& bins) {
    const BinLookup binOf(range, bins);
    const int64_t B = bins.count;
    if (B > kInterleavedBins) {
        for (int64_t k = 0; k < n; ++k)
            if (const int64_t i = binOf(v[k]); i >= 0) counts[i] += 1.0;
        return;
    }
    std::vector<uint64_t> totals(size_t(B), 0);
    std::mutex totalsMutex;
    cv::forEachChunk(size_t(n), size_t(kCountChunk), [&](size_t begin, size_t end) {
        // The bins of a block are computed first, then counted; values
        // outside every bin count in one spare counter past the end.
        std::vector<uint64_t> lanes(size_t(4 * (B + 1)));
        uint64_t* c0 = lanes.data();
        uint64_t *c1 = c0 + (B + 1), *c2 = c1 + (B + 1), *c3 = c2 + (B + 1);
        constexpr int64_t kBlock = 256;
        int32_t idx[kBlock];
        int64_t k = int64_t(begin);
        const int64_t stop = int64_t(end);
        for (; k + kBlock <= stop; k += kBlock) {
            binOf.block(v + k, idx, kBlock, int32_t(B));
            for (int64_t j = 0; j < kBlock; j += 4) {
                ++c0[idx[j]];
                ++c1[idx[j + 1]];
                ++c2[idx[j + 2]];
                ++c3[idx[j + 3]];
            }
        }
        for (; k < stop; ++k)
            if (const int64_t i = binOf(v[k]); i >= 0) ++c0[i];
        std::lock_guard<std::mutex> lock(totalsMutex);
        for (int64_t i = 0; i < B; ++i) totals[size_t(i)] += c0[i] + c1[i] + c2[i] + c3[i];
    });
    for (int64_t i = 0; i < B; ++i) counts[i] = double(totals[size_t(i)]);
}

FUNC_ERROR histogram(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const std::optional<double> countOrWidth = requiredReal(a, 1, messages);
    if (!countOrWidth) return FuncFailed;
    bool stepped = false, fixedWidth = false;
    if (a.numArgs() > 2) {
        const char* const* words = a.stringData(2);
        for (int64_t i = 0; words && i < a.length(2); ++i) {
            const char* word = words[i] ? words[i] : "";
            stepped = stepped || sameWord(word, "step");
            fixedWidth = fixedWidth || sameWord(word, "fixedBin");
        }
    }
    const double* v = a.realData(0);
    const int64_t n = v ? a.length(0) : 0;
    const DataRange range = scan(v, n);
    if (range.count == 0) {
        messages.error("No finite values. Cannot build histogram");
        return FuncFailed;
    }
    if (range.hi == range.lo) {
        messages.error("Constant values. Cannot build histogram");
        return FuncFailed;
    }
    Bins bins;
    if (chooseBins(a, *countOrWidth, range, fixedWidth, bins, messages) != FuncOk) return FuncFailed;

    const int64_t B = bins.count, points = stepped ? 2 * B : B;
    double* y = r.makeRealVector(points);
    double* x = r.makeRealRefVector(points);
    countInto(y, v, n, range, bins);
    const double lo = range.lo, w = bins.width;
    if (stepped) {
        // Spread the counts from the front half backwards, so none is
        // overwritten before it is read. Each upper edge is the next bin's
        // lower edge as computed for the counts (lower + w can differ from
        // it in the last bit), and the last one holds the maximum.
        for (int64_t i = B - 1; i >= 0; --i) {
            y[2 * i] = y[2 * i + 1] = y[i];
            x[2 * i] = lo + double(i) * w;
            x[2 * i + 1] = i == B - 1 ? std::max(lo + double(B) * w, range.hi) : lo + double(i + 1) * w;
        }
    } else {
        for (int64_t i = 0; i < B; ++i) x[i] = lo + double(i) * w + w / 2;
    }
    r.setPhysType(PhysType(PhysType::None));
    r.setRefPhysType(a.physType(0));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"Histogram", {Real, Real, String}, {PerDivision}, 2, 3, handler<histogram>, "", PyVector, Plain},
};
// clang-format on

}  // namespace
