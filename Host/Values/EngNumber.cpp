// Engineering notation (rules in Include/Contract/EngNumber.h).
#include "EngNumber.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string_view>

namespace {

struct Suffix {
    int exponent;
    const char* text;
};
constexpr Suffix kSuffixes[] = {{-15, "f"}, {-12, "p"}, {-9, "n"}, {-6, "u"}, {-3, "m"}, {0, ""},
                                {3, "k"},   {6, "meg"}, {9, "g"},  {12, "t"}};
constexpr int kLowestSuffix = -15, kHighestSuffix = 12;

// Decimal digits (no leading zero, no point) and the power of ten of the
// first one, as read from to_chars' scientific text "-d.ddde+xx". Held in
// place: a conversion is a few dozen nanoseconds, which a string per call
// would double.
struct Digits {
    char digits[32];
    int count = 0;
    int exponent = 0;
};

Digits digitsOf(const char* p, const char* end) {
    Digits d;
    if (p < end && *p == '-') ++p;
    for (; p < end && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') d.digits[d.count++] = *p;
    if (p < end) {
        ++p;
        if (p < end && *p == '+') ++p;
        std::from_chars(p, end, d.exponent);
    }
    return d;
}

int floorDiv3(int e) { return e >= 0 ? e / 3 : -((-e + 2) / 3); }

// The C locale's number reader: a host that sets a locale with a decimal
// comma must not change how netlist numbers read.
locale_t cLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

bool startsWithNoCase(const char* p, const char* word) {
    for (; *word; ++p, ++word)
        if (std::tolower(static_cast<unsigned char>(*p)) != *word) return false;
    return true;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

void skipUnit(const char*& p) {
    while (isLetter(*p)) ++p;
}

}  // namespace

std::string sp_ConvertRealToJSEng(double value, int significantDigits, bool keepTrailingZeros) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return "0";
    const int wanted = std::clamp(significantDigits, 1, 17);

    char text[64];
    auto written = std::to_chars(text, text + sizeof text - 1, value, std::chars_format::scientific, wanted - 1);
    Digits d = digitsOf(text, written.ptr);
    // The fewest digits that read back to the rounded value; a rounding that
    // overflowed (1.8e308 to one digit) keeps the digits it has. Up to 15
    // digits, every decimal of the normal range reads back to a double of its
    // own (they lie more than an ulp apart), so that double's shortest text
    // is the decimal itself: the reading back is needed only beyond.
    const double magnitude = std::fabs(value);
    if (wanted > 15 || magnitude < 1e-300 || magnitude > 1e300) {
        *written.ptr = '\0';
        char* end = nullptr;
        const double rounded = strtod_l(text, &end, cLocale());
        if (std::isfinite(rounded)) {
            written = std::to_chars(text, text + sizeof text, rounded, std::chars_format::scientific);
            d = digitsOf(text, written.ptr);
        }
    }
    while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
    if (keepTrailingZeros)
        for (; d.count < wanted; ++d.count) d.digits[d.count] = '0';

    // At most a sign, 17 digits, a point and a suffix or an exponent ("e-324").
    char out[32];
    char* o = out;
    if (value < 0) *o++ = '-';
    const int group = floorDiv3(d.exponent) * 3;
    if (group < kLowestSuffix || group > kHighestSuffix) {
        *o++ = d.digits[0];
        if (d.count > 1) {
            *o++ = '.';
            o = std::copy(d.digits + 1, d.digits + d.count, o);
        }
        o += std::snprintf(o, size_t(out + sizeof out - o), "e%+03d", d.exponent);
        return std::string(out, size_t(o - out));
    }
    const int integerDigits = d.exponent - group + 1;
    if (d.count <= integerDigits) {
        o = std::copy(d.digits, d.digits + d.count, o);
        o = std::fill_n(o, integerDigits - d.count, '0');
    } else {
        o = std::copy(d.digits, d.digits + integerDigits, o);
        *o++ = '.';
        o = std::copy(d.digits + integerDigits, d.digits + d.count, o);
    }
    const char* suffix = kSuffixes[(group - kLowestSuffix) / 3].text;
    o = std::copy(suffix, suffix + std::strlen(suffix), o);
    return std::string(out, size_t(o - out));
}

double sp_ConvertEngToReal(const char* text, const char** end) {
    if (end) *end = text;
    if (!text) return 0.0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;

    std::string number;
    if (*p == '+' || *p == '-') number += *p++;
    // The words the writer uses for values without digits.
    for (const char* word : {"infinity", "inf", "nan"}) {
        if (startsWithNoCase(p, word)) {
            p += std::strlen(word);
            skipUnit(p);
            if (end) *end = p;
            const double v = word[0] == 'n' ? std::nan("") : HUGE_VAL;
            return number == "-" ? -v : v;
        }
    }

    bool anyDigit = false;
    for (; isDigit(*p); ++p, anyDigit = true) number += *p;
    if (*p == '.') {
        number += *p++;
        for (; isDigit(*p); ++p, anyDigit = true) number += *p;
    }
    if (!anyDigit) return 0.0;

    // The exponent saturates far beyond any double's range, where the value
    // is already 0 or infinite, so no digit count can overflow it.
    constexpr long long kExponentLimit = 1000000000;
    long long exponent = 0;
    if ((*p == 'e' || *p == 'E') &&
        (isDigit(p[1]) || ((p[1] == '+' || p[1] == '-') && isDigit(p[2])))) {
        ++p;
        const bool negative = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        for (; isDigit(*p); ++p) exponent = std::min(exponent * 10 + (*p - '0'), kExponentLimit);
        if (negative) exponent = -exponent;
    }
    if (startsWithNoCase(p, "meg")) {
        exponent += 6;
        p += 3;
    } else {
        for (const Suffix& s : kSuffixes)
            if (s.text[0] && !s.text[1] && std::tolower(static_cast<unsigned char>(*p)) == s.text[0]) {
                exponent += s.exponent;
                ++p;
                break;
            }
    }
    skipUnit(p);
    if (end) *end = p;

    number += "e" + std::to_string(exponent);
    return strtod_l(number.c_str(), nullptr, cLocale());
}
