// cv::formatPrintf: the printf engine of every message. Besides the ordinary
// conversions, no format, however hostile, may crash it or make it read past
// its arguments; ASan and UBSan watch these tests.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "PrintfArg.h"
#include "YString.h"

TEST(PrintfConversions, NumbersWithFlagsWidthAndPrecision) {
    EXPECT_EQ(cv::formatPrintf("%i|%5d|%-5d|%05d|%+d|% d|%.3d", {1, 2, 3, 4, 5, 6, 7}), "1|    2|3    |00004|+5| 6|007");
    EXPECT_EQ(cv::formatPrintf("%u %o %x %X %#x %lld %u", {10, 8, 255, 255, 255, LLONG_MIN, -1}),
              "10 10 ff FF 0xff -9223372036854775808 18446744073709551615");
    // Length modifiers are ignored.
    EXPECT_EQ(cv::formatPrintf("%hhd %hd %ld %lld %Lf %qd %jd %zd %td %I64d %I32d %Id", {1, 2, 3, 4, 0.5, 5, 6, 7, 8, 9, 10, 11}),
              "1 2 3 4 0.500000 5 6 7 8 9 10 11");
    EXPECT_EQ(cv::formatPrintf("%.2f|%8.3f|%-8.1f|%+.1f", {3.14159, 2.5, 1.25, 2.0}), "3.14|   2.500|1.2     |+2.0");
    EXPECT_EQ(cv::formatPrintf("%e %E %g %G %#g %a %F", {12345.678, 0.001, 0.0001, 1e-10, 1.0, 1.0, INFINITY}),
              "1.234568e+04 1.000000E-03 0.0001 1E-10 1.00000 0x1p+0 INF");
}

TEST(PrintfConversions, StringsCharactersAndStarArguments) {
    EXPECT_EQ(cv::formatPrintf("'%s' in '%s'", {"x", std::string("fn")}), "'x' in 'fn'");
    EXPECT_EQ(cv::formatPrintf("[%5s][%-5s][%.2s]", {"ab", "cd", "efgh"}), "[   ab][cd   ][ef]");
    EXPECT_EQ(cv::formatPrintf("%s", {YString("from YString")}), "from YString");
    EXPECT_EQ(cv::formatPrintf("%s", {std::string_view("view-not-terminated", 4)}), "view");
    EXPECT_EQ(cv::formatPrintf("%c%c%3c", {'a', 98, 'c'}), "ab  c");
    EXPECT_EQ(cv::formatPrintf("%%|100%%", {}), "%|100%");
    // A negative width aligns left; a negative precision is none.
    EXPECT_EQ(cv::formatPrintf("%*d|%-*d|%*d|", {4, 7, 4, 7, -4, 7}), "   7|7   |7   |");
    EXPECT_EQ(cv::formatPrintf("%.*f|%.*f", {2, 1.0, -3, 1.0}), "1.00|1.000000");
    EXPECT_EQ(cv::formatPrintf("%*.*s|", {6, 2, "abcdef"}), "    ab|");
}

TEST(PrintfKinds, EachConversionReadsEveryKind) {
    EXPECT_EQ(cv::formatPrintf("%d %d", {2.9, -2.9}), "2 -2");
    EXPECT_EQ(cv::formatPrintf("%d", {NAN}), "0");
    EXPECT_EQ(cv::formatPrintf("%d %d", {1e300, -INFINITY}), "9223372036854775807 -9223372036854775808");
    EXPECT_EQ(cv::formatPrintf("%d %d %d", {"123abc", "xyz", "-7"}), "123 0 -7");
    EXPECT_EQ(cv::formatPrintf("%x", {PrintfArg()}), "0");
    EXPECT_EQ(cv::formatPrintf("%.1f", {3}), "3.0");
    EXPECT_EQ(cv::formatPrintf("%.2f %.1f", {"2.5e1", "junk"}), "25.00 0.0");
    EXPECT_EQ(cv::formatPrintf("%g", {PrintfArg()}), "0");
    EXPECT_EQ(cv::formatPrintf("%s %s", {-12, 0.1}), "-12 0.1");
    EXPECT_EQ(cv::formatPrintf("%s", {1.0 / 3.0}), "0.3333333333333333");
    EXPECT_EQ(cv::formatPrintf("[%s]", {PrintfArg()}), "[]");
    EXPECT_EQ(cv::formatPrintf("%c|%c|", {"xyz", ""}), "x||");
    EXPECT_EQ(cv::formatPrintf("[%c]", {0}), "[]");   // a NUL never enters the message
    EXPECT_EQ(cv::formatPrintf("%c", {65.7}), "A");
}

