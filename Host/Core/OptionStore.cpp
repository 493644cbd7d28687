#include "OptionStore.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "FuncContract.h"
#include "FunctionTable.h"
#include "Options.h"
#include "Value.h"

namespace cv {


OptionStore& OptionStore::global() {
    static OptionStore* store = [] {
        auto* s = new OptionStore;  // outlives the module's static objects
        // Options of the host itself, read by script functions.
        // Steps shorter than this fraction of the mean x step are too short to
        // take a derivative across (repeated time points at breakpoints).
        s->declare("DerivAcceptFactor", "0.001", false, "host");
        // The most memory, in MiB, that the results of one call may hold; a
        // call known to need more fails with the not-enough-memory message.
        // 0 (the default): the memory available (MemAvailable) when the call
        // starts. Never more than the physical total.
        s->declare("MemoryLimitMB", "0", true, "host");
        // Worker threads for large, independent work (big files, many runs,
        // large transforms). 0 (the default): the environment variable
        // CVFUNC_THREADS, else the number of cores. 1: all on one thread.
        // Results are the same whatever the setting.
        s->declare("Threads", "0", true, "host");
        // Where %PROJECT% points, and the script the host started with.
        s->declare("ProjectDir", "", false, "host");
        s->declare("StartScriptPath", "", false, "host");
        // Days for which a model the user added to the library is also shown
        // among the recently added ones in the parts selector. 0: only the
        // models the library index itself marks as recent.
        s->declare("NewModelLifetime", "0", true, "host");
        return s;
    }();
    return *store;
}

namespace {

constexpr OptionDoc kOptionDocs[] = {
    {"DerivAcceptFactor", true,
     "deriv and its kin: steps shorter than this fraction of the mean x step are not differentiated across "
     "(repeated time points at breakpoints). Default 0.001."},
    {"HistoCurveStyle", false,
     "how a graphical host draws a histogram curve ('Stepped'). Declared for such a host: no function here reads it."},
    {"InterpOrder", false,
     "the interpolation order a graphical host uses when it resamples waveforms itself (2). Declared for such a "
     "host: no function here reads it; functions take their order as an argument."},
    {"InterpPts", false,
     "the points a graphical host resamples a waveform onto (1024). Declared for such a host: no function here "
     "reads it."},
    {"MCNumberOfBins", true,
     "Histogram's bin count for a Monte Carlo set when none is given; 0 (the default): half the square root of "
     "the number of values."},
    {"MemoryLimitMB", true,
     "the most memory, in MiB, one call's results may hold; 0 (the default): the memory available when the call "
     "starts."},
    {"MonteCarloCss", false,
     "the style sheet a graphical host gives its Monte Carlo pages. Declared for such a host: BuildMclogHTML takes "
     "its style sheet as an argument."},
    {"NewModelLifetime", true,
     "days for which a model the user added to the library counts as recently added in the parts selector data. "
     "Default 0."},
    {"ProjectDir", true, "where the logical path %PROJECT% points."},
    {"SensitivityCss", false,
     "the style sheet a graphical host gives its sensitivity pages. Declared for such a host: BuildSensitivityHTML "
     "takes its style sheet as an argument."},
    {"StartScriptPath", true, "the script the host started with (SystemValuePath('StartUpFile'))."},
    {"Threads", true,
     "worker threads for large work; 0 (the default): $CVFUNC_THREADS, else one per core; 1: one thread. Results "
     "are the same whatever the setting."},
    {"WorstCaseCss", false,
     "the style sheet a graphical host gives its worst-case pages. Declared for such a host: BuildWorstCaseHTML "
     "takes its style sheet as an argument."},
};

}  // namespace

const OptionDoc* optionDoc(std::string_view name) noexcept {
    for (const OptionDoc& d : kOptionDocs)
        if (name.size() == std::char_traits<char>::length(d.name) &&
            std::equal(name.begin(), name.end(), d.name, [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            return &d;
    return nullptr;
}

std::span<const OptionDoc> optionDocs() noexcept { return kOptionDocs; }

std::string unreadOptionWarning(std::string_view name) {
    const OptionDoc* d = optionDoc(name);
    if (!d || d->readHere) return {};
    return std::string("no function here reads the option '") + d->name + "' (it is kept for a graphical host)";
}

void OptionStore::declare(std::string_view name, std::string defaultValue, bool isInteger, std::string source) {
    ++generation_;
    OptionInfo& o = options_[lowerAscii(name)];
    o.name = std::string(name);
    o.defaultValue = std::move(defaultValue);
    o.isInteger = isInteger;
    o.source = std::move(source);
}

void OptionStore::undeclare(std::string_view name) noexcept {
    char room[128];
    const std::string_view key = lowerInto(name, room);
    if (key.empty()) return;  // no declared name is that long
    ++generation_;
    auto it = options_.find(key);
    if (it == options_.end()) return;
    if (it->second.value) {
        it->second.defaultValue.clear();  // a user's setting outlives the declaration
        it->second.source.clear();
    } else {
        options_.erase(it);
    }
}

void OptionStore::set(std::string_view name, std::string value) {
    ++generation_;
    OptionInfo& o = options_[lowerAscii(name)];
    if (o.name.empty()) o.name = std::string(name);
    o.value = std::move(value);
}

void OptionStore::reset(std::string_view name) {
    ++generation_;
    auto it = options_.find(lowerAscii(name));
    if (it != options_.end()) it->second.value.reset();
}

std::optional<std::string> OptionStore::get(std::string_view name) const {
    auto it = options_.find(lowerAscii(name));
    if (it == options_.end()) return std::nullopt;
    return it->second.value ? *it->second.value : it->second.defaultValue;
}

std::vector<OptionInfo> OptionStore::all() const {
    std::vector<OptionInfo> out;
    for (auto& [k, o] : options_) out.push_back(o);
    return out;
}

}  // namespace cv

namespace {
// The services below the core read options through this lookup.
[[maybe_unused]] const bool kOptionLookup = (cv::setOptionLookup([](std::string_view name) {
                                                 return cv::OptionStore::global().get(name);
                                             }),
                                             true);
}  // namespace

namespace {

// What the module's MakeOption objects declare. They are static objects, built
// while the module loads: an exception would end the process inside dlopen, so
// a failure is noted for the loader instead (see FuncConstruct). The default's
// text is made inside, where the failure is caught too.
template <class Default>
void declareFromModule(const char* sourcePath, int line, const char* name, Default defaultText,
                       bool integer) noexcept {
    try {
        cv::OptionStore::global().declare(name, defaultText(), integer,
                                          std::string(sourcePath) + ":" + std::to_string(line));
    } catch (const std::bad_alloc&) {
        cv::noteFailedRegistration();
    }
}

}  // namespace

MakeOption::MakeOption(const char* sourcePath, int line, const char* name, int defaultValue, OptionCacheStatus,
                       bool)
    : name_(name) {
    declareFromModule(sourcePath, line, name, [&] { return std::to_string(defaultValue); }, true);
}

MakeOption::MakeOption(const char* sourcePath, int line, const char* name, const char* defaultValue,
                       OptionCacheStatus, bool)
    : name_(name) {
    declareFromModule(sourcePath, line, name, [&] { return std::string(defaultValue ? defaultValue : ""); }, false);
}

MakeOption::MakeOption(const char* sourcePath, int line, const char* name, const YString& defaultValue,
                       OptionCacheStatus, bool, bool, bool, bool)
    : name_(name) {
    declareFromModule(sourcePath, line, name, [&] { return defaultValue.str(); }, false);
}

MakeOption::~MakeOption() { cv::OptionStore::global().undeclare(name_); }
