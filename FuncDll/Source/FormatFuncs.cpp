// Numbers as display text (engineering, plain, percentage, integer and
// printf forms), HTML colours, calendar dates and Unix time, Base64, code
// pages and unique identifiers. The text forms themselves belong to the
// host's services (EngNumber.h, Encodings.h, PrintfArg.h); the percentage,
// integer and date rules are this family's own.
//
// None of these functions reports an error for unusable input: a date that
// cannot be read, a time outside the calendar, Base64 that is not, a code
// page no one knows give no result, so a script tests the result rather than
// catching a failure.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "Encodings.h"
#include "EngNumber.h"
#include "FuncKit.h"
#include "PrintfArg.h"
#include "TextLines.h"

namespace {

using namespace cvmod;

// printf into a string of any length (digits and widths here are bounded,
// but the percentages of tiny values still run to hundreds of characters).
std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printed(const char* format, ...) {
    char small[128];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return {};
    if (size_t(n) < sizeof small) return std::string(small, size_t(n));
    std::string out(size_t(n), '\0');
    va_start(args, format);
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

// Values that have no digits to show print as words in every mode.
const char* nonFiniteWord(double v) { return std::isnan(v) ? "nan" : v < 0 ? "-inf" : "inf"; }

// --- FormatNumber

// No double needs more than ~770 significant digits to be shown exactly, so
// larger requests change nothing but the cost.
constexpr int kMaxDigits = 1000;

std::string percentText(double v, int digits) {
    const double p = 100.0 * v;
    if (!std::isfinite(p)) return nonFiniteWord(p);
    if (v == 0) return printed("%.*f%%", std::max(digits - 3, 0), 0.0);
    const int magnitude = int(std::floor(std::log10(std::fabs(p))));
    return printed("%.*f%%", std::max(digits - magnitude - 1, 0), p);
}

// Half up, exactly: v + 0.5 is itself rounded for values near 2^52 and for
// the double just below 0.5, so the fraction decides instead.
std::string roundedIntegerText(double v) {
    if (!std::isfinite(v)) return nonFiniteWord(v);
    double r = std::floor(v);
    if (v - r >= 0.5) r += 1.0;
    int64_t i;
    // Beyond 64 bits the rounded value is a whole double and prints as one.
    if (exactInt(r, i)) return printed("%lld", static_cast<long long>(i));
    return printed("%.0f", r);
}

FUNC_ERROR formatNumber(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int64_t n = given(a, 0) ? a.totalLength(0) : 0;
    const double* v = a.realData(0);
    const int digits = std::clamp(intOr(a, 1, 6), -kMaxDigits, kMaxDigits);
    enum Mode { Engineering = -1, Plain, Percent, Integer };
    const int mode = wordOf(a, 2, {"noeng", "%", "int"}, Engineering, Engineering);
    // The texts are written one after another and then moved into the
    // result's single block, whose size is known only once all are written:
    // an allocation per text cost as much as writing it. Engineering texts
    // rarely pass 12 characters ("-123.457meg").
    std::string texts;
    texts.reserve(size_t(n) * 12);
    std::vector<uint32_t> lengths(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) {
        std::string text;
        switch (mode) {
            case Plain: text = printed("%.*g", digits, v[k]); break;
            case Percent: text = percentText(v[k], digits); break;
            case Integer: text = roundedIntegerText(v[k]); break;
            default: text = sp_ConvertRealToJSEng(v[k], digits < 0 ? 6 : digits, false); break;
        }
        texts += text;
        lengths[size_t(k)] = uint32_t(text.size());
    }
    TextBlock out(r, n, texts.size());
    const char* next = texts.data();
    for (const uint32_t length : lengths) {
        out.put(std::string_view(next, length));
        next += length;
    }
    return FuncOk;
}

// --- SprintfNumber

// The first value of a printf argument: reals as they are, a complex value
// by its magnitude, strings as text, and the integer and bool results of
// other functions as reals. False for an argument with nothing to give.
bool printfArgOf(const FuncArgs& a, int i, PrintfArg& out) {
    const cv::ValuePtr& v = valueOf(a, i);
    if (!v || v->size() == 0) return false;
    switch (v->kind()) {
        case cv::Kind::Real:
        case cv::Kind::Integer:
        case cv::Kind::Integer64:
        case cv::Kind::Bool: out = PrintfArg(v->realAt(0)); return true;
        case cv::Kind::Complex: out = PrintfArg(std::abs(v->complexAt(0))); return true;
        case cv::Kind::String: out = PrintfArg(v->stringAt(0)); return true;
        default: return false;
    }
}

// The engine takes the user's format as untrusted: %n writes nothing,
// directives without an argument print nothing, kinds are converted, widths
// and precisions are bounded.
FUNC_ERROR sprintfNumber(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<PrintfArg> values;
    for (int i = 1; i < a.numArgs(); ++i) {
        PrintfArg arg;
        if (!printfArgOf(a, i, arg)) return FuncOk;
        values.push_back(arg);
    }
    setString(r, cv::formatPrintf(stringOr(a, 0), values));
    return FuncOk;
}

// --- ConvertHTMLcolourToRGB, ConvertRGBcolourToHTML

FUNC_ERROR htmlColourToRgb(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, std::to_string(sp_ConvertHTMLcolourToRGB(stringOr(a, 0))));
    return FuncOk;
}

// A text that holds no number is no colour, rather than black.
FUNC_ERROR rgbColourToHtml(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char* text = stringOr(a, 0);
    const char* end = text;
    const double value = sp_ConvertEngToReal(text, &end);
    int64_t rgb = -1;
    if (end == text || !exactInt(value, rgb)) rgb = -1;
    setString(r, sp_ConvertRGBcolourToHTML(rgb));
    return FuncOk;
}

// --- ConvertIsoTimeToUnix, ConvertUnixTimeToIso

// The years ISO 8601 writes with four digits: dates beyond them are refused
// rather than carried into a number no calendar function reads back.
constexpr int kFirstYear = 1, kLastYear = 9999;
// 10000-01-01 00:00:00 UTC; a day either side covers every time zone.
constexpr double kEndOfCalendar = 253402300800.0 + 86400.0;

// The leading decimal digits of a field (blanks and a '+' may precede them);
// 0 when there are none. Saturates far beyond any meaningful day or year.
long long leadingNumber(std::string_view s) {
    size_t k = 0;
    while (k < s.size() && (s[k] == ' ' || s[k] == '\t')) ++k;
    if (k < s.size() && s[k] == '+') ++k;
    long long v = 0;
    for (; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k) v = std::min(v * 10 + (s[k] - '0'), 1000000000LL);
    return v;
}

long long monthOf(std::string_view field) {
    if (!field.empty() && field[0] >= '0' && field[0] <= '9') return leadingNumber(field);
    static const char* const kNames[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int m = 0; m < 12; ++m)
        if (sameWord(field, kNames[m])) return m + 1;
    return 1;
}

// Midnight of the date in local standard time (daylight saving time taken as
// not in force), as seconds since the epoch. Days and months out of range roll
// over into the next ones, as mktime does.
FUNC_ERROR isoTimeToUnix(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    YArray<YString> fields;
    sp_SplitLine(stringOr(a, 0), '-', fields);
    if (fields.size() != 3) return FuncOk;
    const long long year = leadingNumber(fields[0].view());
    if (year < kFirstYear || year > kLastYear) return FuncOk;
    std::tm t{};
    t.tm_year = int(year - 1900);
    t.tm_mon = int(monthOf(fields[1].view()) - 1);
    t.tm_mday = int(leadingNumber(fields[2].view()));
    t.tm_isdst = 0;
    const time_t seconds = std::mktime(&t);
    // -1 is mktime's failure; as a local midnight it would need a zone one
    // second east of UTC.
    if (seconds == time_t(-1) || t.tm_year + 1900 < kFirstYear || t.tm_year + 1900 > kLastYear) return FuncOk;
    setInteger64(r, int64_t(seconds));
    return FuncOk;
}

FUNC_ERROR unixTimeToIso(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const double v = realOr(a, 0, NAN);
    if (!(v >= 0 && v < kEndOfCalendar)) return FuncOk;
    const time_t seconds = time_t(v);
    std::tm t{};
    // localtime_r need not look at TZ again; a script may have changed it.
    tzset();
    if (!localtime_r(&seconds, &t) || t.tm_year + 1900 > kLastYear) return FuncOk;
    setString(r, printed("%d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday));
    return FuncOk;
}

// --- Base64

FUNC_ERROR toBase64(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, cv::encodeBase64(stringOr(a, 0)));
    return FuncOk;
}

// A string result ends at its first NUL: bytes that hold one are no text,
// and cutting them short would hand back less than was encoded.
FUNC_ERROR fromBase64(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const auto bytes = cv::decodeBase64(stringOr(a, 0));
    if (bytes && bytes->find('\0') == std::string::npos) setString(r, *bytes);
    return FuncOk;
}

// Bits of a complex value would be lost on the way back to a real.
FUNC_ERROR numberToBase64(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    if (a.type(0) == VD_Complex) return requiresReal(m, a.functionName());
    if (const auto v = optionalReal(a, 0)) setString(r, cv::encodeBase64Real(*v));
    return FuncOk;
}

// NaN and values beyond 64 bits have no integer to encode.
FUNC_ERROR integerToBase64(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    if (a.type(0) == VD_Complex) return requiresReal(m, a.functionName());
    int64_t i;
    if (const auto v = optionalReal(a, 0); v && exactInt(*v, i)) setString(r, cv::encodeBase64Integer(i));
    return FuncOk;
}

FUNC_ERROR numberFromBase64(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    if (const auto v = cv::decodeBase64Real(stringOr(a, 0))) setReal(r, *v);
    return FuncOk;
}

// --- _Test_ConvertUTF8ToMBCS, GetGUID, CvUUID

FUNC_ERROR utf8ToCodePage(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    int32_t codePage;
    if (!exactInt(realOr(a, 1, NAN), codePage)) return FuncOk;
    if (const auto text = sp_ConvertUTF8_to_MBCS(stringOr(a, 0), codePage)) setString(r, *text);
    return FuncOk;
}

FUNC_ERROR newGuid(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setString(r, sp_GetGUID());
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"FormatNumber",            {Real, Real, String}, {}, 2, 3, handler<formatNumber>,     "", PyStringList, Plain},
    {"SprintfNumber",           {String, AnyVector},  {}, 1, 8, handler<sprintfNumber>,    "", PyString2,    Plain},
    {"ConvertHTMLcolourToRGB",  {String},             {}, 1, 1, handler<htmlColourToRgb>,  "", PyString,     Plain},
    {"ConvertRGBcolourToHTML",  {String},             {}, 1, 1, handler<rgbColourToHtml>,  "", PyString,     Plain},
    {"ConvertIsoTimeToUnix",    {String},             {}, 1, 1, handler<isoTimeToUnix>,    "", PyInteger64,  Plain},
    {"ConvertUnixTimeToIso",    {Real},               {}, 1, 1, handler<unixTimeToIso>,    "", PyString2,    Plain},
    {"ConvertToBase64",         {String},             {}, 1, 1, handler<toBase64>,         "", PyString,     Plain},
    {"ConvertFromBase64",       {String},             {}, 1, 1, handler<fromBase64>,       "", PyString,     Plain},
    {"ConvertNumberToBase64",   {Numeric},            {}, 1, 1, handler<numberToBase64>,   "", PyString,     Plain},
    {"ConvertNumberFromBase64", {String},             {}, 1, 1, handler<numberFromBase64>, "", PyReal,       Plain},
    {"_ConvertIntegerToBase64", {Numeric},            {}, 1, 1, handler<integerToBase64>,  "", PyString,     Plain},
    {"_Test_ConvertUTF8ToMBCS", {String, Real},       {}, 2, 2, handler<utf8ToCodePage>,   "", PyString,     Plain},
    {"CvUUID",                  {Any},                {}, 0, 0, handler<newGuid>,          "", PyString,     Plain},
    {"GetGUID",                 {Any},                {}, 0, 0, handler<newGuid>,          "", PyString,     Plain},
};
// clang-format on

}  // namespace
