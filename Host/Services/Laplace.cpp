// The Laplace expression parser and the device plug-in search (Laplace.h).
#include "Laplace.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "EngNumber.h"
#include "PathUtil.h"

namespace {

// Coefficients from the constant term upward; never empty.
using Poly = std::vector<double>;

struct Rational {
    Poly n{0.0};
    Poly d{1.0};
};

struct ParseFailure {
    int32_t code;
};

[[noreturn]] void fail(int32_t code) { throw ParseFailure{code}; }

int degree(const Poly& p) { return int(p.size()) - 1; }
bool isZero(const Poly& p) { return p.size() == 1 && p[0] == 0.0; }

void trim(Poly& p) {
    while (p.size() > 1 && p.back() == 0.0) p.pop_back();
}

void checkDegree(int64_t d) {
    if (d > kLaplaceMaxDegree) fail(LaplaceDegreeTooHigh);
}

Poly multiply(const Poly& a, const Poly& b) {
    checkDegree(int64_t(degree(a)) + degree(b));
    Poly out(a.size() + b.size() - 1, 0.0);
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == 0.0) continue;
        for (size_t j = 0; j < b.size(); ++j) out[i + j] += a[i] * b[j];
    }
    return out;
}

Poly combine(const Poly& a, const Poly& b, double sign) {
    Poly out(std::max(a.size(), b.size()), 0.0);
    for (size_t i = 0; i < a.size(); ++i) out[i] = a[i];
    for (size_t i = 0; i < b.size(); ++i) out[i] += sign * b[i];
    return out;
}

// Brings a result into the form every operation expects: no trailing zero
// coefficients, no common factor s, a zero numerator over 1, a constant
// denominator folded into the numerator (so that sums of polynomials meet
// equal denominators and stay polynomials), and finite coefficients.
Rational normalise(Rational r) {
    trim(r.n);
    trim(r.d);
    if (isZero(r.d)) fail(LaplaceDivisionByZero);
    if (isZero(r.n)) return Rational{};
    size_t k = 0;
    while (k + 1 < r.n.size() && k + 1 < r.d.size() && r.n[k] == 0.0 && r.d[k] == 0.0) ++k;
    if (k > 0) {
        r.n.erase(r.n.begin(), r.n.begin() + ptrdiff_t(k));
        r.d.erase(r.d.begin(), r.d.begin() + ptrdiff_t(k));
    }
    if (r.d.size() == 1 && r.d[0] != 1.0) {
        for (double& c : r.n) c /= r.d[0];
        r.d = Poly{1.0};
    }
    for (const Poly* p : {&r.n, &r.d})
        for (double c : *p)
            if (!std::isfinite(c)) fail(LaplaceOverflow);
    return r;
}

Rational add(const Rational& a, const Rational& b, double sign) {
    if (a.d == b.d) return normalise({combine(a.n, b.n, sign), a.d});
    return normalise({combine(multiply(a.n, b.d), multiply(b.n, a.d), sign), multiply(a.d, b.d)});
}

Rational times(const Rational& a, const Rational& b) {
    return normalise({multiply(a.n, b.n), multiply(a.d, b.d)});
}

Rational divide(const Rational& a, const Rational& b) {
    if (isZero(b.n)) fail(LaplaceDivisionByZero);
    return normalise({multiply(a.n, b.d), multiply(a.d, b.n)});
}

