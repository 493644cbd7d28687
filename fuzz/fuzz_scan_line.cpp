// sp_ScanLine, with a set of delimiters and with the quoting settings.
#include "FuzzSupport.h"
#include "TextLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    int max = int(in.u8()) - 8;
    if (max > 200) max = 2147483647;
    ScanSpec spec;
    spec.delimiters = in.str().substr(0, 6);
    spec.openQuotes = in.str().substr(0, 4);
    spec.closeQuotes = in.str().substr(0, 4);
    std::string text = in.rest();
    YArray<YString> a, b;
    int n = sp_ScanLine(text, spec.delimiters, a, max);
    int m = sp_ScanLine(text, spec, b, max);
    if (n != int(a.size()) || m != int(b.size()) || n > std::max(max, 0) || m > std::max(max, 0)) std::abort();
    return 0;
}
