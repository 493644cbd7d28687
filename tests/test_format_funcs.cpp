// Number formatting, colours, dates, Base64, code pages and identifiers,
// through the function table.
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
using cvtest::strings;

namespace {

std::vector<std::string> texts(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    return o.ok ? cvtest::stringsOf(*o.value) : std::vector<std::string>{};
}

// The one string of a call, or nothing when the call set no result.
std::optional<std::string> text(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    if (!o.ok || cvtest::noResult(o)) return std::nullopt;
    EXPECT_EQ(o.value->size(), 1);
    return std::string(o.value->stringAt(0));
}

std::optional<int64_t> unixTime(const std::string& date) {
    auto o = call("ConvertIsoTimeToUnix", {str(date)});
    EXPECT_TRUE(o.ok) << o.error;
    if (!o.ok || cvtest::noResult(o)) return std::nullopt;
    return int64_t(o.value->realAt(0));
}

std::optional<std::string> isoDate(double seconds) { return text("ConvertUnixTimeToIso", {reals({seconds})}); }

// Runs the rest of a test in time zone `tz`, and puts the old one back.
class InZone {
public:
    explicit InZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~InZone() {
        if (old_) setenv("TZ", old_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_;
};

std::vector<std::string> format(std::vector<double> v, double digits, const char* mode) {
    return texts("FormatNumber", {reals(v), reals({digits}), str(mode)});
}

}  // namespace

// ---------------------------------------------------------------- FormatNumber

TEST(FormatNumber, EngineeringIsTheDefault) {
    EXPECT_EQ(texts("FormatNumber", {reals({1234.5, 4.7e-9, 0}), reals({3})}),
              (std::vector<std::string>{"1.23k", "4.7n", "0"}));
    EXPECT_EQ(format({1234.5}, 3, "anything"), std::vector<std::string>{"1.23k"});
    EXPECT_EQ(format({1.0 / 3}, -1, ""), std::vector<std::string>{"333.333m"});  // negative digits: 6
    EXPECT_EQ(format({}, 3, ""), std::vector<std::string>{});
}

TEST(FormatNumber, PlainAndPercent) {
    EXPECT_EQ(format({1234567}, 4, "noeng"), std::vector<std::string>{"1.235e+06"});
    EXPECT_EQ(format({0.1234}, 3, "%"), std::vector<std::string>{"12.3%"});
    EXPECT_EQ(format({0}, 4, "%"), std::vector<std::string>{"0.0%"});
    EXPECT_EQ(format({-0.0}, 4, "%"), std::vector<std::string>{"0.0%"});
    EXPECT_EQ(format({0.5, 0.001234, -0.1234}, 3, "%"), (std::vector<std::string>{"50.0%", "0.123%", "-12.3%"}));
    EXPECT_EQ(format({12.5}, 2, "%"), std::vector<std::string>{"1250%"});
    // Modes ignore case.
    EXPECT_EQ(format({1234567}, 4, "NoEng"), std::vector<std::string>{"1.235e+06"});
}

TEST(FormatNumber, IntegerRoundsHalfUpExactly) {
    EXPECT_EQ(format({2.5, -2.5, 2.4999, -0.5, 0.49999999999999994, 4503599627370497.0}, 0, "INT"),
              (std::vector<std::string>{"3", "-2", "2", "0", "0", "4503599627370497"}));
}

TEST(FormatNumber, ValuesBeyond32BitsAndWithoutDigits) {
    EXPECT_EQ(format({2147483648.0, -3e9, 1e20, -9223372036854775808.0}, 0, "int"),
              (std::vector<std::string>{"2147483648", "-3000000000", "100000000000000000000", "-9223372036854775808"}));
    const std::vector<std::string> words{"nan", "inf", "-inf"};
    EXPECT_EQ(format({NAN, INFINITY, -INFINITY}, 0, "int"), words);
    EXPECT_EQ(format({NAN, INFINITY, -INFINITY}, 3, "%"), words);
    EXPECT_EQ(format({NAN, INFINITY, -INFINITY}, 3, ""), words);
    // The percentage itself overflows.
    EXPECT_EQ(format({1e307}, 3, "%"), std::vector<std::string>{"inf"});
}

TEST(FormatNumber, DigitCountsOfAnySizeStayBounded) {
    for (double digits : {1e9, -1e9, double(NAN), 1e300}) {
        for (const char* mode : {"noeng", "%", "int", ""}) {
            auto out = format({1e-300, 1.7976931348623157e308}, digits, mode);
            ASSERT_EQ(out.size(), 2u) << mode;
            for (const auto& s : out) EXPECT_LT(s.size(), 2500u) << mode << " " << digits;
        }
    }
    EXPECT_EQ(format({0.5}, 1e9, "%")[0].size(), 1002u);  // 50. and 1000 decimals and %
}

// ---------------------------------------------------------------- SprintfNumber

TEST(SprintfNumber, EachKindOfArgument) {
    EXPECT_EQ(text("SprintfNumber", {str("%g"), cvtest::complexes({{3, 4}})}), "5");
    EXPECT_EQ(text("SprintfNumber", {str("%s=%.2f"), str("R1"), reals({2.5, 7})}), "R1=2.50");
    EXPECT_EQ(text("SprintfNumber", {str("no directives")}), "no directives");
    EXPECT_EQ(text("SprintfNumber", {str("100%%")}), "100%");
    EXPECT_EQ(text("SprintfNumber", {str("%d%d%d%d%d%d%d"), reals({1}), reals({2}), reals({3}), reals({4}),
                                     reals({5}), reals({6}), reals({7})}),
              "1234567");
}

TEST(SprintfNumber, ArgumentsWithoutAValueGiveNoResult) {
    EXPECT_FALSE(text("SprintfNumber", {str("%g"), reals({})}));
}

TEST(SprintfNumber, HostileFormatsAreSafe) {
    // %n writes nothing and takes nothing.
    EXPECT_EQ(text("SprintfNumber", {str("a%nb%hn%lln%s"), str("c")}), "abc");
    // Directives beyond the arguments print nothing.
    EXPECT_EQ(text("SprintfNumber", {str("%g|%g|%s|%c"), reals({1})}), "1|||");
    // Kind mismatches are converted, never misread.
    EXPECT_EQ(text("SprintfNumber", {str("%s|%d|%.2f|%x"), reals({0.1}), str("12abc"), str("x"), str("ff")}),
              "0.1|12|0.00|0");
    EXPECT_EQ(text("SprintfNumber", {str("%s"), cvtest::complexes({{0, -2}})}), "2");
    // Widths and precisions, written or taken from arguments, are bounded.
    for (const char* f : {"%99999999999999999999d", "%.99999999999f", "%*d", "%.*e", "%-*.*s"}) {
        auto out = text("SprintfNumber", {str(f), reals({1e300}), reals({1e300}), str("x")});
        ASSERT_TRUE(out) << f;
        EXPECT_LE(out->size(), 1400u) << f;
    }
    // Positional and unknown directives stay text.
    EXPECT_EQ(text("SprintfNumber", {str("%1$s %y %"), str("a")}), "%1$s %y %");
    EXPECT_EQ(text("SprintfNumber", {str(std::string(100000, '%'))}), std::string(50000, '%'));
}

// ---------------------------------------------------------------- colours

TEST(Colours, HtmlToPackedNumber) {
    EXPECT_EQ(text("ConvertHTMLcolourToRGB", {str("#102030")}), "1056816");
    EXPECT_EQ(text("ConvertHTMLcolourToRGB", {str("Navy")}), "128");
    EXPECT_EQ(text("ConvertHTMLcolourToRGB", {str("#fff")}), "16777215");
    EXPECT_EQ(text("ConvertHTMLcolourToRGB", {str("no colour")}), "-1");
    EXPECT_EQ(text("ConvertHTMLcolourToRGB", {strings({})}), "-1");
}

TEST(Colours, NumberTextToHtml) {
    EXPECT_EQ(text("ConvertRGBcolourToHTML", {str("255")}), "#0000ff");
    EXPECT_EQ(text("ConvertRGBcolourToHTML", {str("1meg")}), "#0f4240");
    EXPECT_EQ(text("ConvertRGBcolourToHTML", {str("1056816.9")}), "#102030");
    EXPECT_EQ(text("ConvertRGBcolourToHTML", {reals({16777215})}), "#ffffff");
    // No number, or a number that is no colour: no colour, rather than black.
    for (const char* bad : {"red", "", "-1", "16777216", "nan", "1e300"})
        EXPECT_EQ(text("ConvertRGBcolourToHTML", {str(bad)}), "") << bad;
}

// ---------------------------------------------------------------- dates

TEST(Dates, IsoToUnixInUtc) {
    InZone utc("UTC0");
    EXPECT_EQ(unixTime("1970-01-01"), 0);
    EXPECT_EQ(unixTime("2020-03-05"), 1583366400);
    EXPECT_EQ(unixTime("2020-Mar-05"), unixTime("2020-03-05"));
    EXPECT_EQ(unixTime("2020-mar-05"), unixTime("2020-03-05"));
    EXPECT_EQ(unixTime("2020-xyz-05"), unixTime("2020-01-05"));
    EXPECT_EQ(unixTime("2020-March-05"), unixTime("2020-01-05"));  // names are whole words
    EXPECT_EQ(unixTime("1960-01-01"), -315619200);
    EXPECT_EQ(unixTime("2020-03-05T10:00"), unixTime("2020-03-05"));
}

TEST(Dates, OutOfRangeDaysAndMonthsRollOver) {
    InZone utc("UTC0");
    EXPECT_EQ(unixTime("2020-13-01"), unixTime("2021-01-01"));
    EXPECT_EQ(unixTime("2020-03-00"), unixTime("2020-02-29"));
    EXPECT_EQ(unixTime("2021-02-29"), unixTime("2021-03-01"));
    EXPECT_EQ(unixTime("2020-00-01"), unixTime("2019-12-01"));
}

TEST(Dates, MalformedOrBeyondTheCalendarGivesNoResult) {
    InZone utc("UTC0");
    for (const char* bad : {"2020-03", "2020-03-", "2020-03-05-01", "", "20200305", "-2020-03-05",
                            "0-01-01", "abc-01-01", "10000-01-01", "99999999999999999999-01-01",
                            "9999-12-99999999999", "2020-99999999999-01"})
        EXPECT_FALSE(unixTime(bad)) << bad;
    EXPECT_EQ(unixTime("9999-12-31"), 253402214400);
    EXPECT_EQ(unixTime("0001-01-01"), -62135596800);
}

TEST(Dates, UnixToIso) {
    {
        InZone utc("UTC0");
        EXPECT_EQ(isoDate(0), "1970-01-01");
        EXPECT_EQ(isoDate(1583366400 + 86399.9), "2020-03-05");
        EXPECT_EQ(isoDate(253402300799), "9999-12-31");
    }
    {
        InZone west("EST5");
        EXPECT_EQ(isoDate(0), "1969-12-31");
    }
    for (double bad : {-1.0, -0.5, double(NAN), double(INFINITY), -double(INFINITY), 1e300, 253402300800.0 + 86400.0})
        EXPECT_FALSE(isoDate(bad)) << bad;
    EXPECT_FALSE(text("ConvertUnixTimeToIso", {reals({})}));
}

TEST(Dates, RoundTripInZonesWithDaylightSaving) {
    for (const char* tz : {"EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3", "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0"}) {
        InZone zone(tz);
        for (const char* date : {"2021-01-15", "2021-03-28", "2021-07-04", "2021-10-31", "2021-11-07", "1999-12-31"}) {
            const auto t = unixTime(date);
            ASSERT_TRUE(t) << tz << " " << date;
            EXPECT_EQ(isoDate(double(*t)), date) << tz;
        }
    }
}

// ---------------------------------------------------------------- Base64

TEST(Base64Functions, TextRoundTrip) {
    EXPECT_EQ(text("ConvertToBase64", {str("foobar")}), "Zm9vYmFy");
    EXPECT_EQ(text("ConvertToBase64", {str("")}), "");
    EXPECT_EQ(text("ConvertFromBase64", {str("Zm9vYmFy")}), "foobar");
    EXPECT_EQ(text("ConvertFromBase64", {str("")}), "");
    const std::string long_text(5000, 'q');
    EXPECT_EQ(text("ConvertFromBase64", {str(*text("ConvertToBase64", {str(long_text)}))}), long_text);
}

TEST(Base64Functions, DamagedTextAndBinaryBytesGiveNoResult) {
    for (const char* bad : {"Zm9", "Zm9v-YmFy", "!!!!", "Zg=x"})
        EXPECT_FALSE(text("ConvertFromBase64", {str(bad)})) << bad;
    // Bytes holding a NUL are no text: cutting them short would lose data.
    EXPECT_FALSE(text("ConvertFromBase64", {str("YQBi")}));
    EXPECT_FALSE(text("ConvertFromBase64", {str(*text("ConvertNumberToBase64", {reals({1.0})}))}));
}

TEST(Base64Functions, Numbers) {
    EXPECT_EQ(text("ConvertNumberToBase64", {reals({1.0, 2.0})}), "AAAAAAAA8D8=");
    EXPECT_EQ(cvtest::values("ConvertNumberFromBase64", {str("AAAAAAAA8D8=")}), std::vector<double>{1.0});
    for (double v : {0.1, -1e-300, 1.7976931348623157e308}) {
        auto coded = text("ConvertNumberToBase64", {reals({v})});
        ASSERT_TRUE(coded);
        EXPECT_EQ(cvtest::values("ConvertNumberFromBase64", {str(*coded)}), std::vector<double>{v});
    }
    EXPECT_TRUE(std::isnan(cvtest::values("ConvertNumberFromBase64", {str(*text("ConvertNumberToBase64", {reals({NAN})}))})[0]));
    EXPECT_TRUE(cvtest::noResult(call("ConvertNumberFromBase64", {str("Zm9v")})));
    EXPECT_TRUE(cvtest::noResult(call("ConvertNumberFromBase64", {str("not base64")})));
    EXPECT_FALSE(text("ConvertNumberToBase64", {reals({})}));

    EXPECT_EQ(text("_ConvertIntegerToBase64", {reals({1.9})}), "AQAAAAAAAAA=");
    EXPECT_EQ(text("_ConvertIntegerToBase64", {reals({-1.9})}), "//////////8=");
    EXPECT_EQ(text("_ConvertIntegerToBase64", {reals({-9223372036854775808.0})}), "AAAAAAAAAIA=");
    for (double bad : {double(NAN), double(INFINITY), 9223372036854775808.0, -1e19})
        EXPECT_FALSE(text("_ConvertIntegerToBase64", {reals({bad})})) << bad;
}

TEST(Base64Functions, ComplexValuesAreRefused) {
    for (const char* name : {"ConvertNumberToBase64", "_ConvertIntegerToBase64"}) {
        auto o = call(name, {cvtest::complexes({{1, 2}})});
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.error, std::string("The function '") + name + "' requires a real argument");
    }
}

// ---------------------------------------------------------------- code pages and identifiers

TEST(CodePageFunction, ConvertsOrGivesNothing) {
    EXPECT_EQ(text("_Test_ConvertUTF8ToMBCS", {str("caf\xC3\xA9"), reals({1252})}), "caf\xE9");
    EXPECT_EQ(text("_Test_ConvertUTF8ToMBCS", {str("\xE6\x97\xA5"), reals({1252})}), "?");
    for (double page : {99999.0, double(NAN), 1e12, 1200.0})
        EXPECT_FALSE(text("_Test_ConvertUTF8ToMBCS", {str("abc"), reals({page})})) << page;
    EXPECT_FALSE(text("_Test_ConvertUTF8ToMBCS", {str("abc"), reals({})}));
}

TEST(IdentifierFunctions, BothGiveNewCanonicalIdentifiers) {
    auto a = text("GetGUID", {}), b = text("CvUUID", {}), c = text("GetGUID", {});
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->size(), 36u);
    EXPECT_EQ(b->size(), 36u);
    EXPECT_NE(*a, *c);
    EXPECT_NE(*a, *b);
}

