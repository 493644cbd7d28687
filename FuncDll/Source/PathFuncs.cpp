// Paths and directories: taking paths apart, normalising and comparing them,
// logical paths, the current directory, and making, copying, listing and
// deleting directories, on the host's path and directory services.
//
// None of these reports an error: a failure shows in the result (the host's
// empty or unchanged string, false, a status word or number, or no result).
// None changes the current directory except ChangeDir.
#include <string>
#include <vector>

#include "Directories.h"
#include "FuncKit.h"
#include "PathUtil.h"

namespace {

using namespace cvmod;

std::string pathArg(const FuncArgs& a, int i = 0) { return stringOr(a, i); }

// ---------------------------------------------------------------- one host call each

// Functions that hand their first argument to one host operation and return
// its string unchanged.
template <std::string (*op)(std::string_view)>
FUNC_ERROR passThrough(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, op(pathArg(a)));
    return FuncOk;
}

std::string uncPath(std::string_view p) { return sp_GetUNCPath(p); }
std::string cleanPath(std::string_view p) { return sp_CleanPath(p); }
std::string translated(std::string_view p) {
    std::string out;
    sp_TranslateLogicalPath(p, out, false);
    return out;
}

template <bool (*test)(std::string_view), bool negate = false>
FUNC_ERROR boolOf(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setBool(r, test(pathArg(a)) != negate);
    return FuncOk;
}

FUNC_ERROR isSameFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setBool(r, sp_ComparePaths(pathArg(a, 0), pathArg(a, 1)));
    return FuncOk;
}

FUNC_ERROR changeDir(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger(r, sp_ChangeDir(pathArg(a)));
    return FuncOk;
}

// ---------------------------------------------------------------- splitting

template <PathName (*splitter)(std::string_view)>
FUNC_ERROR splitPath(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const PathName p = splitter(pathArg(a));
    setStrings(r, std::vector<YString>{p.drive, p.dir, p.fname, p.ext});
    return FuncOk;
}

FUNC_ERROR isFileOfType(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const PathName p = sp_SplitPath(pathArg(a));
    const std::string_view ext = p.ext.empty() ? std::string_view() : p.ext.view().substr(1);
    const auto wanted = stringsOf(a, 1);
    bool found = false;
    for (size_t k = wanted.size(); k-- > 0 && !found;) found = !p.ext.empty() && sameWord(wanted[k], ext);
    setBool(r, found);
    return FuncOk;
}

FUNC_ERROR getFileDir(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string path = pathArg(a);
    // A bare drive ("C:") names itself; kept for scripts written with drives.
    if (path.size() == 2 && path[1] == ':') setString(r, path);
    else setString(r, sp_GetDirFromPath(sp_GetFullPath(path)));
    return FuncOk;
}

FUNC_ERROR getFileExtensions(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<std::string> extensions;
    sp_GetCorvantaFileExtension(pathArg(a), extensions);
    setStrings(r, extensions);
    return FuncOk;
}

// ---------------------------------------------------------------- absolute and relative

// Resolved against the given directory without entering it, so the current
// directory is never changed, not even for the duration of the call. A
// directory that does not exist is ignored, as entering it would have failed.
FUNC_ERROR fullPath(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string path = pathArg(a, 0), dir = pathArg(a, 1);
    setString(r, given(a, 1) && sp_ExistDir(dir) ? sp_GetFullPath(path, dir) : sp_GetFullPath(path));
    return FuncOk;
}

FUNC_ERROR relativePath(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string base = given(a, 1) ? pathArg(a, 1) : sp_GetCwd();
    setString(r, sp_RelativePath(pathArg(a, 0), base));
    return FuncOk;
}

FUNC_ERROR getCurDir(const FuncArgs&, FuncResult& r, MessageHandler&) {
    const std::string cwd = sp_GetCwd();
    if (!cwd.empty()) setString(r, cwd);
    return FuncOk;
}

// ---------------------------------------------------------------- logical paths and named places

