// Statistical reports: the data file of a Monte Carlo, sensitivity or
// worst-case run, its compiler, and the builders of the pages and CSV lines.
//
// The data file is XML (format and schema: docs/REPORTS.md and
// share/schema/statreport.xsd): a header, then one <merit> per measurement
// with one value per run. Merits of analysis kind "parameter" are not
// measurements but the values a run gave to a circuit parameter; the compiler
// estimates the sensitivity of every measurement to every parameter from them.
//
// Every XML document is read with libxml2 with the network off, no external
// entity or DTD loading, no entity substitution and a size limit
// (kReportMaxFileBytes); the data files themselves may carry no DTD at all, so
// an entity bomb is refused before anything expands it. External resources a
// user's schema names are loaded only from local files.
//
// Files are written with cv::writeFileAtomic; the append holds a
// DirectoryUpdateLock across its read-modify-write.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "YString.h"

// Larger data files, documents and schemas are refused unread.
inline constexpr size_t kReportMaxFileBytes = size_t(64) << 20;

// One row of a measurement's sensitivities: the parameter, the normalised
// sensitivity (relative change of the measurement per relative change of the
// parameter, at the means), the absolute one (measurement units per parameter
// unit) and the contribution (the absolute sensitivity times the parameter's
// standard deviation over the runs); flag: the estimate exists (enough runs
// in which the parameter varied).
struct XMLReportRecord {
    YString name;
    double value1 = 0, value2 = 0, value3 = 0;
    bool flag = false;
};

// One merit of the data file, with its values sorted by run number and its
// sensitivity records (none for parameters), in the parameters' file order.
struct XMLReportInfo {
    YString name;
    YString analysis;
    bool parameter = false;
    std::vector<int32_t> runs;
    std::vector<double> values;
    std::vector<XMLReportRecord> records;
};

// Measurements are keyed 1, 2, ... and parameters -1, -2, ... in file order.
using XMLReportTable = std::map<int32_t, XMLReportInfo>;

struct XMLReportHeader {
    std::vector<std::pair<YString, YString>> properties;  // <property name= value=>
    int32_t runs = 0;                                      // distinct run numbers
    YString string1;                                       // title
    YString string2;                                       // design
    YString string3;                                       // created (ISO 8601)
    YString string4;                                       // statistical analysis
};

// Statistics of one merit's finite values (NaN marks a run whose measurement
// failed). stddev is the sample standard deviation (n - 1), NaN below 2 values.
struct ReportStats {
    int64_t count = 0, failed = 0;
    double mean = 0, stddev = 0, minimum = 0, maximum = 0;
    int32_t runAtMinimum = 0, runAtMaximum = 0;
};
namespace cv {
ReportStats reportStats(const XMLReportInfo& merit);

// The shipped schema of the data files ("" when the share tree is missing).
std::string reportSchemaPath();
}  // namespace cv

// Fills table and header (which it clears first) from a data file; false when
// the file cannot be read, is not a data file of this format, or breaks the
// schema. `why` tells.
bool sp_CompileSensReportData(std::string_view path, XMLReportTable* table, XMLReportHeader* header,
                              std::string* why = nullptr);
// The same on the text of a file (the fuzz target's entry).
bool sp_CompileSensReportText(std::string_view text, XMLReportTable* table, XMLReportHeader* header,
                              std::string* why = nullptr);

// Appends the values of one merit (values[i] from run runs[i]) to the data
// file, creating the file (and the merit) when missing. A run the merit has
// already is given the new value. False, with the file untouched, when the
// lengths differ, the file is not a data file of this format, a text cannot
// be carried by XML, or the write fails.
bool sp_AppendMeritData(std::string_view path, std::string_view name, std::string_view analysis,
                        const std::vector<double>& values, const std::vector<int32_t>& runs,
                        std::string* why = nullptr);

// The pages. The style sheet is a path, a "%NAME%" logical path or a bare
// name looked up in the share tree's html/css; found, it is inlined after the
// shared msw.css, so the page stands alone; not found, the page links to it.
// The selector of the sensitivity page and CSV: 0 every measurement, k the
// k-th measurement of the file. True when the file was written.
bool sp_BuildMonteCarloHTMLReport(std::string_view htmlPath, std::string_view styleSheet,
                                  const XMLReportTable& table, const XMLReportHeader& header);
bool sp_BuildHTMLSensitivityReport(std::string_view htmlPath, std::string_view styleSheet,
                                   const XMLReportTable& table, const XMLReportHeader& header, int32_t selector);
bool sp_BuildWorstCaseHTMLReport(std::string_view htmlPath, std::string_view styleSheet,
                                 const XMLReportTable& table, const XMLReportHeader& header);
// Appends a header line and one line per measurement and parameter (sorted by
// the magnitude of the normalised sensitivity), RFC 4180 fields.
bool sp_BuildCsvSensitivityReport(std::vector<YString>* lines, const XMLReportTable& table,
                                  const XMLReportHeader& header, int32_t selector);

// Validates the XML document `document` against the XSD `schema` (the
// shipped data-file schema when `schema` is empty). Returns 0 valid,
// 1 invalid, 2 the schema is not a valid XSD, 3 the schema cannot be read,
// 4 the document cannot be read or is not well-formed XML; `message` gets
// libxml2's first message ("" when valid).
int sp_ValidateXml(std::string_view document, std::string_view schema, std::string* message);
