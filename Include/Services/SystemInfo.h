// Facts about the machine, the process and the user, as Linux gives them.
//
//   sp_GetLocalHostId            the host id of gethostid(3), 8 lower-case hex digits (what `hostid` prints)
//   sp_GetUserName               the effective user's login name (passwd entry; $USER, $LOGNAME when none)
//   sp_IsAdmin                   the process runs as root (effective uid 0)
//   sp_GetSystemRamSize          physical memory in bytes (0 when unknown)
//   sp_GetOSClassName            "Unix": the family of the system
//   sp_GetOsName                 the kernel's name from uname(2), e.g. "Linux"
//   sp_GetNativeArchitectureString  the machine from uname(2), e.g. "x86_64", "aarch64"
//   sp_GetProcessorArchitecture  the architecture this program was built for (differs from the
//                                native one for a 32-bit build on a 64-bit kernel)
//   sp_GetOsVersion              the first three numbers of the kernel release, "6.1.0-18-amd64" -> 6, 1, 0
//   sp_GetNumCores               physical cores (distinct core ids of the online processors)
//   sp_GetNumPhysicalProcessors  processor packages (sockets)
//   sp_GetNumLogicalProcessors   online logical processors (hardware threads), as os.cpu_count()
//   sp_TestExtended              the processor has the AVX2 vector extensions (x86-64; false elsewhere)
//
// Drives: Linux has no drive letters, so the "drive" of a path is the mounted
// file system holding it (found by device number in /proc/self/mountinfo).
// sp_GetDriveType gives 1 when the path does not exist, 3 for network file
// systems (NFS, CIFS/SMB, sshfs and other FUSE network mounts, Ceph, 9p ...),
// 4 for optical disc formats (iso9660, udf), 5 for the kernel's own pseudo file
// systems (proc, sysfs, devtmpfs ...), 2 for every other (disk, tmpfs, overlay).
// sp_GetFreeDiskSpace gives the bytes an unprivileged user may still write on
// the file system of an existing path (statvfs f_bavail), -1 for a path that
// does not exist or cannot be examined.
//
// sp_GetEthernetAddresses lists the hardware addresses of the Ethernet
// interfaces (getifaddrs, link type Ethernet, address not all zero), in the
// order of their interface index. Mode 0 writes 12 upper-case hex digits,
// mode 1 upper-case pairs joined by '-', mode 2 (and any other) lower-case
// pairs joined by ':' as Linux shows them.
//
// Code signatures: Linux executables (ELF) and scripts carry no embedded
// signature, so sp_GetCertificatePublisher is always "" and
// sp_VerifyEmbeddedSignature gives 0 ("no signature that could be verified")
// for a readable file and -1 for one that cannot be opened; no positive value
// ("verified") is ever given.
//
// sp_HaveOpenWebPage: a web page could be shown, i.e. $BROWSER names a program
// or xdg-open is on the PATH while a display ($DISPLAY, $WAYLAND_DISPLAY) is
// there.
#pragma once
#include <cstdint>

#include "YContainers.h"
#include "YString.h"

YString sp_GetLocalHostId();
YString sp_GetUserName();
bool sp_IsAdmin();
uint64_t sp_GetSystemRamSize();
YString sp_GetOSClassName();
YString sp_GetOsName();
YString sp_GetNativeArchitectureString();
YString sp_GetProcessorArchitecture();
void sp_GetOsVersion(int& major, int& minor, int& build);
int sp_GetNumCores();
int sp_GetNumPhysicalProcessors();
int sp_GetNumLogicalProcessors();
bool sp_TestExtended();

int sp_GetDriveType(const char* path);
// The word scripts see for a drive type: "notexist", "local", "remote",
// "cdrom", "other", or "unknown" for any other number.
namespace cv {
const char* driveTypeWord(int type);
}  // namespace cv
int64_t sp_GetFreeDiskSpace(const char* path);
void sp_GetEthernetAddresses(YList<YString>& out, int mode);

// The running program's file (/proc/self/exe), "" when unknown.
YString sp_GetExeFileName();
// The process environment, "NAME=value" in the order the process holds it.
void sp_GetEnvironment(YList<YString>& out);
// A variable's value, "" when unset.
YString sp_GetEnv(const char* name);
// Sets a variable for this process and the programs it starts; an empty
// value removes it (an empty assignment means "no value"). False for a name
// that is empty or holds '='.
bool sp_SetEnv(const char* name, const char* value);
// Bytes of stack the calling thread still has below the caller's frame.
uint64_t sp_StackAvail();

bool sp_HaveOpenWebPage();
YString sp_GetCertificatePublisher(const char* file);
int sp_VerifyEmbeddedSignature(const char* file);