FUNC_ERROR makeLogicalPath(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int option = wordOf(a, 1, {"projectonly", "systemonly"}, -1, -1);
    std::string out;
    sp_MakeLogicalPath(pathArg(a), out, LogicalPathOptions(option == 1, option == 0));
    setString(r, out);
    return FuncOk;
}

FUNC_ERROR getPath(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::string name = pathArg(a);
    if (sameWord(name, "StartUpFile")) name = "StartScriptPath";
    const std::string path = sameWord(name, "TempDataDir") ? vec_GetTempDataDir() : sp_GetProgramPath(name);
    if (!path.empty()) setString(r, path);
    return FuncOk;
}

// ---------------------------------------------------------------- comparison

FUNC_ERROR pathEqual(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const auto first = stringsOf(a, 0), second = stringsOf(a, 1);
    if (first.empty() || first.size() != second.size()) return FuncOk;
    const bool exact = sp_CaseSensitiveFiles();
    bool* out = r.makeBoolVector(int64_t(first.size()));
    for (size_t k = 0; k < first.size(); ++k)
        out[k] = exact ? first[k] == second[k] : sameWord(first[k], second[k]);
    return FuncOk;
}

// ---------------------------------------------------------------- directories

// 0: no such directory; 1: a file can be created in it; 2: it exists but
// could not be entered or written. The probe file is made exclusively and
// only that file is removed again (cv::probeDirectory).
FUNC_ERROR existDir(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    switch (cv::probeDirectory(pathArg(a))) {
        case DirProbe::Missing: setInteger(r, 0); break;
        case DirProbe::Writable: setInteger(r, 1); break;
        case DirProbe::NotWritable: setInteger(r, 2); break;
    }
    return FuncOk;
}

bool madeDir(std::string_view p) { return !sp_MakeDir(p); }

FUNC_ERROR copyTree(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    static const char* const words[] = {"success", "failed", "incomplete", "notempty", "sourcenotexist"};
    const int rc = sp_CopyTree(pathArg(a, 0), pathArg(a, 1));
    setString(r, rc >= 0 && rc <= 4 ? words[rc] : "unknown");
    return FuncOk;
}

FUNC_ERROR deleteTree(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    static const char* const words[] = {"success", "failed", "incomplete", "unknown", "sourcenotexist"};
    const int rc = sp_DeleteTree(pathArg(a));
    setString(r, rc >= 0 && rc <= 4 ? words[rc] : "unknown");
    return FuncOk;
}

FUNC_ERROR listDirectory(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<std::string> list;
    sp_ListDirectory(pathArg(a), list, wordOf(a, 1, {"fullpath"}, -1, -1) == 0);
    if (!list.empty()) setStrings(r, list);
    return FuncOk;
}

FUNC_ERROR descendDirectories(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<std::string> list;
    sp_DescendDirectories_2(pathArg(a), list, wordOf(a, 1, {"includehidden"}, -1, -1) == 0);
    setStrings(r, list);
    return FuncOk;
}

