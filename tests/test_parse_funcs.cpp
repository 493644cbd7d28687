// Tokenising, record selection and queries, parameter strings, netlist lines,
// regular expressions, sorting and MapArray, through the function table.
#include <cmath>
#include <tuple>

#include "TestHost.h"

using namespace cvtest;  // the call helpers

namespace {

using Reals = std::vector<double>;

constexpr auto strs = cvtest::strings;

bool noResult(const std::string& name, std::vector<cv::ValuePtr> args) {
    return cvtest::noResult(call(name, std::move(args)));
}

const std::string kNotEnoughMemory = "Not enough memory to complete function";

}  // namespace

// ---------------------------------------------------------------- Scan and Parse

TEST(Tokenising, SeparatorsQuotesPaddingAndEmptyFields) {
    const std::tuple<const char*, std::vector<cv::ValuePtr>, Texts> cases[] = {
        {"Scan", {str("a;;b"), str(";"), reals({5})}, {"a", "", "b", "", ""}},
        {"Scan", {str("a;b;")}, {"a", "b"}},
        {"Scan", {str(""), str(";"), reals({-3})}, {}},
        {"Scan", {str("a;b"), str("")}, {"a", "b"}},  // an empty rule keeps the default
        // A quote pair protects separators unless both quotes are equal.
        {"Scan", {str("<a;b>;c"), str(";<>")}, {"<a;b>", "c"}},
        {"Scan", {str("'a;b';c"), str(";''")}, {"'a", "b'", "c"}},
        // Parse splits at runs of delimiters; a space brings the tab.
        {"Parse", {str("  a,b\t c,,d ")}, {"a", "b", "c", "d"}},
        {"Parse", {str("a\tb c"), str(" ")}, {"a", "b", "c"}},
        {"Parse", {str("a;b c"), str(";")}, {"a", "b c"}},
        {"Parse", {str(" , ")}, {}},
        {"Parse", {str("a \"b c\" '' d"), str(" "), str("QUOTED")}, {"a", "b c", "", "d"}},
        {"Parse", {str("a \"unclosed, b"), str(" ,"), str("quoted")}, {"a", "unclosed, b"}},
    };
    for (const auto& [function, args, want] : cases) EXPECT_EQ(texts(function, args), want) << function;
}

// ---------------------------------------------------------------- SelectColumns and SelectRows

TEST(Records, ColumnsReadQuotedFieldsWithoutTheirQuotesAndEmptyWhenAbsent) {
    // Equal quotes turn quoting off.
    auto records = strs({"a;\"x;y\";c", "\"q\"tail;b", "1;2", "", "x;\"open;b"});
    EXPECT_EQ(texts("SelectColumns", {records, reals({1}), str(";\"\"")}), (Texts{"\"x", "b", "2", "", "\"open"}));
    auto quoted = strs({"a;<x;y>;c", "<q>tail;b", "<a<b>;c>;d", "x;<open;b", "x;a<b>"});
    EXPECT_EQ(texts("SelectColumns", {quoted, reals({1}), str(";<>")}), (Texts{"x;y", "b", "d", "", "a<b>"}));
    EXPECT_EQ(texts("SelectColumns", {quoted, reals({0}), str(";<>")}), (Texts{"a", "q", "a<b>;c", "x", "x"}));
    // Empty fields count, a separator at the end, a column beyond the record.
    EXPECT_EQ(texts("SelectColumns", {strs({"a;;c", "a;b;", ";x", ""}), reals({2})}), (Texts{"c", "", "", ""}));
    EXPECT_EQ(texts("SelectColumns", {strs({"a;b"}), reals({-1})}), Texts{""});
    EXPECT_EQ(texts("SelectColumns", {strs({"a;b"}), reals({NAN})}), Texts{"a"});
    // Several columns are taken in ascending order only.
    EXPECT_EQ(texts("SelectColumns", {strs({"a;b;c;d", "e;f"}), reals({0, 2})}), (Texts{"a;c", "e"}));
    EXPECT_EQ(texts("SelectColumns", {strs({"a;b;c;d", "e;f"}), reals({2, 0, 3})}), (Texts{"c", ""}));
    EXPECT_EQ(texts("SelectColumns", {strs({"a;b;c;d", "e;f"}), reals({})}), (Texts{"", ""}));
}

