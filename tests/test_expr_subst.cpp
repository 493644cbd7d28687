// The expression substituter and the template resolver of the host.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ExprSubstitute.h"
#include "FuncContract.h"
#include "TemplateResolver.h"

namespace {

// Replaces names found in a table (case-insensitively, as the module's
// SubstProbeExpression does) and calls found in another, and records every offer.
class NameTable : public VecSubstExpressionObject {
public:
    std::map<std::string, std::string> table, calls;
    std::vector<std::string> namesOffered, functionsOffered;

    bool substituteName(const YString& name, YString& replacement) override {
        namesOffered.push_back(name.str());
        YString key(name);
        key.tolower();
        auto it = table.find(key.str());
        if (it == table.end()) return false;
        replacement = it->second;
        return true;
    }
    bool substituteFunction(const YString& name, const std::vector<YString>& args, YString& out) override {
        std::string s = name.str() + "(";
        for (size_t i = 0; i < args.size(); ++i) s += (i ? "|" : "") + args[i].str();
        functionsOffered.push_back(s + ")");
        auto it = calls.find(name.str());
        if (it != calls.end()) out = it->second;
        return it != calls.end();
    }
};

std::string substituted(const char* expression, VecSubstExpressionObject& hooks) {
    YString result, error;
    EXPECT_TRUE(vec_SubstituteExpression(expression, hooks, result, &error)) << error.c_str();
    EXPECT_TRUE(error.empty());
    return result.str();
}

}  // namespace

TEST(ExprSubstNames, OnlyNamesInTheTableAreReplacedVerbatim) {
    NameTable hooks;
    hooks.table = {{"a", "1"}, {"gain", "(2*k)"}, {"y", "Y"}, {"s", "p+q"}};
    EXPECT_EQ(substituted("a + b*A", hooks), "1+b*1");
    EXPECT_EQ(substituted("Gain^2 & 'a'", hooks), "(2*k)^2&'a'") << "strings are not names";
    EXPECT_EQ(substituted("s*2", hooks), "p+q*2") << "the hook parenthesises, not the substituter";
    hooks.namesOffered.clear();
    EXPECT_EQ(substituted("x = f(y, v[i]) + 3", hooks), "x = f(Y, v[i])+3");
    // Neither the assignment target nor the called function is a name here.
    EXPECT_EQ(hooks.namesOffered, (std::vector<std::string>{"y", "v", "i"}));
}

// --- functions ---------------------------------------------------------------

// The probe rewriting built on these hooks is tested through
// ParseProbeExpression and SubstProbeExpression.
TEST(ExprSubstFunctions, ArgumentsBeforeTheirCallAndReplacedCallsReachTheOuterCall) {
    NameTable hooks;
    hooks.table = {{"n", "N1"}};
    hooks.calls = {{"k", "K"}};
    EXPECT_EQ(substituted("-f(g(n, 'q'), [1, (2, 3)])[0] + Vec('x y')*h(k(1))", hooks),
              "-f(g(N1, 'q'), [1, (2, 3)])[0]+Vec('x y')*h(K)");
    // Operators are never offered.
    EXPECT_EQ(hooks.functionsOffered, (std::vector<std::string>{"g(N1|'q')", "f(g(N1, 'q')|[1, (2, 3)])",
                                                                "Vec('x y')", "k(1)", "h(K)"}));
}

TEST(ExprSubstFunctions, DefaultHooksReprintAndSyntaxErrorsLeaveTheExpression) {
    VecSubstExpressionObject hooks;
    EXPECT_EQ(substituted("  a+( b ) ;\n x=[1,2]", hooks), "a+b; x = [1, 2]");
    EXPECT_EQ(substituted("", hooks), "");
    YString result = "stale", error;
    EXPECT_FALSE(vec_SubstituteExpression("V(a) +", hooks, result, &error));
    EXPECT_EQ(result.str(), "V(a) +");
    EXPECT_EQ(error.str(), "Syntax error at line 1, column 7: expected an expression, found end of input");
    EXPECT_FALSE(vec_SubstituteExpression("'open", hooks, result));
    EXPECT_EQ(result.str(), "'open");
}

// --- templates -----------------------------------------------------------------

namespace {

class Keywords : public TemplateObject {
public:
    explicit Keywords(const FunctionRunTime* runTime = nullptr) : TemplateObject(runTime) {}
    std::map<std::string, std::string> table;

