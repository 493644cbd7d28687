// CSV reader: header row of names, first column the reference, a repeated
// header row starts a new division. Format details are in Loaders.h.
#include "LoaderSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>

#include "Parallel.h"

namespace cv::load::detail {

namespace {

// Walks the text line by line; lines come without their "\n" or "\r\n".
class LineReader {
public:
    explicit LineReader(std::string_view text, std::size_t pos = 0, int64_t lineNumber = 0)
        : text_(text), pos_(pos), lineNumber_(lineNumber) {}
    std::size_t position() const { return pos_; }

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

// ' ' stands for runs of blanks (spaces and tabs mixed), as tables written
// for people and simulator text exports are laid out.
char pickDelimiter(std::string_view header) {
    // Quoted names may hold any delimiter, so look only outside quotes.
    bool inQuotes = false, semicolon = false, tab = false, space = false;
    for (const char c : trim(header)) {
        if (c == '"') inQuotes = !inQuotes;
        if (inQuotes) continue;
        if (c == ',') return ',';
        semicolon |= c == ';';
        tab |= c == '\t';
        space |= c == ' ';
    }
    return semicolon ? ';' : tab ? '\t' : space ? ' ' : ',';
}

// Splits one line into fields. Quoted fields lose their quotes; in header
// mode a doubled quote inside them becomes one quote (numbers never hold
// quotes, so data rows skip that work and keep views into the line).
class FieldSplitter {
public:
    FieldSplitter(char delimiter, const std::string& path) : delimiter_(delimiter), path_(path) {}

