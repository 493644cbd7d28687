// HTML colours, Base64, code pages and identifiers (rules in Include/Services/Encodings.h).
#include "Encodings.h"

#include <openssl/evp.h>
#include <uuid/uuid.h>
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "YString.h"

namespace {

// ---------------------------------------------------------------- HTML colours

struct NamedColour {
    const char* name;
    int32_t rgb;
};

// The CSS named colours, sorted by name for a binary search.
constexpr NamedColour kNamedColours[] = {
    {"aliceblue", 0xf0f8ff}, {"antiquewhite", 0xfaebd7}, {"aqua", 0x00ffff}, {"aquamarine", 0x7fffd4},
    {"azure", 0xf0ffff}, {"beige", 0xf5f5dc}, {"bisque", 0xffe4c4}, {"black", 0x000000},
    {"blanchedalmond", 0xffebcd}, {"blue", 0x0000ff}, {"blueviolet", 0x8a2be2}, {"brown", 0xa52a2a},
    {"burlywood", 0xdeb887}, {"cadetblue", 0x5f9ea0}, {"chartreuse", 0x7fff00}, {"chocolate", 0xd2691e},
    {"coral", 0xff7f50}, {"cornflowerblue", 0x6495ed}, {"cornsilk", 0xfff8dc}, {"crimson", 0xdc143c},
    {"cyan", 0x00ffff}, {"darkblue", 0x00008b}, {"darkcyan", 0x008b8b}, {"darkgoldenrod", 0xb8860b},
    {"darkgray", 0xa9a9a9}, {"darkgreen", 0x006400}, {"darkgrey", 0xa9a9a9}, {"darkkhaki", 0xbdb76b},
    {"darkmagenta", 0x8b008b}, {"darkolivegreen", 0x556b2f}, {"darkorange", 0xff8c00}, {"darkorchid", 0x9932cc},
    {"darkred", 0x8b0000}, {"darksalmon", 0xe9967a}, {"darkseagreen", 0x8fbc8f}, {"darkslateblue", 0x483d8b},
    {"darkslategray", 0x2f4f4f}, {"darkslategrey", 0x2f4f4f}, {"darkturquoise", 0x00ced1}, {"darkviolet", 0x9400d3},
    {"deeppink", 0xff1493}, {"deepskyblue", 0x00bfff}, {"dimgray", 0x696969}, {"dimgrey", 0x696969},
    {"dodgerblue", 0x1e90ff}, {"firebrick", 0xb22222}, {"floralwhite", 0xfffaf0}, {"forestgreen", 0x228b22},
    {"fuchsia", 0xff00ff}, {"gainsboro", 0xdcdcdc}, {"ghostwhite", 0xf8f8ff}, {"gold", 0xffd700},
    {"goldenrod", 0xdaa520}, {"gray", 0x808080}, {"green", 0x008000}, {"greenyellow", 0xadff2f},
    {"grey", 0x808080}, {"honeydew", 0xf0fff0}, {"hotpink", 0xff69b4}, {"indianred", 0xcd5c5c},
    {"indigo", 0x4b0082}, {"ivory", 0xfffff0}, {"khaki", 0xf0e68c}, {"lavender", 0xe6e6fa},
    {"lavenderblush", 0xfff0f5}, {"lawngreen", 0x7cfc00}, {"lemonchiffon", 0xfffacd}, {"lightblue", 0xadd8e6},
    {"lightcoral", 0xf08080}, {"lightcyan", 0xe0ffff}, {"lightgoldenrodyellow", 0xfafad2}, {"lightgray", 0xd3d3d3},
    {"lightgreen", 0x90ee90}, {"lightgrey", 0xd3d3d3}, {"lightpink", 0xffb6c1}, {"lightsalmon", 0xffa07a},
    {"lightseagreen", 0x20b2aa}, {"lightskyblue", 0x87cefa}, {"lightslategray", 0x778899}, {"lightslategrey", 0x778899},
    {"lightsteelblue", 0xb0c4de}, {"lightyellow", 0xffffe0}, {"lime", 0x00ff00}, {"limegreen", 0x32cd32},
    {"linen", 0xfaf0e6}, {"magenta", 0xff00ff}, {"maroon", 0x800000}, {"mediumaquamarine", 0x66cdaa},
    {"mediumblue", 0x0000cd}, {"mediumorchid", 0xba55d3}, {"mediumpurple", 0x9370db}, {"mediumseagreen", 0x3cb371},
    {"mediumslateblue", 0x7b68ee}, {"mediumspringgreen", 0x00fa9a}, {"mediumturquoise", 0x48d1cc},
    {"mediumvioletred", 0xc71585}, {"midnightblue", 0x191970}, {"mintcream", 0xf5fffa}, {"mistyrose", 0xffe4e1},
    {"moccasin", 0xffe4b5}, {"navajowhite", 0xffdead}, {"navy", 0x000080}, {"oldlace", 0xfdf5e6},
    {"olive", 0x808000}, {"olivedrab", 0x6b8e23}, {"orange", 0xffa500}, {"orangered", 0xff4500},
    {"orchid", 0xda70d6}, {"palegoldenrod", 0xeee8aa}, {"palegreen", 0x98fb98}, {"paleturquoise", 0xafeeee},
    {"palevioletred", 0xdb7093}, {"papayawhip", 0xffefd5}, {"peachpuff", 0xffdab9}, {"peru", 0xcd853f},
    {"pink", 0xffc0cb}, {"plum", 0xdda0dd}, {"powderblue", 0xb0e0e6}, {"purple", 0x800080},
    {"rebeccapurple", 0x663399}, {"red", 0xff0000}, {"rosybrown", 0xbc8f8f}, {"royalblue", 0x4169e1},
    {"saddlebrown", 0x8b4513}, {"salmon", 0xfa8072}, {"sandybrown", 0xf4a460}, {"seagreen", 0x2e8b57},
    {"seashell", 0xfff5ee}, {"sienna", 0xa0522d}, {"silver", 0xc0c0c0}, {"skyblue", 0x87ceeb},
    {"slateblue", 0x6a5acd}, {"slategray", 0x708090}, {"slategrey", 0x708090}, {"snow", 0xfffafa},
    {"springgreen", 0x00ff7f}, {"steelblue", 0x4682b4}, {"tan", 0xd2b48c}, {"teal", 0x008080},
    {"thistle", 0xd8bfd8}, {"tomato", 0xff6347}, {"turquoise", 0x40e0d0}, {"violet", 0xee82ee},
    {"wheat", 0xf5deb3}, {"white", 0xffffff}, {"whitesmoke", 0xf5f5f5}, {"yellow", 0xffff00},
    {"yellowgreen", 0x9acd32},
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// ---------------------------------------------------------------- Base64

struct EncodeContextFree {
    void operator()(EVP_ENCODE_CTX* c) const { EVP_ENCODE_CTX_free(c); }
};
using EncodeContext = std::unique_ptr<EVP_ENCODE_CTX, EncodeContextFree>;

EncodeContext newContext() {
    EncodeContext c(EVP_ENCODE_CTX_new());
    if (!c) throw std::bad_alloc();
    return c;
}

// The EVP calls count in int: long texts go through in pieces.
constexpr size_t kPiece = size_t(1) << 20;

bool isBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// OpenSSL's decoder takes '-' as the end of the data and would decode a
// prefix of a damaged text without complaint: the text is checked first.
bool wellFormedBase64(std::string_view text) {
    size_t letters = 0, padding = 0;
    for (char c : text) {
        if (isBlank(c)) continue;
        if (c == '=') {
            ++padding;
        } else if (isBase64Letter(c) && padding == 0) {
            ++letters;
        } else {
            return false;
        }
    }
    return padding <= 2 && (letters + padding) % 4 == 0 && (padding == 0 || letters % 4 != 0);
}

std::string littleEndianBytes(uint64_t bits) {
    std::string bytes(8, '\0');
    for (int k = 0; k < 8; ++k) bytes[size_t(k)] = char((bits >> (8 * k)) & 0xFF);
    return bytes;
}

// ---------------------------------------------------------------- code pages

std::string iconvName(int codePage) {
    switch (codePage) {
        case 0:
        case 65001: return "UTF-8";
        case 20127: return "ASCII";
        case 20866: return "KOI8-R";
        case 21866: return "KOI8-U";
        case 51932: return "EUC-JP";
        case 54936: return "GB18030";
        default: break;
    }
    if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
    return "CP" + std::to_string(codePage);
}

// Pages whose text holds NUL bytes for ordinary characters.
bool isWidePage(int codePage) {
    return codePage == 1200 || codePage == 1201 || codePage == 12000 || codePage == 12001;
}

// The length of the well-formed UTF-8 sequence at s, 0 when there is none.
size_t utf8SequenceLength(const unsigned char* s, size_t n) {
    if (n == 0) return 0;
    const unsigned char c = s[0];
    if (c < 0x80) return 1;
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c == 0xE0) len = 3, lo = 0xA0;
    else if (c == 0xED) len = 3, hi = 0x9F;
    else if (c >= 0xE1 && c <= 0xEF) len = 3;
    else if (c == 0xF0) len = 4, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) len = 4;
    else if (c == 0xF4) len = 4, hi = 0x8F;
    else return 0;
    if (n < len || s[1] < lo || s[1] > hi) return 0;
    for (size_t k = 2; k < len; ++k)
        if (s[k] < 0x80 || s[k] > 0xBF) return 0;
    return len;
}

