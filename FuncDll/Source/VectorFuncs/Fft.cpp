// Transform of real samples through a complex transform of half the length.
//
// The n real samples are packed as M = n/2 complex points z[k] = x[2k] + i x[2k+1].
// A final combination splits their transform Z into the transforms of the
// even and odd samples and joins them into X.
//
// Z itself comes from one of two forms:
// - Small transforms (the whole work space in the fastest caches): decimation
//   in time over a bit-reversed gather fused with the first two stages, the
//   stages run block by block, the long ones two at a time.
// - Larger ones: the four-step form, M = N1 x N2 with z as an N1 x N2 matrix
//   (row n1, column n2 at z[N2 n1 + n2]): transforms of length N1 down the
//   columns, a twiddle exp(2 pi i k1 n2 / M) on each, then transforms of
//   length N2 along the rows. Each short transform runs in a lane buffer that
//   fits the second-level cache, eight columns or rows side by side, so the
//   whole transform reads and writes main memory three times (columns, rows,
//   final combination) instead of once per pair of stages, and the batches are
//   independent: large transforms spread them over the worker threads. The
//   lane passes are compiled for AVX2 and for the baseline (FftLanes.inc) and
//   chosen once by the processor.
#include "Fft.h"
#include "Parallel.h"
#include "Value.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace cv::fftcore {

