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

}  // namespace

// --- construction -----------------------------------------------------------

TEST(YStringConstruct, TextIntegersAndShortestRoundTripDoubles) {
    EXPECT_STREQ(YString().c_str(), "");
    EXPECT_TRUE(YString().empty());
    EXPECT_EQ(YString(static_cast<const char*>(nullptr)).length(), 0u);
    EXPECT_EQ(YString("abcdef", 3), "abc");
    EXPECT_EQ(YString(std::string("x\0y", 3)).length(), 3u);  // counted, not NUL-terminated input
    EXPECT_EQ(YString(INT_MIN), "-2147483648");
    EXPECT_EQ(YString(LLONG_MAX), "9223372036854775807");
    EXPECT_EQ(YString(LLONG_MIN), "-9223372036854775808");
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

// --- building and handing over ----------------------------------------------

TEST(YStringBuild, AppendConcatAndIndexing) {
    YString s("ab");
    s += "cd";
    s += 'e';
    s += YString("f");
    EXPECT_EQ(s, "abcdef");
    s.append(s.view());  // a view of itself, across a reallocation
    EXPECT_EQ(s, "abcdefabcdef");
    EXPECT_EQ(YString("a").concat("b").concat("c"), "abc");
    YString grown;
    for (int i = 0; i < 10; ++i) grown += std::string(100000, 'z');
    EXPECT_EQ(grown.length(), 1000000u);
    // Out of range reads NUL.
    EXPECT_EQ(s[1], 'b');
    EXPECT_EQ(s[12], '\0');
    EXPECT_EQ(s[1000], '\0');
}

TEST(YStringBuild, DetachNeverGivesNull) {
    YString s("text");
    EXPECT_EQ(takeMalloced(s.detach()), "text");
    EXPECT_TRUE(s.empty());
    char* none = s.detach();  // result slots must never receive null
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(takeMalloced(none), "");
}

// --- hashing and comparison -------------------------------------------------

TEST(YStringCompare, HashPrefixSuffixOrderAndPaths) {
    EXPECT_EQ(YString("").hashValue(), 2166136261u);  // FNV-1a
    EXPECT_EQ(YString("foobar").hashValue(), 0xBF9CF968u);
    EXPECT_NE(YString("Abc").hashValue(), YString("abc").hashValue());
    EXPECT_EQ(YString("Abc").hashValueNoCase(), YString("aBC").hashValueNoCase());

    YString s("Hello.TXT");
    EXPECT_TRUE(s.beginsWith("Hell") && s.beginsWith("") && s.beginsWith("hell", true) && s.endsWith(".txt", true));
    EXPECT_FALSE(s.beginsWith("hell") || s.beginsWith("Hello.TXT!") || s.endsWith(".txt"));
    EXPECT_LT(YString("abc").compare("abd"), 0);
    EXPECT_GT(YString("abc").compare("ab"), 0);
    EXPECT_EQ(YString("abc").compare("abc"), 0);
    EXPECT_GT(YString("\xE9").compare("a"), 0);  // bytes compare unsigned
    EXPECT_EQ(YString("ABC").compareNoCase("abc"), 0);
    EXPECT_LT(YString("abc").compareNoCase("ABD"), 0);

    EXPECT_EQ(YString("C:\\Dir\\File.txt").comparePath("c:/dir/file.TXT"), 0);
    EXPECT_NE(YString("/a/b").comparePath("/a/c"), 0);
    EXPECT_NE(YString("/a/b").comparePath("/a/b/"), 0);
}

// --- editing ----------------------------------------------------------------

TEST(YStringEdit, CaseStripSprintfAndSubstr) {
    YString s("  MiXed Case\t\n");
    EXPECT_EQ(YString(s).tolower(), "  mixed case\t\n");
    EXPECT_EQ(YString(s).toupper(), "  MIXED CASE\t\n");
    EXPECT_EQ(YString(s).stripLeading(), "MiXed Case\t\n");
    EXPECT_EQ(YString(s).stripTrailing(), "  MiXed Case");
    EXPECT_EQ(YString(s).strip(), "MiXed Case");
    EXPECT_EQ(YString("xxaxx").strip("x"), "a");
    EXPECT_EQ(YString("   ").strip(), "");
    EXPECT_EQ(YString().strip(), "");

    YString v("v");
    v.sprintf("%s=%d", {v, 3});  // an argument that views the string itself
    EXPECT_EQ(v, "v=3");
    EXPECT_EQ(v.sprintf(nullptr), "");
    YString t("hello");
    for (auto [at, n, part] : {std::tuple{1, 3, "ell"}, {3, -1, "lo"}, {5, -1, ""}, {99, 2, ""}})
        EXPECT_EQ(n < 0 ? t.substr(size_t(at)) : t.substr(size_t(at), size_t(n)), part);
    EXPECT_EQ(t.find("l"), 2u);
}

// --- containers -------------------------------------------------------------

TEST(YListOrder, InsertAtEitherEnd) {
    YList<YString> list;
    list.insertAtBack("b");
    list.insertAtFront("a");
    list.append("c");
    list.prepend("0");
    EXPECT_EQ(list.count(), 4);
    std::string joined;
    for (const YString& s : list) joined += s.str();
    EXPECT_EQ(joined, "0abc");
    EXPECT_EQ(list.last(), "c");
    list.removeFirst();
    EXPECT_EQ(list.first(), "a");
    list.clear();
    EXPECT_EQ(list.count(), 0);
    list.removeFirst();  // harmless on an empty list
}

TEST(YVectorIndex, WritingPastTheEndGrowsNegativeAndOutOfRangeThrow) {
    YVector<int> v;
    v[3] = 7;
    EXPECT_EQ(v.count(), 4);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v.at(3), 7);
    EXPECT_EQ(v.add(9), 4);
    EXPECT_EQ(v.data()[4], 9);
    v.clear();
    EXPECT_EQ(v.count(), 0);

    YVector<double> d;
    try {
        d[-1] = 1.0;
        FAIL() << "no exception";
    } catch (const CorvantaException& e) {
        EXPECT_STREQ(e.what(), "YVector index negative");
        EXPECT_EQ(e.code(), 8);
    }
    const YVector<double>& cd = d;
    EXPECT_THROW(cd.at(-5), CorvantaException);
    try {
        (void)cd.at(0);
        FAIL() << "no exception";
    } catch (const CorvantaException& e) {
        EXPECT_STREQ(e.what(), "YVector index out of range");
    }
    EXPECT_THROW(cd[2], CorvantaException);  // reading never grows
    EXPECT_EQ(d.count(), 0);

    YArray<YString> a{"x", "y"};
    a[2] = "z";
    EXPECT_EQ(a.count(), 3);
    EXPECT_EQ(a[2], "z");
    EXPECT_THROW(a[-1], CorvantaException);
}

