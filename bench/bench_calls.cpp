// Cost of one call: through the function table with scalar arguments, and
// through the evaluator from text.
#include <benchmark/benchmark.h>

#include "FuncArgs.h"
#include "Session.h"

namespace {

// A trivial scalar function registered by this binary, so that the numbers
// measure the host's share of a call and not any function's work.
FUNC_ERROR addScalars(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                      const ScpParseContext&, const FunctionRunTime&) {
    *result->makeRealScalar() = args.realData(0)[0] + args.realData(1)[0];
    result->finish();
    return FuncOk;
}

const FunctionOption kNone{};
FuncConstruct addRegistration("_bench_add", {4, 4}, {1, 1}, 2, 2, addScalars, "", PyReal, kNone);

void BM_CallThroughTable(benchmark::State& state) {
    cv::Caller caller;
    const FuncConstruct* f = cv::FunctionTable::global().find("_bench_add");
    cv::ValuePtr args[2] = {cv::Value::real(1.5), cv::Value::real(2.5)};
    cv::ValuePtr out;
    std::string error;
    for (auto _ : state) {
        caller.call(*f, args, out, error);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallThroughTable);

void BM_CallByName(benchmark::State& state) {
    cv::Caller caller;
    cv::ValuePtr args[2] = {cv::Value::real(1.5), cv::Value::real(2.5)};
    cv::ValuePtr out;
    std::string error;
    for (auto _ : state) {
        caller.call("_BENCH_ADD", args, out, error);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallByName);

void BM_EvaluateScript(benchmark::State& state) {
    cv::Session session;
    std::string script;
    for (int i = 0; i < 1000; ++i) script += "x = _bench_add(x, 1.5)\n";
    session.bind("x", cv::Value::real(0));
    std::string error;
    for (auto _ : state) {
        bool ok = session.run(script, {}, error);
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_EvaluateScript);

// An element-wise function of the module at 10^3 elements: the host's share
// of the calls Python makes in loops, beside the work of a thousand sums.
void BM_ElementWiseThousand(benchmark::State& state) {
    cv::Session session;
    std::string error;
    if (!session.loadModule(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const FuncConstruct* f = cv::FunctionTable::global().find("_Plus");
    std::vector<double> x(1000, 1.5);
    cv::ValuePtr args[2] = {cv::Value::reals(x), cv::Value::reals(x)};
    cv::ValuePtr out;
    for (auto _ : state) {
        session.caller().call(*f, args, out, error);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ElementWiseThousand);

}  // namespace

BENCHMARK_MAIN();
