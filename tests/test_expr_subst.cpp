// The expression substituter and the template resolver of the host.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Expr/Substitute.h"
#include "Expr/Template.h"

namespace {

// Replaces names found in a table (case-insensitively, as the module's
// SubstProbeExpression does) and records every offer.
class NameTable : public VecSubstExpressionObject {
public:
    std::map<std::string, std::string> table;
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
    bool substituteFunction(const YString& name, const std::vector<YString>& args, YString&) override {
        std::string s = name.str() + "(";
        for (size_t i = 0; i < args.size(); ++i) s += (i ? "|" : "") + args[i].str();
        functionsOffered.push_back(s + ")");
        return false;
    }
};

// The probe rewriting of ParseProbeExpression: V(n) -> (n), V(p, q) -> (p-q),
// I(x) -> x#p, collecting the names without repeats.
class ProbeRewriter : public VecSubstExpressionObject {
public:
    std::vector<std::string> nodes, currents;

    bool substituteFunction(const YString& name, const std::vector<YString>& args, YString& replacement) override {
        if (name == "V" && args.size() == 1) {
            add(nodes, args[0]);
            replacement = "(" + args[0].str() + ")";
        } else if (name == "V" && args.size() == 2) {
            add(nodes, args[0]);
            add(nodes, args[1]);
            replacement = "(" + args[0].str() + "-" + args[1].str() + ")";
        } else if (name == "I" && args.size() == 1) {
            add(currents, args[0]);
            replacement = args[0].str() + "#p";
        } else {
            std::string s = name.str() + "(";
            for (size_t i = 0; i < args.size(); ++i) s += (i ? ", " : "") + args[i].str();
            replacement = s + ")";
        }
        return true;
    }

private:
    static void add(std::vector<std::string>& list, const YString& name) {
        for (const std::string& n : list)
            if (n == name.str()) return;
        list.push_back(name.str());
    }
};

std::string substituted(const char* expression, VecSubstExpressionObject& hooks) {
    YString result, error;
    EXPECT_TRUE(vec_SubstituteExpression(expression, hooks, result, &error)) << error.c_str();
    EXPECT_TRUE(error.empty());
    return result.str();
}

}  // namespace

// --- names -----------------------------------------------------------------

TEST(ExprSubstNames, TableNamesAreReplacedOthersKept) {
    NameTable hooks;
    hooks.table = {{"a", "1"}, {"gain", "(2*k)"}};
    EXPECT_EQ(substituted("a + b*A", hooks), "1+b*1");
    EXPECT_EQ(substituted("Gain^2 & 'a'", hooks), "(2*k)^2&'a'") << "strings are not names";
    EXPECT_EQ(substituted("x", hooks), "x");
}

TEST(ExprSubstNames, OnlyNamesAreOffered) {
    NameTable hooks;
    hooks.table = {{"y", "Y"}};
    EXPECT_EQ(substituted("x = f(y, v[i]) + 3", hooks), "x = f(Y, v[i])+3");
    // Neither the assignment target nor the called function is a name here.
    EXPECT_EQ(hooks.namesOffered, (std::vector<std::string>{"y", "v", "i"}));
}

TEST(ExprSubstNames, ReplacementIsVerbatim) {
    NameTable hooks;
    hooks.table = {{"a", "p+q"}};
    EXPECT_EQ(substituted("a*2", hooks), "p+q*2") << "the hook parenthesises, not the substituter";
}

// --- functions ---------------------------------------------------------------

