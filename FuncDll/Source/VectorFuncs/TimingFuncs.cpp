// Timing measurements on waveforms: cycle periods, propagation delays and
// jitter, all built from the level crossings the host's crossing search
// finds, paired and differenced here.
#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <vector>

#include "../FuncKit.h"
#include "Interp.h"

namespace {

using namespace cvmod;

// One waveform as the crossing search wants it: x and y of equal length.
// Only a real reference gives it x-values; a waveform with another kind of
// reference measures as one without samples.
bool waveformOf(const FuncArgs& a, int i, Wave& w) {
    if (!hasReference(a, i)) return false;
    w = waveOf(a, i);
    if (!w.x) w.n = 0;
    return true;
}

// The x-values where the waveform reaches `level`, in the order of the data.
std::vector<double> crossings(const Wave& w, double level, int order, int direction) {
    YList<double> found;
    YList<int64_t> indices;
    const InterpOpts opts{true, false, false, false, order, direction, 0.0};
    support_FindYFromX(found, indices, w.x, w.y, w.n, level, opts);
    std::vector<double> t(size_t(found.count()));
    cv::copyFindsInOrder(found, t.data());
    return t;
}

// A crossing whose x is NaN (a NaN in the reference) has no place in time;
// where crossings are paired or fitted, one of them would poison every value
// after it, so it is left out there.
void dropUntimed(std::vector<double>& t) {
    t.erase(std::remove_if(t.begin(), t.end(), [](double v) { return std::isnan(v); }), t.end());
}

// The waveform (argument 1) and the level (argument 2) of a measurement on
// one signal; false after the message when either is missing.
bool waveformAndLevel(const FuncArgs& a, MessageHandler& messages, Wave& w, double& level) {
    if (!waveformOf(a, 0, w)) {
        noReference(messages, a, 1);
        return false;
    }
    const std::optional<double> value = requiredReal(a, 1, messages);
    if (!value) return false;
    level = *value;
    return true;
}

FUNC_ERROR cyclePeriod(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const double modeArg = realOr(a, 3, 0.0);
    const int mode = modeArg == 1.0 ? 1 : modeArg == 2.0 ? 2 : 0;
    Wave w;
    double level;
    if (!waveformAndLevel(a, messages, w, level)) return FuncFailed;
    // Compared as a double first: a huge or NaN order must not reach the
    // integer conversion.
    const double orderArg = realOr(a, 2, 0.0);
    const double maxOrder = std::clamp(double(w.n - 1), 1.0, 64.0);
    const int order = int(std::clamp(orderArg > 0 ? std::trunc(orderArg) : 2.0, 1.0, maxOrder));

    const std::vector<double> t = crossings(w, level, order, 0);
    r.setPhysType(a.refPhysType(0));
    r.setRefPhysType(a.refPhysType(0));
    const int64_t m = int64_t(t.size());
    if (m <= 2) {
        emptyWaveform(r);
        return FuncOk;
    }
    // Crossings alternate between rising and falling, so a whole cycle spans
    // two of them.
    double* period = r.makeRealVector(m - 2);
    double* at = r.makeRealRefVector(m - 2);
    for (int64_t k = 0; k + 2 < m; ++k) {
        period[k] = t[size_t(k + 2)] - t[size_t(k)];
        at[k] = t[size_t(k + 2 - mode)];
    }
    return FuncOk;
}

FUNC_ERROR propagationDelay(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    const int edge = realOr(a, 4, 1.0) > 0 ? 1 : -1;
    Wave ref, sig;
    // Name the argument that actually lacks its x-values.
    if (!waveformOf(a, 0, ref) || !waveformOf(a, 1, sig)) return noReference(messages, a, hasReference(a, 0) ? 2 : 1);
    const std::optional<double> refLevel = requiredReal(a, 2, messages);
    if (!refLevel) return FuncFailed;
    const std::optional<double> sigLevel = requiredReal(a, 3, messages);
    if (!sigLevel) return FuncFailed;

    std::vector<double> s = crossings(sig, *sigLevel, 1, edge);
    std::vector<double> t = crossings(ref, *refLevel, 1, edge);
    dropUntimed(s);
    dropUntimed(t);

    // Each reference crossing is closed by the first signal crossing after
    // it; one signal crossing may close several reference crossings.
    std::vector<double> delay, at;
    delay.reserve(t.size());
    at.reserve(t.size());
    size_t j = 0;
    for (double tr : t) {
        while (j < s.size() && s[j] <= tr) ++j;
        if (j == s.size()) break;
        delay.push_back(s[j] - tr);
        at.push_back(tr);
    }
    double* out = r.makeRealVector(int64_t(delay.size()));
    double* x = r.makeRealRefVector(int64_t(at.size()));
    std::copy(delay.begin(), delay.end(), out);
    std::copy(at.begin(), at.end(), x);
    return FuncOk;
}

FUNC_ERROR jitter(const FuncArgs& a, FuncResult& r, MessageHandler& messages) {
    Wave w;
    double level;
    if (!waveformAndLevel(a, messages, w, level)) return FuncFailed;
    std::vector<double> t = crossings(w, level, 1, 1);
    dropUntimed(t);
    const int64_t m = int64_t(t.size());
    // The ideal grid runs from the first rising crossing to the last: it
    // needs two of them to exist.
    if (m < 2) {
        messages.error(m == 0 ? "No rising crossing of level %g in function '%s': jitter needs at least two"
                              : "Only one rising crossing of level %g in function '%s': jitter needs at least two",
                       level, a.functionName());
        return FuncFailed;
    }
    double* dev = r.makeRealVector(m);
    double* ideal = r.makeRealRefVector(m);
    const double first = t.front(), last = t.back();
    for (int64_t k = 0; k < m; ++k) {
        // Exact at both ends and for evenly spaced integers, so a periodic
        // wave reads zero.
        ideal[k] = k == m - 1 ? last : first + (last - first) * double(k) / double(m - 1);
        dev[k] = t[size_t(k)] - ideal[k];
    }
    r.setPhysType(a.refPhysType(0));
    r.setRefPhysType(a.refPhysType(0));
    r.setRefName(a.refName(0));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"CyclePeriod",      {Real, Real, Real, Real},             {PerDivision, PerDivision}, 2, 4, handler<cyclePeriod>,      "", PyVector, Plain},
    {"Jitter",           {Real, Real},                         {PerDivision},              2, 2, handler<jitter>,           "", PyVector, Plain},
    {"PropagationDelay", {Real, Real, Real, Real, Real, Real}, {},                         4, 6, handler<propagationDelay>, "", PyVector, Plain},
};
// clang-format on

}  // namespace
