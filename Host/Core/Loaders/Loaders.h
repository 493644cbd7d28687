// Data loaders of the host: SPICE raw files (ngspice and LTspice, ASCII and
// binary, real and complex), CSV files, other text tables and Touchstone
// files read into a DataSet whose columns already are the host's vector
// values: every value is written once, straight into its final buffer, and
// Session::bindDataSet binds those buffers without a copy. Sizes come from
// the raw headers (for text tables from one count of the lines); a file is
// read once (a Touchstone file by its reader, after a look at its header);
// large binary plots are de-interleaved on all cores (cv::forEachChunk),
// ASCII plots one plot per core, with the same values and messages whatever
// the thread count.
//
// File formats, as this loader reads them:
//
// SPICE raw: one or more plots, each a text header ("Title:", "Date:",
//   "Plotname:", "Flags: real|complex ...", "No. Variables:", "No. Points:",
//   "Variables:" and one line "<index> <name> <type> [extra fields]" per
//   variable) followed by "Values:" (ASCII: every point starts with its index,
//   then one value per variable, complex ones as "re,im") or "Binary:"
//   (little-endian doubles, point by point; two per variable in a complex plot,
//   the scale included). The first plot and every later plot with the same
//   variable names (compared case-insensitively) and the same real/complex flag
//   become the divisions of one data set, in file order: that is how a stepped
//   or Monte Carlo run written with ngspice's `set appendwrite` comes back. Other
//   plots are skipped and named in DataSet::warnings. The scale of a complex
//   plot (AC frequency) is stored as real: its imaginary part is always zero.
//
// CSV: the first non-blank line is the header row of column names (quotes
//   allowed, "" inside quotes is a quote). The delimiter is ',' unless the
//   header holds none, then ';', then tab. The first column is the reference
//   (x-values) of the others. Numbers are in C locale and may carry a SPICE
//   scale suffix (f p n u m k meg g t mil, case-insensitive: 'm' is milli,
//   "meg" is mega). Blank lines are skipped. A row that repeats the header row
//   (usually written after a blank line) starts a new division, so a stepped
//   run can be written as one block per run:
//
//       time,out            <- header
//       0,0                 <- division 1
//       1e-6,0.5
//
//       time,out            <- the header again: division 2 begins
//       0,0
//       1e-6,0.7
//
//   Complex values are not supported in CSV.
//
// Other text tables are read by the same reader: a header line whose names
//   hold no ',', ';' or tab is split at runs of blanks; a first line of
//   numbers means there is no header (the columns are then "x" and "y", or
//   "x", "y1", "y2" ...). Columns of x y pairs, as ngspice's `wrdata` writes
//   one pair per vector ("x1 y1 x2 y2 ..." with equal x columns, or a header
//   "time v(a) time v(b)"), become one reference and one signal per pair.
//
// Touchstone: network parameters of an N-port over frequency, read by the
//   host's Touchstone reader (AcTableData, Touchstone.h: versions 1.0 to 2.1,
//   strict). A file is one when its name ends in ".sNp" or ".ts" (any case),
//   or when its first line is a [Version] keyword. The port count comes from
//   [Number of Ports] in a version 2 file, from the ".sNp" name otherwise (a
//   version 1 file named ".ts" is refused: nothing in it says its size). The
//   reference is "frequency" in Hz whatever unit the option line names; each
//   parameter is a complex signal named after the file's kind and its row and
//   column from 1: S11, S21, ... Snn, or Y, Z, H, G. With ten ports or more
//   every name takes an underscore between row and column (S1_1, S10_2), so
//   that no name means two parameters. Z and Y values are in ohms and siemens
//   (quantity "resistance" / "conductance"), H and G element by element (H11
//   ohms, H22 siemens, H12 and H21 plain numbers; G the other way round), S
//   plain numbers. Noise parameters are not loaded: a warning says so. The
//   file's facts go to DataSet::metadata:
//       version          "1", "2.0" or "2.1"
//       ports            the port count
//       parameter        "S", "Y", "Z", "H" or "G"
//       format           "RI", "MA" or "DB": how the file wrote its numbers
//       frequency_unit   "Hz", "kHz", "MHz" or "GHz", as the file wrote frequencies
//       z0               reference impedance in ohms: one number when the file
//                        gives one for all ports, else one per port, blank-separated
//
// Reading when used (openFile): binding a file reads what its names and
//   layout need (raw headers, a CSV header row) and no values. A vector's
//   values are read when it is first asked for, together with whatever else
//   is asked for at once (LazyColumns::prefetch), and kept: a binary raw file
//   through its mapping, the asked-for columns gathered piece by piece on
//   all cores, each piece's pages let go of once read, so that a file larger
//   than memory gives one vector at the speed of the disk; a text file in
//   one scan that converts and keeps only the asked-for columns (every row is
//   still split, so a row of the wrong shape fails every column). A damaged
//   value is found when its column is read, with its line, and the other
//   columns stay usable. A file changed on disk since it was opened (device,
//   inode, size or time) is refused rather than read as a mix of the two.
//   loadFile is openFile with every column read at once.
//
// Every malformed file ends in a LoadError whose message names the file and,
// where it applies, the line: "run.raw: line 12: expected 3 values, found 2".
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Value.h"

