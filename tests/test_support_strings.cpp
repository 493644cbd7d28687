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

TEST(YStringConstruct, EmptyAndFromText) {
    YString empty;
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(YString(static_cast<const char*>(nullptr)).length(), 0u);
    EXPECT_EQ(YString("abc").length(), 3u);
    EXPECT_EQ(YString("abcdef", 3), "abc");
    EXPECT_EQ(YString(std::string("x\0y", 3)).length(), 3u);   // counted, not NUL-terminated input
}

TEST(YStringConstruct, IntegersAsDecimalText) {
    EXPECT_EQ(YString(0), "0");
    EXPECT_EQ(YString(-42), "-42");
    EXPECT_EQ(YString(INT_MIN), "-2147483648");
    EXPECT_EQ(YString(LLONG_MAX), "9223372036854775807");
    EXPECT_EQ(YString(LLONG_MIN), "-9223372036854775808");
}

TEST(YStringConstruct, DoubleIsShortestRoundTripText) {
    EXPECT_EQ(YString(0.5), "0.5");
    EXPECT_EQ(YString(1.0), "1");
    EXPECT_EQ(YString(0.1), "0.1");
    EXPECT_EQ(YString(-2.5e-300), "-2.5e-300");
    EXPECT_EQ(YString(INFINITY), "inf");
    for (double v : {1.0 / 3.0, M_PI, DBL_MIN, DBL_MAX, 123456789.123456789, 5e-324})
        EXPECT_EQ(std::strtod(YString(v).c_str(), nullptr), v) << YString(v).c_str();
}

TEST(YStringConstruct, CopyMoveAndAssign) {
    YString a("hello");
    YString b(a);
    YString c(std::move(a));
    EXPECT_EQ(b, "hello");
    EXPECT_EQ(c, "hello");
    EXPECT_TRUE(a.empty());   // NOLINT: moved-from strings are empty by contract
    b = "x";
    EXPECT_EQ(b, "x");
    b = c;
    EXPECT_EQ(b, "hello");
    const YString& same = b;
    b = same;   // self-assignment keeps the text
    EXPECT_EQ(b, "hello");
    b = "";
    EXPECT_STREQ(b.c_str(), "");   // shrinking to empty must not show the old text
    c = c.c_str() + 2;             // assigning a tail of itself
    EXPECT_EQ(c, "llo");
}

// --- building and handing over ----------------------------------------------

TEST(YStringBuild, AppendAndConcat) {
    YString s("ab");
    s += "cd";
    s += 'e';
    s += YString("f");
    EXPECT_EQ(s, "abcdef");
    s.append(s.view());   // a view of itself, across a reallocation
    EXPECT_EQ(s, "abcdefabcdef");
    TempString t = YString("a").concat("b").concat("c");
    EXPECT_EQ(t, "abc");
    std::string big(100000, 'z');
    YString grown;
    for (int i = 0; i < 10; ++i) grown += big;
    EXPECT_EQ(grown.length(), 1000000u);
}

TEST(YStringBuild, CopyAndDetachGiveFreeableText) {
    YString s("text");
    EXPECT_EQ(takeMalloced(s.copy()), "text");
    EXPECT_EQ(s, "text");
    EXPECT_EQ(takeMalloced(s.detach()), "text");
    EXPECT_TRUE(s.empty());
    char* none = s.detach();   // never null, also when empty
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(takeMalloced(none), "");
    EXPECT_EQ(takeMalloced(YString().copy()), "");
}

TEST(YStringBuild, IndexingOutOfRangeReadsNul) {
    YString s("ab");
    EXPECT_EQ(s[1], 'b');
    EXPECT_EQ(s[2], '\0');
    EXPECT_EQ(s[1000], '\0');
}

// --- hashing and comparison -------------------------------------------------

TEST(YStringCompare, HashIsFnv1a) {
    EXPECT_EQ(YString("").hashValue(), 2166136261u);
    EXPECT_EQ(YString("a").hashValue(), 0xE40C292Cu);
    EXPECT_EQ(YString("foobar").hashValue(), 0xBF9CF968u);
    EXPECT_NE(YString("Abc").hashValue(), YString("abc").hashValue());
    EXPECT_EQ(YString("Abc").hashValueNoCase(), YString("aBC").hashValueNoCase());
}

