// The Touchstone reader behind AcTableData (see Touchstone.h for what a
// table holds and which files are refused).
//
// The file is read whole and walked line by line. A line loses its comment
// ("!" to the end) and is then an option line ("#"), a keyword line ("[...]",
// version 2 only) or numbers. Numbers of network data are consumed as a
// stream: a frequency point may run over several lines, but it must end at
// the end of a line, so that a missing or extra number is caught at the
// latest by the next point instead of shifting every value after it.
#include "Touchstone.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <iterator>
#include <utility>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>

#include "FileUtil.h"
#include "Value.h"

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

bool isBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) noexcept {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool sameText(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// The next blank-separated token of `s` (empty at the end); `s` moves past it.
std::string_view nextToken(std::string_view& s) noexcept {
    size_t i = 0;
    while (i < s.size() && isBlank(s[i])) ++i;
    size_t j = i;
    while (j < s.size() && !isBlank(s[j])) ++j;
    std::string_view t = s.substr(i, j - i);
    s.remove_prefix(j);
    return t;
}

// A token as quoted in a message: long ones are cut, so that a line of
// megabytes does not make a message of megabytes.
std::string quoted(std::string_view t) {
    constexpr size_t kMax = 40;
    std::string q = "'";
    q.append(t.substr(0, kMax));
    if (t.size() > kMax) q += "...";
    return q + "'";
}

std::string numberText(double v) { return cv::formatReal(v); }

// The common plain decimal ("-2.290151e-001") read at p: at most 15
// significant digits and a power of ten up to 22 make the value one
// correctly rounded multiplication or division of two exact doubles, the
// same double std::from_chars gives. Returns the end of the number when it
// is such a decimal and ends at a blank or at e; null for anything else,
// which from_chars reads.
// Eight ASCII digits at p, when they are: their value (the first digit the
// most significant), else -1. Reads the eight bytes as one little-endian
// word and combines them in three multiplications instead of eight steps.
inline int64_t eightDigits(const char* p) noexcept {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if ((w & 0xF0F0F0F0F0F0F0F0) != 0x3030303030303030 ||
        ((w + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0) != 0x3030303030303030)
        return -1;
    w = (w & 0x0F0F0F0F0F0F0F0F) * 2561 >> 8;
    w = (w & 0x00FF00FF00FF00FF) * 6553601 >> 16;
    return int64_t((w & 0x0000FFFF0000FFFF) * 42949672960001 >> 32);
}

// Appends the digits at p to m; returns the end of them.
inline const char* appendDigits(const char* p, const char* e, uint64_t& m) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        for (int64_t d; e - p >= 8 && (d = eightDigits(p)) >= 0; p += 8) m = m * 100000000 + uint64_t(d);
    }
    while (p < e && unsigned(*p - '0') < 10) m = m * 10 + uint64_t(*p++ - '0');
    return p;
}

const char* quickNumber(const char* p, const char* e, double& v) noexcept {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    auto digit = [&](const char* q) { return q < e && unsigned(*q - '0') < 10; };
    bool negative = false;
    if (p < e && (*p == '-' || *p == '+')) negative = *p++ == '-';
    const char* start = p;
    while (p < e && *p == '0') ++p;  // leading zeros are not significant
    uint64_t m = 0;
    const char* s = p;
    p = appendDigits(p, e, m);  // beyond 15 digits m wraps, but is then not used
    int significant = int(p - s), exp10 = 0;
    bool any = p > start;
    if (p < e && *p == '.') {
        const char* f = ++p;
        if (m == 0)
            while (p < e && *p == '0') ++p;  // 0.000123: still leading zeros
        const char* fs = p;
        p = appendDigits(p, e, m);
        significant += int(p - fs);
        exp10 -= int(p - f);
        any = any || p > f;
    }
    if (!any || significant > 15) return nullptr;
    if (p < e && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negExp = false;
        if (p < e && (*p == '-' || *p == '+')) negExp = *p++ == '-';
        const char* xs = p;
        int x = 0;
        while (digit(p) && p - xs < 5) x = x * 10 + (*p++ - '0');
        if (p == xs || digit(p)) return nullptr;
        exp10 += negExp ? -x : x;
    }
    if (p < e && !isBlank(*p)) return nullptr;
    if (m == 0) exp10 = 0;
    if (exp10 < -22 || exp10 > 22) return nullptr;
    const double d = double(m);  // exact: fewer than 16 digits
    v = exp10 < 0 ? d / kPow10[-exp10] : d * kPow10[exp10];
    if (negative) v = -v;
    return p;
}

enum class Format { RI, MA, DB };
enum class Matrix { Full, Lower, Upper };
enum class Section { Header, Information, Network, Noise, End };

struct Failure {
    std::string message;
};

// Large tables are filled page by page as they are read; mapping them in
// large pages, where the system allows it, saves most of that cost.
void adviseHugePages(void* p, size_t bytes) {
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    if (bytes < 2 * kHuge) return;
    const uintptr_t b = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t e = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
    if (e > b) ::madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
}

}  // namespace

