// Statistical reports: the data file of a Monte Carlo, sensitivity or
// worst-case run turned into pages, CSV lines and its header, the append of
// measured values to such a file, and XML validation. The file format, the
// compiler and the builders are the host's (Include/Services/Reports.h); this family
// reads the arguments, supplies the defaults and shapes the results. None of
// these functions raises a script error: a file that cannot be compiled gives
// false, 0 or an empty result, and the page is then not written.
#include <cmath>
#include <string>
#include <vector>

#include "FuncKit.h"
#include "PathUtil.h"
#include "Reports.h"
#include "TextEscape.h"

namespace {

using namespace cvmod;

// Plain text: a string object made while the module loads could fail to
// allocate where nothing can catch it.
constexpr const char* kDefaultCss = "%SHAREPATH%/html/css/msw.css";

const Option monteCarloCss{"MonteCarloCss", kDefaultCss};
const Option sensitivityCss{"SensitivityCss", kDefaultCss};
const Option worstCaseCss{"WorstCaseCss", kDefaultCss};

// The selector of the sensitivity page and CSV: truncated toward zero, and
// anything below 1 (or absent) is 0, every measurement.
int32_t selectorOf(const FuncArgs& a, int i) { return std::max(intOr(a, i, 0), 0); }

struct Compiled {
    XMLReportTable table;
    XMLReportHeader header;
    bool ok;
    explicit Compiled(const FuncArgs& a) : ok(sp_CompileSensReportData(stringOr(a, 0), &table, &header)) {}
};

// A page named like its own data file (or a link to it) would replace the
// data with the page: that is refused like a file that does not compile.
bool pageOverData(const FuncArgs& a) { return sp_ComparePaths(stringOr(a, 0), stringOr(a, 1)); }

FUNC_ERROR buildMclogHtml(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    if (pageOverData(a)) return setBool(r, false), FuncOk;
    const Compiled c(a);
    setBool(r, c.ok && sp_BuildMonteCarloHTMLReport(stringOr(a, 1), stringOr(a, 2, "mclog.css"), c.table, c.header));
    return FuncOk;
}

FUNC_ERROR buildSensitivityHtml(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int32_t selector = selectorOf(a, 2);
    if (pageOverData(a)) return setReal(r, 0), FuncOk;
    const Compiled c(a);
    const bool ok = c.ok && sp_BuildHTMLSensitivityReport(stringOr(a, 1), stringOr(a, 3, "sensitivity.css"), c.table,
                                                          c.header, selector);
    setReal(r, ok ? 1 : 0);
    return FuncOk;
}

FUNC_ERROR buildWorstCaseHtml(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    if (pageOverData(a)) return setReal(r, 0), FuncOk;
    const Compiled c(a);
    const bool ok =
        c.ok && sp_BuildWorstCaseHTMLReport(stringOr(a, 1), stringOr(a, 2, "worstcase.css"), c.table, c.header);
    setReal(r, ok ? 1 : 0);
    return FuncOk;
}

FUNC_ERROR buildSensitivityCsv(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int32_t selector = selectorOf(a, 1);
    const Compiled c(a);
    if (!c.ok) return FuncOk;
    std::vector<YString> lines;
    lines.reserve(c.table.size() + 1);
    if (sp_BuildCsvSensitivityReport(&lines, c.table, c.header, selector) && !lines.empty()) setStrings(r, lines);
    return FuncOk;
}

// One line per sensitivity record of the measurement with that key: its
// parameter, the normalised sensitivity and the contribution.
FUNC_ERROR buildSensitivityPerturbCsv(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const int32_t key = intOr(a, 1, 0);
    const Compiled c(a);
    if (!c.ok) return FuncOk;
    auto it = c.table.find(key);
    if (it == c.table.end()) return FuncOk;
    std::vector<std::string> lines;
    for (const XMLReportRecord& rec : it->second.records)
        lines.push_back(cv::csvField(rec.name.view()) + ',' + YString(rec.value1).str() + ',' +
                        YString(rec.value3).str());
    setStrings(r, lines);
    return FuncOk;
}

FUNC_ERROR mswReadHeader(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const Compiled c(a);
    if (c.ok) setStrings(r, std::vector<YString>{c.header.string3, c.header.string4, c.header.string1, c.header.string2});
    return FuncOk;
}

FUNC_ERROR appendSensitivityData(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::vector<std::string_view> names = stringsOf(a, 1);
    const std::string name(names.empty() ? std::string_view() : names[0]);
    const std::string analysis(names.size() > 1 ? names[1] : std::string_view("tran"));
    const int64_t n = given(a, 2) ? a.totalLength(2) : 0, m = given(a, 3) ? a.totalLength(3) : 0;
    if (n != m) {
        setBool(r, false);
        return FuncOk;
    }
    std::vector<double> values(static_cast<size_t>(n));
    std::vector<int32_t> tags(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) {
        values[size_t(k)] = a.realData(2)[k];
        tags[size_t(k)] = toInt32(a.realData(3)[k]);
    }
    setBool(r, sp_AppendMeritData(stringOr(a, 0), name, analysis, values, tags));
    return FuncOk;
}

FUNC_ERROR xmlValidate(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::string message;
    const int status = sp_ValidateXml(stringOr(a, 0), stringOr(a, 1), &message);
    static const char* const kWords[] = {"validated", "validationfailed", "schemainvalid", "schemaopenfail",
                                         "xmlopenfail"};
    const char* word = status >= 0 && status < 5 ? kWords[status] : "unknown";
    setStrings(r, std::vector<std::string>{word, message});
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"AppendSensitivityData",      {String, String, Real, Real},   {}, 4, 4, handler<appendSensitivityData>,      "", PyBool,       Plain},
    {"BuildMclogHTML",             {String, String, String},       {}, 2, 3, handler<buildMclogHtml>,             "", PyBool,       Plain},
    {"BuildSensitivityCsv",        {String, Real},                 {}, 1, 2, handler<buildSensitivityCsv>,        "", PyStringList, Plain},
    {"BuildSensitivityHTML",       {String, String, Real, String}, {}, 2, 4, handler<buildSensitivityHtml>,       "", PyReal,       Plain},
    {"BuildSensitivityPerturbCsv", {String, Real},                 {}, 2, 2, handler<buildSensitivityPerturbCsv>, "", PyStringList, Plain},
    {"BuildWorstCaseHTML",         {String, String, String},       {}, 2, 3, handler<buildWorstCaseHtml>,         "", PyReal,       Plain},
    {"MSWReadHeader",              {String},                       {}, 1, 1, handler<mswReadHeader>,              "", PyStringList, Plain},
    {"XmlValidate",                {String, String},               {}, 2, 2, handler<xmlValidate>,                "", PyStringList, Plain},
};
// clang-format on

}  // namespace
