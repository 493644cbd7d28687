// Statistics over Monte Carlo runs: one value per run in (a measurement such
// as RiseTime(out), which the host collects into one vector against the run
// keys, or a vector of several runs of one value each), one value out.
//   StdDev      the sample standard deviation (n - 1 in the denominator)
//   Median      the middle value (the mean of the two middle ones)
//   Percentile  linear between the order statistics: the value at rank
//               p/100 * (n - 1), counted from 0
//   MinRun/MaxRun the smallest or largest value, its x-value the key of the
//               run it came from
//   Yield       the share of runs inside [low, high], in %
//   Cpk         min(high - mean, mean - low) / (3 * StdDev)
// A NaN value (a run that could not be measured) makes StdDev, Median,
// Percentile and Cpk NaN, as it would make the recipe with numpy; Yield
// counts it as outside, MinRun and MaxRun pass it over. A vector that holds
// several values in one of its runs is refused: it is a waveform, to be
// measured run by run first.
#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include "MeasureKit.h"

namespace {

using namespace measure;

// The values of argument 0, one per run, read where they lie (copied only
// when the host holds them as another kind), with each one's run key: its
// x-value, or its position from 0 when it has none.
struct PerRun {
    std::span<const double> v;
    std::vector<double> converted;
    cv::ValuePtr value;