TEST(Records, LongRecordsAndUnbalancedQuotesAreReadWhole) {
    const std::string big(3 << 20, 'x');
    EXPECT_EQ(texts("SelectColumns", {strs({"a;<" + big + ">;b"}), reals({1}), str(";<>")}), Texts{big});
    EXPECT_EQ(texts("SelectColumns", {strs({"a;" + big + ";b"}), reals({1, 2})}), Texts{big + ";b"});
    EXPECT_EQ(texts("SelectColumns", {strs({"a;<" + big}), reals({1}), str(";<>")}), Texts{""});
}

TEST(Records, SelectRowsComparesOneColumnIgnoringCase) {
    auto records = strs({"R1;10k", "c1;1u", "r1;20k", "x", ""});
    EXPECT_EQ(texts("SelectRows", {records, str("R1")}), (Texts{"R1;10k", "r1;20k"}));
    EXPECT_TRUE(noResult("SelectRows", {records, str("none")}));
    EXPECT_TRUE(noResult("SelectRows", {records, str("R1"), reals({-1})}));
    // An empty separator reads as the default one, as in Scan and SelectColumns.
    EXPECT_EQ(texts("SelectRows", {records, str("1U"), reals({1}), str("")}), Texts{"c1;1u"});
}

// ---------------------------------------------------------------- QueryData

TEST(Queries, ExactAndWildcardTermsCombineInPostfix) {
    auto records = strs({"R1;resistor;10k", "C1;capacitor;1u", "R2;resistor;20k", "L1;inductor;1m"});
    EXPECT_EQ(texts("QueryData", {records, strs({"*;RESISTOR"})}), (Texts{"R1;resistor;10k", "R2;resistor;20k"}));
    EXPECT_EQ(texts("QueryData", {records, strs({"C1", "L1", "\\OR"})}), (Texts{"C1;capacitor;1u", "L1;inductor;1m"}));
    EXPECT_EQ(texts("QueryData", {records, strs({"R*", "*;*;20k", "\\and", "\\not"})}),
              (Texts{"R1;resistor;10k", "C1;capacitor;1u", "L1;inductor;1m"}));
    EXPECT_EQ(texts("QueryData", {records, strs({"R*", "*;*;20k", "\\XOR"})}), Texts{"R1;resistor;10k"});
}

TEST(Queries, MalformedQueriesRejectEveryRecord) {
    const auto records = strs({"a;b", "c;d"});
    for (const Texts& terms : {Texts{"\\AND"}, Texts{"a", "c"}, Texts{}, Texts{"\\"}, Texts{"\\NOT"}})
        EXPECT_TRUE(noResult("QueryData", {records, strs(terms)})) << terms.size();
    // An invalid term stops the evaluation: what is on the stack then decides.
    EXPECT_EQ(texts("QueryData", {records, strs({"a", "\\bogus", "\\NOT"})}), Texts{"a;b"});
}

TEST(Queries, EscapedWildcardsMissingFieldsAndMegabyteRecords) {
    auto records = strs({"a*b;1", "axb;2", "solo", "trail;"});
    EXPECT_EQ(texts("QueryData", {records, strs({"a\\*b"})}), Texts{"a*b;1"});
    EXPECT_EQ(texts("QueryData", {records, strs({"SOLO", "trail", "\\or"})}), (Texts{"solo", "trail;"}));
    EXPECT_EQ(texts("QueryData", {records, strs({"*;?"})}), (Texts{"a*b;1", "axb;2"}));
    // No fixed buffer limits a record or a term.
    const std::string big(2 << 20, 'q');
    records = strs({big + ";x", "short;x", "a;" + big});
    EXPECT_EQ(texts("QueryData", {records, strs({"q*q;X"})}), Texts{big + ";x"});
    EXPECT_EQ(texts("QueryData", {records, strs({"a;" + big})}), Texts{"a;" + big});
}

// ---------------------------------------------------------------- parameter strings

namespace {

Texts params(const char* function, const std::string& text, Texts names, Texts mode, Texts values = {},
             Texts options = {}) {
    std::vector<cv::ValuePtr> args{str(text), strs(names), strs(mode)};
    if (!values.empty() || !options.empty()) args.push_back(strs(values));
    if (!options.empty()) args.push_back(strs(options));
    return texts(function, args);
}

}  // namespace

