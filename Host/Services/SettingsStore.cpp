#include "SettingsStore.h"

#include <cctype>
#include <cstdlib>
#include <unordered_set>

#include "Directories.h"
#include "IniFile.h"
#include "PathUtil.h"
#include "TextLines.h"
#include "YString.h"

namespace {

std::string inHome(const char* name) {
    const std::string home = cv::settingsHome();
    return home.empty() ? std::string() : home + "/" + name;
}
std::string inSystem(const char* name) { return cv::systemSettingsDir() + "/" + name; }

std::string configFile() { return inHome("config.ini"); }

// A store in the settings home is created with the home on its first write.
bool updateInHome(const std::string& file, const std::function<bool(IniDocument&)>& edit) {
    if (file.empty() || !sp_MakeTree(cv::settingsHome())) return false;
    return cv::updateSettingsFile(file, edit);
}

IniDocument readStore(const std::string& file) {
    std::string text;
    if (!file.empty()) cv::readSettingsFile(file, text);
    return IniDocument(text);
}

// ---------------------------------------------------------------- collections

// Keys "File<digits>", any case.
bool isFileKey(std::string_view key) {
    if (key.size() < 5 || !equalNoCase(key.substr(0, 4), "file")) return false;
    for (char c : key.substr(4))
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::vector<std::string> collectionFiles(const IniDocument& doc, std::string_view collection) {
    std::vector<std::string> files;
    for (auto& [key, value] : doc.entries(collection))
        if (isFileKey(key)) files.push_back(value);
    return files;
}

// Replaces the collection's File keys by File1 ... FileN.
void storeCollection(IniDocument& doc, std::string_view collection, const std::vector<std::string>& files) {
    doc.removeKeys(collection, isFileKey);
    std::vector<std::pair<std::string, std::string>> keys;
    keys.reserve(files.size());
    for (size_t i = 0; i < files.size(); ++i) keys.emplace_back("File" + std::to_string(i + 1), files[i]);
    doc.appendKeys(collection, keys);
    if (doc.entries(collection).empty()) doc.removeSection(collection);
}

// The absolute path an entry names (a logical one translated first).
std::string absoluteOf(std::string_view entry) {
    std::string translated;
    sp_TranslateLogicalPath(entry, translated);
    return sp_GetFullPath(translated);
}

// The entries of a collection by their text and their absolute path, to
// tell whether a file is among them in one look-up each.
struct EntryIndex {
    explicit EntryIndex(const std::vector<std::string>& entries, bool paths) : paths(paths) {
        for (const auto& e : entries) add(e);
    }
    void add(const std::string& e) {
        texts.insert(e);
        if (paths) absolute.insert(absoluteOf(e));
    }
    bool has(const std::string& e) const { return texts.count(e) || (paths && absolute.count(absoluteOf(e))); }
    bool paths;
    std::unordered_set<std::string> texts, absolute;
};

bool usableCollection(std::string_view& collection) {
    collection = cv::trimBlanks(collection);
    return IniDocument::validSection(collection);
}

// ---------------------------------------------------------------- registry

// "\Software\\Vendor\" -> "Software\Vendor"; "" when nothing is left.
std::string normalKeyPath(std::string_view path) {
    std::string out;
    for (char c : cv::trimBlanks(path)) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

std::string valueKey(std::string_view name) { return name.empty() ? std::string("@") : std::string(name); }

bool readValue(const std::string& file, std::string_view keyPath, std::string_view valueName, std::string& value) {
    const std::string key = normalKeyPath(keyPath);
    if (key.empty()) return false;
    auto v = readStore(file).value(key, valueKey(valueName));
    if (!v) return false;
    value = std::move(*v);
    return true;
}

bool writeValue(const std::string& file, bool home, std::string_view keyPath, std::string_view valueName,
                std::string_view value) {
    const std::string key = normalKeyPath(keyPath), name = valueKey(valueName);
    if (!IniDocument::validSection(key) || !IniDocument::validKey(name) || !IniDocument::validValue(value))
        return false;
    auto edit = [&](IniDocument& doc) {
        doc.set(key, name, value);
        return true;
    };
    return home ? updateInHome(file, edit) : cv::updateSettingsFile(file, edit);
}

}  // namespace

// ---------------------------------------------------------------- locations

std::string cv::settingsHome() {
    std::string home = sp_GetProgramPath("UserPath");
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home;
}

std::string cv::systemSettingsDir() {
    const char* dir = std::getenv("CVFUNC_SYSCONF");
    std::string out = dir && *dir ? dir : "/etc/cvfunc";
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool cfgman_GetBaseConfigLocation(ConfigLocation& location) {
    location.setString(cv::settingsHome());
    return !location.getString().empty();
}

// ---------------------------------------------------------------- configuration store

bool cfgman_GetConfigSetting(std::string_view section, std::string_view key, std::string& value) {
    value.clear();
    auto v = readStore(configFile()).value(section, key);
    if (!v) return false;
    value = std::move(*v);
    return true;
}

bool cfgman_GetConfigKeyNames(std::string_view section, std::vector<std::string>& keys) {
    keys = readStore(configFile()).keyNames(section);
    return !keys.empty();
}

bool cfgman_WriteConfigSetting(std::string_view section, std::string_view key, const char* value) {
    section = cv::trimBlanks(section);
    key = cv::trimBlanks(key);
    if (!IniDocument::validSection(section) || !IniDocument::validKey(key)) return false;
    if (value && !IniDocument::validValue(value)) return false;
    return updateInHome(configFile(), [&](IniDocument& doc) {
        if (value) doc.set(section, key, cv::trimBlanks(value));
        else doc.remove(section, key);
        return true;
    });
}

int cfgman_DeleteConfigSection(std::string_view section) {
    if (!usableCollection(section)) return -1;
    const std::string file = configFile();
    if (file.empty()) return -1;
    bool removed = false;
    const bool ok = cv::updateSettingsFile(file, [&](IniDocument& doc) {
        removed = doc.removeSection(section);
        return true;
    });
    return !ok ? -1 : removed ? 1 : 0;
}

// ---------------------------------------------------------------- library collections

int libman_AddFiles(const std::vector<std::string>& files, std::string_view collection, bool useLogicalPaths,
                    bool nonPath) {
    if (!usableCollection(collection)) return -1;
    std::vector<std::string> entries;
    for (const auto& f : files) {
        if (!IniDocument::validValue(f)) return -1;
        const std::string_view given = cv::trimBlanks(f);
        if (given.empty()) continue;
        std::string entry(given);
        if (!nonPath) {
            entry = absoluteOf(given);
            if (useLogicalPaths) {
                std::string logical;
                sp_MakeLogicalPath(entry, logical, LogicalPathOptions());
                entry = logical;
            }
        }
        entries.push_back(entry);
    }
    int added = 0;
    const bool ok = updateInHome(configFile(), [&](IniDocument& doc) {
        std::vector<std::string> kept = collectionFiles(doc, collection);
        EntryIndex index(kept, !nonPath);
        for (const auto& e : entries) {
            if (index.has(e)) continue;
            index.add(e);
            kept.push_back(e);
            ++added;
        }
        if (added) storeCollection(doc, collection, kept);
        return true;
    });
    return ok ? added : -1;
}

int libman_RemoveFiles(const std::vector<std::string>& files, std::string_view collection) {
    if (!usableCollection(collection)) return -1;
    const std::string file = configFile();
    if (file.empty()) return -1;
    int removed = 0;
    const bool ok = cv::updateSettingsFile(file, [&](IniDocument& doc) {
        std::vector<std::string> given;
        for (const auto& f : files)
            if (!cv::trimBlanks(f).empty()) given.emplace_back(cv::trimBlanks(f));
        const EntryIndex index(given, true);
        std::vector<std::string> kept;
        for (const auto& k : collectionFiles(doc, collection)) {
            if (index.has(k)) ++removed;
            else kept.push_back(k);
        }
        if (removed) storeCollection(doc, collection, kept);
        return true;
    });
    return ok ? removed : -1;
}

bool libman_GetFiles(std::vector<std::string>& files, std::string_view collection) {
    const IniDocument doc = readStore(configFile());
    files = collectionFiles(doc, cv::trimBlanks(collection));
    return doc.hasSection(cv::trimBlanks(collection));
}

// ---------------------------------------------------------------- registry trees

bool sp_ReadCurrentUserValue(std::string_view keyPath, std::string_view valueName, std::string& value) {
    return readValue(inHome("registry.ini"), keyPath, valueName, value);
}
bool sp_WriteCurrentUserValue(std::string_view keyPath, std::string_view valueName, std::string_view value) {
    return writeValue(inHome("registry.ini"), true, keyPath, valueName, value);
}
bool sp_ReadLocalMachineValue(std::string_view keyPath, std::string_view valueName, std::string& value) {
    return readValue(inSystem("registry.ini"), keyPath, valueName, value);
}
bool sp_WriteLocalMachineValue(std::string_view keyPath, std::string_view valueName, std::string_view value) {
    return writeValue(inSystem("registry.ini"), false, keyPath, valueName, value);
}
bool sp_ReadClassesRootValue(std::string_view keyPath, std::string_view valueName, std::string& value) {
    return readValue(inSystem("classes.ini"), keyPath, valueName, value);
}

bool sp_GetClassesRootSubKeyNames(std::string_view keyPath, std::vector<std::string>& names) {
    names.clear();
    const std::string parent = normalKeyPath(keyPath);
    std::unordered_set<std::string> seen;
    for (const auto& section : readStore(inSystem("classes.ini")).sectionNames()) {
        const std::string key = normalKeyPath(section);
        std::string_view below(key);
        if (!parent.empty()) {
            if (key.size() <= parent.size() + 1 || key[parent.size()] != '\\' ||
                !equalNoCase(below.substr(0, parent.size()), parent))
                continue;
            below.remove_prefix(parent.size() + 1);
        }
        const std::string_view name = below.substr(0, below.find('\\'));
        if (!name.empty() && seen.insert(lowerAscii(name)).second) names.emplace_back(name);
    }
    return !names.empty();
}
