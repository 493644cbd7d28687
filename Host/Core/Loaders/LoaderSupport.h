// Pieces the CSV, raw and Touchstone readers share: whole-file reading,
// number parsing, error reporting and small text helpers. Internal to
// Host/Core/Loaders.
#pragma once

#include "Loaders.h"
#include "FaultGuard.h"

#include <cstddef>
#include <exception>
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
    // Mapped, not read: its pages come from the file as they are touched,
    // and a fault reading them means the file shrank meanwhile.
    bool mapped() const { return mapping_ != nullptr; }
    // The file as it was when it was opened (zero for a pipe).
    const FileIdentity& identity() const { return identity_; }

private:
    friend FileBuffer readWholeFile(const std::string& path, bool populate);
    std::unique_ptr<char[]> heap_;
    void* mapping_ = nullptr;
    const char* data_ = "";
    std::size_t size_ = 0;
    FileIdentity identity_;
};

// Page advice for a part of a mapped file read once: its pages are read in
// ahead of the reading (fewer faults), and afterwards let go of, so that a
// file read in pieces never counts more than the pieces in the process's
// memory. Both do nothing unless `mapped` (releasing memory that is not a
// file's mapping would clear it).
void prefaultPages(bool mapped, const char* from, std::size_t bytes);
void releasePages(bool mapped, const char* from, std::size_t bytes);

// populate false: a mapped file's pages are read only when touched, for a
// caller that looks at the start of the file alone.
FileBuffer readWholeFile(const std::string& path, bool populate = true);

[[noreturn]] void fail(const std::string& file, int64_t line, const std::string& message);

// One piece of reading a mapped file, on any thread while a FaultHandlers
// lives (LazyColumns::read holds one): a fault because another program cut
// the file short meanwhile becomes a LoadError instead of a crash. The body
// allocates nothing while it reads the mapping, so nothing is lost on the way out.
template <typename Body>
void readGuarded(const std::string& path, Body&& body) {
    std::exception_ptr error;
    auto run = [&] {
        try {
            body();
        } catch (...) {
            error = std::current_exception();
        }
    };
    using Run = decltype(run);
    if (!runFaultGuardedHere([](void* r) { (*static_cast<Run*>(r))(); }, &run))
        fail(path, 0, "the file changed on disk while it was read: load it again");
    if (error) std::rethrow_exception(error);
}

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

// The openers: names, layout and a LazyColumns reader for the values (see
// Loaders.h); `file` is the file mapped without reading its pages.
DataSet openCsv(const FileBuffer& file, const std::string& path);
DataSet openSpiceRaw(const FileBuffer& file, const std::string& path);
bool looksLikeSpiceRaw(std::string_view bytes);

// Touchstone: a name that ends in ".sNp" or ".ts" (any case), and text that
// starts like a version 2 file.
bool hasTouchstoneName(std::string_view path);
bool looksLikeTouchstone(std::string_view bytes);
DataSet parseTouchstone(std::string_view bytes, const std::string& path);

}  // namespace cv::load::detail