TEST(PrintfHostile, NullFormatPercentNAndMissingArgumentsPrintNothing) {
    EXPECT_EQ(cv::formatPrintf(nullptr, {1, 2}), "");
    EXPECT_EQ(cv::formatPrintf("", {1}), "");
    EXPECT_EQ(cv::formatPrintf("plain", {}), "plain");
    EXPECT_EQ(cv::formatPrintf("a%nb%d", {5}), "ab5");   // %n consumes nothing
    EXPECT_EQ(cv::formatPrintf("%n%hn%lln", {}), "");
    EXPECT_EQ(cv::formatPrintf("%s%s%s", {"one"}), "one");
    EXPECT_EQ(cv::formatPrintf("%d and %f and %c and %p", {}), " and  and  and ");
    EXPECT_EQ(cv::formatPrintf("%*d", {5}), "");   // the width took the only argument
    EXPECT_EQ(cv::formatPrintf(std::string(100000, '%').c_str(), {}), std::string(50000, '%'));
}

TEST(PrintfHostile, HugeWidthsAndPrecisionsAreClamped) {
    EXPECT_EQ(cv::formatPrintf("%99999999999d", {1}).size(), 1000u);
    EXPECT_EQ(cv::formatPrintf("%*.*f", {INT_MAX, INT_MAX, 1.0}).size(), 1002u);   // "1." and 1000 decimals
    EXPECT_EQ(cv::formatPrintf("%*.*f", {LLONG_MIN, LLONG_MIN, 1.0}), std::string("1.000000") + std::string(992, ' '));
    EXPECT_EQ(cv::formatPrintf("%.99999999999999999999s", {"abc"}), "abc");
    EXPECT_LE(cv::formatPrintf("%1000.1000f", {1e308}).size(), 1400u);
    for (const char* f : {"%.*e", "%-*.*s"}) EXPECT_LE(cv::formatPrintf(f, {1e300, 1e300, "x"}).size(), 1400u) << f;
}

TEST(PrintfHostile, IncompleteAndUnknownDirectivesStayTextBadFlagsAreFiltered) {
    EXPECT_EQ(cv::formatPrintf("100%", {1}), "100%");
    EXPECT_EQ(cv::formatPrintf("%-5", {1}), "%-5");
    EXPECT_EQ(cv::formatPrintf("%ll", {1}), "%ll");
    EXPECT_EQ(cv::formatPrintf("%y|%k|%1$s", {1}), "%y|%k|%1$s");
    EXPECT_EQ(cv::formatPrintf("%S %C %w", {"a"}), "%S %C %w");
    // Invalid flag combinations are filtered.
    EXPECT_EQ(cv::formatPrintf("%#d|%0s|%+u|%#c", {1, "x", 2, 'y'}), "1|x|2|y");
    EXPECT_EQ(cv::formatPrintf("%--------5d|%++++d", {1, 2}), "1    |+2");
    EXPECT_EQ(cv::formatPrintf("%p", {255}), "0xff");
}

TEST(PrintfHostile, EveryPrefixOfAFormatIsSafe) {
    // All cut-off points of a busy format: each must give a result, not a crash.
    const std::string format = "%-+ #0*.*lld|%I64x|%5.3s|%c|%n|%*.*Lg|%%|%q";
    for (size_t n = 0; n <= format.size(); ++n) {
        const std::string cut = format.substr(0, n);
        (void)cv::formatPrintf(cut.c_str(), {3, 2, 1.5, "str", 7, 'c', -1, 99999, 2.5});
        (void)cv::formatPrintf(cut.c_str(), {});
    }
}
