// YString: a counted string whose buffer comes from malloc/realloc, so that its
// text can be handed to result slots that free() it.
#include "YString.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>

namespace {

int lowerByte(char c) { return std::tolower(static_cast<unsigned char>(c)); }
int upperByte(char c) { return std::toupper(static_cast<unsigned char>(c)); }
int plainByte(char c) { return static_cast<unsigned char>(c); }
// Paths compare without regard to letter case or to the kind of slash.
int pathByte(char c) { return c == '\\' ? '/' : lowerByte(c); }

template <class Fold>
int compareFolded(std::string_view a, std::string_view b, Fold fold) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool sameText(std::string_view a, std::string_view b, bool ignoreCase) {
    return a.size() == b.size() && (ignoreCase ? compareFolded(a, b, lowerByte) : a.compare(b)) == 0;
}

template <class Fold>
uint32_t fnv1a(std::string_view s, Fold fold) {
    uint32_t h = 2166136261u;
    for (char c : s) {
        h ^= static_cast<uint32_t>(fold(c)) & 0xFFu;
        h *= 16777619u;
    }
    return h;
}

template <class Number>
YString numberText(Number v) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return YString(text, static_cast<size_t>(r.ptr - text));
}

char* mallocOrThrow(size_t n) {
    void* p = std::malloc(n);
    if (!p) throw std::bad_alloc();
    return static_cast<char*>(p);
}

}  // namespace

YString::YString(const char* s) : YString(s, s ? std::strlen(s) : 0) {}

YString::YString(const char* s, size_t n) {
    if (s && n) append(std::string_view(s, n));
}

YString::YString(int v) : YString(numberText(v)) {}
YString::YString(long long v) : YString(numberText(v)) {}
YString::YString(double v) : YString(numberText(v)) {}

YString::YString(YString&& o) noexcept : buf_(o.buf_), len_(o.len_), cap_(o.cap_) {
    o.buf_ = nullptr;
    o.len_ = o.cap_ = 0;
}

YString::~YString() { std::free(buf_); }

YString& YString::operator=(const YString& o) {
    return this == &o ? *this : assign(o.view());
}

YString& YString::operator=(YString&& o) noexcept {
    if (this != &o) {
        std::free(buf_);
        buf_ = o.buf_;
        len_ = o.len_;
        cap_ = o.cap_;
        o.buf_ = nullptr;
        o.len_ = o.cap_ = 0;
    }
    return *this;
}

YString& YString::operator=(const char* s) { return assign(s ? std::string_view(s) : std::string_view()); }

YString& YString::assign(std::string_view s) {
    // When `s` lies in this buffer, append moves it down to the start.
    len_ = 0;
    append(s);
    if (buf_) buf_[len_] = '\0';
    return *this;
}

void YString::reserve(size_t n) {
    if (n < cap_) return;   // room for n bytes and the NUL already
    if (n >= static_cast<size_t>(-1) / 2) throw std::bad_alloc();
    size_t cap = cap_ < 16 ? 16 : cap_ * 2;
    if (cap < n + 1) cap = n + 1;
    void* p = std::realloc(buf_, cap);
    if (!p) throw std::bad_alloc();
    buf_ = static_cast<char*>(p);
    cap_ = cap;
}

YString& YString::append(std::string_view s) {
    if (s.empty()) return *this;
    if (s.size() > static_cast<size_t>(-1) / 2 - len_) throw std::bad_alloc();
    // The text may be part of this string: remember where, as realloc can move it.
    const std::less<const char*> before;
    const bool inside = buf_ && !before(s.data(), buf_) && before(s.data(), buf_ + cap_);
    const size_t offset = inside ? static_cast<size_t>(s.data() - buf_) : 0;
    reserve(len_ + s.size());
    std::memmove(buf_ + len_, inside ? buf_ + offset : s.data(), s.size());
    len_ += s.size();
    buf_[len_] = '\0';
    return *this;
}

TempString YString::concat(std::string_view s) const {
    TempString out(*this);
    out.append(s);
    return out;
}

char* YString::copy() const {
    char* p = mallocOrThrow(len_ + 1);
    if (len_) std::memcpy(p, buf_, len_);
    p[len_] = '\0';
    return p;
}

char* YString::detach() noexcept {
    char* p = buf_;
    if (!p) {
        // Result slots always get a buffer they can free, also for "".
        p = static_cast<char*>(std::malloc(1));
        if (!p) std::abort();
        *p = '\0';
    }
    buf_ = nullptr;
    len_ = cap_ = 0;
    return p;
}

// Folded: scripts' keys compare ignoring case, and keys that compare equal
// must hash alike, also in tables that only see this value.
uint32_t YString::hashValue() const noexcept { return fnv1a(view(), lowerByte); }
uint32_t YString::hashValueNoCase() const noexcept { return fnv1a(view(), lowerByte); }

