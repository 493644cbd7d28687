// The INI reader and writer: any bytes parse, the text comes back byte for
// byte, a key that is set reads back as set and a removed one is gone, and no
// edit makes the file shorter than the value it replaced. The same through
// the file operations, which also take the directory lock and write atomically.
#include "FuzzSupport.h"
#include "IniFile.h"

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const bool remove = in.flag();
    const bool viaFile = in.flag();
    const std::string section(trimmed(in.str())), key(trimmed(in.str())), value(trimmed(in.str()));
    const std::string text = in.rest();

    IniDocument doc(text);
    if (doc.text() != text) std::abort();
    // Reading never fails on any input; what it finds must be findable again.
    for (const auto& s : doc.sectionNames()) {
        if (!doc.hasSection(s)) std::abort();
        for (const auto& k : doc.keyNames(s))
            if (!doc.value(s, k)) std::abort();
    }
    if (!IniDocument::validSection(section) || !IniDocument::validKey(key) || !IniDocument::validValue(value))
        return 0;
    const size_t old = doc.value(section, key).value_or("").size();
    const auto sectionsBefore = doc.sectionNames();
    if (viaFile) {
        if (value.find('\0') != std::string::npos) return 0;  // a C string ends there
        const std::string path = fuzz::writeFile("fuzz.ini", text);
        if (!sp_WritePrivateProfileString(path, section, key, remove ? nullptr : value.c_str())) std::abort();
        std::string after;
        if (!cv::readSettingsFile(path, after)) std::abort();
        doc = IniDocument(after);
    } else if (remove) {
        doc.remove(section, key);
    } else {
        doc.set(section, key, value);
    }
    const std::string after = doc.text();
    if (remove) {
        if (doc.value(section, key)) std::abort();
        // Only key lines go: every section stays.
        if (doc.sectionNames() != sectionsBefore) std::abort();
    } else {
        if (doc.value(section, key) != value) std::abort();
        if (after.size() + old < text.size()) std::abort();
        for (const auto& s : sectionsBefore)
            if (!doc.hasSection(s)) std::abort();
    }
    return 0;
}
