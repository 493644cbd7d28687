// The calling pipeline, through functions registered by this test binary:
// look-up, counts, conversions, the multi-division rules, messages, the
// finish contract and exceptions from handlers.
#include <new>
#include <stdexcept>

#include "FuncArgs.h"
#include "OptionStore.h"
#include "TestHost.h"

using cvtest::call;
using cvtest::reals;
using cvtest::realsOf;
using cvtest::str;

namespace {

// Sum of the first argument's values, with the argument's length as ref-free
// result; records what it saw so tests can check the views.
int64_t gLastDivisions = -1;
int64_t gCalls = 0;

FUNC_ERROR sumHandler(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                      const ScpParseContext&, const FunctionRunTime&) {
    ++gCalls;
    gLastDivisions = args.numDivisions(0);
    const FuncArgs& a = args.funcArgs();
    double s = 0;
    for (int64_t i = 0; i < a.totalLength(0); ++i) s += a.vector(0)->realAt(i);
    *result->makeRealScalar() = s;
    result->finish();
    return FuncOk;
}

// Doubles every element, keeping the argument's reference.
FUNC_ERROR twiceHandler(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                        const ScpParseContext&, const FunctionRunTime&) {
    FuncResult& r = result->funcResult();
    const FuncArgs& a = args.funcArgs();
    if (a.length(0) > 0 && a.realData(0)[0] < 0) {  // a measurement that found nothing
        r.finish();
        return FuncOk;
    }
    r.setType(VD_Real, VD_Real);
    r.allocate(a.length(0), AllocLikeArg, a.totalLength(0));
    const double* in = a.realData(0);
    for (int64_t i = 0; i < a.totalLength(0); ++i) r.data()[i] = 2 * in[i];
    r.copyRefFromArgs(a, AllocLikeArg, 0);
    r.setPhysType(a.physType(0));
    r.finish();
    return FuncOk;
}

FUNC_ERROR echoStringHandler(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                             const ScpParseContext&, const FunctionRunTime&) {
    const char* s = args.stringData(0)[0];
    *result->makeStringScalar() = YString(s ? s : "").copy();
    result->finish();
    return FuncOk;
}

FUNC_ERROR misbehave(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                     const ScpParseContext&, const FunctionRunTime&) {
    int what = int(args.realData(0)[0]);
    switch (what) {
        case 0: throw CorvantaException("YVector index negative");
        case 1: throw std::bad_alloc();
        case 2: throw std::runtime_error("boom");
        case 3: throw 42;
        case 4: return FuncOk;  // forgets finish
        case 5: result->finish(); return FuncFailed;  // no message
        case 6:
            messages->error("first %d", 1);
            messages->error("second");
            result->finish();
            return FuncFailed;
        case 7: result->makeRealVector(-1); break;
        default: break;
    }
    result->finish();
    return FuncOk;
}

// Measures each division; a negative one is out of range, which it says
// without failing the call.
FUNC_ERROR warnHandler(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                       const ScpParseContext&, const FunctionRunTime&) {
    const double v = args.realData(0)[0];
    if (v < 0) messages->error("The value %g is out of range", v);
    *result->makeRealScalar() = v;
    result->finish();
    return FuncOk;
}

const FunctionOption kNone{};
// clang-format off
FuncConstruct testFunctions[] = {
    {"_cvtest_sum",       {0},    {1},  1, 1, sumHandler,        "", PyReal,   kNone},
    {"_cvtest_mean",      {4},    {4},  1, 1, sumHandler,        "", PyReal,   kNone},
    {"_cvtest_whole",     {4},    {2},  1, 1, sumHandler,        "", PyReal,   kNone},
    {"_cvtest_twice",     {4, 4}, {1, 1}, 1, 2, twiceHandler,    "", PyVector, kNone},
    {"_cvtest_echo",      {1},    {},   1, 1, echoStringHandler, "", PyString, kNone},
    {"_cvtest_misbehave", {4},    {},   1, 1, misbehave,         "", PyNone,   kNone},
    {"_cvtest_warn",      {4},    {1},  1, 1, warnHandler,       "", PyReal,   kNone},
    {"_cvtest_varargs",   {1, 4}, {},   1, 4, sumHandler,        "", PyReal,   kNone},
};
// clang-format on

cv::ValuePtr divided(std::vector<double> data, std::vector<int64_t> lengths, std::vector<std::string> labels = {}) {
    auto v = cv::Value::makeDivided(cv::Kind::Real, lengths);
    std::copy(data.begin(), data.end(), static_cast<double*>(v->mutableData()));
    auto ref = cv::Value::makeDivided(cv::Kind::Real, lengths);
    for (size_t i = 0; i < data.size(); ++i) static_cast<double*>(ref->mutableData())[i] = double(i);
    v->setRef(ref);
    v->setPhysType(PhysType::Voltage);
    v->setRefPhysType(PhysType::Time);
    if (!labels.empty()) v->setDivisionLabels(labels);
    return v;
}

}  // namespace

