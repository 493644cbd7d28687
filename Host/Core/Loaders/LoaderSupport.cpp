#include "LoaderSupport.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_set>
#include <utility>

namespace cv::load {

LoadError::LoadError(const std::string& file, int64_t line, const std::string& message)
    : std::runtime_error(file + ": " + (line > 0 ? "line " + std::to_string(line) + ": " : std::string()) +
                         message),
      file_(file),
      message_(message),
      line_(line) {}

}  // namespace cv::load

namespace cv::load::detail {

void fail(const std::string& file, int64_t line, const std::string& message) {
    throw LoadError(file, line, message);
}

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
    if (this != &other) {
        if (mapping_ != nullptr) ::munmap(mapping_, size_);
        heap_ = std::move(other.heap_);
        mapping_ = std::exchange(other.mapping_, nullptr);
        data_ = std::exchange(other.data_, "");
        size_ = std::exchange(other.size_, 0);
        identity_ = other.identity_;
    }
    return *this;
}

FileBuffer::~FileBuffer() {
    if (mapping_ != nullptr) ::munmap(mapping_, size_);
    mapping_ = nullptr;
}

namespace {

struct DescriptorCloser {
    int fd;
    ~DescriptorCloser() { ::close(fd); }
};

}  // namespace

FileBuffer readWholeFile(const std::string& path, bool populate) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(path, 0, std::string("cannot open: ") + std::strerror(errno));
    const DescriptorCloser closer{fd};
    struct stat status {};
    if (::fstat(fd, &status) != 0) fail(path, 0, std::string("cannot read: ") + std::strerror(errno));
    if (S_ISDIR(status.st_mode)) fail(path, 0, "cannot load a directory");

    FileBuffer buffer;
    if (S_ISREG(status.st_mode))
        buffer.identity_ = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
                            static_cast<int64_t>(status.st_size),
                            static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
    if (S_ISREG(status.st_mode) && status.st_size > 0) {
        if (static_cast<std::uintmax_t>(status.st_size) > std::numeric_limits<std::size_t>::max() / 2)
            fail(path, 0, "file too large to load");
        const auto size = static_cast<std::size_t>(status.st_size);
        void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | (populate ? MAP_POPULATE : 0), fd, 0);
        if (mapping != MAP_FAILED) {
            buffer.mapping_ = mapping;
            buffer.data_ = static_cast<const char*>(mapping);
            buffer.size_ = size;
            return buffer;
        }
    }
    // A pipe, a device, or a file that cannot be mapped: read until the end.
    try {
        std::size_t capacity = S_ISREG(status.st_mode) ? static_cast<std::size_t>(status.st_size) + 1 : 1 << 16;
        std::size_t size = 0;
        buffer.heap_ = std::make_unique_for_overwrite<char[]>(capacity);
        for (;;) {
            if (size == capacity) {
                auto bigger = std::make_unique_for_overwrite<char[]>(capacity * 2);
                std::memcpy(bigger.get(), buffer.heap_.get(), size);
                buffer.heap_ = std::move(bigger);
                capacity *= 2;
            }
            const ssize_t got = ::read(fd, buffer.heap_.get() + size, capacity - size);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) fail(path, 0, std::string("read error: ") + std::strerror(errno));
            if (got == 0) break;
            size += static_cast<std::size_t>(got);
        }
        buffer.data_ = buffer.heap_.get();
        buffer.size_ = size;
    } catch (const std::bad_alloc&) {
        fail(path, 0, "file too large to load into memory");
    }
    return buffer;
}

namespace {

// The whole pages inside [from, from + bytes), or outward to whole pages.
std::pair<char*, std::size_t> pagesOf(const char* from, std::size_t bytes, bool inward) {
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    auto begin = reinterpret_cast<std::uintptr_t>(from), end = begin + bytes;
    begin = inward ? (begin + page - 1) & ~(page - 1) : begin & ~(page - 1);
    end = inward ? end & ~(page - 1) : (end + page - 1) & ~(page - 1);
    return {reinterpret_cast<char*>(begin), end > begin ? end - begin : 0};
}

}  // namespace

