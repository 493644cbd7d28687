#include "VecMath.h"

#include <immintrin.h>

#include <cmath>

namespace {

using Kernel = void (*)(const double*, double*, int64_t);
using BelowKernel = int64_t (*)(const double*, double*, int64_t, double, bool);

double libSin(double x) { return std::sin(x); }
double libCos(double x) { return std::cos(x); }
double libTan(double x) { return std::tan(x); }
double libAtan(double x) { return std::atan(x); }
double libExp(double x) { return std::exp(x); }
double libLog(double x) { return std::log(x); }
double libLog10(double x) { return std::log10(x); }
double libSinh(double x) { return std::sinh(x); }
double libCosh(double x) { return std::cosh(x); }
double libTanh(double x) { return std::tanh(x); }
double libAsin(double x) { return std::asin(x); }
double libAcos(double x) { return std::acos(x); }
double libAsinh(double x) { return std::asinh(x); }
double libAcosh(double x) { return std::acosh(x); }
double libAtanh(double x) { return std::atanh(x); }
double libErf(double x) { return std::erf(x); }
double libErfc(double x) { return std::erfc(x); }

template <double (*F)(double)>
void scalar(const double* in, double* out, int64_t n) {
    for (int64_t i = 0; i < n; ++i) out[i] = F(in[i]);
}

// Results of this many elements or more, at an address a vector store can
// stream to, bypass the cache: they would push each other out of it anyway,
// and reading each line in before overwriting it cost an eighth of the time
// of a function as cheap as exp.
constexpr int64_t kStreamMin = int64_t(1) << 18;

bool streams(const double* out, int64_t n) { return n >= kStreamMin && reinterpret_cast<uintptr_t>(out) % 64 == 0; }

template <double (*F)(double)>
int64_t scalarBelow(const double* in, double* out, int64_t n, double limit, bool orEqual) {
    for (int64_t i = 0; i < n; ++i) {
        if (orEqual ? in[i] >= limit : in[i] > limit) return i;
        out[i] = F(in[i]);
    }
    return n;
}

}  // namespace

