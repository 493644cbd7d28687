// Digital filters on sampled signals: a finite impulse response filter, an
// infinite impulse response filter in feedback form, and a first-order
// low-pass that follows the x-values of an uneven time grid.
//
// FIR and IIR work sample by sample and ignore the x-values. Their history
// (the samples before the first one, newest first: history[0] stands for the
// sample just before x[0]) is read time-shifted: output i, reaching k samples
// back with k > i, takes history[k - i - 1], which is what a filter that had
// been running on that past would have seen.
//
// Every result is laid out like the signal, one division of output per
// division of input, so a divided coefficient or initial-value vector can
// never change the result's shape.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "../FuncKit.h"

namespace {

using namespace cvmod;

const char* const kBadTimeConstant = "Argument %d in function '%s' must be a time constant of 0 or more";
const char* const kBadXValues =
    "Argument %d in function '%s' needs one real x-value per value, in non-decreasing order";

// ---------------------------------------------------------------- FIR

// Outputs computed together: their accumulators stay in registers while the
// taps run past them, so each tap costs one broadcast, a few vector loads and
// as many multiply-adds. Written with the compiler's vector types so that it
// does not hinge on the optimiser's cost model. Each lane still sums its terms
// in tap order, exactly as the scalar tail does, so an output does not depend
// on where it falls in the signal.
constexpr int kFirBlock = 16;
typedef double Lanes2 __attribute__((vector_size(16)));
typedef double Lanes4 __attribute__((vector_size(32)));

// out[j] = sum over t < m of r[t] * src[j + t], for j < count; src holds
// count + m - 1 values. r is the tap vector reversed, which turns the
// convolution into a forward sliding product.
template <class Lanes>
__attribute__((always_inline)) inline void slidingProductBody(double* __restrict out, const double* __restrict src,
                                                              const double* __restrict r, int64_t m, int64_t count) {
    constexpr int kWidth = int(sizeof(Lanes) / sizeof(double));
    constexpr int kAcc = kFirBlock / kWidth;
    int64_t j = 0;
    for (; j + kFirBlock <= count; j += kFirBlock) {
        Lanes acc[kAcc] = {};
        const double* p = src + j;
        for (int64_t t = 0; t < m; ++t, ++p) {
            const double rt = r[t];
#pragma GCC unroll 8
            for (int q = 0; q < kAcc; ++q) {
                Lanes v;
                __builtin_memcpy(&v, p + q * kWidth, sizeof v);
                acc[q] += rt * v;
            }
        }
#pragma GCC unroll 8
        for (int q = 0; q < kAcc; ++q) __builtin_memcpy(out + j + q * kWidth, &acc[q], sizeof(Lanes));
    }
    for (; j < count; ++j) {
        double s = 0.0;
        for (int64_t t = 0; t < m; ++t) s += r[t] * src[j + t];
        out[j] = s;
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2,fma"))) void slidingProductWide(double* __restrict out, const double* __restrict src,
                                                            const double* __restrict r, int64_t m, int64_t count) {
    slidingProductBody<Lanes4>(out, src, r, m, count);
}

bool haveWideLanes() {
    static const bool wide = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return wide;
}
#endif

void slidingProduct(double* out, const double* src, const double* r, int64_t m, int64_t count) {
#if defined(__GNUC__) && defined(__x86_64__)
    if (haveWideLanes()) return slidingProductWide(out, src, r, m, count);
#endif
    slidingProductBody<Lanes2>(out, src, r, m, count);
}

struct History {
    const double* values = nullptr;
    int64_t count = 0;
    double fill = 0.0;
    double at(int64_t k) const { return k < count ? values[k] : fill; }
};

// out[i] = sum over k < m of c[k] * x[i - k], the history standing in for x
// before the start. With no taps the sum is empty and the output zero.
void firFilter(double* out, const double* x, int64_t n, const double* c, int64_t m, const History& history) {
    if (n == 0 || m == 0) return;  // the result is zero-filled
    std::vector<double> reversed(c, c + m);
    std::reverse(reversed.begin(), reversed.end());
    // The oldest tap reaches m - 1 samples back, so that many history values
    // are read; any further given value never is.
    const int64_t lag = m - 1;
    const int64_t head = std::min(n, lag);
    if (head > 0) {
        // The first outputs see the history: run them over history + signal start.
        std::vector<double> ext(size_t(lag + head));
        for (int64_t h = 0; h < lag; ++h) ext[size_t(lag - 1 - h)] = history.at(h);
        std::copy(x, x + head, ext.begin() + lag);
        slidingProduct(out, ext.data(), reversed.data(), m, head);
    }
    if (n > lag) slidingProduct(out + lag, x, reversed.data(), m, n - lag);
}

// ---------------------------------------------------------------- IIR

// y[j] = c[0] * x[j] + sum over k = 1 ... m - 1 of c[k] * y[j - k], for j <
// count, where y[-1] ... y[-(m-1)] already hold the previous outputs. The
// newest output is added last, which keeps the sample-to-sample dependency
// chain at one multiply and one add.
void feedbackRun(double* y, const double* x, const double* c, int64_t m, int64_t count) {
    const int64_t lag = m - 1;
    const double c0 = c[0];
    for (int64_t j = 0; j < count; ++j) {
        double s = c0 * x[j];
        for (int64_t k = lag; k >= 1; --k) s += c[k] * y[j - k];
        y[j] = s;
    }
}

// The same recurrence for a short feedback part of L terms: the last L outputs
// live in registers instead of making a round trip through memory. The terms
// are summed in the order feedbackRun() uses, so both give the same bits.
template <int L>
void feedbackFixed(double* out, const double* x, int64_t n, const double* c, const History& history) {
    double k[L + 1], y[L];  // y[0] is the newest output
#pragma GCC unroll 16
    for (int i = 0; i <= L; ++i) k[i] = c[i];
#pragma GCC unroll 16
    for (int i = 0; i < L; ++i) y[i] = history.at(i);
    for (int64_t j = 0; j < n; ++j) {
        double s = k[0] * x[j];
#pragma GCC unroll 16
        for (int i = L; i >= 1; --i) s += k[i] * y[i - 1];
#pragma GCC unroll 16
        for (int i = L - 1; i >= 1; --i) y[i] = y[i - 1];
        y[0] = s;
        out[j] = s;
    }
}

using FixedFeedback = void (*)(double*, const double*, int64_t, const double*, const History&);
constexpr FixedFeedback kFixedFeedback[] = {
    feedbackFixed<1>, feedbackFixed<2>, feedbackFixed<3>, feedbackFixed<4>,
    feedbackFixed<5>, feedbackFixed<6>, feedbackFixed<7>, feedbackFixed<8>,
};
constexpr int64_t kMaxFixedFeedback = int64_t(sizeof kFixedFeedback / sizeof kFixedFeedback[0]);

// The feedback terms are added: c = [1, -0.5] gives out[i] = x[i] - 0.5 out[i-1].
// With no coefficients there is neither a feed-forward nor a feedback term and
// the output is zero.
void iirFilter(double* out, const double* x, int64_t n, const double* c, int64_t m, const History& history) {
    if (n == 0 || m == 0) return;  // the result is zero-filled
    const int64_t lag = m - 1;
    if (lag == 0) {
        const double c0 = c[0];
        for (int64_t i = 0; i < n; ++i) out[i] = c0 * x[i];
        return;
    }
    if (lag <= kMaxFixedFeedback) return kFixedFeedback[lag - 1](out, x, n, c, history);
    const int64_t head = std::min(n, lag);
    // The first outputs reach into the history: compute them behind it, then
    // let the rest run on the result itself.
    std::vector<double> ext(size_t(lag + head));
    for (int64_t h = 0; h < lag; ++h) ext[size_t(lag - 1 - h)] = history.at(h);
    feedbackRun(ext.data() + lag, x, c, m, head);
    std::copy(ext.begin() + lag, ext.end(), out);
    if (n > lag) feedbackRun(out + lag, x + lag, c, m, n - lag);
}

// ---------------------------------------------------------------- LPF

// Each step moves the output toward the previous input by dt / (dt + tau) of
// the remaining difference. A zero time constant follows the input at once (a
// one-sample delay, copied so that it is exact); a repeated time point with a
// positive time constant leaves no time to move. Returns false when an x-step
// is negative or not a finite number, which no time grid can have.
bool lowPass(double* out, const double* x, const double* t, int64_t n, double tau, const double* initial) {
    if (n == 0) return true;
    double y = initial ? *initial : x[0];
    out[0] = y;
    bool ordered = true;
    if (tau == 0.0) {
        for (int64_t i = 1; i < n; ++i) {
            const double dt = t[i] - t[i - 1];
            ordered &= dt >= 0.0 && dt <= DBL_MAX;
            out[i] = x[i - 1];
        }
        return ordered;
    }
    for (int64_t i = 1; i < n; ++i) {
        const double dt = t[i] - t[i - 1];
        ordered &= dt >= 0.0 && dt <= DBL_MAX;
        y += dt / (dt + tau) * (x[i - 1] - y);
        out[i] = y;
    }
    return ordered;
}

// ---------------------------------------------------------------- drivers

// Sizes the result like the signal, with the signal's physical types and
// reference; returns the output of each division.
std::vector<double*> resultLikeSignal(const FuncArgs& a, FuncResult& r) {
    const cv::Value& signal = *valueOf(a, 0);
    r.setType(VD_Real, a.refType(0));
    std::vector<double*> outs = r.makeRealDivisions(signal.divisionLengths());
    r.setPhysType(a.physType(0));
    r.setRefPhysType(a.refPhysType(0));
    r.copyRefFromArgs(a, AllocLikeArg, 0);
    return outs;
}

using SampleFilter = void (*)(double*, const double*, int64_t, const double*, int64_t, const History&);

// The history FIR assumes when none is given: the signal held at its first value.
double firDefaultFill(const double* x, int64_t n) { return n > 0 ? x[0] : 0.0; }
double iirDefaultFill(const double*, int64_t) { return 0.0; }

template <SampleFilter filter, double (*defaultFill)(const double*, int64_t)>
FUNC_ERROR sampleFilter(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const cv::Value& signal = *valueOf(a, 0);
    // Taps and history are read from their first division. A history given
    // empty is a history of zeros.
    const double* taps = a.realData(1);
    const int64_t tapCount = taps ? a.length(1) : 0;
    const double* past = a.realData(2);
    const int64_t pastCount = past ? a.length(2) : 0;
    const bool historyGiven = a.numArgs() > 2;
    std::vector<double*> outs = resultLikeSignal(a, r);
    for (int64_t d = 0; d < signal.numDivisions(); ++d) {
        const int64_t n = signal.divisionLength(d);
        const double* x = a.realDivisionData(0, d);
        if (n == 0 || !x) continue;
        // Given initial values are padded with zeros, however few they are.
        const History history =
            historyGiven ? History{past, pastCount, 0.0} : History{nullptr, 0, defaultFill(x, n)};
        filter(outs[size_t(d)], x, n, taps, tapCount, history);
    }
    return FuncOk;
}

FUNC_ERROR lowPassFilter(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const cv::Value& signal = *valueOf(a, 0);
    if (!signal.ref()) return FuncOk;  // nothing to filter against: the result stays empty
    const double tau = realOr(a, 1, NAN);
    if (!(tau >= 0.0)) {
        messages.error(kBadTimeConstant, 2, a.functionName());
        return FuncFailed;
    }
    const std::optional<double> initial = optionalReal(a, 2);  // empty: as if not given
    const double* start = initial ? &*initial : nullptr;
    std::vector<double*> outs = resultLikeSignal(a, r);
    for (int64_t d = 0; d < signal.numDivisions(); ++d) {
        const int64_t n = signal.divisionLength(d);
        if (n == 0) continue;
        const cv::ValuePtr ref = signal.refOfDivision(d);
        const double* t = ref ? ref->reals() : nullptr;
        const double* x = a.realDivisionData(0, d);
        if (!t || ref->size() < n || !lowPass(outs[size_t(d)], x, t, n, tau, start)) {
            r.emptyVectors();
            messages.error(kBadXValues, 1, a.functionName());
            return FuncFailed;
        }
    }
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"FIR", {Real, Real, Real}, {PerDivision}, 2, 3, handler<sampleFilter<firFilter, firDefaultFill>>, "", PyVector, Plain},
    {"IIR", {Real, Real, Real}, {PerDivision}, 2, 3, handler<sampleFilter<iirFilter, iirDefaultFill>>, "", PyVector, Plain},
    {"LPF", {Real, Real, Real}, {PerDivision}, 2, 3, handler<lowPassFilter>,                          "", PyVector, Plain},
};
// clang-format on

}  // namespace
