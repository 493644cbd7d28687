// CSV reader: header row of names, first column the reference, a repeated
// header row starts a new division. Format details are in Loaders.h.
#include "LoaderSupport.h"

#include <algorithm>
#include <filesystem>

namespace cv::load::detail {

namespace {

// Walks the text line by line; lines come without their "\n" or "\r\n".
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end + 1;
        ++lineNumber_;
        return true;
    }
    int64_t lineNumber() const { return lineNumber_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int64_t lineNumber_ = 0;
};

bool isBlank(std::string_view line) { return trim(line).empty(); }

char pickDelimiter(std::string_view header) {
    // Quoted names may hold any delimiter, so look only outside quotes.
    bool inQuotes = false, semicolon = false, tab = false;
    for (const char c : header) {
        if (c == '"') inQuotes = !inQuotes;
        if (inQuotes) continue;
        if (c == ',') return ',';
        semicolon |= c == ';';
        tab |= c == '\t';
    }
    return semicolon ? ';' : tab ? '\t' : ',';
}

// Splits one line into fields. Quoted fields lose their quotes; in header
// mode a doubled quote inside them becomes one quote (numbers never hold
// quotes, so data rows skip that work and keep views into the line).
class FieldSplitter {
public:
    FieldSplitter(char delimiter, const std::string& path) : delimiter_(delimiter), path_(path) {}

    // Fills fields with views of line (quotes removed, blanks trimmed).
    void split(std::string_view line, int64_t lineNumber, std::vector<std::string_view>& fields) {
        fields.clear();
        const std::size_t size = line.size();
        std::size_t pos = 0;
        for (;;) {
            std::size_t start = pos;
            while (start < size && (line[start] == ' ' || line[start] == '\t') && line[start] != delimiter_) ++start;
            std::size_t fieldEnd = start;
            if (start < size && line[start] == '"') {
                std::size_t close = start + 1;
                for (;; close += 2) {
                    close = line.find('"', close);
                    if (close == std::string_view::npos) fail(path_, lineNumber, "unterminated quote");
                    if (close + 1 >= size || line[close + 1] != '"') break;  // "" is a quote inside
                }
                fieldEnd = close + 1;
                while (fieldEnd < size && line[fieldEnd] != delimiter_) {
                    if (line[fieldEnd] != ' ' && line[fieldEnd] != '\t' && line[fieldEnd] != '\r')
                        fail(path_, lineNumber, "text after a closing quote in field " + std::to_string(fields.size() + 1));
                    ++fieldEnd;
                }
                fields.push_back(trim(line.substr(start + 1, close - start - 1)));
            } else {
                // A plain loop: find() costs a library call for fields of a few bytes.
                while (fieldEnd < size && line[fieldEnd] != delimiter_) ++fieldEnd;
                fields.push_back(trim(line.substr(start, fieldEnd - start)));
            }
            if (fieldEnd >= size) break;
            pos = fieldEnd + 1;
        }
    }

    std::vector<std::string> splitNames(std::string_view line, int64_t lineNumber) {
        std::vector<std::string_view> fields;
        split(line, lineNumber, fields);
        std::vector<std::string> names;
        for (std::string_view field : fields) {
            std::string name;
            for (std::size_t i = 0; i < field.size(); ++i) {
                name += field[i];
                if (field[i] == '"' && i + 1 < field.size() && field[i + 1] == '"') ++i;
            }
            names.emplace_back(trim(name));
        }
        return names;
    }

private:
    char delimiter_;
    const std::string& path_;
};

std::string guessReferenceQuantity(std::string_view name) {
    const std::string lower = lowerCase(name);
    if (lower == "time" || lower == "t") return "time";
    if (lower == "frequency" || lower == "freq" || lower == "f") return "frequency";
    return {};
}

bool looksComplex(std::string_view field) {
    return !field.empty() && (field.front() == '(' || field.back() == 'i' || field.back() == 'j' ||
                              field.find(',') != std::string_view::npos);
}

}  // namespace

