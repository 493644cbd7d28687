// SPICE raw reader (ngspice ASCII and binary, real and complex, one or more
// plots). Format details and the rules for several plots are in Loaders.h.
#include "LoaderSupport.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <cmath>
#include <exception>
#include <optional>

#include "Parallel.h"

namespace cv::load::detail {

namespace {

struct RawVariable {
    std::string name;
    std::string type;
};

struct PlotHeader {
    int64_t number = 0;  // 1-based position in the file
    std::string title;
    std::string plotName;
    bool isComplex = false;
    bool binary = false;
    // The layout of files with a UTF-16 header (or that name their writer
    // "LTspice" in "Command:"): in binary, real values are single precision
    // after a double-precision scale unless "Flags:" says "double", a
    // transient scale may carry a sign bit to be dropped, "fastaccess" stores
    // the data variable by variable, and "stepped" puts all runs of a step
    // in one plot, each starting where the scale returns to its first value.
    bool compact = false;
    bool doubleValues = false;
    bool fastAccess = false;
    bool stepped = false;
    int64_t variableCount = -1;
    int64_t pointCount = -1;
    std::vector<RawVariable> variables;

    std::string describe() const {
        return "plot " + std::to_string(number) + (plotName.empty() ? std::string() : " ('" + plotName + "')");
    }
    // Bytes of variable v's value in binary data.
    std::size_t valueBytes(std::size_t v) const {
        if (isComplex) return 2 * sizeof(double);
        return compact && v > 0 && !doubleValues ? sizeof(float) : sizeof(double);
    }
    // A transient scale of a compact file may carry a sign bit that is no
    // part of the time (a DC sweep's scale is signed for real).
    bool dropsScaleSign() const {
        return compact && !isComplex && !variables.empty() && equalsNoCase(variables[0].type, "time");
    }
    std::size_t pointBytes() const {
        std::size_t bytes = 0;
        for (std::size_t v = 0; v < variables.size(); ++v) bytes += valueBytes(v);
        return bytes;
    }
};

// Where a plot's values go: the first element of each variable's part of its
// final buffer (complex ones as re, im pairs), or none at all when the
// values are only checked.
struct Destination {
    std::vector<double*> columns;  // null for a column not asked for: its values are skipped unread
    bool discards() const { return columns.empty(); }
    bool wants(std::size_t v) const { return discards() || columns[v] != nullptr; }
};

std::string normaliseQuantity(std::string_view type) {
    const std::string lower = lowerCase(type);
    if (lower == "time" || lower == "frequency" || lower == "voltage" || lower == "current") return lower;
    // LTspice spells some currents "device_current", "subckt_current".
    if (lower.find("current") != std::string::npos) return "current";
    return {};
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

template <typename T>
T readLittle(const char* bytes) {
    T value;
    if constexpr (std::endian::native == std::endian::big) {
        char ordered[sizeof(T)];
        std::memcpy(ordered, bytes, sizeof ordered);
        std::reverse(ordered, ordered + sizeof ordered);
        std::memcpy(&value, ordered, sizeof value);
    } else {
        std::memcpy(&value, bytes, sizeof value);
    }
    return value;
}

// The key of a "Key: value" header line: words of letters, digits and ". -_".
bool isHeaderKey(std::string_view key) {
    if (key.empty() || !std::isalpha(static_cast<unsigned char>(key.front()))) return false;
    for (const char c : key)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != ' ' && c != '-' && c != '_') return false;
    return true;
}

class RawReader {
public:
    // endsFile: the end of bytes is the end of the file (not the start of the
    // next plot), which decides between "truncated" and a short plot.
    RawReader(std::string_view bytes, const std::string& path, std::size_t pos = 0, int64_t line = 1,
              bool endsFile = true)
        : bytes_(bytes), path_(path), pos_(pos), line_(line), endsFile_(endsFile) {}

    bool atEnd() const { return pos_ >= bytes_.size(); }
    int64_t line() const { return line_; }
    std::size_t position() const { return pos_; }
    // Over binary data: its lines are counted only for a message (see scanPlots).
    void skipBytes(std::size_t n) { pos_ += n; }

    // Moves past ASCII data to the start of the next plot header or the end.
    void skipAsciiData() {
        while (!atEnd()) {
            std::size_t at = pos_;
            while (at < bytes_.size() && isSpace(bytes_[at])) ++at;
            if (at < bytes_.size() && std::isalpha(static_cast<unsigned char>(bytes_[at]))) {
                const std::size_t saved = pos_;
                pos_ = at;
                if (atHeaderLine()) return;
                pos_ = saved;
            }
            const void* newline = std::memchr(bytes_.data() + pos_, '\n', bytes_.size() - pos_);
            if (newline == nullptr) {
                pos_ = bytes_.size();
                return;
            }
            pos_ = static_cast<std::size_t>(static_cast<const char*>(newline) - bytes_.data()) + 1;
            ++line_;
        }
    }

