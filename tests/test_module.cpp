// The function module: loading and unloading, the registration rows against
// the golden table, options, late-bound functions, diagnostics and events.
#include <fstream>
#include <map>
#include <sstream>

#include "DynFunctions.h"
#include "Events.h"
#include "FuncArgs.h"
#include "OptionStore.h"
#include "Options.h"
#include "TestHost.h"

namespace cvtest {
cv::Session& session() {
    static cv::Session* s = [] {
        auto* s = new cv::Session;
        std::string error;
        if (!s->loadModule(error)) ADD_FAILURE() << error;  // both modules, from beside the test binary
        return s;
    }();
    return *s;
}
}  // namespace cvtest

using cvtest::call;

namespace {

std::string trim(std::string s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

std::map<std::string, std::string> goldenRows() {
    std::map<std::string, std::string> rows;
    std::ifstream in(cvtest::dataPath("function_names.txt"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        rows[trim(line.substr(0, line.find('|')))] = line;
    }
    return rows;
}

template <class T>
std::string codes(const ArgTypeList<T>& list) {
    std::string s;
    for (int i = 0; i < list.size(); ++i) s += (i ? "," : "") + std::to_string(int(list[i]));
    return s.empty() ? "-" : s;
}

std::string rowOf(const FuncConstruct& f) {
    std::string flags;
    const FunctionOption& o = f.options();
    for (auto [set, name] : {std::pair{o.flag0, "flag0"}, {o.elementWise, "elementWise"},
                             {o.arrayArgs, "arrayArgs"}, {o.isOperator, "isOperator"}})
        if (set) flags += (flags.empty() ? "" : ",") + std::string(name);
    std::ostringstream s;
    s << f.name() << " | " << codes(f.kinds()) << " | " << codes(f.multi()) << " | " << f.minArgs() << "-"
      << f.maxArgs() << " | " << int(f.pythonReturn()) << " | " << (flags.empty() ? "-" : flags);
    return s.str();
}

}  // namespace

TEST(Module, EveryRegisteredFunctionHasItsGoldenRow) {
    cvtest::session();
    auto golden = goldenRows();
    size_t checked = 0;
    const auto& table = cv::FunctionTable::global();
    for (const FuncConstruct* f : table.all()) {
        std::string name = f->name();
        if (name.rfind("_cvtest_", 0) == 0) continue;
        if (std::string_view(table.moduleOf(f)) == "measure") continue;
        EXPECT_STREQ(table.moduleOf(f), "functions") << name;
        ++checked;
        auto it = golden.find(name);
        ASSERT_NE(it, golden.end()) << name << " is not a registered name of the library";
        EXPECT_EQ(rowOf(*f), it->second);
        EXPECT_STREQ(f->text(), "");
    }
    EXPECT_EQ(checked, golden.size()) << "a row whose function is not registered";
}

// The tool, the REPL and Python load both modules; one named alone loads
// alone, and a failing one leaves none loaded.
TEST(Module, TheDefaultModulesLoadTogetherAndANamedOneAlone) {
    auto paths = cv::defaultModulePaths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_TRUE(paths[0].ends_with("/libfunctions.so") && paths[1].ends_with("/libmeasure.so"));
    cv::Session alone;
    std::string error;
    cvtest::session().unloadModule();
    ASSERT_TRUE(alone.loadModule(error, cvtest::modulePath())) << error;
    EXPECT_NE(cv::FunctionTable::global().find("Mean1"), nullptr);
    EXPECT_EQ(cv::FunctionTable::global().find("StdDev"), nullptr);
    alone.unloadModule();
    setenv("CVFUNC_MODULE", (cvtest::modulePath() + ":/nowhere/libmeasure.so").c_str(), 1);
    EXPECT_FALSE(alone.loadModule(error));
    unsetenv("CVFUNC_MODULE");
    EXPECT_NE(error.find("/nowhere/libmeasure.so"), std::string::npos) << error;
    EXPECT_EQ(cv::FunctionTable::global().find("Mean1"), nullptr);
    ASSERT_TRUE(cvtest::session().loadModule(error)) << error;
    EXPECT_STREQ(cv::FunctionTable::global().moduleOf(cv::FunctionTable::global().find("StdDev")), "measure");
}

TEST(Module, UnloadingRemovesEveryRegistrationAndReloadingRestoresThem) {
    auto& table = cv::FunctionTable::global();
    size_t before = table.size();
    std::vector<DynamicFunctionInfo> dyn;
    sp_GetDynamicFunctionInfo(dyn, false);
    size_t dynBefore = dyn.size();
    ASSERT_TRUE(sp_GetStringOption("HistoCurveStyle") == "Stepped");

    cvtest::session().unloadModule();
    EXPECT_EQ(table.find("_TestRemoveItems"), nullptr);
    for (const FuncConstruct* f : table.all()) EXPECT_EQ(std::string(f->name()).rfind("_cvtest_", 0), 0u) << f->name();
    EXPECT_FALSE(cv::OptionStore::global().get("InterpPts").has_value());
    sp_GetDynamicFunctionInfo(dyn, false);
    EXPECT_LT(dyn.size(), dynBefore);

    std::string error;
    ASSERT_TRUE(cvtest::session().loadModule(error)) << error;
    EXPECT_EQ(table.size(), before);
    EXPECT_TRUE(call("_TestRemoveItems", {cvtest::reals({1}), cvtest::reals({0})}).ok);
}

// `cvfunc --help options` and the warning for options nothing here reads
// depend on every declared option being documented.
TEST(Module, DeclaresDocumentedOptionsWithDefaultsThatUsersCanOverride) {
    cvtest::session();
    for (const auto& o : cv::OptionStore::global().all())
        if (!o.source.empty()) {  // empty: set, never declared
            EXPECT_NE(cv::optionDoc(o.name), nullptr) << o.name;
        }
    // Names ignore case; an option nobody declared reads as 0.
    EXPECT_EQ(std::pair(sp_GetIntOption("interporder"), sp_GetIntOption("NoSuchOption")), std::pair(2, 0));
    cv::OptionStore::global().set("InterpOrder", "3");
    EXPECT_EQ(sp_GetDoubleOption("InterpOrder"), 3.0);
    cv::OptionStore::global().reset("InterpOrder");
    EXPECT_EQ(sp_GetIntOption("InterpOrder"), 2);
}

TEST(Module, LateBoundFunctionsAreListedAndUnresolvedOnesThrow) {
    cvtest::session();
    const auto listed = cvtest::texts("_ListDynamicFunctions");
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].substr(0, 46), "dyn_GetDefaultMessageHandler;common_dynexport;");
    EXPECT_NE(listed[0].find(";resolved;2;CRITICAL"), std::string::npos);

