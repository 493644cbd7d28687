// The model library's record files and the journals of the user's edits.
//
// A record file is a text file whose every non-blank line is one record,
// split into fields at ";"; a field written between "<" and ">" may hold ";"
// (the brackets stay part of the field). Field 0 is the record's key. The
// model library index, the user's model list, the category file and the part
// definitions are all record files, and so are their journals, whose action
// column says "add", "delete" or "edit".
#pragma once
#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "YContainers.h"
#include "YString.h"

struct LibraryRecord {
    YArray<YString> fields;  // at least one
    YString key;             // fields[0]
    YString line;            // as read, or as rebuilt by setField

    // The record of one line ("" gives one empty field).
    static LibraryRecord fromLine(std::string_view line);
    // Field i, or "" when i is negative or past the last field.
    const YString& field(long long i) const;
    // Sets field j (appending empty fields up to it) and rebuilds the line as
    // every field followed by ";", without "<" ">" quoting. A negative j
    // changes nothing. Field 0 is the key and keeps `key` in step.
    void setField(long long j, std::string_view value);
};

// Records in a list, looked up by key ignoring ASCII case. A multimap: a
// record whose key is already present goes directly after the last record
// with that key, a new key to the end; iteration runs in that list order.
class LibraryRecordTable {
public:
    using const_iterator = std::list<LibraryRecord>::const_iterator;

    LibraryRecordTable();
    // The index refers into the records, so a copy would point into the
    // original: the table moves (a list's nodes move with it) but never copies.
    LibraryRecordTable(const LibraryRecordTable&) = delete;
    LibraryRecordTable& operator=(const LibraryRecordTable&) = delete;
    LibraryRecordTable(LibraryRecordTable&&) = default;
    LibraryRecordTable& operator=(LibraryRecordTable&&) = default;
    void insert(LibraryRecord record);
    // Inserts the record at `at` of `from` by moving its list node here.
    void adopt(std::list<LibraryRecord>& from, std::list<LibraryRecord>::iterator at);
    // The first record in list order with this key; null when there is none.
    const LibraryRecord* find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != nullptr; }

    // Empties the table and hands over its records, in order.
    std::list<LibraryRecord> release();

    size_t size() const noexcept { return records_.size(); }
    bool empty() const noexcept { return records_.empty(); }
    const_iterator begin() const noexcept { return records_.begin(); }
    const_iterator end() const noexcept { return records_.end(); }

private:
    struct Span {
        std::list<LibraryRecord>::iterator first, last;
    };
    // A view of a record's key (which a list never moves) with its folded
    // hash, so that a lookup compares texts only when the hashes agree.
    struct Key {
        std::string_view text;
        uint32_t hash;
        explicit Key(std::string_view t) : text(t), hash(hashNoCase(t)) {}
    };
    struct Hash {
        size_t operator()(const Key& k) const noexcept { return k.hash; }
    };
    struct Equal {
        bool operator()(const Key& a, const Key& b) const noexcept {
            return a.hash == b.hash && equalNoCase(a.text, b.text);
        }
    };
    std::list<LibraryRecord> records_;
    std::unordered_map<Key, Span, Hash, Equal> index_;
};

// Keeps a record when `kinds` is empty, or when its field 2 is empty or
// equals one of the words ignoring case.
namespace cv {
bool kindAccepted(const LibraryRecord& record, const std::vector<std::string>& kinds);

// Appends the records of the lines of `f` (blank lines skipped) to `table`,
// those refused by the kind filter left out.
void readRecords(FILE* f, LibraryRecordTable& table, const std::vector<std::string>& kinds = {});
// The same for the file at `path`; a file that cannot be opened (or is not a
// regular file) reads as empty, without a message.
void readRecordFile(const char* path, LibraryRecordTable& table, const std::vector<std::string>& kinds = {});

// Applies `journal` to `base`, with the action word in field `column` of the
// journal's records:
//  - a base record without a journal record of its key stays;
//  - "edit": the base record with every non-empty field of the journal record
//    from 1 up to the smaller field count less one, but the action column,
//    copied over (the key never changes);
//  - "add" and "delete" drop the base record, and so does any other word,
//    an empty one included;
//  - then every "add" record of the journal, its action field emptied.
// Action words compare ignoring case.
// The base table's records are moved into the result.
LibraryRecordTable applyLibraryJournal(LibraryRecordTable base, const LibraryRecordTable& journal, int column);

// Writes `lines`, each followed by "\n", to `path` through an
// AtomicFileWriter (FileUtil.h): the old file stays whole unless every line
// was written. False when nothing was replaced.
bool writeLibraryLines(const char* path, const std::vector<std::string_view>& lines);
}  // namespace cv
