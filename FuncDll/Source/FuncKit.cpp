// The module kit's readers, messages, options and result helpers (see FuncKit.h).
#include "FuncKit.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace cvmod {

// ---------------------------------------------------------------- argument readers

bool given(const FuncArgs& a, int i) { return i >= 0 && i < a.numArgs() && a.totalLength(i) > 0; }

bool givenReal(const FuncArgs& a, int i) { return given(a, i) && a.realData(i); }

double realOr(const FuncArgs& a, int i, double fallback) { return givenReal(a, i) ? a.realData(i)[0] : fallback; }

std::optional<double> optionalReal(const FuncArgs& a, int i) {
    if (!givenReal(a, i)) return std::nullopt;
    return a.realData(i)[0];
}

std::optional<double> realAt(const FuncArgs& a, int i, int64_t k) {
    if (k < 0 || !givenReal(a, i) || a.totalLength(i) <= k) return std::nullopt;
    return a.realData(i)[k];
}

int32_t toInt32(double v) noexcept {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

int64_t toInt64(double v) noexcept {
    constexpr double kLimit = 0x1p62;
    if (std::isnan(v)) return 0;
    if (v >= kLimit) return int64_t(1) << 62;
    if (v <= -kLimit) return -(int64_t(1) << 62);
    return int64_t(v);
}

int32_t intOr(const FuncArgs& a, int i, int32_t fallback) {
    return givenReal(a, i) ? toInt32(a.realData(i)[0]) : fallback;
}

bool handleOf(const FuncArgs& a, int i, int32_t& handle) {
    const auto v = realAt(a, i, 0);
    return v && exactInt(*v, handle);
}

std::vector<std::string_view> stringsOf(const FuncArgs& a, int i) {
    std::vector<std::string_view> out;
    const char* const* s = given(a, i) ? a.stringData(i) : nullptr;
    if (!s) return out;
    const int64_t n = a.totalLength(i);
    out.reserve(size_t(n));
    // A null entry views "" rather than null, so data() is always a C string.
    for (int64_t k = 0; k < n; ++k) out.emplace_back(s[k] ? s[k] : "");
    return out;
}

const char* stringOr(const FuncArgs& a, int i, const char* fallback) {
    if (!given(a, i)) return fallback;
    const char* const* s = a.stringData(i);
    if (!s) return fallback;
    return s[0] ? s[0] : "";
}

bool sameWord(std::string_view a, std::string_view b) noexcept { return equalNoCase(a, b); }

int wordOf(const FuncArgs& a, int i, std::initializer_list<const char*> words, int fallback, int unknown) {
    const char* s = stringOr(a, i, nullptr);
    if (!s) return fallback;
    int k = 0;
    for (const char* w : words) {
        if (sameWord(s, w)) return k;
        ++k;
    }
    return unknown;
}

std::optional<double> firstReal(const FuncArgs& a, int i) {
    if (i < 0 || i >= a.numArgs() || a.length(i) < 1) return std::nullopt;
    const double* v = a.realData(i);
    if (!v) return std::nullopt;
    return v[0];
}

std::optional<double> requiredReal(const FuncArgs& a, int i, MessageHandler& m) {
    std::optional<double> v = firstReal(a, i);
    if (!v) emptyArgument(m, a, i + 1);
    return v;
}

const cv::ValuePtr& valueOf(const FuncArgs& a, int i) { return a.vector(i); }

bool hasReference(const FuncArgs& a, int i) { return a.hasRef(i); }

Wave waveOf(const FuncArgs& a, int i) {
    Wave w;
    w.y = a.realData(i);
    w.x = a.refData(i);
    w.n = w.y ? a.length(i) : 0;
    if (w.x) w.n = std::min(w.n, a.refLength(i));
    return w;
}

// ---------------------------------------------------------------- options

Option::SourcePath Option::sourcePathOf(std::string_view file) noexcept {
    // From the module's own folder on, without the extension: the record
    // names the source, not where the tree was built.
    if (const size_t from = file.rfind("FuncDll/"); from != std::string_view::npos) file.remove_prefix(from);
    const size_t slash = file.rfind('/'), dot = file.rfind('.');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) file = file.substr(0, dot);
    SourcePath out;
    const size_t n = std::min(file.size(), sizeof out.text - 1);
    if (n > 0) std::memcpy(out.text, file.data(), n);
    out.text[n] = '\0';
    return out;
}

Option::Option(const char* name, int defaultValue, OptionFlags flags, const char* file, int line)
    : declared_(sourcePathOf(file).text, line, name, defaultValue, flags.cache, flags.flag) {}

