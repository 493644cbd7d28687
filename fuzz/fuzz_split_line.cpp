// sp_SplitLine (plain and with a quote pair, both modes) and the cursor form
// of sp_ScanLine. The plain split loses nothing: its fields joined by the
// separator give the text back (less a separator at the very end).
#include "FuzzSupport.h"
#include "TextLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const char separator = char(in.u8());
    const int mode = in.flag() ? SplitLineStripQuotes : 0;
    std::string quotes = in.str().substr(0, 3);
    std::string text = in.rest();

    YArray<YString> plain;
    sp_SplitLine(text, separator, plain, 0);
    std::string joined;
    for (int i = 0; i < int(plain.size()); ++i) {
        if (i) joined += separator;
        joined += plain[i].view();
    }
    std::string_view expected = text;
    if (!expected.empty() && expected.back() == separator) expected.remove_suffix(1);
    if (joined != expected) {
        std::fprintf(stderr, "sp_SplitLine lost bytes\n");
        std::abort();
    }
    YArray<YString> quoted;
    sp_SplitLine(text, separator, quotes, quoted, mode);

    const char* cursor = text.c_str();
    YString field;
    size_t guard = text.size() + 2;
    while (sp_ScanLine(cursor, separator, field))
        if (--guard == 0) std::abort();  // the cursor must advance
    return 0;
}