TEST(ParameterStrings, ReadFindsNamesPositionalsAndTheLastOrFirstSetting) {
    for (const char* f : {"ParseParameterString", "ParseParameterString2"}) {
        EXPECT_EQ(params(f, "10k R=5 TC=1", {"r", "$unlabelled$1", "W", "$UNLABELLED$2"}, {"read", "1"}),
                  (Texts{"5", "10k", "", ""}))
            << f;
        EXPECT_EQ(params(f, "", {"R", "$unlabelled$1"}, {"read", "1"}), (Texts{"", ""})) << f;
    }
    // The first reads the last setting and searches values too; the second
    // reads the first entry whose name matches.
    EXPECT_EQ(params("ParseParameterString", "A=1 A=2 B=A", {"A"}, {"READ"}), Texts{"2"});
    EXPECT_EQ(params("ParseParameterString2", "A=1 A=2 B=A", {"A"}, {"READ"}), Texts{"1"});
    EXPECT_EQ(params("ParseParameterString", "10k R=5", {"$unlabelled$1"}, {"read", "-4"}), Texts{""});
}

TEST(ParameterStrings, WriteAndDeleteReplaceAppendAndIgnoreBlankValues) {
    const Texts names{"TC", "W", "R", "$unlabelled$1"}, values{"2", "10u", " \t", "22k"};
    EXPECT_EQ(params("ParseParameterString", "10k R=5 tc=1", names, {"write", "1"}, values),
              Texts{"22k R=5 TC=2 W=10u"});
    EXPECT_EQ(params("ParseParameterString2", "10k R=5 tc=1", names, {"write", "1"}, values),
              Texts{"22k R=5 tc=2 W=10u"});
    // A name given twice: its last value, in its first place.
    EXPECT_EQ(params("ParseParameterString", "R=5", {"X", "Y", "x"}, {"write"}, {"1", "2", "3"}),
              Texts{"R=5 X=3 Y=2"});
    // New positionals come before new pairs in the second.
    EXPECT_EQ(params("ParseParameterString2", "A=1", {"B", "$unlabelled$1"}, {"write"}, {"2", "9"}),
              Texts{"A=1 9 B=2"});
    EXPECT_EQ(params("ParseParameterString2", "", {"R"}, {"write", "3"}, {"1"}), Texts{"R=1"});
    for (const char* f : {"ParseParameterString", "ParseParameterString2"})
        EXPECT_EQ(params(f, "1 2 A=3 B=4", {"$unlabelled$2", "a"}, {"delete", "2"}), Texts{"1 B=4"}) << f;
    // Without a values list write sets nothing; an unknown or missing mode neither.
    EXPECT_TRUE(noResult("ParseParameterString", {str("R=5"), strs({"R"}), strs({"write"})}));
    EXPECT_TRUE(noResult("ParseParameterString", {str("R=5"), strs({"R"}), strs({"append"})}));
    EXPECT_TRUE(noResult("ParseParameterString2", {str("R=5"), strs({"R"}), strs({})}));
}

TEST(ParameterStrings, TrailingNameIsDroppedByTheFirstAndKeptByTheSecond) {
    EXPECT_EQ(params("ParseParameterString", "R=5 W", {"R"}, {"write"}, {"6"}), Texts{"R=6"});
    EXPECT_EQ(params("ParseParameterString", "R=5 W", {"R"}, {"delete"}), Texts{""});
    EXPECT_EQ(params("ParseParameterString2", "R=5 W", {"R"}, {"write"}, {"6"}), Texts{"R=6 W="});
    EXPECT_EQ(params("ParseParameterString2", "R=5 W", {"W"}, {"read"}), Texts{""});
    // A trailing name read as the first positional writes an empty value,
    // and the space after it stays.
    EXPECT_EQ(params("ParseParameterString2", "$unlabelled$1", {"L"}, {"write", "0"}, {"1"}), Texts{" L=1"});
}

