#include "MeasureKit.h"

#include <cmath>
#include <cstdio>

namespace measure {

FUNC_ERROR refuse(MessageHandler& m, const FuncArgs& a, int argNumber, const char* argName, std::string_view why) {
    const std::string text = std::string(a.functionName().view()) + ": argument " + std::to_string(argNumber) + " (" +
                             argName + ") " + std::string(why);
    m.error("%s", text.c_str());
    return FuncFailed;
}

std::optional<Wave> waveArg(const FuncArgs& a, int i, const char* argName, MessageHandler& m, int64_t minSamples) {
    if (!hasReference(a, i)) {
        refuse(m, a, i + 1, argName, "has no x-values: it must be a waveform");
        return std::nullopt;
    }
    const Wave w = waveOf(a, i);
    if (!w.y || !w.x) {
        refuse(m, a, i + 1, argName, "must be real, with real x-values");
        return std::nullopt;
    }
    if (w.n < minSamples) {
        refuse(m, a, i + 1, argName,
               "has " + std::to_string(w.n) + (w.n == 1 ? " sample" : " samples") + "; at least " +
                   std::to_string(minSamples) + " are needed");
        return std::nullopt;
    }
    // One branch-free pass: x-values that never fall (a NaN fails the
    // comparison) are all finite when the first and last are. The offending
    // sample is looked for only when there is one.
    bool bad = w.n > 0 && !(std::isfinite(w.x[0]) && std::isfinite(w.x[w.n - 1]));
    for (int64_t k = 1; k < w.n; ++k) bad |= !(w.x[k] >= w.x[k - 1]);
    for (int64_t k = 0; bad && k < w.n; ++k) {
        if (!std::isfinite(w.x[k]) || (k && w.x[k] < w.x[k - 1])) {
            refuse(m, a, i + 1, argName,
                   std::isnan(w.x[k])      ? "has a NaN x-value"
                   : std::isinf(w.x[k])    ? "has an infinite x-value"
                                           : "has x-values that fall: they must not decrease");
            return std::nullopt;
        }
    }
    return w;
}

std::optional<double> levelArg(const FuncArgs& a, int i, const char* argName, MessageHandler& m) {
    const std::optional<double> v = firstReal(a, i);
    if (!v || std::isnan(*v)) {
        refuse(m, a, i + 1, argName, v ? "is NaN" : "is missing or empty");
        return std::nullopt;
    }
    return v;
}

std::string shown(double v) {
    char text[32];
    std::snprintf(text, sizeof text, std::fabs(v) < 1e15 && v == std::trunc(v) ? "%.0f" : "%.6g", v);
    return text;
}

void setMeasured(FuncResult& r, double v, PhysType type) {
    setReal(r, v);
    r.setPhysType(type);
}

}  // namespace measure
