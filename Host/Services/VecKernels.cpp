// The hot element-wise and reduction loops, one source compiled for three
// instruction-set levels.
//
// Each loop is written once as an always-inline body; a thin entry point per
// level carries the target attribute, so the compiler vectorises the same
// body for SSE2, AVX2 and AVX-512 registers. The bodies never reassociate
// arithmetic (this file is compiled without contraction into fused
// multiply-add), so every level gives the bits the SSE2 baseline gives.
// Reductions whose order matters keep their lanes explicit in the source.
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "VecMath.h"

#define CV_INLINE inline __attribute__((always_inline))

namespace {

// ---------------------------------------------------------------- bodies

struct OpAdd {
    static CV_INLINE double f(double a, double b) { return a + b; }
};
struct OpSubtract {
    static CV_INLINE double f(double a, double b) { return a - b; }
};
struct OpMultiply {
    static CV_INLINE double f(double a, double b) { return a * b; }
};
struct OpDivide {
    static CV_INLINE double f(double a, double b) { return a / b; }
};
struct OpEqual {
    static CV_INLINE double f(double a, double b) { return a == b ? 1.0 : 0.0; }
};
struct OpNotEqual {
    static CV_INLINE double f(double a, double b) { return 1.0 - (a == b ? 1.0 : 0.0); }
};
struct OpGreater {
    static CV_INLINE double f(double a, double b) { return a > b ? 1.0 : 0.0; }
};
struct OpLess {
    static CV_INLINE double f(double a, double b) { return a < b ? 1.0 : 0.0; }
};
struct OpGreaterEqual {
    static CV_INLINE double f(double a, double b) { return a >= b ? 1.0 : 0.0; }
};
struct OpLessEqual {
    static CV_INLINE double f(double a, double b) { return a <= b ? 1.0 : 0.0; }
};
struct OpAnd {
    static CV_INLINE double f(double a, double b) { return ((a != 0.0) & (b != 0.0)) ? 1.0 : 0.0; }
};
struct OpOr {
    static CV_INLINE double f(double a, double b) { return ((a != 0.0) | (b != 0.0)) ? 1.0 : 0.0; }
};
struct OpMax {
    static CV_INLINE double f(double a, double b) { return a > b ? a : b; }
};
struct OpMin {
    static CV_INLINE double f(double a, double b) { return a > b ? b : a; }
};

template <class Op>
CV_INLINE void binaryLoop(double* __restrict out, const double* __restrict a, const double* __restrict b, int64_t n,
                          VecSpread spread) {
    switch (spread) {
        case VecSpread::Both:
            for (int64_t i = 0; i < n; ++i) out[i] = Op::f(a[i], b[i]);
            break;
        case VecSpread::LeftSingle: {
            const double x = a[0];
            for (int64_t i = 0; i < n; ++i) out[i] = Op::f(x, b[i]);
            break;
        }
        case VecSpread::RightSingle: {
            const double y = b[0];
            for (int64_t i = 0; i < n; ++i) out[i] = Op::f(a[i], y);
            break;
        }
    }
}

CV_INLINE void binaryBody(VecOp op, double* out, const double* a, const double* b, int64_t n, VecSpread s) {
    switch (op) {
        case VecOp::Add: binaryLoop<OpAdd>(out, a, b, n, s); break;
        case VecOp::Subtract: binaryLoop<OpSubtract>(out, a, b, n, s); break;
        case VecOp::Multiply: binaryLoop<OpMultiply>(out, a, b, n, s); break;
        case VecOp::Divide: binaryLoop<OpDivide>(out, a, b, n, s); break;
        case VecOp::Equal: binaryLoop<OpEqual>(out, a, b, n, s); break;
        case VecOp::NotEqual: binaryLoop<OpNotEqual>(out, a, b, n, s); break;
        case VecOp::Greater: binaryLoop<OpGreater>(out, a, b, n, s); break;
        case VecOp::Less: binaryLoop<OpLess>(out, a, b, n, s); break;
        case VecOp::GreaterEqual: binaryLoop<OpGreaterEqual>(out, a, b, n, s); break;
        case VecOp::LessEqual: binaryLoop<OpLessEqual>(out, a, b, n, s); break;
        case VecOp::And: binaryLoop<OpAnd>(out, a, b, n, s); break;
        case VecOp::Or: binaryLoop<OpOr>(out, a, b, n, s); break;
        case VecOp::Max: binaryLoop<OpMax>(out, a, b, n, s); break;
        case VecOp::Min: binaryLoop<OpMin>(out, a, b, n, s); break;
        case VecOp::Count: break;
    }
}

// |z| of interleaved (re, im) pairs, the plain formula: each operation is
// rounded alone at every level, so every level gives the same bits.
CV_INLINE void magnitudesBody(const double* __restrict z, double* __restrict out, int64_t n) {
    for (int64_t i = 0; i < n; ++i) out[i] = __builtin_sqrt(z[2 * i] * z[2 * i] + z[2 * i + 1] * z[2 * i + 1]);
}

// Blocks so that a zero near the front ends the search early while the
// inner loop stays a plain reduction.
CV_INLINE bool anyZeroBody(const double* v, int64_t n) {
    constexpr int64_t kBlock = 512;
    for (int64_t i = 0; i < n; i += kBlock) {
        const int64_t end = i + kBlock < n ? i + kBlock : n;
        int z = 0;
        for (int64_t k = i; k < end; ++k) z |= v[k] == 0.0;
        if (z) return true;
    }
    return false;
}

// Blocks keep the inner loop a plain reduction over cache-resident data; the
// index is looked up only in a block that improves on the extreme so far,
// and there the first sample equal to the block's extreme is the first that
// beat it. The lanes may end with -0 and +0 in either order: they compare
// equal, so the index found is the same.
template <bool Lower>
CV_INLINE bool beats(double a, double b) {
    return Lower ? a < b : a > b;
}

// Four doubles: two SSE2 registers at the baseline, one AVX2 register above.
using V4 = double __attribute__((vector_size(32)));
using M4 = long long __attribute__((vector_size(32)));

CV_INLINE V4 load4(const double* p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
CV_INLINE V4 select4(M4 m, V4 a, V4 b) { return V4((m & M4(a)) | (~m & M4(b))); }

template <bool Lower>
CV_INLINE int64_t extremeBody(const double* y, int64_t lo, int64_t hi) {
    int64_t i = lo;
    while (i < hi && std::isnan(y[i])) ++i;
    if (i >= hi) return -1;
    int64_t best = i;
    double extreme = y[i++];
    constexpr int64_t kBlock = 1024;
    while (i < hi) {
        const int64_t end = hi - i < kBlock ? hi : i + kBlock;
        V4 m0 = {extreme, extreme, extreme, extreme}, m1 = m0, m2 = m0, m3 = m0;
        int64_t k = i;
        for (; k + 16 <= end; k += 16) {
            const V4 a0 = load4(y + k), a1 = load4(y + k + 4), a2 = load4(y + k + 8), a3 = load4(y + k + 12);
            m0 = select4(Lower ? a0 < m0 : a0 > m0, a0, m0);
            m1 = select4(Lower ? a1 < m1 : a1 > m1, a1, m1);
            m2 = select4(Lower ? a2 < m2 : a2 > m2, a2, m2);
            m3 = select4(Lower ? a3 < m3 : a3 > m3, a3, m3);
        }
        m0 = select4(Lower ? m1 < m0 : m1 > m0, m1, m0);
        m2 = select4(Lower ? m3 < m2 : m3 > m2, m3, m2);
        m0 = select4(Lower ? m2 < m0 : m2 > m0, m2, m0);
        double b = m0[0];
        for (int l = 1; l < 4; ++l) b = beats<Lower>(m0[l], b) ? m0[l] : b;
        for (; k < end; ++k) b = beats<Lower>(y[k], b) ? y[k] : b;
        if (beats<Lower>(b, extreme)) {
            for (k = i; y[k] != b; ++k) {
            }
            best = k;
            extreme = b;
        }
        i = end;
    }
    return best;
}

// Written once for one segment (double) and for four (V4).
struct TrapezoidTerm {
    template <class T>
    static CV_INLINE T f(T xa, T ya, T xb, T yb, double) {
        return (ya + yb) * (xb - xa);
    }
};
struct SquareTerm {
    template <class T>
    static CV_INLINE T f(T xa, T ya, T xb, T yb, double level) {
        const T u = ya - level, w = yb - level;
        return (u * u + u * w + w * w) * (xb - xa);
    }
};

// Four partial sums break the dependency chain of one running sum; they are
// the lanes of the documented order, whatever the register width. Every step
// of x in the sum is checked.
template <class Term>
CV_INLINE double segmentBody(const double* x, const double* y, int64_t a, int64_t b, double level, bool* falling) {
    V4 s = {0, 0, 0, 0};
    M4 bad = {0, 0, 0, 0};
    int64_t k = a;
    for (; k + 4 <= b; k += 4) {
        const V4 xa = load4(x + k), xb = load4(x + k + 1), ya = load4(y + k), yb = load4(y + k + 1);
        s += Term::f(xa, ya, xb, yb, level);
        bad |= ~(xb >= xa);
    }
    double s0 = s[0], s1 = s[1], s2 = s[2], s3 = s[3];
    int tailBad = 0;
    for (; k < b; ++k) {
        s0 += Term::f(x[k], y[k], x[k + 1], y[k + 1], level);
        tailBad |= !(x[k + 1] >= x[k]);
    }
    if ((tailBad || (bad[0] | bad[1] | bad[2] | bad[3]) != 0) && falling) *falling = true;
    return (s0 + s1) + (s2 + s3);
}

CV_INLINE double segmentDispatch(SegmentTerm t, const double* x, const double* y, int64_t a, int64_t b, double level,
                                 bool* falling) {
    return t == SegmentTerm::Square ? segmentBody<SquareTerm>(x, y, a, b, level, falling)
                                    : segmentBody<TrapezoidTerm>(x, y, a, b, level, falling);
}

constexpr int64_t kSkipBlock = 16;

// The tests gather in 64-bit lanes, as wide as the comparisons' own masks: a
// narrower flag made the compiler pack every mask before combining it.
template <int Side>
CV_INLINE bool onSide(const double* v, int64_t count, double target) {
    uint64_t off = 0;
    for (int64_t j = 0; j < count; ++j) off |= uint64_t(!(Side > 0 ? v[j] > target : v[j] < target));
    return off == 0;
}

// Four blocks are tested at once while they pass; where they do not, block
// by block, so the result is the block the one-block walk stops at.
template <int Side>
CV_INLINE int64_t skipBody(const double* v, int64_t k, int64_t n, double target) {
    while (k + 4 * kSkipBlock <= n && onSide<Side>(v + k, 4 * kSkipBlock, target)) k += 4 * kSkipBlock;
    while (k + kSkipBlock <= n && onSide<Side>(v + k, kSkipBlock, target)) k += kSkipBlock;
    return k;
}

CV_INLINE int64_t skipDispatch(const double* v, int64_t k, int64_t n, double target, int side) {
    return side > 0 ? skipBody<1>(v, k, n, target) : side < 0 ? skipBody<-1>(v, k, n, target) : k;
}

CV_INLINE void sidesBody(const double* v, int64_t blocks, double target, int8_t* out) {
    for (int64_t b = 0; b < blocks; ++b) {
        const double* p = v + b * kSkipBlock;
        out[b] = int8_t(int(onSide<1>(p, kSkipBlock, target)) - int(onSide<-1>(p, kSkipBlock, target)));
    }
}

// No branch and no call, so the loop runs in vector registers; the
// comparisons only select values (the file is compiled without trapping
// math, which lets the compiler evaluate them for every lane).
CV_INLINE void binBody(const BinParams& p, const double* __restrict v, int32_t* __restrict out, int64_t n) {
    const double lastAsDouble = double(p.last);
    const double lo = p.lo, s = p.scale, los = p.loScaled, inv = p.inverse, w = p.width;
    const int32_t last = p.last, outside = p.outside;
    for (int64_t j = 0; j < n; ++j) {
        const double x = v[j];
        const bool finite = std::fabs(x) <= DBL_MAX;
        double t = ((finite ? x : lo) * s - los) * inv;
        t = t > 0 ? t : 0;
        t = t < lastAsDouble ? t : lastAsDouble;
        int32_t i = int32_t(t);
        const double lower = lo + double(i) * w, upper = lo + double(i + 1) * w;
        i -= int32_t((x < lower) & (i > 0));
        i += int32_t((x >= upper) & (i < last));
        out[j] = finite ? i : outside;
    }
}

// ---------------------------------------------------------------- levels

struct Table {
    void (*binary)(VecOp, double*, const double*, const double*, int64_t, VecSpread);
    bool (*anyZero)(const double*, int64_t);
    void (*magnitudes)(const double*, double*, int64_t);
    int64_t (*extreme)(const double*, int64_t, int64_t, bool);
    double (*segments)(SegmentTerm, const double*, const double*, int64_t, int64_t, double, bool*);
    int64_t (*skip)(const double*, int64_t, int64_t, double, int);
    void (*sides)(const double*, int64_t, double, int8_t*);
    void (*bins)(const BinParams&, const double*, int32_t*, int64_t);
};

#define CV_LEVEL(NAME, ATTR)                                                                                       \
    namespace NAME {                                                                                               \
    ATTR void binary(VecOp op, double* out, const double* a, const double* b, int64_t n, VecSpread s) {           \
        binaryBody(op, out, a, b, n, s);                                                                           \
    }                                                                                                              \
    ATTR bool anyZero(const double* v, int64_t n) { return anyZeroBody(v, n); }                                    \
    ATTR void magnitudes(const double* z, double* out, int64_t n) { magnitudesBody(z, out, n); }                   \
    ATTR int64_t extreme(const double* y, int64_t lo, int64_t hi, bool lower) {                                    \
        return lower ? extremeBody<true>(y, lo, hi) : extremeBody<false>(y, lo, hi);                               \
    }                                                                                                              \
    ATTR double segments(SegmentTerm t, const double* x, const double* y, int64_t a, int64_t b, double level,     \
                         bool* falling) {                                                                          \
        return segmentDispatch(t, x, y, a, b, level, falling);                                                     \
    }                                                                                                              \
    ATTR int64_t skip(const double* v, int64_t k, int64_t n, double target, int side) {                            \
        return skipDispatch(v, k, n, target, side);                                                                \
    }                                                                                                              \
    ATTR void sides(const double* v, int64_t blocks, double target, int8_t* out) {                                 \
        sidesBody(v, blocks, target, out);                                                                         \
    }                                                                                                              \
    ATTR void bins(const BinParams& p, const double* v, int32_t* out, int64_t n) { binBody(p, v, out, n); }        \
    constexpr Table table = {binary, anyZero, magnitudes, extreme, segments, skip, sides, bins};                  \
    }

CV_LEVEL(sse2, )
CV_LEVEL(avx2, __attribute__((target("avx2"))))
CV_LEVEL(avx512, __attribute__((target("avx512f,avx512dq,avx512vl"))))

// The binning loop vectorises at the baseline only (at the wider levels the
// compiler keeps its conversions scalar, which is slower than two lanes of
// SSE2), so every level bins with the baseline's code.
constexpr Table withBaselineBins(Table t) {
    t.bins = sse2::bins;
    return t;
}
constexpr Table kAvx2 = withBaselineBins(avx2::table), kAvx512 = withBaselineBins(avx512::table);
const Table* const kTables[] = {&sse2::table, &kAvx2, &kAvx512};

KernelLevel supported() noexcept {
    static const KernelLevel level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
            __builtin_cpu_supports("avx512vl"))
            return KernelLevel::Avx512;
        if (__builtin_cpu_supports("avx2")) return KernelLevel::Avx2;
        return KernelLevel::Sse2;
    }();
    return level;
}

