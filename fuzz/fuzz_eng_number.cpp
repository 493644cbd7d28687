// The engineering-number reader and writer: reading stops inside the text,
// and every written number reads back to the value it was rounded to.
#include <cmath>

#include "EngNumber.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const double value = in.f64();
    const int digits = int(in.u8() % 20) - 1;
    const bool keep = in.flag();
    std::string text = in.rest();
    const char* end = nullptr;
    sp_ConvertEngToReal(text.c_str(), &end);
    if (end < text.c_str() || end > text.c_str() + text.size()) std::abort();
    std::string written = sp_ConvertRealToJSEng(value, digits, keep);
    const double back = sp_ConvertEngToReal(written.c_str(), &end);
    if (*end != '\0' || (std::isnan(value) != std::isnan(back))) {
        std::fprintf(stderr, "%.17g written as '%s' reads back as %.17g\n", value, written.c_str(), back);
        std::abort();
    }
    if (digits >= 17 && !std::isnan(value) && back != value && !(value == 0 && back == 0)) {
        std::fprintf(stderr, "%.17g written as '%s' reads back as %.17g\n", value, written.c_str(), back);
        std::abort();
    }
    return 0;
}