    bool lookupKeyword(const YString& keyword, YString& value) override {
        auto it = table.find(keyword.str());
        if (it == table.end()) return false;
        value = it->second;
        return true;
    }
};

// A run-time whose evaluator is the given function.
struct TestRunTime : FunctionRunTime {
    explicit TestRunTime(std::function<bool(const YString&, YString&, YString&)> f) : evaluator(std::move(f)) {}
    bool evaluate(const YString& e, YString& value, YString& error) const override { return evaluator(e, value, error); }
    std::function<bool(const YString&, YString&, YString&)> evaluator;
};

std::string resolve(TemplateObject& t, const char* text, bool expectFailed = false) {
    bool failed = !expectFailed;
    YString out = t.resolveTemplate(text, "ctx", failed);
    EXPECT_EQ(failed, expectFailed) << text;
    return out.str();
}

}  // namespace

TEST(ExprTemplate, KeywordsNestedInnerFirstAndEscapedBraces) {
    Keywords t;
    t.table = {{"name", "R1"}, {"value", "1k"}, {"n", "1"}, {"V1", "out"}, {"k", "n"}, {"a", "A"}, {"{a}", "braced"}};
    const std::pair<const char*, const char*> cases[] = {
        {"{name} = {value}", "R1 = 1k"}, {"{ name }", "R1"}, {"", ""},
        {"x{V{n}}y", "xouty"}, {"\\{a\\} {a}", "{a} A"}, {"C:\\dir\\{a\\}", "C:\\dir{a}"},
        // Escapes inside a braced text reach the lookup; other backslashes are copied.
        {"{\\{a\\}}", "braced"}, {"C:\\dir\\ {a}", "C:\\dir\\ A"}, {"{V{{k}}}", "out"}};
    for (auto [text, expected] : cases) EXPECT_EQ(resolve(t, text), expected) << text;
}

TEST(ExprTemplate, FailuresKeepTheTextAndResolveTheRest) {
    Keywords t;
    t.table = {{"a", "A"}, {"n", "1"}};
    // Kept exactly as written; only a brace without partner is literal, and
    // an escaped brace is no partner.
    const std::pair<const char*, const char*> cases[] = {
        {"{unknown} {a}", "{unknown} A"}, {"{foo{n}} {a}", "{foo{n}} A"}, {"{a", "{a"}, {"a}", "a}"},
        {"{x{a}", "{xA"}, {"}{a}{", "}A{"}, {"{}", "{}"}, {"{\\}", "{}"}};
    for (auto [text, expected] : cases) EXPECT_EQ(resolve(t, text, true), expected) << text;
}

TEST(ExprTemplate, ExpressionsGoToTheRunTimesEvaluatorAfterKeywords) {
    TestRunTime runTime([](const YString& e, YString& value, YString& error) {
        if (e == "1+1") { value = "2"; return true; }
        error = "cannot evaluate";
        return false;
    });
    Keywords t(&runTime);
    t.table = {{"a", "A"}};
    EXPECT_EQ(resolve(t, "{a}:{ 1+1 }"), "A:2");
    EXPECT_EQ(resolve(t, "{1+2}", true), "{1+2}");
    EXPECT_EQ(t.lastError().str(), "cannot evaluate");
    Keywords none;
    EXPECT_EQ(resolve(none, "{1+1}", true), "{1+1}") << "no run-time: not resolved";
    EXPECT_EQ(none.lastError().str(), "no expression evaluator is installed");

    // Keywords win over expressions; an evaluator that throws fails the braced text.
    TestRunTime echo([](const YString& e, YString& value, YString&) {
        value = "<" + e.str() + ">";
        return true;
    });
    Keywords both(&echo);
    both.table = {{"x", "keyword"}};
    EXPECT_EQ(resolve(both, "{x} {y}"), "keyword <y>");
    TestRunTime throwing([](const YString&, YString&, YString&) -> bool { throw std::runtime_error("boom"); });
    TemplateObject plain(&throwing);
    EXPECT_EQ(resolve(plain, "[{1/0}]", true), "[{1/0}]");
    EXPECT_EQ(plain.lastError().str(), "boom");
}

TEST(ExprTemplate, DeepNestingNeedsNoStack) {
    Keywords t;
    t.table = {{"", ""}};
    std::string deep(50000, '{');
    deep += std::string(50000, '}');
    EXPECT_EQ(resolve(t, deep.c_str()), "");
    std::string open(200000, '{');
    EXPECT_EQ(resolve(t, open.c_str(), true), open);
}
