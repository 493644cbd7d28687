// The report data-file compiler and what runs on its output: the first byte
// chooses whether the compiled file also goes through the pages and the CSV
// builder, or through an append (read, modify, write back); the rest is the
// data file.
#include <cmath>

#include "FuzzSupport.h"
#include "Reports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const uint8_t mode = in.u8();
    const std::string text = in.rest();
    XMLReportTable table;
    XMLReportHeader header;
    const bool ok = sp_CompileSensReportText(text, &table, &header);
    if (mode % 3 == 1) {
        const std::string path = fuzz::writeFile("data.xml", text);
        const bool appended = sp_AppendMeritData(path, "m", "tran", {1.5, NAN}, {1, 2});
        // The append rewrites only what the compiler accepts.
        if (appended != ok) std::abort();
        return 0;
    }
    if (!ok) return 0;
    for (const auto& [key, info] : table) cv::reportStats(info);
    std::vector<YString> lines;
    sp_BuildCsvSensitivityReport(&lines, table, header, int32_t(mode >> 2));
    if (mode % 3 == 2) {
        const std::string page = fuzz::sandbox() + "/page.html";
        sp_BuildMonteCarloHTMLReport(page, "mclog.css", table, header);
        sp_BuildHTMLSensitivityReport(page, "sensitivity.css", table, header, 0);
        sp_BuildWorstCaseHTMLReport(page, "worstcase.css", table, header);
    }
    return 0;
}
