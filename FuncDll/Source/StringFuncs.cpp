// The elementary operations on text: character codes, substrings, searching,
// substitution, case, escaping, and building and joining lists of strings.
//
// Strings are bytes: positions and lengths count bytes from 0 and nothing here
// reads multi-byte sequences. The scalar functions take the first element of
// a string argument, the list functions all of its elements (across all
// divisions, since the host passes these arguments whole). An absent string
// (null) reads as "", except where a list function passes it on as it is.
//
// Several of these functions can be asked for far more text than they were
// given (a count of copies, a short list repeated against a long one, a
// replacement longer than what it replaces). They work out the size first and
// refuse with std::bad_alloc, which the host reports as not enough memory,
// before allocating anything: the system would otherwise promise the memory
// and end the process when it is touched.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "FuncKit.h"
#include "PathUtil.h"
#include "TextEscape.h"
#include "YString.h"

namespace {

using namespace cvmod;

// ---------------------------------------------------------------- shared helpers

std::string_view textOf(const char* s) { return s ? std::string_view(s) : std::string_view(); }

// All elements of string argument i (none when it is absent or not strings).
struct StringList {
    const char* const* s = nullptr;
    int64_t n = 0;
    std::string_view operator[](int64_t k) const { return textOf(s[k]); }
};

StringList listOf(const FuncArgs& a, int i) {
    if (!given(a, i) || !a.stringData(i)) return {};
    return {a.stringData(i), a.totalLength(i)};
}

int32_t saturated(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// The smallest block malloc hands out for a short string, bookkeeping included.
constexpr uint64_t kStringBlock = 32;

// Sums sizes without wrapping: a saturated sum is beyond any limit anyway.
uint64_t addSizes(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
uint64_t mulSizes(uint64_t a, uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

void ensureFits(uint64_t bytes) {
    if (bytes > cv::memoryLimitBytes()) throw std::bad_alloc();
}

// The first occurrence of `what` in `text` at or after `from` (glibc's memmem
// is linear in the worst case, so no pattern makes a search quadratic).
size_t findBytes(std::string_view text, std::string_view what, size_t from) {
    if (from > text.size()) return std::string_view::npos;
    if (what.empty()) return from;
    if (text.size() - from < what.size()) return std::string_view::npos;
    const void* p = memmem(text.data() + from, text.size() - from, what.data(), what.size());
    return p ? size_t(static_cast<const char*>(p) - text.data()) : std::string_view::npos;
}

// The number of list elements a script asks for (below 1: none). A count
// beyond 32 bits could never be met: it is refused as memory, rather than
// cut to the largest count, which would still ask for gigabytes.
int64_t elementCount(double asked, uint64_t bytesEach) {
    const int64_t n = std::max<int64_t>(toInt64(asked), 0);
    if (n > INT32_MAX) throw std::bad_alloc();
    ensureFits(mulSizes(uint64_t(n), bytesEach));
    return n;
}

// ---------------------------------------------------------------- single characters

FUNC_ERROR ascii(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    // The byte as a signed 8-bit number, so 233 reads as -23; "" gives 0.
    setInteger(r, int32_t(static_cast<signed char>(stringOr(a, 0)[0])));
    return FuncOk;
}

FUNC_ERROR charAt(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string_view s = stringOr(a, 0);
    const int64_t n = int64_t(s.size());
    // A negative index counts from the end; no index, or one outside, gives "".
    int64_t i = givenReal(a, 1) ? intOr(a, 1, 0) : n;
    if (i < 0) i += n;
    setString(r, i >= 0 && i < n ? s.substr(size_t(i), 1) : std::string_view());
    return FuncOk;
}

FUNC_ERROR chr(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const double v = std::floor(realOr(a, 0, 0.0));
    const int code = std::isnan(v) ? 0 : int(std::clamp(v, 0.0, 255.0));
    const char byte = static_cast<char>(code);
    // Code 0 would end the string at once: the result is "".
    setString(r, code == 0 ? std::string_view() : std::string_view(&byte, 1));
    return FuncOk;
}

FUNC_ERROR countChars(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    int64_t counts[256] = {};
    for (char c : std::string_view(stringOr(a, 0))) ++counts[static_cast<unsigned char>(c)];
    const std::string_view which = stringOr(a, 1);
    int32_t* out = r.makeIntegerVector(int64_t(which.size()));
    for (size_t k = 0; k < which.size(); ++k) out[k] = saturated(counts[static_cast<unsigned char>(which[k])]);
    return FuncOk;
}

// ---------------------------------------------------------------- substrings and searching

FUNC_ERROR mid(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string_view s = stringOr(a, 0);
    const int64_t n = int64_t(s.size());
    int64_t start = intOr(a, 1, 0);
    const auto length = optionalReal(a, 2);
    // The end is worked out from the start as given, before the start is
    // clamped: start -5 with length 7 ends at 2.
    int64_t end = length ? toInt32(double(start) + *length) : n;
    start = std::clamp<int64_t>(start, 0, n);
    end = std::clamp<int64_t>(end, start, n);
    setString(r, s.substr(size_t(start), size_t(end - start)));
    return FuncOk;
}

FUNC_ERROR strStr(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string_view s = stringOr(a, 0);
    const int64_t offset = std::clamp<int64_t>(intOr(a, 2, 0), 0, int64_t(s.size()));
    YString tail(s.substr(size_t(offset))), what(stringOr(a, 1));
    tail.tolower();
    what.tolower();
    const size_t at = findBytes(tail.view(), what.view(), 0);
    // Counted from the offset, not from the start of the string.
    setInteger(r, at == std::string_view::npos ? -1 : saturated(int64_t(at)));
    return FuncOk;
}

FUNC_ERROR stringLength(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger(r, saturated(int64_t(std::strlen(stringOr(a, 0)))));
    return FuncOk;
}

FUNC_ERROR stringStartsWith(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    // A string, not a number: scripts test it against "1".
    setString(r, YString(stringOr(a, 0)).beginsWith(stringOr(a, 1)) ? "1" : "0");
    return FuncOk;
}

// ---------------------------------------------------------------- substitution and case

FUNC_ERROR substChar(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    bool replace[256] = {};
    for (char c : std::string_view(stringOr(a, 1))) replace[static_cast<unsigned char>(c)] = true;
    const char by = stringOr(a, 2)[0];
    std::string s = stringOr(a, 0);
    for (size_t k = 0; k < s.size(); ++k) {
        if (!replace[static_cast<unsigned char>(s[k])]) continue;
        // An empty replacement is a NUL byte, which ends the string there.
        if (by == '\0') {
            s.resize(k);
            break;
        }
        s[k] = by;
    }
    setString(r, s);
    return FuncOk;
}

// Replaces up to `limit` occurrences of `from`, left to right, each search
// continuing after the text just inserted, so replaced text is never searched
// again. An empty `from` replaces nothing: it would be found again at every
// position and never let the replacing end.
std::string replaceOccurrences(std::string_view text, std::string_view from, std::string_view to, int64_t limit) {
    if (from.empty() || limit <= 0) return std::string(text);
    int64_t found = 0;
    for (size_t at = findBytes(text, from, 0); at != std::string_view::npos && found < limit;
         at = findBytes(text, from, at + from.size()))
        ++found;
    uint64_t size = text.size() - uint64_t(found) * from.size();
    size = addSizes(size, mulSizes(uint64_t(found), to.size()));
    ensureFits(size);
    std::string out;
    out.reserve(size_t(size));
    size_t done = 0;
    for (int64_t k = 0; k < found; ++k) {
        const size_t at = findBytes(text, from, done);
        out.append(text.substr(done, at - done)).append(to);
        done = at + from.size();
    }
    out.append(text.substr(done));
    return out;
}

FUNC_ERROR substString(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char* count = stringOr(a, 3);
    int64_t limit = 1;
    if (sameWord(count, "all")) {
        limit = INT64_MAX;
    } else if (*count) {
        // Leading digits as the C library reads them; none give 0, and 0 or a
        // negative count replaces nothing.
        limit = std::max<long long>(std::strtoll(count, nullptr, 10), 0);
    }
    setString(r, replaceOccurrences(stringOr(a, 0), stringOr(a, 1), stringOr(a, 2), limit));
    return FuncOk;
}

FUNC_ERROR toLower(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, YString(stringOr(a, 0)).tolower().view());
    return FuncOk;
}

FUNC_ERROR toUpper(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, YString(stringOr(a, 0)).toupper().view());
    return FuncOk;
}

// ---------------------------------------------------------------- escaping

bool replaceSpacesAsked(const FuncArgs& a) { return given(a, 1) && sameWord(stringOr(a, 1), "replaceSpaces"); }

FUNC_ERROR escapeString(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, sp_EscapeString(stringOr(a, 0), replaceSpacesAsked(a)).view());
    return FuncOk;
}

FUNC_ERROR escapeStringEncode(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, sp_EscapeStringEncode(stringOr(a, 0), replaceSpacesAsked(a)).view());
    return FuncOk;
}