    double keyAt(size_t i) const {
        const cv::ValuePtr& ref = value->ref();
        return ref && ref->size() == int64_t(v.size()) ? ref->realAt(int64_t(i)) : double(i);
    }
    bool hasNaN() const {
        return std::any_of(v.begin(), v.end(), [](double x) { return std::isnan(x); });
    }
};

std::optional<PerRun> perRun(const FuncArgs& a, MessageHandler& m, size_t minCount) {
    PerRun p;
    p.value = valueOf(a, 0);
    if (!p.value || p.value->size() == 0) {
        refuse(m, a, 1, "values", "is empty: give one measured value per run");
        return std::nullopt;
    }
    const int64_t runs = p.value->numDivisions();
    if (runs > 1)
        for (int64_t d = 0; d < runs; ++d)
            if (p.value->divisionLength(d) != 1) {
                refuse(m, a, 1, "values",
                       "has " + std::to_string(p.value->divisionLength(d)) + " values in run " +
                           std::to_string(d + 1) +
                           ": give one value per run (a measurement of each run, such as Maximum(wave))");
                return std::nullopt;
            }
    const size_t n = size_t(p.value->size());
    if (const double* held = p.value->reals()) {
        p.v = {held, n};
    } else {
        p.converted.resize(n);
        for (size_t i = 0; i < n; ++i) p.converted[i] = p.value->realAt(int64_t(i));
        p.v = p.converted;
    }
    if (n < minCount) {
        refuse(m, a, 1, "values",
               "has " + std::to_string(n) + " value; at least " + std::to_string(minCount) + " are needed");
        return std::nullopt;
    }
    return p;
}

PhysType valuesType(const FuncArgs& a) { return a.physType(0); }

// Sums in four lanes, added as (s0 + s1) + (s2 + s3): the compiler keeps
// them in vector registers, and the order is fixed. A NaN value makes the
// sums, and so the statistics built on them, NaN.
template <class Term>
double laneSum(std::span<const double> v, Term term) {
    double s[4] = {0, 0, 0, 0};
    size_t i = 0;
    for (; i + 4 <= v.size(); i += 4)
        for (int l = 0; l < 4; ++l) s[l] += term(v[i + size_t(l)]);
    for (; i < v.size(); ++i) s[0] += term(v[i]);
    return (s[0] + s[1]) + (s[2] + s[3]);
}

double mean(std::span<const double> v) { return laneSum(v, [](double x) { return x; }) / double(v.size()); }

// Two passes: the mean, then the squared deviations from it.
double sampleStdDev(std::span<const double> v) {
    const double mu = mean(v);
    return std::sqrt(laneSum(v, [mu](double x) { return (x - mu) * (x - mu); }) / double(v.size() - 1));
}

// Linear between the order statistics, found by selection (linear time)
// in a copy of the values.
double percentileOf(std::span<const double> values, double p) {
    std::vector<double> v(values.begin(), values.end());
    const double rank = p / 100.0 * double(v.size() - 1);
    const size_t lo = size_t(std::floor(rank));
    std::nth_element(v.begin(), v.begin() + ptrdiff_t(lo), v.end());
    const double t = rank - double(lo);
    if (t == 0.0) return v[lo];
    const double next = *std::min_element(v.begin() + ptrdiff_t(lo) + 1, v.end());
    return v[lo] + (next - v[lo]) * t;
}

FUNC_ERROR stdDev(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    auto p = perRun(a, m, 2);
    if (!p) return FuncFailed;
    setMeasured(r, sampleStdDev(p->v), valuesType(a));
    return FuncOk;
}

FUNC_ERROR percentileWith(const FuncArgs& a, FuncResult& r, MessageHandler& m, double percent) {
    auto p = perRun(a, m, 1);
    if (!p) return FuncFailed;
    setMeasured(r, p->hasNaN() ? NAN : percentileOf(p->v, percent), valuesType(a));
    return FuncOk;
}

FUNC_ERROR median(const FuncArgs& a, FuncResult& r, MessageHandler& m) { return percentileWith(a, r, m, 50.0); }

FUNC_ERROR percentile(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const auto percent = levelArg(a, 1, "p", m);
    if (!percent) return FuncFailed;
    if (*percent < 0.0 || *percent > 100.0) return refuse(m, a, 2, "p", "must lie between 0 and 100 (a percentage)");
    return percentileWith(a, r, m, *percent);
}

template <bool largest>
FUNC_ERROR extremeRun(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    auto p = perRun(a, m, 1);
    if (!p) return FuncFailed;
    int64_t best = -1;
    for (size_t i = 0; i < p->v.size(); ++i) {
        const double x = p->v[i];
        if (std::isnan(x)) continue;
        if (best < 0 || (largest ? x > p->v[size_t(best)] : x < p->v[size_t(best)])) best = int64_t(i);
    }
    if (best < 0) return refuse(m, a, 1, "values", "holds NaN only: no run was measured");
    *r.makeRealVector(1) = p->v[size_t(best)];
    *r.makeRealRefVector(1) = p->keyAt(size_t(best));
    r.setPhysType(valuesType(a));
    if (const cv::ValuePtr& ref = p->value->ref()) r.setRefPhysType(ref->physType());
    return FuncOk;
}

// The limits of Yield and Cpk: low <= high, neither NaN.
bool limits(const FuncArgs& a, MessageHandler& m, double& low, double& high) {
    const auto lo = levelArg(a, 1, "low", m);
    if (!lo) return false;
    const auto hi = levelArg(a, 2, "high", m);
    if (!hi) return false;
    if (*hi < *lo) {
        refuse(m, a, 3, "high", "lies below low: the limits are low <= value <= high");
        return false;
    }
    low = *lo;
    high = *hi;
    return true;
}

FUNC_ERROR yield(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    double low, high;
    if (!limits(a, m, low, high)) return FuncFailed;
    auto p = perRun(a, m, 1);
    if (!p) return FuncFailed;
    size_t inside = 0;
    for (double x : p->v) inside += x >= low && x <= high;
    setMeasured(r, 100.0 * double(inside) / double(p->v.size()), PhysType::None);
    return FuncOk;
}

FUNC_ERROR cpk(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    double low, high;
    if (!limits(a, m, low, high)) return FuncFailed;
    auto p = perRun(a, m, 2);
    if (!p) return FuncFailed;
    const double mu = mean(p->v), sigma = sampleStdDev(p->v);
    setMeasured(r, std::min(high - mu, mu - low) / (3.0 * sigma), PhysType::None);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"StdDev",     {Real},             {Whole}, 1, 1, handler<stdDev>,            "", PyReal,       Plain, Pure},
    {"Median",     {Real},             {Whole}, 1, 1, handler<median>,            "", PyReal,       Plain, Pure},
    {"Percentile", {Real, Real},       {Whole}, 2, 2, handler<percentile>,        "", PyReal,       Plain, Pure},
    {"MinRun",     {Real},             {Whole}, 1, 1, handler<extremeRun<false>>, "", PyRealVector, Plain, Pure},
    {"MaxRun",     {Real},             {Whole}, 1, 1, handler<extremeRun<true>>,  "", PyRealVector, Plain, Pure},
    {"Yield",      {Real, Real, Real}, {Whole}, 3, 3, handler<yield>,             "", PyReal,       Plain, Pure},
    {"Cpk",        {Real, Real, Real}, {Whole}, 3, 3, handler<cpk>,               "", PyReal,       Plain, Pure},
};
// clang-format on

}  // namespace
