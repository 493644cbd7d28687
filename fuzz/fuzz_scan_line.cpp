// sp_ScanLine, with a set of delimiters and with the quoting settings.
#include "FuzzSupport.h"
#include "TextLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    int max = int(in.u8()) - 8;
    if (max > 200) max = 2147483647;
    ScanSpec rule;
    rule.delimiters = in.str().substr(0, 6);
    rule.openQuotes = in.str().substr(0, 4);
    rule.closeQuotes = in.str().substr(0, 4);
    std::string text = in.rest();
    YArray<YString> a, b;
    int n = sp_ScanLine(text, rule.delimiters, a, max);
    int m = sp_ScanLine(text, rule, b, max);
    if (n != int(a.size()) || m != int(b.size()) || n > std::max(max, 0) || m > std::max(max, 0)) std::abort();
    return 0;
}