TEST(ParameterStrings, QuotingAndDelimitersFromTheOptionsAndQuotedValuesWrittenBack) {
    const Texts quoting{"allowquoted"};
    EXPECT_EQ(params("ParseParameterString", "L='1 u' W=2", {"L"}, {"read"}, {}, quoting), Texts{"1 u"});
    EXPECT_EQ(params("ParseParameterString", "L='1 u' W=2", {"L"}, {"read"}, {}, {"none"}), Texts{"'1"});
    EXPECT_EQ(params("ParseParameterString", "L:<1 u>;W:2", {"L", "W"}, {"read"}, {}, {"allowquoted", ":;", "<", ">"}),
              (Texts{"1 u", "2"}));
    EXPECT_EQ(params("ParseParameterString", "'1 k' L='1 u' C=\"\" W=2", {"W"}, {"write", "1"}, {"3"}, quoting),
              Texts{"\"1 k\" L=\"1 u\" C=\"\" W=3"});
    EXPECT_EQ(params("ParseParameterString2", "L='say \"hi\"' W=2", {"W", "M"}, {"write"}, {"3", "a b"}, quoting),
              Texts{"L='say \"hi\"' W=3 M=\"a b\""});
}

TEST(ParameterStrings, BuildQuotesValuesWithTriggersAndSkipsEmptyOnes) {
    EXPECT_EQ(texts("BuildParameterString", {strs({"L", "W", "M"}), strs({"1 u", "", "2"})}), Texts{"L=\"1 u\" M=2"});
    EXPECT_EQ(texts("BuildParameterString", {strs({"A", "B"}), strs({"x,y", "z"}), str(",")}),
              Texts{"A=\"x,y\" B=z"});
    EXPECT_EQ(texts("BuildParameterString", {strs({"A", "B", "C"}), strs({"1"})}), Texts{"A=1"});
    EXPECT_EQ(texts("BuildParameterString", {strs({"S"}), strs({"say \"hi\""})}), Texts{"S='say \"hi\"'"});
    EXPECT_TRUE(noResult("BuildParameterString", {strs({}), strs({"1"})}));
}

// ---------------------------------------------------------------- RegExp

// Complete matches and their pieces: against Python's re in the peers; a
// beginning that could still match: the service's own test.
TEST(RegularExpressions, IncompleteMatchesEmptyListsAndBadPatterns) {
    EXPECT_EQ(texts("RegExp", {strs({"v(out)", "i(r1)"}), str("v\\((.*)\\)")}), (Texts{"IncompleteMatch", "out", ""}));
    EXPECT_TRUE(noResult("RegExp", {strs({}), str("a")}));
    // A bad or too costly pattern is an error, not a crash.
    auto o = call("RegExp", {strs({"a"}), str("(unclosed")});
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.error.find("Invalid regular expression in function 'RegExp'"), std::string::npos) << o.error;
    o = call("RegExp", {strs({std::string(40, 'a')}), str("(a|a)+(b|c)")});
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.error.find("too complex"), std::string::npos) << o.error;
}

// ---------------------------------------------------------------- sorting

// Orders, stable ties and "unique": against sorted() in the peers. Here the
// NaNs, which Python cannot order.
TEST(Sorting, SortIdxPutsNaNLastInBothDirections) {
    EXPECT_EQ(cvtest::values("SortIdx", {reals({NAN, 2, NAN, 1})}), (Reals{3, 1, 0, 2}));
    EXPECT_EQ(cvtest::values("SortIdx", {reals({NAN, 2, NAN, 1}), str("reverse")}), (Reals{1, 3, 0, 2}));
    // Many NaNs among many values: an order that called NaN equal to
    // everything could make the sort run off its range.
    std::vector<double> mixed;
    for (int k = 0; k < 5000; ++k) mixed.push_back(k % 3 ? double((k * 7919) % 1000) : NAN);
    const Reals idx = cvtest::values("SortIdx", {reals(mixed)});
    ASSERT_EQ(idx.size(), mixed.size());
    for (size_t k = 1; k < idx.size(); ++k) {
        const double a = mixed[size_t(idx[k - 1])], b = mixed[size_t(idx[k])];
        EXPECT_TRUE(std::isnan(b) || a <= b) << k;
    }
}

// ---------------------------------------------------------------- MapArray

TEST(Mapping, MapArrayPlacesValuesAtTheirIndices) {
    EXPECT_EQ(cvtest::values("MapArray", {reals({5, 6}), reals({2, 0})}), (Reals{6, -1, 5}));
    EXPECT_EQ(cvtest::values("MapArray", {reals({5, 6, 7}), reals({1.9, 1.2})}), (Reals{-1, 6}));
    EXPECT_EQ(cvtest::values("MapArray", {reals({5, 6}), reals({-3, NAN})}), (Reals{-1}));
    EXPECT_EQ(texts("MapArray", {strs({"a", "b"}), reals({3, 1})}), (Texts{"", "b", "", "a"}));
    EXPECT_TRUE(noResult("MapArray", {cvtest::complexes({{1, 1}}), reals({0})}));
}