Rational power(Rational base, int64_t e) {
    if (e < 0) {
        if (isZero(base.n)) fail(LaplaceDivisionByZero);
        std::swap(base.n, base.d);
        base = normalise(base);
        e = -e;
    }
    const int64_t highest = std::max(degree(base.n), degree(base.d));
    // Checked before any work, so that a huge power costs nothing.
    if (highest > 0 && e > kLaplaceMaxDegree) fail(LaplaceDegreeTooHigh);
    checkDegree(highest * e);
    if (highest == 0) return normalise({Poly{std::pow(base.n[0], double(e))}, Poly{1.0}});
    Rational out;
    out.n = Poly{1.0};
    while (e > 0) {
        if (e & 1) out = times(out, base);
        e >>= 1;
        if (e > 0) base = times(base, base);
    }
    return out;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isNameChar(char c) { return isLetter(c) || isDigit(c); }

class Parser {
public:
    explicit Parser(std::string_view text) : t_(text) {}

    Rational parseAll() {
        skipBlanks();
        if (atEnd()) fail(LaplaceEmpty);
        Rational r = expression(0);
        if (!atEnd()) fail(peek() == ')' ? LaplaceUnexpectedParen : LaplaceMissingOperator);
        return r;
    }

private:
    bool atEnd() const { return p_ >= t_.size(); }
    char peek() const { return atEnd() ? '\0' : t_[p_]; }
    void skipBlanks() {
        while (!atEnd() && isBlank(t_[p_])) ++p_;
    }
    bool take(char c) {
        skipBlanks();
        if (peek() != c) return false;
        ++p_;
        return true;
    }

    Rational expression(int depth) {
        Rational r = term(depth);
        for (;;) {
            if (take('+'))
                r = add(r, term(depth), 1.0);
            else if (take('-'))
                r = add(r, term(depth), -1.0);
            else
                return r;
        }
    }

    Rational term(int depth) {
        Rational r = factor(depth);
        for (;;) {
            if (take('*'))
                r = times(r, factor(depth));
            else if (take('/'))
                r = divide(r, factor(depth));
            else
                return r;
        }
    }

    // Signs are counted in a loop rather than by recursion, so that a long
    // run of them cannot exhaust the stack.
    Rational factor(int depth) {
        bool negative = false;
        for (;;) {
            if (take('-'))
                negative = !negative;
            else if (!take('+'))
                break;
        }
        Rational r = powerOf(depth);
        if (negative)
            for (double& c : r.n) c = -c;
        return r;
    }

    Rational powerOf(int depth) {
        Rational base = primary(depth);
        if (!take('^')) return base;
        skipBlanks();
        bool negative = false;
        if (peek() == '-' || peek() == '+') {
            negative = peek() == '-';
            ++p_;
        }
        if (!isDigit(peek())) fail(LaplaceBadExponent);
        int64_t e = 0;
        while (isDigit(peek())) {
            // Saturates far above any degree the limit lets through.
            e = std::min<int64_t>(e * 10 + (t_[p_] - '0'), int64_t(1) << 40);
            ++p_;
        }
        if (peek() == '.' || isLetter(peek())) fail(LaplaceBadExponent);
        skipBlanks();
        if (peek() == '^') fail(LaplaceBadExponent);
        return power(base, negative ? -e : e);
    }

    Rational primary(int depth) {
        skipBlanks();
        const char c = peek();
        if (isDigit(c) || (c == '.' && isDigit(p_ + 1 < t_.size() ? t_[p_ + 1] : '\0'))) return number();
        if (isLetter(c)) {
            const size_t start = p_;
            while (isNameChar(peek())) ++p_;
            const std::string_view name = t_.substr(start, p_ - start);
            if (name == "s" || name == "S") return Rational{Poly{0.0, 1.0}, Poly{1.0}};
            if (equalNoCase(name, "exp")) fail(LaplaceDelay);
            fail(LaplaceUnknownName);
        }
        if (c == '(') {
            if (depth >= kLaplaceMaxNesting) fail(LaplaceTooDeep);
            ++p_;
            skipBlanks();
            if (peek() == ')') fail(LaplaceMissingOperand);
            Rational r = expression(depth + 1);
            if (take(')')) return r;
            fail(atEnd() ? LaplaceMissingParen : LaplaceMissingOperator);
        }
        if (atEnd() || c == ')' || c == '+' || c == '-' || c == '*' || c == '/' || c == '^') fail(LaplaceMissingOperand);
        fail(LaplaceBadCharacter);
    }

    // The number's extent is found here; its value is read by the host's
    // engineering-number reader, so "2.2k" means the same as anywhere else.
    Rational number() {
        const size_t start = p_;
        while (isDigit(peek())) ++p_;
        if (peek() == '.') {
            ++p_;
            while (isDigit(peek())) ++p_;
        }
        if (peek() == 'e' || peek() == 'E') {
            size_t q = p_ + 1;
            if (q < t_.size() && (t_[q] == '+' || t_[q] == '-')) ++q;
            if (q >= t_.size() || !isDigit(t_[q])) fail(LaplaceBadNumber);
            p_ = q;
            while (isDigit(peek())) ++p_;
        }
        const size_t rest = t_.size() - p_;
        if (rest >= 3 && equalNoCase(t_.substr(p_, 3), "meg"))
            p_ += 3;
        else if (!atEnd() && std::strchr("fpnumkgtFPNUMKGT", peek()) != nullptr)
            ++p_;
        if (peek() == '.') fail(LaplaceBadNumber);
        if (isNameChar(peek())) fail(LaplaceMissingOperator);
        const std::string text(t_.substr(start, p_ - start));
        const double v = sp_ConvertEngToReal(text.c_str());
        if (!std::isfinite(v)) fail(LaplaceOverflow);
        return normalise({Poly{v}, Poly{1.0}});
    }

    std::string_view t_;
    size_t p_ = 0;
};

struct ErrorText {
    int32_t code;
    const char* text;
};

// clang-format off
constexpr ErrorText kErrorTexts[] = {
    {LaplaceNotParsed,       "The expression has not been parsed"},
    {LaplaceOk,              "No error"},
    {LaplaceEmpty,           "The expression is empty"},
    {LaplaceBadCharacter,    "The expression contains a character that is not allowed"},
    {LaplaceUnknownName,     "Unknown name: the only variable allowed is s"},
    {LaplaceDelay,           "Delay terms (exp) are not supported"},
    {LaplaceMissingParen,    "Missing closing parenthesis"},
    {LaplaceUnexpectedParen, "Closing parenthesis without an opening one"},
    {LaplaceMissingOperand,  "Missing value after an operator or inside parentheses"},
    {LaplaceMissingOperator, "Missing operator between two values"},
    {LaplaceBadExponent,     "A power must be an integer number"},
    {LaplaceDivisionByZero,  "Division by zero"},
    {LaplaceDegreeTooHigh,   "The degree of the expression is higher than 500"},
    {LaplaceOverflow,        "A coefficient is too large"},
    {LaplaceBadNumber,       "Malformed number"},
    {LaplaceTooDeep,         "Parentheses are nested too deeply"},
};
// clang-format on

}  // namespace

