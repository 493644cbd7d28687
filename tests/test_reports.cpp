// Statistical reports: the data file, its pages and CSV lines, validation,
// and the files a report builder must refuse. The numbers on the pages and in
// the CSV lines (statistics, sensitivities) are checked against numpy in
// tests/python/test_report_peers.py.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "FileSandbox.h"
#include "Reports.h"

using namespace cvtest;  // the call helpers

namespace {

bool append(const std::string& file, std::vector<std::string> names, std::vector<double> v, std::vector<double> runs) {
    return number("AppendSensitivityData", {str(file), strings(std::move(names)), reals(std::move(v)), reals(std::move(runs))}) == 1;
}

bool exists(const std::string& p) { return std::filesystem::exists(p); }

// Every test works on a data file in a sandbox of its own.
struct ReportFile : ::testing::Test {
    FileSandbox box;
    const std::string f = box.path("mc.xml");
};
struct ReportData : ReportFile {};
struct ReportPages : ReportFile {};
struct ReportMends : ReportFile {};

}  // namespace

TEST_F(ReportData, AppendCompilesBackSortedByRunWithLaterValuesWinning) {
    ASSERT_TRUE(append(f, {"delay"}, {3, 1, NAN}, {3, 1, 7}));
    ASSERT_TRUE(append(f, {"delay"}, {2, 10}, {2, 3}));  // run 3 measured again
    ASSERT_TRUE(append(f, {"delay", "ac"}, {5}, {1}));   // same name, other analysis: another merit
    XMLReportTable t;
    XMLReportHeader h;
    std::string why;
    ASSERT_TRUE(sp_CompileSensReportData(f, &t, &h, &why)) << why;
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t.at(1).analysis.str(), "tran");
    EXPECT_EQ(t.at(1).runs, (std::vector<int32_t>{1, 2, 3, 7}));
    EXPECT_TRUE(t.at(1).values[2] == 10 && std::isnan(t.at(1).values[3]) && h.runs == 4);
    // MSWReadHeader: created, analysis, title (from the file name), design.
    const auto header = texts("MSWReadHeader", {str(f)});
    ASSERT_EQ(header.size(), 4u);
    EXPECT_EQ(header[2], "mc");
    // The file the append wrote is valid against the shipped schema.
    EXPECT_EQ(texts("XmlValidate", {str(f), str("")}), (std::vector<std::string>{"validated", ""}));
}

TEST_F(ReportData, UnequalLengthsAndUnwritableNamesLeaveNoFile) {
    EXPECT_FALSE(append(f, {"gain"}, {1, 2}, {5}));
    EXPECT_FALSE(append(f, {"bell\x07"}, {1}, {1}));
    EXPECT_FALSE(append(f, {"bad\xff utf8"}, {1}, {1}));
    EXPECT_FALSE(append(f, {""}, {1}, {1}));
    EXPECT_FALSE(exists(f));
    EXPECT_TRUE(append(f, {"gain"}, {1, 2}, {5, 6}));
}

TEST_F(ReportPages, BuildersUseTheirDefaultsAndSelectors) {
    // Two parameters and one measurement over five runs.
    append(f, {"m", "tran"}, {33, 35, 63, 97, 48}, {1, 2, 3, 4, 5});
    append(f, {"R", "parameter"}, {1, 2, 1, 3, 1}, {1, 2, 3, 4, 5});
    append(f, {"C", "parameter"}, {1, 1, 2, 3, 1.5}, {1, 2, 3, 4, 5});
    const std::string out = box.path("page.html");
    // Each page inlines its own style sheet (mclog.css ...).
    for (auto [fn, style] : {std::pair{"BuildMclogHTML", "body.mclog"}, {"BuildWorstCaseHTML", "body.worstcase"},
                             {"BuildSensitivityHTML", "body.sensitivity"}}) {
        EXPECT_EQ(number(fn, {str(f), str(out)}), 1) << fn;
        EXPECT_NE(FileSandbox::read(out).find(style), std::string::npos) << fn;
    }
    // A style sheet that is nowhere is linked instead.
    EXPECT_EQ(number("BuildSensitivityHTML", {str(f), str(out), reals({0}), str("house.css")}), 1);
    EXPECT_NE(FileSandbox::read(out).find("<link rel=\"stylesheet\" href=\"house.css\">"), std::string::npos);
    // Selectors: below 1 is every measurement; 2.9 is the second, which this file lacks.
    for (double s : {-3.0, 0.7, 1.0}) EXPECT_EQ(number("BuildSensitivityHTML", {str(f), str(out), reals({s})}), 1) << s;
    EXPECT_EQ(number("BuildSensitivityHTML", {str(f), str(out), reals({2.9})}), 0);
    EXPECT_EQ(texts("BuildSensitivityCsv", {str(f), reals({-1})}).size(), 3u);
    EXPECT_TRUE(texts("BuildSensitivityCsv", {str(f), reals({2.9})}).empty());
    EXPECT_TRUE(texts("BuildSensitivityPerturbCsv", {str(f), reals({7})}).empty());
}