// The vector variants take and return vector registers, so their
// declarations and callers are compiled for the instruction set they need;
// they run only on processors that have it.
#pragma GCC push_options
#pragma GCC target("avx2,fma")
extern "C" {
__m256d _ZGVdN4v_sin(__m256d);
__m256d _ZGVdN4v_cos(__m256d);
__m256d _ZGVdN4v_tan(__m256d);
__m256d _ZGVdN4v_atan(__m256d);
__m256d _ZGVdN4v_exp(__m256d);
__m256d _ZGVdN4v_log(__m256d);
__m256d _ZGVdN4v_log10(__m256d);
__m256d _ZGVdN4v_sinh(__m256d);
__m256d _ZGVdN4v_cosh(__m256d);
__m256d _ZGVdN4v_tanh(__m256d);
__m256d _ZGVdN4v_asin(__m256d);
__m256d _ZGVdN4v_acos(__m256d);
__m256d _ZGVdN4v_asinh(__m256d);
__m256d _ZGVdN4v_acosh(__m256d);
__m256d _ZGVdN4v_atanh(__m256d);
__m256d _ZGVdN4v_erf(__m256d);
__m256d _ZGVdN4v_erfc(__m256d);
}
namespace {
// The attribute repeats the pragma for clang, which does not apply a target
// pragma to template instantiations.
template <__m256d (*F)(__m256d)>
__attribute__((target("avx2,fma"))) void avx2(const double* in, double* out, int64_t n) {
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) _mm256_storeu_pd(out + i, F(_mm256_loadu_pd(in + i)));
    if (i < n) {
        double a[4] = {0, 0, 0, 0}, b[4];
        for (int64_t k = i; k < n; ++k) a[k - i] = in[k];
        _mm256_storeu_pd(b, F(_mm256_loadu_pd(a)));
        for (int64_t k = i; k < n; ++k) out[k] = b[k - i];
    }
}
// As avx512Until below, in groups of four; the last, shorter group goes
// through avx2<F>.
template <__m256d (*F)(__m256d), int Beyond>
__attribute__((target("avx2,fma"))) int64_t avx2Until(const double* in, double* out, int64_t n, double limit) {
    const __m256d lim = _mm256_set1_pd(limit);
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d x = _mm256_loadu_pd(in + i);
        if (_mm256_movemask_pd(_mm256_cmp_pd(x, lim, Beyond))) break;
        _mm256_storeu_pd(out + i, F(x));
    }
    int64_t k = i;
    while (k < n && !(Beyond == _CMP_GE_OQ ? in[k] >= limit : in[k] > limit)) ++k;
    avx2<F>(in + i, out + i, k - i);
    return k;
}
template <__m256d (*F)(__m256d)>
__attribute__((target("avx2,fma"))) int64_t avx2Below(const double* in, double* out, int64_t n, double limit,
                                                      bool orEqual) {
    return orEqual ? avx2Until<F, _CMP_GE_OQ>(in, out, n, limit) : avx2Until<F, _CMP_GT_OQ>(in, out, n, limit);
}
constexpr Kernel kAvx2[] = {avx2<_ZGVdN4v_sin>, avx2<_ZGVdN4v_cos>, avx2<_ZGVdN4v_tan>, avx2<_ZGVdN4v_atan>, avx2<_ZGVdN4v_exp>, avx2<_ZGVdN4v_log>, avx2<_ZGVdN4v_log10>, avx2<_ZGVdN4v_sinh>, avx2<_ZGVdN4v_cosh>, avx2<_ZGVdN4v_tanh>, avx2<_ZGVdN4v_asin>, avx2<_ZGVdN4v_acos>, avx2<_ZGVdN4v_asinh>, avx2<_ZGVdN4v_acosh>, avx2<_ZGVdN4v_atanh>, avx2<_ZGVdN4v_erf>, avx2<_ZGVdN4v_erfc>};
constexpr BelowKernel kAvx2Below[] = {avx2Below<_ZGVdN4v_sin>, avx2Below<_ZGVdN4v_cos>, avx2Below<_ZGVdN4v_tan>, avx2Below<_ZGVdN4v_atan>, avx2Below<_ZGVdN4v_exp>, avx2Below<_ZGVdN4v_log>, avx2Below<_ZGVdN4v_log10>, avx2Below<_ZGVdN4v_sinh>, avx2Below<_ZGVdN4v_cosh>, avx2Below<_ZGVdN4v_tanh>, avx2Below<_ZGVdN4v_asin>, avx2Below<_ZGVdN4v_acos>, avx2Below<_ZGVdN4v_asinh>, avx2Below<_ZGVdN4v_acosh>, avx2Below<_ZGVdN4v_atanh>, avx2Below<_ZGVdN4v_erf>, avx2Below<_ZGVdN4v_erfc>};
}  // namespace
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
extern "C" {
__m512d _ZGVeN8v_sin(__m512d);
__m512d _ZGVeN8v_cos(__m512d);
__m512d _ZGVeN8v_tan(__m512d);
__m512d _ZGVeN8v_atan(__m512d);
__m512d _ZGVeN8v_exp(__m512d);
__m512d _ZGVeN8v_log(__m512d);
__m512d _ZGVeN8v_log10(__m512d);
__m512d _ZGVeN8v_sinh(__m512d);
__m512d _ZGVeN8v_cosh(__m512d);
__m512d _ZGVeN8v_tanh(__m512d);
__m512d _ZGVeN8v_asin(__m512d);
__m512d _ZGVeN8v_acos(__m512d);
__m512d _ZGVeN8v_asinh(__m512d);
__m512d _ZGVeN8v_acosh(__m512d);
__m512d _ZGVeN8v_atanh(__m512d);
__m512d _ZGVeN8v_erf(__m512d);
__m512d _ZGVeN8v_erfc(__m512d);
}
namespace {
template <__m512d (*F)(__m512d)>
__attribute__((target("avx512f"))) void avx512(const double* in, double* out, int64_t n) {
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) _mm512_storeu_pd(out + i, F(_mm512_loadu_pd(in + i)));
    if (i < n) {
        __mmask8 m = __mmask8((1u << (n - i)) - 1);
        _mm512_mask_storeu_pd(out + i, m, F(_mm512_maskz_loadu_pd(m, in + i)));
    }
}
// Whole groups of eight are tested and computed from registers; the group
// holding the first element past the limit, and a short tail, are computed
// masked with zeros in the other lanes as in avx512<F>, so every element
// meets F in the same group of lanes as with vecMath. The comparison is a
// template argument: a call of a vector variant clobbers every vector
// register, and nothing but the limit should need reloading after it.
// Streamed results go to memory without first being read into the cache.
template <__m512d (*F)(__m512d), int Beyond, bool Stream>
__attribute__((target("avx512f"))) int64_t avx512Until(const double* in, double* out, int64_t n, double limit) {
    const __m512d lim = _mm512_set1_pd(limit);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m512d x = _mm512_loadu_pd(in + i);
        if (_mm512_cmp_pd_mask(x, lim, Beyond)) break;
        if constexpr (Stream) _mm512_stream_pd(out + i, F(x));
        else _mm512_storeu_pd(out + i, F(x));
    }
    if constexpr (Stream) _mm_sfence();
    int64_t k = i;
    while (k < n && !(Beyond == _CMP_GE_OQ ? in[k] >= limit : in[k] > limit)) ++k;
    if (k > i) {
        const __mmask8 m = __mmask8((1u << (k - i)) - 1);
        _mm512_mask_storeu_pd(out + i, m, F(_mm512_maskz_loadu_pd(m, in + i)));
    }
    return k;
}
template <__m512d (*F)(__m512d)>
__attribute__((target("avx512f"))) int64_t avx512Below(const double* in, double* out, int64_t n, double limit,
                                                       bool orEqual) {
    if (streams(out, n))
        return orEqual ? avx512Until<F, _CMP_GE_OQ, true>(in, out, n, limit)
                       : avx512Until<F, _CMP_GT_OQ, true>(in, out, n, limit);
    return orEqual ? avx512Until<F, _CMP_GE_OQ, false>(in, out, n, limit)
                   : avx512Until<F, _CMP_GT_OQ, false>(in, out, n, limit);
}
constexpr Kernel kAvx512[] = {avx512<_ZGVeN8v_sin>, avx512<_ZGVeN8v_cos>, avx512<_ZGVeN8v_tan>, avx512<_ZGVeN8v_atan>, avx512<_ZGVeN8v_exp>, avx512<_ZGVeN8v_log>, avx512<_ZGVeN8v_log10>, avx512<_ZGVeN8v_sinh>, avx512<_ZGVeN8v_cosh>, avx512<_ZGVeN8v_tanh>, avx512<_ZGVeN8v_asin>, avx512<_ZGVeN8v_acos>, avx512<_ZGVeN8v_asinh>, avx512<_ZGVeN8v_acosh>, avx512<_ZGVeN8v_atanh>, avx512<_ZGVeN8v_erf>, avx512<_ZGVeN8v_erfc>};
constexpr BelowKernel kAvx512Below[] = {avx512Below<_ZGVeN8v_sin>, avx512Below<_ZGVeN8v_cos>, avx512Below<_ZGVeN8v_tan>, avx512Below<_ZGVeN8v_atan>, avx512Below<_ZGVeN8v_exp>, avx512Below<_ZGVeN8v_log>, avx512Below<_ZGVeN8v_log10>, avx512Below<_ZGVeN8v_sinh>, avx512Below<_ZGVeN8v_cosh>, avx512Below<_ZGVeN8v_tanh>, avx512Below<_ZGVeN8v_asin>, avx512Below<_ZGVeN8v_acos>, avx512Below<_ZGVeN8v_asinh>, avx512Below<_ZGVeN8v_acosh>, avx512Below<_ZGVeN8v_atanh>, avx512Below<_ZGVeN8v_erf>, avx512Below<_ZGVeN8v_erfc>};
}  // namespace
#pragma GCC pop_options

