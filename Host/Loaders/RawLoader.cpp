// SPICE raw reader (ngspice ASCII and binary, real and complex, one or more
// plots). Format details and the rules for several plots are in Loaders.h.
#include "LoaderSupport.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <optional>

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
    int64_t variableCount = -1;
    int64_t pointCount = -1;
    std::vector<RawVariable> variables;

    std::string describe() const {
        return "plot " + std::to_string(number) + (plotName.empty() ? std::string() : " ('" + plotName + "')");
    }
};

// Where a plot's values go: one column per variable, or none at all for a
// plot that is skipped (its values are still read, to find where it ends).
struct Destination {
    std::vector<std::vector<double>*> columns;
    bool discards() const { return columns.empty(); }
};

std::string normaliseQuantity(std::string_view type) {
    const std::string lower = lowerCase(type);
    if (lower == "time" || lower == "frequency" || lower == "voltage" || lower == "current") return lower;
    // LTspice spells some currents "device_current", "subckt_current".
    if (lower.find("current") != std::string::npos) return "current";
    return {};
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

double readDouble(const char* bytes) {
    char ordered[sizeof(double)];
    std::memcpy(ordered, bytes, sizeof ordered);
    if constexpr (std::endian::native == std::endian::big) std::reverse(ordered, ordered + sizeof ordered);
    double value;
    std::memcpy(&value, ordered, sizeof value);
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
    RawReader(std::string_view bytes, const std::string& path) : bytes_(bytes), path_(path) {}

    bool atEnd() const { return pos_ >= bytes_.size(); }
    int64_t line() const { return line_; }

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

    PlotHeader readHeader(int64_t number);
    void readValues(const PlotHeader& header, Destination& destination);

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

    RawVariable parseVariableLine(std::string_view text, int64_t index, const PlotHeader& header, int64_t lineNumber);
    void readAscii(const PlotHeader& header, Destination& destination);
    void readBinary(const PlotHeader& header, Destination& destination);

    std::string_view bytes_;
    const std::string& path_;
    std::size_t pos_ = 0;
    int64_t line_ = 1;
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

PlotHeader RawReader::readHeader(int64_t number) {
    PlotHeader header;
    header.number = number;
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

void RawReader::readValues(const PlotHeader& header, Destination& destination) {
    if (header.binary)
        readBinary(header, destination);
    else
        readAscii(header, destination);
}

void RawReader::readBinary(const PlotHeader& header, Destination& destination) {
    const std::size_t valueBytes = header.isComplex ? 2 * sizeof(double) : sizeof(double);
    // variableCount equals the number of variable lines read (readHeader checks): no overflow.
    const std::size_t pointBytes = static_cast<std::size_t>(header.variableCount) * valueBytes;
    const std::size_t available = bytes_.size() - pos_;
    const auto points = static_cast<uint64_t>(header.pointCount);
    if (points > available / pointBytes)
        fail(line_, "truncated: " + header.describe() + " declares " + std::to_string(points) +
                        " points, the file holds " + std::to_string(available / pointBytes) + " (" +
                        std::to_string(available) + " bytes of data for " + std::to_string(pointBytes) +
                        " bytes a point)");
    const std::size_t pointTotal = static_cast<std::size_t>(points);
    const char* data = bytes_.data() + pos_;
    if (!destination.discards()) {
        // Point by point, so the file is read once, front to back.
        const std::size_t variables = destination.columns.size();
        for (std::size_t v = 0; v < variables; ++v) {
            std::vector<double>& column = *destination.columns[v];
            column.reserve(column.size() + pointTotal * (header.isComplex && v > 0 ? 2 : 1));
        }
        const char* point = data;
        for (std::size_t p = 0; p < pointTotal; ++p, point += pointBytes) {
            destination.columns[0]->push_back(readDouble(point));  // the scale is stored real
            for (std::size_t v = 1; v < variables; ++v) {
                std::vector<double>& column = *destination.columns[v];
                column.push_back(readDouble(point + v * valueBytes));
                if (header.isComplex) column.push_back(readDouble(point + v * valueBytes + sizeof(double)));
            }
        }
    }
    const std::size_t used = pointTotal * pointBytes;
    // Line numbers stay those an editor shows, counting newline bytes in the data too.
    line_ += std::count(data, data + used, '\n');
    pos_ += used;
}

void RawReader::readAscii(const PlotHeader& header, Destination& destination) {
    const int64_t points = header.pointCount;
    const int64_t variables = header.variableCount;
    const std::string counts = std::to_string(variables);
    if (!destination.discards()) {
        // A point takes at least two bytes per value and index: trust the
        // declared count no further than the file could hold.
        const std::size_t available = bytes_.size() - pos_;
        const std::size_t possible = available / (2 * static_cast<std::size_t>(variables + 1));
        const std::size_t expected = std::min(static_cast<std::size_t>(points), possible);
        for (std::size_t v = 0; v < destination.columns.size(); ++v) {
            std::vector<double>& column = *destination.columns[v];
            column.reserve(column.size() + expected * (header.isComplex && v > 0 ? 2 : 1));
        }
    }
    for (int64_t p = 0; p < points; ++p) {
        skipWhitespace();
        if (atEnd())
            fail(line_, "truncated: " + header.describe() + " declares " + std::to_string(points) +
                            " points, the file ends after " + std::to_string(p));
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
            if (readWellFormedValue(header.isComplex, re, im)) {
                if (!destination.discards()) {
                    std::vector<double>& column = *destination.columns[static_cast<std::size_t>(v)];
                    column.push_back(re);
                    if (header.isComplex && v > 0) column.push_back(im);
                }
                ++v;
                continue;
            }
            // Everything else, the errors included, goes by whole tokens.
            std::string_view text = token();
            if (text.empty()) {
                skipWhitespace();
                if (atEnd())
                    fail(line_, "truncated: point " + std::to_string(p) + " of " + header.describe() +
                                    " ends after " + std::to_string(v) + " of " + counts + " values");
                if (pointOrHeaderStartsHere())
                    fail(pointLine, "point " + std::to_string(p) + ": expected " + counts + " values, found " +
                                        std::to_string(v));
                continue;
            }
            const bool endsFile = pos_ == bytes_.size();
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
            if (!destination.discards()) {
                std::vector<double>& column = *destination.columns[static_cast<std::size_t>(v)];
                column.push_back(re);
                if (header.isComplex && v > 0) column.push_back(im);
            }
            ++v;
        }
        const std::string_view extra = token();
        if (!extra.empty())
            fail(line_, "point " + std::to_string(p) + ": more than " + counts + " values, " + quoteForMessage(extra));
    }
}

bool compatible(const PlotHeader& first, const PlotHeader& other) {
    if (first.isComplex != other.isComplex || first.variables.size() != other.variables.size()) return false;
    for (std::size_t i = 0; i < first.variables.size(); ++i)
        if (!equalsNoCase(first.variables[i].name, other.variables[i].name)) return false;
    return true;
}

Destination setUpDataSet(DataSet& dataSet, const PlotHeader& first) {
    dataSet.reference.name = first.variables[0].name;
    dataSet.reference.quantity = normaliseQuantity(first.variables[0].type);
    for (std::size_t i = 1; i < first.variables.size(); ++i)
        dataSet.signals.push_back(Signal{first.variables[i].name, normaliseQuantity(first.variables[i].type),
                                         first.isComplex, {}, {}});
    Destination destination;
    destination.columns.push_back(&dataSet.reference.data);
    for (Signal& signal : dataSet.signals) destination.columns.push_back(&signal.data);
    return destination;
}

}  // namespace

bool looksLikeSpiceRaw(std::string_view bytes) {
    if (isUtf16(bytes)) return bytes.size() >= 2 && (bytes[0] == 'T' || bytes[0] == 'P' || bytes[2] == 'T');
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    bytes = bytes.substr(std::min(bytes.size(), bytes.find_first_not_of(" \t\r\n")));
    return startsWithNoCase(bytes, "Title:") || startsWithNoCase(bytes, "Plotname:");
}

DataSet parseSpiceRaw(std::string_view bytes, const std::string& path) {
    if (isUtf16(bytes))
        fail(path, 0, "the file is UTF-16 text (as LTspice writes raw files); only ngspice-style raw files are read");
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    RawReader reader(bytes, path);
    reader.skipWhitespace();
    if (reader.atEnd()) fail(path, 0, "the file is empty");

    DataSet dataSet;
    std::optional<PlotHeader> first;
    std::optional<PlotHeader> previous;
    Destination destination, discard;
    std::vector<int64_t> lengths;
    std::vector<std::string> titles, plotNames;
    for (int64_t number = 1;; ++number) {
        reader.skipWhitespace();
        if (reader.atEnd()) break;
        if (previous && !reader.atHeaderLine())
            fail(path, reader.line(), previous->describe() + " holds more data than its 'No. Points: " +
                                    std::to_string(previous->pointCount) + "' declares");
        PlotHeader header = reader.readHeader(number);
        if (!first) {
            first = header;
            destination = setUpDataSet(dataSet, header);
        }
        const bool kept = compatible(*first, header);
        reader.readValues(header, kept ? destination : discard);
        if (kept) {
            lengths.push_back(header.pointCount);
            titles.push_back(header.title);
            plotNames.push_back(header.plotName);
        } else {
            const std::string why = header.isComplex != first->isComplex
                                        ? (header.isComplex ? "it is complex, plot 1 is real" : "it is real, plot 1 is complex")
                                        : "its variables differ from plot 1's";
            dataSet.warnings.push_back("skipped " + header.describe() + ": " + why);
        }
        previous = std::move(header);
    }

    dataSet.reference.divisionLengths = lengths;
    for (Signal& signal : dataSet.signals) signal.divisionLengths = lengths;
    std::vector<std::string> labels = labelsFromNames(titles);
    const bool labelsFromTitles = !labels.empty();
    if (labels.empty()) labels = labelsFromNames(plotNames);
    if (labels.empty()) labels = numberedLabels(lengths.size());
    if (lengths.size() > 1) dataSet.divisionLabels = std::move(labels);
    dataSet.title = labelsFromTitles ? sharedLeadingWords(titles) : std::string();
    if (dataSet.title.empty()) dataSet.title = titles.front().empty() ? plotNames.front() : titles.front();
    warnAboutDuplicateNames(dataSet);
    return dataSet;
}

}  // namespace cv::load::detail