    void skipWhitespace() {
        while (pos_ < bytes_.size() && (isSpace(bytes_[pos_]) || bytes_[pos_] == '\n')) {
            if (bytes_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    // "Key: value" with a key of words, as every header line has.
    bool atHeaderLine() const {
        // Called for every line of ASCII data: numbers fail the first test.
        if (atEnd() || !std::isalpha(static_cast<unsigned char>(bytes_[pos_]))) return false;
        const std::string_view rest = bytes_.substr(pos_, std::min<std::size_t>(bytes_.size() - pos_, 64));
        const std::size_t colon = rest.find(':');
        return colon != std::string_view::npos && isHeaderKey(rest.substr(0, colon));
    }

    PlotHeader readHeader(int64_t number, bool compact);
    // The plot's points from here to the end of bytes; what follows them
    // there must be blank.
    void readAscii(const PlotHeader& header, const Destination& destination);

private:
    [[noreturn]] void fail(int64_t line, const std::string& message) const { detail::fail(path_, line, message); }

    // The rest of the current line without its end; moves to the next line.
    std::string_view takeLine() {
        std::size_t end = bytes_.find('\n', pos_);
        if (end == std::string_view::npos) end = bytes_.size();
        std::string_view text = bytes_.substr(pos_, end - pos_);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        pos_ = end;
        if (pos_ < bytes_.size()) {
            ++pos_;
            ++line_;
        }
        return text;
    }

    // The next token on the current line, or "" at its end (which stays unread).
    std::string_view token() {
        while (pos_ < bytes_.size() && isSpace(bytes_[pos_])) ++pos_;
        const std::size_t start = pos_;
        while (pos_ < bytes_.size() && !isSpace(bytes_[pos_]) && bytes_[pos_] != '\n') ++pos_;
        return bytes_.substr(start, pos_ - start);
    }

    // At the start of a line: does it open a new point ("<index> <value>") or a
    // plot header? Inside a point, either means the point came up short.
    bool pointOrHeaderStartsHere() {
        if (atHeaderLine()) return true;
        const std::size_t savedPos = pos_;
        const std::string_view first = token();
        const std::string_view second = token();
        pos_ = savedPos;
        int64_t index;
        return !second.empty() && parseInteger(first, index);
    }

    // The common case of ASCII data, parsed in place without cutting a token
    // first: "<number>" or, in a complex plot, "<number>,<number>", followed by
    // a blank or the line end. Returns false, reading nothing, for anything else.
    bool readWellFormedValue(bool isComplex, double& re, double& im) {
        while (pos_ < bytes_.size() && isSpace(bytes_[pos_])) ++pos_;
        const std::string_view rest = bytes_.substr(pos_);
        std::size_t used = parseLeadingReal(rest, re);
        if (used == 0) return false;
        if (isComplex && used < rest.size() && rest[used] == ',') {
            const std::size_t imaginary = parseLeadingReal(rest.substr(used + 1), im);
            if (imaginary == 0) return false;
            used += 1 + imaginary;
        }
        if (used < rest.size() && !isSpace(rest[used]) && rest[used] != '\n') return false;
        pos_ += used;
        return true;
    }

    // Moves past a value of a column not asked for ("re,im" or "re, im" in a
    // complex plot), not converting it; false, reading nothing, at the line's end.
    bool skipValue(bool isComplex) {
        const std::size_t saved = pos_;
        const std::string_view text = token();
        if (text.empty()) {
            pos_ = saved;
            return false;
        }
        if (isComplex && text.back() == ',') token();
        return true;
    }

    RawVariable parseVariableLine(std::string_view text, int64_t index, const PlotHeader& header, int64_t lineNumber);

    std::string_view bytes_;
    const std::string& path_;
    std::size_t pos_ = 0;
    int64_t line_ = 1;
    bool endsFile_ = true;
};

RawVariable RawReader::parseVariableLine(std::string_view text, int64_t index, const PlotHeader& header,
                                         int64_t lineNumber) {
    std::vector<std::string_view> fields;
    for (std::size_t pos = 0;;) {
        pos = text.find_first_not_of(" \t\r", pos);
        if (pos == std::string_view::npos) break;
        const std::size_t end = std::min(text.find_first_of(" \t\r", pos), text.size());
        fields.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    int64_t declaredIndex;
    if (fields.empty() || !parseInteger(fields[0], declaredIndex)) {
        if (!fields.empty() && fields[0].find(':') != std::string_view::npos)
            fail(lineNumber, header.describe() + " declares " + std::to_string(header.variableCount) +
                                " variables, found " + std::to_string(index));
        fail(lineNumber, "expected a variable line '<index> <name> <type>', found " + quoteForMessage(text));
    }
    if (declaredIndex != index)
        fail(lineNumber, "expected variable " + std::to_string(index) + ", found index " + std::to_string(declaredIndex));
    if (fields.size() < 2) fail(lineNumber, "variable " + std::to_string(index) + " has no name");
    return RawVariable{std::string(fields[1]), fields.size() > 2 ? std::string(fields[2]) : std::string()};
}

PlotHeader RawReader::readHeader(int64_t number, bool compact) {
    PlotHeader header;
    header.number = number;
    header.compact = compact;
    for (;;) {
        if (atEnd())
            fail(line_, header.describe() + ": the header ends without 'Values:' or 'Binary:' and the data");
        const int64_t lineNumber = line_;
        const std::string_view text = takeLine();
        if (trim(text).empty()) continue;
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos || !isHeaderKey(trim(text.substr(0, colon))))
            fail(lineNumber, "expected a header line 'Key: value', found " + quoteForMessage(text));
        const std::string_view key = trim(text.substr(0, colon));
        const std::string_view value = trim(text.substr(colon + 1));

        auto count = [&](std::string_view what) {
            int64_t n;
            if (!parseInteger(value, n) || n < 0)
                fail(lineNumber, "'" + std::string(what) + ":' needs a count, found " + quoteForMessage(value));
            return n;
        };
        if (equalsNoCase(key, "Title")) {
            header.title = value;
        } else if (equalsNoCase(key, "Plotname")) {
            header.plotName = value;
        } else if (equalsNoCase(key, "Flags")) {
            const std::string flags = lowerCase(value);
            header.isComplex = flags.find("complex") != std::string::npos;
            header.doubleValues = flags.find("double") != std::string::npos;
            header.fastAccess = flags.find("fastaccess") != std::string::npos;
            header.stepped = flags.find("stepped") != std::string::npos;
        } else if (equalsNoCase(key, "Command")) {
            header.compact |= lowerCase(value).find("ltspice") != std::string::npos;
        } else if (equalsNoCase(key, "No. Variables")) {
            header.variableCount = count("No. Variables");
            if (header.variableCount == 0) fail(lineNumber, header.describe() + " has no variables");
        } else if (equalsNoCase(key, "No. Points")) {
            header.pointCount = count("No. Points");
        } else if (equalsNoCase(key, "Variables")) {
            if (header.variableCount < 0) fail(lineNumber, "'Variables:' comes before 'No. Variables:'");
            if (!header.variables.empty()) fail(lineNumber, "a second 'Variables:' list");
            // Old writers put the first variable on the "Variables:" line itself.
            if (!value.empty()) header.variables.push_back(parseVariableLine(value, 0, header, lineNumber));
            // Never reserve from the declared count: it may be any number.
            while (static_cast<int64_t>(header.variables.size()) < header.variableCount) {
                skipWhitespace();
                if (atEnd())
                    fail(line_, header.describe() + " declares " + std::to_string(header.variableCount) +
                                    " variables, the file ends after " + std::to_string(header.variables.size()));
                const int64_t variableLineNumber = line_;
                const std::string_view variableLine = takeLine();
                header.variables.push_back(parseVariableLine(
                    variableLine, static_cast<int64_t>(header.variables.size()), header, variableLineNumber));
            }
        } else if (equalsNoCase(key, "Values") || equalsNoCase(key, "Binary")) {
            header.binary = equalsNoCase(key, "Binary");
            if (header.variableCount < 0) fail(lineNumber, header.describe() + " has no 'No. Variables:' line");
            if (header.pointCount < 0) fail(lineNumber, header.describe() + " has no 'No. Points:' line");
            if (header.variables.empty()) fail(lineNumber, header.describe() + " has no 'Variables:' list");
            // A "No. Variables:" after the list could disagree with it; the data layout needs both equal.
            if (static_cast<int64_t>(header.variables.size()) != header.variableCount)
                fail(lineNumber, header.describe() + " declares " + std::to_string(header.variableCount) +
                                     " variables but lists " + std::to_string(header.variables.size()));
            // Binary data starts right after this line's end: nothing may follow on it.
            if (!value.empty()) fail(lineNumber, "expected the line to end after '" + std::string(key) + ":'");
            return header;
        }
        // Anything else (Date, Command, Option, Offset, Dimensions ...) carries nothing we need.
    }
}

void RawReader::readAscii(const PlotHeader& header, const Destination& destination) {
    const int64_t points = header.pointCount;
    const int64_t variables = header.variableCount;
    const std::string counts = std::to_string(variables);
    const bool dropSign = header.dropsScaleSign();
    auto store = [&](int64_t p, int64_t v, double re, double im) {
        double* column = destination.discards() ? nullptr : destination.columns[static_cast<std::size_t>(v)];
        if (column == nullptr) return;
        if (header.isComplex && v > 0) {
            column[2 * p] = re;
            column[2 * p + 1] = im;
        } else {
            column[p] = v == 0 && dropSign ? std::fabs(re) : re;  // the scale of a complex plot is stored real
        }
    };
    for (int64_t p = 0; p < points; ++p) {
        skipWhitespace();
        if (atEnd()) {
            if (endsFile_)
                fail(line_, "truncated: " + header.describe() + " declares " + std::to_string(points) +
                                " points, the file ends after " + std::to_string(p));
            fail(line_, header.describe() + " declares " + std::to_string(points) + " points, found " +
                            std::to_string(p));
        }
        const int64_t pointLine = line_;
        if (atHeaderLine())
            fail(pointLine, header.describe() + " declares " + std::to_string(points) + " points, found " +
                                std::to_string(p));
        const std::string_view indexText = token();
        int64_t index;
        if (!parseInteger(indexText, index))
            fail(pointLine, "expected the index of point " + std::to_string(p) + ", found " + quoteForMessage(indexText));
        if (index != p) fail(pointLine, "expected point " + std::to_string(p) + ", found point " + std::to_string(index));

        for (int64_t v = 0; v < variables;) {
            double re = 0.0, im = 0.0;
            if (!destination.wants(static_cast<std::size_t>(v))) {
                if (skipValue(header.isComplex)) {
                    ++v;
                    continue;
                }
            } else if (readWellFormedValue(header.isComplex, re, im)) {
                store(p, v, re, im);
                ++v;
                continue;
            }
            // Everything else, the errors included, goes by whole tokens.
            std::string_view text = token();
            if (text.empty()) {
                skipWhitespace();
                if (atEnd() && endsFile_)
                    fail(line_, "truncated: point " + std::to_string(p) + " of " + header.describe() +
                                    " ends after " + std::to_string(v) + " of " + counts + " values");
                if (atEnd() || pointOrHeaderStartsHere())
                    fail(pointLine, "point " + std::to_string(p) + ": expected " + counts + " values, found " +
                                        std::to_string(v));
                continue;
            }
            const bool endsFile = pos_ == bytes_.size() && endsFile_;
            std::string_view realText = text, imaginaryText;
            const std::size_t comma = text.find(',');
            if (comma != std::string_view::npos) {
                if (!header.isComplex)
                    fail(line_, quoteForMessage(text) + " is complex, but " + header.describe() + " is real");
                realText = text.substr(0, comma);
                imaginaryText = text.substr(comma + 1);
                if (imaginaryText.empty()) imaginaryText = token();  // "re, im"
            }
            if (!parseReal(realText, re) || (comma != std::string_view::npos && !parseReal(imaginaryText, im))) {
                if (endsFile) fail(line_, "truncated: the file ends inside a number, " + quoteForMessage(text));
                fail(line_, quoteForMessage(text) + " is not a number");
            }
            store(p, v, re, im);
            ++v;
        }
        const std::string_view extra = token();
        if (!extra.empty())
            fail(line_, "point " + std::to_string(p) + ": more than " + counts + " values, " + quoteForMessage(extra));
    }
    skipWhitespace();
    if (!atEnd())
        fail(line_, header.describe() + " holds more data than its 'No. Points: " + std::to_string(points) +
                        "' declares");
}

bool compatible(const PlotHeader& first, const PlotHeader& other) {
    if (first.isComplex != other.isComplex || first.variables.size() != other.variables.size()) return false;
    for (std::size_t i = 0; i < first.variables.size(); ++i)
        if (!equalsNoCase(first.variables[i].name, other.variables[i].name)) return false;
    return true;
}

// A plot found in the file: its header and where its data lies.
struct Plot {
    PlotHeader header;
    std::string_view text;           // the buffer holding its data (ASCII: read to its end)
    std::size_t begin = 0, end = 0;  // its data within text
    int64_t line = 0;                // the line its data starts on
    bool endsFile = true;            // nothing but blanks follows its data
};

// UTF-16LE text from `at` up to and including the line that ends a plot
// header ("Binary:" or "Values:"), one byte per unit (other than ASCII: '?').
std::string narrowHeader(std::string_view bytes, std::size_t& at) {
    std::string text;
    std::size_t lineStart = 0;
    while (at + 1 < bytes.size()) {
        const unsigned unit = static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
        at += 2;
        text += unit < 128 ? static_cast<char>(unit) : '?';
        if (text.back() == '\n') {
            const std::string_view line = trim(std::string_view(text).substr(lineStart));
            if (startsWithNoCase(line, "Binary:") || startsWithNoCase(line, "Values:")) break;
            lineStart = text.size();
        }
    }
    return text;
}

std::string narrowAll(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const unsigned unit = static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
        text += unit < 128 ? static_cast<char>(unit) : '?';
    }
    return text;
}

// Checks the declared point count of binary data against the bytes left.
void checkBinarySize(const PlotHeader& header, std::size_t available, int64_t line, const std::string& path) {
    const std::size_t pointBytes = header.pointBytes();
    const auto points = static_cast<uint64_t>(header.pointCount);
    if (points > available / pointBytes)
        fail(path, line, "truncated: " + header.describe() + " declares " + std::to_string(points) +
                             " points, the file holds " + std::to_string(available / pointBytes) + " (" +
                             std::to_string(available) + " bytes of data for " + std::to_string(pointBytes) +
                             " bytes a point)");
}

// An ASCII point takes at least two bytes for its index and each value: a
// count beyond that cannot be right, and must not size a buffer. Reading
// the values then says where they run out.
void checkAsciiSize(const Plot& plot, const std::string& path) {
    const auto possible = (plot.end - plot.begin + 1) / (2 * static_cast<std::size_t>(plot.header.variableCount + 1));
    if (static_cast<uint64_t>(plot.header.pointCount) <= possible) return;
    RawReader reader(plot.text.substr(0, plot.end), path, plot.begin, plot.line, plot.endsFile);
    reader.readAscii(plot.header, Destination{});
    fail(path, plot.line, "truncated: " + plot.header.describe() + " declares " +
                              std::to_string(plot.header.pointCount) + " points");
}

// The plots of an 8-bit file. Binary data is skipped without counting its
// lines; a message about a later line adds them then.
std::vector<Plot> scanPlots(std::string_view bytes, const std::string& path, bool compact) {
    std::vector<Plot> plots;
    std::vector<std::pair<std::size_t, std::size_t>> binaryParts;
    RawReader reader(bytes, path);
    try {
        for (int64_t number = 1;; ++number) {
            reader.skipWhitespace();
            if (reader.atEnd()) break;
            if (!plots.empty() && !reader.atHeaderLine()) {
                const PlotHeader& previous = plots.back().header;
                fail(path, reader.line(), previous.describe() + " holds more data than its 'No. Points: " +
                                              std::to_string(previous.pointCount) + "' declares");
            }
            Plot plot;
            plot.header = reader.readHeader(number, compact);
            plot.text = bytes;
            plot.begin = reader.position();
            plot.line = reader.line();
            if (plot.header.binary) {
                checkBinarySize(plot.header, bytes.size() - plot.begin, reader.line(), path);
                reader.skipBytes(static_cast<std::size_t>(plot.header.pointCount) * plot.header.pointBytes());
                binaryParts.emplace_back(plot.begin, reader.position());
            } else {
                reader.skipAsciiData();
                plot.endsFile = reader.atEnd();
            }
            plot.end = reader.position();
            if (!plot.header.binary) checkAsciiSize(plot, path);
            plots.push_back(std::move(plot));
        }
    } catch (const LoadError& error) {
        if (error.line() <= 0 || binaryParts.empty()) throw;
        int64_t newlines = 0;
        for (auto [begin, end] : binaryParts) newlines += std::count(bytes.data() + begin, bytes.data() + end, '\n');
        fail(path, error.line() + newlines, error.message());
    }
    return plots;
}

// The plots of a file whose headers are UTF-16LE. Binary data follows each
// header as it is; ASCII data is UTF-16 text like the header, so such a file
// is narrowed as a whole and read as an 8-bit one (into `narrowed`).
std::vector<Plot> scanUtf16Plots(std::string_view bytes, const std::string& path, std::string& narrowed) {
    if (bytes.substr(0, 2) == "\xFE\xFF") fail(path, 0, "the file is big-endian UTF-16 text, which is not read");
    if (bytes.substr(0, 2) == "\xFF\xFE") bytes.remove_prefix(2);
    std::vector<Plot> plots;
    std::size_t at = 0;
    int64_t line = 1;
    for (int64_t number = 1;; ++number) {
        while (at + 1 < bytes.size() && bytes[at + 1] == 0 && std::isspace(static_cast<unsigned char>(bytes[at]))) {
            line += bytes[at] == '\n';
            at += 2;
        }
        if (at + 1 >= bytes.size()) break;
        const std::string header = narrowHeader(bytes, at);
        RawReader reader(header, path, 0, line);
        Plot plot;
        plot.header = reader.readHeader(number, true);
        if (!plot.header.binary) {
            if (number > 1) fail(path, reader.line(), "ASCII values after binary ones in one file");
            narrowed = narrowAll(bytes);
            return scanPlots(narrowed, path, true);
        }
        line = reader.line();
        checkBinarySize(plot.header, bytes.size() - at, line, path);
        plot.text = bytes;
        plot.begin = at;
        plot.end = at + static_cast<std::size_t>(plot.header.pointCount) * plot.header.pointBytes();
        plot.line = line;
        at = plot.end;
        plots.push_back(std::move(plot));
    }
    return plots;
}

// Binary points [first, last) of a plot in `text` into their final buffers (null: a
// column not asked for). The piece's pages are read in ahead and let go of
// after, so a file read in pieces never counts more than a piece in memory.
void readBinaryPoints(const Plot& plot, std::string_view text, bool mapped, const std::vector<double*>& columns,
                      std::size_t first, std::size_t last) {
    const PlotHeader& header = plot.header;
    const char* data = text.data() + plot.begin;
    const auto points = static_cast<std::size_t>(header.pointCount);
    const std::size_t pointBytes = header.pointBytes();
    const std::size_t n = last - first;
    if (!header.fastAccess) prefaultPages(mapped, data + first * pointBytes, n * pointBytes);
    std::size_t offset = 0;  // of variable v: within a point, or (fastaccess) of its block
    for (std::size_t v = 0; v < columns.size(); ++v) {
        const std::size_t width = header.valueBytes(v);
        const std::size_t stride = header.fastAccess ? width : pointBytes;
        const char* in = data + (header.fastAccess ? offset * points : offset) + first * stride;
        double* out = columns[v];
        offset += width;
        if (out == nullptr) continue;
        if (header.fastAccess) prefaultPages(mapped, in, n * width);
        if (header.isComplex && v > 0) {
            out += 2 * first;
            for (std::size_t i = 0; i < n; ++i, in += stride) {
                out[2 * i] = readLittle<double>(in);
                out[2 * i + 1] = readLittle<double>(in + sizeof(double));
            }
        } else if (width == sizeof(float)) {
            out += first;
            for (std::size_t i = 0; i < n; ++i, in += stride) out[i] = readLittle<float>(in);
        } else {
            out += first;
            for (std::size_t i = 0; i < n; ++i, in += stride) out[i] = readLittle<double>(in);
            if (v == 0 && header.dropsScaleSign())
                for (std::size_t i = 0; i < n; ++i) out[i] = std::fabs(out[i]);
        }
        if (header.fastAccess) releasePages(mapped, in - n * stride, n * width);
    }
    if (!header.fastAccess) releasePages(mapped, data + first * pointBytes, n * pointBytes);
}

// One piece of work of the second pass: points of a binary plot, or a whole ASCII plot.
struct Job {
    std::size_t plot;  // index into the kept plots
    std::size_t first, last;
};

// Binary plots go in pieces of this many points, or of about 4 MiB of the
// file where points are wide, so that one large plot keeps both cores busy
// and a piece in flight stays small beside the columns it fills; the pieces
// depend on the file alone, not on the thread count.
std::size_t pointsPerJob(const PlotHeader& header) {
    return std::clamp<std::size_t>((std::size_t(4) << 20) / header.pointBytes(), 1, std::size_t(1) << 15);
}

// The division labels of a stepped run: the "Step Information: <label> (Run: n/N)"
// lines of the simulator's log beside the file (<name>.log), when there is one.
std::vector<std::string> stepLabelsFromLog(const std::string& path, std::size_t count) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::vector<std::string> labels;
    try {
        const FileBuffer log = readWholeFile(path.substr(0, dot) + ".log");
        std::string narrowed;
        std::string_view text = log.view();
        if (isUtf16(text)) {
            narrowed = narrowAll(text.substr(text.substr(0, 2) == "\xFF\xFE" ? 2 : 0));
            text = narrowed;
        }
        constexpr std::string_view kKey = "Step Information:";
        for (std::size_t at = text.find(kKey); at != std::string_view::npos; at = text.find(kKey, at + 1)) {
            std::string_view label = text.substr(at + kKey.size());
            label = label.substr(0, label.find('\n'));
            label = label.substr(0, label.find("(Run:"));
            labels.emplace_back(trim(label));
        }
    } catch (const LoadError&) {
        return {};
    }
    if (labels.size() != count) return {};
    for (const std::string& label : labels)
        if (label.empty()) return {};
    return labels;
}

// Where a stepped plot's scale returns to its first value a new run begins.
std::vector<int64_t> stepLengths(const double* scale, int64_t points) {
    std::vector<int64_t> lengths;
    int64_t start = 0;
    for (int64_t p = 1; p < points; ++p)
        if (scale[p] == scale[0]) {
            lengths.push_back(p - start);
            start = p;
        }
    lengths.push_back(points - start);
    return lengths;
}

}  // namespace

bool looksLikeSpiceRaw(std::string_view bytes) {
    if (isUtf16(bytes)) {
        // Big-endian text is recognised here so that the raw reader can refuse it by name.
        const bool bigEndian = bytes.substr(0, 2) == "\xFE\xFF";
        if (bigEndian || bytes.substr(0, 2) == "\xFF\xFE") bytes.remove_prefix(bigEndian ? 3 : 2);
        const std::string start = narrowAll(bytes.substr(0, 40));
        return startsWithNoCase(start, "Title:") || startsWithNoCase(start, "Plotname:");
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    bytes = bytes.substr(std::min(bytes.size(), bytes.find_first_not_of(" \t\r\n")));
    return startsWithNoCase(bytes, "Title:") || startsWithNoCase(bytes, "Plotname:");
}

namespace {

// Reads the columns of the kept plots, the runs of one data set. The plots
// keep their places in the file; their text is found again in the bytes
// given to read(), which are the same file (LazyColumns checks that).
class RawColumns final : public LazyColumns::Reader {
public:
    RawColumns(std::string path, std::vector<Plot> plots, std::size_t skip, bool narrow)
        : path_(std::move(path)), plots_(std::move(plots)), skip_(skip), narrow_(narrow) {
        for (const Plot& plot : plots_) plotLengths_.push_back(plot.header.pointCount);
    }
    // The runs of a stepped plot, found from its scale.
    void splitRuns(std::vector<int64_t> lengths) { runLengths_ = std::move(lengths); }

    void read(std::string_view file, bool mapped, const std::vector<std::size_t>& wanted,
              std::vector<MutableValuePtr>& out) const override {
        // A UTF-16 file with ASCII values is read as 8-bit text, narrowed again.
        const std::string narrowed = narrow_ ? narrowAll(file.substr(skip_)) : std::string();
        const std::string_view text = narrow_ ? std::string_view(narrowed) : file.substr(skip_);
        mapped &= !narrow_;
        const bool isComplex = plots_.front().header.isComplex;
        const std::size_t variables = plots_.front().header.variables.size();
        for (const std::size_t k : wanted)
            out[k] = Value::makeDivided(k > 0 && isComplex ? Kind::Complex : Kind::Real, plotLengths_, false);

        std::vector<std::vector<double*>> columns(plots_.size(), std::vector<double*>(variables, nullptr));
        std::vector<Job> jobs;
        int64_t offset = 0;
        for (std::size_t p = 0; p < plots_.size(); ++p) {
            for (const std::size_t k : wanted)
                columns[p][k] = static_cast<double*>(out[k]->mutableData()) + offset * (k > 0 && isComplex ? 2 : 1);
            offset += plotLengths_[p];
            const auto points = static_cast<std::size_t>(plotLengths_[p]);
            if (!plots_[p].header.binary)
                jobs.push_back({p, 0, points});
            else
                for (std::size_t first = 0, step = pointsPerJob(plots_[p].header); first < points; first += step)
                    jobs.push_back({p, first, std::min(points, first + step)});
        }
        // Both cores; the message of the first failing plot in file order, as one core would give it.
        std::vector<std::exception_ptr> errors(jobs.size());
        forEachChunk(jobs.size(), 1, [&](std::size_t begin, std::size_t end) {
            for (std::size_t j = begin; j < end; ++j) {
                const Job& job = jobs[j];
                const Plot& plot = plots_[job.plot];
                try {
                    readGuarded(path_, [&] {
                        if (plot.header.binary) {
                            readBinaryPoints(plot, text, mapped, columns[job.plot], job.first, job.last);
                        } else {
                            RawReader reader(text.substr(0, plot.end), path_, plot.begin, plot.line, plot.endsFile);
                            reader.readAscii(plot.header, Destination{columns[job.plot]});
                        }
                    });
                } catch (const LoadError&) {
                    errors[j] = std::current_exception();
                }
            }
        });
        for (const std::exception_ptr& error : errors)
            if (error) std::rethrow_exception(error);
        if (!runLengths_.empty())
            for (const std::size_t k : wanted) out[k]->setDivisionLengths(runLengths_);
    }

private:
    std::string path_;
    std::vector<Plot> plots_;   // their text views are not used: read() gives the file again
    std::size_t skip_;          // bytes before the text the plots' places count from (a byte order mark)
    bool narrow_;               // UTF-16 text throughout
    std::vector<int64_t> plotLengths_, runLengths_;
};

}  // namespace

DataSet openSpiceRaw(const FileBuffer& file, const std::string& path) {
    std::string_view bytes = file.view();
    std::string narrowed;  // a UTF-16 file with ASCII values, as 8-bit text
    std::vector<Plot> plots;
    const bool utf16 = isUtf16(bytes);
    if (utf16) {
        plots = scanUtf16Plots(bytes, path, narrowed);
    } else {
        if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        plots = scanPlots(bytes, path, false);
    }
    if (plots.empty()) fail(path, 0, "the file is empty");
    // The plots' places count from after the byte order mark (UTF-16: in
    // the bytes, or in the text narrowed from them).
    const bool narrow = !narrowed.empty();
    const std::size_t skip = utf16 ? (file.view().substr(0, 2) == "\xFF\xFE" ? 2 : 0)
                                   : static_cast<std::size_t>(bytes.data() - file.view().data());

    // The first plot and those like it are the runs; the rest are skipped.
    DataSet dataSet;
    const PlotHeader& first = plots.front().header;
    std::vector<Plot> kept;
    std::vector<int64_t> lengths;
    std::vector<std::string> titles, plotNames;
    for (Plot& plot : plots) {
        const PlotHeader& header = plot.header;
        if (compatible(first, header)) {
            lengths.push_back(header.pointCount);
            titles.push_back(header.title);
            plotNames.push_back(header.plotName);
            kept.push_back(plot);
            kept.back().text = {};  // it views this mapping, which the reader will not have
        } else {
            const std::string why = header.isComplex != first.isComplex
                                        ? (header.isComplex ? "it is complex, plot 1 is real" : "it is real, plot 1 is complex")
                                        : "its variables differ from plot 1's";
            dataSet.warnings.push_back("skipped " + header.describe() + ": " + why);
        }
    }
    dataSet.reference = Signal{first.variables[0].name, normaliseQuantity(first.variables[0].type), false, nullptr,
                               lengths};
    for (std::size_t i = 1; i < first.variables.size(); ++i)
        dataSet.signals.push_back(
            Signal{first.variables[i].name, normaliseQuantity(first.variables[i].type), first.isComplex, nullptr, lengths});
    const bool stepped = kept.size() == 1 && first.stepped;
    auto reader = std::make_unique<RawColumns>(path, std::move(kept), skip, narrow);
    RawColumns& columns = *reader;
    dataSet.lazy = std::make_shared<LazyColumns>(path, file.identity(), std::move(reader), first.variables.size());

    std::vector<std::string> labels;
    if (stepped) {
        // One plot holding all runs of a step: split it where the scale restarts.
        dataSet.lazy->read({0}, file.view(), file.mapped());
        const MutableValuePtr scale = dataSet.lazy->column(0);
        lengths = stepLengths(scale->reals(), lengths[0]);
        scale->setDivisionLengths(lengths);
        columns.splitRuns(lengths);
        dataSet.reference.divisionLengths = lengths;
        for (Signal& signal : dataSet.signals) signal.divisionLengths = lengths;
        if (lengths.size() > 1) labels = stepLabelsFromLog(path, lengths.size());
    }
    const bool labelsFromTitles = labels.empty() && !(labels = labelsFromNames(titles)).empty();
    if (labels.empty()) labels = labelsFromNames(plotNames);
    if (labels.empty()) labels = numberedLabels(lengths.size());
    if (lengths.size() > 1) dataSet.divisionLabels = std::move(labels);
    dataSet.title = labelsFromTitles ? sharedLeadingWords(titles) : std::string();
    if (dataSet.title.empty()) dataSet.title = titles.front().empty() ? plotNames.front() : titles.front();
    warnAboutDuplicateNames(dataSet);
    return dataSet;
}

}  // namespace cv::load::detail
