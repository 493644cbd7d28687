// YString, the host containers and the exception classes.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CorvantaException.h"
#include "YContainers.h"
#include "YString.h"

namespace {

// Frees a malloc'd text the way a result slot does.
std::string takeMalloced(char* p) {
    std::string s(p);
    std::free(p);
    return s;
}

// The message of the CorvantaException that f throws.
template <class F>
std::string thrownMessage(F f) {
    try {
        f();
    } catch (const CorvantaException& e) {
        return e.what();
    }
    return "no exception";
}

}  // namespace

TEST(YStringConstruct, TextIntegersAndShortestRoundTripDoubles) {
    EXPECT_EQ(YString(static_cast<const char*>(nullptr)).length(), 0u);
    EXPECT_EQ(YString(std::string("x\0y", 3)).length(), 3u);  // counted, not NUL-terminated input
    EXPECT_EQ(YString(INT_MIN).concat(YString(LLONG_MIN).view()), "-2147483648-9223372036854775808");
    for (auto [v, text] :
         {std::pair{0.5, "0.5"}, {1.0, "1"}, {0.1, "0.1"}, {-2.5e-300, "-2.5e-300"}, {double(INFINITY), "inf"}})
        EXPECT_EQ(YString(v), text);
    for (double v : {1.0 / 3.0, M_PI, DBL_MIN, DBL_MAX, 123456789.123456789, 5e-324})
        EXPECT_EQ(std::strtod(YString(v).c_str(), nullptr), v) << YString(v).c_str();
}

TEST(YStringConstruct, AssigningFromItselfKeepsTheText) {
    YString b("hello");
    const YString& same = b;
    b = same;
    EXPECT_EQ(b, "hello");
    b = b.c_str() + 2;  // a tail of itself
    EXPECT_EQ(b, "llo");
    b = "";
    EXPECT_STREQ(b.c_str(), "");  // shrinking to empty must not show the old text
}

TEST(YStringBuild, AppendOfItselfOutOfRangeReadsAndDetachNeverGivesNull) {
    YString s("ab");
    s += 'c';
    s.append(s.view());  // a view of itself, across a reallocation
    EXPECT_EQ(s, "abcabc");
    EXPECT_TRUE(s[6] == '\0' && s[1000] == '\0');  // out of range reads NUL
    EXPECT_EQ(takeMalloced(s.detach()), "abcabc");
    EXPECT_TRUE(s.empty());
    char* none = s.detach();  // result slots must never receive null
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(takeMalloced(none), "");
}

TEST(YStringCompare, HashPrefixSuffixOrderAndPaths) {
    EXPECT_EQ(YString("foobar").hashValue(), 0xBF9CF968u);  // FNV-1a: users see it through Hash
    EXPECT_EQ(YString("Abc").hashValue(), YString("abc").hashValue());  // keys ignore case
    EXPECT_EQ(YString("Abc").hashValueNoCase(), YString("aBC").hashValueNoCase());

    YString s("Hello.TXT");
    EXPECT_TRUE(s.beginsWith("Hell") && s.beginsWith("") && s.beginsWith("hell", true) && s.endsWith(".txt", true));
    EXPECT_FALSE(s.beginsWith("hell") || s.beginsWith("Hello.TXT!") || s.endsWith(".txt"));
    EXPECT_GT(YString("abc").compare("ab"), 0);
    EXPECT_GT(YString("\xE9").compare("a"), 0);  // bytes compare unsigned
    EXPECT_LT(YString("abc").compareNoCase("ABD"), 0);
    EXPECT_EQ(YString("C:\\Dir\\File.txt").comparePath("c:/dir/file.TXT"), 0);
    EXPECT_NE(YString("/a/b").comparePath("/a/b/"), 0);
}

