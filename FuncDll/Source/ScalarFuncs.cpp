// Elementary functions of the script language on one numeric vector (abs,
// sin, db, phase, ...) and the unary operators "-" and "!".
//
// Every function is one named row of element kernels (namespace op below),
// run by the shared element-wise dispatcher (ElementWise.h), which picks the
// kernel by the argument's kind, sizes the result, runs the kernel over the
// whole value array in one call and turns the kernel's status into the
// function's message. A registration names its row.
#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ElementWise.h"
#include "FuncKit.h"
#include "Parallel.h"
#include "Random.h"
#include "VecMath.h"

namespace {

using namespace cvmod;

// ---------------------------------------------------------------- constants

constexpr double kDegPerRad = 57.29577951308232;
constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kInvLn10 = 0.4342944819032518;
// Scales are template arguments by reference: clang before 18 takes no
// floating-point template arguments by value.
constexpr double kOne = 1.0;
// Arguments of exp, sinh and cosh beyond this count as an overflow; it sits a
// little below the true limit of a double so that products such as e^a*cos b
// stay finite.
constexpr double kOverflowLimit = 709.016;
// Stands for minus infinity where a script must still get a finite number.
constexpr double kMinusInfinity = -1e100;
constexpr double kDbOfZero = -6160.0;

constexpr const char* kZeroVector = "Cannot normalise zero vector";

// ---------------------------------------------------------------- kernels

// The sequence of rnd goes on from call to call for the module's lifetime.
RandomSeed gRndSeed{{1, 0, 0, 0}};

// At -O2 GCC vectorises only loops whose trip count is a multiple of the
// vector width; running fixed-size blocks first makes every simple element
// loop qualify, the tail goes one by one.
template <class F>
inline void forEachElement(int64_t n, F f) {
    constexpr int64_t kBlock = 8;
    int64_t i = 0;
    for (; i + kBlock <= n; i += kBlock)
        for (int64_t j = 0; j < kBlock; ++j) f(i + j);
    for (; i < n; ++i) f(i);
}

// Four running sums instead of one: the additions overlap in the pipeline and
// the rounding error grows more slowly than with a single running sum.
inline double sumOf(const double* __restrict x, int64_t n, int64_t stride) {
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += x[i * stride];
        s1 += x[(i + 1) * stride];
        s2 += x[(i + 2) * stride];
        s3 += x[(i + 3) * stride];
    }
    for (; i < n; ++i) s0 += x[i * stride];
    return (s0 + s1) + (s2 + s3);
}

// |z| as sqrt(a^2 + b^2), in the host's widest vector registers.
void magnitudes(double* __restrict out, const cplx* in, int64_t n) { cv::vecMagnitudes(reIm(in), out, n); }

// Small complex helpers for the inverse functions, on plain pairs.
struct Pair {
    double re, im;
};

inline double argOf(Pair w) noexcept { return w.re == 0 && w.im == 0 ? 0.0 : std::atan2(w.im, w.re); }
inline double lnAbs(Pair w) noexcept { return std::log(std::sqrt(w.re * w.re + w.im * w.im)); }

// Principal square root in polar form.
inline Pair polarSqrt(Pair z) noexcept {
    double r = std::sqrt(z.re * z.re + z.im * z.im);
    double phi = argOf(z);
    double s = std::sqrt(r);
    return {s * std::cos(phi / 2), s * std::sin(phi / 2)};
}

// ---- real -> real

int32_t rrAbs(double* __restrict out, const double* __restrict in, int64_t n) {
    forEachElement(n, [=](int64_t i) { out[i] = std::fabs(in[i]); });
    return KernelOk;
}

int32_t rrCopy(double* __restrict out, const double* __restrict in, int64_t n) {
    if (n > 0) std::memcpy(out, in, size_t(n) * sizeof(double));
    return KernelOk;
}

// The phase and imaginary part of a real number are 0 whatever its sign.
int32_t rrZero(double* __restrict out, const double*, int64_t n) {
    if (n > 0) std::memset(out, 0, size_t(n) * sizeof(double));
    return KernelOk;
}

// Negative numbers give 0, not -1: scripts use sign() as a "positive" test.
int32_t rrSign(double* __restrict out, const double* __restrict in, int64_t n) {
    forEachElement(n, [=](int64_t i) { out[i] = in[i] > 0 ? 1.0 : 0.0; });
    return KernelOk;
}

int32_t rrNot(double* __restrict out, const double* __restrict in, int64_t n) {
    forEachElement(n, [=](int64_t i) { out[i] = in[i] == 0 ? 1.0 : 0.0; });
    return KernelOk;
}

