// Touchstone files as a DataSet: the host's Touchstone reader (AcTableData)
// reads the numbers; this file picks the port count it needs, turns its
// point-by-point matrices into one complex signal per parameter, and keeps
// what the reader found (version, format, unit, z0) as metadata. The rules
// (names, quantities, metadata keys) are in Loaders.h.
//
// The reader takes the port count before it reads, so the header is looked
// at here first, only for the version and [Number of Ports], and only as far
// as the data: the reader checks every line itself, so a word this look
// skips or does not know is the reader's to refuse, with its line.
#include "LoaderSupport.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "Touchstone.h"

namespace cv::load::detail {

namespace {

// What the name says: not Touchstone, ".ts" (no port count), or the N of
// ".sNp", which may be any count, also 0 or one too large for a port count.
struct NamedPorts {
    bool touchstone = false;
    bool ts = false;
    int64_t ports = 0;
    std::string extension;  // as written, for messages
};

NamedPorts portsFromName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    const std::string_view ext = name.substr(dot + 1);
    if (equalsNoCase(ext, "ts")) return {true, true, 0, std::string(name.substr(dot))};
    if (ext.size() < 3 || (ext.front() != 's' && ext.front() != 'S') || (ext.back() != 'p' && ext.back() != 'P'))
        return {};
    const std::string_view digits = ext.substr(1, ext.size() - 2);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return {};
    int64_t n = 0;
    // Too many digits for a count: still a Touchstone name, refused by its size.
    if (std::from_chars(digits.data(), digits.data() + digits.size(), n).ec != std::errc())
        n = std::numeric_limits<int64_t>::max();
    return {true, false, n, std::string(name.substr(dot))};
}

// "[Number  of Ports] 4" -> "number of ports": case and inner blanks do not
// matter to the reader either. Empty when the text is no keyword.
std::string keywordName(std::string_view text) {
    if (text.empty() || text.front() != '[') return {};
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return {};
    std::string name;
    bool blank = false;
    for (const char c : trim(text.substr(1, close - 1))) {
        if (c == ' ' || c == '\t') {
            blank = true;
            continue;
        }
        if (blank) name += ' ';
        blank = false;
        name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return name;
}

std::string_view keywordArguments(std::string_view text) {
    const std::size_t close = text.find(']');
    return close == std::string_view::npos ? std::string_view() : trim(text.substr(close + 1));
}

std::string_view firstWord(std::string_view text) {
    text = trim(text);
    const std::size_t end = text.find_first_of(" \t");
    return end == std::string_view::npos ? text : text.substr(0, end);
}

// Walks the lines as the reader does: a UTF-8 byte order mark is no text,
// "!" starts a comment. Calls f(line number, text) for every line that holds
// something, until f returns false.
template <typename F>
void forEachLine(std::string_view bytes, F f) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    int64_t line = 0;
    for (std::size_t pos = 0; pos < bytes.size();) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view text = bytes.substr(pos, end - pos);
        pos = end + 1;
        ++line;
        text = trim(text.substr(0, text.find('!')));
        if (!text.empty() && !f(line, text)) return;
    }
}

// What the lines before the data say that the reader needs before it reads:
// the port count of a version 2 file, and the version's own text.
struct Header {
    std::string version = "1";
    int64_t firstLine = 0;   // the first line that holds something, 0: none
    std::string firstText;   // ... and its text, quoted for a message
    int64_t ports = -1;      // [Number of Ports], -1 when absent or not a count
    int64_t portsLine = 0;
};

Header readHeader(std::string_view bytes) {
    Header header;
    bool information = false;
    forEachLine(bytes, [&](int64_t line, std::string_view text) {
        const std::string keyword = keywordName(text);
        if (header.firstLine == 0) {
            header.firstLine = line;
            header.firstText = quoteForMessage(text);
            if (keyword == "version") {
                const std::string_view version = firstWord(keywordArguments(text));
                header.version = version.empty() ? "2.0" : std::string(version);
                return true;
            }
        }
        if (information) {
            information = keyword != "end information";
        } else if (text.front() == '#') {
            // the option line: the reader's to read
        } else if (keyword == "begin information") {
            information = true;
        } else if (keyword == "number of ports") {
            int64_t n;
            header.portsLine = line;
            if (parseInteger(keywordArguments(text), n) && n > 0) header.ports = n;
        } else if (keyword == "network data" || text.front() != '[') {
            return false;  // the data begins
        }
        return true;
    });
    return header;
}

// The reader's message, "<file>, line <n>: <what>", as a LoadError with the
// line apart, like every other loader's.
[[noreturn]] void failWith(const std::string& path, std::string_view message) {
    if (message.starts_with(path)) {
        std::string_view rest = message.substr(path.size());
        if (rest.starts_with(", line ")) {
            rest.remove_prefix(7);
            int64_t line = 0;
            const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), line);
            const std::string_view what = rest.substr(static_cast<std::size_t>(end - rest.data()));
            if (ec == std::errc() && what.starts_with(": ")) fail(path, line, std::string(what.substr(2)));
        } else if (rest.starts_with(", at its end: ")) {
            fail(path, 0, "at the end of the file: " + std::string(rest.substr(14)));
        } else if (rest.starts_with(": ")) {
            fail(path, 0, std::string(rest.substr(2)));
        }
    }
    fail(path, 0, message.empty() ? "the Touchstone reader could not read the file" : std::string(message));
}

