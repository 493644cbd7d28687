// Conditional selection, bit fields, sequences of expressions, and the
// template and expression-rewriting functions built on the host's template
// resolver and expression substituter.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Expr/Substitute.h"
#include "Expr/Template.h"
#include "FuncArgs.h"
#include "FuncContract.h"
#include "YContainers.h"

namespace {

using Messages = YRef<MessageHandler>;

char* copyOf(const char* s) { return strdup(s ? s : ""); }

const char* firstString(const FuncArgsMinimal& args, int i) {
    const char* const* s = args.stringData(i);
    return s && args.length(i) > 0 && s[0] ? s[0] : "";
}

// --- Iff, IffV

FUNC_ERROR iff(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages messages, const ScpParseContext&,
               const FunctionRunTime&) {
    if (args.type(1) != args.type(2)) {
        result->finish();
        messages->error("Arguments 2 and 3 must be of the same type in function '%s'", result->resultName());
        return FuncFailed;
    }
    // An empty condition is false; an empty pick gives an empty result.
    bool condition = args.length(0) > 0 && args.realData(0)[0] != 0;
    int pick = condition ? 1 : 2;
    if (args.length(pick) > 0) {
        switch (args.type(pick)) {
        case VD_Real: *result->makeRealVector(1) = args.realData(pick)[0]; break;
        case VD_Complex: *result->makeComplexVector(1) = args.complexData(pick)[0]; break;
        case VD_String: *result->makeStringVector(1) = copyOf(args.stringData(pick)[0]); break;
        }
    }
    result->finish();
    return FuncOk;
}

FUNC_ERROR iffV(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages messages, const ScpParseContext&,
                const FunctionRunTime&) {
    FuncResult& out = result->funcResult();
    const FuncArgs& in = args.funcArgs();
    out.finish();
    if (args.type(1) != args.type(2)) {
        messages->error("Arguments 2 and 3 must be of the same type in function '%s'", result->resultName());
        return FuncFailed;
    }
    const int64_t n = args.length(1), nc = args.length(0);
    // A single condition applies to every element; an empty one to none.
    if ((nc != 1 && nc != n) || args.length(2) != n) {
        messages->error("Argument vectors must be of the same length in function '%s'", result->resultName());
        return FuncFailed;
    }
    out.setType(args.type(1), args.refType(1));
    out.allocate(n, AllocLikeArg, in.totalLength(1));
    out.copyRefFromArgs(in, AllocLikeArg, 1);
    const double* c = args.realData(0);
    auto take = [&](int64_t k) { return c[nc == 1 ? 0 : k] != 0; };
    switch (args.type(1)) {
    case VD_Real: {
        const double *a = args.realData(1), *b = args.realData(2);
        double* d = out.data();
        for (int64_t k = 0; k < n; ++k) d[k] = take(k) ? a[k] : b[k];
        break;
    }
    case VD_Complex: {
        const cplx *a = args.complexData(1), *b = args.complexData(2);
        cplx* d = out.complexData();
        for (int64_t k = 0; k < n; ++k) d[k] = take(k) ? a[k] : b[k];
        break;
    }
    case VD_String: {
        const char *const *a = args.stringData(1), *const *b = args.stringData(2);
        char** d = out.stringData();
        for (int64_t k = 0; k < n; ++k) d[k] = copyOf(take(k) ? a[k] : b[k]);
        break;
    }
    }
    return FuncOk;
}

// --- Field, FieldV

// The 32-bit word of a value: the low 32 bits of its integer part (two's
// complement for negative values); NaN and infinities give 0.
uint32_t wordOf(double v) {
    if (!std::isfinite(v)) return 0;
    double m = std::fmod(std::trunc(v), 4294967296.0);
    if (m < 0) m += 4294967296.0;
    return uint32_t(m);
}

// A bit position, truncated toward zero; far-out values only need to stay
// far out, NaN reads as bit 0.
int64_t bitOf(double p) {
    if (std::isnan(p)) return 0;
    return int64_t(std::clamp(std::trunc(p), -1e9, 1e9));
}

// Bits lo ... hi of w moved down to bit 0, in 32 bits. Bits outside 0 ... 31
// of the word read as 0, so any pair of positions gives a defined result.
uint32_t fieldBits(uint32_t w, int64_t hi, int64_t lo) {
    if (hi < 0 || lo > 31 || hi < lo) return 0;
    uint64_t v = lo >= 0 ? uint64_t(w) >> lo : (-lo >= 64 ? 0 : uint64_t(w) << -lo);
    int64_t width = hi - lo + 1;
    if (width < 64) v &= (uint64_t(1) << width) - 1;
    return uint32_t(v);
}

FUNC_ERROR field(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages, const ScpParseContext&,
                 const FunctionRunTime&) {
    if (args.length(0) > 0 && args.length(1) > 0 && args.length(2) > 0) {
        int64_t p = bitOf(args.realData(1)[0]), q = bitOf(args.realData(2)[0]);
        uint32_t bits = fieldBits(wordOf(args.realData(0)[0]), std::max(p, q), std::min(p, q));
        *result->makeIntegerScalar() = int32_t(bits);
    }
    result->finish();
    return FuncOk;
}

FUNC_ERROR fieldV(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages, const ScpParseContext&,
                  const FunctionRunTime&) {
    FuncResult& out = result->funcResult();
    const FuncArgs& in = args.funcArgs();
    const int64_t nh = args.length(1), nl = args.length(2);
    const int64_t n = std::min(std::max(nh, nl), args.length(0));
    out.setType(VD_Real, VD_Real);
    out.allocate(n, AllocLikeArg, in.totalLength(0));
    out.copyRefFromArgs(in, AllocLikeArg, 0);
    const double *v = args.realData(0), *ph = args.realData(1), *pl = args.realData(2);
    double* d = out.data();
    // A shorter bit vector repeats its last position; an empty one leaves no
    // valid field (-1, as for reversed positions).
    for (int64_t k = 0; k < n; ++k) {
        if (nh == 0 || nl == 0) {
            d[k] = -1.0;
            continue;
        }
        int64_t hi = bitOf(ph[std::min(k, nh - 1)]), lo = bitOf(pl[std::min(k, nl - 1)]);
        d[k] = hi >= lo ? double(fieldBits(wordOf(v[k]), hi, lo)) : -1.0;
    }
    out.finish();
    return FuncOk;
}

// --- ev

FUNC_ERROR ev(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages, const ScpParseContext&,
              const FunctionRunTime&) {
    FuncResult& out = result->funcResult();
    const cv::ValuePtr& last = args.funcArgs().vector(args.numArgs() - 1);
    if (last) {
        if (args.refLength(args.numArgs() - 1) != 0)
            out.copyVector(last, last);
        else
            out.copyVector(last);
    }
    out.finish();
    return FuncOk;
}

// --- ee, ResolveTemplate, rt

FUNC_ERROR ee(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages, const ScpParseContext&,
              const FunctionRunTime&) {
    TemplateObject resolver;
    bool failed = false;
    YString text(std::string("{") + firstString(args, 0) + "}");
    YString value = resolver.resolveTemplate(text, "", failed);
    if (failed && args.numArgs() > 1) value = firstString(args, 1);
    *result->makeStringScalar() = value.copy();
    result->finish();
    return FuncOk;
}

// Case-insensitive names -> values from the first pairs of two string lists.
YHashTable<YString> nameTable(const FuncArgsMinimal& args, int namesArg, int valuesArg) {
    YHashTable<YString> table(true);
    const int32_t n = std::min(args.size(namesArg), args.size(valuesArg));
    const char *const *names = args.stringData(namesArg), *const *values = args.stringData(valuesArg);
    for (int32_t i = 0; i < n; ++i) table.add(YString(names[i] ? names[i] : ""), YString(values[i] ? values[i] : ""));
    return table;
}

class GenTemplateObject : public TemplateObject {
public:
    explicit GenTemplateObject(const YHashTable<YString>& table) : table_(table) {}
    bool lookupKeyword(const YString& keyword, YString& value) override {
        const YString* v = table_.find(keyword);
        if (!v) return false;
        value = *v;
        return true;
    }

private:
    const YHashTable<YString>& table_;
};

FUNC_ERROR resolveTemplate(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages,
                           const ScpParseContext&, const FunctionRunTime&) {
    YHashTable<YString> table = nameTable(args, 1, 2);
    GenTemplateObject resolver(table);
    bool failed = false;
    YString value = resolver.resolveTemplate(firstString(args, 0), "", failed);
    if (failed && args.numArgs() > 3) value = firstString(args, 3);
    *result->makeStringScalar() = value.copy();
    result->finish();
    return FuncOk;
}

// --- SubstProbeExpression, ParseProbeExpression

class MapProbeSubstExpressionObject : public VecSubstExpressionObject {
public:
    explicit MapProbeSubstExpressionObject(const YHashTable<YString>& table) : table_(table) {}
    bool substituteName(const YString& name, YString& replacement) override {
        const YString* v = table_.find(name);
        if (!v) return false;
        replacement = *v;
        return true;
    }

private:
    const YHashTable<YString>& table_;
};

FUNC_ERROR substProbeExpression(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages,
                                const ScpParseContext&, const FunctionRunTime&) {
    YHashTable<YString> table = nameTable(args, 1, 2);
    MapProbeSubstExpressionObject hooks(table);
    YString rewritten;
    vec_SubstituteExpression(firstString(args, 0), hooks, rewritten);
    *result->makeStringScalar() = rewritten.copy();
    result->finish();
    return FuncOk;
}

// Rewrites probe calls into plain names and collects the node names (V) and
// the device names whose currents are probed (I). Names compare ignoring
// case, as node and device names do.
class ParseProbeSubstExpressionObject : public VecSubstExpressionObject {
public:
    std::vector<YString> nodes, currents;