int32_t rrNeg(double* __restrict out, const double* __restrict in, int64_t n) {
    forEachElement(n, [=](int64_t i) { out[i] = -in[i]; });
    return KernelOk;
}

int32_t rrFloor(double* __restrict out, const double* __restrict in, int64_t n) {
    forEachElement(n, [=](int64_t i) { out[i] = std::floor(in[i]); });
    return KernelOk;
}

// Kernels that make several passes make them over pieces that stay in the
// cache, so that the data comes from memory once.
template <class F>
void inChunks(int64_t n, F f) {
    constexpr int64_t kChunk = 2048;
    for (int64_t c = 0; c < n; c += kChunk) f(c, std::min(kChunk, n - c));
}

// Large arrays are shared among the worker threads in pieces of whole chunks,
// so every element meets the vector math in the same lanes as in one pass;
// below kParallelMin starting a thread costs more than it saves. A piece is
// large enough (2 MiB of results) for the vector math to stream it to memory.
constexpr int64_t kParallelMin = int64_t(1) << 20, kPiece = int64_t(1) << 18;

template <class F>
void inPieces(int64_t n, F f) {
    if (n < kParallelMin) {
        f(0, n);
        return;
    }
    cv::forEachChunk(size_t(n), size_t(kPiece), [&](size_t b, size_t e) { f(int64_t(b), int64_t(e - b)); });
}

// Decibels of magnitudes already in out[], in place. The log of 0 is the
// only -inf. The selection is written with vector registers: the compiler
// keeps this loop scalar, with a branch per element, which cost as much as
// the logarithm.
void decibelsInPlace(double* __restrict out, int64_t n) {
    cv::vecMath(VecFn::Log10, out, out, n);
    int64_t i = 0;
#if defined(__SSE2__)
    const __m128d twenty = _mm_set1_pd(20.0), minusInf = _mm_set1_pd(-HUGE_VAL), zeroDb = _mm_set1_pd(kDbOfZero);
    for (; i + 2 <= n; i += 2) {
        const __m128d x = _mm_loadu_pd(out + i), isZero = _mm_cmpeq_pd(x, minusInf);
        _mm_storeu_pd(out + i, _mm_or_pd(_mm_and_pd(isZero, zeroDb), _mm_andnot_pd(isZero, _mm_mul_pd(x, twenty))));
    }
#endif
    for (; i < n; ++i) out[i] = out[i] == -HUGE_VAL ? kDbOfZero : 20.0 * out[i];
}

int32_t rrDb(double* __restrict out, const double* __restrict in, int64_t n) {
    inPieces(n, [=](int64_t p, int64_t count) {
        inChunks(count, [=](int64_t c, int64_t len) {
            forEachElement(len, [=](int64_t i) { out[p + c + i] = std::fabs(in[p + c + i]); });
            decibelsInPlace(out + p + c, len);
        });
    });
    return KernelOk;
}

// The elementary functions run over the whole array through the host's
// vector math; domain errors are then marked element by element, and an
// overflow limit is found first so that nothing past it is computed.

// Out-of-range elements (where Bad holds) get `mark`; the rest keep out[i].
template <class Bad>
int32_t markOutOfRange(double* __restrict out, const double* __restrict in, int64_t n, double mark, Bad bad) {
    int64_t count = 0;
    forEachElement(n, [&](int64_t i) {
        bool b = bad(in[i]);
        count += b;
        out[i] = b ? mark : out[i];
    });
    return count ? KernelOutOfRange : KernelOk;
}

template <VecFn F>
int32_t rrLogarithm(double* __restrict out, const double* __restrict in, int64_t n) {
    int32_t status = KernelOk;
    inChunks(n, [&](int64_t c, int64_t len) {
        cv::vecMath(F, in + c, out + c, len);
        status |= markOutOfRange(out + c, in + c, len, kMinusInfinity, [](double x) { return x <= 0; });
    });
    return status;
}

// Stops before the first argument beyond the limit (at or beyond it with
// OrEqual; NaN never is) with status 4. The test is made in the function's
// own pass: a separate scan cost half as much as the function.
template <VecFn F, bool OrEqual>
int32_t rrOverflowing(double* __restrict out, const double* __restrict in, int64_t n) {
    std::atomic<bool> overflowed{false};
    inPieces(n, [&](int64_t p, int64_t count) {
        if (overflowed.load(std::memory_order_relaxed)) return;
        if (cv::vecMathBelow(F, in + p, out + p, count, kOverflowLimit, OrEqual) < count)
            overflowed.store(true, std::memory_order_relaxed);
    });
    return overflowed ? KernelOverflow : KernelOk;
}