// ---------------------------------------------------------------- the parser

class TouchstoneParser {
public:
    TouchstoneParser(AcTableData& t, FILE* file, uint64_t size) : t_(t), file_(file), size_(size) {}

    // The file is read in pieces into one buffer that is used again and
    // again: the pages of a buffer as large as the file would cost more to
    // map than the numbers cost to read. A line longer than the buffer makes
    // it grow, within the memory limit.
    void run() {
        checkExtension();
        std::vector<char> buf(size_t(std::clamp<uint64_t>(size_ + 1, 4096, uint64_t(1) << 20)));
        size_t have = 0;
        bool eof = false;
        while (section_ != Section::End) {
            if (!eof) {
                const size_t n = std::fread(buf.data() + have, 1, buf.size() - have, file_);
                if (n == 0) {
                    if (std::ferror(file_)) fail("the file could not be read");
                    eof = true;
                }
                have += n;
            }
            const char* base = buf.data();
            const char* end = base + have;
            const char* p = base;
            // A UTF-8 byte-order mark before the first line is not text.
            if (bufOffset_ == 0 && line_ == 0 && have >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;
            bufBase_ = base;
            while (p < end && section_ != Section::End) {
                const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
                if (!nl && !eof) break;  // the rest of this line is still to be read
                const char* lineEnd = nl ? nl : end;
                ++line_;
                lineStart_ = p;
                std::string_view text(p, size_t(lineEnd - p));
                p = nl ? nl + 1 : end;
                lineEndOffset_ = bufOffset_ + uint64_t(p - base);
                if (const size_t bang = text.find('!'); bang != std::string_view::npos) text = text.substr(0, bang);
                text = trim(text);
                if (!text.empty()) handleLine(text);
            }
            if (eof && (p == end || section_ == Section::End)) break;
            const size_t used = size_t(p - base);
            std::memmove(buf.data(), buf.data() + used, have - used);
            have -= used;
            bufOffset_ += used;
            if (have == buf.size()) {
                if (buf.size() * 2 > cv::memoryLimitBytes()) throw std::bad_alloc();
                buf.resize(buf.size() * 2);
            }
        }
        finish();
    }

private:
    // ------------------------------------------------------------ lines

    void handleLine(std::string_view text) {
        if (section_ == Section::Information) {
            if (text.front() == '[' && keywordName(text) == "end information") section_ = Section::Header;
            return;
        }
        if (!sawFirstLine_) {
            sawFirstLine_ = true;
            if (text.front() == '[' && keywordName(text) == "version") {
                version(text);
                return;
            }
        }
        if (inReference_) {
            // [Reference] may continue on the lines after it.
            if (text.front() == '#' || text.front() == '[') failReference();
            return referenceValues(text);
        }
        if (text.front() == '#') return optionLine(text);
        if (text.front() == '[') {
            if (t_.version_ == 1)
                fail("keyword " + quoted(keywordText(text)) + " in a file that does not start with [Version]");
            return keyword(text);
        }
        if (t_.version_ == 2 && section_ == Section::Header)
            fail(quoted(text) + " is neither a keyword nor an option line");
        if (section_ == Section::Noise) return noiseLine(text);
        dataLine(text);
    }

    void version(std::string_view text) {
        std::string_view args = keywordArgs(text);
        const std::string_view v = nextToken(args);
        if (v != "2.0" && v != "2.1") fail("[Version] " + quoted(v) + " is not a version this reader knows (2.0 or 2.1)");
        if (!nextToken(args).empty()) fail("[Version] takes one value");
        t_.version_ = 2;
    }

    void optionLine(std::string_view text) {
        if (sawOption_) {
            // Version 1 files ignore every option line after the first;
            // version 2 files may have only one.
            if (t_.version_ == 2) fail("a second option line");
            return;
        }
        if (t_.version_ == 2 && section_ != Section::Header) fail("the option line must come before [Network Data]");
        // Data read with the defaults must not be followed by options that
        // would have read it otherwise.
        if (!t_.freqs_.empty()) fail("the option line must come before the data");
        sawOption_ = true;
        std::string_view rest = text.substr(1);
        for (std::string_view tok = nextToken(rest); !tok.empty(); tok = nextToken(rest)) {
            static constexpr std::pair<const char*, double> kUnits[] = {
                {"Hz", 1.0}, {"kHz", 1e3}, {"MHz", 1e6}, {"GHz", 1e9}};
            const auto* unit = std::find_if(std::begin(kUnits), std::end(kUnits),
                                            [&](const auto& u) { return sameText(tok, u.first); });
            if (unit != std::end(kUnits)) {
                unit_ = unit->second;
                t_.unitWord_ = unit->first;
            } else if (sameText(tok, "s") || sameText(tok, "y") || sameText(tok, "z") || sameText(tok, "h") ||
                     sameText(tok, "g"))
                t_.kind_ = char(lower(tok[0]) - 'a' + 'A');
            else if (sameText(tok, "ri")) setFormat(Format::RI, "RI");
            else if (sameText(tok, "ma")) setFormat(Format::MA, "MA");
            else if (sameText(tok, "db")) setFormat(Format::DB, "DB");
            else if (sameText(tok, "r")) {
                const std::string_view v = nextToken(rest);
                if (v.empty()) fail("the option R needs a reference resistance");
                resistance_ = positive(v, "reference resistance");
            } else
                fail("unknown option " + quoted(tok) + " (expected Hz, kHz, MHz, GHz, S, Y, Z, H, G, RI, MA, DB or R)");
        }
    }

    // ------------------------------------------------------------ keywords (version 2)

    static std::string keywordName(std::string_view text) {
        const size_t close = text.find(']');
        std::string name;
        if (close == std::string_view::npos) return name;
        // Case and the spacing inside the brackets do not matter.
        std::string_view inner = text.substr(1, close - 1);
        for (std::string_view w = nextToken(inner); !w.empty(); w = nextToken(inner)) {
            if (!name.empty()) name += ' ';
            for (char c : w) name += lower(c);
        }
        return name;
    }
    static std::string_view keywordText(std::string_view text) {
        const size_t close = text.find(']');
        return close == std::string_view::npos ? text : text.substr(0, close + 1);
    }
    static std::string_view keywordArgs(std::string_view text) {
        const size_t close = text.find(']');
        return close == std::string_view::npos ? std::string_view() : text.substr(close + 1);
    }

    void keyword(std::string_view text) {
        if (text.find(']') == std::string_view::npos) fail(quoted(text) + " is missing its closing ']'");
        const std::string name = keywordName(text);
        std::string_view args = keywordArgs(text);
        const std::string shown = quoted(keywordText(text));
        if (name == "version") fail("[Version] must be the first line of the file");
        if (name == "end") {
            endData();
            section_ = Section::End;
            return;
        }
        if (name == "noise data") {
            if (section_ != Section::Network) fail("[Noise Data] must follow the network data");
            endData();
            if (noiseDeclared_ < 0) fail("[Noise Data] without [Number of Noise Frequencies]");
            section_ = Section::Noise;
            return noArgs(args, shown);
        }
        if (section_ != Section::Header) fail("keyword " + shown + " inside the data");
        if (name == "number of ports") {
            if (declaredPorts_ > 0) fail("[Number of Ports] given twice");
            declaredPorts_ = count(singleArg(args, shown), "[Number of Ports]");
            if (declaredPorts_ != t_.ports_)
                fail("the file has " + std::to_string(declaredPorts_) + " ports, but " + std::to_string(t_.ports_) +
                     " were asked for");
        } else if (name == "two-port data order") {
            needPorts(shown);
            if (t_.ports_ != 2) fail("[Two-Port Data Order] in a file of " + std::to_string(t_.ports_) + " ports");
            const std::string_view v = singleArg(args, shown);
            if (v == "12_21") twoPortOrder_ = 12;
            else if (v == "21_12") twoPortOrder_ = 21;
            else fail("[Two-Port Data Order] " + quoted(v) + " is neither 12_21 nor 21_12");
        } else if (name == "number of frequencies") {
            freqDeclared_ = count(singleArg(args, shown), "[Number of Frequencies]");
        } else if (name == "number of noise frequencies") {
            needPorts(shown);
            if (t_.ports_ != 2) fail("noise data in a file of " + std::to_string(t_.ports_) + " ports");
            noiseDeclared_ = count(singleArg(args, shown), "[Number of Noise Frequencies]");
        } else if (name == "reference") {
            needPorts(shown);
            if (!t_.reference_.empty()) fail("[Reference] given twice");
            referenceLine_ = line_;
            inReference_ = true;
            t_.referenceListed_ = true;
            referenceValues(args);
        } else if (name == "matrix format") {
            const std::string_view v = singleArg(args, shown);
            if (sameText(v, "full")) matrix_ = Matrix::Full;
            else if (sameText(v, "lower")) matrix_ = Matrix::Lower;
            else if (sameText(v, "upper")) matrix_ = Matrix::Upper;
            else fail("[Matrix Format] " + quoted(v) + " is not Full, Lower or Upper");
        } else if (name == "mixed-mode order") {
            fail("mixed-mode data ([Mixed-Mode Order]) is not supported: only single-ended parameters are read");
        } else if (name == "begin information") {
            section_ = Section::Information;
        } else if (name == "network data") {
            noArgs(args, shown);
            startNetwork();
        } else {
            fail("unknown keyword " + shown);
        }
    }

    void noArgs(std::string_view args, const std::string& shown) {
        if (!trim(args).empty()) fail(shown + " takes no values");
    }
    std::string_view singleArg(std::string_view args, const std::string& shown) {
        const std::string_view v = nextToken(args);
        if (v.empty()) fail(shown + " needs a value");
        if (!nextToken(args).empty()) fail(shown + " takes one value");
        return v;
    }
    void needPorts(const std::string& shown) {
        if (declaredPorts_ <= 0) fail(shown + " must follow [Number of Ports]");
    }
    int64_t count(std::string_view v, const char* what) {
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
        if (ec != std::errc() || end != v.data() + v.size() || n <= 0)
            fail(std::string(what) + " " + quoted(v) + " is not a positive whole number");
        return n;
    }

    void referenceValues(std::string_view args) {
        for (std::string_view tok = nextToken(args); !tok.empty(); tok = nextToken(args)) {
            if (int64_t(t_.reference_.size()) == t_.ports_)
                fail("[Reference] has more than one impedance for each of the " + std::to_string(t_.ports_) + " ports");
            t_.reference_.push_back(positive(tok, "reference impedance"));
        }
        if (int64_t(t_.reference_.size()) == t_.ports_) inReference_ = false;
    }

    void startNetwork() {
        if (declaredPorts_ <= 0) fail("[Network Data] without [Number of Ports]");
        if (freqDeclared_ < 0) fail("[Network Data] without [Number of Frequencies]");
        if (t_.ports_ == 2 && twoPortOrder_ == 0) fail("a 2-port file needs [Two-Port Data Order]");
        section_ = Section::Network;
    }

    // ------------------------------------------------------------ numbers

    double number(std::string_view tok) {
        double fast;
        if (quickNumber(tok.data(), tok.data() + tok.size(), fast)) return fast;
        const char* b = tok.data();
        const char* e = b + tok.size();
        // from_chars takes no leading '+', which the format allows.
        if (b < e && *b == '+' && e - b > 1 && b[1] != '-' && b[1] != '+') ++b;
        double v = 0.0;
        const auto [stop, ec] = std::from_chars(b, e, v);
        if (stop != e || (ec != std::errc() && ec != std::errc::result_out_of_range))
            fail(quoted(tok) + " is not a number");
        if (ec == std::errc::result_out_of_range) {
            // A value too small for a double reads as 0; one too large is refused.
            errno = 0;
            const std::string copy(b, e);
            v = std::strtod(copy.c_str(), nullptr);
            if (std::isinf(v)) fail(quoted(tok) + " is beyond the range of numbers");
        }
        if (!std::isfinite(v)) fail(quoted(tok) + " is not a finite number");
        return v;
    }
    double positive(std::string_view tok, const char* what) {
        const double v = number(tok);
        if (!(v > 0)) fail(std::string("the ") + what + " " + quoted(tok) + " is not positive");
        return v;
    }

    // ------------------------------------------------------------ network data

    void dataLine(std::string_view text) {
        if (t_.version_ == 2 && section_ != Section::Network) fail("numbers outside [Network Data]");
        const char* p = text.data();
        const char* const e = p + text.size();
        for (;;) {
            while (p < e && isBlank(*p)) ++p;
            if (p == e) break;
            double v;
            if (const char* end = quickNumber(p, e, v)) {
                p = end;
            } else {
                const char* tokenEnd = p;
                while (tokenEnd < e && !isBlank(*tokenEnd)) ++tokenEnd;
                v = number(std::string_view(p, size_t(tokenEnd - p)));
                p = tokenEnd;
            }
            text = std::string_view(p, size_t(e - p));
            if (pointPos_ == 0) {
                if (startPoint(v, text)) return;  // the line is noise data
            } else if (pointPos_ & 1) {
                first_ = v;
                ++pointPos_;
            } else {
                storePair(first_, v);
                ++pointPos_;
            }
            if (pointPos_ == pointNumbers_) {
                pointPos_ = 0;
                if (!trim(text).empty())
                    fail("too many numbers: the frequency point that began on line " + std::to_string(pointLine_) +
                         " is complete before " + quoted(trim(text)) + " (" + std::to_string(pointNumbers_) +
                         " numbers for " + std::to_string(t_.ports_) + " ports)");
                if (t_.freqs_.size() == 1) estimateSize();
            }
        }
    }

    // The first number of a point: its frequency. True when it begins the
    // noise data of a version 1 two-port instead.
    bool startPoint(double f, std::string_view restOfLine) {
        const double hz = f * unit_;
        if (!std::isfinite(hz)) fail("the frequency " + numberText(f) + " is beyond the range of numbers");
        if (hz < 0) fail("the frequency " + numberText(f) + " is negative");
        if (!t_.freqs_.empty() && hz <= t_.freqs_.back()) {
            // Version 1 two-ports append noise data after the network data:
            // it begins where the frequency falls back.
            if (t_.version_ == 1 && t_.ports_ == 2) {
                section_ = Section::Noise;
                noiseLine(trim(std::string_view(lineStart_, size_t(restOfLine.data() + restOfLine.size() - lineStart_))));
                return true;
            }
            fail("frequencies must increase: " + numberText(hz) + " Hz follows " + numberText(t_.freqs_.back()) + " Hz");
        }
        if (pointsLeftToRead() == 0)
            fail("more frequency points than the " + std::to_string(freqDeclared_) + " of [Number of Frequencies]");
        if (pointNumbers_ == 0) layout();
        // A point must fit in what is left of the file (each number takes at
        // least two bytes), so a huge port count in a small file ends here,
        // before anything of that size is allocated.
        const uint64_t at = bufOffset_ + uint64_t(restOfLine.data() - bufBase_);
        if (uint64_t(pointNumbers_ - 1) > (size_ > at ? size_ - at : 0))
            fail("the file ends before the frequency point is complete (" + std::to_string(pointNumbers_) +
                 " numbers for " + std::to_string(t_.ports_) + " ports)");
        const size_t n = size_t(t_.ports_) * size_t(t_.ports_);
        grow(t_.freqs_, 1);
        grow(t_.values_, n);
        t_.freqs_.push_back(hz);
        pointBase_ = t_.values_.size();
        t_.values_.resize(pointBase_ + n);
        pointLine_ = line_;
        pointOffset_ = bufOffset_ + uint64_t(lineStart_ - bufBase_);
        pointPos_ = 1;
        row_ = 0;
        col_ = 0;
        return false;
    }

    int64_t pointsLeftToRead() const {
        return freqDeclared_ < 0 ? 1 : freqDeclared_ - int64_t(t_.freqs_.size());
    }

    // The numbers of one point and the reference used to scale Y and Z.
    void layout() {
        const int64_t n = t_.ports_;
        // The ".sNp" extension of a version 1 file names its port count (a
        // version 2 file's [Number of Ports] is checked at that line).
        if (t_.version_ == 1 && extensionPorts_ > 0 && extensionPorts_ != n)
            fail("the file name says " + std::to_string(extensionPorts_) + " ports, but " + std::to_string(n) +
                 " were asked for");
        if ((t_.kind_ == 'H' || t_.kind_ == 'G') && n != 2)
            fail(std::string(1, t_.kind_) + "-parameters describe 2-ports only, not " + std::to_string(n) + " ports");
        if (matrix_ != Matrix::Full && t_.kind_ != 'S' && t_.kind_ != 'Y' && t_.kind_ != 'Z')
            fail("a Lower or Upper [Matrix Format] needs S-, Y- or Z-parameters");
        const int64_t pairs = matrix_ == Matrix::Full ? n * n : n * (n + 1) / 2;
        pointNumbers_ = 1 + 2 * pairs;
        if (t_.reference_.empty()) t_.reference_.assign(size_t(n), resistance_);
        if (t_.version_ == 1 && t_.kind_ == 'Z') scale_ = resistance_;
        if (t_.version_ == 1 && t_.kind_ == 'Y') scale_ = 1.0 / resistance_;
        transposed_ = n == 2 && matrix_ == Matrix::Full && (t_.version_ == 1 || twoPortOrder_ == 21);
    }

    void storePair(double a, double b) {
        std::complex<double> v;
        switch (format_) {
            case Format::RI: v = {a, b}; break;
            case Format::MA: v = {a * std::cos(kDegree * b), a * std::sin(kDegree * b)}; break;
            case Format::DB: {
                const double m = std::pow(10.0, a / 20.0);
                v = {m * std::cos(kDegree * b), m * std::sin(kDegree * b)};
                break;
            }
        }
        if (scale_ != 1.0) v *= scale_;
        // A dB value of thousands, or a magnitude near the top of the range
        // scaled by R, has no double: refused like any number out of range.
        if (!std::isfinite(v.real()) || !std::isfinite(v.imag()))
            fail("the value " + numberText(a) + ", " + numberText(b) + " is beyond the range of numbers");
        const int64_t n = t_.ports_;
        std::complex<double>* point = t_.values_.data() + pointBase_;
        if (transposed_) {
            // Column by column: 11, 21, 12, 22.
            point[row_ * n + col_] = v;
            if (++row_ == n) row_ = 0, ++col_;
            return;
        }
        point[row_ * n + col_] = v;
        switch (matrix_) {
            case Matrix::Full:
                if (++col_ == n) col_ = 0, ++row_;
                break;
            case Matrix::Lower:
                point[col_ * n + row_] = v;
                if (++col_ > row_) col_ = 0, ++row_;
                break;
            case Matrix::Upper:
                point[col_ * n + row_] = v;
                if (++col_ == n) col_ = ++row_;
                break;
        }
    }

    void noiseLine(std::string_view text) {
        double v[5];
        int k = 0;
        for (std::string_view tok = nextToken(text); !tok.empty(); tok = nextToken(text)) {
            if (k == 5) fail("a line of noise data holds 5 numbers, this one more");
            v[k++] = number(tok);
        }
        if (k != 5) fail("a line of noise data holds 5 numbers, this one " + std::to_string(k));
        const double hz = v[0] * unit_;
        if (!std::isfinite(hz) || hz < 0) fail("the noise frequency " + numberText(v[0]) + " is not valid");
        if (!t_.noise_.empty() && hz <= t_.noise_.back().frequency)
            fail("noise frequencies must increase: " + numberText(hz) + " Hz follows " +
                 numberText(t_.noise_.back().frequency) + " Hz");
        if (noiseDeclared_ >= 0 && int64_t(t_.noise_.size()) >= noiseDeclared_)
            fail("more noise points than the " + std::to_string(noiseDeclared_) + " of [Number of Noise Frequencies]");
        AcTableNoisePoint p;
        p.frequency = hz;
        p.minNoiseFigureDb = v[1];
        p.gammaOpt = {v[2] * std::cos(kDegree * v[3]), v[2] * std::sin(kDegree * v[3])};
        // Version 1 writes the noise resistance divided by R.
        p.noiseResistance = t_.version_ == 1 ? v[4] * resistance_ : v[4];
        if (!std::isfinite(p.noiseResistance)) fail("the noise resistance " + numberText(v[4]) + " is beyond the range of numbers");
        grow(t_.noise_, 1);
        t_.noise_.push_back(p);
    }

    // ------------------------------------------------------------ ends

    void endData() {
        if (inReference_) failReference();
        if (pointPos_ != 0)
            fail("the frequency point that began on line " + std::to_string(pointLine_) + " has " +
                 std::to_string(pointPos_) + " of its " + std::to_string(pointNumbers_) + " numbers");
        if (section_ == Section::Network || (section_ == Section::Header && t_.version_ == 2)) {
            if (freqDeclared_ >= 0 && int64_t(t_.freqs_.size()) != freqDeclared_)
                fail("[Number of Frequencies] is " + std::to_string(freqDeclared_) + ", but the data has " +
                     std::to_string(t_.freqs_.size()) + " points");
        }
        if (section_ == Section::Noise && int64_t(t_.noise_.size()) != noiseDeclared_ && noiseDeclared_ >= 0)
            fail("[Number of Noise Frequencies] is " + std::to_string(noiseDeclared_) + ", but the data has " +
                 std::to_string(t_.noise_.size()) + " points");
    }

    void finish() {
        if (section_ != Section::End) atEnd_ = true;
        if (t_.version_ == 2 && section_ == Section::Header && declaredPorts_ <= 0)
            fail("the file has no [Number of Ports]");
        if (t_.version_ == 2 && section_ == Section::Header) fail("the file has no [Network Data]");
        if (section_ == Section::Information) fail("[Begin Information] without [End Information]");
        endData();
        if (t_.freqs_.empty()) fail("the file holds no network data");
        if (t_.version_ == 2 && noiseDeclared_ >= 0 && t_.noise_.empty())
            fail("[Number of Noise Frequencies] is given, but the file has no [Noise Data]");
    }

    // The port count a ".sNp" extension names.
    void checkExtension() {
        const std::string& path = t_.path_;
        const size_t dot = path.rfind('.');
        if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return;
        const std::string_view ext = std::string_view(path).substr(dot + 1);
        if (ext.size() < 3 || lower(ext.front()) != 's' || lower(ext.back()) != 'p') return;
        const std::string_view digits = ext.substr(1, ext.size() - 2);
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec != std::errc() || end != digits.data() + digits.size()) return;
        extensionPorts_ = n;
    }

