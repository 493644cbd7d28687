// Elementary functions of the script language on one numeric vector (abs,
// sin, db, phase, ...), the unary operators "-" and "!", element access, the
// measures of a vector and its group delay.
//
// Every elementary function is one row of a table of element kernels; a single
// dispatcher picks the kernel by the argument's kind, sizes the result, runs
// the kernel over the whole value array in one call and turns the kernel's
// status into the function's message.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "FuncArgs.h"
#include "FuncContract.h"
#include "Random.h"
#include "VecMath.h"

namespace {

// ---------------------------------------------------------------- constants

constexpr double kDegPerRad = 57.29577951308232;
constexpr double kRadPerDeg = 0.017453292519943295;
constexpr double kInvLn10 = 0.4342944819032518;
constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
// Arguments of exp, sinh and cosh beyond this count as an overflow; it sits a
// little below the true limit of a double so that products such as e^a*cos b
// stay finite.
constexpr double kOverflowLimit = 709.016;
// Stands for minus infinity where a script must still get a finite number.
constexpr double kMinusInfinity = -1e100;
constexpr double kDbOfZero = -6160.0;

// ---------------------------------------------------------------- kernels

enum KernelStatus : int32_t { KernelOk = 0, KernelOutOfRange = 3, KernelOverflow = 4, KernelReported = 5 };

using RealToReal = int32_t (*)(double* out, const double* in, int64_t n);
using ComplexToReal = int32_t (*)(double* out, const cplx* in, int64_t n);
using RealToComplex = int32_t (*)(cplx* out, const double* in, int64_t n);
using ComplexToComplex = int32_t (*)(cplx* out, const cplx* in, int64_t n);

// The message handler of the call in progress, for kernels that word their own
// failure. Set by the dispatcher around each kernel run; the host calls one
// function at a time, so no lock.
MessageHandler* gCurrentMessages = nullptr;

class CurrentMessagesScope {
public:
    explicit CurrentMessagesScope(MessageHandler* m) noexcept : saved_(gCurrentMessages) { gCurrentMessages = m; }
    ~CurrentMessagesScope() { gCurrentMessages = saved_; }
    CurrentMessagesScope(const CurrentMessagesScope&) = delete;
    CurrentMessagesScope& operator=(const CurrentMessagesScope&) = delete;

private:
    MessageHandler* saved_;
};

// The sequence of rnd goes on from call to call for the module's lifetime.
RandomSeed gRndSeed{{1, 0, 0, 0}};

// Complex arrays are read and written as interleaved re/im doubles: the
// compiler keeps the loops plain, with no complex operator in between.
inline const double* parts(const cplx* z) noexcept { return reinterpret_cast<const double*>(z); }
inline double* parts(cplx* z) noexcept { return reinterpret_cast<double*>(z); }

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

// |z| as sqrt(a^2 + b^2). The square root is done in vector registers where
// the compiler would not (it keeps a scalar call for errno's sake).
void magnitudes(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = parts(in);
    int64_t i = 0;
#if defined(__SSE2__)
    for (; i + 2 <= n; i += 2) {
        __m128d z0 = _mm_loadu_pd(z + 2 * i), z1 = _mm_loadu_pd(z + 2 * i + 2);
        __m128d re = _mm_unpacklo_pd(z0, z1), im = _mm_unpackhi_pd(z0, z1);
        _mm_storeu_pd(out + i, _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(re, re), _mm_mul_pd(im, im))));
    }
#endif
    for (; i < n; ++i) out[i] = std::sqrt(z[2 * i] * z[2 * i] + z[2 * i + 1] * z[2 * i + 1]);
}

