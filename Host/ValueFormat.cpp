#include "ValueFormat.h"

#include <cmath>
#include <cstdio>

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

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
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

std::string formatText(const Value& v) {
    if (v.kind() == Kind::None || v.size() == 0) return "(empty)\n";
    std::string s;
    int64_t nd = v.numDivisions();
    for (int64_t d = 0; d < nd; ++d) {
        if (nd > 1) {
            s += "# division " + std::to_string(d + 1);
            if (size_t(d) < v.divisionLabels().size()) s += ": " + v.divisionLabels()[size_t(d)];
            s += "\n";
        }
        int64_t roff = 0;
        const Value* r = refFor(v, d, roff);
        int64_t off = v.divisionOffset(d);
        for (int64_t i = 0; i < v.divisionLength(d); ++i) {
            if (r) s += elementText(*r, roff + i) + "\t";
            s += elementText(v, off + i) + "\n";
        }
    }
    return s;
}

// A division's label as the file gave it, else its number from 1.
std::string divisionLabel(const Value& v, int64_t d) {
    return size_t(d) < v.divisionLabels().size() ? v.divisionLabels()[size_t(d)] : std::to_string(d + 1);
}

// CSV header cells of a value: complex values take two columns.
std::string csvTitle(const Value& v, const std::string& title) {
    if (v.kind() != Kind::Complex) return csvField(title);
    return csvField(title + " (re)") + "," + csvField(title + " (im)");
}

std::string csvCells(const Value& v, int64_t i) {
    if (v.kind() != Kind::Complex) return csvField(elementText(v, i));
    return formatReal(v.complexAt(i).real()) + "," + formatReal(v.complexAt(i).imag());
}

std::string formatCsv(const Value& v) {
    const bool empty = v.kind() == Kind::None;
    int64_t nd = empty ? 1 : v.numDivisions();
    bool hasRef = v.ref() != nullptr;
    std::string s;
    if (nd > 1) s += "division,";
    if (hasRef) s += csvField(v.refName().empty() ? "x" : v.refName()) + ",";
    s += csvTitle(v, v.name().empty() ? "value" : v.name()) + "\n";
    if (empty) return s;
    for (int64_t d = 0; d < nd; ++d) {
        int64_t roff = 0;
        const Value* r = refFor(v, d, roff);
        int64_t off = v.divisionOffset(d);
        for (int64_t i = 0; i < v.divisionLength(d); ++i) {
            if (nd > 1) s += csvField(divisionLabel(v, d)) + ",";
            if (hasRef) s += (r ? csvField(elementText(*r, roff + i)) : std::string()) + ",";
            s += csvCells(v, off + i) + "\n";
        }
    }
    return s;
}

std::string formatJson(const Value& v) {
    std::string s = "{\"kind\": \"" + std::string(kindName(v.kind())) + "\", \"values\": ";
    s += v.kind() == Kind::None ? "[]" : jsonArray(v);
    s += ", \"ref\": " + (v.ref() ? jsonArray(*v.ref()) : std::string("null"));
    s += ", \"phys\": " + jsonString(sp_GetPhysTypeName(v.physType()));
    s += ", \"ref_phys\": " + jsonString(v.ref() ? sp_GetPhysTypeName(v.refPhysType()) : "");
    s += ", \"divisions\": [";
    if (v.kind() != Kind::None)
        for (int64_t d = 0; d < v.numDivisions(); ++d) s += (d ? ", " : "") + std::to_string(v.divisionLength(d));
    return s + "]}\n";
}

// The row keys of a value that gives one number per run: as one value in
// each of several divisions (keyed by the divisions' labels), or as one
// division of values over an x-axis (a statistic over the runs, keyed by its
// x-values; a plain number is one row). Empty for any other value.
std::vector<std::string> rowKeys(const Value& v) {
    std::vector<std::string> keys;
    if (v.kind() == Kind::None || v.kind() == Kind::String || v.size() == 0) return keys;
    const int64_t nd = v.numDivisions();
    if (nd > 1) {
        for (int64_t d = 0; d < nd; ++d) {
            if (v.divisionLength(d) != 1) return {};
            keys.push_back(divisionLabel(v, d));
        }
        return keys;
    }
    int64_t roff = 0;
    const Value* r = refFor(v, 0, roff);
    if (!r && v.size() > 1) return {};  // a plain vector: its elements are not runs
    for (int64_t i = 0; i < v.size(); ++i) keys.push_back(r ? elementText(*r, roff + i) : std::to_string(i + 1));
    return keys;
}

}  // namespace

void StatementPrinter::statement(const ValuePtr& v, std::string_view text, std::string_view assigned) {
    switch (format_) {
        case OutputFormat::Text:
            if (assigned.empty()) out_(formatText(*v));
            return;
        case OutputFormat::Json: {
            std::string head = "{\"statement\": " + jsonString(text);
            if (!assigned.empty()) head += ", \"name\": " + jsonString(assigned);
            out_(head + ", " + formatJson(*v).substr(1));
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
    const std::vector<std::string> keys = rowKeys(*csv_.front().second);
    bool tidy = !keys.empty();
    for (const auto& [text, v] : csv_) tidy = tidy && rowKeys(*v) == keys;
    if (!tidy) {
        for (const auto& [text, v] : csv_) out_(formatCsv(*v));
        csv_.clear();
        return;
    }
    const bool keyed = keys.size() > 1;
    std::string s = keyed ? "division" : "";
    for (const auto& [text, v] : csv_) s += (s.empty() ? "" : ",") + csvTitle(*v, text);
    s += "\n";
    for (size_t i = 0; i < keys.size(); ++i) {
        std::string row = keyed ? csvField(keys[i]) + "," : "";
        for (size_t c = 0; c < csv_.size(); ++c) row += (c ? "," : "") + csvCells(*csv_[c].second, int64_t(i));
        s += row + "\n";
    }
    out_(s);
    csv_.clear();
}

std::vector<std::string> tidyRowKeys(const Value& v) { return rowKeys(v); }
std::string tidyCsvField(const std::string& s) { return csvField(s); }
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
        case OutputFormat::Json: return formatJson(v);
        case OutputFormat::Csv: return formatCsv(v);
        case OutputFormat::Text: break;
    }
    return formatText(v);
}

}  // namespace cv
