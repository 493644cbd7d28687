// The netlist line reader sp_ParseSpiceLines: no logical line is empty or
// longer than the text, and none holds a newline.
#include "FuzzSupport.h"
#include "SpiceLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const YString& line : sp_ParseSpiceLines(text))
        if (line.view().empty() || line.view().size() > size || line.view().find('\n') != std::string_view::npos)
            std::abort();
    return 0;
}