// Library functions with no failure of their own; the degree variants scale
// the argument before or the result after.
template <VecFn F, const double& ArgScale = kOne, const double& ResultScale = kOne>
int32_t rrPlain(double* __restrict out, const double* __restrict in, int64_t n) {
    if (ArgScale != 1.0) {
        forEachElement(n, [=](int64_t i) { out[i] = in[i] * ArgScale; });
        cv::vecMath(F, out, out, n);
    } else {
        cv::vecMath(F, in, out, n);
    }
    if (ResultScale != 1.0) forEachElement(n, [=](int64_t i) { out[i] *= ResultScale; });
    return KernelOk;
}

// A tangent overflows where the cosine is exactly 0. That can only happen
// where the tangent itself is enormous (or not a number), so the cosine is
// evaluated only there; elements from the failing one on are left unwritten.
template <const double& Scale>
int32_t rrTangent(double* __restrict out, const double* __restrict in, int64_t n) {
    rrPlain<VecFn::Tan, Scale>(out, in, n);
    for (int64_t i = 0; i < n; ++i)
        if (!(std::fabs(out[i]) < 1e15) && std::cos(in[i] * Scale) == 0) {
            std::fill(out + i, out + n, 0.0);
            return KernelOverflow;
        }
    return KernelOk;
}

int32_t rrSqrt(double* __restrict out, const double* __restrict in, int64_t n) {
    int32_t status = KernelOk;
    for (int64_t i = 0; i < n; ++i) {
        if (in[i] < 0) {
            out[i] = 0.0;
            status = KernelOutOfRange;
        } else {
            out[i] = std::sqrt(in[i]);
        }
    }
    return status;
}

template <VecFn F>
int32_t rrUnitDomain(double* __restrict out, const double* __restrict in, int64_t n) {
    cv::vecMath(F, in, out, n);
    return markOutOfRange(out, in, n, 0.0, [](double x) { return std::fabs(x) > 1; });
}

// Anything not strictly inside (-1, 1), a NaN included, is out of range.
int32_t rrAtanh(double* __restrict out, const double* __restrict in, int64_t n) {
    cv::vecMath(VecFn::Atanh, in, out, n);
    return markOutOfRange(out, in, n, 0.0, [](double x) { return !(x > -1 && x < 1); });
}

// Only negative arguments count as out of range. For 0 <= x < 1, where no real
// acosh exists either, the math library's NaN is stored without a status: the
// element says plainly that it has no value, and the rest of the vector stands.
int32_t rrAcosh(double* __restrict out, const double* __restrict in, int64_t n) {
    cv::vecMath(VecFn::Acosh, in, out, n);
    return markOutOfRange(out, in, n, 0.0, [](double x) { return x < 0; });
}

int32_t rrRnd(double* __restrict out, const double* __restrict in, int64_t n) {
    for (int64_t i = 0; i < n; ++i) out[i] = double(sp_Random(gRndSeed)) * in[i] / 2147483647.0;
    return KernelOk;
}

int32_t rrNorm(double* __restrict out, const double* __restrict in, int64_t n) {
    double m = 0;
    for (int64_t i = 0; i < n; ++i)
        if (std::fabs(in[i]) > m) m = std::fabs(in[i]);
    if (m == 0) return KernelFailed;
    forEachElement(n, [=](int64_t i) { out[i] = in[i] / m; });
    return KernelOk;
}

int32_t rrSum(double* __restrict out, const double* __restrict in, int64_t n) {
    out[0] = sumOf(in, n, 1);
    return KernelOk;
}

// The mean of no values is 0/0, NaN: there is no number that would be right.
int32_t rrMean(double* __restrict out, const double* __restrict in, int64_t n) {
    out[0] = sumOf(in, n, 1) / double(n);
    return KernelOk;
}

// The first of equal extremes wins. When no element beats the start value
// (an empty vector, or nothing but NaN) the result keeps its allocated 0.
int32_t rrMaxIdx(double* __restrict out, const double* __restrict in, int64_t n) {
    double best = -DBL_MAX;
    for (int64_t i = 0; i < n; ++i)
        if (in[i] > best) {
            best = in[i];
            out[0] = double(i);
        }
    return KernelOk;
}

int32_t rrMinIdx(double* __restrict out, const double* __restrict in, int64_t n) {
    double best = DBL_MAX;
    for (int64_t i = 0; i < n; ++i)
        if (in[i] < best) {
            best = in[i];
            out[0] = double(i);
        }
    return KernelOk;
}

// ---- complex -> real

int32_t crMag(double* __restrict out, const cplx* in, int64_t n) {
    magnitudes(out, in, n);
    return KernelOk;
}

