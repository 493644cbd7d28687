// The host's text services: engineering numbers, HTML colours, Base64 and
// code pages. Base64 texts, identifiers and the CSS colour names are also
// checked against Python in tests/python/test_format_peers.py.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "Encodings.h"
#include "EngNumber.h"

namespace {

double fromBits(uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The double that `digits` significant digits of v read back as.
double roundedTo(double v, int digits) {
    char text[64];
    auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, digits - 1);
    double out = 0;
    std::from_chars(text, r.ptr, out);
    return out;
}

}  // namespace

TEST(EngNumber, WritesTheSuffixAndTheFewestDigits) {
    struct Case { double v; int digits; const char* text; };
    const Case cases[] = {
        {1234.5, 3, "1.23k"}, {1000, 6, "1k"},     {0.1, 17, "100m"},      {-4.7e-9, 2, "-4.7n"},
        {3.3e6, 6, "3.3meg"}, {2.2e9, 6, "2.2g"},  {1e12, 6, "1t"},        {47e-12, 6, "47p"},
        {1e-15, 6, "1f"},     {10e-6, 6, "10u"},   {999.96, 4, "1k"},      {12345, 1, "10k"},
        {999e12, 3, "999t"},  {1.5e-18, 3, "1.5e-18"}, {2e15, 3, "2e+15"}, {-0.0, 3, "0"},
        {1.0 / 3, 0, "300m"}, {NAN, 6, "nan"},     {-INFINITY, 6, "-inf"},
        // The largest double rounded to one digit overflows: the digits stay.
        {1.7976931348623157e308, 1, "2e+308"},
    };
    for (const Case& c : cases) EXPECT_EQ(sp_ConvertRealToJSEng(c.v, c.digits), c.text) << c.v;
    EXPECT_EQ(sp_ConvertRealToJSEng(1000, 3, true), "1.00k");
}

TEST(EngNumber, ReadsSuffixesUnitsAndExponents) {
    struct Case { const char* text; double v; size_t consumed; };
    const Case cases[] = {
        {"2.2k", 2200, 4},   {"10kOhm", 1e4, 6}, {"1uF", 1e-6, 3},        {"3.3MEG", 3.3e6, 6},
        {"5M", 0.005, 2},    {"1e3k", 1e6, 4},   {" -4.7n", -4.7e-9, 6},  {".5", 0.5, 2},
        {"1e", 1, 2},        {"7T", 7e12, 2},    {"10k,rest", 1e4, 3},    {"+3f", 3e-15, 3},
        {"", 0, 0},          {"abc", 0, 0},      {"-.e5", 0, 0},          {"k", 0, 0},
        {"-inf", -INFINITY, 4}, {"1e999999999999999999", INFINITY, 20},   {"1e-99999999999", 0, 14},
    };
    for (const Case& c : cases) {
        const char* end = nullptr;
        EXPECT_EQ(sp_ConvertEngToReal(c.text, &end), c.v) << c.text;
        EXPECT_EQ(size_t(end - c.text), c.consumed) << c.text;
    }
    EXPECT_TRUE(std::isnan(sp_ConvertEngToReal("NaN")));
    // Long digit runs are read exactly, not accumulated with rounding.
    EXPECT_EQ(sp_ConvertEngToReal(("0." + std::string(400, '0') + "1e401").c_str()), 1.0);
}

TEST(EngNumber, WrittenTextReadsBackToTheRoundedValue) {
    std::mt19937_64 bits(12345);
    for (int k = 0; k < 20000; ++k) {
        const double v = fromBits(bits());
        if (!std::isfinite(v)) continue;
        const std::string full = sp_ConvertRealToJSEng(v, 17);
        ASSERT_EQ(sp_ConvertEngToReal(full.c_str()), v) << full;
        const int digits = 1 + k % 16;
        const std::string shorter = sp_ConvertRealToJSEng(v, digits);
        ASSERT_EQ(sp_ConvertEngToReal(shorter.c_str()), roundedTo(v, digits)) << shorter;
    }
}

// Hex forms and names both ways are checked against the CSS table in the peers.
TEST(HtmlColours, BlanksAroundAndWhatIsNoColour) {
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB(" #aBcDeF\n"), 0xabcdef);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB(" Red "), 0xff0000);
    for (const char* bad : {"", "#", "ff0000", "#ff00", "#ff00000", "#gg0000", "transparent", "redd", "# f00"})
        EXPECT_EQ(sp_ConvertHTMLcolourToRGB(bad), -1) << bad;
}

TEST(Base64, TextsLongerThanOneEncoderPieceOnOneLine) {
    std::string big(3 * 1024 * 1024 + 7, '\0');
    for (size_t k = 0; k < big.size(); ++k) big[k] = char(k * 7919 % 251);
    const std::string encoded = cv::encodeBase64(big);
    EXPECT_EQ(encoded.size(), (big.size() + 2) / 3 * 4);
    EXPECT_EQ(cv::decodeBase64(encoded), big);
}

TEST(Base64, LineBreaksAcceptedDamageRefused) {
    EXPECT_EQ(cv::decodeBase64("Zm9v\nYmFy\r\n"), "foobar");
    EXPECT_EQ(cv::decodeBase64(" Zm9v YmE= "), "fooba");
    // OpenSSL alone would stop at '-' and decode the prefix.
    for (const char* bad : {"Zm9", "Zm9vYg", "Zm9v-YmFy", "Zm=9", "Zg===", "=", "@@@@", "Zg==Zg=="})
        EXPECT_FALSE(cv::decodeBase64(bad).has_value()) << bad;
}

TEST(Base64, RealsKeepEveryBitAndNeedExactlyEightBytes) {
    for (double v : {1e-310, fromBits(0x7ff8000000c0ffeeULL)}) {
        const auto back = cv::decodeBase64Real(cv::encodeBase64Real(v));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(std::memcmp(&*back, &v, sizeof v), 0) << v;
    }
    EXPECT_FALSE(cv::decodeBase64Real("AAAAAAAA8A==").has_value());      // 7 bytes
    EXPECT_FALSE(cv::decodeBase64Real("AAAAAAAA8D8AAA==").has_value());  // 10 bytes
}

TEST(CodePages, CharactersTheirPagesHold) {
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("h\xC3\xA9llo \xE2\x82\xAC", 1252), "h\xE9llo \x80");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9", 437), "\x82");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xD0\x96", 1251), "\xC6");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xE6\x97\xA5\xE6\x9C\xAC", 932), "\x93\xFA\x96\x7B");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9", 28591), "\xE9");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9", 0), "\xC3\xA9");
}

TEST(CodePages, WhatCannotBeWrittenBecomesAQuestionMark) {
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xE6\x97\xA5z", 1252), "a?z");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9t\xC3\xA9", 20127), "?t?");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xFF" "b", 65001), "a?b");           // not UTF-8
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xED\xA0\x80" "b", 1252), "a???b");  // a surrogate, byte by byte
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xE6\x97", 1252), "a??");            // cut short
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS(std::string(100000, '\xFF'), 1252), std::string(100000, '?'));
    for (int page : {99999, -5, 1200, 12000})
        EXPECT_FALSE(sp_ConvertUTF8_to_MBCS("abc", page).has_value()) << page;
}
