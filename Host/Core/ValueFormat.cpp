#include "ValueFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Divisions.h"
#include "Session.h"
#include "TextEscape.h"

namespace cv {

namespace {

std::string jsonNumber(double x) {
    if (std::isnan(x)) return "\"nan\"";
    if (std::isinf(x)) return x > 0 ? "\"inf\"" : "\"-inf\"";
    return formatReal(x);
}

std::string complexText(cplx z) { return "(" + formatReal(z.real()) + "," + formatReal(z.imag()) + ")"; }

std::string elementText(const Value& v, int64_t i) {
    switch (v.kind()) {
        case Kind::String: return std::string(v.stringAt(i));
        case Kind::Complex: return complexText(v.complexAt(i));
        case Kind::Integer: return std::to_string(v.integers()[i]);
        case Kind::Integer64: return std::to_string(v.integers64()[i]);
        case Kind::Bool: return v.bools()[i] ? "true" : "false";
        default: return formatReal(v.realAt(i));
    }
}

std::string jsonElement(const Value& v, int64_t i) {
    switch (v.kind()) {
        case Kind::String: return jsonString(v.stringAt(i));
        case Kind::Complex: return "[" + jsonNumber(v.complexAt(i).real()) + ", " + jsonNumber(v.complexAt(i).imag()) + "]";
        case Kind::Integer: return std::to_string(v.integers()[i]);
        case Kind::Integer64: return std::to_string(v.integers64()[i]);
        case Kind::Bool: return v.bools()[i] ? "true" : "false";
        default: return jsonNumber(v.realAt(i));
    }
}

std::string jsonArray(const Value& v) {
    std::string s = "[";
    for (int64_t i = 0; i < v.size(); ++i) {
        if (i) s += ", ";
        s += jsonElement(v, i);
    }
    return s + "]";
}

// The reference element that belongs to element i of division d.
const Value* refFor(const Value& v, int64_t d, int64_t& offset) {
    const Value* r = v.ref().get();
    if (!r) return nullptr;
    if (r->numDivisions() == v.numDivisions()) {
        offset = r->divisionOffset(d);
        return r->divisionLength(d) == v.divisionLength(d) ? r : nullptr;
    }
    offset = 0;
    return r->size() == v.divisionLength(d) ? r : nullptr;
}

// The lines of division d: "x<TAB>value", or the value alone; with
// `edge` set, its first and last `edge` lines around a "..." line.
void divisionText(std::string& s, const Value& v, int64_t d, int64_t edge) {
    int64_t roff = 0;
    const Value* r = refFor(v, d, roff);
    const int64_t off = v.divisionOffset(d), n = v.divisionLength(d);
    for (int64_t i = 0; i < n; ++i) {
        if (edge && i == edge && n > 2 * edge) {
            s += "...\n";
            i = n - edge;
        }
        if (r) s += elementText(*r, roff + i) + "\t";
        s += elementText(v, off + i) + "\n";
    }
}

// The whole value, or, when `shorten` and it is long, the ends of its first
// and last divisions and a line that says how to get all of it.
std::string formatText(const Value& v, bool shorten) {
    if (v.kind() == Kind::None || v.size() == 0) return "(empty)\n";
    const bool cut = shorten && v.size() > kSummaryAbove;
    const int64_t edge = cut ? kSummaryEdge : 0, nd = v.numDivisions();
    const int64_t edgeDivisions = cut && nd > 2 * kSummaryEdgeDivisions ? kSummaryEdgeDivisions : 0;
    std::string s;
    for (int64_t d = 0; d < nd; ++d) {
        if (edgeDivisions && d == edgeDivisions) {
            s += "# ... (divisions " + std::to_string(d + 1) + " to " + std::to_string(nd - edgeDivisions) +
                 " not shown)\n";
            d = nd - edgeDivisions;
        }
        if (nd > 1) {
            s += "# division " + std::to_string(d + 1);
            if (size_t(d) < v.divisionLabels().size()) s += ": " + v.divisionLabels()[size_t(d)];
            s += "\n";
        }
        divisionText(s, v, d, edge);
    }
    if (cut) {
        s += "(" + std::to_string(v.size()) + " values";
        if (nd > 1) s += " in " + std::to_string(nd) + " divisions";
        s += "; use --format csv or --format json for all)\n";
    }
    return s;
}

// A division's label as the file gave it, else its number from 1.
std::string divisionLabel(const Value& v, int64_t d) {
    return size_t(d) < v.divisionLabels().size() ? v.divisionLabels()[size_t(d)] : std::to_string(d + 1);
}

// CSV header cells of a value: complex values take two columns.
std::string csvTitle(const Value& v, const std::string& title) {
    return tidyCsvTitle(title, v.kind() == Kind::Complex);
}

std::string csvCells(const Value& v, int64_t i) {
    if (v.kind() != Kind::Complex) return cv::csvField(elementText(v, i));
    return formatReal(v.complexAt(i).real()) + "," + formatReal(v.complexAt(i).imag());
}

std::string formatCsv(const Value& v) {
    const bool empty = v.kind() == Kind::None;
    int64_t nd = empty ? 1 : v.numDivisions();
    bool hasRef = v.ref() != nullptr;
    std::string s;
    if (nd > 1) s += "division,";
    if (hasRef) s += cv::csvField(v.refName().empty() ? "x" : v.refName()) + ",";
    s += csvTitle(v, v.name().empty() ? "value" : v.name()) + "\n";
    if (empty) return s;
    for (int64_t d = 0; d < nd; ++d) {
        int64_t roff = 0;
        const Value* r = refFor(v, d, roff);
        int64_t off = v.divisionOffset(d);
        for (int64_t i = 0; i < v.divisionLength(d); ++i) {
            if (nd > 1) s += cv::csvField(divisionLabel(v, d)) + ",";
            if (hasRef) s += (r ? cv::csvField(elementText(*r, roff + i)) : std::string()) + ",";
            s += csvCells(v, off + i) + "\n";
        }
    }
    return s;
}

// The run labels as the file wrote them for the x-values of a statistic
// collected over runs; empty when no list of labels gives exactly these
// x-values and this axis. The host's own collection reads the labels, so
// the two cannot disagree on how a label reads.
std::vector<std::string> matchRuns(const Value& v, const Value& x, int64_t xoff, const RunLabelSets& runs) {
    const int64_t n = v.size();
    std::vector<ValuePtr> parts;
    for (const auto& labels : runs) {
        if (int64_t(labels.size()) != n) continue;
        if (parts.empty()) parts.assign(size_t(n), Value::real(0));
        const ValuePtr read = collectStatistic(parts, labels);
        if (read->refName() != v.refName()) continue;
        const Value& rx = *read->ref();
        bool same = true;
        for (int64_t i = 0; i < n && same; ++i) same = rx.realAt(i) == x.realAt(xoff + i);
        if (!same) continue;
        // Runs without labels are numbered from 1, as their divisions print.
        std::vector<std::string> keys = labels;
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i].empty()) keys[i] = std::to_string(i + 1);
        return keys;
    }
    return {};
}