int32_t crReal(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = reIm(in);
    forEachElement(n, [=](int64_t i) { out[i] = z[2 * i]; });
    return KernelOk;
}

int32_t crImag(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = reIm(in);
    forEachElement(n, [=](int64_t i) { out[i] = z[2 * i + 1]; });
    return KernelOk;
}

int32_t crPhaseDeg(double* __restrict out, const cplx* in, int64_t n) {
    unwrappedPhase(out, in, n, kDegPerRad);
    return KernelOk;
}

int32_t crPhaseRad(double* __restrict out, const cplx* in, int64_t n) {
    unwrappedPhase(out, in, n, 1.0);
    return KernelOk;
}

// The angle of 0 is 0, also for negative zeros (atan2 would give +-pi).
template <const double& Scale>
int32_t crArg(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = reIm(in);
    for (int64_t i = 0; i < n; ++i) {
        double a = z[2 * i], b = z[2 * i + 1];
        out[i] = a == 0 && b == 0 ? 0.0 : std::atan2(b, a) * Scale;
    }
    return KernelOk;
}

int32_t crDb(double* __restrict out, const cplx* in, int64_t n) {
    inPieces(n, [=](int64_t p, int64_t count) {
        inChunks(count, [=](int64_t c, int64_t len) {
            magnitudes(out + p + c, in + p + c, len);
            decibelsInPlace(out + p + c, len);
        });
    });
    return KernelOk;
}

// By magnitude; ties as in the real kernels.
int32_t crMaxIdx(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = reIm(in);
    double best = -DBL_MAX;
    for (int64_t i = 0; i < n; ++i) {
        double m = std::sqrt(z[2 * i] * z[2 * i] + z[2 * i + 1] * z[2 * i + 1]);
        if (m > best) {
            best = m;
            out[0] = double(i);
        }
    }
    return KernelOk;
}

int32_t crMinIdx(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = reIm(in);
    double best = DBL_MAX;
    for (int64_t i = 0; i < n; ++i) {
        double m = std::sqrt(z[2 * i] * z[2 * i] + z[2 * i + 1] * z[2 * i + 1]);
        if (m < best) {
            best = m;
            out[0] = double(i);
        }
    }
    return KernelOk;
}

// ---- complex -> complex
//
// Each kernel reads a = Re z, b = Im z and writes the two parts of its result.

template <class F>
inline int32_t eachComplex(cplx* out, const cplx* in, int64_t n, F f) {
    double* __restrict y = reIm(out);
    const double* __restrict z = reIm(in);
    for (int64_t i = 0; i < n; ++i) {
        Pair r = f(z[2 * i], z[2 * i + 1]);
        y[2 * i] = r.re;
        y[2 * i + 1] = r.im;
    }
    return KernelOk;
}

int32_t ccNeg(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = reIm(out);
    const double* __restrict z = reIm(in);
    forEachElement(2 * n, [=](int64_t i) { y[i] = -z[i]; });
    return KernelOk;
}

template <const double& Scale>
int32_t ccLogarithm(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = reIm(out);
    const double* __restrict z = reIm(in);
    int32_t status = KernelOk;
    for (int64_t i = 0; i < n; ++i) {
        double a = z[2 * i], b = z[2 * i + 1];
        if (a == 0 && b == 0) {
            y[2 * i] = kMinusInfinity;
            y[2 * i + 1] = 0.0;
            status = KernelOutOfRange;
        } else {
            y[2 * i] = std::log(std::sqrt(a * a + b * b)) * Scale;
            y[2 * i + 1] = std::atan2(b, a) * Scale;
        }
    }
    return status;
}

int32_t ccExp(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = reIm(out);
    const double* __restrict z = reIm(in);
    for (int64_t i = 0; i < n; ++i) {
        double a = z[2 * i], b = z[2 * i + 1];
        if (a > kOverflowLimit) return KernelOverflow;
        double e = std::exp(a);
        y[2 * i] = e * std::cos(b);
        y[2 * i + 1] = e * std::sin(b);
    }
    return KernelOk;
}

int32_t ccSqrt(cplx* out, const cplx* in, int64_t n) {
    return eachComplex(out, in, n, [](double a, double b) { return polarSqrt({a, b}); });
}

