// The string functions: positions and clamping, substitution, escaping, Search,
// list building, MkVec, and results no machine can hold.
#include <cmath>
#include <string>
#include <vector>

#include "TestHost.h"
#include "TextEscape.h"

using namespace cvtest;  // the call helpers

namespace {

using Args = std::vector<cv::ValuePtr>;
constexpr auto strs = cvtest::strings;

// What a call gives, as text: its strings joined by '|', or its integers.
std::string outcome(const std::string& name, const Args& args) {
    auto o = call(name, args);
    if (!o.ok) return "failed: " + o.error;
    std::string s;
    for (int64_t i = 0; i < o.value->size(); ++i) {
        if (i) s += '|';
        s += o.value->integers() ? std::to_string(o.value->integers()[i]) : std::string(o.value->stringAt(i));
    }
    return s;
}

std::vector<bool> absent(const cv::ValuePtr& v) {
    std::vector<bool> out;
    for (int64_t i = 0; i < v->size(); ++i) out.push_back(v->strings()[i] == nullptr);
    return out;
}

std::string evaluate(const std::string& expression) {
    cv::ValuePtr v;
    std::string error;
    if (!cvtest::session().evaluate(expression, v, error)) return "failed: " + error;
    return std::string(v->stringAt(0));
}

struct Case {
    const char* function;
    Args args;
    std::string want;
};

TEST(StringResults, PositionsAreClampedOrGiveNothing) {
    const double nan = NAN, inf = INFINITY;
    const Case cases[] = {
        {"Ascii", {str("\xE9t")}, "-23"},              {"Ascii", {str("")}, "0"},
        {"Char", {str("abc"), reals({-1})}, "c"},      {"Char", {str("abc"), reals({3})}, ""},
        {"Char", {str("abc"), reals({-4})}, ""},       {"Char", {str("abc"), reals({inf})}, ""},
        {"Char", {str("abc"), reals({})}, ""},         {"Chr", {reals({65.9})}, "A"},
        {"Chr", {reals({-3})}, ""},                    {"Chr", {reals({300})}, "\xFF"},
        {"Chr", {reals({nan})}, ""},                   {"Mid", {str("abcdef"), reals({2}), reals({2})}, "cd"},
        {"Mid", {str("abcdef"), reals({-5}), reals({7})}, "ab"},
        {"Mid", {str("abc"), reals({1e300}), reals({5})}, ""}, {"Mid", {str("abc"), reals({1}), reals({nan})}, ""},
        {"Mid", {str("abc"), reals({-1e300}), reals({1e300})}, "abc"},
        {"StrStr", {str("abc"), str(""), reals({1e12})}, "0"},  // other offsets: against str.find in the peers
        {"StringStartsWith", {str("net1"), str("net")}, "1"},
        {"StringStartsWith", {str("net"), str("net1")}, "0"},
    };
    for (const Case& c : cases) EXPECT_EQ(outcome(c.function, c.args), c.want) << c.function;
    // A periodic needle that makes naive searching quadratic.
    std::string hay = std::string(300000, 'a') + "b", needle = std::string(150000, 'a') + "b";
    EXPECT_EQ(outcome("StrStr", {str(hay), str(needle)}), "150000");
}

TEST(Substitution, CountsAndCharacters) {
    const Case cases[] = {
        // Counts 0 to 3 and "all": against str.replace in the peers.
        {"SubstString", {str("aaaa"), str("a"), str("b"), str("ALL")}, "bbbb"},
        {"SubstString", {str("aaaa"), str("a"), str("b")}, "baaa"},
        {"SubstString", {str("aaaa"), str("a"), str("b"), str("-3")}, "aaaa"},
        {"SubstString", {str("aaaa"), str("a"), str("b"), str("3x")}, "bbba"},
        // An empty text to replace ends at once, whatever the count.
        {"SubstString", {str("abc"), str(""), str("x"), str("all")}, "abc"},
        {"SubstChar", {str("a.b,c"), str(".,"), str("_")}, "a_b_c"},
        {"SubstChar", {str("a.b,c"), str(".,"), str("")}, "a"},
        {"ToUpper", {str("v(out) \xC3\xA9")}, "V(OUT) \xC3\xA9"},
    };
    for (const Case& c : cases) EXPECT_EQ(outcome(c.function, c.args), c.want) << c.function;
}

TEST(Escaping, BothEscapingsRoundTripEveryByte) {
    std::string every;
    for (int c = 1; c < 256; ++c) every += char(c);
    for (bool spaces : {false, true}) {
        const std::string escaped = sp_EscapeString(every, spaces).str();
        for (char c : escaped) EXPECT_TRUE((c >= 0x20 && c != 0x7F) || c < 0) << int(c);
        EXPECT_EQ(escaped.find(' ') == std::string::npos, spaces);
        EXPECT_EQ(sp_UnescapeString(escaped).str(), every);
        EXPECT_EQ(sp_EscapeStringDecode(sp_EscapeStringEncode(every, spaces).view()).str(), every);
    }
    EXPECT_EQ(outcome("EscapeString", {str("a 'b'\n\\"), str("replaceSPACES")}), "a\\x20\\'b\\'\\n\\\\");
    // What the decoders do not recognise passes through.
    EXPECT_EQ(sp_UnescapeString("\\q\\x4g\\x4A\\").str(), "\\q\\x4gJ\\");
    EXPECT_EQ(sp_EscapeStringDecode("%+%4a%g1%2").str(), "%+J%g1%2");
}

TEST(SearchLists, OneOrSeveralStringsIgnoringCaseOrAsPaths) {
    auto names = strs({"R1", "c2", "r1", "L3"});
    EXPECT_EQ(outcome("Search", {names, str("r1")}), "0");
    EXPECT_EQ(outcome("Search", {names, strs({"l3", "R1", "x", "C2"})}), "3|0|-1|1");
    EXPECT_EQ(outcome("Search", {names, strs({"l3", "x", "r1"}), str("COUNT")}), "2");
    EXPECT_EQ(outcome("Search", {names, strs({})}), "");
    auto paths = strs({"C:/Work/a.cir", "lib\\Q.lib"});
    EXPECT_EQ(outcome("Search", {paths, str("c:\\work\\A.CIR")}), "-1");
    // As paths, separators fold and letter case counts, as in PathEqual:
    // on Linux two names that differ in case are two files.
    EXPECT_EQ(outcome("Search", {paths, strs({"lib/Q.lib", "C:\\Work/a.cir", "LIB/q.lib"}), strs({"x", "path"})}), "1|0|-1");
    EXPECT_EQ(outcome("Search", {strs({"/x/Y"}), str("/x/y"), str("Path")}), "-1");
    EXPECT_EQ(outcome("Search", {strs({"/x/Y"}), str("\\x\\Y"), str("Path")}), "0");
}

TEST(StringLists, ConcatRepeatsTheLastElementAndAnEmptyListLeavesTheOther) {
    EXPECT_EQ(outcome("_Concat", {strs({"a", "b", "c"}), strs({"x"})}), "ax|bx|cx");
    EXPECT_EQ(outcome("_Concat", {strs({}), strs({"x", "y"})}), "x|y");
    EXPECT_EQ(outcome("_Concat", {strs({"x", "y"}), strs({})}), "x|y");
    EXPECT_EQ(call("_Concat", {strs({}), strs({})}).value->size(), 0);
    EXPECT_EQ(evaluate("'R' & 10"), "R10");
    // Absent strings stay absent unless joined to text.
    auto none = call("_NullString", {reals({2})}).value;
    EXPECT_EQ(outcome("_Concat", {none, strs({"x"})}), "x|x");
    EXPECT_EQ(absent(call("_Concat", {none, none}).value), (std::vector<bool>{true, true}));
    EXPECT_EQ(absent(call("JoinStringArray", {strs({"a"}), none}).value), (std::vector<bool>{false, true, true}));
}

TEST(StringLists, MakeStringAndNullStringCountsAreTruncatedAndMayBeNone) {
    auto made = call("MakeString", {reals({3}), strs({"p"})}).value;
    EXPECT_EQ(stringsOf(*made), (Texts{"p", "", ""}));
    EXPECT_EQ(absent(made), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(absent(call("_NullString", {reals({2.7})}).value), (std::vector<bool>{true, true}));
    for (double none : {0.0, -5.0, double(NAN)}) {
        EXPECT_EQ(outcome("MakeString", {reals({none}), strs({"p"})}), "") << none;
        EXPECT_EQ(outcome("_NullString", {reals({none})}), "") << none;
    }
}

TEST(Sizes, ResultsBeyondMemoryAreRefusedBeforeTheyAreBuilt) {
    // Each input is small; the results would run to terabytes.
    auto noMemory = [](const char* f) { return "failed: Not enough memory to complete function '" + std::string(f) + "'"; };
    EXPECT_EQ(outcome("MakeString", {reals({1e15})}), noMemory("MakeString"));
    EXPECT_EQ(outcome("MakeString", {reals({2147483647})}), noMemory("MakeString"));
    EXPECT_EQ(outcome("_NullString", {reals({1e15})}), noMemory("_NullString"));
    const std::string block(1 << 20, 'x');
    EXPECT_EQ(outcome("_Concat", {str(block), call("MakeString", {reals({2000000})}).value}), noMemory("_Concat"));
    EXPECT_EQ(outcome("SubstString", {str(block), str("x"), str(block), str("all")}), noMemory("SubstString"));
}

TEST(MkVec, TheExpressionReachesTheVectorWhateverItsName) {
    EXPECT_EQ(outcome("MkVec", {str("X1.R#p:$_2")}), "X1.R#p:$_2");
    EXPECT_EQ(outcome("MkVec", {str("a+b")}), "Vec('a+b')");
    // A quote in the name cannot end the string and run the rest.
    for (const std::string name : {"2nd", "v(out)", "a,b", "x') & MkVec('y", "a\\'b\\", "tab\there"}) {
        cvtest::session().bind(name, str("found " + name));
        EXPECT_EQ(evaluate(outcome("MkVec", {str(name)})), "found " + name) << name;
    }
}

TEST(OddInputs, EveryFunctionGivesAResultOrAMessage) {
    // Empty, absent, NaN, huge, complex and divided arguments in every position.
    auto divided = cv::Value::makeDivided(cv::Kind::String, std::vector<int64_t>{0, 2});
    const Args odd = {strs({}),          call("_NullString", {reals({3})}).value, reals({NAN, 1}),
                      reals({-1e300}),   reals({1e300}), cvtest::complexes({{1, 1}}), divided, str("")};
    const char* functions[] = {"Ascii", "Char", "Chr", "CountChars", "Mid", "StrStr", "StringLength",
                               "StringStartsWith", "SubstChar", "SubstString", "ToLower", "ToUpper", "Search",
                               "EscapeString", "EscapeStringEncode", "_Concat", "JoinStringArray", "MakeString",
                               "_NullString", "Str", "MkVec", "SetUnion", "SetIntersect", "SetDifference",
                               "SetSymmetricDifference"};
    for (const char* f : functions)
        for (const auto& x : odd)
            for (const auto& y : odd) {
                const Args all = {x, y, y, x};
                for (size_t count = 1; count <= all.size(); ++count) {
                    auto o = call(f, Args(all.begin(), all.begin() + count));
                    EXPECT_TRUE(o.ok || !o.error.empty()) << f;
                }
            }
}

TEST(NoEffect, NullAndDoNothingGiveNoValue) {
    for (const char* f : {"Null", "DoNothing"}) EXPECT_TRUE(cvtest::noResult(call(f, {}))) << f;
}

}  // namespace
