// User hash tables: handles and their life cycle, keys that ignore case,
// single- and multiple-value tables, and unknown handles.
#include <cmath>
#include <string>
#include <vector>

#include "Events.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::number;
using cvtest::Texts;

namespace {

cv::ValuePtr L(Texts t) { return cvtest::strings(std::move(t)); }
cv::ValuePtr N(double v) { return cvtest::reals({v}); }

int create(Texts options = {}) {
    auto o = call("HashCreate", options.empty() ? std::vector<cv::ValuePtr>{} : std::vector{L(options)});
    EXPECT_TRUE(o.ok) << o.error;
    return o.ok ? int(o.value->realAt(0)) : 0;
}
bool add(int h, Texts keys, Texts values) {
    auto o = call("HashAdd", {N(h), L(std::move(keys)), L(std::move(values))});
    return o.ok && o.value->realAt(0) != 0;
}
// The strings of a call, or {"<none>"} when it set no result.
Texts texts(const std::string& f, std::vector<cv::ValuePtr> args) {
    auto o = call(f, std::move(args));
    EXPECT_TRUE(o.ok) << f << ": " << o.error;
    if (cvtest::noResult(o)) return {"<none>"};
    return o.ok ? cvtest::stringsOf(*o.value) : Texts{"<failed>"};
}
Texts search(int h, Texts keys) { return texts("HashSearch", {N(h), L(std::move(keys))}); }
Texts search(int h, Texts keys, const std::string& def) { return texts("HashSearch", {N(h), L(std::move(keys)), cvtest::str(def)}); }
Texts keys(int h) { return texts("HashKeys", {N(h)}); }

TEST(HashHandles, CountUpAreNeverReusedAndUnknownOnesActAlike) {
    const int gone = create();
    EXPECT_TRUE(add(gone, {"k"}, {"v"}));
    EXPECT_EQ(number("HashDelete", {N(gone)}), 1);
    const int next = create();
    EXPECT_EQ(next, gone + 1);
    number("HashDelete", {N(next)});
    // Deleted, never given out, not an integer at all.
    for (double h : {double(gone), 0.0, -1.0, 1e12, std::nan(""), 1e300}) {
        EXPECT_EQ(number("HashAdd", {N(h), L({"k"}), L({"v"})}), 0) << h;
        EXPECT_EQ(texts("HashSearch", {N(h), L({"k"})}), Texts{"<none>"}) << h;
        EXPECT_EQ(texts("HashSearch", {N(h), L({"k"}), cvtest::str("d")}), Texts{"<none>"}) << h;
        EXPECT_EQ(number("HashRemove", {N(h), L({"k"})}), 0) << h;
        EXPECT_EQ(texts("HashKeys", {N(h)}), Texts{"<none>"}) << h;
        EXPECT_EQ(number("HashDelete", {N(h)}), 0) << h;
    }
}

TEST(HashLifeCycle, TemporaryTablesEndWithTheCommandAndAllTablesAtExit) {
    const int temp = create({"Temporary"}), kept = create();
    add(temp, {"k"}, {"v"});
    add(kept, {"k"}, {"v"});
    EXPECT_EQ(search(temp, {"k"}), Texts{"v"});
    cvtest::session().postCli();
    EXPECT_EQ(keys(temp), Texts{"<none>"});
    EXPECT_EQ(keys(kept), Texts{"k"});

    cv::Events::global().fire("Exit");
    EXPECT_EQ(keys(kept), Texts{"<none>"});
    // A table made after the exit event starts afresh, with a handle never seen.
    EXPECT_GT(create(), kept);
}

// Last value wins, keys ignore case: against a dict in test_system_peers.py.
TEST(HashSingleValue, KeysWithoutValuesAreNotAdded) {
    const int h = create();
    EXPECT_TRUE(add(h, {"k"}, {"2"}));
    // Three keys, two values: two entries; no values at all: nothing changes.
    EXPECT_TRUE(add(h, {"a", "B", "c"}, {"x", "y"}));
    EXPECT_FALSE(add(h, {"z"}, {}));
    EXPECT_EQ(keys(h), (Texts{"k", "a", "B"}));
    number("HashDelete", {N(h)});
}

TEST(HashSingleValue, SearchFormsDependOnKeyCountAndDefault) {
    const int h = create();
    add(h, {"Y", "E"}, {"why", ""});
    const struct {
        Texts keys;
        const char* def;  // null: no default
        Texts want;
    } cases[] = {
        {{"x", "y"}, nullptr, {"", "why"}},   // per key, absent reads ""
        {{"x"}, nullptr, {"<none>"}},         // one absent key, no default: no result
        {{"x"}, "dflt", {"dflt"}},
        {{"y"}, nullptr, {"why"}},
        {{"e"}, "-", {""}},                   // a stored empty value is not absent
        {{}, "-", {"<none>"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.def ? search(h, c.keys, c.def) : search(h, c.keys), c.want) << c.keys.size();
    number("HashDelete", {N(h)});
}

TEST(HashMultiple, KeepsEveryValueOfAKeyTogether) {
    for (const char* option : {"multiple", "AllowMultiple"}) {
        const int h = create({"temporary", option});
        add(h, {"K", "other", "k"}, {"1", "o", "2"});
        EXPECT_EQ(search(h, {"k"}), (Texts{"1", "2"}));
        EXPECT_EQ(search(h, {"k", "other"}, "d"), (Texts{"1", "2"}));  // only the first key counts
        EXPECT_EQ(search(h, {"none"}, "d"), Texts{"<none>"});
        EXPECT_EQ(keys(h), (Texts{"K", "k", "other"}));
        EXPECT_EQ(number("HashRemove", {N(h), L({"K", "absent", "OTHER"})}), 3);
        EXPECT_EQ(keys(h), Texts{});
        cvtest::session().postCli();
    }
}

}  // namespace