// Whether a value may need the session's run labels to be printed: a
// statistic collected over runs is one division against x-values.
bool mayBeCollected(const Value& v) {
    int64_t roff = 0;
    return v.isNumeric() && v.numDivisions() == 1 && v.size() > 1 && refFor(v, 0, roff);
}

// A list of the run labels of a divided value, one per division ("" where
// the file gave none).
std::vector<std::string> runLabelsOf(const Value& v) {
    std::vector<std::string> labels = v.divisionLabels();
    labels.resize(size_t(v.numDivisions()));
    return labels;
}

std::string formatJson(const Value& v, const RunLabelSets& runs) {
    std::string s = "{\"kind\": \"" + std::string(kindName(v.kind())) + "\", \"values\": ";
    s += v.kind() == Kind::None ? "[]" : jsonArray(v);
    s += ", \"ref\": " + (v.ref() ? jsonArray(*v.ref()) : std::string("null"));
    s += ", \"phys\": " + jsonString(sp_GetPhysTypeName(v.physType()));
    s += ", \"ref_phys\": " + jsonString(v.ref() ? sp_GetPhysTypeName(v.refPhysType()) : "");
    s += ", \"divisions\": [";
    if (v.kind() != Kind::None)
        for (int64_t d = 0; d < v.numDivisions(); ++d) s += (d ? ", " : "") + std::to_string(v.divisionLength(d));
    s += "]";
    // The runs, so that a waveform per run, a number per run and a statistic
    // collected over the runs all name them alike.
    std::vector<std::string> labels;
    if (v.kind() != Kind::None && v.numDivisions() > 1) {
        for (int64_t d = 0; d < v.numDivisions(); ++d) labels.push_back(divisionLabel(v, d));
    } else if (int64_t roff = 0; mayBeCollected(v)) {
        const Value& x = *refFor(v, 0, roff);
        if (x.isNumeric()) labels = matchRuns(v, x, roff, runs);
    }
    if (!labels.empty()) {
        s += ", \"runs\": [";
        for (size_t i = 0; i < labels.size(); ++i) s += (i ? ", " : "") + jsonString(labels[i]);
        s += "]";
    }
    return s + "}\n";
}

}  // namespace

