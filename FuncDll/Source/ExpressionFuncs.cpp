// Conditional selection, bit fields, sequences of expressions, and the
// template and expression-rewriting functions built on the host's template
// resolver and expression substituter.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "ExprSubstitute.h"
#include "FuncKit.h"
#include "TemplateResolver.h"
#include "YContainers.h"

namespace {

using namespace cvmod;

const char* const kDifferentTypes = "Arguments 2 and 3 must be of the same type in function '%s'";

// --- Iff, IffV

FUNC_ERROR iff(const FuncArgs& args, FuncResult& out, MessageHandler& m) {
    if (args.type(1) != args.type(2)) {
        m.error(kDifferentTypes, args.functionName());
        return FuncFailed;
    }
    // An empty condition is false; an empty pick gives an empty result.
    const std::optional<double> condition = firstReal(args, 0);
    const int pick = condition && *condition != 0 ? 1 : 2;
    if (args.length(pick) > 0) {
        switch (args.type(pick)) {
        case VD_Real:
            if (const std::optional<double> v = firstReal(args, pick)) setReal(out, *v);
            break;
        case VD_Complex: *out.makeComplexVector(1) = args.complexData(pick)[0]; break;
        case VD_String: *out.makeStringVector(1) = copyString(args.stringData(pick)[0]); break;
        }
    }
    return FuncOk;
}

FUNC_ERROR iffV(const FuncArgs& args, FuncResult& out, MessageHandler& m) {
    if (args.type(1) != args.type(2)) {
        m.error(kDifferentTypes, args.functionName());
        return FuncFailed;
    }
    const int64_t n = args.length(1), nc = args.length(0);
    // A single condition applies to every element; an empty one to none.
    if ((nc != 1 && nc != n) || args.length(2) != n) return lengthsDiffer(m, args.functionName());
    out.setType(args.type(1), args.refType(1));
    out.allocate(n, AllocLikeArg, args.totalLength(1));
    out.copyRefFromArgs(args, AllocLikeArg, 1);
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
        for (int64_t k = 0; k < n; ++k) d[k] = copyString(take(k) ? a[k] : b[k]);
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

FUNC_ERROR field(const FuncArgs& args, FuncResult& out, MessageHandler&) {
    const std::optional<double> value = firstReal(args, 0), from = firstReal(args, 1), to = firstReal(args, 2);
    if (value && from && to) {
        const int64_t p = bitOf(*from), q = bitOf(*to);
        setInteger(out, int32_t(fieldBits(wordOf(*value), std::max(p, q), std::min(p, q))));
    }
    return FuncOk;
}

FUNC_ERROR fieldV(const FuncArgs& args, FuncResult& out, MessageHandler&) {
    const int64_t nh = args.length(1), nl = args.length(2);
    const int64_t n = std::min(std::max(nh, nl), args.length(0));
    out.setType(VD_Real, VD_Real);
    out.allocate(n, AllocLikeArg, args.totalLength(0));
    out.copyRefFromArgs(args, AllocLikeArg, 0);
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
    return FuncOk;
}

// --- ev

// The script has already evaluated every argument, in order: the value of
// the sequence is the last one, passed on as it is.
FUNC_ERROR ev(const FuncArgs& args, FuncResult& out, MessageHandler&) {
    const cv::ValuePtr& last = valueOf(args, args.numArgs() - 1);
    if (last) {
        if (args.refLength(args.numArgs() - 1) != 0)
            out.copyVector(last, last);
        else
            out.copyVector(last);
    }
    return FuncOk;
}

// --- ee, ResolveTemplate, rt

FUNC_ERROR ee(const FuncArgs& args, FuncResult& out, MessageHandler&, const FunctionRunTime& runTime) {
    TemplateObject resolver(&runTime);
    bool failed = false;
    YString text(std::string("{") + stringOr(args, 0) + "}");
    YString value = resolver.resolveTemplate(text, "", failed);
    if (failed && args.numArgs() > 1) value = stringOr(args, 1);
    setString(out, value.view());
    return FuncOk;
}

// Case-insensitive names -> values from the first pairs of two string lists.
YHashTable<YString> nameTable(const FuncArgs& args, int namesArg, int valuesArg) {
    YHashTable<YString> table(true);
    const int32_t n = std::min(args.size(namesArg), args.size(valuesArg));
    const char *const *names = args.stringData(namesArg), *const *values = args.stringData(valuesArg);
    for (int32_t i = 0; i < n; ++i) table.add(YString(names[i] ? names[i] : ""), YString(values[i] ? values[i] : ""));
    return table;
}

class GenTemplateObject : public TemplateObject {
public:
    GenTemplateObject(const YHashTable<YString>& table, const FunctionRunTime& runTime)
        : TemplateObject(&runTime), table_(table) {}
    bool lookupKeyword(const YString& keyword, YString& value) override {
        const YString* v = table_.find(keyword);
        if (!v) return false;
        value = *v;
        return true;
    }

private:
    const YHashTable<YString>& table_;
};

FUNC_ERROR resolveTemplate(const FuncArgs& args, FuncResult& out, MessageHandler&, const FunctionRunTime& runTime) {
    YHashTable<YString> table = nameTable(args, 1, 2);
    GenTemplateObject resolver(table, runTime);
    bool failed = false;
    YString value = resolver.resolveTemplate(stringOr(args, 0), "", failed);
    if (failed && args.numArgs() > 3) value = stringOr(args, 3);
    setString(out, value.view());
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

FUNC_ERROR substProbeExpression(const FuncArgs& args, FuncResult& out, MessageHandler&) {
    YHashTable<YString> table = nameTable(args, 1, 2);
    MapProbeSubstExpressionObject hooks(table);
    YString rewritten;
    vec_SubstituteExpression(stringOr(args, 0), hooks, rewritten);
    setString(out, rewritten.view());
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

FUNC_ERROR parseProbeExpression(const FuncArgs& args, FuncResult& out, MessageHandler&) {
    ParseProbeSubstExpressionObject hooks;
    YString rewritten;
    vec_SubstituteExpression(stringOr(args, 0), hooks, rewritten);
    std::vector<YString> list{rewritten, YString((long long)hooks.nodes.size()),
                              YString((long long)hooks.currents.size())};
    list.insert(list.end(), hooks.nodes.begin(), hooks.nodes.end());
    list.insert(list.end(), hooks.currents.begin(), hooks.currents.end());
    setStrings(out, list);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"Iff",                  {Real, Any, Any},               {},                                   3, 3, handler<iff>,                  "", PyVector,     Plain},
    {"IffV",                 {Real, Any, Any},               {PerDivision},                        3, 3, handler<iffV>,                 "", PyVector,     Plain},
    {"Field",                {Real, Real, Real},             {},                                   3, 3, handler<field>,                "", PyInteger,    Plain},
    {"FieldV",               {Real, Real, Real},             {PerDivision, PerDivision, PerDivision}, 3, 3, handler<fieldV>,             "", PyRealVector, Plain},
    {"ev",                   {AnyVector, AnyVector, AnyVector, AnyVector, AnyVector, AnyVector, AnyVector, AnyVector},
                                                             {},                                   1, 8, handler<ev>,                   "", PyVector,     Plain},
    {"ee",                   {String, String},               {},                                   1, 2, handler<ee>,                   "", PyString,     Plain},
    {"ResolveTemplate",      {String, String, String, String}, {},                                 3, 4, handler<resolveTemplate>,      "", PyString,     Plain},
    {"rt",                   {String, String, String, String}, {},                                 3, 4, handler<resolveTemplate>,      "", PyString,     Plain},
    {"SubstProbeExpression", {String, String, String},       {},                                   3, 3, handler<substProbeExpression>, "", PyString,     Plain},
    {"ParseProbeExpression", {String},                       {},                                   1, 1, handler<parseProbeExpression>, "", PyStringList, Plain},
};
// clang-format on

}  // namespace
