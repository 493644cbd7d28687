// Conditional selection, bit fields, ev, and the template and probe-expression
// functions.
#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::stringsOf;

namespace {

using Texts = std::vector<std::string>;

constexpr auto strs = cvtest::strings;

cv::ValuePtr waveform(std::vector<double> y, std::vector<double> x) {
    auto v = cvtest::wave(y, x, PhysType::None, PhysType::Time)->shallowCopy();
    v->setRefName("time");
    return v;
}

TEST(Conditional, IffPicksOneElementOfTheChosenArgument) {
    EXPECT_EQ(stringsOf(*call("Iff", {reals({0}), strs({"a"}), strs({"b"})}).value), Texts{"b"});
    EXPECT_EQ(realsOf(*call("Iff", {reals({2}), reals({1, 2}), reals({3})}).value), std::vector<double>{1});
    auto c = call("Iff", {reals({1}), cv::Value::complex({1, 2}), cv::Value::complex({3, 4})});
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.value->complexAt(0), cplx(1, 2));
    // Nothing to pick from, or no condition: empty, not an over-read.
    EXPECT_EQ(call("Iff", {reals({1}), reals({}), reals({3})}).value->size(), 0);
    EXPECT_EQ(realsOf(*call("Iff", {reals({}), reals({1}), reals({3})}).value), std::vector<double>{3});
}

TEST(Conditional, IffVSelectsElementwiseAndKeepsTheFirstChoicesReference) {
    auto a = waveform({1, 2, 3}, {0, 1, 2});
    auto r = call("IffV", {reals({1, 0, 1}), a, reals({4, 5, 6})});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(realsOf(*r.value), (std::vector<double>{1, 5, 3}));
    ASSERT_TRUE(r.value->ref());
    EXPECT_EQ(realsOf(*r.value->ref()), (std::vector<double>{0, 1, 2}));
    EXPECT_EQ(r.value->refName(), "time");
    // A single condition applies to all elements.
    EXPECT_EQ(stringsOf(*call("IffV", {reals({0}), strs({"a", "b"}), strs({"c", "d"})}).value),
              (Texts{"c", "d"}));
}

TEST(Conditional, MismatchedKindsAndLengthsAreRefused) {
    auto k = call("Iff", {reals({1}), reals({1}), strs({"x"})});
    EXPECT_FALSE(k.ok);
    EXPECT_EQ(k.error, "Arguments 2 and 3 must be of the same type in function 'Iff'");
    EXPECT_EQ(call("IffV", {reals({1}), reals({1}), strs({"x"})}).error,
              "Arguments 2 and 3 must be of the same type in function 'IffV'");
    const char* lengths = "Argument vectors must be of the same length in function 'IffV'";
    EXPECT_EQ(call("IffV", {reals({1, 0}), reals({1, 2, 3}), reals({4, 5, 6})}).error, lengths);
    EXPECT_EQ(call("IffV", {reals({1}), reals({1, 2, 3}), reals({4, 5})}).error, lengths);
    EXPECT_EQ(call("IffV", {reals({}), reals({1}), reals({2})}).error, lengths);
}

TEST(BitFields, FieldTakesBitsInEitherOrderAndPositionsOutsideTheWordReadAsZero) {
    // -1 from bit 31 to 0: all 32 bits of a negative word; 255 from 40 to 4:
    // bits 4..7 set, 8..40 clear; from 2 to -3: bits 0..2 moved up past three zero bits.
    const double cases[][4] = {{240, 7, 4, 15},   {240, 4, 7, 15},   {240.9, 7, 0, 240}, {-1, 31, 0, -1},
                               {-1, 31, 31, 1},   {255, 40, 32, 0},  {255, -1, -8, 0},   {255, 40, 4, 15},
                               {255, 2, -3, 56},  {NAN, 7, 0, 0},    {1e300, 1e300, -1e300, 0}};
    for (const auto& c : cases) {
        auto r = call("Field", {reals({c[0]}), reals({c[1]}), reals({c[2]})});
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.value->integers()[0], c[3]) << c[0] << " from " << c[1] << " to " << c[2];
    }
}

