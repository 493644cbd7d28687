// The host's text services: field splitters and tokenisers, the netlist line
// reader, wildcards and regular expressions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SpiceLines.h"
#include "TextLines.h"
#include "TextMatch.h"

namespace {

using Strings = std::vector<std::string>;

template <class List>
Strings texts(const List& list) {
    Strings out;
    for (const YString& s : list) out.emplace_back(s.view());
    return out;
}

Strings split(std::string_view text, char separator, std::string_view quotes = {}, int mode = 0) {
    YArray<YString> out;
    sp_SplitLine(text, separator, quotes, out, mode);
    return texts(out);
}

Strings scanLine(std::string_view text, const ScanSpec& rule, int max = 1000) {
    YArray<YString> out;
    sp_ScanLine(text, rule, out, max);
    return texts(out);
}

using Tokeniser = bool (*)(std::string_view&, std::string_view, YString&);

Strings tokens(std::string_view text, std::string_view delimiters, Tokeniser next) {
    Strings out;
    YString token;
    while (next(text, delimiters, token)) out.emplace_back(token.view());
    return out;
}

// The verdict and the pieces of matching `subjects` against `pattern`.
std::pair<RegExpVerdict, Strings> regExp(std::vector<std::string_view> subjects, std::string_view pattern,
                                         std::string* error = nullptr) {
    std::pair<RegExpVerdict, Strings> o;
    std::string ignored;
    o.first = sp_RegExpMatches(subjects, pattern, o.second, error ? *error : ignored);
    return o;
}

}  // namespace

// ---------------------------------------------------------------- field splitting

TEST(SplitLine, QuotesProtectSeparatorsNestAndMayBeStripped) {
    EXPECT_EQ(split("<a;b>;c", ';', "<>"), (Strings{"<a;b>", "c"}));
    EXPECT_EQ(split("<a<b>;c>;d", ';', "<>"), (Strings{"<a<b>;c>", "d"}));
    EXPECT_EQ(split("'a;b';c", ';', "'"), (Strings{"'a;b'", "c"}));
    EXPECT_EQ(split("<a;b>;c", ';', "<>", SplitLineStripQuotes), (Strings{"a;b", "c"}));
    // An unclosed quote swallows the rest of the text and is reported.
    YArray<YString> out;
    EXPECT_FALSE(sp_SplitLine("a;<b;c", ';', "<>", out, 0));
    EXPECT_EQ(texts(out), (Strings{"a", "<b;c"}));
}

TEST(ScanLine, RunsOfDelimitersSeparateAndQuotedTokensKeepThem) {
    ScanSpec plain{" =", "", "", "", 0};
    EXPECT_EQ(scanLine("  R1  a=b  ", plain), (Strings{"R1", "a", "b"}));
    ScanSpec quoted{" =", "\"'", "\"'", "", 0};
    EXPECT_EQ(scanLine("L=\"1 u\" x='' y", quoted), (Strings{"L", "1 u", "x", "", "y"}));
    EXPECT_EQ(scanLine("a \"open to the end", quoted), (Strings{"a", "open to the end"}));
    ScanSpec brackets{" ", "[", "]", "", 0};
    EXPECT_EQ(scanLine("[a b]c d", brackets), (Strings{"a b", "c", "d"}));
    EXPECT_EQ(scanLine("a b c d", plain, 2), (Strings{"a", "b"}));
    EXPECT_EQ(scanLine("a b", plain, 0), Strings{});
}

TEST(ScanLine, CursorFormStopsAtTheEndAndAtANullCursor) {
    Strings fields;
    YString field;
    for (const char* cursor = "a;;b;"; sp_ScanLine(cursor, ';', field);) fields.emplace_back(field.view());
    EXPECT_EQ(fields, (Strings{"a", "", "b"}));
    const char* none = nullptr;
    field = "kept";
    EXPECT_FALSE(sp_ScanLine(none, ';', field));
    EXPECT_EQ(field, "kept");
}

// ---------------------------------------------------------------- cursor tokenisers