TidyRows tidyRows(const Value& v, const RunLabelSets& runs) {
    TidyRows rows;
    if (!v.isNumeric() || v.size() == 0) return rows;
    const int64_t nd = v.numDivisions();
    if (nd > 1) {
        for (int64_t d = 0; d < nd; ++d)
            if (v.divisionLength(d) != 1) return rows;
        for (int64_t d = 0; d < nd; ++d) rows.keys.push_back(divisionLabel(v, d));
        rows.kind = TidyRows::Runs;
        return rows;
    }
    // A lone number stands for every run, whatever x-value it carries (the
    // time of a maximum).
    if (v.size() == 1) {
        rows.kind = TidyRows::Single;
        return rows;
    }
    int64_t roff = 0;
    const Value* r = refFor(v, 0, roff);
    if (!r) return rows;  // a plain list: its elements are not runs
    rows.keys = r->isNumeric() ? matchRuns(v, *r, roff, runs) : std::vector<std::string>{};
    if (!rows.keys.empty()) {
        rows.kind = TidyRows::Runs;
        return rows;
    }
    for (int64_t i = 0; i < v.size(); ++i) rows.keys.push_back(elementText(*r, roff + i));
    rows.kind = TidyRows::XValues;
    return rows;
}

RunLabelSets sessionRunLabels(const Session& session) {
    RunLabelSets sets;
    for (const auto& name : session.names()) {
        // A statistic over runs was measured on vectors already read: those
        // not read yet are left in their file.
        const ValuePtr v = session.lookupIfRead(name);
        if (!v || v->kind() == Kind::None || v->numDivisions() < 2) continue;
        std::vector<std::string> labels = runLabelsOf(*v);
        // Every vector of a file shares its runs: most names add nothing new.
        if (std::find(sets.begin(), sets.end(), labels) == sets.end()) sets.push_back(std::move(labels));
    }
    return sets;
}

RunLabelSets StatementPrinter::runSets(const std::vector<std::pair<std::string, ValuePtr>>& printed) const {
    RunLabelSets sets;
    bool needed = false;
    for (const auto& [text, v] : printed) {
        if (v->isNumeric() && v->numDivisions() > 1) sets.push_back(runLabelsOf(*v));
        needed = needed || mayBeCollected(*v);
    }
    if (!needed) return {};
    if (runs_)
        for (auto& labels : runs_()) sets.push_back(std::move(labels));
    return sets;
}