    // Fills fields with views of line (quotes removed, blanks trimmed).
    void split(std::string_view line, int64_t lineNumber, std::vector<std::string_view>& fields) const {
        fields.clear();
        if (delimiter_ == ' ') return splitOnBlanks(line, lineNumber, fields);
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

    std::vector<std::string> splitNames(std::string_view line, int64_t lineNumber) const {
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
    static bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

    void splitOnBlanks(std::string_view line, int64_t lineNumber, std::vector<std::string_view>& fields) const {
        const std::size_t size = line.size();
        for (std::size_t pos = 0;;) {
            while (pos < size && isBlank(line[pos])) ++pos;
            if (pos >= size) return;
            std::size_t end = pos;
            if (line[pos] == '"') {
                std::size_t close = pos + 1;
                for (;; close += 2) {
                    close = line.find('"', close);
                    if (close == std::string_view::npos) fail(path_, lineNumber, "unterminated quote");
                    if (close + 1 >= size || line[close + 1] != '"') break;
                }
                if (close + 1 < size && !isBlank(line[close + 1]))
                    fail(path_, lineNumber, "text after a closing quote in field " + std::to_string(fields.size() + 1));
                fields.push_back(line.substr(pos + 1, close - pos - 1));
                pos = close + 1;
                continue;
            }
            while (end < size && !isBlank(line[end])) ++end;
            fields.push_back(line.substr(pos, end - pos));
            pos = end;
        }
    }

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

namespace {

// Names for a file without a header row: "x" and "y", or "y1", "y2" ...
std::vector<std::string> generatedNames(std::size_t columns) {
    std::vector<std::string> names{"x"};
    if (columns == 2) names.emplace_back("y");
    else
        for (std::size_t i = 1; i < columns; ++i) names.push_back("y" + std::to_string(i));
    return names;
}

bool allNumbers(const std::vector<std::string_view>& fields) {
    double value;
    for (std::string_view field : fields)
        if (!parseEngineering(field, value)) return false;
    return !fields.empty();
}

// Columns of x y pairs, as a simulator's text export writes one pair per
// vector: every even column repeats the first. With a header the names say
// so ("time v(a) time v(b)"); without one, the values must.
bool pairedNames(const std::vector<std::string>& names) {
    if (names.size() < 4 || names.size() % 2 != 0) return false;
    for (std::size_t c = 2; c < names.size(); c += 2)
        if (!equalsNoCase(names[c], names[0])) return false;
    return true;
}

}  // namespace

namespace {

// What the rows need to know of the file, shared by every piece of it.
struct Table {
    const std::string& path;
    const FieldSplitter& splitter;
    const std::vector<std::string>& names;
    bool headerless, trailingDelimiter, namedPairs, blankDelimited;
    bool checkPairs;               // whether the columns may be x y pairs (their x columns are then read)
    std::vector<double*> columns;  // the final buffers; null for a column not asked for, which is split off unread
};

// Rows of a piece of the file: a range of whole lines. A piece writes its
// rows from `slot` on and may use up to `capacity` of them; the pieces are
// packed together afterwards when one fell short (blank lines, headers).
struct Piece {
    std::size_t begin = 0, end = 0;  // bytes
    int64_t firstLine = 0;           // the number of its first line
    int64_t slot = 0, capacity = 0;
    int64_t rows = 0;
    std::vector<int64_t> breaks;  // rows (of this piece) before which a division starts
    bool pairsHold = true;        // every even column repeats the first
    std::exception_ptr error;
};

// Whether the line before byte `at` is blank, so that a piece reads its first
// line as one reader would.
bool followsBlankLine(std::string_view text, std::size_t at) {
    if (at == 0) return false;
    std::string_view before = text.substr(0, at - 1);
    return isBlank(before.substr(before.rfind('\n') == std::string_view::npos ? 0 : before.rfind('\n') + 1));
}

// The fields of a row, which must be as many as the columns.
void splitRow(const Table& table, std::string_view line, int64_t lineNumber, std::vector<std::string_view>& fields) {
    const std::size_t columnCount = table.names.size();
    table.splitter.split(line, lineNumber, fields);
    if (table.trailingDelimiter && fields.size() == columnCount + 1 && fields.back().empty()) fields.pop_back();
    if (fields.size() == columnCount) return;
    if (table.blankDelimited && !fields.empty() && fields.size() < columnCount && allNumbers(fields))
        fail(table.path, lineNumber,
             "expected " + std::to_string(columnCount) + " numbers, found " + std::to_string(fields.size()));
    fail(table.path, lineNumber,
         "expected " + std::to_string(columnCount) + (columnCount == 1 ? " field" : " fields") + ", found " +
             std::to_string(fields.size()));
}

// Whether a row is the header row again, which starts a new division. A row
// whose first field is no number and that follows a blank line must be one.
bool repeatsHeader(const Table& table, std::string_view line, int64_t lineNumber,
                   const std::vector<std::string_view>& fields, bool afterBlankLine) {
    double value;
    if (parseEngineering(fields[0], value)) return false;
    const std::vector<std::string>& names = table.names;
    std::vector<std::string> rowNames = table.splitter.splitNames(line, lineNumber);
    if (rowNames.size() > names.size()) rowNames.pop_back();
    bool repeats = true;
    for (std::size_t i = 0; i < names.size(); ++i) repeats &= equalsNoCase(rowNames[i], names[i]);
    if (repeats) return true;
    if (afterBlankLine && !looksComplex(fields[0]))
        fail(table.path, lineNumber, "a header row that starts a new division must repeat the first header row");
    return false;
}

// Writes a row's numbers into the columns at `row`, or fails saying what a
// field holds instead.
void storeRow(const Table& table, const std::vector<std::string_view>& fields, int64_t lineNumber, int64_t row) {
    const std::size_t columnCount = table.names.size();
    const std::string& path = table.path;
    for (std::size_t c = 0; c < columnCount; ++c) {
        if (table.columns[c] == nullptr) continue;
        double value;
        if (!parseEngineering(fields[c], value)) {
            const std::string where = " in column '" + table.names[c] + "'";
            if (fields[c].empty()) fail(path, lineNumber, "empty value" + where);
            if (looksComplex(fields[c]))
                fail(path, lineNumber, quoteForMessage(fields[c]) + where + " looks complex; CSV columns must be real");
            if (table.headerless)
                fail(path, lineNumber,
                     "expected " + std::to_string(columnCount) + " numbers, found " + quoteForMessage(fields[c]));
            fail(path, lineNumber, quoteForMessage(fields[c]) + where + " is not a number");
        }
        table.columns[c][row] = value;
    }
}

// Whether every even column of the row repeats the first, as x y pairs do.
// A row that breaks pairs the header named is an error.
bool pairsHold(const Table& table, int64_t row, int64_t lineNumber) {
    for (std::size_t c = 2; c < table.names.size(); c += 2) {
        const double x = table.columns[c][row], reference = table.columns[0][row];
        if (x == reference || (std::isnan(x) && std::isnan(reference))) continue;
        if (table.namedPairs)
            fail(table.path, lineNumber, "column " + std::to_string(c + 1) + " ('" + table.names[c] +
                                             "') holds other x-values than column 1");
        return false;  // a plain table of numbers after all
    }
    return true;
}

void readRows(std::string_view text, const Table& table, Piece& piece) {
    LineReader lines(text.substr(0, piece.end), piece.begin, piece.firstLine - 1);
    // A blank line just before the piece counts as it would for one reader.
    bool afterBlankLine = followsBlankLine(text, piece.begin);
    std::vector<std::string_view> fields;
    std::string_view line;
    while (lines.next(line)) {
        if (isBlank(line)) {
            afterBlankLine = true;
            continue;
        }
        const int64_t lineNumber = lines.lineNumber();
        // Cannot happen (a row takes two bytes a column): a guard for the buffers' bound.
        if (piece.rows >= piece.capacity) fail(table.path, lineNumber, "more rows than the file's size allows");
        splitRow(table, line, lineNumber, fields);
        if (!table.headerless && repeatsHeader(table, line, lineNumber, fields, afterBlankLine)) {
            piece.breaks.push_back(piece.rows);
            afterBlankLine = false;
            continue;
        }
        const int64_t row = piece.slot + piece.rows;
        storeRow(table, fields, lineNumber, row);
        if (piece.pairsHold) piece.pairsHold = table.checkPairs && pairsHold(table, row, lineNumber);
        ++piece.rows;
        afterBlankLine = false;
    }
}

// Large files are read in pieces of about this many bytes, on all cores;
// the pieces depend only on the file.
constexpr std::size_t kPieceBytes = std::size_t(1) << 20;

// The first row that is not blank: the names of the columns, unless it
// holds numbers only, and the delimiter every row uses.
struct Header {
    char delimiter = ',';
    std::vector<std::string> names;
    bool headerless = false;
    bool trailingDelimiter = false;  // "a,b,c,": some tools end every row with a delimiter
    bool namedPairs = false;
    std::size_t dataBegin = 0;  // the byte where the rows start
    int64_t dataLine = 1;       // the number of their first line
};

Header readHeader(std::string_view text, const std::string& path) {
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

    Header header;
    header.delimiter = pickDelimiter(line);
    FieldSplitter splitter(header.delimiter, path);
    std::vector<std::string_view> fields;
    splitter.split(line, lines.lineNumber(), fields);
    // A first row of numbers is data: the file has no header row.
    header.headerless = allNumbers(fields);
    if (header.headerless) {
        header.names = generatedNames(fields.size());
        lines = LineReader(text);  // read the first row again, as data
    } else {
        header.names = splitter.splitNames(line, lines.lineNumber());
    }
    std::vector<std::string>& names = header.names;
    header.trailingDelimiter = !header.headerless && names.size() > 1 && names.back().empty();
    if (header.trailingDelimiter) names.pop_back();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].empty()) fail(path, lines.lineNumber(), "column " + std::to_string(i + 1) + " has no name");
    header.namedPairs = !header.headerless && pairedNames(names);
    header.dataBegin = std::min(lines.position(), text.size());
    header.dataLine = lines.lineNumber() + 1;
    return header;
}

// The newlines in text[begin, end).
int64_t countNewlines(std::string_view text, std::size_t begin, std::size_t end) {
    int64_t newlines = 0;
    for (const char *at = text.data() + begin, *stop = text.data() + end;
         (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(stop - at)))) != nullptr; ++at)
        ++newlines;
    return newlines;
}

// The pieces of the rows, and the rows each may hold: no more than its
// lines, nor than its bytes allow at two a column (so that blank lines
// cannot make a wide file allocate more than it could fill). One count of
// the lines. `bound` becomes the rows of all pieces.
std::vector<Piece> cutPieces(std::string_view text, const Header& header, int64_t& bound) {
    const std::size_t columnCount = header.names.size();
    std::vector<Piece> pieces;
    int64_t lineNumber = header.dataLine;
    bound = 0;
    for (std::size_t begin = header.dataBegin; begin < text.size();) {
        std::size_t end = std::min(text.size(), begin + kPieceBytes);
        if (end < text.size()) {
            const void* newline = std::memchr(text.data() + end, '\n', text.size() - end);
            end = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text.data()) + 1 : text.size();
        }
        Piece piece;
        piece.begin = begin;
        piece.end = end;
        piece.firstLine = lineNumber;
        const int64_t newlines = countNewlines(text, begin, end);
        const int64_t lineCount = newlines + (text[end - 1] != '\n');
        piece.slot = bound;
        piece.capacity = std::min<int64_t>(lineCount, static_cast<int64_t>((end - begin) / (2 * columnCount) + 1));
        bound += piece.capacity;
        lineNumber += newlines;
        pieces.push_back(std::move(piece));
        begin = end;
    }
    return pieces;
}

// Reads the pieces on the workers; the first error in the file is thrown,
// as one reader would have stopped there.
void readPieces(std::string_view text, bool mapped, const Table& table, std::vector<Piece>& pieces) {
    forEachChunk(pieces.size(), 1, [&](std::size_t first, std::size_t last) {
        for (std::size_t k = first; k < last; ++k) {
            try {
                Piece& piece = pieces[k];
                readGuarded(table.path, [&] {
                    prefaultPages(mapped, text.data() + piece.begin, piece.end - piece.begin);
                    readRows(text, table, piece);
                    releasePages(mapped, text.data() + piece.begin, piece.end - piece.begin);
                });
            } catch (const LoadError&) {
                pieces[k].error = std::current_exception();
            }
        }
    });
    for (const Piece& piece : pieces)
        if (piece.error) std::rethrow_exception(piece.error);
}

// Moves the pieces' rows together in the columns and returns the division
// lengths; `pairs` stays true only when every piece kept its x y pairs.
std::vector<int64_t> packRows(const std::vector<Piece>& pieces, const std::vector<double*>& columns, bool& pairs) {
    std::vector<int64_t> lengths;
    int64_t rows = 0, divisionStart = 0;
    for (const Piece& piece : pieces) {
        if (piece.slot != rows && piece.rows > 0)
            for (double* column : columns)
                if (column != nullptr)
                    std::memmove(column + rows, column + piece.slot, static_cast<std::size_t>(piece.rows) * sizeof(double));
        for (int64_t at : piece.breaks) {
            lengths.push_back(rows + at - divisionStart);
            divisionStart = rows + at;
        }
        rows += piece.rows;
        pairs &= piece.pairsHold;
    }
    lengths.push_back(rows - divisionStart);
    return lengths;
}

// The columns read in one scan: those in `wanted` (file columns) and, where
// the file may be x y pairs, the x columns that decide it.
struct ReadTable {
    std::vector<MutableValuePtr> values;  // per file column; null where not read
    std::vector<int64_t> lengths;
    bool pairs = false;
};

bool mayBePairs(const Header& header) {
    const std::size_t columns = header.names.size();
    return header.namedPairs || (header.headerless && columns >= 4 && columns % 2 == 0);
}

ReadTable readTable(std::string_view text, bool mapped, const Header& header, const std::string& path,
                    std::vector<std::size_t> wanted) {
    const std::size_t columnCount = header.names.size();
    int64_t bound = 0;
    std::vector<Piece> pieces = cutPieces(text, header, bound);
    const bool checkPairs = mayBePairs(header);
    if (checkPairs)
        for (std::size_t c = 0; c < columnCount; c += 2) wanted.push_back(c);

    // The final buffers, cut to the rows found at the end.
    const int64_t bounds[] = {bound};
    ReadTable read;
    read.values.resize(columnCount);
    FieldSplitter splitter(header.delimiter, path);
    Table table{path,      splitter, header.names, header.headerless, header.trailingDelimiter, header.namedPairs,
                header.delimiter == ' ', checkPairs, std::vector<double*>(columnCount, nullptr)};
    for (const std::size_t c : wanted)
        if (!read.values[c]) {
            read.values[c] = Value::makeDivided(Kind::Real, bounds, false);
            table.columns[c] = static_cast<double*>(read.values[c]->mutableData());
        }
    readPieces(text, mapped, table, pieces);
    read.pairs = checkPairs;
    read.lengths = packRows(pieces, table.columns, read.pairs);
    const std::vector<std::string> labels =
        read.lengths.size() > 1 ? numberedLabels(read.lengths.size()) : std::vector<std::string>();
    for (const MutableValuePtr& v : read.values)
        if (v) {
            v->setDivisionLengths(read.lengths);
            v->setDivisionLabels(labels);
        }
    return read;
}

// Reads the columns of the data set (0 the reference, k the signal k - 1),
// each from its file column.
class CsvColumns final : public LazyColumns::Reader {
public:
    CsvColumns(std::string path, Header header, std::size_t skip, std::vector<std::size_t> fileColumns)
        : path_(std::move(path)), header_(std::move(header)), skip_(skip), fileColumns_(std::move(fileColumns)) {}

