// How the tool prints values: plain text, one JSON object per line, or CSV.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Value.h"

namespace cv {

enum class OutputFormat { Text, Json, Csv };

// The text of one printed value, ending with a newline. A value with no
// elements prints as "(empty)" in text, an empty "values" array in JSON and
// a header alone in CSV.
std::string formatValue(const Value& v, OutputFormat format);
std::string jsonString(std::string_view s);

// The printed values of the statements of one run of the tool. Text and
// JSON print as each statement ends (JSON: every statement, assignments
// too, each object with its "statement" text and an assignment's "name");
// CSV waits for the end, to write one tidy table when every printed
// statement gives one number per division (a column per statement, complex
// values as two, a row per division with the file's labels), and otherwise
// a table per statement.
// The pieces of the tidy table, for tables laid out elsewhere (cvfunc
// --each: a row per file and run). The row keys of a value that gives one
// number per run (empty for any other value), a CSV field quoted when it
// needs to be, the CSV cells of element i (complex: two) and its JSON form.
std::vector<std::string> tidyRowKeys(const Value& v);
std::string tidyCsvField(const std::string& s);
std::string tidyCsvCells(const Value& v, int64_t i);
std::string tidyJsonElement(const Value& v, int64_t i);

class StatementPrinter {
public:
    StatementPrinter(OutputFormat format, std::function<void(const std::string&)> out)
        : format_(format), out_(std::move(out)) {}
    void statement(const ValuePtr& v, std::string_view text, std::string_view assigned);
    void finish();

private:
    OutputFormat format_;
    std::function<void(const std::string&)> out_;
    std::vector<std::pair<std::string, ValuePtr>> csv_;  // statement text, value
};

}  // namespace cv