TEST(BitFields, FieldVIsElementwiseAndNeverReadsPastShortBitVectors) {
    EXPECT_EQ(realsOf(*call("FieldV", {reals({240}), reals({4}), reals({7})}).value), std::vector<double>{-1});
    EXPECT_EQ(realsOf(*call("FieldV", {reals({240, 15, 1}), reals({7, 3, 0}), reals({4, 0, 0})}).value),
              (std::vector<double>{15, 15, 1}));
    // The shorter bit vector repeats its last position.
    EXPECT_EQ(realsOf(*call("FieldV", {reals({240, 15, 3}), reals({7, 3, 1}), reals({0})}).value),
              (std::vector<double>{240, 15, 3}));
    EXPECT_EQ(realsOf(*call("FieldV", {reals({240, 15}), reals({7, 3}), reals({})}).value),
              (std::vector<double>{-1, -1}));
    EXPECT_EQ(realsOf(*call("FieldV", {reals({-1}), reals({31}), reals({0})}).value),
              std::vector<double>{4294967295.0});
}

TEST(Sequences, EvGivesTheLastArgumentWithItsReference) {
    EXPECT_EQ(realsOf(*call("ev", {reals({1}), reals({2}), reals({3})}).value), std::vector<double>{3});
    auto r = call("ev", {reals({1}), waveform({5, 6}, {0, 1})});
    ASSERT_TRUE(r.value->ref());
    EXPECT_EQ(r.value->refName(), "time");
    EXPECT_EQ(stringsOf(*call("ev", {strs({"a"}), strs({"b"})}).value), Texts{"b"});
}

TEST(Templates, EeEvaluatesOrFallsBack) {
    EXPECT_EQ(stringsOf(*call("ee", {strs({"ev(1, 2)"})}).value), Texts{"2"});
    EXPECT_EQ(stringsOf(*call("ee", {strs({"1+"}), strs({"fallback"})}).value),
              Texts{"fallback"});
    auto noFallback = call("ee", {strs({"1+"})});
    EXPECT_TRUE(noFallback.ok);
    EXPECT_EQ(stringsOf(*noFallback.value), Texts{"{1+}"});
}

TEST(Templates, ResolveTemplateLooksKeywordsUpIgnoringCase) {
    for (const char* f : {"ResolveTemplate", "rt"}) {
        EXPECT_EQ(stringsOf(*call(f, {strs({"x={a}, y={B}"}), strs({"A", "b", "extra"}), strs({"1", "2"})}).value),
                  Texts{"x=1, y=2"});
        EXPECT_EQ(stringsOf(*call(f, {strs({"{extra}"}), strs({"A", "extra"}), strs({"1"}), strs({"fb"})}).value),
                  Texts{"fb"});
    }
}

TEST(ProbeExpressions, SubstitutionReplacesKnownNamesOnly) {
    EXPECT_EQ(stringsOf(*call("SubstProbeExpression", {strs({"a+b*2"}), strs({"A"}), strs({"q"})}).value),
              Texts{"q+b*2"});
    // An expression that does not parse comes back unchanged.
    EXPECT_EQ(stringsOf(*call("SubstProbeExpression", {strs({"a+"}), strs({"a"}), strs({"q"})}).value),
              Texts{"a+"});
}

TEST(ProbeExpressions, ParseRewritesProbesAndListsNamesOnce) {
    auto r = call("ParseProbeExpression", {strs({"V(a) + V(b,c) * v(A) - I(R1) + max(V(c), 2)"})});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(stringsOf(*r.value), (Texts{"(a)+(b-c)*(A)-R1#p+max((c), 2)", "3", "1", "a", "b",
                                                               "c", "R1"}));
    EXPECT_EQ(stringsOf(*call("ParseProbeExpression", {strs({"V(a,b,c)"})}).value),
              (Texts{"V(a, b, c)", "0", "0"}));
}

}  // namespace
