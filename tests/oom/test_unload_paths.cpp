// The paths that must not allocate or throw (removal at unload, event
// firing) took room on the stack in place of strings and lists: the cases
// past that room, and registration rows held in place, behave as before.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Events.h"
#include "FunctionTable.h"

namespace {

FUNC_ERROR noHandler(const FuncArgsMinimal&, FuncResultMinimal*, YRef<MessageHandler>, const ScpParseContext&,
                     const FunctionRunTime&) {
    return FuncFailed;
}

std::string upper(std::string s) {
    for (char& c : s) c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    return s;
}

TEST(UnloadPaths, NamesOfEveryLengthAreFoundAndRemoved) {
    auto& table = cv::FunctionTable::global();
    // Around the 128 bytes lowered on the stack, and far past them.
    for (size_t length : {127u, 128u, 129u, 300u}) {
        const std::string name = "_cvtest_" + std::string(length - 8, 'n');
        const size_t before = table.size();
        {
            FuncConstruct f(name.c_str(), {0}, {}, 1, 1, noHandler, "", PyReal, FunctionOption{});
            EXPECT_EQ(table.find(upper(name)), &f) << length;
            EXPECT_EQ(table.size(), before + 1);
        }
        EXPECT_EQ(table.find(name), nullptr) << length;
        EXPECT_EQ(table.size(), before) << length;
    }
}

TEST(UnloadPaths, RemovingTheLatestRegistrationOfANameBringsBackTheEarlier) {
    auto& table = cv::FunctionTable::global();
    const FunctionOption none{};
    FuncConstruct first("_cvtest_twice", {0}, {}, 1, 1, noHandler, "", PyReal, none);
    {
        FuncConstruct second("_CVTEST_TWICE", {1}, {}, 1, 1, noHandler, "", PyReal, none);
        EXPECT_EQ(table.find("_cvtest_twice"), &second);
    }
    EXPECT_EQ(table.find("_cvtest_twice"), &first);
}

TEST(UnloadPaths, KindListsInPlaceAndPastIt) {
    const ArgTypeList<argType> some{ArgString, ArgReal};
    EXPECT_EQ(some.size(), 2);
    EXPECT_EQ(some[1], ArgReal);
    // Past the 32 codes held in place.
    const ArgTypeList<argType> many{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                                    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    ASSERT_EQ(many.size(), 40);
    EXPECT_EQ(many[0], argType(1));
    EXPECT_EQ(many[39], argType(0));
    FuncConstruct f("_cvtest_many", many, {}, 0, 40, noHandler, "", PyReal, FunctionOption{});
    EXPECT_EQ(f.kindOf(38), argType(1));
    EXPECT_EQ(f.kindOf(39), argType(0));
    EXPECT_EQ(f.kindOf(90), argType(0));
}

int gFired = 0;
void record(void* data) { gFired += *static_cast<int*>(data); }

TEST(UnloadPaths, EverySubscriberFiresOncePastTheStackRoom) {
    std::vector<std::unique_ptr<AutoFunc>> subs;
    for (int i = 0; i < 100; ++i) subs.push_back(std::make_unique<AutoFunc>("_cvtest_event", record, "record"));
    gFired = 0;
    int one = 1;
    cv::Events::global().fire("_CVTEST_EVENT", &one);
    EXPECT_EQ(gFired, 100);
    subs.clear();
    cv::Events::global().fire("_cvtest_event", &one);
    EXPECT_EQ(gFired, 100);
}

}  // namespace
