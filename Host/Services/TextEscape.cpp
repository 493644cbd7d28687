// Backslash escaping and percent-encoding of text, each with its inverse
// (rules in TextEscape.h).
#include "TextEscape.h"

#include <string>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendHex(std::string& out, char escape, unsigned char byte) {
    out += escape;
    if (escape == '\\') out += 'x';
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 15];
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte written as two hex digits at text[at], or -1 when they are not
// both there.
int hexByteAt(std::string_view text, size_t at) {
    if (at + 1 >= text.size()) return -1;
    const int hi = hexValue(text[at]), lo = hexValue(text[at + 1]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

}  // namespace

YString sp_EscapeString(std::string_view text, bool replaceSpaces) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\'': out += "\\'"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case ' ':
            if (replaceSpaces)
                appendHex(out, '\\', c);
            else
                out += ' ';
            break;
        default:
            if (c < 0x20 || c == 0x7F)
                appendHex(out, '\\', c);
            else
                out += ch;
        }
    }
    return YString(out);
}

YString sp_UnescapeString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char e = text[i + 1];
        switch (e) {
        case '\\': case '"': case '\'': out += e; ++i; break;
        case 'n': out += '\n'; ++i; break;
        case 't': out += '\t'; ++i; break;
        case 'r': out += '\r'; ++i; break;
        case 'x': {
            const int byte = hexByteAt(text, i + 2);
            if (byte < 0) {
                out += '\\';  // not one of ours: kept as written
            } else {
                out += static_cast<char>(byte);
                i += 3;
            }
            break;
        }
        default: out += '\\';
        }
    }
    return YString(out);
}

YString sp_EscapeStringEncode(std::string_view text, bool replaceSpaces) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (unreserved(c) || (c == ' ' && !replaceSpaces))
            out += ch;
        else
            appendHex(out, '%', c);
    }
    return YString(out);
}

YString sp_EscapeStringDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const int byte = text[i] == '%' ? hexByteAt(text, i + 1) : -1;
        if (byte < 0) {
            out += text[i];
        } else {
            out += static_cast<char>(byte);
            i += 2;
        }
    }
    return YString(out);
}

std::string cv::csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}
