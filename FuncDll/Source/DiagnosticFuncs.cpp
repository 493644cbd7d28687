// Diagnostics of the host binding: the table of late-bound host functions,
// and two functions that exercise host mechanisms (a machine fault inside a
// script function, and heap items removed by index).
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <list>

#include "FaultGuard.h"
#include "FuncArgs.h"
#include "FuncContract.h"
#include "PathUtil.h"
#include "common_dynexport.h"

namespace {

YString joinFields(std::initializer_list<std::string_view> parts) {
    YString s;
    bool first = true;
    for (auto p : parts) {
        if (!first) s += ";";
        s += p;
        first = false;
    }
    return s;
}

FUNC_ERROR listDynamicFunctions(const FuncArgsMinimal&, FuncResultMinimal* result, YRef<MessageHandler>,
                                const ScpParseContext&, const FunctionRunTime&) {
    std::vector<DynamicFunctionInfo> table;
    sp_GetDynamicFunctionInfo(table, false);
    char** out = result->makeStringVector(int64_t(table.size()));
    for (size_t k = 0; k < table.size(); ++k) {
        const DynamicFunctionInfo& e = table[k];
        YString line = joinFields({e.name.view(), sp_SplitPath(e.headerPath.view()).fname.view(), e.module.view(),
                                   YString(e.line).view(), sp_SplitPath(e.providerPath.view()).fname.view(),
                                   e.status.view(), YString(e.slots).view(), e.critical ? "CRITICAL" : ""});
        out[k] = line.detach();
    }
    result->finish();
    return FuncOk;
}

FUNC_ERROR listUnresolvedDynamicFunctions(const FuncArgsMinimal& args, FuncResultMinimal* result,
                                          YRef<MessageHandler>, const ScpParseContext&, const FunctionRunTime&) {
    bool criticalOnly = args.numArgs() > 0 && args.stringData(0) && args.length(0) > 0 && args.stringData(0)[0] &&
                        YString(args.stringData(0)[0]).compareNoCase("criticalOnly") == 0;
    std::vector<DynamicFunctionInfo> list;
    sp_GetUnresolvedDynamicFunctions(list, criticalOnly);
    char** out = result->makeStringVector(int64_t(list.size()));
    for (size_t k = 0; k < list.size(); ++k) {
        const DynamicFunctionInfo& e = list[k];
        out[k] = joinFields({e.name.view(), e.headerPath.view(), e.module.view(), YString(e.line).view()}).detach();
    }
    result->finish();
    return FuncOk;
}

// Raises a real access violation, caught before it reaches the host: nothing
// is held while it happens, so nothing can be left corrupted.
FUNC_ERROR testAccessViolation(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                               const ScpParseContext&, const FunctionRunTime&) {
    bool survived = sp_RunFaultGuarded([](void*) { sp_RaiseAccessViolation(); }, nullptr);
    result->finish();
    if (survived) return FuncOk;
    messages->error("Access violation in function '%s'", args.functionName());
    return FuncFailed;
}

FUNC_ERROR testRemoveItems(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                           const ScpParseContext&, const FunctionRunTime&) {
    const FuncArgs& a = args.funcArgs();
    const cv::Value& values = *a.vector(0);
    const cv::Value& indices = *a.vector(1);
    std::list<double> items;
    for (int64_t i = 0; i < values.size(); ++i) items.push_back(values.realAt(i));

    // Positions beyond the list or given twice are passed over.
    std::vector<int64_t> positions;
    for (int64_t i = 0; i < indices.size(); ++i) {
        double x = indices.realAt(i);
        if (std::isfinite(x) && x >= 0 && x < double(items.size())) positions.push_back(int64_t(x));
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    for (auto p = positions.rbegin(); p != positions.rend(); ++p) items.erase(std::next(items.begin(), *p));

    double* out = result->makeRealVector(int64_t(items.size()));
    std::copy(items.begin(), items.end(), out);
    result->finish();
    return FuncOk;
}

const FunctionOption kNoOptions{};

// clang-format off
FuncConstruct registrations[] = {
    {"_ListDynamicFunctions",           {3},    {}, 0, 0, listDynamicFunctions,           "", PyStringList, kNoOptions},
    {"_ListUnresolvedDynamicFunctions", {1},    {}, 0, 1, listUnresolvedDynamicFunctions, "", PyStringList, kNoOptions},
    {"_TestAccessViolation",            {3},    {}, 0, 0, testAccessViolation,            "", PyNone,       kNoOptions},
    {"_TestRemoveItems",                {0, 0}, {}, 2, 2, testRemoveItems,                "", PyRealVector, kNoOptions},
};
// clang-format on

}  // namespace