TEST(ExprSubstFunctions, ProbeCallsAreRewritten) {
    ProbeRewriter hooks;
    EXPECT_EQ(substituted("V(a)+V(b,c)*V(a)-I(R1)", hooks), "(a)+(b-c)*(a)-R1#p");
    EXPECT_EQ(hooks.nodes, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(hooks.currents, (std::vector<std::string>{"R1"}));
}

TEST(ExprSubstFunctions, OtherCallsAreRebuiltWithTheirSubstitutedArguments) {
    ProbeRewriter hooks;
    EXPECT_EQ(substituted("max(V(out), V(a, b, c), I())", hooks), "max((out), V(a, b, c), I())");
    EXPECT_EQ(substituted("db(V(X1.out)/V(in))", hooks), "db((X1.out)/(in))");
    EXPECT_EQ(hooks.nodes, (std::vector<std::string>{"out", "X1.out", "in"}));
}

TEST(ExprSubstFunctions, ArgumentsBeforeTheirCallOperatorsNever) {
    NameTable hooks;
    hooks.table = {{"n", "N1"}};
    substituted("-f(g(n, 'q'), [1, (2, 3)])[0] + Vec('x y')*h()", hooks);
    EXPECT_EQ(hooks.functionsOffered,
              (std::vector<std::string>{"g(N1|'q')", "f(g(N1, 'q')|[1, (2, 3)])", "Vec('x y')", "h()"}));
}

TEST(ExprSubstFunctions, ReplacedCallsReachTheOuterCall) {
    struct Inner : VecSubstExpressionObject {
        std::vector<std::string> seen;
        bool substituteFunction(const YString& name, const std::vector<YString>& args, YString& out) override {
            seen.push_back(name.str() + ":" + (args.empty() ? "" : args[0].str()));
            if (name == "g") { out = "G"; return true; }
            return false;
        }
    } hooks;
    EXPECT_EQ(substituted("f(g(1)) + f(2)", hooks), "f(G)+f(2)");
    EXPECT_EQ(hooks.seen, (std::vector<std::string>{"g:1", "f:G", "f:2"}));
}

TEST(ExprSubstFunctions, DefaultHooksOnlyReprint) {
    VecSubstExpressionObject hooks;
    EXPECT_EQ(substituted("  a+( b ) ;\n x=[1,2]", hooks), "a+b; x = [1, 2]");
    EXPECT_EQ(substituted("", hooks), "");
}

TEST(ExprSubstFunctions, SyntaxErrorLeavesTheExpression) {
    VecSubstExpressionObject hooks;
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
    std::map<std::string, std::string> table;
    std::vector<std::string> looked;

    bool lookupKeyword(const YString& keyword, YString& value) override {
        looked.push_back(keyword.str());
        auto it = table.find(keyword.str());
        if (it == table.end()) return false;
        value = it->second;
        return true;
    }
    const YString& context() const { return context_; }
};

// Installs an evaluator for one test and puts the previous one back after.
struct EvaluatorScope {
    explicit EvaluatorScope(std::function<bool(const YString&, YString&, YString&)> f)
        : saved(std::exchange(TemplateObject::expressionEvaluator, std::move(f))) {}
    ~EvaluatorScope() { TemplateObject::expressionEvaluator = std::move(saved); }
    std::function<bool(const YString&, YString&, YString&)> saved;
};

std::string resolve(TemplateObject& t, const char* text, bool expectFailed = false) {
    bool failed = !expectFailed;
    YString out = t.resolveTemplate(text, "ctx", failed);
    EXPECT_EQ(failed, expectFailed) << text;
    return out.str();
}

}  // namespace

TEST(ExprTemplate, KeywordsAreReplaced) {
    Keywords t;
    t.table = {{"name", "R1"}, {"value", "1k"}};
    EXPECT_EQ(resolve(t, "{name} = {value}"), "R1 = 1k");
    EXPECT_EQ(resolve(t, "{ name }"), "R1") << "the keyword is trimmed";
    EXPECT_EQ(resolve(t, "no braces"), "no braces");
    EXPECT_EQ(resolve(t, ""), "");
    EXPECT_EQ(t.context().str(), "ctx");
}