namespace {

constexpr Kernel kScalar[] = {scalar<libSin>, scalar<libCos>, scalar<libTan>, scalar<libAtan>, scalar<libExp>, scalar<libLog>, scalar<libLog10>, scalar<libSinh>, scalar<libCosh>, scalar<libTanh>, scalar<libAsin>, scalar<libAcos>, scalar<libAsinh>, scalar<libAcosh>, scalar<libAtanh>, scalar<libErf>, scalar<libErfc>};
constexpr BelowKernel kScalarBelow[] = {scalarBelow<libSin>, scalarBelow<libCos>, scalarBelow<libTan>, scalarBelow<libAtan>, scalarBelow<libExp>, scalarBelow<libLog>, scalarBelow<libLog10>, scalarBelow<libSinh>, scalarBelow<libCosh>, scalarBelow<libTanh>, scalarBelow<libAsin>, scalarBelow<libAcos>, scalarBelow<libAsinh>, scalarBelow<libAcosh>, scalarBelow<libAtanh>, scalarBelow<libErf>, scalarBelow<libErfc>};
static_assert(sizeof kScalar / sizeof *kScalar == size_t(VecFn::Count));
static_assert(sizeof kAvx2 / sizeof *kAvx2 == size_t(VecFn::Count));
static_assert(sizeof kAvx512 / sizeof *kAvx512 == size_t(VecFn::Count));
static_assert(sizeof kScalarBelow / sizeof *kScalarBelow == size_t(VecFn::Count));
static_assert(sizeof kAvx2Below / sizeof *kAvx2Below == size_t(VecFn::Count));
static_assert(sizeof kAvx512Below / sizeof *kAvx512Below == size_t(VecFn::Count));

struct Choice {
    const Kernel* table;
    const BelowKernel* below;
    int width;
};

Choice choose() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return {kAvx512, kAvx512Below, 8};
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return {kAvx2, kAvx2Below, 4};
    return {kScalar, kScalarBelow, 1};
}

