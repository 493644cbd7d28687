// The netlist stream (NewSpiceStream over a file, then gets until the end):
// it hands out exactly the logical lines of the netlist line reader, none
// empty and none holding a newline, and ends.
#include "FuzzSupport.h"
#include "SpiceLines.h"
#include "SpiceStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string path = fuzz::writeFile("deck.cir", text);
    const auto stream = NewSpiceStream(path.c_str());
    if (!stream || !stream->valid()) std::abort();  // a regular file always opens
    YString line;
    size_t count = 0;
    while (stream->gets(line)) {
        if (line.view().empty() || line.view().find('\n') != std::string_view::npos) std::abort();
        if (++count > size + 1) std::abort();  // the stream must end
    }
    // The stream stops at a NUL byte, as script strings do; before that it is
    // the line reader's own reading.
    const std::string_view upToNul = text.substr(0, text.find('\0'));
    if (upToNul.size() == text.size() && count != sp_ParseSpiceLines(text).size()) std::abort();
    return 0;
}
