// The wildcard matcher sp_FilterString, case-sensitive and not. A pattern
// made of the text itself (every wildcard and backslash escaped) matches it.
#include "FuzzSupport.h"
#include "TextMatch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const int flags = in.flag() ? FilterCaseSensitive : 0;
    std::string pattern = in.str();
    std::string text = in.rest();
    sp_FilterString(text, pattern, flags);
    std::string literal;
    for (char c : text) {
        if (c == '*' || c == '?' || c == '\\') literal += '\\';
        literal += c;
    }
    if (!sp_FilterString(text, literal, flags) || !sp_FilterString(text, "*", flags)) std::abort();
    return 0;
}
