// The netlist stream (see SpiceStream.h).
#include "SpiceStream.h"

#include "FileUtil.h"
#include "SpiceLines.h"

SpiceStream::SpiceStream(const char* path) {
    JFileBuf file;
    if (!file.open(path, true)) return;
    lines_ = sp_ParseSpiceLines(std::string_view(file.data(), file.size()));
    valid_ = true;
}

bool SpiceStream::gets(YString& line) {
    if (next_ >= lines_.size()) return false;
    line = std::move(lines_[next_++]);
    return true;
}

std::unique_ptr<SpiceStream> NewSpiceStream(const char* path) { return std::make_unique<SpiceStream>(path); }
