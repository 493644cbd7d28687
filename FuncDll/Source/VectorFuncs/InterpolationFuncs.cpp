// Waveform functions that find where a waveform crosses a level or what it
// holds at an x-value, resample it onto an even grid, pair two vectors into a
// waveform, and cut a waveform to an x-interval or an index range.
//
// Every result here is one division (the host joins per-division calls), so
// values and x-values are sized by count alone.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "../FuncKit.h"
#include "Interp.h"
#include "Search.h"
#include "Waveform.h"
#include "YContainers.h"

namespace {

using namespace cvmod;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char* const kTooFewPoints = "Need at least 2 points for interpolation in function '%s'";
const char* const kNoGrid = "Invalid data for '%s'. Data has no reference or interval<=0";
const char* const kComplexData = "Argument %d in function '%s' is complex. Expected real";
const char* const kBadRange = "Invalid range in 'Range()' function";

// The result takes the waveform's quantities (or, for a level search, the
// same ones swapped: the finds are x-values).
void typesOf(const FuncArgs& a, FuncResult& r, bool swapped = false) {
    r.setPhysType(swapped ? a.refPhysType(0) : a.physType(0));
    r.setRefPhysType(swapped ? a.physType(0) : a.refPhysType(0));
}

// ---------------------------------------------------------------- XFromY, YFromX

// The level search (x where y reaches a level) and the value search (y at an
// x-value) are the same walk of the host's crossing search with the roles of
// x and y exchanged.
template <bool LevelSearch>
FUNC_ERROR crossings(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const Wave w = waveOf(a, 0);
    if (!w.x) return noReference(m, a, 1);
    int32_t direction = 0;
    if (LevelSearch) {
        const double d = realOr(a, 3, kNaN);
        direction = d > 0 ? 1 : d < 0 ? -1 : 0;
    }
    // Absent, zero, negative or NaN order: quadratic.
    const double orderArg = realOr(a, 2, kNaN);
    const int64_t order = std::min<int64_t>(orderArg > 0 ? toInt32(orderArg) : 2, w.n - 1);
    const InterpOpts opts{LevelSearch, false, false, false, int32_t(order), direction, 0.0};

    YList<double> found;
    YList<int64_t> indices;
    const double target = realOr(a, 1, kNaN);
    if (LevelSearch)
        support_FindYFromX(found, indices, w.x, w.y, w.n, target, opts);
    else
        support_FindYFromX(found, indices, w.y, w.x, w.n, target, opts);

    const int64_t k = found.count();
    if (k == 0) return FuncOk;
    cv::copyFindsInOrder(found, r.makeRealVector(k));
    typesOf(a, r, LevelSearch);
    return FuncOk;
}

// ---------------------------------------------------------------- Interp

// Logic-level signals are steps: a polynomial through them would overshoot.
constexpr int kLogicLevel = PhysType::LogicLevel;

FUNC_ERROR interpolate(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const Wave w = waveOf(a, 0);
    const bool includeEnd = realAt(a, 3, 0).value_or(0) != 0;
    const bool intervalMode = realAt(a, 3, 1).value_or(0) != 0;
    const bool keepSinglePoint = realAt(a, 3, 2).value_or(0) != 0;

    if (keepSinglePoint && w.n == 1) {
        r.makeRealVector(1)[0] = w.y[0];
        if (w.x) {
            r.makeRealRefVector(1)[0] = w.x[0];
            r.setRefName(a.refName(0));
        }
        typesOf(a, r);
        return FuncOk;
    }

    double interval = 0.0;
    int64_t count = 0;
    if (intervalMode) {
        interval = realOr(a, 1, kNaN);
        if (!w.x || !(interval > 0)) {
            m.error(kNoGrid, a.functionName());
            return FuncFailed;
        }
        if (w.n > 0) {
            // The small bias keeps a span that is a whole number of intervals
            // from losing its last point to rounding.
            double points = std::floor((w.x[w.n - 1] - w.x[0]) / interval + 1e-14) + 1;
            // Counts beyond any memory go on to the allocation, which refuses
            // them with the host's out-of-memory message.
            count = !(points >= 2) ? 0 : points > 4e18 ? int64_t(4e18) : int64_t(points);
        }
    } else {
        count = intOr(a, 1, 0);
    }
    // An empty waveform has nothing to interpolate from either.
    if (count < 2 || w.n < 1) {
        m.error(kTooFewPoints, a.functionName());
        return FuncFailed;
    }

    int32_t order = 2;
    if (const auto v = optionalReal(a, 2)) {
        const int32_t asked = toInt32(*v);
        order = asked == -1 ? (a.physType(0) == kLogicLevel ? 1 : 2) : std::max(asked, 1);
    }

    double* out = r.makeRealVector(count);
    std::vector<double> indexAxis;
    const double* abscissa = w.x;
    if (!abscissa) {
        indexAxis.resize(size_t(w.n));
        std::iota(indexAxis.begin(), indexAxis.end(), 0.0);
        abscissa = indexAxis.data();
    }
    cv::wave::ResampleSource source{w.y, abscissa, w.n, realAt(a, 1, 1).value_or(abscissa[0]),
                                    realAt(a, 1, 2).value_or(abscissa[w.n - 1])};
    cv::wave::ResampleDest dest{out, intervalMode ? interval : 0.0, count};
    if (!cv::wave::resample(source, dest, order, includeEnd)) {
        m.error("Interrupted in function '%s'", a.functionName());
        return FuncFailed;
    }

    typesOf(a, r);
    if (w.x) {
        double* ref = r.makeRealRefVector(count);
        r.setRefName(a.refName(0));
        const double start = source.start, step = dest.step;
        for (int64_t i = 0; i < count; ++i) ref[i] = start + double(i) * step;
    }
    return FuncOk;
}

// ---------------------------------------------------------------- XY, XYOrdered

void nameAsPair(const FuncArgs& a, FuncResult& r) {
    r.setPhysType(a.physType(0));
    r.setRefPhysType(a.physType(1));
    r.setRefName(a.yName(1));
}

FUNC_ERROR pairVectors(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    // Only pairs that exist are written: both vectors take the shorter
    // length, so no slot of either is left holding a value nobody computed.
    const int64_t n = std::min(a.length(0), a.length(1));
    const double* y = a.realData(0);
    const double* x = a.realData(1);
    if (!y || !x) return FuncOk;
    setReals(r, y, n);
    std::copy(x, x + n, r.makeRealRefVector(n));
    nameAsPair(a, r);
    return FuncOk;
}

FUNC_ERROR pairVectorsOrdered(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int64_t n = a.length(0);
    const double* y = a.realData(0);
    const double* x = a.realData(1);
    if (n != a.length(1) || !y || !x) return FuncOk;
    YVector<double> xs;
    xs.resize(size_t(n));
    std::copy(x, x + n, xs.data());
    YVector<int64_t> order;
    sp_GetSortMap(xs, order);
    if (order.count() != n) return FuncOk;
    double* outY = r.makeRealVector(n);
    double* outX = r.makeRealRefVector(n);
    const int64_t* p = order.data();
    for (int64_t i = 0; i < n; ++i) {
        outY[i] = y[p[i]];
        outX[i] = x[p[i]];
    }
    nameAsPair(a, r);
    return FuncOk;
}

// ---------------------------------------------------------------- Truncate

FUNC_ERROR truncateToInterval(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const Wave w = waveOf(a, 0);
    if (!w.x) return noReference(m, a, 1);
    if (a.type(0) != VD_Real) {
        m.error(kComplexData, 1, a.functionName());
        return FuncFailed;
    }
    const bool hasStart = givenReal(a, 1), hasEnd = givenReal(a, 2);
    double lo = realOr(a, 1, kNaN), hi = realOr(a, 2, kNaN);
    if (hasStart && hasEnd && lo > hi) std::swap(lo, hi);
    if (!hasStart) {
        lo = std::numeric_limits<double>::max();
        for (int64_t i = 0; i < w.n; ++i) lo = std::min(lo, w.x[i]);
    }
    if (!hasEnd) {
        hi = -std::numeric_limits<double>::max();
        for (int64_t i = 0; i < w.n; ++i) hi = std::max(hi, w.x[i]);
    }
    cv::wave::TruncateOutData_FuncResult sink(r);
    if (cv::wave::truncateWaveform(lo, hi, w.y, w.x, w.n, sink)) {
        typesOf(a, r);
        r.setRefName(a.refName(0));
    }
    return FuncOk;
}

// ---------------------------------------------------------------- Range

FUNC_ERROR selectRange(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    cv::ValuePtr v = valueOf(a, 0);
    // Integer and boolean vectors arrive unconverted; their range is real.
    if (v && (v->kind() == cv::Kind::Integer || v->kind() == cv::Kind::Integer64 || v->kind() == cv::Kind::Bool))
        v = v->convertedTo(cv::Kind::Real);
    const int64_t n = v ? v->divisionLength(0) : 0;
    const int64_t first = intOr(a, 1, 0);
    const int64_t last = givenReal(a, 2) ? intOr(a, 2, 0) : n - 1;
    const bool kindKnown = v && (v->reals() || v->complexes() || v->strings());
    if (last < first || first < 0 || last >= n || !kindKnown) {
        m.error(kBadRange);
        return FuncFailed;
    }
    const int64_t count = last - first + 1;
    if (const double* y = v->reals()) {
        setReals(r, y + first, count);
    } else if (const cplx* z = v->complexes()) {
        std::copy(z + first, z + last + 1, r.makeComplexVector(count));
    } else {
        const char* const* s = v->strings() + first;
        char** out = r.makeStringVector(count);
        // A null entry stays null: it reads as "" either way.
        for (int64_t i = 0; i < count; ++i) out[i] = s[i] ? copyString(s[i]) : nullptr;
    }
    r.setPhysType(v->physType());
    // A reference too short for the range (the value model allows one) is
    // dropped rather than read past its end.
    const cv::ValuePtr& ref = v->ref();
    if (ref && ref->divisionLength(0) > last && (ref->reals() || ref->complexes())) {
        if (const double* x = ref->reals())
            std::copy(x + first, x + last + 1, r.makeRealRefVector(count));
        else
            std::copy(ref->complexes() + first, ref->complexes() + last + 1, r.makeComplexRefVector(count));
        r.setRefPhysType(v->refPhysType());
        r.setRefName(a.refName(0));
    }
    return FuncOk;
}

// Rows marked Pure only read their arguments: the runs of a divided call may
// be measured on several threads at once.
// clang-format off
FunctionRow registrations[] = {
    {"XFromY",    {Real, Real, Real, Real}, {PerDivision, PerDivision}, 2, 4, handler<crossings<true>>,    "", PyRealVector, Plain, Pure},
    {"YFromX",    {Real, Real, Real},       {PerDivision, PerDivision}, 2, 3, handler<crossings<false>>,   "", PyRealVector, Plain, Pure},
    {"Interp",    {Real, Real, Real, Real}, {PerDivision},              2, 4, handler<interpolate>,        "", PyVector,     Plain},
    {"XY",        {Real, Real},             {PerDivision, PerDivision}, 2, 2, handler<pairVectors>,        "", PyVector,     Plain},
    {"XYOrdered", {Real, Real},             {PerDivision, PerDivision}, 2, 2, handler<pairVectorsOrdered>, "", PyVector,     Plain},
    {"Truncate",  {Real, Real, Real},       {PerDivision},              1, 3, handler<truncateToInterval>, "", PyVector,     Plain},
    {"Range",     {AnyVector, Real, Real},  {PerDivision},              1, 3, handler<selectRange>,        "", PyVector,     Plain},
};
// clang-format on

}  // namespace