FUNC_ERROR getTempFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setString(r, sp_GetTempFile(given(a, 0) ? pathArg(a) : sp_GetTempPath()));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"PathEqual",             {String, String}, {}, 2, 2, handler<pathEqual>,                                "", PyBoolVector, Plain},
    {"ChangeDir",             {String},         {}, 1, 1, handler<changeDir>,                                "", PyInteger,    Plain},
    {"CleanPath",             {String},         {}, 1, 1, handler<passThrough<cleanPath>>,                   "", PyString,     Plain},
    {"ConvertLocalToUnix",    {String},         {}, 1, 1, handler<passThrough<sp_ConvertLocalToUnix>>,       "", PyString,     Plain},
    {"ConvertUnixToLocal",    {String},         {}, 1, 1, handler<passThrough<sp_ConvertUnixToLocal>>,       "", PyString,     Plain},
    {"CopyTree",              {String, String}, {}, 2, 2, handler<copyTree>,                                 "", PyString,     Plain},
    {"DeleteTree",            {String},         {}, 1, 1, handler<deleteTree>,                               "", PyString,     Plain},
    {"DescendDirectories",    {String, String}, {}, 1, 2, handler<descendDirectories>,                       "", PyStringList, Plain},
    {"DirectoryIsWriteable",  {String},         {}, 1, 1, handler<boolOf<sp_DirectoryIsWriteable>>,          "", PyBool,       Plain},
    {"ExistDir",              {String},         {}, 1, 1, handler<existDir>,                                 "", PyInteger,    Plain},
    {"ExistFile",             {String},         {}, 1, 1, handler<boolOf<sp_ExistFile>>,                     "", PyBool,       Plain},
    {"FullPath",              {String, String}, {}, 1, 2, handler<fullPath>,                                 "", PyString,     Plain},
    {"GetCompatiblePathName", {String},         {}, 1, 1, handler<passThrough<sp_GetCompatiblePathName>>,    "", PyString,     Plain},
    {"GetCurDir",             {Any},            {}, 0, 0, handler<getCurDir>,                                "", PyString,     Plain},
    {"GetFileDir",            {String},         {}, 1, 1, handler<getFileDir>,                               "", PyString,     Plain},
    {"GetFileExtensions",     {String},         {}, 1, 1, handler<getFileExtensions>,                        "", PyStringList, Plain},
    {"GetLongPathName",       {String},         {}, 1, 1, handler<passThrough<sp_GetLongPathName>>,          "", PyString,     Plain},
    {"GetPath",               {String},         {}, 1, 1, handler<getPath>,                                  "", PyString2,    Plain},
    {"GetShortPathName",      {String},         {}, 1, 1, handler<passThrough<sp_GetShortPathName>>,         "", PyString,     Plain},
    {"GetUncPath",            {String},         {}, 1, 1, handler<passThrough<uncPath>>,                     "", PyString,     Plain},
    {"GetVolumeName",         {String},         {}, 1, 1, handler<passThrough<sp_GetVolumeName>>,            "", PyString,     Plain},
    {"IsFileOfType",          {String, String}, {}, 2, 2, handler<isFileOfType>,                             "", PyBool,       Plain},
    {"IsFullPath",            {String},         {}, 1, 1, handler<boolOf<sp_IsRelativePath, true>>,          "", PyBool,       Plain},
    {"IsSameFile",            {String, String}, {}, 2, 2, handler<isSameFile>,                               "", PyBool,       Plain},
    {"ListDirectory",         {String, String}, {}, 1, 2, handler<listDirectory>,                            "", PyStringList, Plain},
    {"MakeDir",               {String},         {}, 1, 1, handler<boolOf<madeDir>>,                          "", PyBool,       Plain},
    {"MakeLogicalPath",       {String, String}, {}, 1, 2, handler<makeLogicalPath>,                          "", PyString,     Plain},
    {"MakeTree",              {String},         {}, 1, 1, handler<boolOf<sp_MakeTree>>,                      "", PyBool,       Plain},
    {"RelativePath",          {String, String}, {}, 1, 2, handler<relativePath>,                             "", PyString,     Plain},
    {"SplitPath",             {String},         {}, 1, 1, handler<splitPath<sp_SplitPath>>,                  "", PyStringList, Plain},
    {"TranslateLogicalPath",  {String},         {}, 1, 1, handler<passThrough<translated>>,                  "", PyString,     Plain},
    {"_GetPathWithNoSpaces",  {String},         {}, 1, 1, handler<passThrough<sp_GetPathWithNoSpaces>>,      "", PyString,     Plain},
    {"_SplitPathOld",         {String},         {}, 1, 1, handler<splitPath<sp_SplitPath_Old>>,              "", PyStringList, Plain},
    {"GetActualPath",         {String},         {}, 1, 1, handler<passThrough<sp_ResolvePath>>,              "", PyString,     Plain},
    {"GetKnownFolderPath",    {String},         {}, 1, 1, handler<passThrough<sp_GetKnownFolderPath>>,       "", PyString,     Plain},
    {"GetTempFile",           {String},         {}, 0, 1, handler<getTempFile>,                              "", PyString,     Plain},
};
// clang-format on

}  // namespace
