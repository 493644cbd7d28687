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
// first one, as read from to_chars' scientific text "-d.ddde+xx".
struct Digits {
    std::string digits;
    int exponent = 0;
};

Digits digitsOf(std::string_view scientific) {
    Digits d;
    size_t k = 0;
    if (k < scientific.size() && scientific[k] == '-') ++k;
    for (; k < scientific.size() && scientific[k] != 'e'; ++k)
        if (std::isdigit(static_cast<unsigned char>(scientific[k]))) d.digits += scientific[k];
    if (k < scientific.size()) {
        ++k;
        if (k < scientific.size() && scientific[k] == '+') ++k;
        std::from_chars(scientific.data() + k, scientific.data() + scientific.size(), d.exponent);
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
    auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, wanted - 1);
    Digits d = digitsOf(std::string_view(text, size_t(written.ptr - text)));
    // The fewest digits that read back to the rounded value; a rounding that
    // overflowed (1.8e308 to one digit) keeps the digits it has.
    char* end = nullptr;
    const double rounded = strtod_l(std::string(text, written.ptr).c_str(), &end, cLocale());
    if (std::isfinite(rounded)) {
        written = std::to_chars(text, text + sizeof text, rounded, std::chars_format::scientific);
        d = digitsOf(std::string_view(text, size_t(written.ptr - text)));
    }
    while (d.digits.size() > 1 && d.digits.back() == '0') d.digits.pop_back();
    if (keepTrailingZeros && d.digits.size() < size_t(wanted)) d.digits.append(size_t(wanted) - d.digits.size(), '0');

    std::string out = value < 0 ? "-" : "";
    const int group = floorDiv3(d.exponent) * 3;
    if (group < kLowestSuffix || group > kHighestSuffix) {
        out += d.digits[0];
        if (d.digits.size() > 1) out += "." + d.digits.substr(1);
        char exponent[16];
        std::snprintf(exponent, sizeof exponent, "e%+03d", d.exponent);
        return out + exponent;
    }
    const size_t integerDigits = size_t(d.exponent - group + 1);
    if (d.digits.size() <= integerDigits) {
        out += d.digits;
        out.append(integerDigits - d.digits.size(), '0');
    } else {
        out += d.digits.substr(0, integerDigits) + "." + d.digits.substr(integerDigits);
    }
    for (const Suffix& s : kSuffixes)
        if (s.exponent == group) out += s.text;
    return out;
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