KernelLevel capped(KernelLevel want) noexcept { return int(want) < int(supported()) ? want : supported(); }

KernelLevel initialLevel() noexcept {
    KernelLevel want = KernelLevel::Avx512;
    if (const char* env = std::getenv("CVFUNC_KERNELS")) {
        if (!std::strcmp(env, "sse2")) want = KernelLevel::Sse2;
        else if (!std::strcmp(env, "avx2")) want = KernelLevel::Avx2;
    }
    return capped(want);
}

KernelLevel gLevel = initialLevel();
const Table* gTable = kTables[int(gLevel)];

}  // namespace

KernelLevel cv::kernelLevel() noexcept { return gLevel; }
KernelLevel cv::kernelLevelSupported() noexcept { return supported(); }

KernelLevel cv::setKernelLevel(KernelLevel level) noexcept {
    const int l = int(level) < 0 ? 0 : int(level);
    gLevel = capped(KernelLevel(l > 2 ? 2 : l));
    gTable = kTables[int(gLevel)];
    return gLevel;
}

void cv::vecBinary(VecOp op, double* out, const double* a, const double* b, int64_t n, VecSpread spread) noexcept {
    if (n > 0) gTable->binary(op, out, a, b, n, spread);
}

bool cv::vecAnyZero(const double* v, int64_t n) noexcept { return n > 0 && gTable->anyZero(v, n); }

void cv::vecMagnitudes(const double* reIm, double* out, int64_t n) noexcept {
    if (n > 0) gTable->magnitudes(reIm, out, n);
}

int64_t cv::vecExtremeIndex(const double* y, int64_t lo, int64_t hi, bool lower) noexcept {
    return lo < hi ? gTable->extreme(y, lo, hi, lower) : -1;
}

double cv::vecSegmentSum(SegmentTerm term, const double* x, const double* y, int64_t a, int64_t b, double level,
                        bool* falling) noexcept {
    return gTable->segments(term, x, y, a, b, level, falling);
}

int64_t cv::vecSkipOnSide(const double* v, int64_t k, int64_t n, double target, int side) noexcept {
    return gTable->skip(v, k, n, target, side);
}

void cv::vecBlockSides(const double* v, int64_t blocks, double target, int8_t* out) noexcept {
    if (blocks > 0) gTable->sides(v, blocks, target, out);
}

void cv::vecBinIndices(const BinParams& p, const double* v, int32_t* out, int64_t n) noexcept {
    if (n > 0) gTable->bins(p, v, out, n);
}