TEST(YStringCompare, PrefixSuffixAndOrder) {
    YString s("Hello.TXT");
    EXPECT_TRUE(s.beginsWith("Hell"));
    EXPECT_FALSE(s.beginsWith("hell"));
    EXPECT_TRUE(s.beginsWith("hell", true));
    EXPECT_TRUE(s.beginsWith(""));
    EXPECT_FALSE(s.beginsWith("Hello.TXT!"));
    EXPECT_TRUE(s.endsWith(".txt", true));
    EXPECT_FALSE(s.endsWith(".txt"));
    EXPECT_LT(YString("abc").compare("abd"), 0);
    EXPECT_GT(YString("abc").compare("ab"), 0);
    EXPECT_EQ(YString("abc").compare("abc"), 0);
    EXPECT_GT(YString("\xE9").compare("a"), 0);   // bytes compare unsigned
    EXPECT_EQ(YString("ABC").compareNoCase("abc"), 0);
    EXPECT_LT(YString("abc").compareNoCase("ABD"), 0);
}

TEST(YStringCompare, PathsIgnoreCaseAndSlashKind) {
    EXPECT_EQ(YString("C:\\Dir\\File.txt").comparePath("c:/dir/file.TXT"), 0);
    EXPECT_NE(YString("/a/b").comparePath("/a/c"), 0);
    EXPECT_NE(YString("/a/b").comparePath("/a/b/"), 0);
}

// --- editing ----------------------------------------------------------------

TEST(YStringEdit, CaseAndStrip) {
    YString s("  MiXed Case\t\n");
    EXPECT_EQ(YString(s).tolower(), "  mixed case\t\n");
    EXPECT_EQ(YString(s).toupper(), "  MIXED CASE\t\n");
    EXPECT_EQ(YString(s).stripLeading(), "MiXed Case\t\n");
    EXPECT_EQ(YString(s).stripTrailing(), "  MiXed Case");
    EXPECT_EQ(YString(s).strip(), "MiXed Case");
    EXPECT_EQ(YString("xxaxx").strip("x"), "a");
    EXPECT_EQ(YString("   ").strip(), "");
    EXPECT_EQ(YString().strip(), "");
}

TEST(YStringEdit, SubstituteFirstFromStart) {
    YString s("a-b-c");
    EXPECT_TRUE(s.substitute("-", "+"));
    EXPECT_EQ(s, "a+b-c");
    EXPECT_TRUE(s.substitute("-", "=", 2));
    EXPECT_EQ(s, "a+b=c");
    EXPECT_FALSE(s.substitute("-", "+"));
    EXPECT_FALSE(s.substitute("", "+"));
    EXPECT_FALSE(s.substitute("c", "+", 99));
    EXPECT_EQ(s, "a+b=c");
}

TEST(YStringEdit, SubstituteNextReturnsWhereToContinue) {
    YString s("aaa");
    size_t pos = 0;
    int replaced = 0;
    // Replacing "a" by "aa" repeatedly must not loop: the search goes on after the insert.
    while ((pos = s.substituteNext("a", "aa", pos)) != YString::npos) ++replaced;
    EXPECT_EQ(replaced, 3);
    EXPECT_EQ(s, "aaaaaa");
    EXPECT_EQ(YString("xyz").substituteNext("q", "r"), YString::npos);
}

TEST(YStringEdit, SubstituteAllNeverRescans) {
    YString s("abcabc");
    EXPECT_EQ(s.substituteAll("b", "bb"), 2u);
    EXPECT_EQ(s, "abbcabbc");
    EXPECT_EQ(s.substituteAll("", "x"), 0u);
    EXPECT_EQ(s.substituteAll("q", "x"), 0u);
    EXPECT_EQ(s.substituteAll("bb", ""), 2u);
    EXPECT_EQ(s, "acac");
    YString self("ab");
    EXPECT_EQ(self.substituteAll("a", self.view()), 1u);   // replacement is a view of itself
    EXPECT_EQ(self, "abb");
}

TEST(YStringEdit, StrtokSkipsRunsOfDelimiters) {
    YString s(",,one, two,,three,");
    size_t pos = 0;
    std::vector<std::string> tokens;
    for (YString t = s.strtok(pos, ", "); pos != YString::npos; t = s.strtok(pos, ", ")) tokens.push_back(t.str());
    EXPECT_EQ(tokens, (std::vector<std::string>{"one", "two", "three"}));
    size_t past = 100;
    EXPECT_TRUE(s.strtok(past, ",").empty());
    EXPECT_EQ(past, YString::npos);
}

TEST(YStringEdit, StrtokSplittingOffTheHead) {
    YString s("a$b$c");
    EXPECT_EQ(s.strtok("$"), "a");
    EXPECT_EQ(s, "b$c");
    YString whole("abc");
    EXPECT_EQ(whole.strtok("$"), "abc");
    EXPECT_TRUE(whole.empty());
    YString lead("$x");
    EXPECT_EQ(lead.strtok("$"), "");
    EXPECT_EQ(lead, "x");
}

