// The module kit: handle tables, exact integer reads, the handler shell's
// promise to finish the result on every path, the readers of a value a
// function cannot do without, registration rows and option declarations.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

// The kit is built into the module, which the tests load; the test binary
// compiles FuncKit.cpp once more, so that its readers can be called directly.
#include "../FuncDll/Source/FuncKit.h"
#include "FunctionTable.h"
#include "OptionStore.h"
#include "TestHost.h"

namespace {

TEST(KitHandles, StartAtOneAreNeverReusedAndRunOutCleanly) {
    cvmod::HandleTable<int> table;
    EXPECT_EQ(table.add(10), 1);
    EXPECT_EQ(table.add(20), 2);
    EXPECT_TRUE(table.remove(1));
    EXPECT_FALSE(table.remove(1));
    EXPECT_EQ(table.find(1), nullptr);
    EXPECT_EQ(table.add(30), 3) << "a freed handle is not given out again";
    ASSERT_NE(table.find(3), nullptr);
    EXPECT_EQ(*table.find(3), 30);
    table.skipTo(cvmod::HandleTable<int>::kLastHandle);
    EXPECT_EQ(table.add(40), 2147483647);
    EXPECT_EQ(table.add(50), 0) << "exhausted: no handle, nothing stored";
    EXPECT_EQ(table.size(), 3u);
}

TEST(KitIntegers, ExactReadsRefuseWhatDoesNotFit) {
    int32_t i = 7;
    EXPECT_TRUE(cvmod::exactInt(-2.9, i) && i == -2);
    EXPECT_TRUE(cvmod::exactInt(2147483647.5, i) && i == 2147483647);
    for (double bad : {2147483648.0, -2147483649.0, double(NAN), double(INFINITY)}) EXPECT_FALSE(cvmod::exactInt(bad, i)) << bad;
    int64_t l = 0;
    EXPECT_FALSE(cvmod::exactInt(9223372036854775808.0, l)) << "2^63 itself does not fit";
    EXPECT_TRUE(cvmod::exactInt(-9223372036854775808.0, l) && l == INT64_MIN);
}

struct Recorder : MessageHandler {
    std::vector<std::string> texts;
    void report(Severity, const std::string& text) override { texts.push_back(text); }
};

FUNC_ERROR throwingWorker(const FuncArgs&, FuncResult& r, MessageHandler&) {
    r.makeRealScalar();
    throw std::runtime_error("worker failed");
}

FUNC_ERROR failingWorker(const FuncArgs&, FuncResult&, MessageHandler& m) {
    m.error("no");
    return FuncFailed;
}

TEST(KitShell, FinishesTheResultOnEveryPath) {
    const std::vector<cv::ValuePtr> none;
    YRef<MessageHandler> messages(new Recorder);
    const FunctionRunTime runTime;
    FuncArgs a("f", none);
    FuncResult failed("f", &a), threw("f", &a);
    EXPECT_EQ(cvmod::handler<failingWorker>(a, &failed, messages, ScpParseContext(), runTime), FuncFailed);
    EXPECT_THROW(cvmod::handler<throwingWorker>(a, &threw, messages, ScpParseContext(), runTime), std::runtime_error);
    EXPECT_EQ(std::pair(failed.finished(), threw.finished()), std::pair(true, true));
}

// One real argument laid out in divisions of these lengths, values 1, 2, ...
cv::ValuePtr divided(std::vector<int64_t> lengths) {
    auto v = cv::Value::makeDivided(cv::Kind::Real, lengths);
    for (int64_t k = 0; k < v->size(); ++k) static_cast<double*>(v->mutableData())[k] = double(k + 1);
    return v;
}

TEST(KitRequired, GivesTheFirstValueOrSaysWhichArgumentIsEmpty) {
    Recorder* m = new Recorder;
    YRef<MessageHandler> keep(m);
    const std::vector<cv::ValuePtr> args{cvtest::reals({4.5, 6}), cvtest::reals({}), cvtest::str("7"),
                                         divided({0, 2}), divided({1, 2})};
    const FuncArgs a("Probe", args);
    EXPECT_EQ(cvmod::requiredReal(a, 0, *m).value_or(0), 4.5);
    EXPECT_EQ(cvmod::requiredReal(a, 4, *m).value_or(0), 1.0);
    EXPECT_TRUE(m->texts.empty());
    // Empty, not real, an empty first division, absent.
    for (int i : {1, 2, 3, 5}) {
        m->texts.clear();
        EXPECT_FALSE(cvmod::requiredReal(a, i, *m)) << i;
        ASSERT_EQ(m->texts.size(), 1u) << i;
        EXPECT_EQ(m->texts[0], "Argument " + std::to_string(i + 1) + " in function 'Probe' is empty");
    }
    EXPECT_FALSE(cvmod::firstReal(a, -1));
    // The first division decides here, where the other readers read across.
    EXPECT_FALSE(cvmod::firstReal(a, 3));
    EXPECT_EQ(cvmod::optionalReal(a, 3).value_or(0), 1.0);
}

// Divisions of these run on several threads at once: a row marked by mistake
// (rnd keeps its sequence between calls) would race.
TEST(KitRows, TheModuleMarksExactlyTheMeasurementsThatOnlyReadTheirArguments) {
    cvtest::session();
    std::vector<std::string> pure;
    const auto& table = cv::FunctionTable::global();
    for (const FuncConstruct* f : table.all())
        if (f->pure() && std::string_view(table.moduleOf(f)) == "functions") pure.emplace_back(f->name());
    std::sort(pure.begin(), pure.end());
    EXPECT_EQ(pure, (std::vector<std::string>{"Maximum", "Mean1", "Minimum", "RMS1", "RMS1_AC", "Rms",
                                              "RootSumOfSquares", "SumNoise", "XFromY", "YFromX"}));
}

TEST(KitOptions, DeclaredWithTheirDefaultAndWhereTheyAreWritten) {
    const int line = __LINE__ + 1;
    const cvmod::Option count{"_KitProbeCount", 12}, text{"_KitProbeText", "abc"};
    auto find = [](const char* name) {
        for (const cv::OptionInfo& o : cv::OptionStore::global().all())
            if (o.name == name) return o;
        return cv::OptionInfo{};
    };
    const cv::OptionInfo c = find("_KitProbeCount"), t = find("_KitProbeText");
    EXPECT_EQ(std::tuple(c.defaultValue, c.isInteger, t.defaultValue, t.isInteger), std::tuple("12", true, "abc", false));
    EXPECT_TRUE(c.source.ends_with("tests/test_kit:" + std::to_string(line))) << c.source;
}

TEST(KitOptions, SourcePathFromTheModuleFolderWithoutExtension) {
    auto path = [](std::string_view file) { return std::string(cvmod::Option::sourcePathOf(file).text); };
    EXPECT_EQ(path("/home/u/tree/FuncDll/Source/VectorFuncs.cpp"), "FuncDll/Source/VectorFuncs");
    EXPECT_EQ(path("/a/FuncDll/x/FuncDll/Source/Timing.cpp"), "FuncDll/Source/Timing");
    EXPECT_EQ(path("/tree.v2/tests/probe"), "/tree.v2/tests/probe") << "a dot in a folder is no extension";
    EXPECT_EQ(path(""), "");
    EXPECT_EQ(path(std::string(400, 'x')).size(), 255u) << "cut to the buffer, still terminated";
}

}  // namespace
