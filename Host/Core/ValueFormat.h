// How the tool prints values: plain text, one JSON object per line, or CSV.
//
// Rules:
// - formatValue gives every element. The statement printer shortens a long
//   value in text (more than kSummaryAbove elements): the first and last
//   kSummaryEdge elements of each division, the first and last
//   kSummaryEdgeDivisions divisions when there are more, and a closing line
//   with the count and how to get everything. JSON and CSV always give all.
// - A value gives "one number per run" when it has several divisions of one
//   element each, or when it is a statistic the host collected over the runs
//   (one division against x-values read from the run labels). The second
//   carries its runs only as those x-values ("r2=1k" becomes 1000 on an axis
//   "r2"); matched against the division labels of the session's vectors it
//   gets the labels back as the file wrote them, so both read alike.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Value.h"

namespace cv {

class Session;

enum class OutputFormat { Text, Json, Csv };

constexpr int64_t kSummaryAbove = 1000;
constexpr int64_t kSummaryEdge = 10;
constexpr int64_t kSummaryEdgeDivisions = 3;

// The text of one printed value, ending with a newline. A value with no
// elements prints as "(empty)" in text, an empty "values" array in JSON and
// a header alone in CSV.
std::string formatValue(const Value& v, OutputFormat format);
std::string jsonString(std::string_view s);

// Lists of division labels that a value's rows may stand for: one list per
// set of runs, a label per run ("" for a run the file did not label, which
// prints as its number from 1).
using RunLabelSets = std::vector<std::vector<std::string>>;
using RunLabelSource = std::function<RunLabelSets()>;
// The distinct division labels of the vectors bound in a session and read so
// far (a file's vector not used yet is left in its file).
RunLabelSets sessionRunLabels(const Session& session);

// How the rows of a tidy table read a value.
struct TidyRows {
    enum Kind {
        None,     // not one number per row: text, empty, a plain list, a waveform per run
        Single,   // one number, the same on every row
        Runs,     // one number per run; keys are the run labels
        XValues,  // one number per x-value of one division; keys are the x-values' text
    } kind = None;
    std::vector<std::string> keys;
};
TidyRows tidyRows(const Value& v, const RunLabelSets& runs);

// The pieces of the tidy table, for tables laid out elsewhere (cvfunc
// --each: a row per file and run): a CSV field quoted when it needs to be,
// a column's header cells (complex: two), the CSV cells of element i
// (complex: two) and its JSON form.
std::string tidyCsvField(const std::string& s);
std::string tidyCsvTitle(const std::string& title, bool complex);
std::string tidyCsvCells(const Value& v, int64_t i);
std::string tidyJsonElement(const Value& v, int64_t i);

// The printed values of the statements of one run of the tool. Text and
// JSON print as each statement ends (text shortened as said above; JSON:
// every statement, assignments too, each object with its "statement" text,
// an assignment's "name", and "runs", the run label of each division, or of
// each number of a statistic collected over runs). CSV waits for the end, to
// write one tidy table when every printed statement gives one number per run
// or one number (a column "run" with the run labels, a column per statement
// headed by its text, complex values as two; lone numbers repeated on every
// row), and otherwise a table per statement.
class StatementPrinter {
public:
    StatementPrinter(OutputFormat format, std::function<void(const std::string&)> out, RunLabelSource runs = {})
        : format_(format), out_(std::move(out)), runs_(std::move(runs)) {}
    void statement(const ValuePtr& v, std::string_view text, std::string_view assigned);
    void finish();

private:
    RunLabelSets runSets(const std::vector<std::pair<std::string, ValuePtr>>& printed) const;

    OutputFormat format_;
    std::function<void(const std::string&)> out_;
    RunLabelSource runs_;
    std::vector<std::pair<std::string, ValuePtr>> csv_;  // statement text, value
};

}  // namespace cv
