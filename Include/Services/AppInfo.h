// Facts about the installed application: its version, build and layout, the
// system values scripts may ask for by name, help topics and the image
// formats the host handles.
//
// The version comes from the build (the project version in CMakeLists.txt is
// the one source); the layout from where the host library lies (see
// sp_GetExeDir in PathUtil.h).
//
// System values, looked up case-insensitively. A path value is kept in its
// logical form; sp_GetSystemValue gives that text, sp_GetSystemValuePath the
// directory it stands for (a clean absolute path, no trailing "/"):
//
//   SHAREPATH          %SHAREPATH%           the host's data tree
//   EXAMPLEINSTALLDIR  %SHAREPATH%/examples  the bundled example data
//   DEVICESPATH        %SHAREPATH%/devices   the shipped device plug-ins
//   CVAPPDATAPATH      %CVFUNC_HOME%         the user's settings home
//   PROGRAMPATH        the directory of the host's binaries
//   PREFIX             the installation prefix (the directory above)
//   TEMPPATH           %TEMP%                the temporary directory
//   PRODUCTNAME        cvfunc
//   PRODUCTVERSION     the version, MAJOR.MINOR.PATCH
//   ARCHITECTURE       the architecture the host was built for
//
// Earlier versions are the ones listed in the file "versions" of the
// settings home (written by an installer or by hand: one version a line, as
// MAJOR.MINOR or as MAJOR*100+MINOR; blank lines and lines starting with '#'
// are skipped, and so is the running version). No file, no earlier versions.
//
// Help topics are the function names of the function reference; a topic's
// context id is the 32-bit FNV-1a hash of its lower-cased name with the top
// bit cleared, so an id never changes when functions are added, and unknown
// topics give 4294967295.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "YString.h"

struct CorvantaVersionInfo {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t suffixNumber = 0;  // the patch level
    int32_t releaseKind = 0;   // 3 release, 2 release candidate, 1 beta, else pre-beta
    int32_t reserved = 0;
    int32_t buildKind = 0;     // 2 final release, 1 development build, else debug
    int32_t number = 0;        // the build number given to CMake (0 by default)
    char text[64] = {};        // the whole version, "MAJOR.MINOR.PATCH"
};

void sp_GetVersionValues(CorvantaVersionInfo& info);
// "x86_64", "aarch64", ...: the machine the binary was built for.
std::string sp_GetBinaryArchitecture();
// Earlier versions, each MAJOR*100+MINOR, in the order of the file above.
std::vector<int32_t> sp_GetOldVersions();
// "cvfunc/MAJOR.MINOR": product and version, the name of a versioned folder.
std::string sp_GetProductFolderName();

YString sp_GetSystemValue(const char* name, bool& found);
YString sp_GetSystemValuePath(const char* name, bool& found);

// The help context id of a topic: a stable hash of its name, or 0xffffffff
// for a topic the help does not hold. The help is the function reference,
// which the layer above keeps: it tells which topics exist through
// cv::setHelpTopicLookup (until then no topic exists).
uint32_t sp_GetHelpContextId(const char* topic);
namespace cv {
void setHelpTopicLookup(bool (*exists)(const char* topic));
}

// Image formats (extensions without the dot, lower case) the host reads and
// writes itself. It has no image decoder, so it reads none; it writes the
// SVG of the report pages' charts.
std::vector<std::string> sp_GetSupportedImageReadFormats();
std::vector<std::string> sp_GetSupportedImageWriteFormats();
