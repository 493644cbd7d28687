// Number formatting, colours, dates, Base64 and code pages through the
// function table: argument conversion, messages and the edges. What a peer
// computes alike (Base64 texts, colours, dates in many zones, identifiers)
// is in tests/python/test_format_peers.py.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::str;
using Texts = std::vector<std::string>;

namespace {

constexpr double kNaN = NAN, kInf = INFINITY;

// The one string of a call, or nothing when the call set no result.
std::optional<std::string> text(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    if (!o.ok || cvtest::noResult(o)) return std::nullopt;
    return std::string(o.value->stringAt(0));
}

Texts format(std::vector<double> v, double digits, const char* mode) {
    auto o = call("FormatNumber", {reals(v), reals({digits}), str(mode)});
    EXPECT_TRUE(o.ok) << o.error;
    return o.ok ? cvtest::stringsOf(*o.value) : Texts{};
}

std::optional<int64_t> unixTime(const std::string& date) {
    auto o = call("ConvertIsoTimeToUnix", {str(date)});
    EXPECT_TRUE(o.ok) << o.error;
    if (!o.ok || cvtest::noResult(o)) return std::nullopt;
    return int64_t(o.value->realAt(0));
}

std::optional<std::string> isoDate(double seconds) { return text("ConvertUnixTimeToIso", {reals({seconds})}); }

// Runs the rest of a scope in time zone `tz`, and puts the old one back.
struct InZone {
    std::optional<std::string> old;
    explicit InZone(const char* tz) {
        if (const char* was = std::getenv("TZ")) old = was;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~InZone() {
        old ? setenv("TZ", old->c_str(), 1) : unsetenv("TZ");
        tzset();
    }
};

}  // namespace

TEST(FormatNumber, EngineeringPlainAndPercent) {
    EXPECT_EQ(format({1234.5, 4.7e-9, 0}, 3, "other"), (Texts{"1.23k", "4.7n", "0"}));
    EXPECT_EQ(format({1.0 / 3}, -1, ""), Texts{"333.333m"});  // negative digits: 6
    EXPECT_EQ(format({}, 3, ""), Texts{});
    EXPECT_EQ(format({1234567}, 4, "NoEng"), Texts{"1.235e+06"});
    EXPECT_EQ(format({0, -0.0}, 4, "%"), (Texts{"0.0%", "0.0%"}));
    EXPECT_EQ(format({0.5, 0.001234, -0.1234, 12.5}, 3, "%"), (Texts{"50.0%", "0.123%", "-12.3%", "1250%"}));
}

TEST(FormatNumber, IntegerRoundsHalfUpExactlyIn64Bits) {
    // v + 0.5 rounds by itself near 2^52 and for the double below 0.5.
    EXPECT_EQ(format({2.5, -2.5, -0.5, 0.49999999999999994, 4503599627370497.0}, 0, "INT"),
              (Texts{"3", "-2", "0", "0", "4503599627370497"}));
    EXPECT_EQ(format({2147483648.0, -3e9, -9223372036854775808.0, 1e20}, 0, "int"),
              (Texts{"2147483648", "-3000000000", "-9223372036854775808", "100000000000000000000"}));
}

TEST(FormatNumber, ValuesWithoutDigitsPrintAsWords) {
    const Texts words{"nan", "inf", "-inf"};
    for (const char* mode : {"int", "%", "noeng", ""}) EXPECT_EQ(format({kNaN, kInf, -kInf}, 3, mode), words) << mode;
    EXPECT_EQ(format({1e307}, 3, "%"), Texts{"inf"});  // the percentage overflows
}

TEST(FormatNumber, DigitCountsOfAnySizeStayBounded) {
    for (double digits : {1e9, -1e9, kNaN})
        for (const char* mode : {"noeng", "%", "int", ""})
            for (const auto& s : format({1e-300, 1.7976931348623157e308}, digits, mode)) EXPECT_LT(s.size(), 2500u);
    EXPECT_EQ(format({0.5}, 1e9, "%")[0].size(), 1002u);  // "50." and 998 decimals and "%"
}

// The engine behind it is cv::formatPrintf (tests/test_printf.cpp, hostile formats
// included); here, how each kind of value becomes its argument.
TEST(SprintfNumber, ValuesOfEveryKindBecomeArguments) {
    EXPECT_EQ(text("SprintfNumber", {str("%s|%d|%.2f|%s"), reals({0.1}), str("12abc"), str("x"),
                                     cvtest::complexes({{0, -2}})}),
              "0.1|12|0.00|2");
    EXPECT_EQ(text("SprintfNumber", {str("%s=%.2f"), str("R1"), reals({2.5, 7})}), "R1=2.50");  // the first value
    EXPECT_EQ(text("SprintfNumber", {str("%d%d%d%d%d%d%d"), reals({1}), reals({2}), reals({3}), reals({4}),
                                     reals({5}), reals({6}), reals({7})}),
              "1234567");
    EXPECT_FALSE(text("SprintfNumber", {str("%g"), reals({})}));  // no value to print
}

TEST(Colours, BothDirections) {
    EXPECT_EQ(text("ConvertHTMLcolourToRGB", {str("no colour")}), "-1");
    EXPECT_EQ(text("ConvertRGBcolourToHTML", {str("1meg")}), "#0f4240");
    EXPECT_EQ(text("ConvertRGBcolourToHTML", {str("1056816.9")}), "#102030");
    EXPECT_EQ(text("ConvertRGBcolourToHTML", {reals({255})}), "#0000ff");
    // No number, or a number that is no colour: no colour, rather than black.
    for (const char* bad : {"red", "", "-1", "16777216", "nan", "1e300"})
        EXPECT_EQ(text("ConvertRGBcolourToHTML", {str(bad)}), "") << bad;
}

TEST(Dates, BothWaysWithinTheCalendar) {
    InZone utc("UTC0");
    // Numbered and named months against the peers; here what is neither.
    EXPECT_EQ(unixTime("2020-xyz-05"), unixTime("2020-01-05"));
    EXPECT_EQ(unixTime("2020-March-05"), unixTime("2020-01-05"));  // names are whole words
    EXPECT_EQ(unixTime("2020-03-05T10:00"), unixTime("2020-03-05"));
    EXPECT_EQ(unixTime("2020-03-00"), unixTime("2020-02-29"));
    EXPECT_EQ(unixTime("0001-01-01"), -62135596800);
    EXPECT_EQ(unixTime("9999-12-31"), 253402214400);
    // Malformed, or beyond the calendar.
    for (const char* bad : {"2020-03", "2020-03-", "2020-03-05-01", "", "-2020-03-05", "0-01-01", "abc-01-01",
                            "10000-01-01", "99999999999999999999-01-01", "9999-12-99999999999", "2020-99999999999-01"})
        EXPECT_FALSE(unixTime(bad)) << bad;
    // Back to dates, within the calendar only.
    EXPECT_EQ(isoDate(1583366400 + 86399.9), "2020-03-05");
    EXPECT_EQ(isoDate(253402300799), "9999-12-31");
    for (double bad : {-1.0, -0.5, kNaN, kInf, -kInf, 1e300, 253402300800.0 + 86400.0}) EXPECT_FALSE(isoDate(bad));
    EXPECT_FALSE(text("ConvertUnixTimeToIso", {reals({})}));
}

// Which texts are damaged: tests/test_encodings.cpp; here, that damage is no result.
TEST(Base64Functions, NumbersAndWhatHasNoTextOrNumberGiveNoResult) {
    EXPECT_FALSE(text("ConvertFromBase64", {str("Zm9v-YmFy")}));
    // Bytes holding a NUL are no text: cutting them short would lose data.
    EXPECT_FALSE(text("ConvertFromBase64", {str("YQBi")}));
    EXPECT_TRUE(cvtest::noResult(call("ConvertNumberFromBase64", {str("Zm9v")})));
    EXPECT_EQ(text("ConvertNumberToBase64", {reals({1.0, 2.0})}), "AAAAAAAA8D8=");
    EXPECT_EQ(text("_ConvertIntegerToBase64", {reals({-1.9})}), "//////////8=");
    EXPECT_FALSE(text("ConvertNumberToBase64", {reals({})}));
    for (double bad : {kNaN, kInf, 9223372036854775808.0, -1e19}) EXPECT_FALSE(text("_ConvertIntegerToBase64", {reals({bad})}));
    EXPECT_EQ(call("ConvertNumberToBase64", {cvtest::complexes({{1, 2}})}).error,
              "The function 'ConvertNumberToBase64' requires a real argument");
}

TEST(CodePages, ConvertOrGiveNothing) {
    EXPECT_EQ(text("_Test_ConvertUTF8ToMBCS", {str("caf\xC3\xA9"), reals({1252})}), "caf\xE9");
    for (double page : {99999.0, kNaN, 1e12}) EXPECT_FALSE(text("_Test_ConvertUTF8ToMBCS", {str("abc"), reals({page})}));
}

TEST(FormatFamily, NoInputCrashesAnyFunction) {
    const std::vector<cv::ValuePtr> odd{reals({}), cvtest::strings({}), reals({kNaN}), reals({-kInf}),
                                        reals({1e308}), str(""), str(std::string(1 << 20, '9')),
                                        str("\xFF\xFE-\x80-"), cvtest::complexes({{1e308, 1e308}})};
    for (const char* name : {"ConvertHTMLcolourToRGB", "ConvertRGBcolourToHTML", "ConvertIsoTimeToUnix",
                             "ConvertUnixTimeToIso", "ConvertToBase64", "ConvertFromBase64", "ConvertNumberToBase64",
                             "ConvertNumberFromBase64", "_ConvertIntegerToBase64"})
        for (const auto& v : odd) call(name, {v});
    for (const auto& v : odd) {
        for (const auto& w : odd) {
            call("FormatNumber", {v, w, str("%")});
            call("FormatNumber", {v, w, str("int")});
            call("SprintfNumber", {str("%s%d%g%c"), v, w});
            call("_Test_ConvertUTF8ToMBCS", {v, w});
        }
    }
}
