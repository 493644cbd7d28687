// Pieces the CSV, raw and Touchstone readers share: whole-file reading,
// number parsing, error reporting and small text helpers. Internal to
// Host/Core/Loaders.
#pragma once

#include "Loaders.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cv::load::detail {

// The whole file in one block: parsers then work on views with no copies.
// A regular file is mapped (reading it into fresh memory costs more than the
// parsing on large files); pipes and other files are read.
class FileBuffer {
public:
    FileBuffer() = default;
    FileBuffer(FileBuffer&& other) noexcept { *this = std::move(other); }
    FileBuffer& operator=(FileBuffer&& other) noexcept;
    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;
    ~FileBuffer();

    std::string_view view() const { return {data_, size_}; }

private:
    friend FileBuffer readWholeFile(const std::string& path, bool populate);
    std::unique_ptr<char[]> heap_;
    void* mapping_ = nullptr;
    const char* data_ = "";
    std::size_t size_ = 0;
};

// populate false: a mapped file's pages are read only when touched, for a
// caller that looks at the start of the file alone.
FileBuffer readWholeFile(const std::string& path, bool populate = true);

[[noreturn]] void fail(const std::string& file, int64_t line, const std::string& message);

// A C-locale number: what std::from_chars takes, plus a leading '+', and the
// "1.#INF" / "1.#IND" spellings of old Windows C libraries. Out-of-range
// values become +-inf or +-0 like strtod's; the whole text must be used.
bool parseReal(std::string_view text, double& value);
// The same for a number at the start of text: how many characters it used (0: none).
std::size_t parseLeadingReal(std::string_view text, double& value);
// parseReal plus an optional SPICE scale suffix: f p n u m k meg g t mil
// (case-insensitive, so "m" is milli and "meg" mega) and the micro sign.
bool parseEngineering(std::string_view text, double& value);
bool parseInteger(std::string_view text, int64_t& value);

// UTF-16 text (a byte order mark, or ASCII letters with zero bytes between).
bool isUtf16(std::string_view bytes);

std::string_view trim(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
std::string lowerCase(std::string_view text);
// A piece of file text quoted for a message: at most a few dozen characters,
// control and non-ASCII bytes shown as '?', so binary junk stays readable.
std::string quoteForMessage(std::string_view text);

// Division labels for runs that carry names (plot titles, plot names): the
// words all names share at the start and at the end are dropped, so the
// titles "filter r2=500" and "filter r2=1k" give "r2=500" and "r2=1k". Names
// that are missing or not all different give no labels (an empty vector).
std::vector<std::string> labelsFromNames(const std::vector<std::string>& names);
std::vector<std::string> numberedLabels(std::size_t count);  // "1", "2", ...
// The words all names share at the start ("filter" above), or "".
std::string sharedLeadingWords(const std::vector<std::string>& names);

// Warns about columns whose names only differ in case or not at all: the
// host binds vectors by name, so one of them would hide the other.
void warnAboutDuplicateNames(DataSet& dataSet);

DataSet parseCsv(std::string_view text, const std::string& path);
DataSet parseSpiceRaw(std::string_view bytes, const std::string& path);
bool looksLikeSpiceRaw(std::string_view bytes);

// Touchstone: a name that ends in ".sNp" or ".ts" (any case), and text that
// starts like a version 2 file.
bool hasTouchstoneName(std::string_view path);
bool looksLikeTouchstone(std::string_view bytes);
DataSet parseTouchstone(std::string_view bytes, const std::string& path);

}  // namespace cv::load::detail
