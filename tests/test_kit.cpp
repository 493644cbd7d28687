// The module kit's header-only parts: handle tables, exact integer reads and
// the handler shell's promise to finish the result on every path.
#include <gtest/gtest.h>

#include <stdexcept>

#include "../FuncDll/Source/FuncKit.h"
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

FUNC_ERROR throwingWorker(const FuncArgs&, FuncResult& r, MessageHandler&) {
    r.makeRealScalar();
    throw std::runtime_error("worker failed");
}

FUNC_ERROR failingWorker(const FuncArgs&, FuncResult&, MessageHandler& m) {
    m.error("no");
    return FuncFailed;
}

struct Silent : MessageHandler {
    void report(Severity, const std::string&) override {}
};

TEST(KitShell, FinishesTheResultOnEveryPath) {
    std::vector<cv::ValuePtr> none;
    Silent* messages = new Silent;
    YRef<MessageHandler> ref(messages);
    const FunctionRunTime runTime;
    {
        FuncArgs a("f", none);
        FuncResult r("f", &a);
        EXPECT_EQ(cvmod::handler<failingWorker>(a, &r, ref, ScpParseContext(), runTime), FuncFailed);
        EXPECT_TRUE(r.finished());
    }
    FuncArgs a("f", none);
    FuncResult r("f", &a);
    EXPECT_THROW(cvmod::handler<throwingWorker>(a, &r, ref, ScpParseContext(), runTime), std::runtime_error);
    EXPECT_TRUE(r.finished());
}

}  // namespace