struct IconvClose {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

}  // namespace

// ---------------------------------------------------------------- HTML colours

int32_t sp_ConvertHTMLcolourToRGB(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text[0] == '#') {
        const std::string_view digits = text.substr(1);
        if (digits.size() != 3 && digits.size() != 6) return -1;
        int32_t rgb = 0;
        for (char c : digits) {
            const int d = hexDigit(c);
            if (d < 0) return -1;
            rgb = digits.size() == 3 ? (rgb << 8) | (d << 4) | d : (rgb << 4) | d;
        }
        return rgb;
    }
    const std::string lower = lowerAscii(text);
    const auto* end = std::end(kNamedColours);
    const auto* it = std::lower_bound(std::begin(kNamedColours), end, lower,
                                      [](const NamedColour& c, const std::string& n) { return n.compare(c.name) > 0; });
    return it != end && lower == it->name ? it->rgb : -1;
}

std::string sp_ConvertRGBcolourToHTML(int64_t rgb) {
    if (rgb < 0 || rgb > 0xFFFFFF) return {};
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", unsigned(rgb));
    return text;
}

// ---------------------------------------------------------------- Base64

std::string cv::encodeBase64(std::string_view bytes) {
    EncodeContext ctx = newContext();
    EVP_EncodeInit(ctx.get());
    std::string out;
    std::string piece(EVP_ENCODE_LENGTH(kPiece), '\0');
    auto* buffer = reinterpret_cast<unsigned char*>(piece.data());
    for (size_t at = 0; at < bytes.size(); at += kPiece) {
        const size_t n = std::min(kPiece, bytes.size() - at);
        int written = 0;
        if (!EVP_EncodeUpdate(ctx.get(), buffer, &written, reinterpret_cast<const unsigned char*>(bytes.data() + at),
                              int(n)))
            throw std::bad_alloc();
        out.append(piece.data(), size_t(written));
    }
    int written = 0;
    EVP_EncodeFinal(ctx.get(), buffer, &written);
    out.append(piece.data(), size_t(written));
    // The encoder writes PEM lines of 64 characters; a script value is one line.
    out.erase(std::remove(out.begin(), out.end(), '\n'), out.end());
    return out;
}

