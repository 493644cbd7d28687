// The script function QueryData: records (the lines of the input's end)
// against a query of wildcard terms and operators.
#include "ScriptText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    cv::ValuePtr query = fuzz::stringList(in);
    const bool swap = in.flag();
    cv::ValuePtr records = fuzz::linesOfRest(in);
    if (swap) fuzz::call("QueryData", {query, records});
    else fuzz::call("QueryData", {records, query});
    return 0;
}