void StatementPrinter::statement(const ValuePtr& v, std::string_view text, std::string_view assigned) {
    switch (format_) {
        case OutputFormat::Text:
            if (assigned.empty()) out_(formatText(*v, true));
            return;
        case OutputFormat::Json: {
            std::string head = "{\"statement\": " + jsonString(text);
            if (!assigned.empty()) head += ", \"name\": " + jsonString(assigned);
            out_(head + ", " + formatJson(*v, runSets({{std::string(), v}})).substr(1));
            return;
        }
        case OutputFormat::Csv:
            if (assigned.empty()) csv_.emplace_back(std::string(text), v);
            return;
    }
}

void StatementPrinter::finish() {
    if (csv_.empty()) return;
    // The values held back are dropped also when their table cannot be made
    // (memory): a caller that reports that and finishes again prints nothing.
    struct Drop {
        std::vector<std::pair<std::string, ValuePtr>>& held;
        ~Drop() { held.clear(); }
    } drop{csv_};
    const RunLabelSets sets = runSets(csv_);
    std::vector<TidyRows> rows;
    for (const auto& [text, v] : csv_) rows.push_back(tidyRows(*v, sets));
    // One table when every statement gives a number per run, or one number;
    // the runs (or the x-values) must be the same for all of them.
    const TidyRows* keyed = nullptr;
    bool tidy = true;
    for (size_t c = 0; c < rows.size() && tidy; ++c) {
        if (rows[c].kind == TidyRows::None) tidy = false;
        else if (rows[c].kind == TidyRows::Single) continue;
        else if (!keyed) keyed = &rows[c];
        else tidy = rows[c].kind == keyed->kind && rows[c].keys == keyed->keys;
    }
    // Values over the same x-values share a table too, but a lone number is
    // no value per x.
    if (tidy && keyed && keyed->kind == TidyRows::XValues)
        tidy = std::none_of(rows.begin(), rows.end(), [](const TidyRows& r) { return r.kind == TidyRows::Single; });
    if (!tidy) {
        for (const auto& [text, v] : csv_) out_(formatCsv(*v));
        return;
    }
    std::string s, keyTitle;
    if (keyed) {
        const Value& first = *csv_[size_t(keyed - rows.data())].second;
        keyTitle = keyed->kind == TidyRows::Runs ? "run" : first.refName().empty() ? "x" : first.refName();
        s = cv::csvField(keyTitle);
    }
    for (const auto& [text, v] : csv_) s += (s.empty() ? "" : ",") + csvTitle(*v, text);
    s += "\n";
    const size_t n = keyed ? keyed->keys.size() : 1;
    for (size_t i = 0; i < n; ++i) {
        std::string row = keyed ? cv::csvField(keyed->keys[i]) : "";
        for (size_t c = 0; c < csv_.size(); ++c)
            row += (c == 0 && !keyed ? "" : ",") +
                   csvCells(*csv_[c].second, rows[c].kind == TidyRows::Single ? 0 : int64_t(i));
        s += row + "\n";
    }
    out_(s);
}

std::string tidyCsvField(const std::string& s) { return cv::csvField(s); }
std::string tidyCsvTitle(const std::string& title, bool complex) {
    return complex ? cv::csvField(title + " (re)") + "," + cv::csvField(title + " (im)") : cv::csvField(title);
}
std::string tidyCsvCells(const Value& v, int64_t i) { return csvCells(v, i); }
std::string tidyJsonElement(const Value& v, int64_t i) { return jsonElement(v, i); }

std::string jsonString(std::string_view in) {
    std::string s = "\"";
    for (unsigned char c : in) {
        switch (c) {
            case '"': s += "\\\""; break;
            case '\\': s += "\\\\"; break;
            case '\n': s += "\\n"; break;
            case '\r': s += "\\r"; break;
            case '\t': s += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    s += buf;
                } else {
                    s += char(c);
                }
        }
    }
    return s + "\"";
}

std::string formatValue(const Value& v, OutputFormat format) {
    switch (format) {
        case OutputFormat::Json: return formatJson(v, {});
        case OutputFormat::Csv: return formatCsv(v);
        case OutputFormat::Text: break;
    }
    return formatText(v, false);
}

}  // namespace cv