    // ------------------------------------------------------------ memory

    // After the first point: room for as many points as the file could hold
    // at that size, so that a large file is not copied while it grows.
    void estimateSize() {
        const uint64_t used = lineEndOffset_ - pointOffset_;
        if (used == 0 || size_ <= pointOffset_) return;
        // Numbers differ in length from point to point: a quarter more.
        const size_t points = size_t(double(size_ - pointOffset_) / double(used) * 1.25) + 2;
        if (freqDeclared_ > 0 && uint64_t(freqDeclared_) < points) return reserveExactly(size_t(freqDeclared_));
        reserveExactly(points);
    }
    void reserveExactly(size_t points) {
        const size_t n = size_t(t_.ports_) * size_t(t_.ports_);
        if (points > t_.freqs_.capacity()) reserve(t_.freqs_, points);
        if (points * n > t_.values_.capacity()) reserve(t_.values_, points * n);
    }
    template <class V>
    void grow(V& v, size_t more) {
        const size_t need = v.size() + more;
        if (need <= v.capacity()) return;
        reserve(v, std::max(need, v.capacity() * 2));
    }
    template <class V>
    void reserve(V& v, size_t cap) {
        const size_t bytes = (cap - v.capacity()) * sizeof(typename V::value_type);
        cv::reserveMemoryBytes(bytes);
        t_.reservedBytes_ += bytes;
        v.reserve(cap);
        adviseHugePages(v.data(), v.capacity() * sizeof(typename V::value_type));
    }