TEST(YStringEdit, StripSprintfAndSubstr) {
    EXPECT_EQ(YString(" \tMiXed Case\t\n").stripLeading(), "MiXed Case\t\n");
    EXPECT_EQ(YString(" \tMiXed Case\t\n").stripTrailing(), " \tMiXed Case");
    EXPECT_EQ(YString("xxaxx").strip("x"), "a");
    EXPECT_EQ(YString("   ").strip(), "");

    YString v("v");
    v.sprintf("%s=%d", {v, 3});  // an argument that views the string itself
    EXPECT_EQ(v, "v=3");
    EXPECT_EQ(v.sprintf(nullptr), "");
    YString t("hello");
    for (auto [at, n, part] : {std::tuple{1, 3, "ell"}, {3, -1, "lo"}, {5, -1, ""}, {99, 2, ""}})
        EXPECT_EQ(n < 0 ? t.substr(size_t(at)) : t.substr(size_t(at), size_t(n)), part);
}

TEST(YListOrder, InsertAtEitherEnd) {
    YList<YString> list;
    list.insertAtBack("b");
    list.insertAtFront("a");
    list.append("c");
    list.prepend("0");
    std::string joined;
    for (const YString& s : list) joined += s.str();
    EXPECT_EQ(joined, "0abc");
    list.clear();
    list.removeFirst();  // harmless on an empty list
    EXPECT_EQ(list.count(), 0);
}

TEST(YVectorIndex, WritingPastTheEndGrowsNegativeAndOutOfRangeThrow) {
    YArray<int> v;  // both names of the container behave alike
    v[3] = 7;
    EXPECT_TRUE(v.count() == 4 && v[0] == 0);
    EXPECT_EQ(v.add(9), 4);

    YVector<double> d;
    EXPECT_EQ(thrownMessage([&] { d[-1] = 1.0; }), "YVector index negative");
    const YVector<double>& cd = d;
    EXPECT_THROW(cd.at(-5), CorvantaException);
    EXPECT_EQ(thrownMessage([&] { (void)cd.at(0); }), "YVector index out of range");
    EXPECT_THROW(cd[2], CorvantaException);  // reading never grows
    EXPECT_EQ(d.count(), 0);
}

TEST(YHashTableKeys, AddFindReplaceRemoveAndIgnoringCase) {
    YHashTable<int> t;
    t.add("one", 1);
    t.insert("two", 2);
    t.add("three", 3);
    EXPECT_EQ(t.find("TWO"), nullptr);
    t.add("two", 22);  // replaces, keeps its place
    EXPECT_TRUE(t.remove("one"));
    EXPECT_FALSE(t.remove("one"));
    ASSERT_EQ(t.keys().count(), 2);
    EXPECT_TRUE(t.keys()[0] == "two" && *t.find("two") == 22);

    YHashTable<YString> folded(true);
    folded.add("Key", "a");
    folded.add("KEY", "b");
    ASSERT_EQ(folded.count(), 1);
    EXPECT_EQ(*folded.find("key"), "b");
    EXPECT_EQ(folded.keys()[0], "Key");  // the first spelling stays
    EXPECT_TRUE(folded.remove("kEy"));
    EXPECT_EQ(folded.count(), 0);
}

TEST(YHashTableKeys, ManyEntriesStayInInsertionOrder) {
    YHashTable<int> t;
    for (int i = 0; i < 5000; ++i) t.add(YString(i), i);
    for (int i = 0; i < 5000; i += 2) t.remove(YString(i));
    std::vector<int> order, odd;
    for (const auto& [key, value] : t) order.push_back(value);
    for (int i = 1; i < 5000; i += 2) odd.push_back(i);
    EXPECT_EQ(order, odd);
    EXPECT_EQ(t.count(), 2500);
}

TEST(CorvantaExceptions, MessagesAndCopies) {
    EXPECT_STREQ(CorvantaException(static_cast<const char*>(nullptr)).what(), "");
    const std::string longText(5000, 'm');
    CorvantaException e(longText.c_str());
    EXPECT_EQ(std::strlen(e.what()), 999u);
    CorvantaException copy = e;
    EXPECT_NE(copy.what(), e.what());
    EXPECT_STREQ(copy.what(), e.what());
    EXPECT_EQ(thrownMessage([] { throw DynFuncException("thrown"); }), "thrown");  // caught through the base
}
