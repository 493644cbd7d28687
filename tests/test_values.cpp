// The value model and physical types: division views share data, results
// are laid out like their arguments, and quantities combine by their units.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "FuncArgs.h"
#include "Sanitizer.h"
#include "Value.h"

using cv::Kind;
using cv::Value;

TEST(PhysTypes, RulesCombineQuantitiesByTheirUnits) {
    using P = PhysType;
    EXPECT_EQ(P::div(P::None, P::Time), P::Frequency);
    EXPECT_EQ(P::div(P::Voltage, P::Current), P::Resistance);
    EXPECT_EQ(P::mult(P::Voltage, P::Current), P::Power);
    EXPECT_EQ(P::mult(P::None, P::Voltage), P::Voltage);
    EXPECT_EQ(P::sqrt(P::VoltageNoisePower), P::VoltageNoise);
    EXPECT_EQ(P::sqrt(P::Voltage), P::Unknown);
    EXPECT_EQ(P::add(P::Voltage, P::None), P::Voltage);
    EXPECT_EQ(P::add(P::Voltage, P::Current), P::Unknown);
    EXPECT_EQ(P::db(P::Voltage), P::Decibel);
    EXPECT_EQ(P::db(P::None), P::None);
    EXPECT_EQ(P::mult(P::LogicLevel, P::Voltage), P::Unknown);
    EXPECT_STREQ(sp_GetPhysTypeName(P::None), "");
    EXPECT_STREQ(sp_GetPhysTypeName(P::Time), "Time");
    EXPECT_EQ(sp_GetPhysTypeFromName("voltage"), P::Voltage);
    EXPECT_EQ(sp_GetPhysTypeFromName("Hz"), P::Frequency);
    EXPECT_EQ(PhysType(999), P::Unknown);
}

TEST(Values, DivisionViewsShareDataAndCarryTheirReference) {
    std::vector<int64_t> lengths{3, 2, 4};
    auto v = Value::makeDivided(Kind::Real, lengths);
    auto ref = Value::makeDivided(Kind::Real, lengths);
    for (int i = 0; i < 9; ++i) {
        static_cast<double*>(v->mutableData())[i] = i;
        static_cast<double*>(ref->mutableData())[i] = 100 + i;
    }
    v->setRef(ref);
    v->setDivisionLabels({"a", "b", "c"});
    auto d1 = v->division(1);
    EXPECT_EQ(d1->size(), 2);
    EXPECT_EQ(d1->reals(), v->reals() + 3);  // no copy
    EXPECT_EQ(d1->ref()->realAt(0), 103);
    EXPECT_EQ(d1->divisionLabels(), std::vector<std::string>{"b"});
    auto tail = v->divisions(1, 2);
    EXPECT_EQ(tail->numDivisions(), 2);
    EXPECT_EQ(tail->divisionOffset(1), 2);
    EXPECT_THROW(v->divisions(2, 2), std::out_of_range);
}

TEST(Values, ConversionsAndSmallValuesKeepStringsOwned) {
    auto s = Value::strings(std::vector<std::string>{"x", "y"});
    auto copy = s->shallowCopy();
    s.reset();  // the copy owns its own strings
    EXPECT_EQ(copy->stringAt(1), "y");
    auto r = Value::reals(std::vector<double>{0.1, 1e300, -0.0});
    auto t = r->convertedTo(Kind::String);
    EXPECT_EQ(t->stringAt(0), "0.1");
    EXPECT_EQ(t->stringAt(1), "1e+300");
    EXPECT_EQ(Value::complex({1, 2})->convertedTo(Kind::String)->stringAt(0), "(1,2)");
    EXPECT_EQ(cv::formatReal(std::nan("")), "nan");
    EXPECT_EQ(Value::make(Kind::String, 3)->stringAt(2), "");  // absent strings read as ""
}

// Texts written into a value's block are released with it, a slot given a
// malloc'd text of its own is freed on its own, and views and copies outlive
// the value they came from (the sanitizer build checks the releases).
TEST(Values, TextBlocksReleaseTheirTextsOnceWhateverTheSlotsHold) {
    char* block = nullptr;
    auto v = Value::makeStringBlock(4, 8, block);
    ASSERT_NE(block, nullptr);
    char** slots = static_cast<char**>(v->mutableData());
    std::memcpy(block, "ab\0cde\0", 8);
    slots[0] = block;
    slots[1] = block + 3;
    slots[2] = strdup("own");  // slot 3 stays null
    auto copy = v->shallowCopy();
    auto text = v->convertedTo(Kind::String);
    v.reset();
    EXPECT_EQ(copy->stringAt(0), "ab");
    EXPECT_EQ(copy->stringAt(1), "cde");
    EXPECT_EQ(text->stringAt(2), "own");
    EXPECT_EQ(text->stringAt(3), "");
    EXPECT_EQ(Value::makeStringBlock(0, 0, block)->size(), 0);
    EXPECT_EQ(block, nullptr);
}

TEST(Values, ResultsAreLaidOutLikeTheArgumentOfTheGivenTotal) {
    std::vector<int64_t> lengths{2, 2};
    cv::ValuePtr arg = Value::makeDivided(Kind::Real, lengths);
    std::vector<cv::ValuePtr> args{arg};
    FuncArgs fa("f", args);
    FuncResult r("f", &fa);
    r.setType(VD_Complex, VD_Real);
    ASSERT_TRUE(r.allocate(1, AllocLikeArg, fa.totalLength(0)));
    ASSERT_NE(r.complexData(), nullptr);
    r.finish();
    auto out = r.take();
    EXPECT_EQ(out->numDivisions(), 2);
    EXPECT_EQ(out->size(), 2);

    FuncResult single("f", &fa);
    single.makeReal(3, AllocSingle, fa.totalLength(0));
    EXPECT_EQ(single.take()->numDivisions(), 1);
}

// Freed buffers are kept for reuse: mapped ones of many megabytes, and each
// thread's last few of a few kilobytes (not under AddressSanitizer, which
// must see them freed). A value asked for cleared is cleared either way.
TEST(Values, BuffersComeBackZeroedWhenReused) {
    for (const int64_t n : {int64_t(8) << 20, int64_t(1000)}) {  // 64 MB mapped, 8 KB from the allocator
        const double* first = nullptr;
        {
            auto v = Value::make(Kind::Real, n);
            double* d = static_cast<double*>(v->mutableData());
            std::fill(d, d + n, 3.5);
            first = d;
        }
        auto again = Value::make(Kind::Real, n);
        const double* d = static_cast<const double*>(again->rawData());
        if (n > 1000 || !cv::kAddressSanitizer) {
            EXPECT_EQ(d, first) << n << ": a freed buffer of the same size is reused";
        }
        EXPECT_TRUE(std::all_of(d, d + n, [](double x) { return x == 0; })) << n;
    }
    // Sizes no longer asked for give their places to the latest one freed:
    // a kept buffer, not cleared when asked for so, still holds its mark (a
    // fresh mapping would read 0).
    for (int64_t mb = 5; mb <= 9; ++mb) Value::make(Kind::Real, mb << 17);
    const int64_t n = int64_t(10) << 17;
    static_cast<double*>(Value::makeUninitialized(Kind::Real, n)->mutableData())[n - 1] = 7.0;
    EXPECT_EQ(static_cast<const double*>(Value::makeUninitialized(Kind::Real, n)->rawData())[n - 1], 7.0)
        << "the latest size freed is kept";
}
