// The string functions: characters, substrings and searching, substitution,
// escaping (with the host's escapings), Search, list building, MkVec, and the
// sizes no machine can hold.
#include <cmath>
#include <string>
#include <vector>

#include "TestHost.h"
#include "TextEscape.h"

using cvtest::call;
using cvtest::reals;
using cvtest::stringsOf;

namespace {

using Texts = std::vector<std::string>;

constexpr auto strs = cvtest::strings;
constexpr auto str = cvtest::str;

// The one string a call gives.
std::string text(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    if (!o.ok || o.value->kind() != cv::Kind::String || o.value->size() != 1) return "<no string>";
    return std::string(o.value->stringAt(0));
}

// The integers a call gives.
std::vector<int> integers(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    std::vector<int> out;
    if (o.ok && o.value->integers())
        for (int64_t i = 0; i < o.value->size(); ++i) out.push_back(o.value->integers()[i]);
    return out;
}

Texts list(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    EXPECT_TRUE(o.ok && o.value->kind() == cv::Kind::String) << name;
    return o.ok ? stringsOf(*o.value) : Texts{};
}

// Which slots of a string list hold no string at all.
std::vector<bool> absent(const cv::Value& v) {
    std::vector<bool> out;
    for (int64_t i = 0; i < v.size(); ++i) out.push_back(v.strings()[i] == nullptr);
    return out;
}

std::string evaluate(const std::string& expression) {
    cv::ValuePtr v;
    std::string error;
    EXPECT_TRUE(cvtest::session().evaluate(expression, v, error)) << expression << ": " << error;
    return v && v->kind() == cv::Kind::String && v->size() == 1 ? std::string(v->stringAt(0)) : "<no string>";
}

std::string noMemory(const std::string& function) {
    return "Not enough memory to complete function '" + function + "'";
}

// ---------------------------------------------------------------- characters

TEST(StringCharacters, AsciiIsTheFirstByteAsASignedNumber) {
    EXPECT_EQ(integers("Ascii", {str("Abc")}), std::vector<int>{65});
    EXPECT_EQ(integers("Ascii", {str("\xE9t\xC3\xA9")}), std::vector<int>{-23});
    EXPECT_EQ(integers("Ascii", {str("")}), std::vector<int>{0});
}

TEST(StringCharacters, CharCountsNegativeIndicesFromTheEndAndGivesNothingOutside) {
    EXPECT_EQ(text("Char", {str("abc"), reals({-1})}), "c");
    EXPECT_EQ(text("Char", {str("abc"), reals({1.9})}), "b");
    for (double outside : {3.0, -4.0, 1e300, -1e300, double(NAN), double(INFINITY)})
        EXPECT_EQ(text("Char", {str("abc"), reals({outside})}), outside != outside ? "a" : "") << outside;
    EXPECT_EQ(text("Char", {str("abc"), reals({})}), "");
    EXPECT_EQ(text("Char", {str(""), reals({0})}), "");
}

TEST(StringCharacters, ChrTakesTheFloorAndClampsToOneByte) {
    EXPECT_EQ(text("Chr", {reals({65.9})}), "A");
    EXPECT_EQ(text("Chr", {reals({-3})}), "");
    EXPECT_EQ(text("Chr", {reals({0.5})}), "");
    EXPECT_EQ(text("Chr", {reals({300})}), "\xFF");
    EXPECT_EQ(text("Chr", {reals({INFINITY})}), "\xFF");
    EXPECT_EQ(text("Chr", {reals({NAN})}), "");
    EXPECT_EQ(text("Chr", {reals({})}), "");
}

TEST(StringCharacters, CountCharsGivesOneCountPerCharacterAsked) {
    EXPECT_EQ(integers("CountChars", {str("a.b.c,,"), str(".,xa.")}), (std::vector<int>{2, 2, 0, 1, 2}));
    EXPECT_EQ(integers("CountChars", {str("abc"), str("")}), std::vector<int>{});
    EXPECT_EQ(integers("CountChars", {str("h\xC3\xA9"), str("\xC3")}), std::vector<int>{1});
}

// ---------------------------------------------------------------- substrings and searching

TEST(Substrings, MidClampsStartAndEndIntoTheString) {
    struct Case {
        double start, length;
        const char* want;
    };
    const Case cases[] = {{2, 2, "cd"},     {-5, 7, "ab"},        {0, 100, "abcdef"}, {4, -2, ""},
                          {6, 1, ""},       {1e300, 5, ""},       {-1e300, 1e300, "abcdef"}, {NAN, 3, "abc"},
                          {2, NAN, ""},     {-1, 1e10, "abcdef"}};
    for (const Case& c : cases)
        EXPECT_EQ(text("Mid", {str("abcdef"), reals({c.start}), reals({c.length})}), c.want)
            << c.start << ", " << c.length;
    EXPECT_EQ(text("Mid", {str("abcdef"), reals({3})}), "def");
    EXPECT_EQ(text("Mid", {str("abc"), reals({5})}), "");
}

TEST(Substrings, StrStrFindsIgnoringCaseAndCountsFromTheOffset) {
    EXPECT_EQ(integers("StrStr", {str("xAbcAbc"), str("abc"), reals({2})}), std::vector<int>{2});
    EXPECT_EQ(integers("StrStr", {str("xAbcAbc"), str("ABC")}), std::vector<int>{1});
    EXPECT_EQ(integers("StrStr", {str("abc"), str("d")}), std::vector<int>{-1});
    EXPECT_EQ(integers("StrStr", {str("abc"), str("")}), std::vector<int>{0});
    // Offsets outside the string are moved to its ends.
    EXPECT_EQ(integers("StrStr", {str("abc"), str("a"), reals({-7})}), std::vector<int>{0});
    EXPECT_EQ(integers("StrStr", {str("abc"), str(""), reals({1e12})}), std::vector<int>{0});
    EXPECT_EQ(integers("StrStr", {str("abc"), str("c"), reals({1e12})}), std::vector<int>{-1});
    // A needle longer than the text, and a periodic one that defeats naive searches.
    EXPECT_EQ(integers("StrStr", {str("ab"), str("abc")}), std::vector<int>{-1});
    std::string hay(200000, 'a');
    hay += 'b';
    EXPECT_EQ(integers("StrStr", {str(hay), str(std::string(100000, 'a') + "b")}), std::vector<int>{100000});
}

TEST(Substrings, LengthAndPrefix) {
    EXPECT_EQ(integers("StringLength", {str("h\xC3\xA9")}), std::vector<int>{3});
    EXPECT_EQ(integers("StringLength", {strs({})}), std::vector<int>{0});
    EXPECT_EQ(text("StringStartsWith", {str("netlist.cir"), str("net")}), "1");
    EXPECT_EQ(text("StringStartsWith", {str("net"), str("netlist")}), "0");
    EXPECT_EQ(text("StringStartsWith", {str("abc"), str("")}), "1");
    // A number where a string is asked for is its text.
    EXPECT_EQ(text("StringStartsWith", {reals({125}), reals({12})}), "1");
}

// ---------------------------------------------------------------- substitution and case

TEST(Substitution, SubstStringReplacesAsManyAsTheCountSays) {
    struct Case {
        const char* count;
        const char* want;
    };
    const Case cases[] = {{"2", "bbaa"},  {"0", "aaaa"},  {"ALL", "bbbb"}, {"all", "bbbb"}, {"1", "baaa"},
                          {"", "baaa"},   {"-3", "aaaa"}, {"3x", "bbba"},  {"x", "aaaa"},   {"99999999999999999999", "bbbb"}};
    for (const Case& c : cases)
        EXPECT_EQ(text("SubstString", {str("aaaa"), str("a"), str("b"), str(c.count)}), c.want) << c.count;
    EXPECT_EQ(text("SubstString", {str("aaaa"), str("a"), str("b")}), "baaa");
}

TEST(Substitution, SubstStringNeverSearchesTheTextItInserted) {
    EXPECT_EQ(text("SubstString", {str("a-a-a"), str("a"), str("aa"), str("all")}), "aa-aa-aa");
    EXPECT_EQ(text("SubstString", {str("aaa"), str("aa"), str("a"), str("all")}), "aa");
    EXPECT_EQ(text("SubstString", {str("xyxy"), str("xy"), str(""), str("all")}), "");
    EXPECT_EQ(text("SubstString", {str("R1 R10 R1"), str("R1"), str("R2"), str("2")}), "R2 R20 R1");
}

TEST(Substitution, SubstStringWithNothingToReplaceEnds) {
    for (const char* count : {"all", "1", "1000000"})
        EXPECT_EQ(text("SubstString", {str("abc"), str(""), str("x"), str(count)}), "abc") << count;
    EXPECT_EQ(text("SubstString", {str(""), str("a"), str("b"), str("all")}), "");
}

TEST(Substitution, SubstCharReplacesEveryListedByte) {
    EXPECT_EQ(text("SubstChar", {str("a.b,c"), str(".,"), str("_")}), "a_b_c");
    EXPECT_EQ(text("SubstChar", {str("a.b,c"), str(".,"), str("xyz")}), "axbxc");
    EXPECT_EQ(text("SubstChar", {str("a.b,c"), str(""), str("_")}), "a.b,c");
    // An empty replacement ends the string before the first byte it would replace.
    EXPECT_EQ(text("SubstChar", {str("a.b,c"), str(".,"), str("")}), "a");
}

TEST(Substitution, CaseConversionLeavesNonLettersAlone) {
    EXPECT_EQ(text("ToLower", {str("V(Out)_1 \xC3\x89")}), "v(out)_1 \xC3\x89");
    EXPECT_EQ(text("ToUpper", {str("v(out)_1 \xC3\xA9")}), "V(OUT)_1 \xC3\xA9");
    EXPECT_EQ(text("ToUpper", {strs({})}), "");
}

// ---------------------------------------------------------------- escaping

std::string everyByte() {
    std::string s;
    for (int c = 1; c < 256; ++c) s += char(c);
    return s;
}

TEST(Escaping, BackslashEscapingLeavesNoControlByteOrQuote) {
    EXPECT_EQ(text("EscapeString", {str("a \"b\" 'c' \\ d\n\te\r\x01\x7F")}),
              "a \\\"b\\\" \\'c\\' \\\\ d\\n\\te\\r\\x01\\x7F");
    EXPECT_EQ(text("EscapeString", {str("a b"), str("REPLACESPACES")}), "a\\x20b");
    EXPECT_EQ(text("EscapeString", {str("a b"), str("other")}), "a b");
    EXPECT_EQ(text("EscapeString", {str("\xC3\xA9")}), "\xC3\xA9");
    for (bool spaces : {false, true}) {
        const std::string escaped = sp_EscapeString(everyByte(), spaces).str();
        for (char c : escaped) EXPECT_TRUE(c >= 0x20 || c < 0) << int(c);
        EXPECT_EQ(escaped.find(' ') == std::string::npos, spaces);
        EXPECT_EQ(sp_UnescapeString(escaped).str(), everyByte());
    }
}

TEST(Escaping, PercentEncodingKeepsOnlyUnreservedBytes) {
    EXPECT_EQ(text("EscapeStringEncode", {str("a-b_c.d~e f/g%h+\xC3\xA9")}), "a-b_c.d~e f%2Fg%25h%2B%C3%A9");
    EXPECT_EQ(text("EscapeStringEncode", {str("a b"), str("replaceSpaces")}), "a%20b");
    for (bool spaces : {false, true})
        EXPECT_EQ(sp_EscapeStringDecode(sp_EscapeStringEncode(everyByte(), spaces).view()).str(), everyByte());
}

TEST(Escaping, DecodersKeepWhatTheyDoNotRecognise) {
    EXPECT_EQ(sp_UnescapeString("a\\qb\\x4g\\x4A\\").str(), "a\\qb\\x4gJ\\");
    EXPECT_EQ(sp_EscapeStringDecode("100%+%4a%g1%2").str(), "100%+J%g1%2");
}

TEST(Escaping, TheExpressionLanguageReadsEscapedTextBack) {
    const std::string raw = "say \"hi\"\tand 'bye' \\ C:\\dir\\n\n";
    EXPECT_EQ(evaluate("'" + text("EscapeString", {str(raw)}) + "'"), raw);
    EXPECT_EQ(evaluate("\"" + text("EscapeString", {str(raw)}) + "\""), raw);
}

// ---------------------------------------------------------------- Search

TEST(SearchLists, OneStringGivesTheFirstIndexOrWhetherItIsThere) {
    auto names = strs({"R1", "c2", "r1", "L3"});
    EXPECT_EQ(integers("Search", {names, str("r1")}), std::vector<int>{0});
    EXPECT_EQ(integers("Search", {names, str("Q9")}), std::vector<int>{-1});
    EXPECT_EQ(integers("Search", {names, str("r1"), str("count")}), std::vector<int>{1});
    EXPECT_EQ(integers("Search", {names, str("q9"), str("COUNT")}), std::vector<int>{0});
    EXPECT_EQ(integers("Search", {strs({}), str("x")}), std::vector<int>{-1});
}

TEST(SearchLists, SeveralStringsGiveOneIndexEachOrHowManyArePresent) {
    auto names = strs({"R1", "c2", "r1", "L3"});
    EXPECT_EQ(integers("Search", {names, strs({"l3", "R1", "x", "C2"})}), (std::vector<int>{3, 0, -1, 1}));
    EXPECT_EQ(integers("Search", {names, strs({"l3", "x", "R1", "r1"}), str("count")}), std::vector<int>{3});
    EXPECT_EQ(integers("Search", {names, strs({})}), std::vector<int>{});
    EXPECT_EQ(integers("Search", {names, strs({}), str("count")}), std::vector<int>{0});
}

TEST(SearchLists, PathOptionTakesEitherSlash) {
    auto paths = strs({"C:/Work/a.cir", "lib\\models\\Q.lib"});
    EXPECT_EQ(integers("Search", {paths, str("c:\\work\\A.CIR")}), std::vector<int>{-1});
    EXPECT_EQ(integers("Search", {paths, str("c:\\work\\A.CIR"), strs({"x", "path"})}), std::vector<int>{0});
    EXPECT_EQ(integers("Search", {paths, strs({"LIB/models/q.lib", "c:/work\\a.cir"}), str("Path")}),
              (std::vector<int>{1, 0}));
}

// ---------------------------------------------------------------- building lists

TEST(StringLists, ConcatRepeatsTheLastElementOfTheShorterList) {
    EXPECT_EQ(list("_Concat", {strs({"a", "b", "c"}), strs({"x"})}), (Texts{"ax", "bx", "cx"}));
    EXPECT_EQ(list("_Concat", {strs({"v("}), strs({"in", "out"})}), (Texts{"v(in", "v(out"}));
    EXPECT_EQ(list("_Concat", {strs({"a", "b"}), strs({"1", "2", "3"})}), (Texts{"a1", "b2", "b3"}));
    EXPECT_EQ(evaluate("'R' & 10"), "R10");
}

TEST(StringLists, ConcatWithAnEmptyListGivesTheOtherList) {
    EXPECT_EQ(list("_Concat", {strs({}), strs({"x", "y"})}), (Texts{"x", "y"}));
    EXPECT_EQ(list("_Concat", {strs({"x", "y"}), strs({})}), (Texts{"x", "y"}));
    EXPECT_EQ(list("_Concat", {strs({}), strs({})}), Texts{});
}

TEST(StringLists, AbsentStringsStayAbsentUnlessJoinedToText) {
    auto none = call("_NullString", {reals({2})}).value;
    auto joined = call("_Concat", {none, strs({"x", "y"})});
    ASSERT_TRUE(joined.ok) << joined.error;
    EXPECT_EQ(stringsOf(*joined.value), (Texts{"x", "y"}));
    auto both = call("_Concat", {none, none});
    ASSERT_TRUE(both.ok) << both.error;
    EXPECT_EQ(absent(*both.value), (std::vector<bool>{true, true}));
    auto kept = call("JoinStringArray", {strs({"a"}), none});
    EXPECT_EQ(absent(*kept.value), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(absent(*call("Str", {none}).value), (std::vector<bool>{true, true}));
}

TEST(StringLists, JoinAndCopy) {
    EXPECT_EQ(list("JoinStringArray", {strs({"a", "b"}), strs({"c"})}), (Texts{"a", "b", "c"}));
    EXPECT_EQ(list("JoinStringArray", {strs({}), strs({})}), Texts{});
    EXPECT_EQ(list("Str", {strs({"p", "", "q"})}), (Texts{"p", "", "q"}));
    EXPECT_EQ(list("Str", {reals({1.5, 2})}), (Texts{"1.5", "2"}));
}

TEST(StringLists, MakeStringFillsWithEmptyStrings) {
    auto made = call("MakeString", {reals({3}), strs({"p"})});
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(stringsOf(*made.value), (Texts{"p", "", ""}));
    EXPECT_EQ(absent(*made.value), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(list("MakeString", {reals({1.9}), strs({"p", "q"})}), Texts{"p"});
    for (double none : {0.0, -5.0, -1e300, double(NAN)}) EXPECT_EQ(list("MakeString", {reals({none})}), Texts{}) << none;
}

TEST(StringLists, NullStringHoldsNoStringsAndNeverANegativeCount) {
    auto made = call("_NullString", {reals({3})});
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(absent(*made.value), (std::vector<bool>{true, true, true}));
    EXPECT_EQ(stringsOf(*made.value), (Texts{"", "", ""}));
    for (auto none : {reals({0}), reals({-4}), reals({NAN}), reals({}), cvtest::complexes({{-2, 5}})})
        EXPECT_EQ(list("_NullString", {none}), Texts{});
    EXPECT_EQ(list("_NullString", {cvtest::complexes({{2, -5}})}).size(), 2u);
}

// ---------------------------------------------------------------- sizes beyond memory

TEST(Sizes, CountsNoMachineHoldsEndInTheNotEnoughMemoryMessage) {
    for (double count : {1e15, 2147483647.0}) {
        auto made = call("MakeString", {reals({count}), strs({"p"})});
        EXPECT_FALSE(made.ok);
        EXPECT_EQ(made.error, noMemory("MakeString"));
    }
}

TEST(Sizes, ResultsThatMultiplyTheirInputsAreCheckedBeforeTheyAreBuilt) {
    // Each input is small; the results would run to terabytes.
    const std::string block(1 << 20, 'x');
    auto joined = call("_Concat", {str(block), call("MakeString", {reals({2000000})}).value});
    EXPECT_FALSE(joined.ok);
    EXPECT_EQ(joined.error, noMemory("_Concat"));
    auto grown = call("SubstString", {str(std::string(1 << 20, 'a')), str("a"), str(block), str("all")});
    EXPECT_FALSE(grown.ok);
    EXPECT_EQ(grown.error, noMemory("SubstString"));
}

// ---------------------------------------------------------------- MkVec, Null

TEST(MkVec, NamesTheLanguageCannotSpellAreWrapped) {
    EXPECT_EQ(text("MkVec", {str("gain")}), "gain");
    EXPECT_EQ(text("MkVec", {str("X1.R#p:$_2")}), "X1.R#p:$_2");
    for (const char* name : {"2nd", "a+b", "v(out)", "a b", "a,b", ".x", "a;b", ""})
        EXPECT_EQ(text("MkVec", {str(name)}), "Vec('" + std::string(name) + "')") << name;
}

TEST(MkVec, TheExpressionReachesTheVectorWhateverItsName) {
    for (const std::string name : {"v(out)", "2nd", "x') & MkVec('y", "a\\'b", "back\\slash\\", "tab\there"}) {
        cvtest::session().bind(name, cvtest::str("found " + name));
        EXPECT_EQ(evaluate(text("MkVec", {str(name)})), "found " + name) << name;
    }
}

TEST(NoEffect, NullAndDoNothingGiveNoValue) {
    for (const char* f : {"Null", "DoNothing"}) EXPECT_TRUE(cvtest::noResult(call(f, {}))) << f;
}

}  // namespace