    [[noreturn]] void fail(const std::string& what) {
        throw Failure{t_.path_ + (atEnd_ ? std::string(", at its end") : ", line " + std::to_string(line_)) + ": " + what};
    }
    [[noreturn]] void failReference() {
        line_ = referenceLine_;
        atEnd_ = false;
        fail("[Reference] needs one impedance for each of the " + std::to_string(t_.ports_) + " ports, it has " +
             std::to_string(t_.reference_.size()));
    }

    AcTableData& t_;
    FILE* file_;
    uint64_t size_;                  // as the file was opened; only a bound
    const char* bufBase_ = nullptr;  // the buffer's first byte ...
    uint64_t bufOffset_ = 0;         // ... is this byte of the file
    uint64_t lineEndOffset_ = 0;     // the file's bytes up to the end of the current line
    const char* lineStart_ = nullptr;
    int64_t line_ = 0;
    bool atEnd_ = false;
    bool sawFirstLine_ = false;
    bool sawOption_ = false;
    Section section_ = Section::Header;
    // The number format, and its word for the table's callers.
    void setFormat(Format f, const char* word) {
        format_ = f;
        t_.formatWord_ = word;
    }

    double unit_ = 1e9;
    Format format_ = Format::MA;
    double resistance_ = 50.0;
    double scale_ = 1.0;
    Matrix matrix_ = Matrix::Full;
    bool transposed_ = false;
    int64_t extensionPorts_ = 0;
    int64_t declaredPorts_ = 0;
    int twoPortOrder_ = 0;
    int64_t freqDeclared_ = -1;
    int64_t noiseDeclared_ = -1;
    bool inReference_ = false;
    int64_t referenceLine_ = 0;
    // The point being read: how many of its numbers have been read, how many
    // it has, where its values go, the row and column of the next pair.
    int64_t pointPos_ = 0;
    int64_t pointNumbers_ = 0;
    int64_t pointLine_ = 0;
    uint64_t pointOffset_ = 0;  // where in the file its first line begins
    size_t pointBase_ = 0;
    int64_t row_ = 0, col_ = 0;
    double first_ = 0.0;
};

