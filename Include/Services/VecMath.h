// Elementary functions over whole arrays, several elements at a time where
// the processor allows (the C library's vector variants, chosen once at
// start-up), one at a time otherwise. Results agree with the scalar math
// library to within a few units in the last place; special values (NaN,
// infinities, arguments outside the domain) give what the scalar function
// gives. `in` and `out` may be the same array.
#pragma once
#include <cstdint>

enum class VecFn : int {
    Sin, Cos, Tan, Atan, Exp, Log, Log10, Sinh, Cosh, Tanh, Asin, Acos, Asinh, Acosh, Atanh, Erf, Erfc,
    Count
};

namespace cv {
void vecMath(VecFn f, const double* in, double* out, int64_t n) noexcept;

// As vecMath over in[0, k), k being the first element above `limit` (at or
// above it with orEqual; NaN never is) or n; returns k and leaves out[k, n)
// alone. The test rides in the function's own pass, so a function that
// refuses arguments past an overflow limit reads them once. Long results
// may be written past the cache.
int64_t vecMathBelow(VecFn f, const double* in, double* out, int64_t n, double limit, bool orEqual) noexcept;

// How many elements the chosen variant takes at once (1 when scalar): for
// benchmarks and tests.
int vecMathWidth() noexcept;
}  // namespace cv

// ---------------------------------------------------------------- hot kernels
//
// The module's element-wise and reduction loops, compiled once per
// instruction-set level and chosen at start-up: AVX-512 where the processor
// has it, else AVX2, else the SSE2 baseline every x86-64 has. Every level
// runs the same source with the same order of operations (sums keep fixed
// lanes, no fused multiply-add), so results are identical bit for bit
// whichever level runs. CVFUNC_KERNELS=sse2|avx2|avx512 caps the level (for
// measurements); tests set it with cv::setKernelLevel.

enum class KernelLevel : int { Sse2 = 0, Avx2 = 1, Avx512 = 2 };

// The level in use.
namespace cv {
KernelLevel kernelLevel() noexcept;
// The best level this processor runs.
KernelLevel kernelLevelSupported() noexcept;
// Uses `level` from now on, capped at what the processor runs; returns the
// level set. Not for use while kernels run on other threads.
KernelLevel setKernelLevel(KernelLevel level) noexcept;
}  // namespace cv

// Binary operations on real operands, with the results of the scalar
// expressions: comparisons and logic give 1 or 0, Max gives a when a > b
// else b, Min gives b when a > b else a.
enum class VecOp : int {
    Add, Subtract, Multiply, Divide, Equal, NotEqual, Greater, Less, GreaterEqual, LessEqual, And, Or, Max, Min,
    Count
};
// How operands line up: element by element, or a single value (a[0] or
// b[0]) against every element of the other.
enum class VecSpread : int { Both, LeftSingle, RightSingle };

// out[i] = a[i] op b[i] for i in [0, n); `out` must not overlap a or b.
namespace cv {
void vecBinary(VecOp op, double* out, const double* a, const double* b, int64_t n, VecSpread spread) noexcept;
// Whether any of v[0, n) is zero (either sign).
bool vecAnyZero(const double* v, int64_t n) noexcept;
// out[i] = sqrt(re^2 + im^2) of the pairs reIm[2i], reIm[2i + 1], each
// operation rounded alone (the same bits at every level).
void vecMagnitudes(const double* reIm, double* out, int64_t n) noexcept;

// Index of the first largest (lower: smallest) non-NaN value of y[lo, hi),
// or -1 when there is none.
int64_t vecExtremeIndex(const double* y, int64_t lo, int64_t hi, bool lower) noexcept;
}  // namespace cv

// Sums over the linear segments (k, k + 1), k in [a, b), of
//   Trapezoid: (y[k] + y[k+1]) * (x[k+1] - x[k])
//   Square:    (u*u + u*w + w*w) * (x[k+1] - x[k]), u = y[k] - level, w = y[k+1] - level
// in four lanes (segment k goes to lane (k - a) % 4, lanes added as
// (s0 + s1) + (s2 + s3)). *falling is set when a step of x falls or is NaN.
enum class SegmentTerm : int { Trapezoid, Square };
namespace cv {
double vecSegmentSum(SegmentTerm term, const double* x, const double* y, int64_t a, int64_t b, double level,
                        bool* falling) noexcept;

// The crossing search's skip: from k, whole blocks of 16 values that all lie
// strictly above (side 1) or below (side -1) the target are passed over;
// returns the start of the first block that does not (or that would run past
// n).
int64_t vecSkipOnSide(const double* v, int64_t k, int64_t n, double target, int side) noexcept;
// The side of each of the `blocks` whole blocks of 16 values from v: 1 when
// all lie strictly above the target, -1 strictly below, 0 otherwise (a value
// at it, a NaN, or values on both sides).
void vecBlockSides(const double* v, int64_t blocks, double target, int8_t* out) noexcept;
}  // namespace cv

// Equal-width bins: for each value the bin i in [0, last] from
// t = (x * scale - loScaled) * inverse, clamped to [0, last], then moved one
// bin down when x < lo + i*width (i > 0) and one up when x >= lo + (i+1)*width
// (i < last); NaN and infinite values get `outside`. Bin numbers below 2^31.
struct BinParams {
    double scale, lo, width, loScaled, inverse;
    int32_t last, outside;
};
namespace cv {
void vecBinIndices(const BinParams& p, const double* v, int32_t* out, int64_t n) noexcept;
}  // namespace cv
