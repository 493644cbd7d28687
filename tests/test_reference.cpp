// The function reference: every registered function has an entry or waits
// for one in reference_pending.txt, every entry fits its registration, every
// example prints what its entry says and docs/functions.md is what the
// generator makes. The tool's --help NAME and help NAME: the tool's tests.
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "FileSandbox.h"
#include "FunctionTable.h"
#include "Reference.h"
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
    // The module's functions: other tests of this process register "_cvtest_" ones.
    const auto registered = cv::FunctionTable::global().all();
    ASSERT_GT(registered.size(), 100u);
    for (const FuncConstruct* f : registered) {
        const std::string name = f->name();
        if (name.rfind("_cvtest_", 0) != 0 && !reference().find(name) && !pending.count(lower(name)))
            missing.push_back(name);
    }
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
    for (const auto* e : reference().entries()) {
        const FuncConstruct* f = cv::FunctionTable::global().find(e->name);
        EXPECT_TRUE(f) << e->source << ": '" << e->name << "' is no registered function";
        if (f) {
            EXPECT_EQ(e->module, cv::FunctionTable::global().moduleOf(f)) << e->source << ": the family's module: line";
        }
    }
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
            EXPECT_EQ(ok, x.error.empty()) << e->source << ": " << x.expression << ": " << error;
            EXPECT_EQ(error, x.error) << e->source << ": " << x.expression;
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
    cvtest::FileSandbox box;
    box.write("ref/Bad.ref",
              "summary: outside\n== F\nsummary: s\nargs: a=1, b, lambda, a\narg c: none\nwhat: x\n== f\n");
    Reference r = Reference::load(box.path("ref"));
    std::string all = joined(r.errors());
    for (const char* expected : {"Bad.ref:1: 'summary:' outside an entry", "required argument 'b' follows",
                                 "'lambda' is not usable", "argument 'a' is named twice", "describes no argument",
                                 "unknown field 'what'", "a second entry for 'f'"})
        EXPECT_NE(all.find(expected), std::string::npos) << expected << " in" << all;
}

}  // namespace