// sin, cos, sinh and cosh of a + ib all build a hyperbolic cosine and sine
// from one exponential: of b for sin and cos, of a for sinh and cosh. The
// overflow test is on that exponential.
template <bool Hyperbolic, bool Cosine>
int32_t ccSinCosFamily(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = reIm(out);
    const double* __restrict z = reIm(in);
    for (int64_t i = 0; i < n; ++i) {
        const double a = z[2 * i], b = z[2 * i + 1];
        const double u = Hyperbolic ? b : a, v = Hyperbolic ? a : b;  // circular part, exponent
        if (v >= kOverflowLimit) return KernelOverflow;
        const double e = std::exp(v);
        if (e == 0) return KernelOverflow;
        const double ch = (1 / e + e) / 2;
        if (Hyperbolic) {
            const double sh = (e - 1 / e) / 2;
            y[2 * i] = std::cos(u) * (Cosine ? ch : sh);
            y[2 * i + 1] = std::sin(u) * (Cosine ? sh : ch);
        } else {
            const double shb = (1 / e - e) / 2;  // -sinh b, so that zeros keep their signs
            y[2 * i] = (Cosine ? std::cos(u) : std::sin(u)) * ch;
            y[2 * i + 1] = Cosine ? std::sin(u) * shb : -std::cos(u) * shb;
        }
    }
    return KernelOk;
}

int32_t ccTan(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = reIm(out);
    const double* __restrict z = reIm(in);
    for (int64_t i = 0; i < n; ++i) {
        double a = z[2 * i], b = z[2 * i + 1];
        double c = std::cos(a);
        if (c == 0 && b == 0) return KernelOverflow;
        double t = std::tanh(b);
        double d = (1 - c * c) * t * t + c * c;
        y[2 * i] = std::sin(a) * c * (1 - t * t) / d;
        y[2 * i + 1] = t / d;
    }
    return KernelOk;
}

// Far from the imaginary axis tanh is +-1 to within a double; the imaginary
// part is then taken from its asymptote and dropped once that underflows.
Pair complexTanh(double a, double b) {
    if (b == 0) return {std::tanh(a), 0.0};
    if (a > 19) return {1.0, a < 354.508 ? 4 * std::sin(b) * std::cos(b) / std::exp(2 * a) : 0.0};
    if (a < -19) return {-1.0, -a < 354.508 ? 4 * std::sin(b) * std::cos(b) / std::exp(-2 * a) : 0.0};
    double e = std::exp(a);
    double em = e - 1 / e, ep = e + 1 / e;
    double s = em * std::sin(b), c = ep * std::cos(b);
    double d = s * s + c * c;
    return {em * ep / d, 4 * std::sin(b) * std::cos(b) / d};
}

int32_t ccTanh(cplx* out, const cplx* in, int64_t n) { return eachComplex(out, in, n, complexTanh); }

int32_t ccAtan(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = reIm(out);
    const double* __restrict z = reIm(in);
    for (int64_t i = 0; i < n; ++i) {
        double a = z[2 * i], b = z[2 * i + 1];
        if (a == 0 && (b == 1 || b == -1)) return KernelOverflow;
        double q = (1 + b) * (1 + b) + a * a;
        Pair w{((1 - b) * (1 + b) - a * a) / q, 2 * a / q};
        y[2 * i] = 0.5 * argOf(w);
        y[2 * i + 1] = -0.5 * lnAbs(w);
    }
    return KernelOk;
}

// The two branch points give 0 and a range error; the other elements are
// still computed.
int32_t ccAtanh(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = reIm(out);
    const double* __restrict z = reIm(in);
    int32_t status = KernelOk;
    for (int64_t i = 0; i < n; ++i) {
        double a = z[2 * i], b = z[2 * i + 1];
        if (b == 0 && (a == 1 || a == -1)) {
            y[2 * i] = 0.0;
            y[2 * i + 1] = 0.0;
            status = KernelOutOfRange;
            continue;
        }
        // w = (1 + z) / (1 - z)
        double den = (1 - a) * (1 - a) + b * b;
        Pair w{(1 - a * a - b * b) / den, 2 * b / den};
        y[2 * i] = 0.5 * lnAbs(w);
        y[2 * i + 1] = 0.5 * argOf(w);
    }
    return status;
}

// asin z = -i ln(iz + sqrt(1 - z^2)), acos z = -i ln(z + i sqrt(1 - z^2)).
int32_t ccAsin(cplx* out, const cplx* in, int64_t n) {
    return eachComplex(out, in, n, [](double a, double b) {
        Pair s = polarSqrt({1 - (a * a - b * b), -2 * a * b});
        Pair w{-b + s.re, a + s.im};
        return Pair{argOf(w), -lnAbs(w)};
    });
}

int32_t ccAcos(cplx* out, const cplx* in, int64_t n) {
    return eachComplex(out, in, n, [](double a, double b) {
        Pair s = polarSqrt({1 - (a * a - b * b), -2 * a * b});
        Pair w{a - s.im, b + s.re};
        return Pair{argOf(w), -lnAbs(w)};
    });
}

