// The element-wise dispatcher (see ElementWise.h).
#include "ElementWise.h"

#include <cmath>

namespace cvmod {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

// The rule's type serves the values and, for a result that gets no reference
// of the argument's, the reference; sharing the argument's brings its type.
void setPhysTypes(FuncResult& r, PhysType t) {
    r.setPhysType(t);
    r.setRefPhysType(t);
}

// A reduction's one value per call: the host hands these functions one
// division at a time and joins the values.
void allocateOne(FuncResult& r, VD_type kind) {
    r.setType(kind, VD_Real);
    r.allocate(1, AllocSingle, 1);
}

FUNC_ERROR failed(const UnaryRow& row, int32_t status, MessageHandler& m) {
    switch (status) {
        case KernelOutOfRange: return outOfRange(m, row.name);
        case KernelFailed:
            if (row.failure) m.error(row.failure);
            return FuncFailed;
        default: return overflow(m, row.name);
    }
}

}  // namespace

FUNC_ERROR runUnary(const UnaryRow& row, const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    setPhysTypes(r, row.physTypeRule(a.physType(0)));
    const int64_t n = a.totalLength(0);
    const bool reduce = row.shape == OnePerDivision;
    // The result is laid out, with its reference, before the kernel runs,
    // and not cleared: every kernel writes each element, and a failing one
    // leaves what it has written, which the host discards.
    auto realOut = [&] { return reduce ? (allocateOne(r, VD_Real), r.data()) : realLike(a, r, 0, Fill::Unfilled); };
    auto complexOut = [&] {
        return reduce ? (allocateOne(r, VD_Complex), r.complexData()) : complexLike(a, r, 0, Fill::Unfilled);
    };

    int32_t status;
    if (a.type(0) == VD_Real) {
        const double* in = a.realData(0);
        if (row.realToReal) status = row.realToReal(realOut(), in, n);
        else if (row.realToComplex) status = row.realToComplex(complexOut(), in, n);
        else return requiresReal(m, row.name);
    } else if (a.type(0) == VD_Complex) {
        const cplx* in = a.complexData(0);
        if (row.complexToReal) status = row.complexToReal(realOut(), in, n);
        else if (row.complexToComplex) status = row.complexToComplex(complexOut(), in, n);
        else return requiresReal(m, row.name);
    } else {
        return requiresReal(m, row.name);
    }
    return status == KernelOk ? FuncOk : failed(row, status, m);
}

FUNC_ERROR runPair(const PairRow& row, const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    setPhysTypes(r, row.physTypeRule(a.physType(0), a.physType(1)));
    if (a.type(0) != VD_Real || a.type(1) != VD_Real) return requiresReal(m, row.name);
    // A second argument too short to pair with, and not a single value, is
    // refused rather than read past its end.
    const int64_t n = a.totalLength(0), count = a.totalLength(1);
    if (count < n && count != 1) return lengthsDiffer(m, row.name);
    const int32_t status = row.realReal(realLike(a, r, 0), a.realData(0), a.realData(1), n, count >= n ? 1 : 0);
    // Every failure of these kernels is a value outside the function's domain,
    // a series that does not converge included.
    return status == KernelOk ? FuncOk : outOfRange(m, row.name);
}

void unwrappedPhase(double* __restrict out, const cplx* in, int64_t n, double scale) {
    const double* __restrict z = reIm(in);
    for (int64_t i = 0; i < n; ++i) out[i] = std::atan2(z[2 * i + 1], z[2 * i]);
    if (n == 0) return;
    double previous = out[0], offset = 0;
    out[0] *= scale;
    for (int64_t i = 1; i < n; ++i) {
        double raw = out[i];
        double d = raw - previous;
        if (d > kPi) offset -= kTwoPi;
        else if (d < -kPi) offset += kTwoPi;
        previous = raw;
        out[i] = (raw + offset) * scale;
    }
}

}  // namespace cvmod