// The port count the reader is to expect.
int64_t portCount(const Header& header, const NamedPorts& named, const std::string& path) {
    constexpr int64_t most = AcTableData::kMaxPorts;
    if (header.version != "1") {
        if (header.ports > most)
            fail(path, header.portsLine,
                 "[Number of Ports] is " + std::to_string(header.ports) + ", more than the " + std::to_string(most) +
                     " ports a file may have");
        // Without a count of its own the reader names the missing keyword at its place.
        return header.ports > 0 ? header.ports : 1;
    }
    if (named.ts)
        fail(path, header.firstLine,
             "a .ts file starts with '[Version] 2.0' (or 2.1), found " +
                 (header.firstLine ? header.firstText : std::string("an empty file")) +
                 "; a version 1 file gives its port count in its name (.s1p, .s2p, ...)");
    if (named.ports < 1 || named.ports > most)
        fail(path, 0,
             "the name ends in '" + named.extension + "', but a Touchstone file has 1 to " + std::to_string(most) +
                 " ports");
    return named.ports;
}

std::string parameterName(char kind, int64_t row, int64_t column, int64_t ports) {
    // Row 1, column 11 and row 11, column 1 would both be S111: from ten ports on, an underscore parts them.
    return kind + std::to_string(row + 1) + (ports >= 10 ? "_" : "") + std::to_string(column + 1);
}

const char* quantityOf(char kind, int64_t row, int64_t column) {
    switch (kind) {
        case 'Z': return "resistance";
        case 'Y': return "conductance";
        // Hybrid parameters mix units: H11 is an impedance, H22 an admittance, the rest ratios.
        case 'H': return row != column ? "" : row == 0 ? "resistance" : "conductance";
        case 'G': return row != column ? "" : row == 0 ? "conductance" : "resistance";
        default: return "";
    }
}

std::string joined(const std::vector<double>& values) {
    std::string text;
    for (const double v : values) text += (text.empty() ? "" : " ") + formatReal(v);
    return text;
}

}  // namespace

bool hasTouchstoneName(std::string_view path) { return portsFromName(path).touchstone; }

bool looksLikeTouchstone(std::string_view bytes) {
    bool version = false;
    forEachLine(bytes, [&](int64_t, std::string_view text) {
        version = keywordName(text) == "version";
        return false;
    });
    return version;
}

DataSet parseTouchstone(std::string_view bytes, const std::string& path) {
    const Header header = readHeader(bytes);
    const int64_t ports = portCount(header, portsFromName(path), path);

    AcTableData table(path.c_str(), static_cast<int32_t>(ports), DcExtractNone, AcInterpNone);
    YList<YString> errors;
    if (!table.build(&errors)) failWith(path, errors.begin() == errors.end() ? "" : errors.begin()->view());

    DataSet data;
    const std::size_t slash = path.rfind('/');
    data.title = slash == std::string::npos ? path : path.substr(slash + 1);
    const int64_t points = table.numPoints();
    const std::vector<int64_t> lengths{points};
    data.reference = Signal{"frequency", "frequency", false, Value::makeDivided(Kind::Real, lengths, false), lengths};
    const char kind = table.kind();
    std::vector<cplx*> columns;
    for (int64_t row = 0; row < ports; ++row) {
        for (int64_t column = 0; column < ports; ++column) {
            data.signals.push_back(Signal{parameterName(kind, row, column, ports), quantityOf(kind, row, column), true,
                                          Value::makeDivided(Kind::Complex, lengths, false), lengths});
            columns.push_back(static_cast<cplx*>(data.signals.back().values->mutableData()));
        }
    }

    // The table holds one matrix per point, the signals one parameter each:
    // a block of points at a time, so that each signal is written in runs.
    double* frequencies = static_cast<double*>(data.reference.values->mutableData());
    constexpr int64_t kBlock = 256;
    const cplx* matrices[kBlock];
    for (int64_t first = 0; first < points; first += kBlock) {
        const int64_t count = std::min(kBlock, points - first);
        for (int64_t i = 0; i < count; ++i) {
            const AcTableFrequencyPoint point = table.get(first + i);
            frequencies[first + i] = point.frequency;
            matrices[i] = point.values;
        }
        for (std::size_t k = 0; k < columns.size(); ++k)
            for (int64_t i = 0; i < count; ++i) columns[k][first + i] = matrices[i][k];
    }

    if (table.noiseCount() > 0)
        data.warnings.push_back("noise parameters at " + std::to_string(table.noiseCount()) +
                                " frequencies are not loaded");
    const std::vector<double>& z0 = table.reference();
    data.metadata = {
        {"version", header.version},
        {"ports", std::to_string(ports)},
        {"parameter", std::string(1, kind)},
        {"format", table.numberFormat()},
        {"frequency_unit", table.frequencyUnit()},
        // One value when the file gives one (the option line's R), one per port when it lists them.
        {"z0", table.referenceListed() ? joined(z0) : z0.empty() ? std::string() : formatReal(z0.front())},
    };
    return data;
}

}  // namespace cv::load::detail