    // A name the host does not provide stays on its stub.
    using Fn = int (*)();
    static Fn pending = []() -> int { cv::throwUnresolvedDynamicFunction("dyn_TestPending"); };
    {
        RegisterDynFuncCall reg(&pending, "dyn_TestPending", true, "tests/test_module", __LINE__);
        cv::resolveDynamicFunctions();
        try {
            pending();
            FAIL() << "no exception";
        } catch (const DynFuncException& e) {
            EXPECT_STREQ(e.what(), "*** FATAL ERROR *** Unresolved dynamic function 'dyn_TestPending' called");
            EXPECT_EQ(e.code(), 9);
        }
        const auto unresolved = cvtest::texts("_ListUnresolvedDynamicFunctions", {cv::Value::string("CRITICALONLY")});
        ASSERT_EQ(unresolved.size(), 1u);
        EXPECT_EQ(unresolved[0].substr(0, 34), "dyn_TestPending;tests/test_module;");
    }
    EXPECT_EQ(cvtest::texts("_ListUnresolvedDynamicFunctions"), cvtest::Texts{});
}

namespace {
int gPostCli = 0;
void countPostCli(void*) { ++gPostCli; }
void throwingCallback(void*) { throw std::runtime_error("ignored"); }
}  // namespace

TEST(Module, EventsReachEverySubscriber) {
    AutoFunc a("PostCli", throwingCallback, "throwing");
    AutoFunc b("PostCli", countPostCli, "count");
    gPostCli = 0;
    cvtest::session().postCli();
    cv::Events::global().fire("postcli");
    cv::Events::global().fire("Exit");
    EXPECT_EQ(gPostCli, 2);
}