// ---------------------------------------------------------------- Search

// Elements compare ignoring case, or as paths ('/' and '\\' alike, letter
// case as the platform's file names have it: exact on Linux, as PathEqual),
// with the support library's matching hash, so equal texts always meet.
struct Folding {
    bool path = false;
    bool equal(std::string_view x, std::string_view y) const { return path ? equalPath(x, y) : equalNoCase(x, y); }
    size_t hash(std::string_view x) const { return path ? hashPath(x) : hashNoCase(x); }
};

FUNC_ERROR search(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    Folding fold;
    bool count = false;
    const StringList options = listOf(a, 2);
    for (int64_t k = 0; k < options.n; ++k) {
        if (sameWord(options[k], "Path")) fold.path = true;
        if (sameWord(options[k], "count")) count = true;
    }
    const StringList list = listOf(a, 0), wanted = listOf(a, 1);

    if (wanted.n == 1) {
        int64_t found = -1;
        for (int64_t k = 0; k < list.n && found < 0; ++k)
            if (fold.equal(list[k], wanted[0])) found = k;
        setInteger(r, count ? int32_t(found >= 0) : saturated(found));
        return FuncOk;
    }

    // Several to find: index the list once; a repeated element keeps the
    // position of its first occurrence.
    auto hash = [&fold](std::string_view x) { return fold.hash(x); };
    auto equal = [&fold](std::string_view x, std::string_view y) { return fold.equal(x, y); };
    std::unordered_map<std::string_view, int64_t, decltype(hash), decltype(equal)> index(
        size_t(std::max<int64_t>(101, list.n)), hash, equal);
    for (int64_t k = 0; k < list.n; ++k) index.try_emplace(list[k], k);

    if (count) {
        int64_t present = 0;
        for (int64_t k = 0; k < wanted.n; ++k) present += index.count(wanted[k]);
        setInteger(r, saturated(present));
        return FuncOk;
    }
    int32_t* out = r.makeIntegerVector(wanted.n);
    for (int64_t k = 0; k < wanted.n; ++k) {
        auto it = index.find(wanted[k]);
        out[k] = it == index.end() ? -1 : saturated(it->second);
    }
    return FuncOk;
}

