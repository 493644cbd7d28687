// cvfunc --each: the same statements on many data files, one tidy table.
//
// Each file is measured in a child process forked from the tool once the
// module is loaded (and any --load files bound): every file starts from the
// same fresh session, nothing one file binds or sets reaches the next, a
// fault in one file cannot take the others with it, and the start-up is
// paid once. Up to `jobs` children run at a time; their results come back
// through pipes and are written in the order of the files.
//
// The table has a row per file and run and a column per printed statement,
// as the one-file tidy CSV lays them out: a statement giving one number per
// run fills the runs' rows, a single number is repeated on each of them. A
// file that cannot be loaded, a statement that fails or gives no number per
// run, fills the row's "error" column; the other files go on.
#pragma once
#include <string>
#include <vector>

#include "Session.h"
#include "ValueFormat.h"

namespace cvtool {

struct EachRequest {
    std::vector<std::string> files;
    std::vector<std::string> statements;  // the -e texts, in order
    cv::OutputFormat format = cv::OutputFormat::Csv;  // Csv or Json
    int jobs = 0;  // 0: one per online processor
    bool progress = false;  // a progress bar on stderr
};

// The files named by the arguments: each a glob(3) pattern, expanded in
// sorted order; a pattern that matches nothing stays as it is, so that its
// row reports the missing file.
std::vector<std::string> expandFiles(const std::vector<std::string>& patterns);

// Measures every file and writes the table to `out`. 0 when every file and
// statement succeeded, 1 when any row holds an error.
int runEach(cv::Session& session, const EachRequest& request, FILE* out);

}  // namespace cvtool
