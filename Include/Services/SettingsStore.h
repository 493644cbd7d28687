// The host's persistent settings: the configuration store, library
// collections and the three registry trees, each an INI file (IniFile.h), so
// that one parser, one locking rule and one atomic write serve them all.
// docs/SETTINGS.md lists every file.
//
// The settings home is the logical directory %CVFUNC_HOME% (PathUtil.h:
// $CVFUNC_HOME, else $XDG_CONFIG_HOME/cvfunc, else ~/.config/cvfunc); it is
// created on the first write. It holds:
//   config.ini     the configuration store: sections with keys. A library
//                  collection is a section of it whose files are the keys
//                  File1, File2, ... in order.
//   registry.ini   the current user's tree (HKCU): one section per key path.
//
// The system directory is $CVFUNC_SYSCONF, else /etc/cvfunc. It holds the
// system-wide trees, which an ordinary user can read and not write (the
// directory's permissions decide; it is never created here):
//   registry.ini   the local-machine tree (HKLM).
//   classes.ini    the classes tree (HKCR), read only.
//
// Registry key paths keep their backslashes: "Software\Vendor\App". Leading,
// trailing and doubled backslashes are dropped, blanks at either end
// trimmed, and paths compare ignoring ASCII case. A key exists when a
// section names it or a key below it. The unnamed (default) value of a key
// is stored under the name "@". Names that an INI file cannot hold (a key
// path with ']', a value name with '=', anything with a line end) and values
// with a line end cannot be written.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------- locations

// The settings home ("" when neither $CVFUNC_HOME, $XDG_CONFIG_HOME nor $HOME
// is set) and the system directory, without a trailing '/'.
namespace cv {
std::string settingsHome();
std::string systemSettingsDir();
}  // namespace cv

class ConfigLocation {
public:
    const std::string& getString() const noexcept { return path_; }
    void setString(std::string path) { path_ = std::move(path); }

private:
    std::string path_;
};
// The settings home; false when there is none.
bool cfgman_GetBaseConfigLocation(ConfigLocation& location);

// ---------------------------------------------------------------- configuration store

// The value of the key (false and "" when the section or key is missing).
bool cfgman_GetConfigSetting(std::string_view section, std::string_view key, std::string& value);
// The key names of the section in file order (false when it has none).
bool cfgman_GetConfigKeyNames(std::string_view section, std::vector<std::string>& keys);
// Sets the key, or deletes it when `value` is null; true when stored.
bool cfgman_WriteConfigSetting(std::string_view section, std::string_view key, const char* value);
// Removes the section with all its keys (a collection with all its files):
// 1 when it was there and is gone, 0 when there was none, -1 when the store
// could not be changed (or the name can name no section).
int cfgman_DeleteConfigSection(std::string_view section);

// ---------------------------------------------------------------- library collections
//
// A collection is an ordered list of library files. Files are kept as
// absolute paths (a logical path given is translated first); with
// `useLogicalPaths` as a logical path where a known directory contains them
// ("%SHAREPATH%/lib/x.lib"); with `nonPath` exactly as given (entries that
// are not file names). A file already in the collection (the same text, or
// the same absolute path) is not added twice.

// The number of files added (0 when all were there); -1 when the collection
// name is unusable, an entry holds a line end, or the store could not be
// read whole or written (then nothing changed).
int libman_AddFiles(const std::vector<std::string>& files, std::string_view collection, bool useLogicalPaths,
                    bool nonPath);
// The number of files removed (0 when none was there); -1 as above. A
// collection left with no entries is removed.
int libman_RemoveFiles(const std::vector<std::string>& files, std::string_view collection);
// The files in order, as stored; false when the collection does not exist.
bool libman_GetFiles(std::vector<std::string>& files, std::string_view collection);

// ---------------------------------------------------------------- registry trees

bool sp_ReadCurrentUserValue(std::string_view keyPath, std::string_view valueName, std::string& value);
bool sp_WriteCurrentUserValue(std::string_view keyPath, std::string_view valueName, std::string_view value);
bool sp_ReadLocalMachineValue(std::string_view keyPath, std::string_view valueName, std::string& value);
bool sp_WriteLocalMachineValue(std::string_view keyPath, std::string_view valueName, std::string_view value);
bool sp_ReadClassesRootValue(std::string_view keyPath, std::string_view valueName, std::string& value);
// The names of the keys directly below `keyPath` ("" for the top level), each
// once, in file order; false when there are none.
bool sp_GetClassesRootSubKeyNames(std::string_view keyPath, std::vector<std::string>& names);
