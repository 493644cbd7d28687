// The set functions on string lists: membership ignoring ASCII case, order and
// spelling taken from the inputs, each element once.
#include <string>
#include <vector>

#include "TestHost.h"

using cvtest::call;

namespace {

using Texts = std::vector<std::string>;

Texts set(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok && o.value->kind() == cv::Kind::String) << name << ": " << o.error;
    return o.ok ? cvtest::stringsOf(*o.value) : Texts{"failed"};
}

cv::ValuePtr L(Texts t) { return cvtest::strings(std::move(t)); }

// Order and spelling from the occurrence that put each element there: against
// Python sets in tests/python/test_string_peers.py. Here what Python's
// lower() would fold differently, absent strings and sizes.
TEST(SetMembership, OnlyAsciiLettersFoldAndAbsentStringsAreEmptyText) {
    EXPECT_EQ(set("SetUnion", {L({"\xC3\xA9", "\xC3\x89", "", ""})}), (Texts{"\xC3\xA9", "\xC3\x89", ""}));
    auto none = call("_NullString", {cvtest::reals({2})}).value;
    EXPECT_EQ(set("SetUnion", {none, L({"", "z"})}), (Texts{"", "z"}));
}

TEST(SetMembership, AnEmptyResultIsLeftUnmade) {
    for (const char* f : {"SetUnion", "SetIntersect", "SetDifference", "SetSymmetricDifference"})
        EXPECT_TRUE(cvtest::noResult(call(f, {L({}), L({})}))) << f;
    EXPECT_TRUE(cvtest::noResult(call("SetSymmetricDifference", {L({"a", "b"}), L({"B", "A"})})));
    EXPECT_TRUE(cvtest::noResult(call("SetIntersect", {L({"a"}), L({"b"})})));
    EXPECT_TRUE(cvtest::noResult(call("SetDifference", {L({"a", "B"}), L({"b", "A"})})));
}

TEST(SetScale, LargeListsTakeOnePass) {
    // Quadratic membership would take minutes on these.
    const int n = 200000;
    Texts a, b;
    for (int i = 0; i < n; ++i) a.push_back("net" + std::to_string(i));
    for (int i = n / 2; i < n + n / 2; ++i) b.push_back("NET" + std::to_string(i));
    EXPECT_EQ(set("SetUnion", {L(a), L(b)}).size(), size_t(n + n / 2));
    Texts common = set("SetIntersect", {L(a), L(b)});
    ASSERT_EQ(common.size(), size_t(n / 2));
    EXPECT_EQ(common.front(), "NET100000");
    EXPECT_EQ(set("SetSymmetricDifference", {L(a), L(b)}).size(), size_t(n));
}

}  // namespace