int sp_ParseLaplaceExpression(XSpiceParseLaplaceArgs* args) {
    if (!args) return 0;
    Rational r;
    try {
        r = Parser(args->expression ? std::string_view(args->expression) : std::string_view()).parseAll();
    } catch (const ParseFailure& f) {
        args->error = f.code;
        return 0;
    }
    const int32_t firstCapacity = args->firstCount, secondCapacity = args->secondCount;
    args->firstCount = degree(r.n);
    args->secondCount = degree(r.d);
    args->error = LaplaceOk;
    if (args->first && int64_t(r.n.size()) <= firstCapacity) std::copy(r.n.begin(), r.n.end(), args->first);
    if (args->second && int64_t(r.d.size()) <= secondCapacity) std::copy(r.d.begin(), r.d.end(), args->second);
    return 1;
}

void sp_GetLaplaceErrMessage(int code, const char** message) {
    if (!message) return;
    for (const ErrorText& e : kErrorTexts)
        if (e.code == code) {
            *message = e.text;
            return;
        }
    *message = "Unknown Laplace error code";
}

// ---------------------------------------------------------------- plug-ins

namespace {

std::vector<std::string> deviceFolders(const char* subdir, const YList<YString>& extraDirs) {
    std::vector<std::string> dirs;
    const std::string sub = subdir ? subdir : "";
    for (std::string root : {sp_GetProgramPath("UserPath"), sp_GetProgramPath("SharePath")}) {
        while (root.size() > 1 && root.back() == '/') root.pop_back();
        if (!root.empty() && root[0] == '/') dirs.push_back(sub.empty() ? root : root + "/" + sub);
    }
    for (const YString& d : extraDirs)
        if (d.length() > 0 && d[0] == '/') dirs.push_back(d.str());
    return dirs;
}

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Libraries loaded by path; the loader's own count keeps a library that
// another part of the host also loaded alive.
std::map<std::string, void*>& loadedLibraries() {
    static std::map<std::string, void*> libraries;
    return libraries;
}

}  // namespace

int sp_SearchDLLs(YList<YString>& found, const char* subdir, const char* pattern, const YList<YString>& extraDirs) {
    if (!pattern) return 0;
    int added = 0;
    for (const std::string& dir : deviceFolders(subdir, extraDirs)) {
        DIR* d = ::opendir(dir.c_str());
        if (!d) continue;
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(d))
            if (::fnmatch(pattern, e->d_name, FNM_PERIOD) == 0) names.emplace_back(e->d_name);
        ::closedir(d);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string path = dir + "/" + name;
            if (!isRegularFile(path)) continue;
            found.append(YString(path));
            ++added;
        }
    }
    return added;
}

void* sp_GetLibraryFunction(const char* path, const char* symbol, int, const char*, int) {
    // A path without a folder would send the loader through its own search
    // path, and a relative one through the current directory.
    if (!path || path[0] != '/' || !symbol) return nullptr;
    auto& libraries = loadedLibraries();
    auto it = libraries.find(path);
    if (it == libraries.end()) {
        void* handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return nullptr;
        it = libraries.emplace(path, handle).first;
    }
    return ::dlsym(it->second, symbol);
}

bool sp_UnloadLibrary(const char* path) {
    if (!path) return false;
    auto& libraries = loadedLibraries();
    auto it = libraries.find(path);
    if (it == libraries.end()) return false;
    ::dlclose(it->second);
    libraries.erase(it);
    return true;
}
