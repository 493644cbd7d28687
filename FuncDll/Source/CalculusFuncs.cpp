// Vector construction (zero, unit and index vectors of a given count, divided
// zero vectors, joins, plain copies), the element-wise extremes of several
// vectors, and the calculus of waveforms: running integral, running average,
// derivative and the area between two x-values.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "FuncKit.h"
#include "Interp.h"
#include "Options.h"

namespace {

using namespace cvmod;

// ---------------------------------------------------------------- construction

// The count in argument 0: its first value, sign dropped, truncated toward
// zero. Values at or past 2^31 (and NaN) cannot be a 32-bit count and are
// refused. Returns -1 when there is no count to use; rc then says whether that
// is a failure.
int64_t countOf(const FuncArgs& a, MessageHandler& m, FUNC_ERROR& rc) {
    rc = FuncOk;
    const std::optional<double> v = optionalReal(a, 0);
    if (!v) return -1;
    int32_t n;
    if (!exactInt(std::fabs(*v), n)) {
        rc = countOutOfRange(m, a.functionName());
        return -1;
    }
    return n;
}

// The x-values of the waveform in argument 0 when there is one for every
// value: the calculus is not taken over part of a waveform. Null otherwise.
const double* everyX(const FuncArgs& a) {
    const Wave w = waveOf(a, 0);
    return w.x && w.n == a.length(0) ? w.x : nullptr;
}

FUNC_ERROR makeVec(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const int64_t k = a.totalLength(0);
    const double* v = a.realData(0);
    FUNC_ERROR rc = FuncOk;
    if (k < 2) {
        const int64_t n = countOf(a, m, rc);
        if (n >= 0) r.makeRealVector(n);
        return rc;
    }
    // One division per element. Each length must fit 64 bits before it is
    // converted, and so must their sum, or the layout itself would overflow.
    std::vector<int64_t> lengths(static_cast<size_t>(k));
    int64_t total = 0;
    for (int64_t d = 0; d < k; ++d) {
        int64_t n;
        if (!exactInt(std::fabs(v[d]), n) || n > std::numeric_limits<int64_t>::max() - total)
            return countOutOfRange(m, a.functionName());
        total += n;
        lengths[static_cast<size_t>(d)] = n;
    }
    r.makeRealDivisions(lengths);  // the host hands the divisions out zero-filled
    return FuncOk;
}

FUNC_ERROR makeComplexVec(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    FUNC_ERROR rc;
    const int64_t n = countOf(a, m, rc);
    if (n > 0) r.makeComplexVector(n);
    return rc;
}

FUNC_ERROR unitVec(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    FUNC_ERROR rc;
    const int64_t n = countOf(a, m, rc);
    if (n > 0) std::fill_n(r.makeIntegerVector(n), n, 1);
    return rc;
}

FUNC_ERROR indexVector(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    FUNC_ERROR rc;
    const int64_t n = countOf(a, m, rc);
    if (n < 0) return rc;
    if (n == 0) {
        r.makeIntegerVector(1);  // [0]: a zero count still names the first index
        return FuncOk;
    }
    int32_t* out = r.makeIntegerVector(n);
    const int32_t count = static_cast<int32_t>(n);
    for (int32_t i = 0; i < count; ++i) out[i] = i;
    return FuncOk;
}

FUNC_ERROR floorOf(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    if (const auto v = optionalReal(a, 0)) setReal(r, std::floor(*v));
    return FuncOk;
}

// A copy of the values with the reference and physical types, but not the
// name or anything else of the argument's identity.
FUNC_ERROR valueCopy(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int64_t n = a.length(0), total = a.totalLength(0);
    // The host hands this function one division at a time; should it ever see
    // several, the result is laid out as divisions of n and never over-read.
    const int64_t divisions = a.numDivisions(0);
    const int64_t laidOut = divisions > 1 ? n * divisions : n;
    const int64_t copied = std::min(total, laidOut);
    if (a.type(0) == VD_Complex) {
        r.setType(VD_Complex, a.refType(0));
        r.allocate(n, AllocLikeArg, total);
        const cplx* in = a.complexData(0);
        if (in && copied > 0) std::copy_n(in, copied, r.complexData());
    } else {
        r.setType(VD_Real, a.refType(0));
        double* out = r.makeReal(n, AllocLikeArg, total);
        const double* in = a.realData(0);
        if (in && copied > 0) std::copy_n(in, copied, out);
    }
    r.copyRefFromArgs(a, AllocLikeArg, 0);
    r.setPhysType(a.physType(0));
    r.setRefPhysType(a.refPhysType(0));
    return FuncOk;
}

template <class T>
void copyElements(const T* in, int64_t n, T* out) {
    if (in && n > 0) std::copy_n(in, n, out);
}

FUNC_ERROR joinVectors(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const cv::ValuePtr& first = valueOf(a, 0);
    const cv::ValuePtr& second = valueOf(a, 1);
    if (!first || !second) return FuncOk;
    const int64_t la = first->size(), lb = second->size();
    cv::Kind kind = first->kind();
    if (second->kind() != kind) {
        if (la > 0 && lb > 0) return FuncOk;
        if (la == 0) kind = second->kind();
    }
    // When the kinds differ one side is empty, so its (null) data is never read.
    switch (kind) {
        case cv::Kind::Real: {
            double* out = r.makeRealVector(la + lb);
            copyElements(first->reals(), la, out);
            copyElements(second->reals(), lb, out + la);
            break;
        }
        case cv::Kind::Complex: {
            cplx* out = r.makeComplexVector(la + lb);
            copyElements(first->complexes(), la, out);
            copyElements(second->complexes(), lb, out + la);
            break;
        }
        case cv::Kind::String: {
            char** out = r.makeStringVector(la + lb);
            const char* const* sa = first->strings();
            const char* const* sb = second->strings();
            for (int64_t i = 0; sa && i < la; ++i) out[i] = copyString(sa[i]);
            for (int64_t i = 0; sb && i < lb; ++i) out[la + i] = copyString(sb[i]);
            break;
        }
        default: break;
    }
    return FuncOk;
}

// Element-wise maximum (or minimum) of equally long vectors. The strict
// comparison keeps the earliest argument on a tie.
template <bool largest>
FUNC_ERROR extremeOfEach(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int k = a.numArgs();
    const int64_t n = a.length(0);
    PhysType phys = a.physType(0);
    for (int i = 0; i < k; ++i) {
        if (a.length(i) != n || (n > 0 && !a.realData(i))) return FuncOk;
        if (a.physType(i) != phys) phys = PhysType(PhysType::Unknown);
    }
    r.setPhysType(phys);
    double* out = r.makeRealVector(n);
    copyElements(a.realData(0), n, out);
    for (int i = 1; i < k; ++i) {
        const double* v = a.realData(i);
        if (largest)
            for (int64_t j = 0; j < n; ++j) out[j] = v[j] > out[j] ? v[j] : out[j];
        else
            for (int64_t j = 0; j < n; ++j) out[j] = v[j] < out[j] ? v[j] : out[j];
    }
    return FuncOk;
}

// ---------------------------------------------------------------- calculus

// Cumulative trapezoid rule in x order as stored; with `average`, each
// partial integral is divided by the x-span it covers.
template <bool average>
FUNC_ERROR runningIntegral(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    r.setPhysType(average ? a.physType(0) : PhysType::mult(a.physType(0), a.refPhysType(0)));
    r.setType(VD_Real, VD_Real);
    const int64_t n = a.length(0);
    if (n < 1) return outOfRange(m, a.functionName());
    const double* x = everyX(a);
    const double* y = a.realData(0);
    if (!x || !y) return noReference(m, a, 1);
    r.allocate(n, AllocLikeArg, a.totalLength(0));
    double* out = r.data();
    out[0] = 0.0;
    double sum = 0.0;
    const double x0 = x[0];
    for (int64_t k = 1; k < n; ++k) {
        sum += 0.5 * (y[k - 1] + y[k]) * (x[k] - x[k - 1]);
        out[k] = average ? sum / (x[k] - x0) : sum;
    }
    r.copyRefFromArgs(a, AllocLikeArg, 0);
    return FuncOk;
}

// The derivative over steps k in [from, from + kSlopeBlock): out[k + 1] is the
// slope of step k. True when every one of those steps is long enough to be
// differenced on its own (|dx| > threshold and dx != 0), which is what the
// walk below would then have done; on false the values written are to be
// overwritten. Two steps at a time with SSE2, which every x86-64 has:
// subtraction and division are exact, so the lanes give the walk's bits.
constexpr int64_t kSlopeBlock = 256;

bool blockOfSlopes(const double* x, const double* y, int64_t from, double threshold, double* out) {
    const int64_t to = from + kSlopeBlock;
#ifdef __SSE2__
    const __m128d above = _mm_set1_pd(threshold), below = _mm_set1_pd(-threshold), zero = _mm_setzero_pd();
    __m128d all = _mm_castsi128_pd(_mm_set1_epi32(-1));
    for (int64_t k = from; k < to; k += 2) {
        const __m128d dx = _mm_sub_pd(_mm_loadu_pd(x + k + 1), _mm_loadu_pd(x + k));
        _mm_storeu_pd(out + k + 1, _mm_div_pd(_mm_sub_pd(_mm_loadu_pd(y + k + 1), _mm_loadu_pd(y + k)), dx));
        const __m128d longEnough = _mm_or_pd(_mm_cmpgt_pd(dx, above), _mm_cmplt_pd(dx, below));
        all = _mm_and_pd(all, _mm_and_pd(longEnough, _mm_cmpneq_pd(dx, zero)));
    }
    return _mm_movemask_pd(all) == 3;
#else
    bool all = true;
    for (int64_t k = from; k < to; ++k) {
        const double dx = x[k + 1] - x[k];
        out[k + 1] = (y[k + 1] - y[k]) / dx;
        all &= (std::fabs(dx) > threshold) & (dx != 0.0);
    }
    return all;
#endif
}

// Steps much shorter than the mean step (repeated or nearly repeated x-values)
// are not differenced on their own: the slope is taken across them and the
// derivative is interpolated linearly over the points between.
//
// Most waveforms have no such steps, and the walk's one division at a time
// is then the whole cost: whole blocks are tried two lanes at a time first,
// and a block that holds a short step is walked instead, so a waveform full
// of them costs at most twice the walk.
void slopesAlong(const double* x, const double* y, int64_t n, double threshold, double* out) {
    int64_t i = 0;
    int64_t walkUntil = 0;  // the end of a block found to hold a short step
    while (i < n - 1) {
        // The last step is always taken, however short: it stays with the walk.
        if (i >= walkUntil && i + kSlopeBlock < n - 1) {
            if (blockOfSlopes(x, y, i, threshold, out)) {
                if (i == 0) out[0] = out[1];
                i += kSlopeBlock;
                continue;
            }
            walkUntil = i + kSlopeBlock;
        }
        int64_t j = i + 1;
        while (j < n - 1 && !(std::fabs(x[j] - x[i]) > threshold)) ++j;
        const double span = x[j] - x[i];
        if (span == 0.0) {
            // The last points share one x-value: there is nothing to take a
            // slope across, so the slope so far carries on (undefined only when
            // every x is the same).
            const double s = i == 0 ? std::numeric_limits<double>::quiet_NaN() : out[i];
            for (int64_t k = i; k <= j; ++k) out[k] = s;
        } else {
            const double s = (y[j] - y[i]) / span;
            if (i == 0) out[0] = s;
            const double from = out[i];
            for (int64_t k = i + 1; k < j; ++k) out[k] = from + (s - from) * (x[k] - x[i]) / span;
            out[j] = s;
        }
        i = j;
    }
}

FUNC_ERROR derivative(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const double* x = everyX(a);
    r.setPhysType(x ? PhysType::div(a.physType(0), a.refPhysType(0)) : a.physType(0));
    r.setType(VD_Real, VD_Real);
    const int64_t n = a.length(0);
    const double* y = a.realData(0);
    if (n < 2 || !y) return outOfRange(m, a.functionName());
    // The host hands over one division at a time, and every element of it is
    // written below: no layout to copy, nothing to clear.
    r.allocateUninitialized(n, AllocSingle, n);
    double* out = r.data();

    if (!x) {
        for (int64_t k = 1; k < n; ++k) out[k] = y[k] - y[k - 1];
        out[0] = out[1];
        return FuncOk;
    }
    const double accept = sp_GetDoubleOption("DerivAcceptFactor");
    slopesAlong(x, y, n, std::fabs(x[n - 1] - x[0]) / static_cast<double>(n - 1) * accept, out);
    r.copyRefFromArgs(a, AllocLikeArg, 0);
    return FuncOk;
}

// Where the host's crossing search puts x = target: the y-value there, and the
// first sample at or past the target in the direction x runs (so that
// x[index - 1] < target <= x[index]). The search may report either sample of
// the bracket; normalising it keeps both end segments of the area exact.
bool locate(const double* x, const double* y, int64_t n, double target, bool decreasing, double& yAt,
            int64_t& index) {
    const double xMin = decreasing ? x[n - 1] : x[0], xMax = decreasing ? x[0] : x[n - 1];
    if (!(target >= xMin && target <= xMax)) return false;
    YList<double> found;
    YList<int64_t> indices;
    InterpOpts opts;
    opts.ySearch = opts.flag1 = opts.flag2 = opts.flag3 = false;
    opts.order = 1;  // linear, so the end segments are integrated exactly
    opts.direction = 0;
    opts.reserved = 0.0;
    support_FindYFromX(found, indices, y, x, n, target, opts);
    if (found.empty() || indices.empty()) return false;
    yAt = found.last();  // finds are inserted at the front: the first one is last
    int64_t k = std::clamp<int64_t>(indices.last(), 0, n - 1);
    auto before = [&](double v) { return decreasing ? v > target : v < target; };
    while (k < n - 1 && before(x[k])) ++k;
    while (k > 0 && !before(x[k - 1])) --k;
    index = k;
    return true;
}

FUNC_ERROR area(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int64_t n = a.length(0);
    const double* x = everyX(a);
    const double* y = a.realData(0);
    if (n < 1 || !x || !y) return FuncOk;
    const double start = optionalReal(a, 1).value_or(x[0]), end = optionalReal(a, 2).value_or(x[n - 1]);

    const bool decreasing = n > 1 && x[0] > x[1];
    for (int64_t k = 1; k < n; ++k)
        if (decreasing ? !(x[k] < x[k - 1]) : !(x[k] > x[k - 1])) return FuncOk;

    // Integrate in the direction x runs; limits given against it flip the sign.
    const bool swapped = decreasing ? start < end : start > end;
    const double lo = swapped ? end : start, hi = swapped ? start : end;
    double yLo = 0, yHi = 0;
    int64_t i0 = 0, i1 = 0;
    if (!locate(x, y, n, lo, decreasing, yLo, i0) || !locate(x, y, n, hi, decreasing, yHi, i1)) return FuncOk;

    double sum;
    if (i0 >= i1) {
        sum = 0.5 * (yHi + yLo) * (hi - lo);
    } else {
        sum = 0.5 * (y[i0] + yLo) * (x[i0] - lo);
        for (int64_t k = i0 + 1; k < i1; ++k) sum += 0.5 * (y[k] + y[k - 1]) * (x[k] - x[k - 1]);
        sum += 0.5 * (yHi + y[i1 - 1]) * (hi - x[i1 - 1]);
    }
    setReal(r, swapped ? -sum : sum);
    return FuncOk;
}

// MaxN and MinN take up to 32 real vectors.
const ArgTypeList<argType> kThirtyTwoReals{
    Real, Real, Real, Real, Real, Real, Real, Real,
    Real, Real, Real, Real, Real, Real, Real, Real,
    Real, Real, Real, Real, Real, Real, Real, Real,
    Real, Real, Real, Real, Real, Real, Real, Real
};

// clang-format off
FunctionRow registrations[] = {
    {"area",           {Real, Real, Real}, {},            1, 3,  handler<area>,                   "", PyReal2,         Plain},
    {"avg",            {Real},             {PerDivision}, 1, 1,  handler<runningIntegral<true>>,  "", PyVector,        Plain},
    {"diff",           {Real},             {PerDivision}, 1, 1,  handler<derivative>,             "", PyVector,        Plain},
    {"integ",          {Real},             {PerDivision}, 1, 1,  handler<runningIntegral<false>>, "", PyVector,        Plain},
    {"makecomplexvec", {Real},             {},            1, 1,  handler<makeComplexVec>,         "", PyVector,        Plain},
    {"makevec",        {Real},             {},            1, 1,  handler<makeVec>,                "", PyRealVector,    Plain},
    {"unitvec",        {Real},             {},            1, 1,  handler<unitVec>,                "", PyIntegerVector, Plain},
    {"vector",         {Real},             {},            1, 1,  handler<indexVector>,            "", PyIntegerVector, Plain},
    {"Floor",          {Real},             {},            1, 1,  handler<floorOf>,                "", PyReal,          Plain},
    {"MaxN",           kThirtyTwoReals,    {},            1, 32, handler<extremeOfEach<true>>,    "", PyRealVector,    Plain},
    {"MinN",           kThirtyTwoReals,    {},            1, 32, handler<extremeOfEach<false>>,   "", PyRealVector,    Plain},
    {"JoinVectors",    {Any, Any},         {},            2, 2,  handler<joinVectors>,            "", PyVector,        ArrayArgs},
    {"Val",            {Numeric},          {PerDivision}, 1, 1,  handler<valueCopy>,              "", PyVector,        Plain},
};
// clang-format on

}  // namespace