// asinh z = ln(z + sqrt(z^2 + 1)), acosh z = ln(z + sqrt(z^2 - 1)).
template <int One>
int32_t ccAreaHyperbolic(cplx* out, const cplx* in, int64_t n) {
    return eachComplex(out, in, n, [](double a, double b) {
        Pair s = polarSqrt({a * a - b * b + One, 2 * a * b});
        Pair w{a + s.re, b + s.im};
        return Pair{lnAbs(w), argOf(w)};
    });
}

int32_t ccNorm(cplx* out, const cplx* in, int64_t n) {
    const double* __restrict z = reIm(in);
    double m = 0;
    for (int64_t i = 0; i < n; ++i) {
        double r = std::sqrt(z[2 * i] * z[2 * i] + z[2 * i + 1] * z[2 * i + 1]);
        if (r > m) m = r;
    }
    if (m == 0) return KernelFailed;
    double* __restrict y = reIm(out);
    forEachElement(2 * n, [=](int64_t i) { y[i] = z[i] / m; });
    return KernelOk;
}

int32_t ccSum(cplx* out, const cplx* in, int64_t n) {
    const double* z = reIm(in);
    out[0] = cplx(sumOf(z, n, 2), sumOf(z + 1, n, 2));
    return KernelOk;
}

int32_t ccMean(cplx* out, const cplx* in, int64_t n) {
    const double* z = reIm(in);
    out[0] = cplx(sumOf(z, n, 2) / double(n), sumOf(z + 1, n, 2) / double(n));
    return KernelOk;
}

// ---------------------------------------------------------------- operations

constexpr PhysTypeRule kSame = static_cast<PhysTypeRule>(&PhysType::same);
constexpr PhysTypeRule kNone = static_cast<PhysTypeRule>(&PhysType::none);
constexpr PhysTypeRule kDb = &PhysType::db;
constexpr PhysTypeRule kSqrt = static_cast<PhysTypeRule>(&PhysType::sqrt);

constexpr ResultShape Each = PerElement, Reduce = OnePerDivision;

