// The evaluator and the cvfunc tool: statements, names, Vec(), values
// printed in each format, exit statuses, the reference entries it shows
// (--help NAME, help NAME) and the data loaders' bindings.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <memory>

#include "FileSandbox.h"
#include "ValueFormat.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

// Runs the tool with the given arguments (a shell word list) and `input` on
// standard input; standard error is folded into the output.
ToolRun tool(const std::string& args, const std::string& input = "") {
    cvtest::FileSandbox box;
    const std::string cmd = std::string(CVFUNC_BUILD_DIR) + "/cvfunc " + args + " 2>&1 <" + box.write("in", input);
    ToolRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::vector<std::string> runAll(const std::string& text, std::string* error = nullptr) {
    std::vector<std::string> printed;
    std::string err;
    bool ok = cvtest::session().run(
        text, [&](const cv::ValuePtr& v) { printed.push_back(cv::formatValue(*v, cv::OutputFormat::Text)); }, err);
    if (error) *error = ok ? "" : err;
    return printed;
}

}  // namespace

TEST(Evaluator, AssignmentsBindNamesAndOnlyOtherStatementsPrint) {
    std::string error;
    EXPECT_EQ(runAll("x = [10, 20, 30, 40]; _TestRemoveItems(x, [2, 0])\nX", &error),
              (std::vector<std::string>{"20\n40\n", "10\n20\n30\n40\n"}));
    EXPECT_EQ(error, "");
}

TEST(Evaluator, ErrorsNameTheProblem) {
    std::string error;
    runAll("1 +", &error);
    EXPECT_EQ(error.rfind("Syntax error at line 1, column", 0), 0u) << error;
    for (auto [text, message] : {std::pair{"nosuchname", "Unknown name 'nosuchname'"},
                                 {"Vec('nosuch')", "Unknown vector 'nosuch'"},
                                 {"['a', 1]", "A vector cannot mix strings and numbers"}}) {
        runAll(text, &error);
        EXPECT_EQ(error, message);
    }
}

TEST(Tool, EvaluatesExpressionsAndPrintsJson) {
    ToolRun r = tool("-e '_TestRemoveItems([10,20,30,40],[2,0])' --format json");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "{\"statement\": \"_TestRemoveItems([10,20,30,40],[2,0])\", \"kind\": \"real\", \"values\": [20, 40], \"ref\": null, \"phys\": \"\", \"ref_phys\": \"\", "
              "\"divisions\": [2]}\n");
    r = tool("-e 'x = [1, 2]' -e x --format csv");
    EXPECT_EQ(r.out, "x\n1\n2\n");
    r = tool("-e 'y = 2' -e 'Vec(\"y\")' --format json");
    EXPECT_EQ(r.out.substr(0, 50), "{\"statement\": \"y = 2\", \"name\": \"y\", \"kind\": \"real\"");
}

TEST(Tool, EmptyResultsUnknownOptionsAndNearNames) {
    EXPECT_EQ(tool("-e '_TestRemoveItems([1], [0])'").out, "(empty)\n");
    ToolRun r = tool("--option InterpOrdr=2 -e 1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("unknown option 'InterpOrdr'; did you mean InterpOrder?"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n  MemoryLimitMB\n"), std::string::npos) << r.out;
}

TEST(Tool, FailuresPrintOneErrorLineAndExitWithStatusOne) {
    // The pipeline's messages themselves are checked with the calling tests.
    const std::pair<const char*, const char*> cases[] = {
        {"-e 'XFromYY(1)'", "Unknown function 'XFromYY'; did you mean XFromY?"},
        // The first error ends the run.
        {"-e '_TestAccessViolation()' -e '_TestRemoveItems([1],[0])'",
         "Access violation in function '_TestAccessViolation'"}};
    for (auto [args, message] : cases) {
        ToolRun r = tool(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Error: " + std::string(message) + "\n");
    }
}

TEST(Tool, BadUsageExitsWithStatusTwoAndListNamesEachModule) {
    for (const char* args : {"--format xml -e 1", "--no-such-flag", "--option novalue -e 1"})
        EXPECT_EQ(tool(args).status, 2) << args;
    ToolRun r = tool("--list");
    EXPECT_NE(r.out.find("_TestRemoveItems\t2-2\tnumeric,numeric\treal-vector\tfunctions\n"), std::string::npos);
    EXPECT_NE(r.out.find("\nYield\t3-3\treal,real,real\treal\tmeasure\n"), std::string::npos);
}

// The entries the tool serves come from the function reference.
TEST(ToolHelp, ToolShowsEntriesAndRefusesUnknownNames) {
    ToolRun help = tool("--help mid");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Mid(text, start, length=?)\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("> Mid('abcdef', 2, 2)\n  cd\n"), std::string::npos) << help.out;
    ToolRun unknown = tool("--help Mdi");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("no function named 'Mdi'; did you mean Mid"), std::string::npos) << unknown.out;
    EXPECT_NE(tool("--help").out.find("--help NAME"), std::string::npos);
}

TEST(ToolHelp, PipedSessionAnswersHelpLinesBetweenStatements) {
    ToolRun r = tool("", "x = 'abc'\nhelp ToUpper\nToUpper(x)\nhelp\nhelp = 2\nhelp + 1\nhelp Nosuch\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ToUpper(text)\n\nThe string in upper case."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nABC\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("help NAME"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n3\n"), std::string::npos) << "help as a variable still works: " << r.out;
    // A name near no function gets no suggestion.
    EXPECT_NE(r.out.find("Error: no function named 'Nosuch'\n"), std::string::npos) << r.out;
    // A failing statement after a help line still reports its own line.
    ToolRun bad = tool("", "help Mid\n\n1 +\n");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("line 3"), std::string::npos) << bad.out;
}

// The loaders' own tests show ASCII and binary files give the same data, and
// the Python package's tests the names, physical types and complex AC values
// a load binds; here, that both spellings of a name bind one vector and that
// runs stay runs.
TEST(Loading, RunsBindVectorsUnderScriptNamesAgainstTheirReference) {
    cv::Session s;
    std::string error;
    ASSERT_TRUE(s.loadData(cvtest::dataPath("tran_binary.raw"), error)) << error;
    cv::ValuePtr out = s.lookup("out");
    ASSERT_TRUE(out && out->ref());
    EXPECT_EQ(out.get(), s.lookup("v(out)").get());
    ASSERT_TRUE(s.loadData(cvtest::dataPath("step.raw"), error)) << error;
    ASSERT_TRUE(out = s.lookup("out"));
    EXPECT_GT(out->numDivisions(), 1);
    EXPECT_EQ(out->ref()->numDivisions(), out->numDivisions());
    EXPECT_FALSE(s.loadData(cvtest::dataPath("bad_truncated_binary.raw"), error));
    EXPECT_FALSE(error.empty());
}
