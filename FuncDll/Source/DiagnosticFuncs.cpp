// Diagnostics of the host binding: the table of late-bound host functions,
// and two functions that exercise host mechanisms (a machine fault inside a
// script function, and heap items removed by index).
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <list>

#include "FaultGuard.h"
#include "FuncKit.h"
#include "PathUtil.h"
#include "common_dynexport.h"

namespace {

using namespace cvmod;

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

FUNC_ERROR listDynamicFunctions(const FuncArgs&, FuncResult& r, MessageHandler&) {
    std::vector<DynamicFunctionInfo> table;
    sp_GetDynamicFunctionInfo(table, false);
    std::vector<YString> lines;
    for (const DynamicFunctionInfo& e : table)
        lines.push_back(joinFields({e.name.view(), sp_SplitPath(e.headerPath.view()).fname.view(), e.module.view(),
                                    YString(e.line).view(), sp_SplitPath(e.providerPath.view()).fname.view(),
                                    e.status.view(), YString(e.slots).view(), e.critical ? "CRITICAL" : ""}));
    setStrings(r, lines);
    return FuncOk;
}

FUNC_ERROR listUnresolvedDynamicFunctions(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<DynamicFunctionInfo> list;
    sp_GetUnresolvedDynamicFunctions(list, sameWord(stringOr(a, 0), "criticalOnly"));
    std::vector<YString> lines;
    for (const DynamicFunctionInfo& e : list)
        lines.push_back(joinFields({e.name.view(), e.headerPath.view(), e.module.view(), YString(e.line).view()}));
    setStrings(r, lines);
    return FuncOk;
}

// Raises a real access violation, caught before it reaches the host: nothing
// is held while it happens, so nothing can be left corrupted.
FUNC_ERROR testAccessViolation(const FuncArgs& a, FuncResult&, MessageHandler& m) {
    if (cv::runFaultGuarded([](void*) { cv::raiseAccessViolation(); }, nullptr)) return FuncOk;
    m.error("Access violation in function '%s'", a.functionName());
    return FuncFailed;
}

FUNC_ERROR testRemoveItems(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const cv::Value& values = *valueOf(a, 0);
    const cv::Value& indices = *valueOf(a, 1);
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
    // One walk along the list: finding each position from the front made a
    // long list quadratic (10^5 items took minutes).
    auto it = items.begin();
    int64_t at = 0;
    for (int64_t p : positions) {
        std::advance(it, p - at);
        it = items.erase(it);
        at = p + 1;
    }

    std::copy(items.begin(), items.end(), r.makeRealVector(int64_t(items.size())));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"_ListDynamicFunctions",           {Any},              {}, 0, 0, handler<listDynamicFunctions>,           "", PyStringList, Plain},
    {"_ListUnresolvedDynamicFunctions", {String},           {}, 0, 1, handler<listUnresolvedDynamicFunctions>, "", PyStringList, Plain},
    {"_TestAccessViolation",            {Any},              {}, 0, 0, handler<testAccessViolation>,            "", PyNone,       Plain},
    {"_TestRemoveItems",                {Numeric, Numeric}, {}, 2, 2, handler<testRemoveItems>,                "", PyRealVector, Plain},
};
// clang-format on

}  // namespace
