// Laplace transfer-function expressions (checked by a device plug-in when one
// is installed, else by the host's parser; reduced to coefficient arrays;
// error texts) and the initial conditions of a switching-simulator netlist.
//
// The grammar, the error codes and the coefficient order are the host
// parser's (Laplace.h): the first array is the numerator, the second the
// denominator, each from the constant term upward.
#include <algorithm>
#include <climits>
#include <string>
#include <unordered_map>
#include <vector>

#include "FuncKit.h"
#include "Laplace.h"
#include "SpiceStream.h"
#include "TextLines.h"

namespace {

using namespace cvmod;

// The code CheckLaplaceExpression gives for any expression it rejects.
constexpr int32_t kRejected = 3;
// The first buffers ParseLaplace offers the parser, and the step they grow by.
constexpr int32_t kCapacityStep = 50;

using PluginCheck = int (*)(const char*);

FUNC_ERROR checkLaplaceExpression(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char* expression = stringOr(a, 0);
    YList<YString> plugins;
    sp_SearchDLLs(plugins, "devices", "Laplace_2.*", YList<YString>{});
    if (plugins.empty()) {
        double first[kCapacityStep], second[kCapacityStep];
        XSpiceParseLaplaceArgs parse{expression, first, 0, second, 0, LaplaceNotParsed, 0};
        sp_ParseLaplaceExpression(&parse);
        setInteger(r, parse.error != LaplaceOk ? kRejected : 0);
        return FuncOk;
    }
    const YString& path = plugins.first();
    auto check = reinterpret_cast<PluginCheck>(
        sp_GetLibraryFunction(path.c_str(), "laplace_CheckLaplaceExpression", 0, "", 0));
    // A plug-in without the entry point cannot vouch for the expression:
    // it is rejected rather than left without an answer.
    setInteger(r, check ? check(expression) : kRejected);
    sp_UnloadLibrary(path.c_str());
    return FuncOk;
}

// Result layout: the error code, the two degrees, then the numerator's and
// the denominator's coefficients; only the error code when the parse fails.
FUNC_ERROR parseLaplace(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char* expression = stringOr(a, 0);
    int32_t capacity = kCapacityStep;
    for (;;) {
        std::vector<double> first(static_cast<size_t>(capacity)), second(static_cast<size_t>(capacity));
        XSpiceParseLaplaceArgs parse{expression, first.data(), capacity, second.data(), capacity, LaplaceNotParsed, 0};
        if (sp_ParseLaplaceExpression(&parse) == 0) {
            const double code = parse.error;
            setReals(r, &code, 1);
            return FuncOk;
        }
        const int32_t highest = std::max(parse.firstCount, parse.secondCount);
        if (highest + 1 < capacity) {
            const int64_t n1 = int64_t(parse.firstCount) + 1, n2 = int64_t(parse.secondCount) + 1;
            double* out = r.makeRealVector(n1 + n2 + 3);
            out[0] = parse.error;
            out[1] = parse.firstCount;
            out[2] = parse.secondCount;
            std::copy(first.begin(), first.begin() + n1, out + 3);
            std::copy(second.begin(), second.begin() + n2, out + 3 + n1);
            return FuncOk;
        }
        // The parser has told the degrees: grow in whole steps straight to
        // the first capacity that holds them (the parser's degree limit
        // keeps this finite) instead of one step per parse.
        capacity = (highest + 1) / kCapacityStep * kCapacityStep + kCapacityStep;
    }
}

FUNC_ERROR getLaplaceErrorMessage(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char* message = "";
    sp_GetLaplaceErrMessage(intOr(a, 0, 0), &message);
    setString(r, message);
    return FuncOk;
}

// ---------------------------------------------------------------- init files

struct InitGroup {
    std::string name, prefix;
    std::vector<std::pair<std::string, std::string>> values;  // (path, value)
};

FUNC_ERROR parseTrivaneInit(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const auto stream = NewSpiceStream(stringOr(a, 0));
    if (!stream || !stream->valid()) return FuncOk;

    std::vector<InitGroup> groups;
    std::unordered_map<std::string, size_t> byName;  // folded name -> index in groups
    YString line;
    while (stream->gets(line)) {
        YArray<YString> tokens;
        if (sp_ScanLine(line.view(), " \t\r\n=", tokens, INT_MAX) < 3) continue;
        if (!equalNoCase(tokens[0].view(), ".INIT")) continue;
        const YString& quantity = tokens[1];
        const YString& value = tokens[2];

        // V(node) and I(node) name the node; anything else is the node.
        YArray<YString> parts;
        sp_ScanLine(quantity.view(), "()", parts, INT_MAX);
        std::string_view node = parts.empty() ? std::string_view() : parts[0].view();
        if (parts.count() > 1 && (equalNoCase(node, "v") || equalNoCase(node, "i"))) node = parts[1].view();

        const size_t dot = node.find('.');
        YString head(node.substr(0, dot));
        const std::string path(dot == std::string_view::npos ? std::string_view() : node.substr(dot + 1));
        // "prefix$name", or a bare name.
        YString prefix = head.strtok("$");
        std::string name = head.str();
        if (name.empty()) {
            name = prefix.str();
            prefix = "";
        }

        const std::string key = lowerAscii(name);
        auto it = byName.find(key);
        if (it == byName.end()) {
            it = byName.emplace(key, groups.size()).first;
            groups.push_back({name, prefix.str(), {}});
        }
        groups[it->second].values.emplace_back(path, value.str());
    }
    if (groups.empty()) return FuncOk;

    std::vector<std::string> out;
    out.reserve(groups.size());
    for (const InitGroup& g : groups) {
        std::string text = g.prefix + ";" + g.name;
        for (const auto& [path, value] : g.values) text.append(";").append(path).append("=").append(value);
        out.push_back(std::move(text));
    }
    setStrings(r, out);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"CheckLaplaceExpression", {String}, {}, 1, 1, handler<checkLaplaceExpression>, "", PyInteger2,   Plain},
    {"GetLaplaceErrorMessage", {Real},   {}, 1, 1, handler<getLaplaceErrorMessage>, "", PyString,     Plain},
    {"ParseLaplace",           {String}, {}, 1, 1, handler<parseLaplace>,           "", PyRealVector, Plain},
    {"ParseTrivaneInit",       {String}, {}, 1, 1, handler<parseTrivaneInit>,       "", PyStringList, Plain},
};
// clang-format on

}  // namespace
