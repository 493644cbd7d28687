// The script function SelectColumns: one column of records (the lines of the
// input's end), with and without separator options.
#include "Hostile.h"
#include "ScriptText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const uint8_t c = in.u8();
    cv::ValuePtr column = cv::Value::real(c < 128 ? double(c % 12) - 2 : fuzz::hostileReal(c));
    const bool options = in.flag();
    cv::ValuePtr option = fuzz::stringList(in);
    cv::ValuePtr records = fuzz::linesOfRest(in);
    if (options) fuzz::call("SelectColumns", {records, column, option});
    else fuzz::call("SelectColumns", {records, column});
    return 0;
}