void prefaultPages(bool mapped, const char* from, std::size_t bytes) {
    if (!mapped || bytes == 0) return;
    const auto [at, length] = pagesOf(from, bytes, false);
#ifdef MADV_POPULATE_READ
    // One call maps the pages in; kernels before 5.14 refuse it, and then
    // read-ahead is asked for instead.
    if (::madvise(at, length, MADV_POPULATE_READ) == 0) return;
#endif
    ::madvise(at, length, MADV_WILLNEED);
}

void releasePages(bool mapped, const char* from, std::size_t bytes) {
    if (!mapped) return;
    // Outward to whole pages: a page shared with a neighbouring piece that is
    // still being read is faulted in again there, which is all it costs,
    // since the file's pages stay in the page cache and only this mapping
    // lets them go. (Releasing only the pages wholly inside left every
    // boundary's pages mapped, and a kernel that maps a file's pages in
    // large folios maps many around each boundary.)
    const auto [at, length] = pagesOf(from, bytes, false);
    if (length > 0) ::madvise(at, length, MADV_DONTNEED);
}

namespace {

// from_chars leaves the value alone when it is out of range; decide between
// overflow and underflow from the exponent's sign, as strtod would.
double outOfRangeValue(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::size_t e = text.find_first_of("eE");
    const bool tiny = e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-';
    const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    return negative ? -magnitude : magnitude;
}

}  // namespace

std::size_t parseLeadingReal(std::string_view text, double& value) {
    std::size_t start = 0;
    if (!text.empty() && text.front() == '+') {
        start = 1;
        if (text.size() > 1 && (text[1] == '-' || text[1] == '+')) return 0;
    }
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        value = outOfRangeValue(text.substr(0, static_cast<std::size_t>(end - text.data())));
    } else if (ec != std::errc()) {
        return 0;
    }
    std::size_t used = static_cast<std::size_t>(end - text.data());
    // "1.#INF00", "-1.#IND00", "1.#QNAN0e+000": what follows "1.#" names the value.
    if (used < text.size() && text[used] == '#' && used >= 2 && text.substr(used - 2, 2) == "1.") {
        const std::string_view rest = text.substr(used + 1);
        const bool negative = text[start] == '-';
        for (const std::string_view kind : {"INF", "IND", "QNAN", "SNAN"}) {
            if (!startsWithNoCase(rest, kind)) continue;
            value = kind == "INF" ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
            if (negative) value = -value;
            used += 1 + kind.size();
            while (used < text.size() && std::string_view("0123456789eE+-").find(text[used]) != std::string_view::npos)
                ++used;
            break;
        }
    }
    return used;
}

bool parseReal(std::string_view text, double& value) {
    return !text.empty() && parseLeadingReal(text, value) == text.size();
}

bool parseEngineering(std::string_view text, double& value) {
    if (text.empty()) return false;
    const std::size_t used = parseLeadingReal(text, value);
    if (used == 0) return false;
    const std::string_view suffix = text.substr(used);
    if (suffix.empty()) return true;
    struct Scale {
        std::string_view suffix;
        double factor;
    };
    // The suffix must be all that follows the number: "5mV" is refused rather
    // than read the way SPICE would, since a CSV column holds no units.
    static constexpr Scale scales[] = {
        {"meg", 1e6}, {"mil", 25.4e-6}, {"t", 1e12}, {"g", 1e9},   {"k", 1e3},
        {"m", 1e-3},  {"u", 1e-6},      {"n", 1e-9}, {"p", 1e-12}, {"f", 1e-15},
        {"\xc2\xb5", 1e-6},  // micro sign, UTF-8
        {"\xce\xbc", 1e-6},  // Greek small mu, UTF-8
    };
    for (const Scale& scale : scales) {
        if (equalsNoCase(suffix, scale.suffix)) {
            value *= scale.factor;
            return true;
        }
    }
    return false;
}

