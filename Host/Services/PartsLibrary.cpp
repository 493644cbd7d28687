// Record files, the record table and the journal merge (PartsLibrary.h).
#include "PartsLibrary.h"

#include <algorithm>
#include <new>
#include <string>

#include "AtomicFile.h"
#include "FileUtil.h"
#include "TextLines.h"
#include "MemoryBudget.h"

namespace {

const YString kEmpty;

}  // namespace

LibraryRecord LibraryRecord::fromLine(std::string_view text) {
    LibraryRecord r;
    // One allocation for the fields instead of one per doubling.
    r.fields.reserve(size_t(std::count(text.begin(), text.end(), ';')) + 1);
    sp_SplitLine(text, ';', "<>", r.fields, 0);
    if (r.fields.empty()) r.fields.add(YString());
    r.key = r.fields[0];
    r.line = YString(text);
    return r;
}

const YString& LibraryRecord::field(long long i) const {
    return i >= 0 && i < fields.count() ? fields.at(i) : kEmpty;
}

void LibraryRecord::setField(long long j, std::string_view value) {
    if (j < 0) return;
    fields[j] = YString(value);  // grows the list with empty fields up to j
    if (j == 0) key = fields[0];
    size_t length = 0;
    for (const YString& f : fields) length += f.length() + 1;
    std::string rebuilt;
    rebuilt.reserve(length);
    for (const YString& f : fields) rebuilt.append(f.view()).push_back(';');
    line = YString(rebuilt);
}

LibraryRecordTable::LibraryRecordTable() : index_(101) { index_.max_load_factor(1.0f); }

void LibraryRecordTable::insert(LibraryRecord record) {
    std::list<LibraryRecord> one;
    one.push_back(std::move(record));
    adopt(one, one.begin());
}

void LibraryRecordTable::adopt(std::list<LibraryRecord>& from, std::list<LibraryRecord>::iterator at) {
    const Key key(at->key.view());  // the node, and with it the key's text, does not move in memory
    auto found = index_.find(key);
    if (found == index_.end()) {
        records_.splice(records_.end(), from, at);
        index_.emplace(key, Span{at, at});
        return;
    }
    records_.splice(std::next(found->second.last), from, at);
    found->second.last = at;
}

const LibraryRecord* LibraryRecordTable::find(std::string_view key) const {
    const auto found = index_.find(Key(key));
    return found == index_.end() ? nullptr : &*found->second.first;
}

std::list<LibraryRecord> LibraryRecordTable::release() {
    index_.clear();
    return std::move(records_);
}

bool cv::kindAccepted(const LibraryRecord& record, const std::vector<std::string>& kinds) {
    if (kinds.empty()) return true;
    const YString& kind = record.field(2);
    if (kind.empty()) return true;
    return std::any_of(kinds.begin(), kinds.end(), [&](const std::string& k) { return equalNoCase(k, kind.view()); });
}

void cv::readRecords(FILE* f, LibraryRecordTable& table, const std::vector<std::string>& kinds) {
    if (!f) return;
    YString line;
    while (sp_ReadNextNonBlankLine(f, line, nullptr)) {
        LibraryRecord r = LibraryRecord::fromLine(line.view());
        if (cv::kindAccepted(r, kinds)) table.insert(std::move(r));
    }
}

void cv::readRecordFile(const char* path, LibraryRecordTable& table, const std::vector<std::string>& kinds) {
    FILE* f = path ? cv::openRegularFile(path) : nullptr;
    if (!f) return;
    // The file is closed also when a record cannot be stored (no memory).
    struct Closer {
        FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{f};
    cv::readRecords(f, table, kinds);
}

LibraryRecordTable cv::applyLibraryJournal(LibraryRecordTable base, const LibraryRecordTable& journal, int column) {
    LibraryRecordTable out;
    // One journal record may edit many base records with its key, each
    // growing by its fields: the growth is counted against the memory limit
    // so that a hostile pair of files ends in the not-enough-memory message.
    size_t grown = 0;
    std::list<LibraryRecord> records = base.release();
    for (auto it = records.begin(); it != records.end();) {
        const auto at = it++;
        LibraryRecord& a = *at;
        const LibraryRecord* b = journal.find(a.key.view());
        if (!b) {
            out.adopt(records, at);
            continue;
        }
        if (!equalNoCase(b->field(column).view(), "edit")) continue;  // add, delete or unknown: dropped
        const long long last = std::min(a.fields.count(), b->fields.count()) - 1;
        for (long long j = 1; j <= last; ++j)
            if (j != column && !b->field(j).empty()) {
                grown += 2 * b->field(j).length();
                if (grown > cv::memoryLimitBytes()) throw std::bad_alloc();
                a.setField(j, b->field(j).view());
            }
        out.adopt(records, at);
    }
    for (const LibraryRecord& b : journal) {
        if (!equalNoCase(b.field(column).view(), "add")) continue;
        LibraryRecord added = b;
        added.setField(column, "");
        out.insert(std::move(added));
    }
    return out;
}

bool cv::writeLibraryLines(const char* path, const std::vector<std::string_view>& lines) {
    AtomicFileWriter writer(path);
    FILE* f = writer.file();
    if (!f) return false;
    for (std::string_view line : lines) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fputc('\n', f);
    }
    return writer.commit();
}