// ---------------------------------------------------------------- AcTableData

AcTableData::AcTableData(const char* path, int32_t ports, DcExtractionMethod dc, AcTableInterpMethod interp)
    : path_(path ? path : ""), ports_(ports), dc_(dc), interp_(interp) {}

AcTableData::~AcTableData() { clear(); }

void AcTableData::clear() noexcept {
    freqs_ = {};
    values_ = {};
    noise_ = {};
    reference_ = {};
    cv::releaseMemoryBytes(reservedBytes_);
    reservedBytes_ = 0;
}

AcTableFrequencyPoint AcTableData::get(int64_t i) const noexcept {
    AcTableFrequencyPoint p;
    if (i < 0 || i >= numPoints()) return p;
    const size_t n = size_t(ports_) * size_t(ports_);
    p.frequency = freqs_[size_t(i)];
    p.values = values_.data() + size_t(i) * n;
    p.count = int64_t(n);
    return p;
}

bool AcTableData::build(YList<YString>* errors) {
    clear();
    kind_ = 'S';
    version_ = 1;
    unitWord_ = "GHz";
    formatWord_ = "MA";
    referenceListed_ = false;
    std::string message;
    try {
        if (ports_ < 1 || ports_ > kMaxPorts) {
            message = path_ + ": the port count " + std::to_string(ports_) + " is not between 1 and " +
                      std::to_string(kMaxPorts);
        } else {
            FILE* file = cv::openRegularFile(path_.c_str());
            if (!file) {
                sp_FileOpenForensicMsg(path_.c_str(), "r", message);
            } else {
                struct Closer {
                    FILE* f;
                    ~Closer() { std::fclose(f); }
                } closer{file};
                struct stat st;
                TouchstoneParser parser(*this, file, ::fstat(fileno(file), &st) == 0 ? uint64_t(st.st_size) : 0);
                parser.run();
            }
        }
    } catch (const Failure& f) {
        message = f.message;
    } catch (const std::bad_alloc&) {
        message = path_ + ": not enough memory to hold its table";
    } catch (const std::exception& e) {
        message = path_ + ": " + e.what();
    }
    if (message.empty()) return true;
    clear();
    if (errors) errors->append(YString(message));
    return false;
}
