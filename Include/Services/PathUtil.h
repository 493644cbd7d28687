// Path services on POSIX.
//
// A path is a UTF-8 byte string; '/' is the only separator, so a backslash is
// an ordinary byte of a name. There are no drives, no short (8.3) names, no
// UNC prefixes and no letter-case folding of file names: the operations that
// exist for those elsewhere are documented below as what they are here.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "YString.h"

struct PathName {
    YString drive, dir, fname, ext;
};

// Splits a path into drive (always empty on this platform: there are no
// drive letters, and "C:" is an ordinary name), directory (up to and
// including the last '/'), file name and extension (from the last '.' of the
// name, the dot included). Dots that begin a name are part of the name:
// ".bashrc" has no extension, and nor do "." and "..". The parts joined give
// the path back. "/usr/lib/x.so.1" gives "", "/usr/lib/", "x.so", ".1".
PathName sp_SplitPath(std::string_view path);
// The earlier splitter, kept for scripts that rely on it: the same, except
// that the extension starts at the last dot of the name even when that dot
// begins it (".bashrc" is all extension, ".." is name "." and extension ".").
PathName sp_SplitPath_Old(std::string_view path);
// The directory part of a path with its trailing '/' ("" when there is none).
std::string sp_GetDirFromPath(std::string_view path);

// Lexical normalisation: runs of '/' become one, "." components go, ".."
// removes the component before it (at the root it is dropped, at the start
// of a relative path it stays), and a trailing '/' goes. Symbolic links are
// not looked at. "" stays "" (there is nothing to clean); a relative path
// that cleans to nothing is ".".
std::string sp_CleanPath(std::string_view path);
// True for "" and for every path that does not start with '/'.
bool sp_IsRelativePath(std::string_view path);
// The absolute, cleaned form of `path`, relative paths taken against the
// current directory ("" gives the current directory). Links are not resolved.
std::string sp_GetFullPath(std::string_view path);
// The same against `base` instead of the current directory (itself made
// absolute first). The current directory is never changed.
std::string sp_GetFullPath(std::string_view path, std::string_view base);
// `path` written relative to the directory `base` (both made absolute and
// cleaned first): "." when they are the same, ".." steps where `path` is not
// below `base`. Lexical, like Python's os.path.relpath.
std::string sp_RelativePath(std::string_view path, std::string_view base);
// The absolute path with every symbolic link resolved, component by
// component as the kernel walks it (realpath(3)); components that do not
// exist are kept as written, and a ".." after one removes it again. A link
// loop stops after 40 links.
std::string sp_ResolvePath(std::string_view path);
// True when both name the same existing file (same device and inode, so two
// links or two spellings of one file are equal). When either does not exist,
// true only when their absolute, cleaned forms are equal.
bool sp_ComparePaths(std::string_view a, std::string_view b);
// File names are case-sensitive on this platform: true.
bool sp_CaseSensitiveFiles();
// Paths compare and hash with '\' taken for '/' and the platform's rule for
// letter case (exact on Linux): texts that compare equal hash alike.
bool equalPath(std::string_view a, std::string_view b) noexcept;
uint32_t hashPath(std::string_view s) noexcept;
// The temporary directory: $TMPDIR when it is set, else "/tmp" (no trailing '/').
std::string sp_GetTempPath();
// The current directory, "" when it cannot be read (it was removed).
std::string sp_GetCwd();
// chdir(2): 0 on success, else the errno of the failure.
int sp_ChangeDir(std::string_view dir);

// The long, short, compatible and UNC names of a path, and its form without
// spaces, all exist for file systems with two names per file or drive-letter
// mappings. Here a file has one name: each gives the path unchanged.
std::string sp_GetLongPathName(std::string_view path);
std::string sp_GetShortPathName(std::string_view path);
std::string sp_GetCompatiblePathName(std::string_view path);
std::string sp_GetUNCPath(std::string_view path, bool flag = false);
std::string sp_GetPathWithNoSpaces(std::string_view path);
// The mount point of the file system that holds the path (the root of its
// volume), found by walking up while the device stays the same; "" when
// nothing of the path exists.
std::string sp_GetVolumeName(std::string_view path);
// Local paths use '/' already. ConvertLocalToUnix also turns each '\' into
// '/', so that a path written on a system with backslash separators reads
// here; ConvertUnixToLocal gives the path unchanged.
std::string sp_ConvertLocalToUnix(std::string_view path);
std::string sp_ConvertUnixToLocal(std::string_view path);