namespace {

// Butterfly stages with blocks up to this many complex points (64 KiB of
// data) run block by block, so they stay in cache between stages.
constexpr int64_t kBlock = int64_t(1) << 12;

// Beyond this the fine table is built from two short tables (one for the
// high and one for the low part of the angle index) instead of one sine and
// cosine per entry: each entry is then a single complex product of two
// correctly rounded values, still within a few units in the last place.
constexpr int64_t kDirectTable = 1024;

// Spectra are usually taken again and again at one size or a few: the plans
// of the last kKeptPlans sizes are kept, within a bound on their memory (the
// smaller of kKeptBytesMax and a quarter of the host's memory limit).
constexpr size_t kKeptPlans = 4;
constexpr size_t kKeptBytesMax = size_t(512) << 20;

// Complex points from which the four-step form is used, and from which its
// batches are spread over threads (below, starting threads costs more than
// it saves).
constexpr int64_t kFourStepMin = int64_t(1) << 10;
constexpr int64_t kParallelMin = int64_t(1) << 16;
// Points of work per chunk handed to a thread.
constexpr int64_t kChunkPoints = int64_t(1) << 15;

constexpr size_t kMapThreshold = size_t(4) << 20;
constexpr size_t kHugePage = size_t(2) << 20;

uint32_t reverseBits(uint32_t v, int bits) noexcept {
    v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
    v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
    v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
    v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
    v = (v >> 16) | (v << 16);
    return bits > 0 ? v >> (32 - bits) : 0;
}

// One stage of half-span h: pairs (j, j + h) of every block of 2h points.
void dit2(double* re, double* im, int64_t len, int64_t h, const double* wr, const double* wi) noexcept {
    for (int64_t g = 0; g < len; g += 2 * h) {
        double* __restrict ar = re + g;
        double* __restrict ai = im + g;
        double* __restrict br = re + g + h;
        double* __restrict bi = im + g + h;
        if (h >= 2) {
            for (int64_t j = 0; j < h; j += 2) {
                const v2 xr = load2(br + j), xi = load2(bi + j), cr = load2(wr + j), ci = load2(wi + j);
                const v2 tr = xr * cr - xi * ci, ti = xr * ci + xi * cr;
                const v2 pr = load2(ar + j), pi = load2(ai + j);
                store2(ar + j, pr + tr);
                store2(ai + j, pi + ti);
                store2(br + j, pr - tr);
                store2(bi + j, pi - ti);
            }
        } else {
            for (int64_t j = 0; j < h; ++j) {
                const double tr = br[j] * wr[j] - bi[j] * wi[j], ti = br[j] * wi[j] + bi[j] * wr[j];
                br[j] = ar[j] - tr;
                bi[j] = ai[j] - ti;
                ar[j] += tr;
                ai[j] += ti;
            }
        }
    }
}

// Stages h and 2h together (h >= 4): the same butterflies as two dit2
// passes, in one pass over memory.
void dit4(double* re, double* im, int64_t len, int64_t h, const double* stRe, const double* stIm) noexcept {
    const double* w1r = stRe + h;
    const double* w1i = stIm + h;
    const double* w2r = stRe + 2 * h;
    const double* w2i = stIm + 2 * h;
    const double* w3r = stRe + 3 * h;
    const double* w3i = stIm + 3 * h;
    for (int64_t g = 0; g < len; g += 4 * h) {
        double* __restrict r0 = re + g;
        double* __restrict i0 = im + g;
        double* __restrict r1 = r0 + h;
        double* __restrict i1 = i0 + h;
        double* __restrict r2 = r0 + 2 * h;
        double* __restrict i2 = i0 + 2 * h;
        double* __restrict r3 = r0 + 3 * h;
        double* __restrict i3 = i0 + 3 * h;
        for (int64_t j = 0; j < h; j += 2) {
            const v2 c1 = load2(w1r + j), s1 = load2(w1i + j);
            const v2 a0r = load2(r0 + j), a0i = load2(i0 + j), a1r = load2(r1 + j), a1i = load2(i1 + j);
            const v2 a2r = load2(r2 + j), a2i = load2(i2 + j), a3r = load2(r3 + j), a3i = load2(i3 + j);
            // stage h: (0, 1) and (2, 3)
            v2 tr = a1r * c1 - a1i * s1, ti = a1r * s1 + a1i * c1;
            const v2 b0r = a0r + tr, b0i = a0i + ti, b1r = a0r - tr, b1i = a0i - ti;
            tr = a3r * c1 - a3i * s1;
            ti = a3r * s1 + a3i * c1;
            const v2 b2r = a2r + tr, b2i = a2i + ti, b3r = a2r - tr, b3i = a2i - ti;
            // stage 2h: (0, 2) and (1, 3)
            const v2 c2 = load2(w2r + j), s2 = load2(w2i + j), c3 = load2(w3r + j), s3 = load2(w3i + j);
            tr = b2r * c2 - b2i * s2;
            ti = b2r * s2 + b2i * c2;
            store2(r0 + j, b0r + tr);
            store2(i0 + j, b0i + ti);
            store2(r2 + j, b0r - tr);
            store2(i2 + j, b0i - ti);
            tr = b3r * c3 - b3i * s3;
            ti = b3r * s3 + b3i * c3;
            store2(r1 + j, b1r + tr);
            store2(i1 + j, b1i + ti);
            store2(r3 + j, b1r - tr);
            store2(i3 + j, b1i - ti);
        }
    }
}

// Stages of half-span h0, 2 h0, ... below hEnd over blocks of len points.
void stageRange(double* re, double* im, int64_t len, int64_t h0, int64_t hEnd, const double* stRe,
                const double* stIm) noexcept {
    int64_t h = h0;
    while (h < hEnd) {
        if (h >= 4 && 2 * h < hEnd) {
            dit4(re, im, len, h, stRe, stIm);
            h *= 4;
        } else {
            dit2(re, im, len, h, stRe + h, stIm + h);
            h *= 2;
        }
    }
}

constexpr int kLanes = 8;
constexpr int64_t kStride = 2 * kLanes;

// What the lane passes of one transform share.
struct FourStep {
    const double* x;  // samples; x[count ...] read as zeros
    int64_t count;
    int64_t m, n1, n2;
    int mBits;  // log2(m)
    const int32_t* rev1;
    const int32_t* rev2;
    const double* sr;  // stage tables
    const double* si;
    const double* fr;  // exp(i pi j / m), 0 <= j <= m/2
    const double* fi;
    const double* laneTwiddles;
    double* re;  // work space: the transposed matrix, then Z
    double* im;
    bool windowed;  // samples taken times a0 + a1 cos(2 pi i / 2m)
    double a0, a1;

