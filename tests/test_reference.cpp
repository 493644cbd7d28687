// The function reference: every registered function has an entry or waits
// for one in reference_pending.txt, every entry fits its registration, every
// example prints what its entry says, docs/functions.md is what the
// generator makes, and the tool serves the entries (--help NAME, help NAME).
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "FunctionTable.h"
#include "Reference.h"
#include "TestHost.h"
#include "ValueFormat.h"

namespace {

using cv::reference::Reference;

const std::string kSource = CVFUNC_SOURCE_DIR;

const Reference& reference() {
    static const Reference r = Reference::load(kSource + "/share/reference");
    return r;
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Names in a list file: one per line, '#' comments, blanks ignored.
std::set<std::string> namesIn(const std::string& path, std::map<std::string, std::string>* spelled = nullptr) {
    std::set<std::string> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find_first_of("|#"));
        size_t b = line.find_first_not_of(" \t"), e = line.find_last_not_of(" \t\r");
        if (b == std::string::npos) continue;
        std::string name = line.substr(b, e - b + 1);
        out.insert(lower(name));
        if (spelled) (*spelled)[lower(name)] = name;
    }
    return out;
}

std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& x : v) s += "\n  " + x;
    return s;
}

struct ToolRun {
    int status = -1;
    std::string out;
};

// Runs the tool through the shell with `input` on standard input; stdout only.
ToolRun tool(const std::string& args, const std::string& input = "") {
    std::string in = std::filesystem::temp_directory_path() / ("cvfunc_reference_" + std::to_string(getpid()));
    std::ofstream(in) << input;
    std::string cmd = std::string(CVFUNC_BUILD_DIR) + "/cvfunc " + args + " < " + in + " 2>&1";
    ToolRun r;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    std::filesystem::remove(in);
    return r;
}

TEST(Reference, FilesReadWithoutProblems) {
    EXPECT_FALSE(reference().empty());
    EXPECT_TRUE(reference().errors().empty()) << joined(reference().errors());
}

TEST(Reference, EveryRegisteredFunctionHasAnEntryOrIsPending) {
    cvtest::session();
    const std::string pendingFile = cvtest::dataPath("reference_pending.txt");
    std::map<std::string, std::string> spelled;
    const std::set<std::string> pending = namesIn(pendingFile, &spelled);
    const std::set<std::string> golden = namesIn(cvtest::dataPath("function_names.txt"));
    std::vector<std::string> missing, documented, unknown;
    // The module's functions as the tool lists them: this process also holds
    // functions that other tests register.
    std::istringstream listed(tool("--list").out);
    std::vector<std::string> registered;
    for (std::string line; std::getline(listed, line);) registered.push_back(line.substr(0, line.find('\t')));
    ASSERT_GT(registered.size(), 100u);
    for (const auto& name : registered)
        if (!reference().find(name) && !pending.count(lower(name))) missing.push_back(name);
    for (const auto& p : pending) {
        if (reference().find(p)) documented.push_back(spelled[p]);
        else if (!golden.count(p) && !cv::FunctionTable::global().find(p)) unknown.push_back(spelled[p]);
    }
    EXPECT_TRUE(missing.empty())
        << "These registered functions have no entry in share/reference/ and are not in " << pendingFile
        << ". Write an entry for each (format: share/reference/README.md; then run `make docs`), or add the "
           "name, one per line, to that list:"
        << joined(missing);
    EXPECT_TRUE(documented.empty()) << "These names have an entry now: remove them from " << pendingFile << ":"
                                    << joined(documented);
    EXPECT_TRUE(unknown.empty()) << "No function has these names: remove them from " << pendingFile << ":"
                                 << joined(unknown);
    for (const auto* e : reference().entries())
        EXPECT_TRUE(cv::FunctionTable::global().find(e->name))
            << e->source << ": '" << e->name << "' is no registered function";
}

TEST(Reference, ArgumentsFitTheRegisteredCounts) {
    cvtest::session();
    for (const auto* e : reference().entries()) {
        const FuncConstruct* f = cv::FunctionTable::global().find(e->name);
        if (!f) continue;
        EXPECT_EQ(e->name, f->name()) << e->source << ": spell the name as registered";
        EXPECT_EQ(e->requiredCount(), f->minArgs()) << e->source << ": required arguments of " << e->signature();
        if (e->hasRest())
            EXPECT_LE(e->namedCount(), f->maxArgs()) << e->source << ": " << e->signature();
        else
            EXPECT_EQ(int(e->args.size()), f->maxArgs()) << e->source << ": arguments of " << e->signature();
    }
}