TEST(Calling, LookUpIgnoresCaseAndCountsAreCheckedBeforeTheCall) {
    EXPECT_TRUE(call("_CVTEST_SUM", {reals({1, 2})}).ok);
    EXPECT_EQ(call("no_such_function", {}).error, "Unknown function 'no_such_function'");
    gCalls = 0;
    EXPECT_EQ(call("_cvtest_sum", {}).error, "Function '_cvtest_sum' takes 1 argument, 0 given");
    EXPECT_EQ(call("_cvtest_varargs", {}).error, "Function '_cvtest_varargs' takes 1 to 4 arguments, 0 given");
    EXPECT_EQ(gCalls, 0);
    // Beyond the kind list, the last kind applies: argument 3 must be real.
    auto o = call("_cvtest_varargs", {cv::Value::string("a"), reals({1}), cv::Value::string("x")});
    EXPECT_EQ(o.error, "Argument 3 in function '_cvtest_varargs' must be real, not a string");
}

TEST(Calling, ArgumentsAreConvertedToTheirRegisteredKinds) {
    EXPECT_EQ(call("_cvtest_sum", {cv::Value::string("1")}).error,
              "Argument 1 in function '_cvtest_sum' must be numeric, not a string");
    EXPECT_EQ(call("_cvtest_mean", {cv::Value::complex({1, 1})}).error,
              "Argument 1 in function '_cvtest_mean' must be real, not complex");
    EXPECT_EQ(cvtest::stringsOf(*call("_cvtest_echo", {cv::Value::real(0.1)}).value), std::vector<std::string>{"0.1"});
    auto b = cv::Value::make(cv::Kind::Bool, 2);
    static_cast<bool*>(b->mutableData())[1] = true;
    EXPECT_EQ(cvtest::values("_cvtest_sum", {b}), std::vector<double>{1.0});
    EXPECT_EQ(call("_cvtest_sum", {cv::Value::none()}).error, "Argument 1 in function '_cvtest_sum' has no value");
}

TEST(Calling, PerDivisionArgumentsAreCalledOnceADivision) {
    auto v = divided({1, 2, 3, 4, 5, 6}, {2, 2, 2});
    auto o = call("_cvtest_twice", {v});
    ASSERT_TRUE(o.ok && o.value->ref()) << o.error;
    EXPECT_EQ(realsOf(*o.value), (std::vector<double>{2, 4, 6, 8, 10, 12}));
    EXPECT_EQ(o.value->ref()->divisionLengths(), (std::vector<int64_t>{2, 2, 2}));
    EXPECT_EQ(cvtest::refOf(o), (std::vector<double>{0, 1, 2, 3, 4, 5}));
    cvtest::expectTypes(*o.value, PhysType::Voltage, PhysType::Time);
    // A division that builds nothing joins as an empty one; when none builds anything, nothing is the result.
    o = call("_cvtest_twice", {divided({1, 2, -3, 4, 5, 6}, {2, 2, 2})});
    ASSERT_TRUE(o.ok && o.value->ref()) << o.error;
    EXPECT_EQ(realsOf(*o.value), (std::vector<double>{2, 4, 10, 12}));
    EXPECT_EQ(o.value->divisionLengths(), (std::vector<int64_t>{2, 0, 2}));
    EXPECT_EQ(o.value->ref()->divisionLengths(), (std::vector<int64_t>{2, 0, 2}));
    EXPECT_FALSE(call("_cvtest_twice", {divided({-1, 2, -3, 4}, {2, 2})}).value->isNumeric());
    // An undivided second argument is passed whole to every call; a different
    // number of divisions is refused.
    EXPECT_TRUE(call("_cvtest_twice", {v, reals({1})}).ok);
    EXPECT_EQ(call("_cvtest_twice", {v, divided({1, 2}, {1, 1})}).error,
              "Arguments of function '_cvtest_twice' have different numbers of divisions (3 and 2)");
}

TEST(Calling, StatisticArgumentsGiveOneValuePerDivisionAgainstTheLabels) {
    auto o = call("_cvtest_mean", {divided({1, 2, 3, 4}, {2, 2}, {"10", "20"})});
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(realsOf(*o.value), (std::vector<double>{3, 7}));
    ASSERT_TRUE(o.value->ref());
    EXPECT_EQ(realsOf(*o.value->ref()), (std::vector<double>{10, 20}));

    o = call("_cvtest_mean", {divided({1, 2, 3, 4}, {2, 2}, {"R=1K", "R = 2.2k"})});
    EXPECT_EQ(cvtest::refOf(o), (std::vector<double>{1000, 2200})) << "a swept parameter gives the axis";
    EXPECT_EQ(o.value->refName(), "R");
    // Labels that are not one swept number give the run index.
    for (const std::vector<std::string>& labels :
         {std::vector<std::string>{"a", "b"}, {"R=1K C=1n", "R=2K C=1n"}, {"R=1K", "C=1n"}, {"=1", "=2"}})
        EXPECT_EQ(cvtest::refOf(call("_cvtest_mean", {divided({1, 2, 3, 4}, {2, 2}, labels)})),
                  (std::vector<double>{0, 1})) << labels[0];
    // Whole arguments keep all their divisions.
    gLastDivisions = -1;
    EXPECT_EQ(cvtest::values("_cvtest_whole", {divided({1, 2, 3, 4}, {2, 2})}), std::vector<double>{10});
    EXPECT_EQ(gLastDivisions, 2);
}