    void read(std::string_view file, bool mapped, const std::vector<std::size_t>& wanted,
              std::vector<MutableValuePtr>& out) const override {
        std::vector<std::size_t> columns;
        for (const std::size_t k : wanted) columns.push_back(fileColumns_[k]);
        ReadTable table = readTable(file.substr(skip_), mapped, header_, path_, columns);
        for (const std::size_t k : wanted) out[k] = table.values[fileColumns_[k]];
    }

private:
    std::string path_;
    Header header_;
    std::size_t skip_;                      // a byte order mark before the text
    std::vector<std::size_t> fileColumns_;  // the file column of each data set column
};

}  // namespace

DataSet openCsv(const FileBuffer& file, const std::string& path) {
    std::string_view text = file.view();
    if (isUtf16(text)) fail(path, 0, "the file is UTF-16 text; save it as UTF-8 or ASCII");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // UTF-8 byte order mark
    Header header = readHeader(text, path);
    const std::size_t columnCount = header.names.size();

    // Named x y pairs drop their repeated x columns; unnamed ones can only be
    // told by their values, so such a file is read now.
    bool pairs = header.namedPairs;
    std::vector<MutableValuePtr> values;
    if (mayBePairs(header) && !header.namedPairs) {
        std::vector<std::size_t> all(columnCount);
        for (std::size_t c = 0; c < columnCount; ++c) all[c] = c;
        ReadTable table = readTable(text, file.mapped(), header, path, all);
        pairs = table.pairs;
        values = std::move(table.values);
    }
    DataSet dataSet;
    dataSet.title = std::filesystem::path(path).filename().string();
    std::vector<std::size_t> fileColumns;
    for (std::size_t c = 0; c < columnCount; ++c) {
        if (pairs && c >= 2 && c % 2 == 0) continue;  // an x column again
        Signal signal{header.names[c], {}, false, values.empty() ? nullptr : values[c], {}};
        if (signal.values) signal.divisionLengths = signal.values->divisionLengths();
        if (c == 0) {
            signal.quantity = guessReferenceQuantity(header.names[0]);
            dataSet.reference = std::move(signal);
        } else {
            dataSet.signals.push_back(std::move(signal));
        }
        fileColumns.push_back(c);
    }
    if (pairs && header.headerless) {
        const auto named = generatedNames(fileColumns.size());
        for (std::size_t i = 0; i < dataSet.signals.size(); ++i) dataSet.signals[i].name = named[i + 1];
    }
    if (!values.empty()) {
        dataSet.divisionLabels = dataSet.reference.values->divisionLabels();
    } else {
        const std::size_t skip = static_cast<std::size_t>(text.data() - file.view().data());
        auto reader = std::make_unique<CsvColumns>(path, std::move(header), skip, std::move(fileColumns));
        dataSet.lazy = std::make_shared<LazyColumns>(path, file.identity(), std::move(reader), dataSet.signals.size() + 1);
    }
    warnAboutDuplicateNames(dataSet);
    return dataSet;
}

}  // namespace cv::load::detail