bool YString::beginsWith(std::string_view prefix, bool ignoreCase) const noexcept {
    return prefix.size() <= len_ && sameText(view().substr(0, prefix.size()), prefix, ignoreCase);
}

bool YString::endsWith(std::string_view suffix, bool ignoreCase) const noexcept {
    return suffix.size() <= len_ && sameText(view().substr(len_ - suffix.size()), suffix, ignoreCase);
}

int YString::comparePath(std::string_view other) const noexcept { return compareFolded(view(), other, pathByte); }
int YString::compare(std::string_view other) const noexcept { return compareFolded(view(), other, plainByte); }
int YString::compareNoCase(std::string_view other) const noexcept { return compareFolded(view(), other, lowerByte); }

YString& YString::tolower() {
    for (size_t i = 0; i < len_; ++i) buf_[i] = static_cast<char>(lowerByte(buf_[i]));
    return *this;
}

YString& YString::toupper() {
    for (size_t i = 0; i < len_; ++i) buf_[i] = static_cast<char>(upperByte(buf_[i]));
    return *this;
}

YString& YString::stripLeading(std::string_view chars) {
    const size_t first = view().find_first_not_of(chars);
    const size_t drop = first == npos ? len_ : first;
    if (drop) {
        std::memmove(buf_, buf_ + drop, len_ - drop);
        len_ -= drop;
        buf_[len_] = '\0';
    }
    return *this;
}

YString& YString::stripTrailing(std::string_view chars) {
    const size_t last = view().find_last_not_of(chars);
    const size_t keep = last == npos ? 0 : last + 1;
    if (keep < len_) {
        len_ = keep;
        buf_[len_] = '\0';
    }
    return *this;
}

size_t YString::substituteNext(std::string_view from, std::string_view to, size_t start) {
    if (from.empty() || start > len_) return npos;
    const size_t at = view().find(from, start);
    if (at == npos) return npos;
    // Built aside: `from` or `to` may be views of this string.
    YString out(view().substr(0, at));
    out.append(to).append(view().substr(at + from.size()));
    *this = std::move(out);
    return at + to.size();
}

bool YString::substitute(std::string_view from, std::string_view to, size_t start) {
    return substituteNext(from, to, start) != npos;
}

size_t YString::substituteAll(std::string_view from, std::string_view to) {
    if (from.empty()) return 0;
    YString out;
    size_t count = 0, done = 0;
    for (size_t at = find(from); at != npos; at = find(from, done)) {
        out.append(view().substr(done, at - done)).append(to);
        done = at + from.size();
        ++count;
    }
    if (count) {
        out.append(view().substr(done));
        *this = std::move(out);
    }
    return count;
}

YString YString::strtok(size_t& pos, std::string_view delims) const {
    const size_t begin = pos < len_ ? view().find_first_not_of(delims, pos) : npos;
    if (begin == npos) {
        pos = npos;
        return {};
    }
    const size_t end = view().find_first_of(delims, begin);
    pos = end == npos ? len_ : end + 1;
    return substr(begin, end == npos ? npos : end - begin);
}

YString YString::strtok(std::string_view delims) {
    const size_t end = view().find_first_of(delims);
    YString head = end == npos ? std::move(*this) : substr(0, end);
    *this = end == npos ? YString() : substr(end + 1);
    return head;
}

YString& YString::sprintf(const char* format, std::initializer_list<PrintfArg> args) {
    // Formatted aside: the arguments may be views of this string.
    return *this = YString(cv::formatPrintf(format, args));
}

YString YString::substr(size_t pos, size_t n) const {
    return pos >= len_ ? YString() : YString(view().substr(pos, n));
}

namespace {

char foldAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
char foldSeparator(char c) noexcept { return c == '\\' ? '/' : c; }
char foldPathNoCase(char c) noexcept { return c == '\\' ? '/' : foldAscii(c); }

template <char (*fold)(char) noexcept>
bool equalFolded(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (fold(a[k]) != fold(b[k])) return false;
    return true;
}

}  // namespace

std::string_view cv::trimBlanks(std::string_view text, std::string_view blanks) {
    while (!text.empty() && blanks.find(text.front()) != std::string_view::npos) text.remove_prefix(1);
    while (!text.empty() && blanks.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
    return text;
}

std::string lowerAscii(std::string_view s) {
    std::string k(s);
    for (char& c : k) c = foldAscii(c);
    return k;
}

bool equalNoCase(std::string_view a, std::string_view b) noexcept { return equalFolded<foldAscii>(a, b); }
bool equalPathText(std::string_view a, std::string_view b, bool ignoreCase) noexcept {
    return ignoreCase ? equalFolded<foldPathNoCase>(a, b) : equalFolded<foldSeparator>(a, b);
}
uint32_t hashNoCase(std::string_view s) noexcept { return fnv1a(s, foldAscii); }
uint32_t hashPathText(std::string_view s, bool ignoreCase) noexcept {
    return ignoreCase ? fnv1a(s, foldPathNoCase) : fnv1a(s, foldSeparator);
}