TEST(Calling, HandlerFailuresBecomeOneErrorAndTheProcessGoesOn) {
    auto err = [](double what) { return call("_cvtest_misbehave", {reals({what})}).error; };
    EXPECT_EQ(err(0), "YVector index negative");
    EXPECT_EQ(err(1), "Not enough memory to complete function '_cvtest_misbehave'");
    EXPECT_EQ(err(2), "Internal error in function '_cvtest_misbehave': boom");
    EXPECT_EQ(err(3), "Internal error in function '_cvtest_misbehave'");
    EXPECT_EQ(err(4), "Function '_cvtest_misbehave' returned without finishing its result");
    EXPECT_EQ(err(5), "Function '_cvtest_misbehave' failed");
    EXPECT_EQ(err(6), "first 1");
    EXPECT_EQ(err(7), "Not enough memory to complete function '_cvtest_misbehave'");
    EXPECT_TRUE(cvtest::noResult(call("_cvtest_misbehave", {reals({99})})));
}

// The memory limit is a host option, read as each call starts; without it the
// limit is the memory available then, which is never more than the machine has.
TEST(Calling, MemoryLimitOptionRefusesLargeResults) {
    const std::string full = "Not enough memory to complete function ";
    cv::OptionStore::global().set("MemoryLimitMB", "64");
    struct Reset {
        ~Reset() { cv::OptionStore::global().reset("MemoryLimitMB"); }
    } reset;
    const std::pair<const char*, std::vector<cv::ValuePtr>> big[] = {
        {"makevec", {reals({1e7})}},
        {"vector", {reals({2147483647})}},
        {"Interp", {reals({1, 2, 3, 2, 1}), reals({2147483648.0})}},
    };
    for (const auto& [function, args] : big) EXPECT_EQ(call(function, args).error, full + "'" + function + "'");
    EXPECT_EQ(cv::memoryLimitBytes(), size_t(64) << 20);
    EXPECT_TRUE(call("makevec", {reals({1e6})}).ok);  // 8 MB fits
    // Converting arguments allocates before the handler runs: 2M numbers as
    // text, whose pointers alone (16 MB) would fit but not with their texts.
    auto many = call("makevec", {reals({2e6})});
    ASSERT_TRUE(many.ok);
    EXPECT_EQ(call("_Concat", {many.value, str("V")}).error, full + "'_Concat'");
    // So does the evaluator, for a vector literal; the session goes on.
    cv::ValuePtr v;
    std::string error;
    cvtest::session().bind("_big", many.value);
    EXPECT_FALSE(cvtest::session().evaluate("[_big, _big, _big, _big, _big]", v, error));
    EXPECT_EQ(error, "Not enough memory to complete the statement");
    EXPECT_TRUE(cvtest::session().evaluate("1 + 1", v, error)) << error;
    cvtest::session().bind("_big", cv::Value::real(0));

    cv::OptionStore::global().reset("MemoryLimitMB");
    EXPECT_TRUE(call("makevec", {reals({1e6})}).ok);
    EXPECT_LE(cv::memoryLimitBytes(), cv::physicalMemoryBytes());
    EXPECT_GT(cv::memoryLimitBytes(), size_t(64) << 20);
}

// A message of a call that still gives its result is a warning, and over
// several runs it names the run it concerns.
TEST(Calling, MessagesOfASucceedingCallAreWarningsNamingTheirRun) {
    std::vector<std::pair<MessageHandler::Severity, std::string>> seen;
    cv::Caller caller([&](MessageHandler::Severity s, const std::string& t) { seen.emplace_back(s, t); });
    const std::vector<cv::ValuePtr> args{cvtest::dividedWave({{1}, {-2}, {3}}, {{0}, {0}, {0}})};
    cv::ValuePtr out;
    std::string error;
    ASSERT_TRUE(caller.call("_cvtest_warn", args, out, error)) << error;
    EXPECT_EQ(cvtest::realsOf(*out), (std::vector<double>{1, -2, 3}));
    EXPECT_EQ(seen, (decltype(seen){{MessageHandler::Warning, "run 2: The value -2 is out of range"}}));
}