TEST(StrTok, QuotedStretchesKeepDelimitersAndLoseTheirQuotes) {
    EXPECT_EQ(tokens("x='1, 2'y,z", " ,", sp_StrTok), (Strings{"x=1, 2y", "z"}));
    EXPECT_EQ(tokens("\"it's\" 'say \"hi\"'", " ", sp_StrTok), (Strings{"it's", "say \"hi\""}));
    // An empty quoted token is a token; the scan ends with the text, not with it.
    EXPECT_EQ(tokens("a \"\" b", " ", sp_StrTok), (Strings{"a", "", "b"}));
    EXPECT_EQ(tokens("a ,, b", " ,", sp_GetToken), (Strings{"a", "b"}));
}

// ---------------------------------------------------------------- netlist lines

// Comments after a space, a tab or nothing, a '$' inside a name and continuations
// around comment lines are against ngspice's listing in the peers.
TEST(SpiceLines, WholeLineCommentsContinuationsAndNothingToRead) {
    const std::pair<const char*, Strings> cases[] = {
        {"R1 a b 1k ; note\r\nR2 a b 2k", {"R1 a b 1k", "R2 a b 2k"}},
        {"   * indented\n$ whole line\n; whole line\nR1 a b 1", {"R1 a b 1"}},
        {"R1 a b 1k $\n+ tc1=1", {"R1 a b 1k tc1=1"}},
        {"+ orphan\n+ more", {"orphan more"}},
        {"", {}},
        {"\n\n+\n*", {}},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(texts(sp_ParseSpiceLines(text)), want) << text;
}

// ---------------------------------------------------------------- wildcards

TEST(FilterString, EscapesAndTheCaseSensitiveMatch) {
    struct Case {
        const char *text, *pattern;
        bool match;
    };
    // Plain stars and question marks: against fnmatch through QueryData in the peers.
    for (const Case& c : {Case{"", "", true}, {"a*c", "a\\*c", true}, {"abc", "a\\*c", false}, {"a?", "a\\?", true},
                          {"ab", "a\\?", false}, {"a\\b", "a\\\\b", true}, {"a\\", "a\\", true}}) {
        EXPECT_EQ(sp_FilterString(c.text, c.pattern, FilterCaseSensitive), c.match) << c.text << " ~ " << c.pattern;
    }
    // Case is ignored unless asked.
    EXPECT_TRUE(sp_FilterString("Vout", "v*T", 0));
    EXPECT_FALSE(sp_FilterString("Vout", "v*T", FilterCaseSensitive));
}

TEST(FilterString, ManyStarsOnALongTextFinishQuickly) {
    const std::string text(20000, 'a');
    std::string pattern;
    for (int k = 0; k < 200; ++k) pattern += "*a";
    EXPECT_TRUE(sp_FilterString(text, pattern, 0));
    EXPECT_FALSE(sp_FilterString(text, pattern + "*b", 0));
}

// ---------------------------------------------------------------- regular expressions

// Complete matches and their groups, set or not, are against Python's re in the peers.
TEST(RegExpMatches, WholeSubjectsPartialBeginningsAndAnyBytes) {
    using V = RegExpVerdict;
    EXPECT_EQ(regExp({"xabcx", "abc"}, "abc"), std::pair(V::Incomplete, Strings{"", "abc"}));
    // A beginning that could still match is a partial piece ...
    EXPECT_EQ(regExp({"555-1", "55x"}, "(\\d{3})-(\\d{4})"), std::pair(V::Incomplete, Strings{"555-1", "", "", ""}));
    // ... but a subject that already matches is complete even where more could follow.
    EXPECT_EQ(regExp({"aa"}, "a+").first, V::Complete);
    const std::string bytes("\xff\xfe\x00z", 4);
    EXPECT_EQ(regExp({bytes}, "..\\x00z"), std::pair(V::Complete, Strings{bytes}));
}

TEST(RegExpMatches, BadPatternsAndRunawayBacktrackingAreReportedNotFatal) {
    for (const char* bad : {"(", "a{2,1}", "[z-a]", "\\", "(?<n>a)(?<n>b)"}) {
        std::string error;
        EXPECT_EQ(regExp({"a"}, bad, &error), std::pair(RegExpVerdict::BadPattern, Strings{})) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(regExp({std::string(40, 'a') + "!"}, "(a|a)+(b|c)").first, RegExpVerdict::TooComplex);
}
