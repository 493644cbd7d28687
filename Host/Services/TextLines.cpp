// Line splitting, tokenising and reading for the host and the module.
#include "TextLines.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/types.h>

namespace {

struct QuoteRule {
    bool active = false;
    char open = '\0', close = '\0';
};

QuoteRule quoteRuleOf(std::string_view pair) {
    if (pair.empty()) return {};
    return {true, pair[0], pair.size() > 1 ? pair[1] : pair[0]};
}

bool splitFields(std::string_view text, char separator, QuoteRule quotes, bool stripQuotes, YArray<YString>& out) {
    YString field;
    bool pending = false;   // characters seen since the last split
    int depth = 0;
    size_t kept = 0;        // start of the bytes not yet added to the field: added a stretch at a time
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (depth == 0 && c == separator) {
            field.append(text.substr(kept, i - kept));
            out.add(std::move(field));
            field = YString();
            pending = false;
            kept = i + 1;
            continue;
        }
        pending = true;
        bool outermost = false;
        if (quotes.active && c == quotes.open && (quotes.open != quotes.close || depth == 0))
            outermost = depth++ == 0;
        else if (quotes.active && c == quotes.close && depth > 0)
            outermost = --depth == 0;
        if (outermost && stripQuotes) {
            field.append(text.substr(kept, i - kept));
            kept = i + 1;
        }
    }
    if (pending) {
        field.append(text.substr(kept));
        out.add(std::move(field));
    }
    return depth == 0;
}

constexpr std::string_view Blanks = " \t\r\f\v";

// getline's buffer, grown to any line length; freed also when assign throws.
struct GetlineBuffer {
    char* data = nullptr;
    size_t capacity = 0;
    GetlineBuffer() = default;
    GetlineBuffer(const GetlineBuffer&) = delete;
    GetlineBuffer& operator=(const GetlineBuffer&) = delete;
    ~GetlineBuffer() { std::free(data); }
};

std::string_view withoutLineEnd(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

bool sp_SplitLine(std::string_view text, char separator, YArray<YString>& out, int mode) {
    return splitFields(text, separator, {}, (mode & SplitLineStripQuotes) != 0, out);
}

bool sp_SplitLine(std::string_view text, char separator, std::string_view quotePair, YArray<YString>& out, int mode) {
    return splitFields(text, separator, quoteRuleOf(quotePair), (mode & SplitLineStripQuotes) != 0, out);
}

int sp_ScanLine(std::string_view text, std::string_view delimiters, YArray<YString>& out, int max) {
    return sp_ScanLine(text, ScanSpec{std::string(delimiters), {}, {}, {}, 0}, out, max);
}

int sp_ScanLine(std::string_view text, const ScanSpec& scan, YArray<YString>& out, int max) {
    constexpr size_t npos = std::string_view::npos;
    int added = 0;
    size_t pos = text.find_first_not_of(scan.delimiters);
    while (added < max && pos != npos) {
        const size_t quote = scan.openQuotes.find(text[pos]);
        size_t next;   // where the search for the following token starts
        if (quote != npos) {
            const char close = quote < scan.closeQuotes.size() ? scan.closeQuotes[quote] : text[pos];
            const size_t closeAt = text.find(close, pos + 1);
            out.add(YString(text.substr(pos + 1, closeAt == npos ? npos : closeAt - pos - 1)));
            next = closeAt == npos ? npos : closeAt + 1;
        } else {
            next = text.find_first_of(scan.delimiters, pos);
            out.add(YString(text.substr(pos, next == npos ? npos : next - pos)));
        }
        ++added;
        pos = text.find_first_not_of(scan.delimiters, next);
    }
    return added;
}

bool sp_ScanLine(const char*& cursor, char separator, YString& field) {
    if (!cursor || !*cursor) return false;
    const char* end = std::strchr(cursor, separator);   // a NUL separator finds the end
    if (!end) end = cursor + std::strlen(cursor);
    field.assign(std::string_view(cursor, static_cast<size_t>(end - cursor)));
    cursor = *end ? end + 1 : end;
    return true;
}

// The delimiters as a table of bytes: one look-up per byte of the text, where
// find_first_of searches the delimiter list for each byte.
TokenScanner::TokenScanner(std::string_view delimiters) noexcept {
    for (const unsigned char c : delimiters) delimiter_[c] = true;
}

bool TokenScanner::next(std::string_view& rest, std::string_view& token) const noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(rest.data());
    const auto* const e = p + rest.size();
    while (p < e && delimiter_[*p]) ++p;
    if (p == e) {
        rest = {};
        return false;
    }
    const auto* const begin = p++;
    while (p < e && !delimiter_[*p]) ++p;
    token = std::string_view(reinterpret_cast<const char*>(begin), size_t(p - begin));
    rest = std::string_view(reinterpret_cast<const char*>(p), size_t(e - p));
    return true;
}

bool sp_GetToken(std::string_view& rest, std::string_view delimiters, std::string_view& token) {
    return TokenScanner(delimiters).next(rest, token);
}

bool sp_GetToken(std::string_view& rest, std::string_view delimiters, YString& token) {
    std::string_view view;
    if (!sp_GetToken(rest, delimiters, view)) return false;
    token.assign(view);
    return true;
}

bool sp_StrTok(std::string_view& rest, std::string_view delimiters, YString& token) {
    const size_t begin = rest.find_first_not_of(delimiters);
    if (begin == std::string_view::npos) {
        rest = {};
        return false;
    }
    std::string text;
    char quote = '\0';   // the quote character of an open quoted stretch
    size_t k = begin;
    for (; k < rest.size(); ++k) {
        const char c = rest[k];
        if (quote) {
            if (c == quote) quote = '\0';
            else text += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (delimiters.find(c) != std::string_view::npos) {
            break;
        } else {
            text += c;
        }
    }
    token.assign(text);
    rest.remove_prefix(k);
    return true;
}

bool sp_ReadNextNonBlankLine(FILE* f, YString& line, long long* lineCounter) {
    line.assign({});
    if (!f) return false;
    GetlineBuffer buffer;
    for (;;) {
        errno = 0;
        const ssize_t n = getline(&buffer.data, &buffer.capacity, f);
        if (n < 0) {
            // A line that did not fit in memory is not the end of the file.
            if (errno == ENOMEM && !std::feof(f)) throw std::bad_alloc();
            return false;
        }
        if (lineCounter) ++*lineCounter;
        const std::string_view text = withoutLineEnd(std::string_view(buffer.data, static_cast<size_t>(n)));
        if (text.find_first_not_of(Blanks) != std::string_view::npos) {
            line.assign(text);
            return true;
        }
    }
}

void sp_FillString(const YList<YString>& list, char** slots) {
    if (!slots) return;
    for (const YString& s : list) *slots++ = s.copy();
}
