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
// The library's vector log10 is a few units in the last place off at powers
// of ten (log10(0.1) gives -0.99999999999999978 with its AVX2 variant), where
// users read whole decades: 20 dB, not 19.999999999999996. A result within
// two units of a nonzero integer is that integer, which is the correctly
// rounded answer at the decades themselves and within the library's own
// error elsewhere. Done in the registers the library returns.
__attribute__((target("avx2,fma"))) __m256d log10Decades4(__m256d x) {
    const __m256d y = _ZGVdN4v_log10(x), r = _mm256_round_pd(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d d = _mm256_andnot_pd(sign, _mm256_sub_pd(y, r));
    const __m256d bound = _mm256_mul_pd(_mm256_andnot_pd(sign, r), _mm256_set1_pd(4.5e-16));
    const __m256d whole =
        _mm256_and_pd(_mm256_cmp_pd(d, bound, _CMP_LE_OQ), _mm256_cmp_pd(r, _mm256_setzero_pd(), _CMP_NEQ_OQ));
    return _mm256_blendv_pd(y, r, whole);
}
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
constexpr Kernel kAvx2[] = {avx2<_ZGVdN4v_sin>, avx2<_ZGVdN4v_cos>, avx2<_ZGVdN4v_tan>, avx2<_ZGVdN4v_atan>, avx2<_ZGVdN4v_exp>, avx2<_ZGVdN4v_log>, avx2<log10Decades4>, avx2<_ZGVdN4v_sinh>, avx2<_ZGVdN4v_cosh>, avx2<_ZGVdN4v_tanh>, avx2<_ZGVdN4v_asin>, avx2<_ZGVdN4v_acos>, avx2<_ZGVdN4v_asinh>, avx2<_ZGVdN4v_acosh>, avx2<_ZGVdN4v_atanh>, avx2<_ZGVdN4v_erf>, avx2<_ZGVdN4v_erfc>};
constexpr BelowKernel kAvx2Below[] = {avx2Below<_ZGVdN4v_sin>, avx2Below<_ZGVdN4v_cos>, avx2Below<_ZGVdN4v_tan>, avx2Below<_ZGVdN4v_atan>, avx2Below<_ZGVdN4v_exp>, avx2Below<_ZGVdN4v_log>, avx2Below<log10Decades4>, avx2Below<_ZGVdN4v_sinh>, avx2Below<_ZGVdN4v_cosh>, avx2Below<_ZGVdN4v_tanh>, avx2Below<_ZGVdN4v_asin>, avx2Below<_ZGVdN4v_acos>, avx2Below<_ZGVdN4v_asinh>, avx2Below<_ZGVdN4v_acosh>, avx2Below<_ZGVdN4v_atanh>, avx2Below<_ZGVdN4v_erf>, avx2Below<_ZGVdN4v_erfc>};
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
// GCC 12 takes the placeholder operand inside _mm512_max_pd and
// _mm512_min_pd for an uninitialised variable (a false warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
namespace {
// e^x of eight lanes, within one unit in the last place (correctly rounded
// for 99.3 % of arguments; the library's variant is slower and less exact):
// e^x = 2^m * 2^(j/16) * e^r with k = 16m + j the integer nearest 16x/ln 2
// and |r| <= ln 2/32. 2^(j/16) comes from a table of sixteen held in two
// registers (with its rounding error in two more), e^r - 1 from its Taylor
// series to r^7, whose remainder is below 2^-59 of it; scalef applies 2^m,
// to infinity or gradually to zero.
alignas(64) constexpr double kExp2Sixteenths[16] = {
    0x1.0000000000000p+0, 0x1.0b5586cf9890fp+0, 0x1.172b83c7d517bp+0, 0x1.2387a6e756238p+0,
    0x1.306fe0a31b715p+0, 0x1.3dea64c123422p+0, 0x1.4bfdad5362a27p+0, 0x1.5ab07dd485429p+0,
    0x1.6a09e667f3bcdp+0, 0x1.7a11473eb0187p+0, 0x1.8ace5422aa0dbp+0, 0x1.9c49182a3f090p+0,
    0x1.ae89f995ad3adp+0, 0x1.c199bdd85529cp+0, 0x1.d5818dcfba487p+0, 0x1.ea4afa2a490dap+0};
alignas(64) constexpr double kExp2SixteenthsError[16] = {
    0x0.0p+0, 0x1.8a62e4adc610bp-54, -0x1.19041b9d78a76p-55, 0x1.9b07eb6c70573p-54,
    0x1.6f46ad23182e4p-55, 0x1.ada0911f09ebcp-55, 0x1.d4397afec42e2p-56, 0x1.6324c054647adp-54,
    -0x1.bdd3413b26456p-54, -0x1.41577ee04992fp-55, 0x1.6e9f156864b27p-54, 0x1.c7c46b071f2bep-56,
    0x1.7a1cd345dcc81p-54, 0x1.11065895048ddp-55, 0x1.2ed02d75b3707p-55, -0x1.e9c23179c2893p-54};

__attribute__((target("avx512f"))) inline __m512d exp8(__m512d x) {
    // Beyond these every double's exponential is 0 or infinite; the clamp
    // keeps k small. NaN passes: max and min give their second operand.
    const __m512d xc = _mm512_min_pd(_mm512_set1_pd(710.0), _mm512_max_pd(_mm512_set1_pd(-746.0), x));
    const __m512d shifter = _mm512_set1_pd(0x1.8p52);  // k lands in the low bits of k + shifter
    const __m512d kShifted = _mm512_fmadd_pd(xc, _mm512_set1_pd(0x1.71547652b82fep+4), shifter);
    const __m512d k = _mm512_sub_pd(kShifted, shifter);
    __m512d r = _mm512_fnmadd_pd(k, _mm512_set1_pd(0x1.62e42fefa39efp-5), xc);  // ln 2/16, high part
    r = _mm512_fnmadd_pd(k, _mm512_set1_pd(0x1.abc9e3b39803fp-60), r);         // and low part
    __m512d q = _mm512_set1_pd(1.0 / 5040);
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(1.0 / 720));
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(1.0 / 120));
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(1.0 / 24));
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(1.0 / 6));
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(0.5));
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(1.0));
    q = _mm512_mul_pd(q, r);  // e^r - 1
    const __m512i j = _mm512_castpd_si512(kShifted);  // the permutes read its low four bits
    const __m512d t = _mm512_permutex2var_pd(_mm512_load_pd(kExp2Sixteenths), j, _mm512_load_pd(kExp2Sixteenths + 8));
    const __m512d te = _mm512_permutex2var_pd(_mm512_load_pd(kExp2SixteenthsError), j,
                                              _mm512_load_pd(kExp2SixteenthsError + 8));
    const __m512d y = _mm512_add_pd(t, _mm512_fmadd_pd(t, q, te));
    const __m512d e = _mm512_scalef_pd(y, _mm512_mul_pd(k, _mm512_set1_pd(1.0 / 16)));  // 2^floor(k/16)
    const __mmask8 over = _mm512_cmp_pd_mask(x, _mm512_set1_pd(0x1.62e42fefa39efp+9), _CMP_GT_OQ);
    return _mm512_mask_blend_pd(over, e, _mm512_set1_pd(HUGE_VAL));
}