TEST(YHashTableKeys, AddFindReplaceRemoveAndIgnoringCase) {
    YHashTable<int> t;
    t.add("one", 1);
    t.insert("two", 2);
    t.add("three", 3);
    ASSERT_NE(t.find("two"), nullptr);
    EXPECT_EQ(*t.find("two"), 2);
    EXPECT_EQ(t.find("TWO"), nullptr);
    t.add("two", 22);  // replaces, keeps its place
    EXPECT_EQ(*t.find("two"), 22);
    EXPECT_EQ(t.count(), 3);
    EXPECT_TRUE(t.remove("one"));
    EXPECT_FALSE(t.remove("one"));
    YVector<YString> keys = t.keys();
    ASSERT_EQ(keys.count(), 2);
    EXPECT_EQ(keys[0], "two");
    EXPECT_EQ(keys[1], "three");

    YHashTable<YString> folded(true);
    folded.add("Key", "a");
    folded.add("KEY", "b");
    EXPECT_EQ(folded.count(), 1);
    ASSERT_NE(folded.find("key"), nullptr);
    EXPECT_EQ(*folded.find("key"), "b");
    EXPECT_EQ(folded.keys()[0], "Key");  // the first spelling stays
    EXPECT_TRUE(folded.remove("kEy"));
    EXPECT_EQ(folded.count(), 0);
}

TEST(YHashTableKeys, ManyEntriesStayInInsertionOrder) {
    YHashTable<int> t;
    for (int i = 0; i < 5000; ++i) t.add(YString(i), i);
    for (int i = 0; i < 5000; i += 2) t.remove(YString(i));
    int expected = 1;
    for (const auto& [key, value] : t) {
        EXPECT_EQ(value, expected);
        expected += 2;
    }
    EXPECT_EQ(t.count(), 2500);
}

// --- exceptions -------------------------------------------------------------

TEST(CorvantaExceptions, CodesMessagesAndCopies) {
    EXPECT_EQ(CorvantaException("bad thing").code(), 8);
    EXPECT_STREQ(CorvantaException("bad thing").what(), "bad thing");
    EXPECT_EQ(CorvantaException(42, "coded").code(), 42);
    EXPECT_STREQ(CorvantaException(static_cast<const char*>(nullptr)).what(), "");
    const std::string longText(5000, 'm');
    CorvantaException e(longText.c_str());
    EXPECT_EQ(std::strlen(e.what()), 999u);
    CorvantaException copy = e;
    EXPECT_NE(copy.what(), e.what());
    EXPECT_STREQ(copy.what(), e.what());
    try {
        throw DynFuncException("thrown");
    } catch (const CorvantaException& caught) {  // caught through the base, by reference
        EXPECT_EQ(caught.code(), 9);
        EXPECT_STREQ(caught.what(), "thrown");
    }
}