// ---------------------------------------------------------------- building lists

// Characters of list elements [0, n), absent ones counting none.
size_t charsOf(const StringList& list, int64_t n) {
    size_t chars = 0;
    for (int64_t k = 0; k < n; ++k) chars += list[k].size();
    return chars;
}

FUNC_ERROR copyList(FuncResult& r, const StringList& list) {
    TextBlock out(r, list.n, charsOf(list, list.n));
    for (int64_t k = 0; k < list.n; ++k) out.put(list.s[k]);
    return FuncOk;
}

FUNC_ERROR concat(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const StringList x = listOf(a, 0), y = listOf(a, 1);
    // A shorter list repeats its last element, which an empty list does not
    // have: the other list stands as it is.
    if (x.n == 0) return copyList(r, y);
    if (y.n == 0) return copyList(r, x);

    const int64_t n = std::max(x.n, y.n);
    std::vector<size_t> xLength(size_t(x.n)), yLength(size_t(y.n));
    for (int64_t k = 0; k < x.n; ++k) xLength[size_t(k)] = x[k].size();
    for (int64_t k = 0; k < y.n; ++k) yLength[size_t(k)] = y[k].size();
    // One long element against a long list multiplies: check the total first.
    uint64_t chars = 0;
    for (int64_t k = 0; k < n; ++k)
        chars = addSizes(chars, xLength[size_t(std::min(k, x.n - 1))] + yLength[size_t(std::min(k, y.n - 1))]);
    ensureFits(addSizes(mulSizes(uint64_t(n), sizeof(char*) + kStringBlock), chars));

    TextBlock out(r, n, size_t(chars));
    for (int64_t k = 0; k < n; ++k) {
        const int64_t i = std::min(k, x.n - 1), j = std::min(k, y.n - 1);
        const char *p = x.s[i], *q = y.s[j];
        // Nothing joined to nothing stays nothing; else the part there is.
        if (!p || !q) out.put(p ? p : q);
        else out.put({p, xLength[size_t(i)]}, {q, yLength[size_t(j)]});
    }
    return FuncOk;
}

FUNC_ERROR joinStringArray(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const StringList x = listOf(a, 0), y = listOf(a, 1);
    TextBlock out(r, x.n + y.n, charsOf(x, x.n) + charsOf(y, y.n));
    for (int64_t k = 0; k < x.n; ++k) out.put(x.s[k]);
    for (int64_t k = 0; k < y.n; ++k) out.put(y.s[k]);
    return FuncOk;
}

FUNC_ERROR makeString(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    // Every slot holds a string of its own, empty ones included.
    const int64_t n = elementCount(realOr(a, 0, 0.0), sizeof(char*) + kStringBlock);
    const StringList from = listOf(a, 1);
    const int64_t copied = std::min(n, from.n);
    TextBlock out(r, n, charsOf(from, copied));
    for (int64_t k = 0; k < copied; ++k) out.put(from[k]);
    for (int64_t k = copied; k < n; ++k) out.put(std::string_view());
    return FuncOk;
}