// Unwrapped phase: each step between neighbouring raw angles larger than pi
// is taken as a wrap and compensated by a whole turn. Shared with GroupDelay.
void unwrappedPhase(double* __restrict out, const cplx* in, int64_t n, double scale) {
    const double* __restrict z = parts(in);
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

// Decibels of magnitudes already in out[], in place.
void decibelsInPlace(double* __restrict out, int64_t n) {
    sp_VecMath(VecFn::Log10, out, out, n);
    forEachElement(n, [=](int64_t i) { out[i] = std::isinf(out[i]) && out[i] < 0 ? kDbOfZero : 20.0 * out[i]; });
}

int32_t rrDb(double* __restrict out, const double* __restrict in, int64_t n) {
    inChunks(n, [=](int64_t c, int64_t len) {
        forEachElement(len, [=](int64_t i) { out[c + i] = std::fabs(in[c + i]); });
        decibelsInPlace(out + c, len);
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

// The first element beyond the overflow limit (at or beyond it with
// OrEqual), or n; NaN is never beyond. Blocks are tested whole, the hit is
// then found inside its block. The block test is written with vector types:
// at -O2 GCC leaves an any-of reduction scalar, which made this scan cost
// about as much as the elementary function after it.
template <bool OrEqual>
int64_t firstOverflow(const double* in, int64_t n) {
    using Pair = double __attribute__((vector_size(16)));
    using PairMask = long long __attribute__((vector_size(16)));
    constexpr int64_t kBlock = 16;
    const Pair limit = {kOverflowLimit, kOverflowLimit};
    int64_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        PairMask any = {0, 0};
        for (int64_t j = 0; j < kBlock; j += 2) {
            Pair p;
            std::memcpy(&p, in + i + j, sizeof p);
            any |= OrEqual ? p >= limit : p > limit;
        }
        if (any[0] | any[1]) break;
    }
    for (; i < n; ++i)
        if (OrEqual ? in[i] >= kOverflowLimit : in[i] > kOverflowLimit) return i;
    return n;
}

template <VecFn F>
int32_t rrLogarithm(double* __restrict out, const double* __restrict in, int64_t n) {
    int32_t status = KernelOk;
    inChunks(n, [&](int64_t c, int64_t len) {
        sp_VecMath(F, in + c, out + c, len);
        status |= markOutOfRange(out + c, in + c, len, kMinusInfinity, [](double x) { return x <= 0; });
    });
    return status;
}

// Stops before the first argument beyond the limit (status 4).
template <VecFn F, bool OrEqual>
int32_t rrOverflowing(double* __restrict out, const double* __restrict in, int64_t n) {
    constexpr int64_t kChunk = 2048;
    for (int64_t c = 0; c < n; c += kChunk) {
        int64_t len = std::min(kChunk, n - c), k = firstOverflow<OrEqual>(in + c, len);
        sp_VecMath(F, in + c, out + c, k);
        if (k < len) return KernelOverflow;
    }
    return KernelOk;
}

// Library functions with no failure of their own; the degree variants scale
// the argument before or the result after.
template <VecFn F, double ArgScale = 1.0, double ResultScale = 1.0>
int32_t rrPlain(double* __restrict out, const double* __restrict in, int64_t n) {
    if (ArgScale != 1.0) {
        forEachElement(n, [=](int64_t i) { out[i] = in[i] * ArgScale; });
        sp_VecMath(F, out, out, n);
    } else {
        sp_VecMath(F, in, out, n);
    }
    if (ResultScale != 1.0) forEachElement(n, [=](int64_t i) { out[i] *= ResultScale; });
    return KernelOk;
}

// A tangent overflows where the cosine is exactly 0. That can only happen
// where the tangent itself is enormous (or not a number), so the cosine is
// evaluated only there; elements from the failing one on are left unwritten.
template <double Scale>
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
    sp_VecMath(F, in, out, n);
    return markOutOfRange(out, in, n, 0.0, [](double x) { return std::fabs(x) > 1; });
}

// Anything not strictly inside (-1, 1), a NaN included, is out of range.
int32_t rrAtanh(double* __restrict out, const double* __restrict in, int64_t n) {
    sp_VecMath(VecFn::Atanh, in, out, n);
    return markOutOfRange(out, in, n, 0.0, [](double x) { return !(x > -1 && x < 1); });
}

// Only negative arguments count as out of range. For 0 <= x < 1, where no real
// acosh exists either, the math library's NaN is stored without a status: the
// element says plainly that it has no value, and the rest of the vector stands.
int32_t rrAcosh(double* __restrict out, const double* __restrict in, int64_t n) {
    sp_VecMath(VecFn::Acosh, in, out, n);
    return markOutOfRange(out, in, n, 0.0, [](double x) { return x < 0; });
}

int32_t rrRnd(double* __restrict out, const double* __restrict in, int64_t n) {
    for (int64_t i = 0; i < n; ++i) out[i] = double(sp_Random(gRndSeed)) * in[i] / 2147483647.0;
    return KernelOk;
}

int32_t reportZeroVector() {
    if (gCurrentMessages) gCurrentMessages->error("Cannot normalise zero vector");
    return KernelReported;
}

int32_t rrNorm(double* __restrict out, const double* __restrict in, int64_t n) {
    double m = 0;
    for (int64_t i = 0; i < n; ++i)
        if (std::fabs(in[i]) > m) m = std::fabs(in[i]);
    if (m == 0) return reportZeroVector();
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
    const double* __restrict z = parts(in);
    forEachElement(n, [=](int64_t i) { out[i] = z[2 * i]; });
    return KernelOk;
}

int32_t crImag(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = parts(in);
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
template <double Scale>
int32_t crArg(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = parts(in);
    for (int64_t i = 0; i < n; ++i) {
        double a = z[2 * i], b = z[2 * i + 1];
        out[i] = a == 0 && b == 0 ? 0.0 : std::atan2(b, a) * Scale;
    }
    return KernelOk;
}

int32_t crDb(double* __restrict out, const cplx* in, int64_t n) {
    magnitudes(out, in, n);
    decibelsInPlace(out, n);
    return KernelOk;
}

// By magnitude; ties as in the real kernels.
int32_t crMaxIdx(double* __restrict out, const cplx* in, int64_t n) {
    const double* __restrict z = parts(in);
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
    const double* __restrict z = parts(in);
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
    double* __restrict y = parts(out);
    const double* __restrict z = parts(in);
    for (int64_t i = 0; i < n; ++i) {
        Pair r = f(z[2 * i], z[2 * i + 1]);
        y[2 * i] = r.re;
        y[2 * i + 1] = r.im;
    }
    return KernelOk;
}

int32_t ccNeg(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = parts(out);
    const double* __restrict z = parts(in);
    forEachElement(2 * n, [=](int64_t i) { y[i] = -z[i]; });
    return KernelOk;
}

template <double Scale>
int32_t ccLogarithm(cplx* out, const cplx* in, int64_t n) {
    double* __restrict y = parts(out);
    const double* __restrict z = parts(in);
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
    double* __restrict y = parts(out);
    const double* __restrict z = parts(in);
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
    double* __restrict y = parts(out);
    const double* __restrict z = parts(in);
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
    double* __restrict y = parts(out);
    const double* __restrict z = parts(in);
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
    double* __restrict y = parts(out);
    const double* __restrict z = parts(in);
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
    double* __restrict y = parts(out);
    const double* __restrict z = parts(in);
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
    const double* __restrict z = parts(in);
    double m = 0;
    for (int64_t i = 0; i < n; ++i) {
        double r = std::sqrt(z[2 * i] * z[2 * i] + z[2 * i + 1] * z[2 * i + 1]);
        if (r > m) m = r;
    }
    if (m == 0) return reportZeroVector();
    double* __restrict y = parts(out);
    forEachElement(2 * n, [=](int64_t i) { y[i] = z[i] / m; });
    return KernelOk;
}

int32_t ccSum(cplx* out, const cplx* in, int64_t n) {
    const double* z = parts(in);
    out[0] = cplx(sumOf(z, n, 2), sumOf(z + 1, n, 2));
    return KernelOk;
}

int32_t ccMean(cplx* out, const cplx* in, int64_t n) {
    const double* z = parts(in);
    out[0] = cplx(sumOf(z, n, 2) / double(n), sumOf(z + 1, n, 2) / double(n));
    return KernelOk;
}

// ---------------------------------------------------------------- table

struct UnaryOp {
    const char* name;  // as messages name it
    RealToReal realToReal;
    ComplexToReal complexToReal;
    RealToComplex realToComplex;
    ComplexToComplex complexToComplex;
    PhysTypeRule physTypeRule;
    int32_t reduce;  // 1: one value per division, no reference
};

constexpr PhysTypeRule kSame = static_cast<PhysTypeRule>(&PhysType::same);
constexpr PhysTypeRule kNone = static_cast<PhysTypeRule>(&PhysType::none);
constexpr PhysTypeRule kDb = &PhysType::db;
constexpr PhysTypeRule kSqrt = static_cast<PhysTypeRule>(&PhysType::sqrt);

enum OpIndex : int {
    OpMag, OpPhase, OpReal, OpImag, OpSign, OpDb, OpLog, OpLn, OpExp, OpSin, OpCos, OpSqrt, OpTan, OpAtan, OpNorm,
    OpNeg, OpRnd, OpNot, OpMean, OpMaxIdx, OpMinIdx, OpPhaseRad, OpSinDeg, OpCosDeg, OpTanDeg, OpAtanDeg, OpArg,
    OpArgRad, OpFloor, OpSum, OpSinh, OpCosh, OpTanh, OpAsin, OpAcos, OpAsinh, OpAcosh, OpAtanh, OpCount
};

// clang-format off
const UnaryOp kUnaryOps[OpCount] = {
    //  name           realToReal                      complexToReal          rc       complexToComplex             rule   reduce
    {"mag",         rrAbs,                             crMag,                 nullptr, nullptr,                     kSame, 0},
    {"phase",       rrZero,                            crPhaseDeg,            nullptr, nullptr,                     kNone, 0},
    {"real",        rrCopy,                            crReal,                nullptr, nullptr,                     kSame, 0},
    {"imag",        rrZero,                            crImag,                nullptr, nullptr,                     kSame, 0},
    {"sign",        rrSign,                            nullptr,               nullptr, nullptr,                     kNone, 0},
    {"db",          rrDb,                              crDb,                  nullptr, nullptr,                     kDb,   0},
    {"log",         rrLogarithm<VecFn::Log10>,        nullptr,               nullptr, ccLogarithm<kInvLn10>,       kDb,   0},
    {"ln",          rrLogarithm<VecFn::Log>,           nullptr,               nullptr, ccLogarithm<1.0>,            kDb,   0},
    {"exp",         rrOverflowing<VecFn::Exp, false>,         nullptr,               nullptr, ccExp,                       kDb,   0},
    {"sin",         rrPlain<VecFn::Sin>,               nullptr,               nullptr, ccSinCosFamily<false, false>, kDb,   0},
    {"cos",         rrPlain<VecFn::Cos>,               nullptr,               nullptr, ccSinCosFamily<false, true>, kDb,   0},
    {"sqrt",        rrSqrt,                            nullptr,               nullptr, ccSqrt,                      kSqrt, 0},
    {"tan",         rrTangent<1.0>,                    nullptr,               nullptr, ccTan,                       kDb,   0},
    {"atan",        rrPlain<VecFn::Atan>,              nullptr,               nullptr, ccAtan,                      kDb,   0},
    {"norm",        rrNorm,                            nullptr,               nullptr, ccNorm,                      kNone, 0},
    {"-",           rrNeg,                             nullptr,               nullptr, ccNeg,                       kSame, 0},
    {"rnd",         rrRnd,                             nullptr,               nullptr, nullptr,                     kSame, 0},
    {"!",           rrNot,                             nullptr,               nullptr, nullptr,                     kNone, 0},
    {"mean",        rrMean,                            nullptr,               nullptr, ccMean,                      kSame, 1},
    {"maxidx",      rrMaxIdx,                          crMaxIdx,              nullptr, nullptr,                     kNone, 1},
    {"minidx",      rrMinIdx,                          crMinIdx,              nullptr, nullptr,                     kNone, 1},
    {"phase_rad",   rrZero,                            crPhaseRad,            nullptr, nullptr,                     kNone, 0},
    {"sin_deg",     rrPlain<VecFn::Sin, kRadPerDeg>,   nullptr,               nullptr, ccSinCosFamily<false, false>, kDb,   0},
    {"cos_deg",     rrPlain<VecFn::Cos, kRadPerDeg>,   nullptr,               nullptr, ccSinCosFamily<false, true>, kDb,   0},
    {"tan_deg",     rrTangent<kRadPerDeg>,             nullptr,               nullptr, ccTan,                       kDb,   0},
    {"atan_deg",    rrPlain<VecFn::Atan, 1.0, kDegPerRad>, nullptr,               nullptr, ccAtan,                      kDb,   0},
    {"phase_b",     rrZero,                            crArg<kDegPerRad>,     nullptr, nullptr,                     kNone, 0},
    {"phase_b_rad", rrZero,                            crArg<1.0>,            nullptr, nullptr,                     kNone, 0},
    {"floorv",      rrFloor,                           nullptr,               nullptr, nullptr,                     kSame, 0},
    {"sum",         rrSum,                             nullptr,               nullptr, ccSum,                       kSame, 1},
    {"sinh",        rrOverflowing<VecFn::Sinh, true>,  nullptr,               nullptr, ccSinCosFamily<true, false>, kDb,   0},
    {"cosh",        rrOverflowing<VecFn::Cosh, true>,  nullptr,               nullptr, ccSinCosFamily<true, true>, kDb,   0},
    {"tanh",        rrPlain<VecFn::Tanh>,              nullptr,               nullptr, ccTanh,                      kDb,   0},
    {"asin",        rrUnitDomain<VecFn::Asin>,             nullptr,               nullptr, ccAsin,                      kDb,   0},
    {"acos",        rrUnitDomain<VecFn::Acos>,             nullptr,               nullptr, ccAcos,                      kDb,   0},
    {"asinh",       rrPlain<VecFn::Asinh>,             nullptr,               nullptr, ccAreaHyperbolic<1>,         kDb,   0},
    {"acosh",       rrAcosh,                           nullptr,               nullptr, ccAreaHyperbolic<-1>,        kDb,   0},
    {"atanh",       rrAtanh,                           nullptr,               nullptr, ccAtanh,                     kDb,   0},
};
// clang-format on

// ---------------------------------------------------------------- dispatcher

FUNC_ERROR runUnary(const UnaryOp& op, const FuncArgs& args, FuncResult& result, MessageHandler& messages) {
    const double* realIn = args.realData(0);
    const cplx* complexIn = args.complexData(0);
    const int64_t n = args.length(0);
    const VD_type kind = args.type(0);
    CurrentMessagesScope scope(&messages);

    const int64_t count = op.reduce ? 1 : n;
    const PhysType phys = op.physTypeRule(args.physType(0));
    result.setPhysType(phys);
    result.setRefPhysType(phys);

    auto requiresReal = [&] {
        messages.error("The function '%s' requires a real argument", op.name);
        return FuncFailed;
    };
    // The result is real or complex by the kernel chosen, one division of
    // output per division of the argument.
    auto realOut = [&] {
        result.setType(VD_Real, VD_Real);
        result.allocate(count, AllocLikeArg, args.totalLength(0));
        return result.data();
    };
    auto complexOut = [&] {
        result.setType(VD_Complex, args.refType(0));
        result.allocate(count, AllocLikeArg, args.totalLength(0));
        return result.complexData();
    };
    int32_t status = KernelOk;
    if (kind != VD_Real) {
        if (!complexIn && n > 0) return requiresReal();  // not numeric at all
        if (op.complexToReal) status = op.complexToReal(realOut(), complexIn, n);
        else if (op.complexToComplex) status = op.complexToComplex(complexOut(), complexIn, n);
        else return requiresReal();
    } else {
        if (op.realToReal) status = op.realToReal(realOut(), realIn, n);
        else if (op.realToComplex) status = op.realToComplex(complexOut(), realIn, n);
        else return FuncOk;
    }
    // Also after a failing kernel: what was computed keeps its x-values.
    if (!op.reduce) result.copyRefFromArgs(args, AllocLikeArg, 0);

    switch (status) {
        case KernelOk: return FuncOk;
        case KernelReported: return FuncFailed;
        case KernelOutOfRange: messages.error("Argument out of range for function '%s'", op.name); return FuncFailed;
        default: messages.error("Overflow in function '%s'", op.name); return FuncFailed;
    }
}

template <int K>
FUNC_ERROR unaryFunction(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                         const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = runUnary(kUnaryOps[K], args.funcArgs(), result->funcResult(), *messages);
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- group delay

// -d(phase)/d(omega) from the unwrapped phase in radians: the slope of the
// parabola through each point and its neighbours inside, the straight slope of
// the first and last pair at the ends.
FUNC_ERROR computeGroupDelay(const FuncArgs& args, FuncResult& result, MessageHandler& messages) {
    const int64_t n = args.length(0);
    if (n < 2) {
        messages.error("Need at least two points to find group delay");
        return FuncFailed;
    }
    double* out = result.makeReal(n, AllocLikeArg, args.totalLength(0));
    const cplx* z = args.complexData(0);
    if (z) {
        const double* xr = args.refData(0);
        const cplx* xc = args.complexRefData(0);
        if ((!xr && !xc) || args.refLength(0) < n) {
            messages.error("Argument %d in function '%s' has no reference (xvalues)", 1, args.functionName());
            return FuncFailed;
        }
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
            double a = (p0 - p1) / (x0 - x1);
            double c = ((p1 - p2) / (x1 - x2) - a) / (x2 - x0);
            double b = a - (x1 + x0) * c;
            out[k - 1] = -(2 * c * x1 + b) / kTwoPi;
            x0 = x1, p0 = p1, x1 = x2, p1 = p2;
        }
        if (x1 != x0) out[n - 1] = -(p1 - p0) / (x1 - x0) / kTwoPi;
        if (infinite || x1 == x0) {
            messages.error("Cannot find group delay. Argument has infinite slope");
            return FuncFailed;
        }
    }
    // A real response has no phase to change, hence zero delay.
    result.setType(VD_Real, VD_Real);
    result.setPhysType(PhysType::div(PhysType(PhysType::None), args.refPhysType(0)));
    result.copyRefFromArgs(args, AllocLikeArg, 0);
    return FuncOk;
}

FUNC_ERROR groupDelay(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                      const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = computeGroupDelay(args.funcArgs(), result->funcResult(), *messages);
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- element access

FUNC_ERROR elementAt(const FuncArgs& args, FuncResult& result, MessageHandler& messages) {
    result.setPhysType(args.physType(0));
    if (args.type(1) != VD_Real || !args.realData(1)) {
        messages.error("Complex index");
        return FuncFailed;
    }
    if (args.length(1) != 1) {
        messages.error("Index must be scalar");
        return FuncFailed;
    }
    const double j = args.realData(1)[0];
    if (j != std::floor(j)) {  // NaN too
        messages.error("Index must be an integer");
        return FuncFailed;
    }
    if (j < 0 || j >= double(args.length(0))) {
        messages.error("Index out of range");
        return FuncFailed;
    }
    const int64_t i = int64_t(j);
    switch (args.type(0)) {
        case VD_Real: *result.makeRealVector(1) = args.realData(0)[i]; break;
        case VD_Complex: *result.makeComplexVector(1) = args.complexData(0)[i]; break;
        case VD_String: {
            const char* s = args.stringData(0)[i];
            char* copy = strdup(s ? s : "");
            if (!copy) throw std::bad_alloc();
            *result.makeStringVector(1) = copy;
            break;
        }
    }
    return FuncOk;
}

FUNC_ERROR indexFunction(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                         const ScpParseContext&, const FunctionRunTime&) {
    FUNC_ERROR rc = elementAt(args.funcArgs(), result->funcResult(), *messages);
    result->finish();
    return rc;
}

// ---------------------------------------------------------------- measures

FUNC_ERROR lengthFunction(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                          const ScpParseContext&, const FunctionRunTime&) {
    *result->makeInteger64Scalar() = args.length(0);
    result->finish();
    return FuncOk;
}

FUNC_ERROR numDivisionsFunction(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                                const ScpParseContext&, const FunctionRunTime&) {
    *result->makeInteger64Scalar() = args.numDivisions(0);
    result->finish();
    return FuncOk;
}

// The number of runs of a divided vector, the number of points of a plain one.
FUNC_ERROR vecLengthFunction(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                             const ScpParseContext&, const FunctionRunTime&) {
    const int64_t d = args.numDivisions(0);
    *result->makeInteger64Scalar() = d == 1 ? args.length(0) : d;
    result->finish();
    return FuncOk;
}

FUNC_ERROR numElemsFunction(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                            const ScpParseContext&, const FunctionRunTime&) {
    FuncResult& r = result->funcResult();
    double* out = r.makeReal(1, AllocSingle, args.numDivisions(0));
    if (out) out[0] = double(args.length(0));
    result->finish();
    return FuncOk;
}

// ---------------------------------------------------------------- registration

const FunctionOption kPlain{};
const FunctionOption kElementWise{false, true, false, false};
const FunctionOption kOperator{false, true, false, true};
const FunctionOption kArrayArgs{false, false, true, false};

// clang-format off
FuncConstruct registrations[] = {
    {"abs",          {0},    {1}, 1, 1, unaryFunction<OpMag>,      "", PyVector,    kElementWise},
    {"mag",          {0},    {1}, 1, 1, unaryFunction<OpMag>,      "", PyVector,    kElementWise},
    {"magnitude",    {0},    {1}, 1, 1, unaryFunction<OpMag>,      "", PyVector,    kElementWise},
    {"ph",           {0},    {1}, 1, 1, unaryFunction<OpPhase>,    "", PyVector,    kPlain},
    {"phase",        {0},    {1}, 1, 1, unaryFunction<OpPhase>,    "", PyVector,    kPlain},
    {"re",           {0},    {1}, 1, 1, unaryFunction<OpReal>,     "", PyVector,    kElementWise},
    {"real",         {0},    {1}, 1, 1, unaryFunction<OpReal>,     "", PyVector,    kElementWise},
    {"im",           {0},    {1}, 1, 1, unaryFunction<OpImag>,     "", PyVector,    kElementWise},
    {"imag",         {0},    {1}, 1, 1, unaryFunction<OpImag>,     "", PyVector,    kElementWise},
    {"sign",         {4},    {1}, 1, 1, unaryFunction<OpSign>,     "", PyVector,    kElementWise},
    {"db",           {0},    {1}, 1, 1, unaryFunction<OpDb>,       "", PyVector,    kElementWise},
    {"log",          {0},    {1}, 1, 1, unaryFunction<OpLog>,      "", PyVector,    kElementWise},
    {"log10",        {0},    {1}, 1, 1, unaryFunction<OpLog>,      "", PyVector,    kElementWise},
    {"ln",           {0},    {1}, 1, 1, unaryFunction<OpLn>,       "", PyVector,    kElementWise},
    {"exp",          {0},    {1}, 1, 1, unaryFunction<OpExp>,      "", PyVector,    kElementWise},
    {"sin",          {0},    {1}, 1, 1, unaryFunction<OpSin>,      "", PyVector,    kElementWise},
    {"cos",          {0},    {1}, 1, 1, unaryFunction<OpCos>,      "", PyVector,    kElementWise},
    {"sqrt",         {0},    {1}, 1, 1, unaryFunction<OpSqrt>,     "", PyVector,    kElementWise},
    {"tan",          {0},    {1}, 1, 1, unaryFunction<OpTan>,      "", PyVector,    kElementWise},
    {"atan",         {0},    {1}, 1, 1, unaryFunction<OpAtan>,     "", PyVector,    kElementWise},
    {"norm",         {0},    {1}, 1, 1, unaryFunction<OpNorm>,     "", PyVector,    kElementWise},
    {"_UMinus",      {0},    {1}, 1, 1, unaryFunction<OpNeg>,      "", PyVector,    kOperator},
    {"rnd",          {4},    {1}, 1, 1, unaryFunction<OpRnd>,      "", PyVector,    kElementWise},
    {"_Not",         {0},    {1}, 1, 1, unaryFunction<OpNot>,      "", PyVector,    kOperator},
    {"mean",         {0},    {1}, 1, 1, unaryFunction<OpMean>,     "", PyVector,    kPlain},
    {"maxidx",       {0},    {1}, 1, 1, unaryFunction<OpMaxIdx>,   "", PyVector,    kPlain},
    {"minidx",       {0},    {1}, 1, 1, unaryFunction<OpMinIdx>,   "", PyVector,    kPlain},
    {"phase_rad",    {0},    {1}, 1, 1, unaryFunction<OpPhaseRad>, "", PyVector,    kPlain},
    {"sin_deg",      {0},    {1}, 1, 1, unaryFunction<OpSinDeg>,   "", PyVector,    kElementWise},
    {"cos_deg",      {0},    {1}, 1, 1, unaryFunction<OpCosDeg>,   "", PyVector,    kElementWise},
    {"tan_deg",      {0},    {1}, 1, 1, unaryFunction<OpTanDeg>,   "", PyVector,    kElementWise},
    {"atan_deg",     {0},    {1}, 1, 1, unaryFunction<OpAtanDeg>,  "", PyVector,    kElementWise},
    {"arg",          {0},    {1}, 1, 1, unaryFunction<OpArg>,      "", PyVector,    kElementWise},
    {"arg_rad",      {0},    {1}, 1, 1, unaryFunction<OpArgRad>,   "", PyVector,    kElementWise},
    {"floorv",       {0},    {1}, 1, 1, unaryFunction<OpFloor>,    "", PyVector,    kElementWise},
    {"sum",          {0},    {1}, 1, 1, unaryFunction<OpSum>,      "", PyVector,    kPlain},
    {"sinh",         {0},    {1}, 1, 1, unaryFunction<OpSinh>,     "", PyVector,    kElementWise},
    {"cosh",         {0},    {1}, 1, 1, unaryFunction<OpCosh>,     "", PyVector,    kElementWise},
    {"tanh",         {0},    {1}, 1, 1, unaryFunction<OpTanh>,     "", PyVector,    kElementWise},
    {"asin",         {0},    {1}, 1, 1, unaryFunction<OpAsin>,     "", PyVector,    kElementWise},
    {"acos",         {0},    {1}, 1, 1, unaryFunction<OpAcos>,     "", PyVector,    kElementWise},
    {"asinh",        {0},    {1}, 1, 1, unaryFunction<OpAsinh>,    "", PyVector,    kElementWise},
    {"acosh",        {0},    {1}, 1, 1, unaryFunction<OpAcosh>,    "", PyVector,    kElementWise},
    {"atanh",        {0},    {1}, 1, 1, unaryFunction<OpAtanh>,    "", PyVector,    kElementWise},
    {"GroupDelay",   {0},    {1}, 1, 1, groupDelay,                "", PyVector,    kPlain},
    {"_Index",       {3, 4}, {},  2, 2, indexFunction,             "", PyVector,    kPlain},
    {"length",       {3},    {2}, 1, 1, lengthFunction,            "", PyInteger64, kArrayArgs},
    {"veclength",    {3},    {2}, 1, 1, vecLengthFunction,         "", PyInteger64, kArrayArgs},
    {"NumDivisions", {0},    {2}, 1, 1, numDivisionsFunction,      "", PyInteger64, kPlain},
    {"NumElems",     {3},    {3}, 1, 1, numElemsFunction,          "", PyInteger64, kArrayArgs},
};
// clang-format on

}  // namespace