// One row per operation; aliases (abs, mag, magnitude) register the same
// row. The text that opens a row is the name its messages give.
namespace op {
// clang-format off
//                                            real -> real                            complex -> real    r->c     complex -> complex            rule   shape
constexpr UnaryRow mag        {"mag",         rrAbs,                                  crMag,             nullptr, nullptr,                      kSame, Each};
constexpr UnaryRow phase      {"phase",       rrZero,                                 crPhaseDeg,        nullptr, nullptr,                      kNone, Each};
constexpr UnaryRow real       {"real",        rrCopy,                                 crReal,            nullptr, nullptr,                      kSame, Each};
constexpr UnaryRow imag       {"imag",        rrZero,                                 crImag,            nullptr, nullptr,                      kSame, Each};
constexpr UnaryRow sign       {"sign",        rrSign,                                 nullptr,           nullptr, nullptr,                      kNone, Each};
constexpr UnaryRow db         {"db",          rrDb,                                   crDb,              nullptr, nullptr,                      kDb,   Each};
constexpr UnaryRow log        {"log",         rrLogarithm<VecFn::Log10>,              nullptr,           nullptr, ccLogarithm<kInvLn10>,        kDb,   Each};
constexpr UnaryRow ln         {"ln",          rrLogarithm<VecFn::Log>,                nullptr,           nullptr, ccLogarithm<kOne>,            kDb,   Each};
constexpr UnaryRow exp        {"exp",         rrOverflowing<VecFn::Exp, false>,       nullptr,           nullptr, ccExp,                        kDb,   Each};
constexpr UnaryRow sin        {"sin",         rrPlain<VecFn::Sin>,                    nullptr,           nullptr, ccSinCosFamily<false, false>, kDb,   Each};
constexpr UnaryRow cos        {"cos",         rrPlain<VecFn::Cos>,                    nullptr,           nullptr, ccSinCosFamily<false, true>,  kDb,   Each};
constexpr UnaryRow sqrt       {"sqrt",        rrSqrt,                                 nullptr,           nullptr, ccSqrt,                       kSqrt, Each};
constexpr UnaryRow tan        {"tan",         rrTangent<kOne>,                        nullptr,           nullptr, ccTan,                        kDb,   Each};
constexpr UnaryRow atan       {"atan",        rrPlain<VecFn::Atan>,                   nullptr,           nullptr, ccAtan,                       kDb,   Each};
constexpr UnaryRow norm       {"norm",        rrNorm,                                 nullptr,           nullptr, ccNorm,                       kNone, Each,   kZeroVector};
constexpr UnaryRow negate     {"-",           rrNeg,                                  nullptr,           nullptr, ccNeg,                        kSame, Each};
constexpr UnaryRow rnd        {"rnd",         rrRnd,                                  nullptr,           nullptr, nullptr,                      kSame, Each};
constexpr UnaryRow logicalNot {"!",           rrNot,                                  nullptr,           nullptr, nullptr,                      kNone, Each};
constexpr UnaryRow mean       {"mean",        rrMean,                                 nullptr,           nullptr, ccMean,                       kSame, Reduce};
constexpr UnaryRow maxIdx     {"maxidx",      rrMaxIdx,                               crMaxIdx,          nullptr, nullptr,                      kNone, Reduce};
constexpr UnaryRow minIdx     {"minidx",      rrMinIdx,                               crMinIdx,          nullptr, nullptr,                      kNone, Reduce};
constexpr UnaryRow phaseRad   {"phase_rad",   rrZero,                                 crPhaseRad,        nullptr, nullptr,                      kNone, Each};
constexpr UnaryRow sinDeg     {"sin_deg",     rrPlain<VecFn::Sin, kRadPerDeg>,        nullptr,           nullptr, ccSinCosFamily<false, false>, kDb,   Each};
constexpr UnaryRow cosDeg     {"cos_deg",     rrPlain<VecFn::Cos, kRadPerDeg>,        nullptr,           nullptr, ccSinCosFamily<false, true>,  kDb,   Each};
constexpr UnaryRow tanDeg     {"tan_deg",     rrTangent<kRadPerDeg>,                  nullptr,           nullptr, ccTan,                        kDb,   Each};
constexpr UnaryRow atanDeg    {"atan_deg",    rrPlain<VecFn::Atan, kOne, kDegPerRad>, nullptr,           nullptr, ccAtan,                       kDb,   Each};
constexpr UnaryRow arg        {"phase_b",     rrZero,                                 crArg<kDegPerRad>, nullptr, nullptr,                      kNone, Each};
constexpr UnaryRow argRad     {"phase_b_rad", rrZero,                                 crArg<kOne>,       nullptr, nullptr,                      kNone, Each};
constexpr UnaryRow floor      {"floorv",      rrFloor,                                nullptr,           nullptr, nullptr,                      kSame, Each};
constexpr UnaryRow sum        {"sum",         rrSum,                                  nullptr,           nullptr, ccSum,                        kSame, Reduce};
constexpr UnaryRow sinh       {"sinh",        rrOverflowing<VecFn::Sinh, true>,       nullptr,           nullptr, ccSinCosFamily<true, false>,  kDb,   Each};
constexpr UnaryRow cosh       {"cosh",        rrOverflowing<VecFn::Cosh, true>,       nullptr,           nullptr, ccSinCosFamily<true, true>,   kDb,   Each};
constexpr UnaryRow tanh       {"tanh",        rrPlain<VecFn::Tanh>,                   nullptr,           nullptr, ccTanh,                       kDb,   Each};
constexpr UnaryRow asin       {"asin",        rrUnitDomain<VecFn::Asin>,              nullptr,           nullptr, ccAsin,                       kDb,   Each};
constexpr UnaryRow acos       {"acos",        rrUnitDomain<VecFn::Acos>,              nullptr,           nullptr, ccAcos,                       kDb,   Each};
constexpr UnaryRow asinh      {"asinh",       rrPlain<VecFn::Asinh>,                  nullptr,           nullptr, ccAreaHyperbolic<1>,          kDb,   Each};
constexpr UnaryRow acosh      {"acosh",       rrAcosh,                                nullptr,           nullptr, ccAreaHyperbolic<-1>,         kDb,   Each};
constexpr UnaryRow atanh      {"atanh",       rrAtanh,                                nullptr,           nullptr, ccAtanh,                      kDb,   Each};
// clang-format on
}  // namespace op

template <const UnaryRow& row>
FUNC_ERROR unary(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    return runUnary(row, a, r, m);
}

// ---------------------------------------------------------------- registration