TEST(ExprTemplate, NestedBracesResolveInnerFirst) {
    Keywords t;
    t.table = {{"n", "1"}, {"V1", "out"}, {"k", "n"}};
    EXPECT_EQ(resolve(t, "x{V{n}}y"), "xouty");
    EXPECT_EQ(resolve(t, "{V{{k}}}"), "out");
    EXPECT_EQ(t.looked.back(), "V1");
}

TEST(ExprTemplate, EscapedBracesAreLiteral) {
    Keywords t;
    t.table = {{"a", "A"}, {"{a}", "braced"}};
    EXPECT_EQ(resolve(t, "\\{a\\} {a}"), "{a} A");
    EXPECT_EQ(resolve(t, "{\\{a\\}}"), "braced") << "escapes inside a braced text reach the lookup";
    EXPECT_EQ(resolve(t, "C:\\dir\\{a\\}"), "C:\\dir{a}");
    EXPECT_EQ(resolve(t, "C:\\dir\\ {a}"), "C:\\dir\\ A") << "other backslashes are copied";
}

TEST(ExprTemplate, FailuresKeepTheTextAndResolveTheRest) {
    Keywords t;
    t.table = {{"a", "A"}, {"n", "1"}};
    EXPECT_EQ(resolve(t, "{unknown} {a}", true), "{unknown} A");
    EXPECT_EQ(resolve(t, "{foo{n}} {a}", true), "{foo{n}} A") << "kept exactly as written";
    EXPECT_EQ(resolve(t, "{a", true), "{a");
    EXPECT_EQ(resolve(t, "a}", true), "a}");
    EXPECT_EQ(resolve(t, "{x{a}", true), "{xA") << "only the brace without partner is literal";
    EXPECT_EQ(resolve(t, "}{a}{", true), "}A{");
    EXPECT_EQ(resolve(t, "{}", true), "{}");
    EXPECT_EQ(resolve(t, "{\\}", true), "{}") << "an escaped brace is no partner";
}

TEST(ExprTemplate, ExpressionsGoToTheInstalledEvaluator) {
    Keywords t;
    t.table = {{"a", "A"}};
    {
        EvaluatorScope scope([](const YString& e, YString& value, YString& error) {
            if (e == "1+1") { value = "2"; return true; }
            error = "cannot evaluate";
            return false;
        });
        EXPECT_EQ(resolve(t, "{a}:{ 1+1 }"), "A:2");
        EXPECT_EQ(resolve(t, "{1+2}", true), "{1+2}");
        EXPECT_EQ(t.lastError().str(), "cannot evaluate");
    }
    EvaluatorScope none(nullptr);
    EXPECT_EQ(resolve(t, "{1+1}", true), "{1+1}") << "no evaluator: not resolved";
    EXPECT_EQ(t.lastError().str(), "no expression evaluator is installed");
}

TEST(ExprTemplate, KeywordsWinOverExpressions) {
    Keywords t;
    t.table = {{"x", "keyword"}};
    EvaluatorScope scope([](const YString&, YString& value, YString&) { value = "expression"; return true; });
    EXPECT_EQ(resolve(t, "{x} {y}"), "keyword expression");
}

TEST(ExprTemplate, ThrowingEvaluatorIsAFailure) {
    TemplateObject plain;
    EvaluatorScope scope([](const YString&, YString&, YString&) -> bool { throw std::runtime_error("boom"); });
    EXPECT_EQ(resolve(plain, "[{1/0}]", true), "[{1/0}]");
    EXPECT_EQ(plain.lastError().str(), "boom");
}

TEST(ExprTemplate, PlainObjectEvaluatesLikeEe) {
    // ee(e) resolves "{" + e + "}" with a plain TemplateObject.
    TemplateObject plain;
    EvaluatorScope scope([](const YString& e, YString& value, YString&) {
        value = "<" + e.str() + ">";
        return true;
    });
    EXPECT_EQ(resolve(plain, "{sin(0)}"), "<sin(0)>");
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