    // exp(2 pi i e / m) for 0 <= e < m: the quarter-turn table turned by an
    // exact multiple of pi/2.
    void turn(int64_t e, double& c, double& s) const noexcept {
        const int64_t a = 2 * e;  // in units of pi / m; a quarter turn is m / 2
        const int64_t r = a & (m / 2 - 1);
        switch (a >> (mBits - 1)) {
            case 0: c = fr[r], s = fi[r]; break;
            case 1: c = -fi[r], s = fr[r]; break;
            case 2: c = -fr[r], s = -fi[r]; break;
            default: c = fi[r], s = -fr[r]; break;
        }
    }
};

struct LaneKernels {
    void (*columns)(const FourStep&, int64_t b0, int64_t b1, double* buf) noexcept;
    void (*rows)(const FourStep&, int64_t b0, int64_t b1, double* buf) noexcept;
    void (*combine)(const double* re, const double* im, const double* fr, const double* fi, int64_t m, int64_t m0,
                    int64_t m1, std::complex<double>* out, double scale) noexcept;
};

#define FFT_LANES_NS lanes_base
#define FFT_LANES_WIDTH 2
#define FFT_LANES_TARGET
#include "FftLanes.inc"
#undef FFT_LANES_NS
#undef FFT_LANES_WIDTH
#undef FFT_LANES_TARGET

#if defined(__x86_64__) || defined(__i386__)
#define FFT_LANES_HAVE_AVX2 1
#define FFT_LANES_NS lanes_avx2
#define FFT_LANES_WIDTH 4
#define FFT_LANES_TARGET __attribute__((target("avx2,fma")))
#include "FftLanes.inc"
#undef FFT_LANES_NS
#undef FFT_LANES_WIDTH
#undef FFT_LANES_TARGET
#endif

bool haveAvx2() noexcept {
#ifdef FFT_LANES_HAVE_AVX2
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return yes;
#else
    return false;
#endif
}

// CVFUNC_FFT_BASELINE=1 keeps to the baseline code, so that both can be
// compared on a machine that has the wider one (they give the same bits).
const LaneKernels* chosenKernels() noexcept {
#ifdef FFT_LANES_HAVE_AVX2
    const char* baseline = std::getenv("CVFUNC_FFT_BASELINE");
    if (haveAvx2() && !(baseline && *baseline == '1')) return &lanes_avx2::kernels;
#endif
    return &lanes_base::kernels;
}

}  // namespace

int64_t nextPowerOfTwo(int64_t n) noexcept {
    if (n < 1 || n > kMaxPoints) return 0;
    int64_t p = 1;
    while (p < n) p *= 2;
    return p;
}

int64_t powerOfTwoBelow(double v) noexcept {
    if (!(v >= 1)) return 0;
    if (v >= 0x1p62) return int64_t(1) << 62;
    int64_t p = 1;
    while (double(p) * 2 <= v) p *= 2;
    return p;
}

WorkSpace::WorkSpace(int64_t n) {
    // The host's limit, shared with the results: a spectrum of 2^30 points
    // must fail before it fills the machine, not after.
    if (n < 0 || double(n) * sizeof(double) > double(cv::memoryLimitBytes())) throw std::bad_alloc();
    const size_t bytes = size_t(std::max<int64_t>(n, 1)) * sizeof(double);
    if (bytes < kMapThreshold) {
        // Cache-line aligned: the lane passes load and store whole lines.
        data_ = static_cast<double*>(std::aligned_alloc(64, (bytes + 63) & ~size_t(63)));
        if (!data_) throw std::bad_alloc();
        return;
    }
    // Over-map by one huge page so that the block can start on a boundary.
    const size_t total = bytes + kHugePage;
    try {
        cv::reserveMemoryBytes(total);
    } catch (const std::bad_alloc&) {
        // Kept plans hold memory only for speed: give it back before refusing.
        RealFft::dropKept();
        cv::reserveMemoryBytes(total);
    }
    void* p = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        cv::releaseMemoryBytes(total);
        throw std::bad_alloc();
    }
    base_ = p;
    mapped_ = total;
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(p) + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    data_ = reinterpret_cast<double*>(aligned);
    madvise(data_, bytes, MADV_HUGEPAGE);
}

