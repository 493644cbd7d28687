// The script functions ParseParameterString and ParseParameterString2, with
// 3-5 arguments: the parameter string, names, modes, values and options.
#include "ScriptText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const bool second = in.flag();
    const size_t count = 3 + in.pick(3);
    std::vector<cv::ValuePtr> args;
    for (size_t i = 1; i < count; ++i) args.push_back(fuzz::stringList(in));
    args.insert(args.begin(), cv::Value::string(in.rest()));
    fuzz::call(second ? "ParseParameterString2" : "ParseParameterString", args);
    return 0;
}