// ---------------------------------------------------------------- every function, odd inputs

TEST(FormatFamily, NoInputCrashesAnyFunction) {
    const std::string megabyte(1 << 20, '9');
    const std::vector<cv::ValuePtr> odd{reals({}),        strings({}),  reals({NAN}), reals({-INFINITY}),
                                        reals({1e308}),   str(""),      str(megabyte), str("\xFF\xFE-\x80-"),
                                        cvtest::complexes({{1e308, 1e308}})};
    const char* oneArg[] = {"ConvertHTMLcolourToRGB", "ConvertRGBcolourToHTML", "ConvertIsoTimeToUnix",
                            "ConvertUnixTimeToIso",   "ConvertToBase64",        "ConvertFromBase64",
                            "ConvertNumberToBase64",  "ConvertNumberFromBase64", "_ConvertIntegerToBase64"};
    for (const char* name : oneArg)
        for (const auto& v : odd) call(name, {v});
    for (const auto& v : odd) {
        for (const auto& w : odd) {
            call("FormatNumber", {v, w, str("%")});
            call("FormatNumber", {v, w, str("int")});
            call("SprintfNumber", {v, w});
            call("SprintfNumber", {str("%s%d%g%c"), v, w});
            call("_Test_ConvertUTF8ToMBCS", {v, w});
        }
    }
    SUCCEED();
}