TEST_F(ReportPages, CsvFieldsFollowRfc4180) {
    append(f, {"a \"quoted\", name"}, {1, 2, 3}, {1, 2, 3});
    append(f, {"R1,x", "parameter"}, {1, 2, 4}, {1, 2, 3});
    const auto lines = texts("BuildSensitivityCsv", {str(f)});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, 33), "\"a \"\"quoted\"\", name\",tran,\"R1,x\",");
    EXPECT_EQ(texts("BuildSensitivityPerturbCsv", {str(f), reals({1})})[0].substr(0, 7), "\"R1,x\",");
}

TEST(ReportValidation, StatusWords) {
    FileSandbox box;
    const std::string xsd = box.write("s.xsd",
        "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:element name='a' type='xs:int'/></xs:schema>");
    const std::string good = box.write("good.xml", "<a>5</a>"), bad = box.write("bad.xml", "<a>five</a>");
    const std::string notXsd = box.write("n.xsd", "<xs:schema xmlns:xs='http://www.w3.org/2001/XMLSchema'><xs:bogus/></xs:schema>");
    const std::string broken = box.write("broken.xml", "<a>5</b>");
    const std::string cases[][3] = {
        {good, xsd, "validated"},          {bad, xsd, "validationfailed"},
        {good, notXsd, "schemainvalid"},   {good, box.path("none.xsd"), "schemaopenfail"},
        {box.path("none.xml"), xsd, "xmlopenfail"}, {broken, xsd, "xmlopenfail"},
        {good, "", "validationfailed"},  // the shipped data-file schema
    };
    for (const auto& [doc, schema, word] : cases) {
        const auto r = texts("XmlValidate", {str(doc), str(schema)});
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0], word) << doc << " " << schema;
        EXPECT_EQ(r[1].empty(), word == "validated") << r[1];  // a reason unless validated
    }
}

TEST_F(ReportMends, TwoProcessesAppendingKeepBothMerits) {
    constexpr int kRounds = 40;
    auto work = [&](const char* name) {
        for (int i = 0; i < kRounds; ++i)
            if (!sp_AppendMeritData(f, name, "tran", {double(i)}, {i})) return false;
        return true;
    };
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work("b") ? 0 : 1);
    const bool mine = work("a");
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(mine && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    XMLReportTable t;
    XMLReportHeader h;
    ASSERT_TRUE(sp_CompileSensReportData(f, &t, &h));
    ASSERT_EQ(t.size(), 2u);
    EXPECT_TRUE(t.at(1).runs.size() == kRounds && t.at(2).runs.size() == kRounds);
}

TEST_F(ReportMends, ForeignAndHostileFilesFailWithoutWriting) {
    const std::string laughs =
        "<?xml version='1.0'?><!DOCTYPE statreport [<!ENTITY a 'aaaaaaaaaa'>"
        "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>"
        "<!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'><!ENTITY e '&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;'>"
        "<!ENTITY f '&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;'><!ENTITY g '&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;'>]>"
        "<statreport version='1'><merit name='&g;' analysis='tran'/></statreport>";
    const std::string inputs[] = {
        "",
        "not xml at all",
        "<statreport version='1'><merit name='m' analysis='tran'><value run='1'>1</value>",
        "<other/>",
        "<statreport version='1'><merit name='m' analysis='tran'><value run='x'>1</value></merit></statreport>",
        laughs,
        "<!DOCTYPE statreport [<!ENTITY x SYSTEM 'file:///etc/passwd'>]><statreport version='1'>"
        "<header><title>&x;</title></header></statreport>",
        "<!DOCTYPE statreport SYSTEM 'http://203.0.113.1/report.dtd'><statreport version='1'/>",
    };
    const std::string out = box.path("out.html");
    int k = 0;
    for (const std::string& text : inputs) {
        const std::string in = box.write("in" + std::to_string(k++) + ".xml", text);
        EXPECT_EQ(number("BuildWorstCaseHTML", {str(in), str(out)}), 0) << text;
        EXPECT_TRUE(texts("MSWReadHeader", {str(in)}).empty());
        EXPECT_FALSE(append(in, {"m"}, {1}, {1})) << text;
        EXPECT_EQ(FileSandbox::read(in), text);  // never rewritten
        EXPECT_FALSE(exists(out));
    }
    EXPECT_EQ(texts("XmlValidate", {str(box.path("in5.xml")), str("")})[0], "xmlopenfail");  // the entity bomb
}

TEST_F(ReportMends, PagesEscapeDataTextAndNeverReplaceTheirDataFile) {
    append(f, {"<script>alert(1)</script>"}, {1, 2}, {1, 2});
    append(f, {"<b>&", "parameter"}, {1, 3}, {1, 2});
    const std::string out = box.path("x.html");
    for (const char* fn : {"BuildMclogHTML", "BuildSensitivityHTML", "BuildWorstCaseHTML"}) {
        EXPECT_EQ(number(fn, {str(f), str(box.path("work/../mc.xml"))}), 0) << fn;  // its own data file
        ASSERT_EQ(number(fn, {str(f), str(out)}), 1) << fn;
        const std::string page = FileSandbox::read(out);
        EXPECT_TRUE(page.find("<script") == std::string::npos && page.find("<b>") == std::string::npos) << fn;
        EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << fn;
    }
}