WorkSpace::~WorkSpace() {
    if (mapped_) {
        munmap(base_, mapped_);
        cv::releaseMemoryBytes(mapped_);
    }
    else std::free(data_);
}

RealFft::RealFft(int64_t n) : n_(n), half_(n / 2), bits_(0) {
    while ((int64_t(1) << bits_) < half_) ++bits_;
    if (half_ >= kFourStepMin) {
        n1_ = int64_t(1) << ((bits_ + 1) / 2);
        n2_ = half_ / n1_;
    }
    const int64_t quarter = half_ / 2;  // fine table holds m = 0 ... quarter
    fineRe_ = WorkSpace(quarter + 1);
    fineIm_ = WorkSpace(quarter + 1);
    double* fr = fineRe_.get();
    double* fi = fineIm_.get();
    // Angles pi m / half_ up to pi/4 are computed, the rest up to pi/2 mirrored.
    const int64_t eighth = quarter / 2;
    const double base = M_PI / double(half_);
    auto mirror = [&](int64_t m, double c, double s) {
        fr[m] = c;
        fi[m] = s;
        fr[quarter - m] = s;
        fi[quarter - m] = c;
    };
    if (half_ == 1) {
        fr[0] = 1.0;  // the only angle used: 0
        fi[0] = 0.0;
    } else if (eighth + 1 <= kDirectTable) {
        for (int64_t m = 0; m <= eighth; ++m) mirror(m, std::cos(base * double(m)), std::sin(base * double(m)));
    } else {
        int64_t step = 1;
        while (step * step < eighth + 1) step *= 2;
        const int64_t coarseCount = eighth / step + 1;
        WorkSpace lowRe(step), lowIm(step);
        for (int64_t t = 0; t < step; ++t) {
            lowRe[t] = std::cos(base * double(t));
            lowIm[t] = std::sin(base * double(t));
        }
        for (int64_t a = 0; a < coarseCount; ++a) {
            const double ang = base * double(a * step);
            const double hr = std::cos(ang), hi = std::sin(ang);
            const int64_t end = std::min(step, eighth + 1 - a * step);
            for (int64_t t = 0; t < end; ++t)
                mirror(a * step + t, hr * lowRe[t] - hi * lowIm[t], hr * lowIm[t] + hi * lowRe[t]);
        }
    }
    // Stage tables from the fine table: exp(i pi j / h) = exp(i pi (j half_/h) / half_),
    // for the longest transform run: the whole one, or the columns.
    const int64_t longest = n1_ ? std::max(n1_, n2_) : half_;
    stageRe_ = WorkSpace(std::max<int64_t>(longest, 2));
    stageIm_ = WorkSpace(std::max<int64_t>(longest, 2));
    double* sr = stageRe_.get();
    double* si = stageIm_.get();
    sr[0] = si[0] = 0.0;
    for (int64_t h = 1; h < longest; h *= 2) {
        const int64_t stride = half_ / h;
        for (int64_t j = 0; j < h; ++j) {
            const int64_t m = j * stride;  // < half_
            if (m <= quarter) {
                sr[h + j] = fr[m];
                si[h + j] = fi[m];
            } else {
                sr[h + j] = -fr[half_ - m];
                si[h + j] = fi[half_ - m];
            }
        }
    }
    bytes_ = size_t(quarter + 1 + longest) * 2 * sizeof(double) + size_t(2 * half_) * sizeof(double);
    if (!n1_) return;

    auto reversals = [](int64_t len) {
        int bits = 0;
        while ((int64_t(1) << bits) < len) ++bits;
        std::unique_ptr<int32_t[]> r(new int32_t[size_t(len)]);
        for (int64_t i = 0; i < len; ++i) r[size_t(i)] = int32_t(reverseBits(uint32_t(i), bits));
        return r;
    };
    rev1_ = reversals(n1_);
    rev2_ = reversals(n2_);
    FourStep f{};
    f.m = half_;
    f.mBits = bits_;
    f.fr = fr;
    f.fi = fi;
    laneTwiddles_ = WorkSpace(n1_ * kStride);
    for (int64_t k1 = 0; k1 < n1_; ++k1)
        for (int l = 0; l < kLanes; ++l)
            f.turn(k1 * l, laneTwiddles_[kStride * k1 + l], laneTwiddles_[kStride * k1 + kLanes + l]);
    bytes_ += size_t(n1_ + n2_) * sizeof(int32_t) + size_t(n1_ * kStride) * sizeof(double) +
              size_t(std::min<int64_t>(cv::defaultThreadCount(), 8) * kStride * longest) * sizeof(double);
}

