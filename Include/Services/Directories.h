// Directory services on POSIX: existence, creation, listing, trees, the
// temporary directory and temporary files.
//
// Listings are sorted by name (byte order), so that results are the same on
// every run and every file system. Tree operations never follow a symbolic
// link: a link is copied as a link and deleted as a link, so neither can
// reach outside the tree it was given.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What a tree copy or deletion came to.
enum CopyTreeErr : int {
    CopyTreeSuccess = 0,
    CopyTreeFailed = 1,          // nothing done: refused, or the first step failed
    CopyTreeIncomplete = 2,      // some entries could not be copied or deleted
    CopyTreeNotEmpty = 3,        // the destination exists and holds something
    CopyTreeSourceNotExist = 4,
};

// Called once per entry copied or deleted (the host has no events to process
// between them; a caller may).
using TreeProgress = std::function<void()>;

// Whether the path exists and is a directory (links followed).
bool sp_ExistDir(std::string_view path);
// Whether the path exists and is not a directory (links followed).
bool sp_ExistFile(std::string_view path);
// mkdir(2) with mode 0777 less the umask. Like mkdir's own return value, the
// result is true when it FAILED (also when the directory existed already).
bool sp_MakeDir(std::string_view path);
// Makes the directory and every missing parent; true when it is a directory
// afterwards.
bool sp_MakeTree(std::string_view path);

// The result of trying to create a file in a directory.
enum class DirProbe { Missing, NotWritable, Writable };
// Creates a probe file in `dir` with O_CREAT | O_EXCL (name "$$Temp", else
// "$$Temp1", "$$Temp2", ... while the name is taken), through a descriptor of
// the directory so that the current directory is never changed, and deletes
// it again only when it is still the file this call created. A file someone
// else made is never opened, truncated or removed.
namespace cv {
DirProbe probeDirectory(std::string_view dir);
}  // namespace cv
// Whether a file can be created in the directory (cv::probeDirectory).
bool sp_DirectoryIsWriteable(std::string_view dir);

// The names of the directory's entries ("." and ".." left out), sorted, as
// full paths (directory, '/', name) when asked. False when the directory
// cannot be read.
bool sp_ListDirectory(std::string_view dir, std::vector<std::string>& out, bool fullPath);
// The directory itself and every directory below it, as paths that start with
// `dir`, depth first with siblings sorted by name. Directories whose name
// starts with '.' (and what is below them) are left out unless asked for.
// Links to directories are not followed. False when `dir` cannot be read.
bool sp_DescendDirectories_2(std::string_view dir, std::vector<std::string>& out, bool includeHidden);

// Copies the tree at `source` to `destination`, which must not exist or be an
// empty directory (CopyTreeNotEmpty otherwise). Regular files are copied with
// their permission bits, links as links, directories recursively; other
// entries (FIFOs, devices, sockets) are skipped and make it incomplete. A
// destination inside the source is refused (CopyTreeFailed), since the copy
// would copy itself without end.
CopyTreeErr sp_CopyTree(std::string_view source, std::string_view destination, const TreeProgress& progress = {});
// Deletes the directory `dir` and everything in it. Links are removed, never
// followed. Refused (CopyTreeFailed, nothing touched): "", the root, the
// user's home directory itself, and a path that is a link or not a directory.
CopyTreeErr sp_DeleteTree(std::string_view dir, const TreeProgress& progress = {});

// The host's temporary data directory; the temporary directory on this platform.
std::string vec_GetTempDataDir();
// Creates a new empty file with a unique name in `dir` (mkstemp: created
// exclusively, mode 0600) and returns its path; "" when none could be made.
std::string sp_GetTempFile(std::string_view dir);