// ---------------------------------------------------------------- logical paths
//
// A logical path starts with "%NAME%" and stands for that name's directory
// followed by the rest. The names, looked up case-insensitively:
//
//   PROJECT      the host option "ProjectDir", else $CVFUNC_PROJECT   (project)
//   CVFUNC_HOME  $CVFUNC_HOME, else $XDG_CONFIG_HOME/cvfunc,
//                else $HOME/.config/cvfunc                            (system)
//   CVAPPDATAPATH  the same directory: the user's settings home       (system)
//   SHAREPATH    the host's data tree, cv::shareDir()               (system)
//   PROGRAM      the directory of the running program                 (system)
//   TEMP         the temporary directory (sp_GetTempPath)             (system)
//   HOME         $HOME                                                (system)
//
// Translation also accepts any other NAME that is a host option with a
// non-empty value, or else an environment variable.
struct LogicalPathOptions {
    LogicalPathOptions(bool systemOnly = false, bool projectOnly = false)
        : systemOnly(systemOnly), projectOnly(projectOnly) {}
    bool systemOnly, projectOnly;
};
// Replaces a leading "%NAME%" by its directory; true when it did. Otherwise
// `out` is the path unchanged and the result false.
bool sp_TranslateLogicalPath(std::string_view path, std::string& out, bool flag = false);
// The absolute path with the longest table directory that contains it
// replaced by "%NAME%" (only project names, or only system names, when the
// options say so); true when one was found. Otherwise `out` is the absolute
// path and the result false.
bool sp_MakeLogicalPath(std::string_view path, std::string& out, LogicalPathOptions options);

// ---------------------------------------------------------------- named locations

// The directory of the host's binaries: where the host library lies (the
// build directory; PREFIX/lib in an install, beside PREFIX/bin with the
// tool), whichever program loaded it (the tool, Python, a test). Its parent
// is the installation prefix.
std::string sp_GetExeDir();
// The host's read-only data tree (function reference, style sheets, device
// plug-ins, examples): $CVFUNC_SHARE when set; else share/ beside the host
// library (the build tree links the sources' share/ there); else
// PREFIX/share/cvfunc for a library installed in PREFIX/lib. No trailing
// "/"; "" when none exists.
namespace cv {
std::string shareDir();
}  // namespace cv

// The directories the host knows by name (case-insensitive):
//   "ProgramPath", "ExePath"      directory of the running program
//   "StartScriptPath"             the host option of that name
//   "DataPath", "SharePath"       cv::shareDir(), with a trailing "/"
//   "UserPath", "AppDataPath"     CVFUNC_HOME (see above)
//   "TempPath"                    the temporary directory
//   "HomePath", "DocumentsPath"   $HOME and the XDG documents directory
// "" for any other name.
std::string sp_GetProgramPath(std::string_view name);
// The XDG user directories by their known-folder names (case-insensitive):
// "Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos",
// "Templates", "Public" from $XDG_CONFIG_HOME/user-dirs.dirs (the defaults
// of xdg-user-dirs under $HOME when it does not say); "Profile" ($HOME),
// "RoamingAppData" ($XDG_CONFIG_HOME), "LocalAppData" ($XDG_DATA_HOME),
// "ProgramData" (/etc/xdg). "" for any other name.
std::string sp_GetKnownFolderPath(std::string_view name);

// ---------------------------------------------------------------- file types
//
// The extensions of the system's file types (without their dots), by type
// name (case-insensitive):
//   raw: raw, dat     csv: csv          netlist: net, cir, sp, spi, ckt
//   touchstone: s1p, s2p, s3p, s4p, snp, ts
//   wav: wav          ini: ini          text: txt, log
//   script: sxscr, scr                   library: lib, mod, lb
//   schematic: sxsch, sch                report: html, htm, xml
// An unknown type gives no extensions and false.
bool sp_GetCorvantaFileExtension(std::string_view type, std::vector<std::string>& extensions);
