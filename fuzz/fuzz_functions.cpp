// The function table: the input chooses a registered function, an argument
// count around its range and hostile arguments (Hostile.h), and calls it
// through the tool's pipeline (count check, conversions, divisions, handler).
// Functions on the skipped list are not in the table (FuzzSupport.h); those
// on the confined list get plain file names in the sandbox.
#include <filesystem>

#include "Hostile.h"

namespace {

// Functions that open an entry in a table of handles, and the function that
// releases one. Handles 1 and 2 are kept for the readers of later inputs to
// find; newer ones are released at once. Kept, every load would stay for the
// rest of the campaign: memory grows, and libFuzzer takes each input that
// allocates more than it frees for a leak and scans the whole heap for it,
// which halved the campaign's speed.
struct Opener {
    const char* open;
    const char* release;
};
constexpr Opener kOpeners[] = {
    {"LoadTouchstone", "DeleteTouchstone"},
    {"HashCreate", "HashDelete"},
    {"WAV_OpenFile", "WAV_CloseFile"},
};

void releaseNewEntry(const FuncConstruct& f, const cv::ValuePtr& out) {
    for (const Opener& o : kOpeners) {
        if (strcasecmp(o.open, f.name()) != 0 || !out || out->size() < 1 || out->kind() == cv::Kind::String) continue;
        const double handle = out->realAt(0);
        if (handle > 2) fuzz::call(o.release, {cv::Value::real(handle)});
    }
}

// SpectrumUniv's option 14 is a time limit the caller grants the integration
// method; a call that grants hours may take them (it checks for interrupts),
// which is not a hang. The harness grants at most two seconds.
constexpr double kLongestGrant = 2.0;

void limitGrantedTime(const FuncConstruct& f, std::vector<cv::ValuePtr>& args) {
    constexpr int64_t kTimeLimitOption = 14;
    if (strcasecmp(f.name(), "SpectrumUniv") != 0 || args.size() < 2 || !args[1]->isNumeric() ||
        args[1]->size() <= kTimeLimitOption)
        return;
    const double granted = args[1]->realAt(kTimeLimitOption);
    if (!(granted > kLongestGrant)) return;
    cv::ValuePtr options = args[1]->convertedTo(cv::Kind::Real);
    auto changed = std::const_pointer_cast<cv::Value>(options);
    static_cast<double*>(changed->mutableData())[kTimeLimitOption] = kLongestGrant;
    args[1] = std::move(options);
}

// What the calls leave in the sandbox is cleared every kInputsPerSandbox
// inputs. Files written by one input are read by later ones (a file stamped,
// loaded or listed by name), but a campaign of millions would otherwise
// collect files that make a cheap call slow (a thousand stamps of one large
// file) depending on everything that ran before it.
constexpr int kInputsPerSandbox = 1000;

void clearSandboxNow() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fuzz::sandbox(), ec))
        std::filesystem::remove_all(entry.path(), ec);  // links are removed, never followed
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<const FuncConstruct*> functions = [] {
        fuzz::session();
        return cv::FunctionTable::global().all();
    }();
    fuzz::Bytes in(data, size);
    const FuncConstruct* f = functions[(size_t(in.u8()) << 8 | in.u8()) % functions.size()];
    // min-1 ... a few above min, and max+1, so the count check is exercised too.
    const int lo = std::max(0, f->minArgs() - 1);
    const int hi = std::min(f->maxArgs() + 1, f->minArgs() + 6);
    const int count = lo + int(in.pick(size_t(hi - lo + 1)));
    const bool confined = fuzz::listed(fuzz::confinedFunctions(), f->name());
    std::vector<cv::ValuePtr> args;
    for (int i = 0; i < count; ++i) {
        cv::ValuePtr v = fuzz::hostileValue(in);
        if (confined && v->kind() == cv::Kind::String) {
            std::vector<std::string> names;
            for (int64_t j = 0; j < v->size(); ++j) names.push_back(fuzz::confinedName(v->stringAt(j)));
            v = cv::Value::strings(names);
        }
        args.push_back(std::move(v));
    }
    limitGrantedTime(*f, args);
    // CVFUNC_FUZZ_TRACE=1 names each call, to tell what a finding called.
    static const bool trace = std::getenv("CVFUNC_FUZZ_TRACE") != nullptr;
    if (trace) {
        std::fprintf(stderr, "%s(", f->name());
        for (const auto& a : args)
            std::fprintf(stderr, " %s[%lld/%lld]%s", cv::kindName(a->kind()), (long long)a->size(),
                         (long long)a->numDivisions(), a->ref() ? "+ref" : "");
        std::fprintf(stderr, " )\n");
    }
    cv::ValuePtr out;
    std::string error;
    fuzz::session().caller().call(*f, args, out, error);
    if (trace) std::fprintf(stderr, "  -> %s\n", out ? cv::kindName(out->kind()) : error.c_str());
    releaseNewEntry(*f, out);
    fuzz::session().postCli();
    static int inputs = 0;
    if (++inputs % kInputsPerSandbox == 0) clearSandboxNow();
    return 0;
}
