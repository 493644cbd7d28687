// The printf engine behind every message. The format comes from scripts and
// translations, so nothing in it is trusted: each directive is parsed here,
// checked against the tagged argument it consumes, and rebuilt as a small
// conversion directive that is valid for the value actually passed to snprintf.
#include "PrintfArg.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>

#include "YString.h"

PrintfArg::PrintfArg(const YString& v) : kind(String), s(v.view()) {}

namespace {

// Widths and precisions beyond this are clamped: enough for any message,
// small enough that no format can ask for a huge buffer.
constexpr int MaxField = 1000;

struct Directive {
    std::string flags;      // each of "-+ #0" at most once
    int width = -1;         // -1: none
    int precision = -1;     // -1: none
    char conversion = '\0';
};

class ArgCursor {
public:
    explicit ArgCursor(std::span<const PrintfArg> args) : args_(args) {}
    const PrintfArg* next() { return used_ < args_.size() ? &args_[used_++] : nullptr; }

private:
    std::span<const PrintfArg> args_;
    size_t used_ = 0;
};

long long realToInteger(double r) {
    if (std::isnan(r)) return 0;
    if (r >= 0x1p63) return std::numeric_limits<long long>::max();
    if (r < -0x1p63) return std::numeric_limits<long long>::min();
    return static_cast<long long>(r);   // truncates toward zero
}

long long toInteger(const PrintfArg& a) {
    switch (a.kind) {
        case PrintfArg::Integer: return a.i;
        case PrintfArg::Real: return realToInteger(a.r);
        case PrintfArg::String: return std::strtoll(std::string(a.s).c_str(), nullptr, 10);
        default: return 0;
    }
}

double toReal(const PrintfArg& a) {
    switch (a.kind) {
        case PrintfArg::Integer: return static_cast<double>(a.i);
        case PrintfArg::Real: return a.r;
        case PrintfArg::String: return std::strtod(std::string(a.s).c_str(), nullptr);
        default: return 0.0;
    }
}

template <class Number>
std::string numberText(Number v) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::string toText(const PrintfArg& a) {
    switch (a.kind) {
        case PrintfArg::Integer: return numberText(a.i);
        case PrintfArg::Real: return numberText(a.r);   // shortest round-trip text
        case PrintfArg::String: return std::string(a.s);
        default: return {};
    }
}

// A character 0 would put a NUL into the message: it prints as nothing.
std::string toCharText(const PrintfArg& a) {
    const char c = a.kind == PrintfArg::String ? (a.s.empty() ? '\0' : a.s[0])
                                               : static_cast<char>(toInteger(a) & 0xFF);
    return c ? std::string(1, c) : std::string();
}

// Reads a decimal number, clamped to MaxField however many digits follow.
int readCount(const char*& p) {
    int v = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        if (v < MaxField) v = v * 10 + (*p - '0');
    return v < MaxField ? v : MaxField;
}

int clampCount(long long v) { return v < -MaxField ? -MaxField : (v > MaxField ? MaxField : static_cast<int>(v)); }

// A '*' takes its value from the next argument; none left reads as absent.
std::optional<int> readStarCount(ArgCursor& args) {
    const PrintfArg* a = args.next();
    return a ? std::optional<int>(clampCount(toInteger(*a))) : std::nullopt;
}

void addFlag(Directive& d, char flag) {
    if (d.flags.find(flag) == std::string::npos) d.flags += flag;
}

void skipLengthModifiers(const char*& p) {
    for (;;) {
        if (*p && std::strchr("hlLqjztw", *p)) ++p;
        else if (*p == 'I') p += (std::strncmp(p + 1, "64", 2) == 0 || std::strncmp(p + 1, "32", 2) == 0) ? 3 : 1;
        else return;
    }
}

// Parses the directive after its '%'; `p` is left on the conversion character.
Directive parseDirective(const char*& p, ArgCursor& args) {
    Directive d;
    for (; *p && std::strchr("-+ #0", *p); ++p) addFlag(d, *p);
    if (*p == '*') {
        ++p;
        if (const auto w = readStarCount(args)) {
            if (*w < 0) addFlag(d, '-');   // a negative '*' width means left-aligned
            d.width = std::abs(*w);
        }
    } else if (std::isdigit(static_cast<unsigned char>(*p))) {
        d.width = readCount(p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            ++p;
            const auto prec = readStarCount(args);
            if (prec && *prec >= 0) d.precision = *prec;   // a negative one counts as none
        } else {
            d.precision = readCount(p);
        }
    }
    skipLengthModifiers(p);
    d.conversion = *p;
    return d;
}

// The directive handed to snprintf: only flags valid for the conversion, and a
// length modifier that matches the C type passed.
std::string buildDirective(const Directive& d, std::string_view allowedFlags, const char* length, char conversion) {
    std::string directive = "%";
    for (char f : d.flags)
        if (allowedFlags.find(f) != std::string_view::npos) directive += f;
    if (d.width >= 0) directive += std::to_string(d.width);
    if (d.precision >= 0) directive += "." + std::to_string(d.precision);
    return directive + length + conversion;
}

template <class Value>
std::string runSnprintf(const std::string& directive, Value v) {
    const int n = std::snprintf(nullptr, 0, directive.c_str(), v);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    std::snprintf(out.data(), out.size() + 1, directive.c_str(), v);
    return out;
}

std::string padText(std::string text, const Directive& d) {
    if (d.precision >= 0 && text.size() > static_cast<size_t>(d.precision)) text.resize(static_cast<size_t>(d.precision));
    if (d.width > 0 && text.size() < static_cast<size_t>(d.width)) {
        const size_t fill = static_cast<size_t>(d.width) - text.size();
        if (d.flags.find('-') != std::string::npos) text.append(fill, ' ');
        else text.insert(0, fill, ' ');
    }
    return text;
}

std::string formatArgument(const Directive& d, const PrintfArg& a) {
    const char c = d.conversion;
    switch (c) {
        case 'd': case 'i':
            return runSnprintf(buildDirective(d, "-+ 0", "ll", 'd'), toInteger(a));
        case 'u': case 'o': case 'x': case 'X':
            return runSnprintf(buildDirective(d, c == 'u' ? "-0" : "-#0", "ll", c), static_cast<unsigned long long>(toInteger(a)));
        case 'p': {   // no pointers travel here: the value is shown as hexadecimal
            Directive hex = d;
            addFlag(hex, '#');
            return runSnprintf(buildDirective(hex, "-#0", "ll", 'x'), static_cast<unsigned long long>(toInteger(a)));
        }
        case 's': return padText(toText(a), d);
        case 'c': {
            Directive one = d;
            one.precision = -1;
            return padText(toCharText(a), one);
        }
        default:   // f F e E g G a A
            return runSnprintf(buildDirective(d, "-+ #0", "", c), toReal(a));
    }
}

bool isValueConversion(char c) { return c && std::strchr("diuoxXpcsfFeEgGaA", c); }

}  // namespace

std::string cv::formatPrintf(const char* format, std::span<const PrintfArg> args) {
    std::string out;
    if (!format) return out;
    ArgCursor cursor(args);
    for (const char* p = format; *p;) {
        if (*p != '%') {
            const char* literalEnd = std::strchr(p, '%');
            const size_t n = literalEnd ? static_cast<size_t>(literalEnd - p) : std::strlen(p);
            out.append(p, n);
            p += n;
            continue;
        }
        const char* start = p++;
        const Directive d = parseDirective(p, cursor);
        if (d.conversion == '%') {
            out += '%';
        } else if (d.conversion == 'n') {
            // Refused: nothing is written and nothing consumed.
        } else if (isValueConversion(d.conversion)) {
            if (const PrintfArg* a = cursor.next()) out += formatArgument(d, *a);
        } else {
            // Unknown or missing conversion: the directive is kept as text.
            out.append(start, *p ? static_cast<size_t>(p - start) + 1 : static_cast<size_t>(p - start));
        }
        if (*p) ++p;
    }
    return out;
}
