// Waveform functions that find where a waveform crosses a level or what it
// holds at an x-value, resample it onto an even grid, pair two vectors into a
// waveform, and cut a waveform to an x-interval or an index range.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <numeric>
#include <vector>

#include "FuncArgs.h"
#include "FuncContract.h"
#include "Interp.h"
#include "Search.h"
#include "Waveform.h"
#include "YContainers.h"

namespace {

constexpr const char* kNoReference = "Argument %d in function '%s' has no reference (xvalues)";

// ---------------------------------------------------------------- argument reading

// An optional argument counts as given when the host supplied data for it.
bool given(const FuncArgs& a, int i) { return i < a.numArgs() && a.length(i) > 0 && a.realData(i); }

double firstValue(const FuncArgs& a, int i) {
    return given(a, i) ? a.realData(i)[0] : std::numeric_limits<double>::quiet_NaN();
}

// Counts, orders and indices from a script are truncated toward zero to 32
// bits; out-of-range values saturate instead of invoking undefined behaviour,
// NaN reads as 0.
int32_t toInt32(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// Absent, zero, negative or NaN order: quadratic.
int32_t orderArg(const FuncArgs& a, int i) {
    double v = firstValue(a, i);
    return v > 0 ? toInt32(v) : 2;
}

// A waveform argument. A reference shorter than the values (which the value
// model does not forbid) limits the samples to the pairs that exist.
struct Wave {
    const double* y = nullptr;
    const double* x = nullptr;  // null without a real reference
    int64_t n = 0;
};

Wave waveOf(const FuncArgs& a, int i) {
    Wave w;
    w.y = a.realData(i);
    w.x = a.refData(i);
    w.n = w.y ? a.length(i) : 0;
    if (w.x) w.n = std::min(w.n, a.refLength(i));
    return w;
}

// ---------------------------------------------------------------- XFromY, YFromX

// The level search (x where y reaches a level) and the value search (y at an
// x-value) are the same walk of the host's crossing search with the roles of
// x and y exchanged.
FUNC_ERROR findCrossings(const FuncArgs& a, FuncResult& r, MessageHandler& messages, bool levelSearch) {
    const Wave w = waveOf(a, 0);
    if (!w.x) {
        messages.error(kNoReference, 1, a.functionName());
        return FuncFailed;
    }
    int32_t direction = 0;
    if (levelSearch) {
        double d = firstValue(a, 3);
        direction = d > 0 ? 1 : d < 0 ? -1 : 0;
    }
    int64_t order = std::min<int64_t>(orderArg(a, 2), w.n - 1);
    const InterpOpts opts{levelSearch, false, false, false, int32_t(order), direction, 0.0};

    YList<double> found;
    YList<int64_t> indices;
    const double target = firstValue(a, 1);
    if (levelSearch)
        support_FindYFromX(found, indices, w.x, w.y, w.n, target, opts);
    else
        support_FindYFromX(found, indices, w.y, w.x, w.n, target, opts);

    const int64_t k = found.count();
    if (k == 0) return FuncOk;
    // The search puts each find at the front of its list: reading the list
    // backwards gives the finds in the order of the data.
    double* out = r.makeReal(k, AllocSingle, -1);
    double* slot = out + k;
    for (double v : found) *--slot = v;
    if (levelSearch) {
        r.setPhysType(a.refPhysType(0));
        r.setRefPhysType(a.physType(0));
    } else {
        r.setPhysType(a.physType(0));
        r.setRefPhysType(a.refPhysType(0));
    }
    return FuncOk;
}

FUNC_ERROR xFromY(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                  const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = findCrossings(args.funcArgs(), result->funcResult(), *messages, true);
    result->finish();
    return rc;
}

FUNC_ERROR yFromX(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                  const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = findCrossings(args.funcArgs(), result->funcResult(), *messages, false);
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- Interp

// Logic-level signals are steps: a polynomial through them would overshoot.
constexpr int kLogicLevel = PhysType::LogicLevel;

FUNC_ERROR interpolate(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const Wave w = waveOf(a, 0);

    const int32_t flagCount = a.numArgs() > 3 && a.realData(3) ? a.size(3) : 0;
    const double* flags = flagCount > 0 ? a.realData(3) : nullptr;
    const bool includeEnd = flagCount >= 1 && flags[0] != 0;
    const bool intervalMode = flagCount >= 2 && flags[1] != 0;
    const bool keepSinglePoint = flagCount >= 3 && flags[2] != 0;

    if (keepSinglePoint && w.n == 1) {
        r.makeRealVector(1)[0] = w.y[0];
        if (w.x) {
            r.makeRealRefVector(1)[0] = w.x[0];
            r.setRefName(a.refName(0));
        }
        r.setPhysType(a.physType(0));
        r.setRefPhysType(a.refPhysType(0));
        return FuncOk;
    }

    const int32_t gridValues = given(a, 1) ? a.size(1) : 0;
    const double* grid = given(a, 1) ? a.realData(1) : nullptr;
    double interval = 0.0;
    int64_t count = 0;
    if (intervalMode) {
        interval = grid ? grid[0] : std::numeric_limits<double>::quiet_NaN();
        if (!w.x || !(interval > 0)) {
            messages.error("Invalid data for '%s'. Data has no reference or interval<=0", a.functionName());
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
        count = grid ? toInt32(grid[0]) : 0;
    }
    // An empty waveform has nothing to interpolate from either.
    if (count < 2 || w.n < 1) {
        messages.error("Need at least 2 points for interpolation in function '%s'", a.functionName());
        return FuncFailed;
    }

    int32_t order = 2;
    if (a.numArgs() > 2 && given(a, 2)) {
        int32_t v = toInt32(a.realData(2)[0]);
        order = v == -1 ? (a.physType(0) == kLogicLevel ? 1 : 2) : std::max(v, 1);
    }

    r.setType(VD_Real, VD_Real);
    r.allocate(count, AllocSingle, 0);
    double* out = r.data();

    std::vector<double> indexAxis;
    const double* abscissa = w.x;
    if (!abscissa) {
        indexAxis.resize(size_t(w.n));
        std::iota(indexAxis.begin(), indexAxis.end(), 0.0);
        abscissa = indexAxis.data();
    }
    cv::wave::ResampleSource source{w.y, abscissa, w.n, gridValues >= 2 ? grid[1] : abscissa[0],
                                    gridValues >= 3 ? grid[2] : abscissa[w.n - 1]};
    cv::wave::ResampleDest dest{out, intervalMode ? interval : 0.0, count};
    cv::wave::resample(source, dest, order, includeEnd);

    r.setPhysType(a.physType(0));
    r.setRefPhysType(a.refPhysType(0));
    if (w.x) {
        r.allocateRef(count, AllocLikeArg, 0);
        r.setRefName(a.refName(0));
        double* ref = r.refData();
        const double start = source.start, step = dest.step;
        for (int64_t i = 0; i < count; ++i) ref[i] = start + double(i) * step;
    }
    return FuncOk;
}

FUNC_ERROR interp(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                  const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = interpolate(args.funcArgs(), result->funcResult(), *messages);
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- XY, XYOrdered

void nameAsPair(const FuncArgs& a, FuncResult& r) {
    r.setPhysType(a.physType(0));
    r.setRefPhysType(a.physType(1));
    r.setRefName(a.yName(1));
}

FUNC_ERROR pairVectors(const FuncArgs& a, FuncResult& r) {
    // Only pairs that exist are written: both vectors take the shorter
    // length, so no slot of either is left holding a value nobody computed.
    const int64_t n = std::min(a.length(0), a.length(1));
    const double* y = a.realData(0);
    const double* x = a.realData(1);
    if (!y || !x) return FuncOk;
    double* outY = r.makeReal(n, AllocLikeArg, a.totalLength(0));
    double* outX = r.makeRealRef(n, AllocLikeArg, a.totalLength(1));
    std::copy(y, y + n, outY);
    std::copy(x, x + n, outX);
    nameAsPair(a, r);
    return FuncOk;
}

FUNC_ERROR pairVectorsOrdered(const FuncArgs& a, FuncResult& r) {
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
    double* outY = r.makeReal(n, AllocLikeArg, a.totalLength(0));
    double* outX = r.makeRealRef(n, AllocLikeArg, a.totalLength(1));
    const int64_t* p = order.data();
    for (int64_t i = 0; i < n; ++i) {
        outY[i] = y[p[i]];
        outX[i] = x[p[i]];
    }
    nameAsPair(a, r);
    return FuncOk;
}

FUNC_ERROR xy(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
              const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = pairVectors(args.funcArgs(), result->funcResult());
    result->finish();
    return rc;
}

FUNC_ERROR xyOrdered(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                     const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = pairVectorsOrdered(args.funcArgs(), result->funcResult());
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- Truncate

FUNC_ERROR truncateToInterval(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const Wave w = waveOf(a, 0);
    if (!w.x) {
        messages.error(kNoReference, 1, a.functionName());
        return FuncFailed;
    }
    if (a.type(0) != VD_Real) {
        messages.error("Argument %d in function '%s' is complex. Expected real", 1, a.functionName());
        return FuncFailed;
    }
    const bool hasStart = given(a, 1), hasEnd = given(a, 2);
    double lo = firstValue(a, 1), hi = firstValue(a, 2);
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
        r.setPhysType(a.physType(0));
        r.setRefPhysType(a.refPhysType(0));
        r.setRefName(a.refName(0));
    }
    return FuncOk;
}

FUNC_ERROR truncate(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                    const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = truncateToInterval(args.funcArgs(), result->funcResult(), *messages);
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- Range

char* duplicate(const char* s) {
    if (!s) return nullptr;
    char* d = strdup(s);
    if (!d) throw std::bad_alloc();
    return d;
}

FUNC_ERROR selectRange(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    cv::ValuePtr v = a.vector(0);
    // Integer and boolean vectors arrive unconverted; their range is real.
    if (v && (v->kind() == cv::Kind::Integer || v->kind() == cv::Kind::Integer64 || v->kind() == cv::Kind::Bool))
        v = v->convertedTo(cv::Kind::Real);
    const int64_t n = v ? v->divisionLength(0) : 0;
    const int64_t first = given(a, 1) ? toInt32(a.realData(1)[0]) : 0;
    const int64_t last = given(a, 2) ? toInt32(a.realData(2)[0]) : n - 1;
    const bool kindKnown = v && (v->reals() || v->complexes() || v->strings());
    if (last < first || first < 0 || last >= n || !kindKnown) {
        messages.error("Invalid range in 'Range()' function");
        return FuncFailed;
    }
    const int64_t count = last - first + 1;
    if (const double* y = v->reals()) {
        std::copy(y + first, y + last + 1, r.makeReal(count, AllocSingle, -1));
    } else if (const cplx* z = v->complexes()) {
        std::copy(z + first, z + last + 1, r.makeComplex(count, AllocSingle, -1));
    } else {
        const char* const* s = v->strings();
        r.setType(VD_String, VD_Real);
        r.allocate(count, AllocSingle, -1);
        char** out = r.stringData();
        for (int64_t i = 0; i < count; ++i) out[i] = duplicate(s[first + i]);
    }
    r.setPhysType(v->physType());
    // A reference too short for the range (the value model allows one) is
    // dropped rather than read past its end.
    const cv::ValuePtr& ref = v->ref();
    if (ref && ref->divisionLength(0) > last && (ref->reals() || ref->complexes())) {
        if (const double* x = ref->reals())
            std::copy(x + first, x + last + 1, r.makeRealRef(count, AllocSingle, -1));
        else
            std::copy(ref->complexes() + first, ref->complexes() + last + 1, r.makeComplexRef(count, AllocSingle, -1));
        r.setRefPhysType(v->refPhysType());
        r.setRefName(a.refName(0));
    }
    return FuncOk;
}

FUNC_ERROR range(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                 const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = selectRange(args.funcArgs(), result->funcResult(), *messages);
    result->finish();
    return rc;
}

const FunctionOption kNoOptions{};

// clang-format off
FuncConstruct registrations[] = {
    {"XFromY",    {4, 4, 4, 4}, {1, 1}, 2, 4, xFromY,    "", PyRealVector, kNoOptions},
    {"YFromX",    {4, 4, 4},    {1, 1}, 2, 3, yFromX,    "", PyRealVector, kNoOptions},
    {"Interp",    {4, 4, 4, 4}, {1},    2, 4, interp,    "", PyVector,     kNoOptions},
    {"XY",        {4, 4},       {1, 1}, 2, 2, xy,        "", PyVector,     kNoOptions},
    {"XYOrdered", {4, 4},       {1, 1}, 2, 2, xyOrdered, "", PyVector,     kNoOptions},
    {"Truncate",  {4, 4, 4},    {1},    1, 3, truncate,  "", PyVector,     kNoOptions},
    {"Range",     {2, 4, 4},    {1},    1, 3, range,     "", PyVector,     kNoOptions},
};
// clang-format on

}  // namespace