const Choice& chosen() {
    static const Choice c = choose();
    return c;
}

// The library's vector log10 (seen with its AVX2 variant) is a few units in the last place off
// at powers of ten (log10(0.1) gives -0.99999999999999978), where users read
// whole decades: 20 dB, not 19.999999999999996. A result within two units of
// a nonzero integer is that integer, which is the correctly rounded answer at
// the decades themselves and within the library's own error elsewhere. It
// looks at results only, so it works in place.
void snapDecades(double* out, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        const double y = out[i], r = std::nearbyint(y), d = std::fabs(y - r);
        out[i] = r != 0.0 && d <= std::fabs(r) * 4.5e-16 ? r : y;
    }
}

}  // namespace

void cv::vecMath(VecFn f, const double* in, double* out, int64_t n) noexcept {
    if (n <= 0 || int(f) < 0 || f >= VecFn::Count) return;
    chosen().table[int(f)](in, out, n);
    if (f == VecFn::Log10 && chosen().width > 1) snapDecades(out, n);
}

int64_t cv::vecMathBelow(VecFn f, const double* in, double* out, int64_t n, double limit, bool orEqual) noexcept {
    if (n <= 0 || int(f) < 0 || f >= VecFn::Count) return 0;
    const int64_t done = chosen().below[int(f)](in, out, n, limit, orEqual);
    if (f == VecFn::Log10 && chosen().width > 1) snapDecades(out, done);
    return done;
}

int cv::vecMathWidth() noexcept { return chosen().width; }
