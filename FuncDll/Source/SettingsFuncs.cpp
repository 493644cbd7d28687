// Persistent settings: the configuration store and its library collections,
// the registry trees, INI files, and the device catalog filter, on the
// host's settings services (SettingsStore.h, IniFile.h). Where the files
// live is documented in docs/SETTINGS.md.
//
// No function here sends a message: readers set no result when there is
// nothing to read, writers answer false (or "WriteFailed"), the collection
// functions answer -1. Every write replaces its file atomically under the
// directory's update lock, so a failure never leaves a half-written file and
// two processes changing one file both keep their change.
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "AtomicFile.h"
#include "FileUtil.h"
#include "FuncKit.h"
#include "IniFile.h"
#include "SettingsStore.h"
#include "TextLines.h"

namespace {

using namespace cvmod;

std::vector<std::string> stringList(const FuncArgs& a, int i) {
    std::vector<std::string> out;
    for (std::string_view s : stringsOf(a, i)) out.emplace_back(s);
    return out;
}

// ---------------------------------------------------------------- configuration store

FUNC_ERROR readConfigSetting(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string_view section = stringOr(a, 0);
    const std::string_view key = stringOr(a, 1);
    if (!key.empty()) {
        // The value is the answer even when the key is missing (then "").
        std::string value;
        cfgman_GetConfigSetting(section, key, value);
        setStrings(r, std::vector<std::string>{value});
        return FuncOk;
    }
    std::vector<std::string> keys;
    if (cfgman_GetConfigKeyNames(section, keys)) setStrings(r, keys);
    return FuncOk;
}

FUNC_ERROR writeConfigSetting(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setBool(r, cfgman_WriteConfigSetting(stringOr(a, 0), stringOr(a, 1), given(a, 2) ? stringOr(a, 2) : nullptr));
    return FuncOk;
}

FUNC_ERROR getConfigLoc(const FuncArgs&, FuncResult& r, MessageHandler&) {
    ConfigLocation location;
    cfgman_GetBaseConfigLocation(location);
    setString(r, location.getString());
    return FuncOk;
}

FUNC_ERROR addConfigCollection(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    // Read from the last word to the first, so the word nearer the front
    // decides: "nonpath" also clears the logical-path flag.
    bool logical = false, nonPath = false;
    const auto options = stringsOf(a, 2);
    for (size_t i = options.size(); i-- > 0;) {
        if (sameWord(options[i], "uselogicalpaths")) logical = true;
        else if (sameWord(options[i], "nonpath")) nonPath = true, logical = false;
    }
    setInteger(r, libman_AddFiles(stringList(a, 1), stringOr(a, 0), logical, nonPath));
    return FuncOk;
}

FUNC_ERROR removeConfigCollection(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger(r, libman_RemoveFiles(stringList(a, 1), stringOr(a, 0)));
    return FuncOk;
}

FUNC_ERROR readConfigCollection(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<std::string> files;
    libman_GetFiles(files, stringOr(a, 0));
    setStrings(r, files);
    return FuncOk;
}

FUNC_ERROR deleteConfigCollection(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger(r, cfgman_DeleteConfigSection(stringOr(a, 0)));
    return FuncOk;
}

// ---------------------------------------------------------------- registry trees

enum class Tree { CurrentUser, LocalMachine, ClassesRoot, Unknown };

// The short words and, for reading, their long forms. Writing maps only the
// two writable trees' long forms: the classes tree is refused either way.
Tree treeOf(const FuncArgs& a, int i, bool reading) {
    const std::string_view word = given(a, i) ? stringOr(a, i) : "HKCU";
    if (sameWord(word, "HKCU") || sameWord(word, "HKEY_CURRENT_USER")) return Tree::CurrentUser;
    if (sameWord(word, "HKLM") || sameWord(word, "HKEY_LOCAL_MACHINE")) return Tree::LocalMachine;
    if (sameWord(word, "HKCR") || (reading && sameWord(word, "HKEY_CLASSES_ROOT"))) return Tree::ClassesRoot;
    return Tree::Unknown;
}

FUNC_ERROR readRegSetting(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string_view key = stringOr(a, 0), name = stringOr(a, 1);
    std::string value;
    bool ok = false;
    switch (treeOf(a, 2, true)) {
        case Tree::CurrentUser: ok = sp_ReadCurrentUserValue(key, name, value); break;
        case Tree::LocalMachine: ok = sp_ReadLocalMachineValue(key, name, value); break;
        case Tree::ClassesRoot: ok = sp_ReadClassesRootValue(key, name, value); break;
        case Tree::Unknown: break;
    }
    if (ok) setString(r, value);
    return FuncOk;
}

FUNC_ERROR writeRegSetting(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string_view key = stringOr(a, 0), name = stringOr(a, 1), value = stringOr(a, 2);
    bool ok;
    switch (treeOf(a, 3, false)) {
        case Tree::CurrentUser: ok = sp_WriteCurrentUserValue(key, name, value); break;
        case Tree::LocalMachine: ok = sp_WriteLocalMachineValue(key, name, value); break;
        default: setString(r, "InvalidTreeName"); return FuncOk;
    }
    setString(r, ok ? "Ok" : "WriteFailed");
    return FuncOk;
}

FUNC_ERROR getRegistryClassesRootKeys(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<std::string> names;
    if (sp_GetClassesRootSubKeyNames(stringOr(a, 0), names)) setStrings(r, names);
    return FuncOk;
}

// ---------------------------------------------------------------- INI files

FUNC_ERROR readIniKey(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string file = stringOr(a, 0);
    const std::string_view section = stringOr(a, 1), key = stringOr(a, 2);
    if (file.empty()) return FuncOk;
    std::vector<std::string> list;
    if (section.empty()) {
        sp_GetProfileSectionNames(file, list);
    } else if (key.empty()) {
        sp_GetProfileKeyNames(file, section, list);
    } else {
        std::string value;
        if (sp_GetPrivateProfileString(section, key, file, value)) list.push_back(std::move(value));
    }
    if (!list.empty()) setStrings(r, list);
    return FuncOk;
}

FUNC_ERROR writeIniKey(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string file = stringOr(a, 0);
    const std::string_view section = stringOr(a, 1), key = stringOr(a, 2);
    const bool ok = !file.empty() && !section.empty() && !key.empty() &&
                    sp_WritePrivateProfileString(file, section, key, given(a, 3) ? stringOr(a, 3) : nullptr);
    setBool(r, ok);
    return FuncOk;
}

// ---------------------------------------------------------------- device catalog

struct NoCaseHash {
    size_t operator()(std::string_view s) const noexcept { return hashNoCase(s); }
};
struct NoCaseEqual {
    bool operator()(std::string_view a, std::string_view b) const noexcept { return equalNoCase(a, b); }
};

// The first ';'-delimited token of a text ("" when it has none).
std::string_view firstToken(std::string_view text) {
    std::string_view token;
    return sp_GetToken(text, ";", token) ? token : std::string_view();
}

// The catalog is read to the end before anything is written, and the copy
// replaces the destination only when complete: the destination may be the
// source itself (or a link to it), and a failure must leave it as it was.
FUNC_ERROR writeDeviceCatalog(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::unordered_set<std::string_view, NoCaseHash, NoCaseEqual> devices;
    const auto names = stringsOf(a, 0);
    devices.reserve(names.size());
    for (std::string_view element : names)
        if (std::string_view name = firstToken(element); !name.empty()) devices.insert(name);

    const std::string source = stringOr(a, 1), destination = stringOr(a, 2);
    std::unique_ptr<FILE, int (*)(FILE*)> in(cv::openRegularFile(source.c_str()), std::fclose);
    if (!in || destination.empty()) {
        setBool(r, false);
        return FuncOk;
    }
    std::string out;
    for (std::string_view header : stringsOf(a, 3)) (out += header) += '\n';
    YString line;
    while (sp_ReadNextNonBlankLine(in.get(), line, nullptr))
        if (devices.count(firstToken(line.view()))) (out += line.view()) += '\n';
    // A read error midway would make a short copy look complete.
    const bool readAll = !std::ferror(in.get());
    in.reset();
    setBool(r, readAll && cv::writeFileAtomic(destination, out));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"AddConfigCollection",        {String, String, String},         {}, 2, 3, handler<addConfigCollection>,        "", PyInteger,    Plain},
    {"DeleteConfigCollection",     {String},                         {}, 1, 1, handler<deleteConfigCollection>,     "", PyInteger,    Plain},
    {"GetConfigLoc",               {Any},                            {}, 0, 0, handler<getConfigLoc>,               "", PyString,     Plain},
    {"GetRegistryClassesRootKeys", {String},                         {}, 1, 1, handler<getRegistryClassesRootKeys>, "", PyStringList, Plain},
    {"ReadConfigCollection",       {String},                         {}, 1, 1, handler<readConfigCollection>,       "", PyStringList, Plain},
    {"ReadConfigSetting",          {String, String},                 {}, 1, 2, handler<readConfigSetting>,          "", PyStringList, Plain},
    {"ReadIniKey",                 {String, String, String},         {}, 3, 3, handler<readIniKey>,                 "", PyStringList, Plain},
    {"ReadRegSetting",             {String, String, String},         {}, 2, 3, handler<readRegSetting>,             "", PyString,     Plain},
    {"RemoveConfigCollection",     {String, String},                 {}, 2, 2, handler<removeConfigCollection>,     "", PyInteger,    Plain},
    {"WriteConfigSetting",         {String, String, String},         {}, 2, 3, handler<writeConfigSetting>,         "", PyBool,       Plain},
    {"WriteDeviceCatalog",         {String, String, String, String}, {}, 3, 4, handler<writeDeviceCatalog>,         "", PyBool,       Plain},
    {"WriteIniKey",                {String, String, String, String}, {}, 3, 4, handler<writeIniKey>,                "", PyBool,       Plain},
    {"WriteRegSetting",            {String, String, String, String}, {}, 3, 4, handler<writeRegSetting>,            "", PyString,     Plain},
};
// clang-format on

}  // namespace
