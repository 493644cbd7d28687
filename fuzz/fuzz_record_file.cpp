// The record-file reader and the journal merge: any bytes read as records
// with at least one field and their key in field 0, every key finds a record
// with an equal key, and a table merged with itself as its own journal (the
// action column from the first byte) holds no more than twice its records.
#include <cstdio>

#include "FuzzSupport.h"
#include "PartsLibrary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes bytes(data, size);
    const int column = int(bytes.u8() % 12);
    const std::string text = bytes.rest();
    LibraryRecordTable table, journal;
    for (LibraryRecordTable* t : {&table, &journal}) {
        FILE* f = text.empty() ? nullptr : fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
        cv::readRecords(f, *t, {"a", "B"});
        if (f) std::fclose(f);
    }
    if (table.size() > text.size()) std::abort();
    for (const LibraryRecord& r : table) {
        if (r.fields.empty() || !(r.key == r.fields.at(0))) std::abort();
        const LibraryRecord* found = table.find(r.key.view());
        if (!found || !equalNoCase(found->key.view(), r.key.view())) std::abort();
    }
    const size_t records = table.size();
    const LibraryRecordTable merged = cv::applyLibraryJournal(std::move(table), journal, column);
    if (merged.size() > 2 * records) std::abort();
    for (const LibraryRecord& r : merged)
        if (r.fields.empty() || !(r.key == r.fields.at(0))) std::abort();
    return 0;
}