    bool substituteFunction(const YString& name, const std::vector<YString>& args, YString& replacement) override {
        if (name.compareNoCase("V") == 0 && args.size() == 1) {
            addOnce(nodes, args[0]);
            replacement = "(" + args[0].str() + ")";
        } else if (name.compareNoCase("V") == 0 && args.size() == 2) {
            addOnce(nodes, args[0]);
            addOnce(nodes, args[1]);
            replacement = "(" + args[0].str() + "-" + args[1].str() + ")";
        } else if (name.compareNoCase("I") == 0 && args.size() == 1) {
            addOnce(currents, args[0]);
            replacement = args[0].str() + "#p";
        } else {
            std::string call = name.str() + "(";
            for (size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + args[i].str();
            replacement = call + ")";
        }
        return true;
    }

private:
    static void addOnce(std::vector<YString>& list, const YString& name) {
        for (const YString& s : list)
            if (s.compareNoCase(name.view()) == 0) return;
        list.push_back(name);
    }
};

FUNC_ERROR parseProbeExpression(const FuncArgsMinimal& args, FuncResultMinimal* result, Messages,
                                const ScpParseContext&, const FunctionRunTime&) {
    ParseProbeSubstExpressionObject hooks;
    YString rewritten;
    vec_SubstituteExpression(firstString(args, 0), hooks, rewritten);
    const size_t n = 3 + hooks.nodes.size() + hooks.currents.size();
    char** out = result->makeStringVector(int64_t(n));
    size_t k = 0;
    out[k++] = rewritten.copy();
    out[k++] = YString((long long)hooks.nodes.size()).copy();
    out[k++] = YString((long long)hooks.currents.size()).copy();
    for (const YString& s : hooks.nodes) out[k++] = s.copy();
    for (const YString& s : hooks.currents) out[k++] = s.copy();
    result->finish();
    return FuncOk;
}

const FunctionOption kNoOptions{};

// clang-format off
FuncConstruct registrations[] = {
    {"Iff",                  {4, 3, 3},                  {},        3, 3, iff,                  "", PyVector,     kNoOptions},
    {"IffV",                 {4, 3, 3},                  {1},       3, 3, iffV,                 "", PyVector,     kNoOptions},
    {"Field",                {4, 4, 4},                  {},        3, 3, field,                "", PyInteger,    kNoOptions},
    {"FieldV",               {4, 4, 4},                  {1, 1, 1}, 3, 3, fieldV,               "", PyRealVector, kNoOptions},
    {"ev",                   {2, 2, 2, 2, 2, 2, 2, 2},   {},        1, 8, ev,                   "", PyVector,     kNoOptions},
    {"ee",                   {1, 1},                     {},        1, 2, ee,                   "", PyString,     kNoOptions},
    {"ResolveTemplate",      {1, 1, 1, 1},               {},        3, 4, resolveTemplate,      "", PyString,     kNoOptions},
    {"rt",                   {1, 1, 1, 1},               {},        3, 4, resolveTemplate,      "", PyString,     kNoOptions},
    {"SubstProbeExpression", {1, 1, 1},                  {},        3, 3, substProbeExpression, "", PyString,     kNoOptions},
    {"ParseProbeExpression", {1},                        {},        1, 1, parseProbeExpression, "", PyStringList, kNoOptions},
};
// clang-format on

}  // namespace