DataSet parseCsv(std::string_view text, const std::string& path) {
    if (isUtf16(text)) fail(path, 0, "the file is UTF-16 text; save it as UTF-8 or ASCII");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
    LineReader lines(text);
    std::string_view line;
    bool haveHeader = false;
    while (lines.next(line)) {
        if (!isBlank(line)) {
            haveHeader = true;
            break;
        }
    }
    if (!haveHeader) fail(path, 0, "no header row: the file is empty");

    const char delimiter = pickDelimiter(line);
    FieldSplitter splitter(delimiter, path);
    std::vector<std::string> names = splitter.splitNames(line, lines.lineNumber());
    // "a,b,c," : some tools end every row with a delimiter.
    const bool trailingDelimiter = names.size() > 1 && names.back().empty();
    if (trailingDelimiter) names.pop_back();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].empty()) fail(path, lines.lineNumber(), "column " + std::to_string(i + 1) + " has no name");

    DataSet dataSet;
    dataSet.title = std::filesystem::path(path).filename().string();
    dataSet.reference.name = names[0];
    dataSet.reference.quantity = guessReferenceQuantity(names[0]);
    for (std::size_t i = 1; i < names.size(); ++i) dataSet.signals.push_back(Signal{names[i], {}, false, {}, {}});

    std::vector<std::vector<double>*> columns{&dataSet.reference.data};
    for (Signal& signal : dataSet.signals) columns.push_back(&signal.data);
    const std::size_t columnCount = columns.size();
    // Every row is a line of at least two bytes a column: that bounds the rows
    // (blank lines must not make a wide file reserve more than it can fill).
    std::size_t lineCount = 1;
    for (std::size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) ++lineCount;
    const std::size_t rowBound = std::min(lineCount, text.size() / (2 * columnCount) + 1);
    for (std::vector<double>* column : columns) column->reserve(rowBound);

    std::vector<int64_t> lengths;
    int64_t rowsInDivision = 0;
    bool afterBlankLine = false;
    std::vector<std::string_view> fields;
    while (lines.next(line)) {
        if (isBlank(line)) {
            afterBlankLine = true;
            continue;
        }
        const int64_t lineNumber = lines.lineNumber();
        splitter.split(line, lineNumber, fields);
        if (trailingDelimiter && fields.size() == columnCount + 1 && fields.back().empty()) fields.pop_back();
        if (fields.size() != columnCount)
            fail(path, lineNumber,
                 "expected " + std::to_string(columnCount) + (columnCount == 1 ? " field" : " fields") + ", found " +
                     std::to_string(fields.size()));

        double value;
        if (!parseEngineering(fields[0], value)) {
            // Not a number in the first column: a repeated header, or an error.
            std::vector<std::string> rowNames = splitter.splitNames(line, lineNumber);
            if (rowNames.size() > columnCount) rowNames.pop_back();
            bool repeatsHeader = true;
            for (std::size_t i = 0; i < columnCount; ++i) repeatsHeader &= equalsNoCase(rowNames[i], names[i]);
            if (repeatsHeader) {
                lengths.push_back(rowsInDivision);
                rowsInDivision = 0;
                afterBlankLine = false;
                continue;
            }
            if (afterBlankLine && !looksComplex(fields[0]))
                fail(path, lineNumber, "a header row that starts a new division must repeat the first header row");
        }
        for (std::size_t c = 0; c < columnCount; ++c) {
            if (!parseEngineering(fields[c], value)) {
                const std::string where = " in column '" + names[c] + "'";
                if (fields[c].empty()) fail(path, lineNumber, "empty value" + where);
                if (looksComplex(fields[c]))
                    fail(path, lineNumber,
                         quoteForMessage(fields[c]) + where + " looks complex; CSV columns must be real");
                fail(path, lineNumber, quoteForMessage(fields[c]) + where + " is not a number");
            }
            columns[c]->push_back(value);
        }
        ++rowsInDivision;
        afterBlankLine = false;
    }
    lengths.push_back(rowsInDivision);

    dataSet.reference.divisionLengths = lengths;
    for (Signal& signal : dataSet.signals) signal.divisionLengths = lengths;
    if (lengths.size() > 1) dataSet.divisionLabels = numberedLabels(lengths.size());
    warnAboutDuplicateNames(dataSet);
    return dataSet;
}

}  // namespace cv::load::detail