double RealFft::fineCos(int64_t m) const noexcept { return fineRe_[m]; }

double RealFft::cosTurn(int64_t i) const noexcept {
    // cos(2 pi i / n) = cos(pi i / half_), folded onto [0, pi/2].
    int64_t k = i % n_;
    if (k < 0) k += n_;
    if (k > half_) k = n_ - k;
    return 2 * k > half_ ? -fineCos(half_ - k) : fineCos(k);
}

void RealFft::applyWindow(double* x, int64_t count, double a0, double a1) const noexcept {
    // The four quarters of the turn, each a straight loop over the table.
    const int64_t quarter = half_ / 2;
    const double* fr = fineRe_.get();
    const int64_t end = std::min(count, n_);
    int64_t i = 0;
    for (; i < std::min(end, quarter + 1); ++i) x[i] *= a0 + a1 * fr[i];
    for (; i < std::min(end, half_ + 1); ++i) x[i] *= a0 - a1 * fr[half_ - i];
    for (; i < std::min(end, half_ + quarter + 1); ++i) x[i] *= a0 - a1 * fr[i - half_];
    for (; i < end; ++i) x[i] *= a0 + a1 * fr[n_ - i];
}

void RealFft::runStages(double* re, double* im) const noexcept {
    const int64_t M = half_;
    const double* sr = stageRe_.get();
    const double* si = stageIm_.get();
    const int64_t h0 = M >= 8 ? 4 : 1;
    const int64_t block = std::min(M, kBlock);
    if (h0 < block)
        for (int64_t b = 0; b < M; b += block) stageRange(re + b, im + b, block, h0, block, sr, si);
    stageRange(re, im, M, std::max(block, h0), M, sr, si);
}

void RealFft::halfSpectrum(const double* x, int64_t count, std::complex<double>* out, double scale, double a0,
                           double a1) {
    count = std::clamp<int64_t>(count, 0, n_);
    if (n1_) fourStepSpectrum(x, count, out, scale, a0, a1);
    else smallSpectrum(x, count, out, scale, a0, a1);
}

WorkSpace RealFft::takeScratch() {
    {
        std::lock_guard<std::mutex> lock(scratchMutex_);
        if (!scratch_.empty()) {
            WorkSpace s = std::move(scratch_.back());
            scratch_.pop_back();
            return s;
        }
    }
    return WorkSpace(kStride * std::max(n1_, n2_));
}

void RealFft::giveScratch(WorkSpace s) noexcept {
    std::lock_guard<std::mutex> lock(scratchMutex_);
    try {
        scratch_.push_back(std::move(s));
    } catch (...) {
        // not kept: freed here
    }
}

