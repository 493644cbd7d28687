// The host's text services: engineering numbers, HTML colours, Base64, code
// pages and identifiers.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
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

// ---------------------------------------------------------------- engineering numbers

TEST(EngNumberWriting, PicksTheSuffixAndTheFewestDigits) {
    struct Case {
        double v;
        int digits;
        const char* text;
    };
    const Case cases[] = {
        {1234.5, 3, "1.23k"},   {1000, 6, "1k"},        {0.1, 17, "100m"},     {-4.7e-9, 2, "-4.7n"},
        {3.3e6, 6, "3.3meg"},   {2.2e9, 6, "2.2g"},     {1e12, 6, "1t"},       {1e-15, 6, "1f"},
        {47e-12, 6, "47p"},     {10e-6, 6, "10u"},      {12.5, 6, "12.5"},     {999.96, 4, "1k"},
        {12345, 1, "10k"},      {999e12, 3, "999t"},    {1.5e-18, 3, "1.5e-18"}, {2e15, 3, "2e+15"},
        {-1e300, 3, "-1e+300"}, {0.0, 3, "0"},          {-0.0, 3, "0"},        {1.0 / 3, 0, "300m"},
    };
    for (const Case& c : cases) EXPECT_EQ(sp_ConvertRealToJSEng(c.v, c.digits), c.text) << c.v << " " << c.digits;
    EXPECT_EQ(sp_ConvertRealToJSEng(NAN, 6), "nan");
    EXPECT_EQ(sp_ConvertRealToJSEng(-INFINITY, 6), "-inf");
    EXPECT_EQ(sp_ConvertRealToJSEng(INFINITY, 6), "inf");
    // The largest double rounded to one digit overflows: the digits stay.
    EXPECT_EQ(sp_ConvertRealToJSEng(1.7976931348623157e308, 1), "2e+308");
}

TEST(EngNumberWriting, TrailingZerosOnRequest) {
    EXPECT_EQ(sp_ConvertRealToJSEng(1000, 3, true), "1.00k");
    EXPECT_EQ(sp_ConvertRealToJSEng(0.5, 4, true), "500.0m");
    EXPECT_EQ(sp_ConvertRealToJSEng(12345, 2, true), "12k");
}

TEST(EngNumberReading, SuffixesUnitsAndExponents) {
    struct Case {
        const char* text;
        double v;
        size_t consumed;
    };
    const Case cases[] = {
        {"2.2k", 2200, 4},     {"10kOhm", 10000, 6}, {"1uF", 1e-6, 3},      {"3.3MEG", 3.3e6, 6},
        {"5M", 0.005, 2},      {"1e3k", 1e6, 4},     {" -4.7n", -4.7e-9, 6}, {".5", 0.5, 2},
        {"1e", 1, 2},          {"1e+2", 100, 4},     {"7T", 7e12, 2},        {"1g", 1e9, 2},
        {"10k,rest", 1e4, 3},  {"+3f", 3e-15, 3},    {"2p", 2e-12, 2},       {"0.1", 0.1, 3},
    };
    for (const Case& c : cases) {
        const char* end = nullptr;
        EXPECT_EQ(sp_ConvertEngToReal(c.text, &end), c.v) << c.text;
        EXPECT_EQ(size_t(end - c.text), c.consumed) << c.text;
    }
}

TEST(EngNumberReading, NoNumberWordsAndExtremes) {
    for (const char* text : {"", "abc", ".", "-", "+.e5", "k"}) {
        const char* end = nullptr;
        EXPECT_EQ(sp_ConvertEngToReal(text, &end), 0.0) << text;
        EXPECT_EQ(end, text) << text;
    }
    EXPECT_TRUE(std::isnan(sp_ConvertEngToReal("nan")));
    EXPECT_EQ(sp_ConvertEngToReal("-inf"), -INFINITY);
    EXPECT_EQ(sp_ConvertEngToReal("Infinity"), INFINITY);
    EXPECT_EQ(sp_ConvertEngToReal("1e999999999999999999"), INFINITY);
    EXPECT_EQ(sp_ConvertEngToReal("1e-999999999999999999"), 0.0);
    EXPECT_EQ(sp_ConvertEngToReal(nullptr), 0.0);
    // A long run of digits is read exactly, not accumulated with rounding.
    EXPECT_EQ(sp_ConvertEngToReal(("0." + std::string(400, '0') + "1e401").c_str()), 1.0);
}