std::optional<std::string> cv::decodeBase64(std::string_view text) {
    if (!wellFormedBase64(text)) return std::nullopt;
    EncodeContext ctx = newContext();
    EVP_DecodeInit(ctx.get());
    std::string out;
    std::string piece(EVP_DECODE_LENGTH(kPiece), '\0');
    auto* buffer = reinterpret_cast<unsigned char*>(piece.data());
    for (size_t at = 0; at < text.size(); at += kPiece) {
        const size_t n = std::min(kPiece, text.size() - at);
        int written = 0;
        if (EVP_DecodeUpdate(ctx.get(), buffer, &written, reinterpret_cast<const unsigned char*>(text.data() + at),
                             int(n)) < 0)
            return std::nullopt;
        out.append(piece.data(), size_t(written));
    }
    int written = 0;
    if (EVP_DecodeFinal(ctx.get(), buffer, &written) < 0) return std::nullopt;
    out.append(piece.data(), size_t(written));
    return out;
}

std::string cv::encodeBase64Real(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return cv::encodeBase64(littleEndianBytes(bits));
}

std::string cv::encodeBase64Integer(int64_t value) { return cv::encodeBase64(littleEndianBytes(uint64_t(value))); }

std::optional<double> cv::decodeBase64Real(std::string_view text) {
    const auto bytes = cv::decodeBase64(text);
    if (!bytes || bytes->size() != 8) return std::nullopt;
    uint64_t bits = 0;
    for (int k = 7; k >= 0; --k) bits = (bits << 8) | static_cast<unsigned char>((*bytes)[size_t(k)]);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// ---------------------------------------------------------------- code pages

std::optional<std::string> sp_ConvertUTF8_to_MBCS(std::string_view text, int codePage) {
    if (isWidePage(codePage)) return std::nullopt;
    const iconv_t opened = iconv_open(iconvName(codePage).c_str(), "UTF-8");
    if (opened == iconv_t(-1)) return std::nullopt;
    const std::unique_ptr<void, IconvClose> cd(opened);

    std::string out(text.size() + 16, '\0');
    size_t used = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    size_t left = text.size();
    auto grow = [&] {
        if (out.size() - used < 16) out.resize(out.size() * 2 + 16);
    };
    auto put = [&](char c) {
        grow();
        out[used++] = c;
    };
    // The last round (in == null) lets a stateful page close its shift state.
    for (bool flushing = false;;) {
        grow();
        char* inPtr = const_cast<char*>(reinterpret_cast<const char*>(in));
        char* outPtr = out.data() + used;
        size_t room = out.size() - used;
        const size_t rc = iconv(opened, flushing ? nullptr : &inPtr, flushing ? nullptr : &left, &outPtr, &room);
        used = size_t(outPtr - out.data());
        if (!flushing) in = reinterpret_cast<const unsigned char*>(inPtr);
        if (rc != size_t(-1)) {
            if (flushing) break;
            flushing = true;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
        } else if (errno == EILSEQ || errno == EINVAL) {
            // A character the page lacks, or bytes that are no UTF-8: one '?'
            // for the character, or for each stray byte.
            const size_t skip = std::max<size_t>(1, utf8SequenceLength(in, left));
            put('?');
            in += skip;
            left -= skip;
        } else {
            return std::nullopt;
        }
    }
    out.resize(used);
    if (out.find('\0') != std::string::npos) return std::nullopt;
    return out;
}

bool sp_ConvertMBCSBlock_to_UTF8(const char* data, size_t size, std::string& out, int codePage) {
    out.clear();
    const iconv_t opened = iconv_open("UTF-8", iconvName(codePage).c_str());
    if (opened == iconv_t(-1)) return false;
    const std::unique_ptr<void, IconvClose> cd(opened);
    // Single-byte pages grow at most 3 times (one byte to a 3-byte character).
    out.resize(size + size / 2 + 16);
    size_t used = 0;
    char* in = const_cast<char*>(data);
    size_t left = size;
    for (bool flushing = false;;) {
        if (out.size() - used < 16) out.resize(out.size() * 2);
        char* outPtr = out.data() + used;
        size_t room = out.size() - used;
        const size_t rc = iconv(opened, flushing ? nullptr : &in, flushing ? nullptr : &left, &outPtr, &room);
        used = size_t(outPtr - out.data());
        if (rc != size_t(-1)) {
            if (flushing) break;
            flushing = true;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
        } else if (errno == EILSEQ || errno == EINVAL) {
            // A byte the page does not define, or a character cut off at the end.
            if (out.size() - used < 16) out.resize(out.size() * 2);
            out[used++] = '?';
            ++in;
            --left;
        } else {
            out.clear();
            return false;
        }
    }
    out.resize(used);
    return true;
}

// ---------------------------------------------------------------- identifiers

std::string sp_GetGUID() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return text;
}