// ---------------------------------------------------------------- counts beyond memory

TEST(MendedFaults, CountsBeyondMemoryEndInTheNotEnoughMemoryMessage) {
    for (auto [name, args] : {std::pair{"MapArray", std::vector<cv::ValuePtr>{reals({1}), reals({1e15})}},
                              {"MapArray", {reals({1}), reals({INFINITY})}},
                              {"Scan", {str("a;b"), str(";"), reals({1e12})}}}) {
        auto o = call(name, args);
        EXPECT_FALSE(o.ok) << name;
        EXPECT_NE(o.error.find(kNotEnoughMemory), std::string::npos) << name << ": " << o.error;
    }
}

// ---------------------------------------------------------------- any input

TEST(AnyInput, EmptyNaNAndMalformedArgumentsGiveAResultOrOneMessage) {
    const auto none = strs({}), empty = str(""), noReals = reals({});
    const auto junk = strs({"\"", "<;>;\\", std::string("a\xff;\x01", 4), ";;;;"});
    const std::vector<std::pair<const char*, std::vector<cv::ValuePtr>>> calls = {
        {"Scan", {junk, str(";<"), reals({-1e300})}},
        {"Parse", {str("\"'\"'"), str("\"'"), str("quoted")}},
        {"SelectColumns", {none, noReals, empty}},
        {"SelectColumns", {junk, reals({NAN, -1, 1e300}), str(";\\<")}},
        {"SelectRows", {junk, empty, reals({1e300}), str(";")}},
        {"QueryData", {junk, junk}},
        {"ParseParameterString", {empty, none, none, none, none}},
        {"ParseParameterString", {str("= = ="), junk, strs({"write", "1e300"}), junk, junk}},
        {"ParseParameterString2", {str("'a"), junk, strs({"delete", "-9"}), none, strs({"allowquoted", "", "'", ""})}},
        {"BuildParameterString", {junk, junk, empty}},
        {"ParseSpiceLines", {junk}},
        {"RegExp", {junk, str("(?")}},
        {"Sort", {junk, str("unique")}},
        {"SortIdx", {none, empty}},
        {"SortIdx2", {reals({NAN, NAN, INFINITY, -INFINITY}), str("reverse")}},
        {"MapArray", {junk, reals({NAN, -INFINITY, 2})}},
    };
    for (const auto& [name, args] : calls) {
        auto o = call(name, args);
        EXPECT_TRUE(o.ok || !o.error.empty()) << name;
    }
}

// Texts longer than one block of the scanner, with tokens across block
// boundaries, read the same as a byte-by-byte split: whether tokens fill the
// text (copied whole) or delimiters do (copied token by token), with a few
// delimiters (compared at once) or many (looked up), and with bytes beyond ASCII.
TEST(Tokenising, ParseOfLongTextsAgreesWithASplitByteByByte) {
    auto split = [](const std::string& text, const std::string& delimiters) {
        Texts out;
        std::string token;
        for (const char c : text + delimiters[0]) {
            if (delimiters.find(c) == std::string::npos) token += c;
            else if (!token.empty()) out.push_back(std::move(token)), token.clear();
        }
        return out;
    };
    const std::string alphabets[] = {"ab;c,d \t\xc3\xa9", "a       ;", ";;;;;;;;;;;;x"};
    const std::string delimiterSets[] = {";", ",;\t", ";abcdefghijklmnop"};
    uint32_t seed = 12345;
    for (const std::string& alphabet : alphabets)
        for (const std::string& delimiters : delimiterSets)
            for (const size_t length : {63, 64, 65, 129, 1000, 4099}) {
                std::string text;
                for (size_t k = 0; k < length; ++k) {
                    seed = seed * 1664525u + 1013904223u;
                    text += alphabet[(seed >> 16) % alphabet.size()];
                }
                EXPECT_EQ(texts("Parse", {str(text), str(delimiters)}), split(text, delimiters))
                    << delimiters << " of " << length;
            }
}
