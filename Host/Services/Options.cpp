// Option look-up for the services and the module (see Options.h): the
// store lives in the core, which hands its look-up down at start.
#include "Options.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

std::atomic<cv::OptionLookup> gLookup{nullptr};

std::optional<std::string> lookUp(const char* name) {
    const cv::OptionLookup lookup = gLookup.load();
    return lookup ? lookup(name ? name : "") : std::nullopt;
}

}  // namespace

void cv::setOptionLookup(OptionLookup lookup) { gLookup.store(lookup); }

double sp_GetDoubleOption(const char* name) {
    auto v = lookUp(name);
    if (!v) return 0.0;
    errno = 0;
    char* end = nullptr;
    double d = std::strtod(v->c_str(), &end);
    return end == v->c_str() ? 0.0 : d;
}

int sp_GetIntOption(const char* name) {
    double d = sp_GetDoubleOption(name);
    if (std::isnan(d)) return 0;
    if (d >= double(INT_MAX)) return INT_MAX;
    if (d <= double(INT_MIN)) return INT_MIN;
    return static_cast<int>(d);
}

YString sp_GetStringOption(const char* name) {
    bool found = false;
    return sp_GetStringOption(name, found);
}

YString sp_GetStringOption(const char* name, bool& found) {
    auto v = lookUp(name);
    found = v.has_value();
    return v ? YString(*v) : YString();
}