TEST(EngNumberRoundTrip, WrittenTextReadsBackToTheRoundedValue) {
    std::mt19937_64 bits(12345);
    for (int k = 0; k < 20000; ++k) {
        const double v = fromBits(bits());
        if (!std::isfinite(v)) continue;
        const std::string full = sp_ConvertRealToJSEng(v, 17);
        ASSERT_EQ(sp_ConvertEngToReal(full.c_str()), v) << full;
        const int digits = 1 + k % 16;
        const std::string shorter = sp_ConvertRealToJSEng(v, digits);
        ASSERT_EQ(sp_ConvertEngToReal(shorter.c_str()), roundedTo(v, digits)) << shorter << " " << digits;
    }
    for (double v : {double(NAN), double(INFINITY), -double(INFINITY), 5e-324, 1e-15, 999.9999999999999e12})
        EXPECT_EQ(std::to_string(sp_ConvertEngToReal(sp_ConvertRealToJSEng(v, 17).c_str())), std::to_string(v));
}

// ---------------------------------------------------------------- HTML colours

TEST(HtmlColours, HexFormsAndNames) {
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB("#ff0000"), 0xff0000);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB("#000080"), 128);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB("#F80"), 0xff8800);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB(" #aBcDeF\n"), 0xabcdef);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB(" Red "), 0xff0000);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB("REBECCAPURPLE"), 0x663399);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB("aliceblue"), 0xf0f8ff);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB("yellowgreen"), 0x9acd32);
    EXPECT_EQ(sp_ConvertHTMLcolourToRGB("grey"), sp_ConvertHTMLcolourToRGB("gray"));
    for (const char* bad : {"", "#", "ff0000", "#ff00", "#ff00000", "#gg0000", "transparent", "redd", "re", "# f00"})
        EXPECT_EQ(sp_ConvertHTMLcolourToRGB(bad), -1) << bad;
}

TEST(HtmlColours, NumbersToTextAndBack) {
    EXPECT_EQ(sp_ConvertRGBcolourToHTML(0), "#000000");
    EXPECT_EQ(sp_ConvertRGBcolourToHTML(0xFFFFFF), "#ffffff");
    EXPECT_EQ(sp_ConvertRGBcolourToHTML(128), "#000080");
    EXPECT_EQ(sp_ConvertRGBcolourToHTML(-1), "");
    EXPECT_EQ(sp_ConvertRGBcolourToHTML(0x1000000), "");
    for (int32_t rgb = 0; rgb <= 0xFFFFFF; rgb += 0x10203)
        EXPECT_EQ(sp_ConvertHTMLcolourToRGB(sp_ConvertRGBcolourToHTML(rgb)), rgb);
}

// ---------------------------------------------------------------- Base64

TEST(Base64, StandardVectorsOnOneLine) {
    const char* const plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* const coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(sp_EncodeBase64(plain[k]), coded[k]);
        EXPECT_EQ(sp_DecodeBase64(coded[k]), plain[k]);
    }
    const std::string long1000(1000, 'x');
    const std::string encoded = sp_EncodeBase64(long1000);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);
    EXPECT_EQ(encoded.size(), 1336u);
    EXPECT_EQ(sp_DecodeBase64(encoded), long1000);
}

TEST(Base64, EveryByteAndTextsLongerThanOnePiece) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += char(c);
    EXPECT_EQ(sp_DecodeBase64(sp_EncodeBase64(all)), all);
    std::string big(3 * 1024 * 1024 + 7, '\0');
    for (size_t k = 0; k < big.size(); ++k) big[k] = char(k * 7919 % 251);
    const std::string encoded = sp_EncodeBase64(big);
    EXPECT_EQ(encoded.size(), (big.size() + 2) / 3 * 4);
    EXPECT_EQ(sp_DecodeBase64(encoded), big);
}