namespace cv::load {

// A loaded column. The loader writes its values straight into the value
// model's buffer (Value::makeDivided with zeroed false: one write per value) with the
// division layout already set; the session binds that buffer without a copy.
struct Signal {
    std::string name;      // as in the file, e.g. "time", "v(out)", "i(v1)", "out"
    // "time", "frequency", "voltage", "current", "resistance", "conductance" or "" when unknown
    std::string quantity;
    bool isComplex = false;
    MutableValuePtr values;                 // all divisions back to back (Real or Complex)
    std::vector<int64_t> divisionLengths;   // points per division, one entry per division (>= 1)

    // The values as doubles: complex ones interleaved re, im.
    std::span<const double> data() const {
        if (!values) return {};
        return {static_cast<const double*>(values->rawData()),
                static_cast<std::size_t>(values->size()) * (isComplex ? 2 : 1)};
    }
};

// What tells a file from the same file changed: its device and inode, size
// and modification time (to the nanosecond).
struct FileIdentity {
    uint64_t device = 0, inode = 0;
    int64_t size = 0, modified = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The columns of an opened file, read on first use and kept. Column 0 is the
// reference, column k the signal k - 1. Not for use from two threads at once.
class LazyColumns {
public:
    // What reads a file's columns: `file` is the file mapped again, checked to
    // be the one that was opened; out[k] is filled for every k in `columns`.
    class Reader {
    public:
        virtual ~Reader() = default;
        // `mapped`: the bytes are the file's mapping, whose pages may be let go of.
        virtual void read(std::string_view file, bool mapped, const std::vector<std::size_t>& columns,
                          std::vector<MutableValuePtr>& out) const = 0;
    };
    LazyColumns(std::string path, FileIdentity identity, std::unique_ptr<Reader> reader, std::size_t count);

    std::size_t count() const noexcept { return values_.size(); }
    bool isRead(std::size_t column) const { return values_.at(column) != nullptr; }
    // The column's values, read now if they were not; LoadError when the file
    // changed or the column is damaged (then nothing is kept, and it may be
    // asked for again).
    MutableValuePtr column(std::size_t column);
    // Reads those of `columns` not read yet, in one pass; the first error in
    // the file is thrown and nothing of the pass is kept.
    void read(std::vector<std::size_t> columns);
    // The same from the file's bytes at hand (`mapped`: its mapping).
    void read(std::vector<std::size_t> columns, std::string_view bytes, bool mapped);
    // read() without the failure: asking for each column alone then says
    // which one is damaged.
    void prefetch(std::vector<std::size_t> columns) noexcept;
    // Passes over the file made so far (for tests: a column is read once).
    std::size_t passes() const noexcept { return passes_; }
private:
    // Those of `columns` not read yet, each once, in order.
    std::vector<std::size_t> unread(std::vector<std::size_t> columns) const;

    std::string path_;
    FileIdentity identity_;
    std::unique_ptr<Reader> reader_;
    std::vector<MutableValuePtr> values_;
    std::size_t passes_ = 0;
};

struct DataSet {
    Signal reference;                         // the scale: first variable / first column, always real
    std::vector<Signal> signals;              // the other variables in file order, same division layout
    std::vector<std::string> divisionLabels;  // one per division when there are several, else empty
    std::string title;                        // raw title (or plot name) or the CSV file name
    std::vector<std::string> warnings;        // for the user, each "<file>: ...": skipped plots, duplicate names
    // Facts about the file that are no vector, as (key, text) in a fixed
    // order: set for Touchstone files (see above), empty for the others.
    std::vector<std::pair<std::string, std::string>> metadata;
    // Set by openFile when the values are still in the file: the signals'
    // `values` are null until read from here. Division lengths and labels
    // are set already, except for a CSV file (whose rows are not counted
    // until read: its columns carry their own layout and labels).
    std::shared_ptr<LazyColumns> lazy;
};

class LoadError : public std::runtime_error {
public:
    // line 0: the message is about the file as a whole.
    LoadError(const std::string& file, int64_t line, const std::string& message);
    const std::string& file() const noexcept { return file_; }
    int64_t line() const noexcept { return line_; }
    const std::string& message() const noexcept { return message_; }  // without file and line

private:
    std::string file_, message_;
    int64_t line_ = 0;
};

// Touchstone files go by their name (or a first line "[Version]"), raw files
// start with "Title:" or "Plotname:"; everything else is read as CSV.
DataSet loadFile(const std::string& path);
// The same file bound for reading when used (see above); Touchstone files,
// pipes and the few layouts whose names depend on their values are read at once.
DataSet openFile(const std::string& path);
DataSet loadCsv(const std::string& path);
DataSet loadSpiceRaw(const std::string& path);
DataSet loadTouchstone(const std::string& path);

// The name a script uses for a loaded vector: "v(out)" -> "out", "V(OUT)" ->
// "OUT", "i(v1)" -> "v1#branch"; differential "v(a,b)" and all else unchanged.
std::string scriptName(const std::string& original);

}  // namespace cv::load
