// Facts about the installed application (version, build, directories,
// earlier versions, image formats) and the host's dialogs. The host supplies
// the facts (AppInfo.h) and the dialogs (Dialogs.h, which says how they
// behave without windows); this file shapes them into script results. None
// of these functions reports an error.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "AppInfo.h"
#include "Dialogs.h"
#include "FuncKit.h"
#include "PathUtil.h"

namespace {

using namespace cvmod;

std::string twoDigitMinor(int32_t major, int32_t minor) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d.%02d", major, minor);
    return buf;
}

FUNC_ERROR debugMode(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setBool(r, false);
    return FuncOk;
}

FUNC_ERROR versionInfo(const FuncArgs&, FuncResult& r, MessageHandler&) {
    CorvantaVersionInfo v;
    sp_GetVersionValues(v);
    const bool lettered = v.releaseKind == 3 && v.suffixNumber != 0;
    const char* release = v.releaseKind == 3 ? "Release"
                          : v.releaseKind == 2 ? "ReleaseCandidate"
                          : v.releaseKind == 1 ? "Beta"
                                               : "PreBeta";
    const char* build = v.buildKind == 2 ? "FinalRelease" : v.buildKind == 1 ? "DevRelease" : "Debug";
    setStrings(r, std::vector<std::string>{twoDigitMinor(v.major, v.minor),
                                           lettered ? std::string(1, char(96 + v.suffixNumber)) : std::string(),
                                           v.text, sp_GetBinaryArchitecture(), release, build,
                                           std::to_string(v.number)});
    return FuncOk;
}

FUNC_ERROR appInfo(const FuncArgs&, FuncResult& r, MessageHandler&) {
    const std::string product = sp_GetProductFolderName();
    bool found = false;
    const std::string examples = sp_GetSystemValuePath("EXAMPLEINSTALLDIR", found).str();
    std::string appData;
    sp_TranslateLogicalPath("%CVAPPDATAPATH%", appData);
    setStrings(r, std::vector<std::string>{product.substr(0, product.find('/')), product,
                                           sp_ConvertLocalToUnix(examples), sp_ConvertLocalToUnix(appData),
                                           sp_ConvertLocalToUnix(sp_CleanPath(sp_GetExeDir() + "/.."))});
    return FuncOk;
}

// Each version is MAJOR*100+MINOR; "decimal" shows 802 as 8.02.
FUNC_ERROR oldVersions(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const bool decimal = sameWord(stringOr(a, 0), "decimal");
    std::vector<std::string> out;
    for (const int32_t v : sp_GetOldVersions())
        out.push_back(decimal ? twoDigitMinor(v / 100, v % 100) : std::to_string(v));
    setStrings(r, out);
    return FuncOk;
}

FUNC_ERROR chooseDirectory(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, sp_ChooseDirectory(stringOr(a, 0)).view());
    return FuncOk;
}

// MessageBox([text, title], [buttons, kind, check box]).
FUNC_ERROR messageBox(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::vector<std::string_view> message = stringsOf(a, 0);
    const std::vector<std::string_view> options = stringsOf(a, 1);
    const std::string text(message.empty() ? std::string_view() : message[0]);
    const std::string title(message.size() >= 2 ? message[1] : std::string_view("Message:"));
    std::string buttons = "OkCancel", kind = "info";
    MessageBoxCheckBox checkBox = NoCheckBox;
    if (given(a, 1)) {
        buttons = options[0];
        if (options.size() >= 2) kind = options[1];
        if (options.size() > 2)
            checkBox = sameWord(options[2], "dontaskagain")           ? DontAskAgainCheckBox
                       : sameWord(options[2], "dontshowmessageagain") ? DontShowMessageAgainCheckBox
                                                                      : NoCheckBox;
    }
    setString(r, sp_OpenMessageBox(text.c_str(), title.c_str(), kind.c_str(), buttons.c_str(), checkBox).view());
    return FuncOk;
}

FUNC_ERROR isImageFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const PathName parts = sp_SplitPath(stringOr(a, 0));
    std::string_view ext = parts.ext.view();
    if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
    bool image = false;
    if (given(a, 0))
        for (const std::string& f : sp_GetSupportedImageReadFormats()) image = image || sameWord(f, ext);
    setBool(r, image);
    return FuncOk;
}

FUNC_ERROR readFormats(const FuncArgs&, FuncResult& r, MessageHandler&) {
    setStrings(r, sp_GetSupportedImageReadFormats());
    return FuncOk;
}

// The host's list, with SVG added when it lacks it, and EMF always: scripts
// offer these two for the charts they save.
FUNC_ERROR writeFormats(const FuncArgs&, FuncResult& r, MessageHandler&) {
    std::vector<std::string> formats = sp_GetSupportedImageWriteFormats();
    bool svg = false;
    for (const std::string& f : formats) svg = svg || sameWord(f, "svg");
    if (!svg) formats.push_back("svg");
    formats.push_back("emf");
    setStrings(r, formats);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"ChooseDirectory",       {String},         {}, 1, 1, handler<chooseDirectory>, "", PyString,     Plain},
    {"IsImageFile",           {String},         {}, 1, 1, handler<isImageFile>,     "", PyBool,       Plain},
    {"MessageBox",            {String, String}, {}, 1, 2, handler<messageBox>,      "", PyString,     Plain},
    {"SupportedReadFormats",  {Any},            {}, 0, 0, handler<readFormats>,     "", PyStringList, Plain},
    {"SupportedWriteFormats", {Any},            {}, 0, 0, handler<writeFormats>,    "", PyStringList, Plain},
    {"DebugMode",             {Any},            {}, 0, 0, handler<debugMode>,       "", PyBool,       Plain},
    {"GetAppInfo",            {Any},            {}, 0, 0, handler<appInfo>,         "", PyStringList, Plain},
    {"GetOldVersions",        {String},         {}, 0, 1, handler<oldVersions>,     "", PyStringList, Plain},
    {"VersionInfo",           {Any},            {}, 0, 0, handler<versionInfo>,     "", PyStringList, Plain},
};
// clang-format on

}  // namespace