TEST(Base64, LineBreaksAcceptedDamageRefused) {
    EXPECT_EQ(sp_DecodeBase64("Zm9v\nYmFy\r\n"), "foobar");
    EXPECT_EQ(sp_DecodeBase64(" Zm9v YmE= "), "fooba");
    for (const char* bad : {"Zm9", "Zm9vYg", "Zm9v-YmFy", "Zm=9", "Zg===", "Z===", "=", "@@@@", "Zm9v\x01", "Zg==Zg=="})
        EXPECT_FALSE(sp_DecodeBase64(bad).has_value()) << bad;
}

TEST(Base64, NumbersAsLittleEndianBytes) {
    EXPECT_EQ(sp_EncodeBase64Real(1.0), "AAAAAAAA8D8=");
    EXPECT_EQ(sp_EncodeBase64Integer(1), "AQAAAAAAAAA=");
    EXPECT_EQ(sp_EncodeBase64Integer(-1), "//////////8=");
    EXPECT_EQ(sp_EncodeBase64Integer(INT64_MIN), "AAAAAAAAAIA=");
    for (double v : {1.0, -0.0, 1e-310, -1.7976931348623157e308, double(INFINITY)}) {
        const auto back = sp_DecodeBase64Real(sp_EncodeBase64Real(v));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(std::memcmp(&*back, &v, sizeof v), 0) << v;
    }
    // A NaN keeps its payload bits.
    const double payload = fromBits(0x7ff8000000c0ffeeULL);
    const auto back = sp_DecodeBase64Real(sp_EncodeBase64Real(payload));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(std::memcmp(&*back, &payload, sizeof payload), 0);
    EXPECT_FALSE(sp_DecodeBase64Real("AAAAAAAA8A==").has_value());      // 7 bytes
    EXPECT_FALSE(sp_DecodeBase64Real("AAAAAAAA8D8AAA==").has_value());  // 10 bytes
}

// ---------------------------------------------------------------- code pages

TEST(CodePages, CharactersTheirPagesHold) {
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("h\xC3\xA9llo", 1252), "h\xE9llo");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xE2\x82\xAC", 1252), "\x80");              // euro sign
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9", 437), "\x82");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xD0\x96", 1251), "\xC6");                   // Zhe
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xE6\x97\xA5\xE6\x9C\xAC", 932), "\x93\xFA\x96\x7B");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9", 28591), "\xE9");                  // ISO-8859-1
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9", 65001), "\xC3\xA9");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9", 0), "\xC3\xA9");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("", 1252), "");
}

TEST(CodePages, WhatCannotBeWrittenBecomesAQuestionMark) {
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xE6\x97\xA5z", 1252), "a?z");    // a CJK character
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("\xC3\xA9t\xC3\xA9", 20127), "?t?");
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xFF" "b", 1252), "a?b");          // not UTF-8
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xED\xA0\x80" "b", 1252), "a???b");  // a surrogate, byte by byte
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xE6\x97", 1252), "a??");          // cut short
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS("a\xFF" "b", 65001), "a?b");
    const std::string many(100000, '\xFF');
    EXPECT_EQ(sp_ConvertUTF8_to_MBCS(many, 1252), std::string(100000, '?'));
}

TEST(CodePages, UnknownAndWidePagesGiveNothing) {
    for (int page : {99999, -5, 1200, 1201, 12000, 12001})
        EXPECT_FALSE(sp_ConvertUTF8_to_MBCS("abc", page).has_value()) << page;
}

// ---------------------------------------------------------------- identifiers

TEST(Identifiers, RandomVersion4InCanonicalForm) {
    std::set<std::string> seen;
    for (int k = 0; k < 100; ++k) {
        const std::string id = sp_GetGUID();
        ASSERT_EQ(id.size(), 36u);
        for (size_t i = 0; i < id.size(); ++i) {
            if (i == 8 || i == 13 || i == 18 || i == 23) EXPECT_EQ(id[i], '-');
            else EXPECT_NE(std::string("0123456789abcdef").find(id[i]), std::string::npos) << id;
        }
        EXPECT_EQ(id[14], '4');
        EXPECT_NE(std::string("89ab").find(id[19]), std::string::npos) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}
