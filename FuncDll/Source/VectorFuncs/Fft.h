// Discrete Fourier transform of real samples, with the positive
// exponent every spectrum function of the module uses:
//     X[m] = sum over k of x[k] * exp(+2 pi i m k / N),  N a power of two.
// Module-internal: used by the spectrum functions only.
#pragma once
#include <complex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>
#include <utility>

namespace cv::fftcore {

// The largest transform accepted. Beyond it the work space alone would be
// tens of gigabytes; a request that large is a unit mistake, and refusing it
// keeps every size computation far from integer overflow.
constexpr int64_t kMaxPoints = int64_t(1) << 31;

// Smallest power of two >= n for 1 <= n <= kMaxPoints; 0 otherwise.
int64_t nextPowerOfTwo(int64_t n) noexcept;
// Largest power of two <= v for 1 <= v; 0 for v < 1 or NaN; saturates at
// 2^62 so that callers can compare with kMaxPoints without overflow.
int64_t powerOfTwoBelow(double v) noexcept;

// Uninitialised work space of n doubles. Throws std::bad_alloc when n is
// negative or more than the machine's memory could hold: with overcommit a
// larger request could succeed and the process die when touching it. Large
// blocks are mapped on huge pages where the system allows: a fresh buffer of
// megabytes otherwise costs a page fault per 4 KiB, more than the transform.
class WorkSpace {
public:
    WorkSpace() = default;
    explicit WorkSpace(int64_t n);
    ~WorkSpace();
    WorkSpace(WorkSpace&& o) noexcept { swap(o); }
    WorkSpace& operator=(WorkSpace&& o) noexcept {
        swap(o);
        return *this;
    }
    WorkSpace(const WorkSpace&) = delete;
    WorkSpace& operator=(const WorkSpace&) = delete;

    double* get() const noexcept { return data_; }
    double& operator[](int64_t i) const noexcept { return data_[i]; }

private:
    void swap(WorkSpace& o) noexcept {
        std::swap(data_, o.data_);
        std::swap(base_, o.base_);
        std::swap(mapped_, o.mapped_);
    }
    double* data_ = nullptr;
    void* base_ = nullptr;
    size_t mapped_ = 0;  // bytes mapped at base_, 0 when taken from the heap
};

// Two doubles processed together. GCC's generic vectors give SIMD code at
// every optimisation level, where plain loops over runtime lengths stay
// scalar under the cheap vectoriser cost model of -O2.
typedef double v2 __attribute__((vector_size(16)));
inline v2 load2(const double* p) noexcept {
    v2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store2(double* p, v2 v) noexcept { std::memcpy(p, &v, sizeof v); }
inline v2 splat2(double a) noexcept { return v2{a, a}; }

// Plan of a transform of n real samples (n a power of two, 2 <= n <= kMaxPoints).
// Holds the twiddle factors, each computed from sines and cosines of exact
// multiples of the base angle (never by a recurrence that accumulates error).
class RealFft {
public:
    explicit RealFft(int64_t n);
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    int64_t size() const noexcept { return n_; }
    // cos(2 pi i / n) for any i, from the table.
    double cosTurn(int64_t i) const noexcept;
    // x[i] *= a0 + a1 * cos(2 pi i / n) for 0 <= i < count <= n.
    void applyWindow(double* x, int64_t count, double a0, double a1) const noexcept;
    // out[m] = scale * X[m] for m < n/2, of the n samples x[0 .. count)
    // followed by zeros (count <= n), each sample i < count taken times
    // a0 + a1 cos(2 pi i / n) (applyWindow's window, read as the samples are,
    // so that windowing costs no pass of its own). The transform of real
    // data is Hermitian; the upper half carries nothing new.
    void halfSpectrum(const double* x, int64_t count, std::complex<double>* out, double scale, double a0 = 1.0,
                      double a1 = 0.0);
    void halfSpectrum(const double* x, std::complex<double>* out, double scale) { halfSpectrum(x, n_, out, scale); }

    // Bytes the plan holds, with its work space.
    size_t bytes() const noexcept { return bytes_; }

    // A plan for n samples: one kept from an earlier call when it has that
    // size, else a new one. Give it back with release() to keep it for the
    // next call; a plan is used by one call at a time. The plans of the last
    // few sizes are kept while they hold no more than keptBytesBound().
    static std::unique_ptr<RealFft> acquire(int64_t n);
    static void release(std::unique_ptr<RealFft> plan) noexcept;
    static size_t keptBytesBound() noexcept;
    // Drops every kept plan (their memory goes back to the host's limit).
    static void dropKept() noexcept;

private:
    double fineCos(int64_t m) const noexcept;  // cos(pi m / half_), 0 <= m <= half_
    void runStages(double* re, double* im) const noexcept;
    void smallSpectrum(const double* x, int64_t count, std::complex<double>* out, double scale, double a0,
                       double a1);
    void fourStepSpectrum(const double* x, int64_t count, std::complex<double>* out, double scale, double a0,
                          double a1);
    WorkSpace takeScratch();
    void giveScratch(WorkSpace s) noexcept;

    int64_t n_;     // real samples
    int64_t half_;  // complex points of the inner transform, n_ / 2
    int bits_;      // log2(half_)
    // exp(i pi m / half_) for 0 <= m <= half_ / 2: the angles of the real
    // transform's final combination; every other twiddle is one of these up
    // to an exact sign change or swap.
    WorkSpace fineRe_, fineIm_;
    // Stage tables: exp(i pi j / h) at [h + j] for h = 1, 2, 4, ... half_ / 2,
    // j < h, so that every butterfly stage reads its twiddles contiguously.
    WorkSpace stageRe_, stageIm_;
    // The transform's own work space, kept with the plan: touching fresh
    // memory costs more than the transform itself.
    WorkSpace work_;

    // Four-step form (half_ >= kFourStepMin), half_ = n1_ * n2_: bit
    // reversals of the column and row indices, and exp(2 pi i k1 l / half_)
    // for k1 < n1_, l < 8, laid out as the lane buffers are.
    int64_t n1_ = 0, n2_ = 0;
    std::unique_ptr<int32_t[]> rev1_, rev2_;
    WorkSpace laneTwiddles_;
    // Lane buffers of the worker threads, kept between calls.
    std::mutex scratchMutex_;
    std::vector<WorkSpace> scratch_;
    size_t bytes_ = 0;
};

}  // namespace cv::fftcore