FUNC_ERROR nullString(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    double count = 0;
    if (given(a, 0)) {
        if (const double* v = a.realData(0)) count = v[0];
        else if (const cplx* c = a.complexData(0)) count = c[0].real();
    }
    // The slots hold no string at all; a negative count asks for none.
    r.makeStringVector(elementCount(count, sizeof(char*)));
    return FuncOk;
}

FUNC_ERROR str(const FuncArgs& a, FuncResult& r, MessageHandler&) { return copyList(r, listOf(a, 0)); }

// ---------------------------------------------------------------- MkVec

// Bytes the expression language reads as part of a name.
bool nameByte(unsigned char c, bool first) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80 || c == '_' || c == '$';
    return letter || (!first && ((c >= '0' && c <= '9') || c == '#' || c == '.' || c == ':'));
}

FUNC_ERROR mkVec(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string_view name = stringOr(a, 0);
    bool plain = !name.empty();
    for (size_t k = 0; k < name.size() && plain; ++k) plain = nameByte(static_cast<unsigned char>(name[k]), k == 0);
    if (plain) {
        setString(r, name);
        return FuncOk;
    }
    // Quoted as the expression language reads strings, so that a name with a
    // quote or a backslash still names that vector and cannot end the string
    // early and run the rest as an expression.
    std::string e = "Vec('";
    for (char c : name) {
        switch (c) {
        case '\\': e += "\\\\"; break;
        case '\'': e += "\\'"; break;
        case '\n': e += "\\n"; break;
        case '\t': e += "\\t"; break;
        default: e += c;
        }
    }
    e += "')";
    setString(r, e);
    return FuncOk;
}

// ---------------------------------------------------------------- calls with no effect

FUNC_ERROR nothing(const FuncArgs&, FuncResult&, MessageHandler&) { return FuncOk; }

// clang-format off
FunctionRow registrations[] = {
    {"_Concat",            {String, String},         {NoRule, NoRule}, 2, 2, handler<concat>,             "", PyStringList,    Operator},
    {"Ascii",              {String},                 {},               1, 1, handler<ascii>,              "", PyInteger,       Plain},
    {"Char",               {String, Real},           {},               2, 2, handler<charAt>,             "", PyString,        Plain},
    {"Chr",                {Real},                   {},               1, 1, handler<chr>,                "", PyString,        Plain},
    {"CountChars",         {String, String},         {},               2, 2, handler<countChars>,         "", PyIntegerVector, Plain},
    {"EscapeString",       {String, String},         {},               1, 2, handler<escapeString>,       "", PyString,        Plain},
    {"EscapeStringEncode", {String, String},         {},               1, 2, handler<escapeStringEncode>, "", PyString,        Plain},
    {"MakeString",         {Real, String},           {},               1, 2, handler<makeString>,         "", PyStringList,    Plain},
    {"Mid",                {String, Real, Real},     {},               2, 3, handler<mid>,                "", PyString,        Plain},
    {"MkVec",              {String},                 {},               1, 1, handler<mkVec>,              "", PyString,        Plain},
    {"Null",               {Any},                    {},               0, 0, handler<nothing>,            "", PyNone,          Plain},
    {"Search",             {String, String, String}, {},               2, 3, handler<search>,             "", PyIntegerVector, Plain},
    {"Str",                {String},                 {},               1, 1, handler<str>,                "", PyStringList,    Plain},
    {"StrStr",             {String, String, Real},   {},               2, 3, handler<strStr>,             "", PyInteger,       Plain},
    {"StringLength",       {String},                 {},               1, 1, handler<stringLength>,       "", PyInteger,       Plain},
    {"StringStartsWith",   {String, String},         {},               2, 2, handler<stringStartsWith>,   "", PyString,        Plain},
    {"SubstChar",          {String, String, String}, {},               3, 3, handler<substChar>,          "", PyString,        Plain},
    {"SubstString",        {String, String, String, String}, {},       3, 4, handler<substString>,        "", PyString,        Plain},
    {"ToLower",            {String},                 {},               1, 1, handler<toLower>,            "", PyString,        Plain},
    {"ToUpper",            {String},                 {},               1, 1, handler<toUpper>,            "", PyString,        Plain},
    {"_NullString",        {Numeric},                {},               1, 1, handler<nullString>,         "", PyStringList,    Plain},
    {"JoinStringArray",    {String, String},         {},               2, 2, handler<joinStringArray>,    "", PyStringList,    ArrayArgs},
    {"DoNothing",          {Any},                    {},               0, 0, handler<nothing>,            "", PyNone,          Plain},
};
// clang-format on

}  // namespace