void RealFft::fourStepSpectrum(const double* x, int64_t count, std::complex<double>* out, double scale, double a0,
                               double a1) {
    const int64_t M = half_;
    if (!work_.get()) work_ = WorkSpace(2 * M);
    FourStep f{};
    f.x = x;
    f.count = count;
    f.windowed = !(a0 == 1.0 && a1 == 0.0);
    f.a0 = a0;
    f.a1 = a1;
    f.m = M;
    f.n1 = n1_;
    f.n2 = n2_;
    f.mBits = bits_;
    f.rev1 = rev1_.get();
    f.rev2 = rev2_.get();
    f.sr = stageRe_.get();
    f.si = stageIm_.get();
    f.fr = fineRe_.get();
    f.fi = fineIm_.get();
    f.laneTwiddles = laneTwiddles_.get();
    f.re = work_.get();
    f.im = f.re + M;
    const LaneKernels& k = *chosenKernels();
    // Chunks depend on the size alone; each batch is computed the same way
    // on whatever thread takes it, so the bits never depend on the threads.
    const bool parallel = M >= kParallelMin;
    auto chunkOf = [&](int64_t batches, int64_t len) {
        return parallel ? size_t(std::max<int64_t>(1, kChunkPoints / (kLanes * len))) : size_t(batches);
    };
    const int64_t colBatches = n2_ / kLanes, rowBatches = n1_ / kLanes;
    cv::forEachChunk(size_t(colBatches), chunkOf(colBatches, n1_), [&](size_t b0, size_t b1) {
        WorkSpace buf = takeScratch();
        k.columns(f, int64_t(b0), int64_t(b1), buf.get());
        giveScratch(std::move(buf));
    });
    cv::forEachChunk(size_t(rowBatches), chunkOf(rowBatches, n2_), [&](size_t b0, size_t b1) {
        WorkSpace buf = takeScratch();
        k.rows(f, int64_t(b0), int64_t(b1), buf.get());
        giveScratch(std::move(buf));
    });
    out[0] = {(f.re[0] + f.im[0]) * scale, 0.0};
    const size_t pairs = size_t(M / 2);  // m = 1 .. M/2
    cv::forEachChunk(pairs, parallel ? size_t(kChunkPoints) : pairs, [&](size_t b0, size_t b1) {
        k.combine(f.re, f.im, f.fr, f.fi, M, int64_t(b0) + 1, int64_t(b1) + 1, out, scale);
    });
}

