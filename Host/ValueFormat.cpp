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
    if (v.kind() == Kind::None) return "";
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

std::string formatCsv(const Value& v) {
    if (v.kind() == Kind::None) return "";
    int64_t nd = v.numDivisions();
    bool hasRef = v.ref() != nullptr;
    std::string s;
    if (nd > 1) s += "division,";
    if (hasRef) s += csvField(v.refName().empty() ? "x" : v.refName()) + ",";
    s += csvField(v.name().empty() ? "value" : v.name()) + "\n";
    for (int64_t d = 0; d < nd; ++d) {
        int64_t roff = 0;
        const Value* r = refFor(v, d, roff);
        int64_t off = v.divisionOffset(d);
        for (int64_t i = 0; i < v.divisionLength(d); ++i) {
            if (nd > 1) s += std::to_string(d + 1) + ",";
            if (hasRef) s += (r ? csvField(elementText(*r, roff + i)) : std::string()) + ",";
            s += csvField(elementText(v, off + i)) + "\n";
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

}  // namespace

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