// clang-format off
FunctionRow registrations[] = {
    {"abs",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::mag>>,        "", PyVector, ElementWise},
    {"mag",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::mag>>,        "", PyVector, ElementWise},
    {"magnitude", {Numeric}, {PerDivision}, 1, 1, handler<unary<op::mag>>,        "", PyVector, ElementWise},
    {"ph",        {Numeric}, {PerDivision}, 1, 1, handler<unary<op::phase>>,      "", PyVector, Plain},
    {"phase",     {Numeric}, {PerDivision}, 1, 1, handler<unary<op::phase>>,      "", PyVector, Plain},
    {"re",        {Numeric}, {PerDivision}, 1, 1, handler<unary<op::real>>,       "", PyVector, ElementWise},
    {"real",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::real>>,       "", PyVector, ElementWise},
    {"im",        {Numeric}, {PerDivision}, 1, 1, handler<unary<op::imag>>,       "", PyVector, ElementWise},
    {"imag",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::imag>>,       "", PyVector, ElementWise},
    {"sign",      {Real},    {PerDivision}, 1, 1, handler<unary<op::sign>>,       "", PyVector, ElementWise},
    {"db",        {Numeric}, {PerDivision}, 1, 1, handler<unary<op::db>>,         "", PyVector, ElementWise},
    {"log",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::log>>,        "", PyVector, ElementWise},
    {"log10",     {Numeric}, {PerDivision}, 1, 1, handler<unary<op::log>>,        "", PyVector, ElementWise},
    {"ln",        {Numeric}, {PerDivision}, 1, 1, handler<unary<op::ln>>,         "", PyVector, ElementWise},
    {"exp",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::exp>>,        "", PyVector, ElementWise},
    {"sin",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::sin>>,        "", PyVector, ElementWise},
    {"cos",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::cos>>,        "", PyVector, ElementWise},
    {"sqrt",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::sqrt>>,       "", PyVector, ElementWise},
    {"tan",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::tan>>,        "", PyVector, ElementWise},
    {"atan",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::atan>>,       "", PyVector, ElementWise},
    {"norm",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::norm>>,       "", PyVector, ElementWise},
    {"_UMinus",   {Numeric}, {PerDivision}, 1, 1, handler<unary<op::negate>>,     "", PyVector, ElementWiseOperator},
    {"rnd",       {Real},    {PerDivision}, 1, 1, handler<unary<op::rnd>>,        "", PyVector, ElementWise},
    {"_Not",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::logicalNot>>, "", PyVector, ElementWiseOperator},
    {"mean",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::mean>>,       "", PyVector, Plain},
    {"maxidx",    {Numeric}, {PerDivision}, 1, 1, handler<unary<op::maxIdx>>,     "", PyVector, Plain},
    {"minidx",    {Numeric}, {PerDivision}, 1, 1, handler<unary<op::minIdx>>,     "", PyVector, Plain},
    {"phase_rad", {Numeric}, {PerDivision}, 1, 1, handler<unary<op::phaseRad>>,   "", PyVector, Plain},
    {"sin_deg",   {Numeric}, {PerDivision}, 1, 1, handler<unary<op::sinDeg>>,     "", PyVector, ElementWise},
    {"cos_deg",   {Numeric}, {PerDivision}, 1, 1, handler<unary<op::cosDeg>>,     "", PyVector, ElementWise},
    {"tan_deg",   {Numeric}, {PerDivision}, 1, 1, handler<unary<op::tanDeg>>,     "", PyVector, ElementWise},
    {"atan_deg",  {Numeric}, {PerDivision}, 1, 1, handler<unary<op::atanDeg>>,    "", PyVector, ElementWise},
    {"arg",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::arg>>,        "", PyVector, ElementWise},
    {"arg_rad",   {Numeric}, {PerDivision}, 1, 1, handler<unary<op::argRad>>,     "", PyVector, ElementWise},
    {"floorv",    {Numeric}, {PerDivision}, 1, 1, handler<unary<op::floor>>,      "", PyVector, ElementWise},
    {"sum",       {Numeric}, {PerDivision}, 1, 1, handler<unary<op::sum>>,        "", PyVector, Plain},
    {"sinh",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::sinh>>,       "", PyVector, ElementWise},
    {"cosh",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::cosh>>,       "", PyVector, ElementWise},
    {"tanh",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::tanh>>,       "", PyVector, ElementWise},
    {"asin",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::asin>>,       "", PyVector, ElementWise},
    {"acos",      {Numeric}, {PerDivision}, 1, 1, handler<unary<op::acos>>,       "", PyVector, ElementWise},
    {"asinh",     {Numeric}, {PerDivision}, 1, 1, handler<unary<op::asinh>>,      "", PyVector, ElementWise},
    {"acosh",     {Numeric}, {PerDivision}, 1, 1, handler<unary<op::acosh>>,      "", PyVector, ElementWise},
    {"atanh",     {Numeric}, {PerDivision}, 1, 1, handler<unary<op::atanh>>,      "", PyVector, ElementWise},
};
// clang-format on

}  // namespace