void RealFft::smallSpectrum(const double* x, int64_t count, std::complex<double>* out, double scale, double a0,
                            double a1) {
    WorkSpace padded;
    if (count < n_ || !(a0 == 1.0 && a1 == 0.0)) {
        padded = WorkSpace(n_);
        std::copy(x, x + count, padded.get());
        std::fill(padded.get() + count, padded.get() + n_, 0.0);
        if (!(a0 == 1.0 && a1 == 0.0)) applyWindow(padded.get(), count, a0, a1);
        x = padded.get();
    }

    const int64_t M = half_;
    if (M == 1) {
        out[0] = {(x[0] + x[1]) * scale, 0.0};
        return;
    }
    if (!work_.get()) work_ = WorkSpace(2 * M);
    double* re = work_.get();
    double* im = re + M;

    if (M >= 8) {
        // Gather z in bit-reversed order together with the first two stages
        // (twiddles 1 and i). Output positions 4q .. 4q+3 take z at s, s + M/2,
        // s + M/4, s + 3M/4 with s the (bits-2)-bit reversal of q; r and
        // r + M/8 map to q and q + 1, so each step writes eight consecutive
        // points and reads eight sequential streams.
        const int64_t q1 = M / 4, q2 = M / 2, q3 = 3 * M / 4, e = M / 8;
        for (int64_t r = 0; r < e; ++r) {
            const int64_t pos = 4 * int64_t(reverseBits(uint32_t(r), bits_ - 2));
            for (int pair = 0; pair < 2; ++pair) {
                const int64_t s = r + pair * e;
                const int64_t p = pos + 4 * pair;
                const double a0r = x[2 * s], a0i = x[2 * s + 1];
                const double a1r = x[2 * (s + q2)], a1i = x[2 * (s + q2) + 1];
                const double a2r = x[2 * (s + q1)], a2i = x[2 * (s + q1) + 1];
                const double a3r = x[2 * (s + q3)], a3i = x[2 * (s + q3) + 1];
                const double b0r = a0r + a1r, b0i = a0i + a1i, b1r = a0r - a1r, b1i = a0i - a1i;
                const double b2r = a2r + a3r, b2i = a2i + a3i, b3r = a2r - a3r, b3i = a2i - a3i;
                re[p] = b0r + b2r;
                im[p] = b0i + b2i;
                re[p + 2] = b0r - b2r;
                im[p + 2] = b0i - b2i;
                // i * b3 = (-b3i, b3r)
                re[p + 1] = b1r - b3i;
                im[p + 1] = b1i + b3r;
                re[p + 3] = b1r + b3i;
                im[p + 3] = b1i - b3r;
            }
        }
    } else {
        for (int64_t k = 0; k < M; ++k) {
            const int64_t p = reverseBits(uint32_t(k), bits_);
            re[p] = x[2 * k];
            im[p] = x[2 * k + 1];
        }
    }
    runStages(re, im);

    // Z = E + i O with E, O the transforms of the even and odd samples, both
    // Hermitian: E[m] = (Z[m] + conj Z[M-m]) / 2, O[m] = (Z[m] - conj Z[M-m]) / 2i,
    // and X[m] = E[m] + w^m O[m], X[M-m] = conj(E[m] - w^m O[m]), w = exp(i pi / M).
    const double* fr = fineRe_.get();
    const double* fi = fineIm_.get();
    out[0] = {(re[0] + im[0]) * scale, 0.0};
    const double hs = 0.5 * scale;
    for (int64_t m = 1; m <= M / 2; ++m) {
        const int64_t mc = M - m;
        const double zr = re[m], zi = im[m], cr = re[mc], ci = -im[mc];
        const double er = zr + cr, ei = zi + ci;   // 2E
        const double orr = zi - ci, oi = cr - zr;  // 2O
        const double wr = fr[m], wi = fi[m];
        const double tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
        out[m] = {(er + tr) * hs, (ei + ti) * hs};
        if (mc != m) out[mc] = {(er - tr) * hs, (ti - ei) * hs};
    }
}

namespace {
std::mutex keptMutex;
std::vector<std::unique_ptr<RealFft>> keptPlans;  // oldest first
}  // namespace

size_t RealFft::keptBytesBound() noexcept { return std::min(kKeptBytesMax, cv::memoryLimitBytes() / 4); }

std::unique_ptr<RealFft> RealFft::acquire(int64_t n) {
    {
        std::lock_guard<std::mutex> lock(keptMutex);
        for (size_t i = keptPlans.size(); i-- > 0;)
            if (keptPlans[i]->size() == n) {
                std::unique_ptr<RealFft> plan = std::move(keptPlans[i]);
                keptPlans.erase(keptPlans.begin() + std::ptrdiff_t(i));
                return plan;
            }
    }
    return std::make_unique<RealFft>(n);
}

void RealFft::release(std::unique_ptr<RealFft> plan) noexcept {
    const size_t bound = keptBytesBound();
    if (!plan || plan->bytes() > bound) return;
    std::lock_guard<std::mutex> lock(keptMutex);
    try {
        keptPlans.push_back(std::move(plan));
    } catch (...) {
        return;
    }
    size_t total = 0;
    for (const auto& p : keptPlans) total += p->bytes();
    while (!keptPlans.empty() && (keptPlans.size() > kKeptPlans || total > bound)) {
        total -= keptPlans.front()->bytes();
        keptPlans.erase(keptPlans.begin());
    }
}

void RealFft::dropKept() noexcept {
    std::vector<std::unique_ptr<RealFft>> dropped;
    std::lock_guard<std::mutex> lock(keptMutex);
    dropped.swap(keptPlans);
}

}  // namespace cv::fftcore