Option::Option(const char* name, const char* defaultValue, OptionFlags flags, const char* file, int line)
    : declared_(sourcePathOf(file).text, line, name, defaultValue, flags.cache, flags.flag) {}

// ---------------------------------------------------------------- messages

namespace {

FUNC_ERROR send(MessageHandler& m, const char* format, const PrintfArg& a1, const PrintfArg& a2 = PrintfArg()) {
    m.error(format, a1, a2);
    return FuncFailed;
}

}  // namespace

// clang-format off
FUNC_ERROR noReference(MessageHandler& m, const FuncArgs& a, int argNumber) {
    return send(m, "Argument %d in function '%s' has no reference (xvalues)", argNumber, a.functionName());
}
FUNC_ERROR emptyArgument(MessageHandler& m, const FuncArgs& a, int argNumber) {
    return send(m, "Argument %d in function '%s' is empty", argNumber, a.functionName());
}
FUNC_ERROR requiresReal(MessageHandler& m, const char* f)    { return send(m, "The function '%s' requires a real argument", f); }
FUNC_ERROR outOfRange(MessageHandler& m, const char* f)      { return send(m, "Argument out of range for function '%s'", f); }
FUNC_ERROR overflow(MessageHandler& m, const char* f)        { return send(m, "Overflow in function '%s'", f); }
FUNC_ERROR lengthsDiffer(MessageHandler& m, const char* f)   { return send(m, "Argument vectors must be of the same length in function '%s'", f); }
FUNC_ERROR countOutOfRange(MessageHandler& m, const char* f) { return send(m, "Count out of range in function '%s'", f); }
FUNC_ERROR xOutOfRange(MessageHandler& m, const char* f)     { return send(m, "The x value specified for the '%s' function is out of range", f); }
// clang-format on

// ---------------------------------------------------------------- results

char* copyString(std::string_view s) {
    char* p = static_cast<char*>(std::malloc(s.size() + 1));
    if (!p) throw std::bad_alloc();
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

char* copyString(const char* s) { return copyString(std::string_view(s ? s : "")); }

void setReal(FuncResult& r, double v) { *r.makeRealScalar() = v; }
void setInteger(FuncResult& r, int32_t v) { *r.makeIntegerScalar() = v; }
void setInteger64(FuncResult& r, int64_t v) { *r.makeInteger64Scalar() = v; }
void setBool(FuncResult& r, bool v) { *r.makeBoolScalar() = v; }
void setString(FuncResult& r, std::string_view s) { *r.makeStringScalar() = copyString(s); }

void setStrings(FuncResult& r, const std::vector<YString>& list) {
    setTexts(r, int64_t(list.size()), [&](int64_t k) { return list[size_t(k)].view(); });
}

void setStrings(FuncResult& r, const std::vector<std::string>& list) {
    setTexts(r, int64_t(list.size()), [&](int64_t k) { return std::string_view(list[size_t(k)]); });
}

void setStrings(FuncResult& r, const std::vector<std::string_view>& list) {
    setTexts(r, int64_t(list.size()), [&](int64_t k) { return list[size_t(k)]; });
}

double* setReals(FuncResult& r, const double* v, int64_t n) {
    double* out = r.makeRealVector(n);
    if (n > 0) std::copy(v, v + n, out);
    return out;
}

void allocateLike(const FuncArgs& a, FuncResult& r, int i, VD_type kind, Fill fill) {
    r.setType(kind, a.refType(i));
    const int64_t total = a.totalLength(i), perDivision = a.length(i);
    const bool even = perDivision * a.numDivisions(i) == total;
    const int64_t n = even ? perDivision : total;
    const ResultAllocType how = even ? AllocLikeArg : AllocSingle;
    if (fill == Fill::Unfilled) r.allocateUninitialized(n, how, total);
    else r.allocate(n, how, total);
    r.copyRefFromArgs(a, AllocLikeArg, i);
}

double* realLike(const FuncArgs& a, FuncResult& r, int i, Fill fill) {
    allocateLike(a, r, i, VD_Real, fill);
    return r.data();
}

cplx* complexLike(const FuncArgs& a, FuncResult& r, int i, Fill fill) {
    allocateLike(a, r, i, VD_Complex, fill);
    return r.complexData();
}

void emptyWaveform(FuncResult& r) {
    r.makeReal(0, AllocSingle, 0);
    r.makeRealRef(0, AllocSingle, 0);
}

}  // namespace cvmod
