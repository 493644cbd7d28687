// INI files: sections of "key=value" lines, read and changed in place.
//
// The rules, the ones INI files have always had:
//   - "[name]" starts a section; the name runs to the first ']' and its
//     blanks (spaces, tabs) around it are trimmed. "key=value" is a key line:
//     the key runs to the first '=', both sides trimmed of blanks. Quotes are
//     ordinary characters (not stripped).
//   - Sections and keys compare ignoring ASCII case. The first occurrence
//     wins: a later section of the same name, or a later key of the same
//     name in a section, is never read (and is kept as it is on write).
//   - A line whose first non-blank character is ';' is a comment. '#' is not
//     special (a "#x=1" line is a key named "#x"), and a ';' after a value is
//     part of the value.
//   - Lines before the first section, lines with no '=' or an empty key, and
//     anything else that is neither a section nor a key are not read, and
//     are written back byte for byte: a file is never rewritten shorter than
//     what it held, whatever it contains (binary data, text in any encoding,
//     CR LF or LF line ends, no final line end).
//
// Writing changes only what it must: the value of the first occurrence of
// the key (everything else on its line stays, the blanks around '=' too), a
// new key after the last key of the first occurrence of the section, a new
// section at the end of the file; new lines take the file's line end. A
// missing value deletes every occurrence of the key in that section. A file
// is written only as a whole, into a temporary file renamed over it, while
// the directory's update lock is held (AtomicFile.h): two processes changing
// different keys of one file both keep their change. A file that cannot be
// read whole (unreadable, not a regular file, larger than the memory limit)
// is never written.
//
// File names are plain paths: relative ones are taken from the current
// directory (there is no system directory that bare names refer to).
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The parsed lines of one INI text, and the edits above on them.
class IniDocument {
public:
    IniDocument() = default;
    explicit IniDocument(std::string_view text);

    // The value of `key` in the first section `section`.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // The keys of the first section `section`, each once (first spelling), in
    // file order; empty when there is no such section.
    std::vector<std::string> keyNames(std::string_view section) const;
    // The key lines of that section as name and value pairs, duplicates included.
    std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;
    // Every section name once (first spelling), in file order.
    std::vector<std::string> sectionNames() const;
    bool hasSection(std::string_view section) const;

    // Sets (or adds) the key. Names must be valid (see validName); the value
    // must hold no line end.
    void set(std::string_view section, std::string_view key, std::string_view value);
    // Adds keys that the section does not hold, in order, where set() would
    // put them one by one (after the section's last key, or in a new section
    // at the end), in time linear in the document rather than per key.
    void appendKeys(std::string_view section, const std::vector<std::pair<std::string, std::string>>& keys);
    // Removes every occurrence of the key in the first section of that name;
    // true when one was there.
    bool remove(std::string_view section, std::string_view key);
    // Removes, in one pass, every key of that section whose name `drop` picks.
    void removeKeys(std::string_view section, const std::function<bool(std::string_view)>& drop);
    // Removes every section of that name with all its lines; true when one
    // was there.
    bool removeSection(std::string_view section);

    // The whole text: the original bytes with the edits.
    std::string text() const;

    // Whether a name can be written and read back as itself: not empty, no
    // blanks at either end, no line end, and for a section no ']', for a key
    // no '=' and no leading ';' or '['.
    static bool validSection(std::string_view name);
    static bool validKey(std::string_view name);
    static bool validValue(std::string_view value);

private:
    enum class Kind { Other, Section, Key };
    struct Line {
        std::string raw;  // the bytes of the line with its line end
        Kind kind = Kind::Other;
        // Section: the trimmed name. Key: the trimmed key, and the value's
        // place in `raw` (trimmed).
        size_t nameAt = 0, nameLen = 0, valueAt = 0, valueLen = 0;
        std::string_view name() const { return std::string_view(raw).substr(nameAt, nameLen); }
        std::string_view val() const { return std::string_view(raw).substr(valueAt, valueLen); }
    };
    static Line parseLine(std::string raw);
    // Index of the first header of that name, or lines_.size().
    size_t findSection(std::string_view section) const;
    // One past the last line of the section whose header is at `header`.
    size_t sectionEnd(size_t header) const;
    void endWithLineEnd(size_t line);
    std::string lineEnd() const;

    std::vector<Line> lines_;
};

// Reads the whole file: true with its bytes when it is a regular file read to
// the end; `missing` tells a file that does not exist (then `text` is empty
// and the result false). When reading stops early, `text` holds what was read
// and the result is false. A file larger than the memory limit is not read.
namespace cv {
bool readSettingsFile(const std::string& path, std::string& text, bool* missing = nullptr);

// Reads and edits a file under its directory's update lock and writes the
// result atomically when it changed. `edit` gets the document (empty for a
// missing file) and returns false to abandon. False when the lock, the read,
// the edit or the write fails; nothing is written then. A missing file is
// created only when the edit leaves text in it.
bool updateSettingsFile(const std::string& path, const std::function<bool(IniDocument&)>& edit);
}  // namespace cv

// The four profile operations. `file` empty, section or key invalid: false.
bool sp_GetPrivateProfileString(std::string_view section, std::string_view key, const std::string& file,
                                std::string& value);
bool sp_GetProfileKeyNames(const std::string& file, std::string_view section, std::vector<std::string>& keys);
bool sp_GetProfileSectionNames(const std::string& file, std::vector<std::string>& sections);
// Sets the key, or deletes it when `value` is null. Names are trimmed of
// blanks first; names that cannot be stored (validSection/validKey) and
// values with a line end give false and write nothing.
bool sp_WritePrivateProfileString(const std::string& file, std::string_view section, std::string_view key,
                                  const char* value);
