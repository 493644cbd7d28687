// The script function RegExp: one pattern against a list of subjects.
#include "ScriptText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    cv::ValuePtr pattern = cv::Value::string(in.str());
    fuzz::call("RegExp", {fuzz::linesOfRest(in), pattern});
    return 0;
}