bool parseInteger(std::string_view text, int64_t& value) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool isUtf16(std::string_view bytes) {
    if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF')))
        return true;
    return bytes.size() >= 4 && bytes[0] != 0 && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0;
}

std::string_view trim(std::string_view text) {
    // By hand: find_first_not_of costs a library call per character, and
    // this runs for every CSV field.
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    std::size_t first = 0, last = text.size();
    while (first < last && isBlank(text[first])) ++first;
    while (last > first && isBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

namespace {
char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiLower(c);
    return out;
}

std::string quoteForMessage(std::string_view text) {
    constexpr std::size_t maxShown = 40;
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < maxShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    if (text.size() > maxShown) out += "...";
    out += "'";
    return out;
}

namespace {

bool isWordSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';' || c == ':'; }

// Length of the start all names share, cut back to the end of a whole word
// (the separator included), so "r2=500"/"r2=1k" do not lose their "r2=".
std::size_t sharedPrefixLength(const std::vector<std::string>& names) {
    std::size_t length = names.front().size();
    for (const std::string& name : names) {
        std::size_t i = 0;
        while (i < length && i < name.size() && name[i] == names.front()[i]) ++i;
        length = i;
    }
    while (length > 0 && !isWordSeparator(names.front()[length - 1])) --length;
    return length;
}

// The same from the end, within what is left after the prefix.
std::size_t sharedSuffixLength(const std::vector<std::string>& names, std::size_t prefix) {
    std::size_t length = std::numeric_limits<std::size_t>::max();
    for (const std::string& name : names) length = std::min(length, name.size() - prefix);
    const std::string& first = names.front();
    for (const std::string& name : names) {
        std::size_t i = 0;
        while (i < length && name[name.size() - 1 - i] == first[first.size() - 1 - i]) ++i;
        length = i;
    }
    while (length > 0 && !isWordSeparator(first[first.size() - length])) --length;
    return length;
}

}  // namespace

std::vector<std::string> labelsFromNames(const std::vector<std::string>& names) {
    // A set, not pairwise comparisons: a Monte Carlo file has thousands of runs.
    std::unordered_set<std::string_view> seen;
    for (const std::string& name : names)
        if (trim(name).empty() || !seen.insert(name).second) return {};
    if (names.size() < 2) return {};
    const std::size_t prefix = sharedPrefixLength(names);
    const std::size_t suffix = sharedSuffixLength(names, prefix);
    std::vector<std::string> labels;
    for (const std::string& name : names) {
        const std::string_view label = trim(std::string_view(name).substr(prefix, name.size() - prefix - suffix));
        labels.emplace_back(label.empty() ? trim(name) : label);
    }
    // Trimming can make two labels equal ("a b" and "a  b"): then the full names.
    seen.clear();
    for (const std::string& label : labels)
        if (!seen.insert(label).second) return names;
    return labels;
}

std::vector<std::string> numberedLabels(std::size_t count) {
    std::vector<std::string> labels;
    for (std::size_t i = 0; i < count; ++i) labels.push_back(std::to_string(i + 1));
    return labels;
}

std::string sharedLeadingWords(const std::vector<std::string>& names) {
    if (names.empty()) return {};
    return std::string(trim(std::string_view(names.front()).substr(0, sharedPrefixLength(names))));
}

void warnAboutDuplicateNames(DataSet& dataSet) {
    std::vector<const Signal*> all{&dataSet.reference};
    for (const Signal& signal : dataSet.signals) all.push_back(&signal);
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (equalsNoCase(all[i]->name, all[j]->name)) {
                dataSet.warnings.push_back("columns " + std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                                           " are both named '" + all[i]->name + "'");
                break;
            }
        }
    }
}

}  // namespace cv::load::detail
