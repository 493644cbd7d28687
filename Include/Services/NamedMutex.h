// Named system mutexes, visible to every process of the same user.
//
// A named mutex is a lock file held with flock(2): the kernel releases it when
// the holding process ends, however it ends, so a crashed holder never leaves
// a mutex taken. The files live in one directory per user:
//   $XDG_RUNTIME_DIR/cvfunc/mutex       when XDG_RUNTIME_DIR is set,
//   $CVFUNC_HOME/mutex                  else when CVFUNC_HOME is set,
//   /tmp/cvfunc-<uid>/mutex             otherwise,
// made with mode 0700 and refused when it is a link or belongs to another user.
// A file is named after the mutex: letters, digits, '.', '_' and '-' as they
// are (a leading '.' excepted), every other byte as %XX; a name whose file name
// would exceed 200 bytes takes "long-" and the SHA-256 of the name in hex.
// Names are case-sensitive, as the file names are.
//
// sp_CreateMutex(name, initialOwner) opens (creating if need be) the mutex and
// returns a handle >= 1. With initialOwner it also takes the mutex without
// waiting; when another holder has it (another process, or another handle of
// this one) nothing is opened and the result is 0, so a caller learns that
// the name is taken. An empty name makes a mutex of this process alone. 0 also
// reports a directory or file that cannot be made.
// sp_ReleaseMutex gives up the ownership of a handle (true when it was
// owned); a lock file this process created is deleted first, while it is still
// held, and a taker checks after locking that its file is still the one in the
// directory. sp_CloseMutex releases and forgets the handle (false when
// unknown). Lock files made by other processes are never deleted.
#pragma once
#include <cstdint>

int64_t sp_CreateMutex(const char* name, bool initialOwner);
bool sp_ReleaseMutex(int64_t handle);
bool sp_CloseMutex(int64_t handle);
