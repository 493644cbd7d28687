// The netlist stream: the logical lines of a netlist file, one at a time.
//
// The file is loaded whole and cut into logical lines by sp_ParseSpiceLines
// (SpiceLines.h), so a file means the same here as a netlist text handed to a
// script function: continuation lines joined, comment lines and end-of-line
// comments dropped, blank lines skipped. ".include" lines are lines like any
// other; the stream does not follow them. Time and memory are linear in the
// file's size, whatever its line lengths or number of continuation lines.
#pragma once
#include <memory>
#include <vector>

#include "YString.h"

class SpiceStream {
public:
    // Invalid when the file is not a regular file that can be read.
    explicit SpiceStream(const char* path);
    bool valid() const noexcept { return valid_; }
    // The next logical line; false at the end.
    bool gets(YString& line);

private:
    std::vector<YString> lines_;
    size_t next_ = 0;
    bool valid_ = false;
};

std::unique_ptr<SpiceStream> NewSpiceStream(const char* path);