TEST(Reference, EveryExamplePrintsItsOutput) {
    int examples = 0;
    for (const auto* e : reference().entries()) {
        EXPECT_FALSE(e->examples.empty()) << e->source << ": '" << e->name << "' has no example";
        for (const auto& x : e->examples) {
            std::string printed, error, want;
            bool ok = cvtest::session().run(
                x.expression, [&](const cv::ValuePtr& v) { printed += cv::formatValue(*v, cv::OutputFormat::Text); },
                error);
            for (const auto& line : x.output) want += line + "\n";
            EXPECT_TRUE(ok) << e->source << ": " << x.expression << ": " << error;
            EXPECT_EQ(printed, want) << e->source << ": " << x.expression;
            ++examples;
        }
    }
    EXPECT_GT(examples, 0);
}

TEST(Reference, CommittedFunctionsPageIsTheGeneratedOne) {
    std::ifstream in(kSource + "/docs/functions.md", std::ios::binary);
    std::stringstream committed;
    committed << in.rdbuf();
    EXPECT_TRUE(committed.str() == reference().markdown())
        << "docs/functions.md differs from what the function reference generates: run `make docs` and commit "
           "docs/functions.md.";
}

TEST(Reference, ProblemsInAFileAreReportedWithTheirLine) {
    auto dir = std::filesystem::temp_directory_path() / ("cvfunc_ref_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "Bad.ref") << "summary: outside\n== F\nsummary: s\nargs: a=1, b, lambda, a\n"
                                      "arg c: none\nwhat: x\n== f\n";
    Reference r = Reference::load(dir.string());
    std::filesystem::remove_all(dir);
    std::string all = joined(r.errors());
    for (const char* expected : {"Bad.ref:1: 'summary:' outside an entry", "required argument 'b' follows",
                                 "'lambda' is not usable", "argument 'a' is named twice", "describes no argument",
                                 "unknown field 'what'", "a second entry for 'f'"})
        EXPECT_NE(all.find(expected), std::string::npos) << expected << " in" << all;
}

TEST(Reference, LookUpIgnoresCaseAndSuggestsNearNames) {
    ASSERT_TRUE(reference().find("mid"));
    EXPECT_EQ(reference().find("MID")->name, "Mid");
    const std::vector<std::string> names{"Mid", "Min", "db", "XFromY", "YFromX", "NumDivisions"};
    EXPECT_EQ(cv::reference::nearestNames("mdi", names).front(), "Mid");
    EXPECT_EQ(cv::reference::nearestNames("xfrom", names).front(), "XFromY");
    EXPECT_TRUE(cv::reference::nearestNames("qqqqqqqq", names).empty());
}

TEST(Reference, ToolShowsEntriesAndRefusesUnknownNames) {
    ToolRun help = tool("--help mid");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Mid(text, start, length=?)\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("> Mid('abcdef', 2, 2)\n  cd\n"), std::string::npos) << help.out;
    ToolRun unknown = tool("--help Mdi");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("no function named 'Mdi'; did you mean Mid"), std::string::npos) << unknown.out;
    EXPECT_NE(tool("--help").out.find("--help NAME"), std::string::npos);
}

TEST(Reference, PipedSessionAnswersHelpLinesBetweenStatements) {
    ToolRun r = tool("", "x = 'abc'\nhelp ToUpper\nToUpper(x)\nhelp\nhelp = 2\nhelp + 1\nhelp Nosuch\n");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ToUpper(text)\n\nThe string in upper case."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nABC\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("help NAME"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n3\n"), std::string::npos) << "help as a variable still works: " << r.out;
    EXPECT_NE(r.out.find("Error: no function named 'Nosuch'"), std::string::npos) << r.out;
    // A failing statement after a help line still reports its own line.
    ToolRun bad = tool("", "help Mid\n\n1 +\n");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("line 3"), std::string::npos) << bad.out;
}

}  // namespace