TEST(YStringEdit, SprintfAndSubstr) {
    YString s("v");
    s.sprintf("%s=%d", {s, 3});   // an argument that views the string itself
    EXPECT_EQ(s, "v=3");
    EXPECT_EQ(s.sprintf(nullptr), "");
    YString t("hello");
    EXPECT_EQ(t.substr(1, 3), "ell");
    EXPECT_EQ(t.substr(3), "lo");
    EXPECT_EQ(t.substr(5), "");
    EXPECT_EQ(t.substr(99, 2), "");
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
    EXPECT_EQ(list.first(), "0");
    EXPECT_EQ(list.last(), "c");
    list.removeFirst();
    EXPECT_EQ(list.first(), "a");
    list.clear();
    EXPECT_EQ(list.count(), 0);
    list.removeFirst();   // harmless on an empty list
}

TEST(YVectorIndex, WritingPastTheEndGrows) {
    YVector<int> v;
    v[3] = 7;
    EXPECT_EQ(v.count(), 4);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v.at(3), 7);
    EXPECT_EQ(v.add(9), 4);
    EXPECT_EQ(v.data()[4], 9);
    v.clear();
    EXPECT_EQ(v.count(), 0);
}

TEST(YVectorIndex, NegativeAndOutOfRangeThrow) {
    YVector<double> v;
    try {
        v[-1] = 1.0;
        FAIL() << "no exception";
    } catch (const CorvantaException& e) {
        EXPECT_STREQ(e.what(), "YVector index negative");
        EXPECT_EQ(e.code(), 8);
    }
    const YVector<double>& cv = v;
    EXPECT_THROW(cv.at(-5), CorvantaException);
    try {
        (void)cv.at(0);
        FAIL() << "no exception";
    } catch (const CorvantaException& e) {
        EXPECT_STREQ(e.what(), "YVector index out of range");
    }
    EXPECT_THROW(cv[2], CorvantaException);   // reading never grows
    EXPECT_EQ(v.count(), 0);
}

TEST(YVectorIndex, YArrayBehavesTheSame) {
    YArray<YString> a{"x", "y"};
    EXPECT_EQ(a.count(), 2);
    a[2] = "z";
    EXPECT_EQ(a[2], "z");
    EXPECT_THROW(a[-1], CorvantaException);
}

TEST(YHashTableKeys, AddFindReplaceRemove) {
    YHashTable<int> t;
    t.add("one", 1);
    t.insert("two", 2);
    t.add("three", 3);
    EXPECT_EQ(t.count(), 3);
    ASSERT_NE(t.find("two"), nullptr);
    EXPECT_EQ(*t.find("two"), 2);
    EXPECT_EQ(t.find("TWO"), nullptr);
    t.add("two", 22);   // replaces, keeps its place
    EXPECT_EQ(*t.find("two"), 22);
    EXPECT_EQ(t.count(), 3);
    EXPECT_TRUE(t.remove("one"));
    EXPECT_FALSE(t.remove("one"));
    YVector<YString> keys = t.keys();
    ASSERT_EQ(keys.count(), 2);
    EXPECT_EQ(keys[0], "two");
    EXPECT_EQ(keys[1], "three");
}

TEST(YHashTableKeys, CaseInsensitiveTable) {
    YHashTable<YString> t(true);
    t.add("Key", "a");
    t.add("KEY", "b");
    EXPECT_EQ(t.count(), 1);
    ASSERT_NE(t.find("key"), nullptr);
    EXPECT_EQ(*t.find("key"), "b");
    EXPECT_EQ(t.keys()[0], "Key");   // the first spelling stays
    EXPECT_TRUE(t.remove("kEy"));
    EXPECT_EQ(t.count(), 0);
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

TEST(CorvantaExceptions, CodesAndMessages) {
    CorvantaException e("bad thing");
    EXPECT_EQ(e.code(), 8);
    EXPECT_STREQ(e.what(), "bad thing");
    CorvantaException coded(42, "coded");
    EXPECT_EQ(coded.code(), 42);
    CorvantaException none(static_cast<const char*>(nullptr));
    EXPECT_STREQ(none.what(), "");
    DynFuncException d("no such host function");
    EXPECT_EQ(d.code(), 9);
    EXPECT_STREQ(d.what(), "no such host function");
    EXPECT_EQ(sizeof(DynFuncException), sizeof(CorvantaException));
}

TEST(CorvantaExceptions, LongMessagesAreCutAndCopiesIndependent) {
    const std::string longText(5000, 'm');
    CorvantaException e(longText.c_str());
    EXPECT_EQ(std::strlen(e.what()), 999u);
    CorvantaException copy = e;
    EXPECT_NE(copy.what(), e.what());
    EXPECT_STREQ(copy.what(), e.what());
    try {
        throw DynFuncException("thrown");
    } catch (const CorvantaException& caught) {   // caught through the base, by reference
        EXPECT_EQ(caught.code(), 9);
        EXPECT_STREQ(caught.what(), "thrown");
    }
}