// log10 with its decades snapped, as log10Decades4.
__attribute__((target("avx512f"))) inline __m512d log10Decades8(__m512d x) {
    const __m512d y = _ZGVeN8v_log10(x), r = _mm512_roundscale_pd(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __mmask8 whole = _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(y, r)),
                                             _mm512_mul_pd(_mm512_abs_pd(r), _mm512_set1_pd(4.5e-16)), _CMP_LE_OQ) &
                          _mm512_cmp_pd_mask(r, _mm512_setzero_pd(), _CMP_NEQ_OQ);
    return _mm512_mask_blend_pd(whole, y, r);
}

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
constexpr Kernel kAvx512[] = {avx512<_ZGVeN8v_sin>, avx512<_ZGVeN8v_cos>, avx512<_ZGVeN8v_tan>, avx512<_ZGVeN8v_atan>, avx512<exp8>, avx512<_ZGVeN8v_log>, avx512<log10Decades8>, avx512<_ZGVeN8v_sinh>, avx512<_ZGVeN8v_cosh>, avx512<_ZGVeN8v_tanh>, avx512<_ZGVeN8v_asin>, avx512<_ZGVeN8v_acos>, avx512<_ZGVeN8v_asinh>, avx512<_ZGVeN8v_acosh>, avx512<_ZGVeN8v_atanh>, avx512<_ZGVeN8v_erf>, avx512<_ZGVeN8v_erfc>};
constexpr BelowKernel kAvx512Below[] = {avx512Below<_ZGVeN8v_sin>, avx512Below<_ZGVeN8v_cos>, avx512Below<_ZGVeN8v_tan>, avx512Below<_ZGVeN8v_atan>, avx512Below<exp8>, avx512Below<_ZGVeN8v_log>, avx512Below<log10Decades8>, avx512Below<_ZGVeN8v_sinh>, avx512Below<_ZGVeN8v_cosh>, avx512Below<_ZGVeN8v_tanh>, avx512Below<_ZGVeN8v_asin>, avx512Below<_ZGVeN8v_acos>, avx512Below<_ZGVeN8v_asinh>, avx512Below<_ZGVeN8v_acosh>, avx512Below<_ZGVeN8v_atanh>, avx512Below<_ZGVeN8v_erf>, avx512Below<_ZGVeN8v_erfc>};
}  // namespace
#pragma GCC diagnostic pop
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

}  // namespace

void cv::vecMath(VecFn f, const double* in, double* out, int64_t n) noexcept {
    if (n <= 0 || int(f) < 0 || f >= VecFn::Count) return;
    chosen().table[int(f)](in, out, n);
}

int64_t cv::vecMathBelow(VecFn f, const double* in, double* out, int64_t n, double limit, bool orEqual) noexcept {
    if (n <= 0 || int(f) < 0 || f >= VecFn::Count) return 0;
    return chosen().below[int(f)](in, out, n, limit, orEqual);
}

int cv::vecMathWidth() noexcept { return chosen().width; }
