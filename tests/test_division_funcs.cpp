// Reference and division operations through the function table: taking the
// reference and the values apart, one value per run, relabelling runs, and
// the difference of two waveforms on their merged x-values.
#include <cmath>

#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::wave;

namespace {

using Reals = std::vector<double>;

// `runs` runs of `length` points; run d holds y = 100 d + k against x = d + k,
// labelled "run<d>" (and divided reference when refDivided).
cv::MutableValuePtr runs(int64_t count, int64_t length, bool refDivided = true) {
    auto v = cv::Value::makeDivided(cv::Kind::Real, std::vector<int64_t>(size_t(count), length));
    auto r = refDivided ? cv::Value::makeDivided(cv::Kind::Real, std::vector<int64_t>(size_t(count), length))
                        : cv::Value::make(cv::Kind::Real, length);
    auto* y = static_cast<double*>(v->mutableData());
    auto* x = static_cast<double*>(r->mutableData());
    std::vector<std::string> labels;
    for (int64_t d = 0; d < count; ++d) {
        labels.push_back("run" + std::to_string(d));
        for (int64_t k = 0; k < length; ++k) y[d * length + k] = double(100 * d + k);
    }
    for (int64_t i = 0; i < r->size(); ++i) x[i] = double(i / length + i % length);
    v->setRef(r);
    v->setDivisionLabels(labels);
    v->setPhysType(PhysType::Voltage);
    v->setRefPhysType(PhysType::Time);
    return v;
}

TEST(ReferenceParts, RefAndStripRefSeparateValuesFromXValues) {
    auto v = wave({5, 6, 7}, {0, 1e-3, 2e-3}, PhysType::Voltage, PhysType::Time);
    auto x = call("Ref", {v});
    EXPECT_EQ(realsOf(*x.value), (Reals{0, 1e-3, 2e-3}));
    EXPECT_EQ(x.value->physType(), PhysType::Time);
    EXPECT_FALSE(x.value->ref());
    auto y = call("StripRef", {v});
    EXPECT_EQ(realsOf(*y.value), (Reals{5, 6, 7}));
    EXPECT_EQ(y.value->physType(), PhysType::Voltage);
    EXPECT_FALSE(y.value->ref());
    EXPECT_EQ(call("Ref", {reals({1, 2})}).value->size(), 0);

    auto ac = cvtest::complexes({{0, 0}, {3, -4}})->shallowCopy();
    ac->setRef(reals({10, 20}));
    auto s = call("StripRef", {ac});
    ASSERT_EQ(s.value->kind(), cv::Kind::Complex);
    EXPECT_EQ(s.value->complexAt(1), cv::cplx(3, -4));
    EXPECT_FALSE(s.value->ref());
    // Per run, each run's own x-values.
    auto r = call("Ref", {runs(3, 2)});
    EXPECT_EQ(r.value->numDivisions(), 3);
    EXPECT_EQ(realsOf(*r.value), (Reals{0, 1, 1, 2, 2, 3}));
}

TEST(DivisionData, CollTakesTheFirstValueOfEachRun) {
    auto c = call("Coll", {runs(100, 4)});
    ASSERT_TRUE(c.ok) << c.error;
    ASSERT_EQ(c.value->size(), 100);
    EXPECT_EQ(c.value->realAt(37), 3700);
    EXPECT_EQ(c.value->ref()->realAt(37), 37);
    cvtest::expectTypes(*c.value, PhysType::Voltage, PhysType::Time);
    // One reference for all runs: no x per run to give.
    EXPECT_FALSE(call("Coll", {runs(5, 4, false)}).value->ref());
    // An undivided vector comes back whole, with its reference.
    auto whole = call("Coll", {wave({1, 2}, {0, 1})});
    EXPECT_EQ(realsOf(*whole.value), (Reals{1, 2}));
    EXPECT_EQ(realsOf(*whole.value->ref()), (Reals{0, 1}));
    // An empty run has no first value.
    auto gaps = cv::Value::makeDivided(cv::Kind::Real, std::vector<int64_t>{1, 0, 1});
    auto g = call("Coll", {gaps});
    ASSERT_EQ(g.value->size(), 3);
    EXPECT_TRUE(std::isnan(g.value->realAt(1)));
}

TEST(DivisionData, CopyDivisionDataRelabelsTheSecondVectorWithTheFirstsLabels) {
    auto a = runs(3, 2), b = runs(3, 2);
    b->setDivisionLabels({"x", "y", "z"});
    auto o = call("CopyDivisionData", {a, b});
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.value->divisionLabels(), (std::vector<std::string>{"run0", "run1", "run2"}));
    EXPECT_EQ(o.value->numDivisions(), 3);
    EXPECT_EQ(realsOf(*o.value->ref()), realsOf(*b->ref()));
    // Labels for another number of runs would name the wrong runs.
    auto other = call("CopyDivisionData", {runs(4, 2), b});
    EXPECT_EQ(other.value->divisionLabels(), (std::vector<std::string>{"x", "y", "z"}));
}

TEST(MergedDifference, DiffMergeVecsSubtractsOnTheUnionOfXValues) {
    auto a = wave({0, 1, 2}, {0, 1, 2}), b = wave({0, 0, 0}, {0, 0.5, 2});
    auto d = call("DiffMergeVecs", {a, b});
    EXPECT_EQ(realsOf(*d.value->ref()), (Reals{0, 0.5, 1, 2}));
    EXPECT_EQ(realsOf(*d.value), (Reals{0, 0.5, 1, 2}));
    // The walk ends with the shorter reference.
    auto shortB = call("DiffMergeVecs", {a, wave({1, 1}, {0, 0.5})});
    EXPECT_EQ(realsOf(*shortB.value->ref()), (Reals{0, 0.5}));
    EXPECT_EQ(call("DiffMergeVecs", {a, wave({1}, {0})}).value->size(), 0);
    // Repeated x-values and NaN still end the walk and keep x and y paired.
    auto odd = call("DiffMergeVecs", {wave({0, 1, 2, 3}, {0, 1, 1, NAN}), wave({0, 0, 0}, {0, 1, 3})});
    ASSERT_TRUE(odd.ok);
    EXPECT_EQ(odd.value->size(), odd.value->ref()->size());
    EXPECT_LE(odd.value->size(), 7);
}

}  // namespace
