// The cursor tokenisers sp_GetToken and sp_StrTok: each call that gives a
// token shortens the rest, so a scan always ends.
#include "FuzzSupport.h"
#include "TextLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const bool quoted = in.flag();
    std::string delimiters = in.str().substr(0, 6);
    std::string text = in.rest();
    std::string_view rest = text;
    YString token;
    size_t before = rest.size();
    while (quoted ? sp_StrTok(rest, delimiters, token) : sp_GetToken(rest, delimiters, token)) {
        if (rest.size() >= before) std::abort();
        before = rest.size();
    }
    return 0;
}
