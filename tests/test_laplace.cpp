// Laplace expressions (reduction to numerator and denominator, the error
// codes and their texts, the device plug-in preference) and the initial
// conditions of netlists.
#include <filesystem>
#include <string>
#include <vector>

#include "FileSandbox.h"
#include "TestHost.h"

using namespace cvtest;  // the call helpers

namespace {

using Reals = std::vector<double>;

Reals parse(const std::string& expression) { return cvtest::values("ParseLaplace", {str(expression)}); }

// Every call here runs in a sandbox, so no plug-in of the user's can answer.
struct LaplaceTest : ::testing::Test {
    cvtest::FileSandbox box;
};

TEST_F(LaplaceTest, ReducesToOneRationalFunctionNumeratorFirstConstantTermFirst) {
    // Nested fractions, negative powers, precedence, cancelling and sums of
    // fractions: against sympy in tests/python/test_design_peers.py. Here the
    // exact layout and the forms sympy has no row for.
    const struct {
        const char* expression;
        Reals want;  // code, degrees, numerator, denominator
    } cases[] = {
        {"2.2k", {0, 0, 0, 2200, 1}},
        {"1m*S", {0, 1, 0, 0, 0.001, 1}},
        {"1/(s+1) + 1/(s+1)", {0, 0, 1, 2, 1, 1}},   // equal denominators stay
        {"s - s", {0, 0, 0, 0, 1}},
        {"--+-s", {0, 1, 0, 0, -1, 1}},
        {"2^10/1meg", {0, 0, 0, 0.001024, 1}},
        {" ( s ) \t", {0, 1, 0, 0, 1, 1}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.expression), c.want) << c.expression;
}

TEST_F(LaplaceTest, EachFaultHasItsCodeAndTextAndIsRejectedByTheCheck) {
    const struct {
        std::string expression;
        int code;
    } cases[] = {
        {"", 1}, {"  ", 1}, {"s+#", 2}, {"x*s", 3}, {"exp(-s*1m)", 4}, {"(s+1", 5}, {"s+1)", 6},
        {"s+", 7}, {"()", 7}, {"*s", 7}, {"2s", 8}, {"(s+1)(s+2)", 8}, {"s s", 8}, {"s^0.5", 9},
        {"s^s", 9}, {"s^2^3", 9}, {"1/(s-s)", 10}, {"0^-1", 10}, {"(1+s)^1000000", 11},
        {"s^501", 11}, {"1e300*1e300", 12}, {"1e999", 12}, {"1.2.3", 13}, {"1e", 13},
        {std::string(300, '(') + "s" + std::string(300, ')'), 14},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.expression), Reals{double(c.code)}) << c.expression;
        EXPECT_EQ(cvtest::number("CheckLaplaceExpression", {str(c.expression)}), 3) << c.expression;
    }
    EXPECT_EQ(cvtest::number("CheckLaplaceExpression", {str("1/(1+2*pi)")}), 3);
    EXPECT_EQ(cvtest::number("CheckLaplaceExpression", {str("1/(1+2*s)")}), 0);

    EXPECT_EQ(cvtest::text("GetLaplaceErrorMessage", {cvtest::reals({4})}), "Delay terms (exp) are not supported");
    EXPECT_EQ(cvtest::text("GetLaplaceErrorMessage", {cvtest::reals({11.9})}),
              "The degree of the expression is higher than 500");
    EXPECT_EQ(cvtest::text("GetLaplaceErrorMessage", {cvtest::reals({0})}), "No error");
    EXPECT_EQ(cvtest::text("GetLaplaceErrorMessage", {cvtest::reals({1e12})}), "Unknown Laplace error code");
}

TEST_F(LaplaceTest, BuffersGrowPastTheFirstFiftyAndDegreesStopAtTheLimit) {
    // Degree 48 fits the first buffers, 49 and the limit need larger ones.
    for (int degree : {48, 49, 120, 500}) {
        const Reals v = parse("s^" + std::to_string(degree) + "+1");
        ASSERT_EQ(v.size(), size_t(degree + 1 + 1 + 3)) << degree;
        EXPECT_EQ(v[1], degree);
        EXPECT_EQ(v[3], 1);
        EXPECT_EQ(v[3 + degree], 1);
    }
    EXPECT_EQ(parse("(1+s)^250*(1+s)^251"), Reals{11});
}

// ---------------------------------------------------------------- plug-ins

void installPlugin(const cvtest::FileSandbox& box, const std::string& folder, const char* library) {
    std::filesystem::create_directories(box.path(folder));
    std::filesystem::copy_file(std::string(CVFUNC_BUILD_DIR) + "/" + library, box.path(folder + "/Laplace_2.so"));
}

TEST_F(LaplaceTest, AnInstalledPluginAnswersInsteadOfTheParser) {
    installPlugin(box, "cvhome/devices", "libtest_laplace_plugin.so");
    EXPECT_EQ(cvtest::number("CheckLaplaceExpression", {str("exp(-s*1n)/(1+s)")}), 0);
    EXPECT_EQ(cvtest::number("CheckLaplaceExpression", {str("1/(1+s)")}), 42);
    // The plug-in checks only: the reduction stays the host's.
    EXPECT_EQ(parse("exp(-s)"), Reals{4});
}

TEST_F(LaplaceTest, APluginWithoutTheEntryPointRejectsAndOneBesideTheCurrentDirectoryIsIgnored) {
    installPlugin(box, "work/devices", "libtest_laplace_plugin.so");  // the current directory's
    EXPECT_EQ(cvtest::number("CheckLaplaceExpression", {str("exp(-s)")}), 3);
    installPlugin(box, "cvhome/devices", "libtest_laplace_plugin_noentry.so");
    EXPECT_EQ(cvtest::number("CheckLaplaceExpression", {str("1/(1+s)")}), 3);
}

// ---------------------------------------------------------------- init files


TEST(TrivaneInit, GroupsInitialValuesByTheFirstSegmentOfTheirNodes) {
    cvtest::FileSandbox box;
    const std::string netlist = box.write("init.net",
                                          "* title\n"
                                          ".init v(X1.out)=2.5\n"
                                          ".INIT out 1\n"
                                          ".Init I(a$X1.sub.n2) = 3m extra\n"
                                          ".INIT b$Y.n 4\n"
                                          "+ ignored\n"
                                          ".INIT onlyquantity\n"
                                          "R1 1 2 1k\n"
                                          ".INIT c$y.m 5\n"
                                          ".INIT (q) 6 ; comment\n");
    EXPECT_EQ(cvtest::texts("ParseTrivaneInit", {str(netlist)}),
              (Texts{";X1;out=2.5;sub.n2=3m", ";out;=1", "b;Y;n=4;m=5", ";q;=6"}));
}

TEST(TrivaneInit, MissingFilesAndFilesWithoutInitLinesGiveNothing) {
    cvtest::FileSandbox box;
    for (const std::string& path : {box.path("none.net"), box.write("plain.net", "R1 1 0 1k\n.end\n"), box.path(""),
                                    std::string()})
        EXPECT_TRUE(cvtest::noResult(call("ParseTrivaneInit", {str(path)}))) << path;
}

}  // namespace
