// Measures of a whole vector: its group delay, one element of it, and the
// counts of its points and divisions.
#include <cmath>
#include <optional>

#include "ElementWise.h"
#include "FuncKit.h"

namespace {

using namespace cvmod;

// ---------------------------------------------------------------- group delay

constexpr double kTwoPi = 6.283185307179586;

const char* const kTooFewPoints = "Need at least two points to find group delay";
const char* const kInfiniteSlope = "Cannot find group delay. Argument has infinite slope";

// -d(phase)/d(omega) from the unwrapped phase in radians: the slope of the
// parabola through each point and its neighbours inside, the straight slope of
// the first and last pair at the ends.
FUNC_ERROR groupDelay(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const int64_t n = a.length(0);
    if (n < 2) {
        m.error(kTooFewPoints);
        return FuncFailed;
    }
    r.setPhysType(PhysType::div(PhysType(PhysType::None), a.refPhysType(0)));
    // A real response has no phase to change, hence zero delay.
    double* out = realLike(a, r, 0);
    const cplx* z = a.complexData(0);
    if (!z) return FuncOk;

    const double* xr = a.refData(0);
    const cplx* xc = a.complexRefData(0);
    if ((!xr && !xc) || a.refLength(0) < n) return noReference(m, a, 1);
    unwrappedPhase(out, z, n, 1.0);
    auto xAt = [=](int64_t k) { return xr ? xr[k] : xc[k].real(); };

    bool infinite = false;
    double x0 = xAt(0), p0 = out[0], x1 = xAt(1), p1 = out[1];
    if (x1 != x0) out[0] = -(p1 - p0) / (x1 - x0) / kTwoPi;
    else infinite = true;
    for (int64_t k = 2; k < n && !infinite; ++k) {
        double x2 = xAt(k), p2 = out[k];  // phase k is overwritten only in the next step
        if (x0 == x1 || x1 == x2 || x0 == x2) {
            infinite = true;
            break;
        }
        double a1 = (p0 - p1) / (x0 - x1);
        double c = ((p1 - p2) / (x1 - x2) - a1) / (x2 - x0);
        double b = a1 - (x1 + x0) * c;
        out[k - 1] = -(2 * c * x1 + b) / kTwoPi;
        x0 = x1, p0 = p1, x1 = x2, p1 = p2;
    }
    if (x1 != x0) out[n - 1] = -(p1 - p0) / (x1 - x0) / kTwoPi;
    if (infinite || x1 == x0) {
        m.error(kInfiniteSlope);
        return FuncFailed;
    }
    return FuncOk;
}

// ---------------------------------------------------------------- element access

FUNC_ERROR elementAt(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    r.setPhysType(a.physType(0));
    auto fail = [&](const char* message) {
        m.error(message);
        return FuncFailed;
    };
    if (a.type(1) != VD_Real || !a.realData(1)) return fail("Complex index");
    const std::optional<double> index = firstReal(a, 1);
    if (!index || a.length(1) != 1) return fail("Index must be scalar");
    const double j = *index;
    if (j != std::floor(j)) return fail("Index must be an integer");  // NaN too
    if (j < 0 || j >= double(a.length(0))) return fail("Index out of range");
    const int64_t i = int64_t(j);
    switch (a.type(0)) {
        case VD_Real: setReal(r, a.realData(0)[i]); break;
        case VD_Complex: *r.makeComplexVector(1) = a.complexData(0)[i]; break;
        case VD_String: *r.makeStringScalar() = copyString(a.stringData(0)[i]); break;
    }
    return FuncOk;
}

// ---------------------------------------------------------------- counts

FUNC_ERROR length(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger64(r, a.length(0));
    return FuncOk;
}

FUNC_ERROR numDivisions(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger64(r, a.numDivisions(0));
    return FuncOk;
}

// The number of runs of a divided vector, the number of points of a plain one.
FUNC_ERROR vecLength(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int64_t d = a.numDivisions(0);
    setInteger64(r, d == 1 ? a.length(0) : d);
    return FuncOk;
}

// The row declares a 64-bit count; the value has always been built as a real.
FUNC_ERROR numElems(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    double* out = r.makeReal(1, AllocSingle, a.numDivisions(0));
    if (out) out[0] = double(a.length(0));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"GroupDelay",   {Numeric},   {PerDivision}, 1, 1, handler<groupDelay>,   "", PyVector,    Plain},
    {"_Index",       {Any, Real}, {},            2, 2, handler<elementAt>,    "", PyVector,    Plain},
    {"length",       {Any},       {Whole},       1, 1, handler<length>,       "", PyInteger64, ArrayArgs},
    {"veclength",    {Any},       {Whole},       1, 1, handler<vecLength>,    "", PyInteger64, ArrayArgs},
    {"NumDivisions", {Numeric},   {Whole},       1, 1, handler<numDivisions>, "", PyInteger64, Plain},
    {"NumElems",     {Any},       {Count},       1, 1, handler<numElems>,     "", PyInteger64, ArrayArgs},
};
// clang-format on

}  // namespace
