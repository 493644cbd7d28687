// Path splitting in the manner of the Windows _splitpath.
#pragma once
#include <string_view>

#include "YString.h"

struct PathName {
    YString drive, dir, fname, ext;
};

// Splits a path into drive ("C:" when it starts with a letter and a colon,
// else empty), directory (up to and including the last '/' or '\'), file name
// and extension (from the last '.' of the name, the dot included). Dots that
// begin a name are part of the name: ".bashrc" has no extension, and nor do
// "." and "..". "C:\a\b.txt" gives "C:", "\a\", "b", ".txt";
// "/usr/lib/x.so.1" gives "", "/usr/lib/", "x.so", ".1".
PathName sp_SplitPath(std::string_view path);
