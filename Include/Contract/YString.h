// The host's narrow string: NUL-terminated, counted, its buffer allocated with
// malloc so that `copy` and `detach` can hand strings to result slots, which
// take ownership and free them with free().
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "PrintfArg.h"

class TempString;

class YString {
public:
    YString() noexcept = default;
    YString(const char* s);
    YString(const char* s, size_t n);
    YString(std::string_view s) : YString(s.data(), s.size()) {}
    YString(const std::string& s) : YString(s.data(), s.size()) {}
    explicit YString(int v);
    explicit YString(long long v);
    explicit YString(double v);   // shortest text that reads back to the same double
    YString(const YString& o) : YString(o.data(), o.len_) {}
    YString(YString&& o) noexcept;
    ~YString();

    YString& operator=(const YString& o);
    YString& operator=(YString&& o) noexcept;
    YString& operator=(const char* s);

    const char* c_str() const noexcept { return buf_ ? buf_ : ""; }
    const char* data() const noexcept { return c_str(); }
    operator const char*() const noexcept { return c_str(); }
    std::string_view view() const noexcept { return {c_str(), len_}; }
    std::string str() const { return std::string(c_str(), len_); }
    size_t length() const noexcept { return len_; }
    size_t size() const noexcept { return len_; }
    bool empty() const noexcept { return len_ == 0; }

    // Out-of-range reads give '\0'; writes past the end are ignored.
    char operator[](size_t i) const noexcept { return i < len_ ? buf_[i] : '\0'; }

    // Replaces the contents; `s` may be a view of this very string.
    YString& assign(std::string_view s);
    YString& append(std::string_view s);
    YString& operator+=(std::string_view s) { return append(s); }
    YString& operator+=(const YString& s) { return append(s.view()); }
    YString& operator+=(char c) { return append(std::string_view(&c, 1)); }
    // Without these two, a literal or a std::string would match both overloads above.
    YString& operator+=(const char* s) { return append(s ? std::string_view(s) : std::string_view()); }
    YString& operator+=(const std::string& s) { return append(s); }
    TempString concat(std::string_view s) const;

    // A malloc'd copy of the text, owned by the caller.
    char* copy() const;
    // Hands over the string's own malloc'd buffer; the string is left empty.
    char* detach() noexcept;

    // Unsigned 32-bit hash of the text (FNV-1a over ASCII-folded bytes), so
    // texts that differ only in letter case hash alike; hashValueNoCase is the
    // same value, kept for callers that say which they mean.
    uint32_t hashValue() const noexcept;
    uint32_t hashValueNoCase() const noexcept;

    bool beginsWith(std::string_view prefix, bool ignoreCase = false) const noexcept;
    bool endsWith(std::string_view suffix, bool ignoreCase = false) const noexcept;
    // Compares as paths: case-insensitive, '/' and '\' equal; <0, 0 or >0.
    int comparePath(std::string_view other) const noexcept;
    int compare(std::string_view other) const noexcept;
    int compareNoCase(std::string_view other) const noexcept;

    YString& tolower();
    YString& toupper();
    YString& stripLeading(std::string_view chars = " \t\r\n");
    YString& stripTrailing(std::string_view chars = " \t\r\n");
    YString& strip(std::string_view chars = " \t\r\n") { return stripTrailing(chars).stripLeading(chars); }
    // Replaces the first occurrence of `from` at or after `start`; false when none.
    bool substitute(std::string_view from, std::string_view to, size_t start = 0);
    // The same replacement, returning the position just after the inserted text
    // (where a repeated search continues), or npos when nothing was found.
    size_t substituteNext(std::string_view from, std::string_view to, size_t start = 0);
    // Replaces every occurrence, left to right, never rescanning replaced text;
    // returns the number replaced. An empty `from` replaces nothing.
    size_t substituteAll(std::string_view from, std::string_view to);
    // Next token separated by any of `delims`, starting at `pos` (advanced past
    // the token and one delimiter). Empty with pos == npos when none is left.
    YString strtok(size_t& pos, std::string_view delims) const;
    // Splits off the head: returns the text before the first of `delims` and
    // keeps the text after it; without a delimiter returns the whole text and
    // leaves the string empty.
    YString strtok(std::string_view delims);
    // Replaces the contents with the formatted text (never crashes, see cv::formatPrintf).
    YString& sprintf(const char* format, std::initializer_list<PrintfArg> args = {});
    // Makes sure the string owns a buffer of its own (always true here: kept for
    // callers that expect copy-on-write strings).
    YString& unique() { return *this; }

    size_t find(std::string_view s, size_t from = 0) const noexcept { return view().find(s, from); }
    YString substr(size_t pos, size_t n = std::string_view::npos) const;

    friend bool operator==(const YString& a, const YString& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const YString& a, const char* b) noexcept { return a.view() == std::string_view(b ? b : ""); }
    friend bool operator<(const YString& a, const YString& b) noexcept { return a.view() < b.view(); }

    static constexpr size_t npos = std::string_view::npos;

private:
    void reserve(size_t n);
    char* buf_ = nullptr;
    size_t len_ = 0;
    size_t cap_ = 0;
};

// The result of `concat`: a string that further `concat` calls extend in place.
class TempString : public YString {
public:
    using YString::YString;
    TempString(YString s) : YString(std::move(s)) {}
    TempString&& concat(std::string_view s) && { append(s); return std::move(*this); }
    TempString& concat(std::string_view s) & { append(s); return *this; }
};

struct YStringHashNoCase {
    size_t operator()(const YString& s) const noexcept { return s.hashValueNoCase(); }
};
struct YStringEqualNoCase {
    bool operator()(const YString& a, const YString& b) const noexcept { return a.compareNoCase(b.view()) == 0; }
};

// The text without the blanks at either end: spaces and tabs, or the bytes
// given.
namespace cv {
std::string_view trimBlanks(std::string_view text, std::string_view blanks = " \t");
}  // namespace cv

// ASCII case folding: names of functions, vectors and options, option words
// and keys compare ignoring ASCII case, whatever the locale.
std::string lowerAscii(std::string_view s);
bool equalNoCase(std::string_view a, std::string_view b) noexcept;
// Path texts take '\' for '/', and ignore ASCII case when asked (the
// platform's rule is PathUtil.h's equalPath and hashPath).
bool equalPathText(std::string_view a, std::string_view b, bool ignoreCase) noexcept;
// FNV-1a hashes that fold exactly as equalNoCase and equalPathText compare,
// so texts that compare equal always hash alike.
uint32_t hashNoCase(std::string_view s) noexcept;
uint32_t hashPathText(std::string_view s, bool ignoreCase) noexcept;
