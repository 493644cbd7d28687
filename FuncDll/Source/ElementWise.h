// The element-wise dispatcher, shared by every family of functions that map a
// numeric vector (or a pair of real vectors) onto a vector of the same shape,
// element by element, or reduce it to one value per division: the elementary
// functions and unary operators, and the special functions.
//
// A function is one named row: an element kernel for each kind of argument and
// result it supports, the rule for the result's physical type and, for one
// argument, whether it reduces. The dispatcher picks the kernel by the
// argument's kind, lays the result out like the argument (sharing its
// reference), runs the kernel once over the whole contiguous value array and
// turns the kernel's status into the one message. A family writes
//
//   constexpr UnaryRow mag{"mag", rrAbs, crMag, nullptr, nullptr, kSame, PerElement};
//   template <const UnaryRow& row>
//   FUNC_ERROR unary(const FuncArgs& a, FuncResult& r, MessageHandler& m) { return runUnary(row, a, r, m); }
//
// and registers `handler<unary<mag>>`: the registration names its row, so
// nothing depends on the order of either list.
#pragma once
#include <cstdint>

#include "FuncKit.h"

namespace cvmod {

// What a kernel reports. A kernel that meets a domain error marks the element
// and goes on; one that overflows stops at the failing element.
enum KernelStatus : int32_t {
    KernelOk = 0,
    KernelOutOfRange = 3,
    KernelOverflow = 4,
    // No value to give (nothing to normalise by, a series that does not
    // converge): the row's `failure` text says why, or nothing does.
    KernelFailed = 5,
};

using RealToReal = int32_t (*)(double* out, const double* in, int64_t n);
using ComplexToReal = int32_t (*)(double* out, const cplx* in, int64_t n);
using RealToComplex = int32_t (*)(cplx* out, const double* in, int64_t n);
using ComplexToComplex = int32_t (*)(cplx* out, const cplx* in, int64_t n);
// The second operand is read at bStride * i: a stride of 0 repeats one value.
using RealPairToReal = int32_t (*)(double* out, const double* a, const double* b, int64_t n, int64_t bStride);

enum ResultShape : bool {
    PerElement = false,      // one value per element, with the argument's reference
    OnePerDivision = true,   // one value per division, no reference
};

struct UnaryRow {
    const char* name;  // as messages name the function
    RealToReal realToReal;
    ComplexToReal complexToReal;
    RealToComplex realToComplex;
    ComplexToComplex complexToComplex;
    PhysTypeRule physTypeRule;
    ResultShape shape;
    const char* failure = nullptr;  // sent when a kernel returns KernelFailed
};

struct PairRow {
    const char* name;
    RealPairToReal realReal;  // the only combination any two-argument function has
    PhysTypeRule2 physTypeRule;
};

FUNC_ERROR runUnary(const UnaryRow& row, const FuncArgs& a, FuncResult& r, MessageHandler& m);
// Pairwise over the first argument; a single second value serves every element.
FUNC_ERROR runPair(const PairRow& row, const FuncArgs& a, FuncResult& r, MessageHandler& m);

// Complex arrays read and written as interleaved re/im doubles, so that the
// compiler keeps the element loops plain.
inline const double* reIm(const cplx* z) noexcept { return reinterpret_cast<const double*>(z); }
inline double* reIm(cplx* z) noexcept { return reinterpret_cast<double*>(z); }

// Unwrapped phase, times `scale`: each step between neighbouring raw angles
// larger than pi is taken as a wrap and compensated by a whole turn. The phase
// functions and GroupDelay share it.
void unwrappedPhase(double* out, const cplx* in, int64_t n, double scale);

}  // namespace cvmod
