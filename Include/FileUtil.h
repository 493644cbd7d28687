// File access with UTF-8 paths and C runtime open modes. On POSIX a
// path is UTF-8 already; what differs is the mode: the Windows-only letters
// ('t', 'N', 'S', 'R', 'T', 'D', 'c', 'n') and a ", ccs=..." suffix are
// dropped, so modes written for Windows work unchanged.
#pragma once
#include <cstdio>

// Null (errno EINVAL) for a null path or mode, or a mode that does not start
// with 'r', 'w' or 'a'.
FILE* fopen_utf8(const char* path, const char* mode);
// Stores the file (or null) in *f; returns 0 or the errno of the failure.
int fopen_s_utf8(FILE** f, const char* path, const char* mode);
// unlink(2): 0, or -1 with errno set (EINVAL for a null path).
int unlink_utf8(const char* path);
