// The printf engine as scripts reach it, through SprintfNumber: an arbitrary
// format and up to seven arguments of any kind.
#include "Hostile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    std::vector<cv::ValuePtr> args;
    const size_t count = in.pick(8);
    for (size_t i = 0; i < count; ++i) args.push_back(fuzz::hostileValue(in));
    args.insert(args.begin(), cv::Value::string(in.rest()));
    fuzz::call("SprintfNumber", args);
    return 0;
}
