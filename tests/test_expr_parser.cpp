// The syntax half of the expression language: lexing, parsing, printing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <tuple>

#include "Expr/Parser.h"

using namespace cv::expr;

namespace {

// The tree in function form, every operator spelled as its function, so that
// a test states exactly how an expression was grouped.
std::string shape(const Node& node) {
    switch (node.kind) {
    case NodeKind::Number: return node.as<NumberNode>().text;
    case NodeKind::String: return "'" + node.as<StringNode>().value + "'";
    case NodeKind::Name: return node.as<NameNode>().name;
    case NodeKind::Raw: return "raw<" + node.as<RawNode>().text + ">";
    case NodeKind::Assign: return node.as<AssignNode>().name + "=" + shape(*node.as<AssignNode>().value);
    case NodeKind::Vector:
    case NodeKind::Call: {
        const bool vector = node.kind == NodeKind::Vector;
        const auto& items = vector ? node.as<VectorNode>().elements : node.as<CallNode>().args;
        std::string s = vector ? "[" : node.as<CallNode>().name + "(";
        for (size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + shape(*items[i]);
        return s + (vector ? "]" : ")");
    }
    }
    return "?";
}

std::string shapeOf(std::string_view text) {
    Program p = parseProgram(text);
    std::string s;
    for (size_t i = 0; i < p.statements.size(); ++i) s += (i ? " ; " : "") + shape(*p.statements[i]);
    return s;
}

std::string reprint(std::string_view text) { return serialise(parseProgram(text)); }

const NumberNode& number(const Program& p) {
    EXPECT_EQ(p.statements.size(), 1u);
    EXPECT_EQ(p.statements[0]->kind, NodeKind::Number);
    return p.statements[0]->as<NumberNode>();
}

ParseError errorOf(std::string_view text) {
    try {
        parseProgram(text);
    } catch (const ParseError& e) {
        return e;
    }
    ADD_FAILURE() << "no syntax error in: " << text;
    return ParseError("none", 0, 0, 0);
}

}  // namespace

// Every operator spelled as its function; "<>" builds the call "!=" does.
TEST(ExprPrecedence, GroupsAsTheTableSays) {
    const std::pair<const char*, const char*> cases[] = {
        {"1+2*3", "_Plus(1, _Times(2, 3))"}, {"a-b-c", "_Minus(_Minus(a, b), c)"},
        {"a/b*c%d", "_Mod(_Times(_Divide(a, b), c), d)"}, {"2^3^2", "_Power(2, _Power(3, 2))"},
        {"-2^2", "_UMinus(_Power(2, 2))"}, {"2^-2", "_Power(2, _UMinus(2))"}, {"-a*b", "_Times(_UMinus(a), b)"},
        {"+a", "a"}, {"!a && b", "_And(_Not(a), b)"}, {"a & b + c", "_Concat(a, _Plus(b, c))"},
        {"a + b & c", "_Concat(_Plus(a, b), c)"}, {"a & b == c", "_Eq(_Concat(a, b), c)"},
        {"a < b == c", "_Eq(_Lt(a, b), c)"}, {"a < b < c", "_Lt(_Lt(a, b), c)"},
        {"a == b && c != d", "_And(_Eq(a, b), _Ne(c, d))"}, {"a || b && c", "_Or(a, _And(b, c))"},
        {"a <> b", "_Ne(a, b)"}, {"a <= b", "_Le(a, b)"}, {"a > b", "_Gt(a, b)"}, {"a >= b", "_Ge(a, b)"},
        {"(a, b, c)", "_Comma(_Comma(a, b), c)"}, {"(1+2, -3)*2", "_Times(_Comma(_Plus(1, 2), _UMinus(3)), 2)"},
        {"f((a, b))", "f(_Comma(a, b))"}, {"v[i][j]", "_Index(_Index(v, i), j)"},
        {"-v[i]^2", "_UMinus(_Power(_Index(v, i), 2))"}, {"f(x)[0]", "_Index(f(x), 0)"},
        {"[1, a+b][0]", "_Index([1, _Plus(a, b)], 0)"}, {"[]", "[]"}, {"x = 1 + 2", "x=_Plus(1, 2)"},
        {"Vec('x y')*2", "_Times(Vec('x y'), 2)"},
    };
    for (auto [text, expected] : cases) EXPECT_EQ(shapeOf(text), expected) << text;
}

TEST(ExprNumbers, SuffixesAndUnits) {
    // The suffix folds into the exponent: "2.5u" is exactly the double nearest
    // 2.5e-6; an 'e' without exponent digits is a unit letter.
    const std::pair<const char*, double> cases[] = {
        {".5", 0.5}, {"3.", 3}, {"2e-3", 2e-3}, {"2E+3", 2e3}, {"1f", 1e-15}, {"1m", 1e-3}, {"1k", 1e3},
        {"1meg", 1e6}, {"1t", 1e12}, {"1M", 1e-3}, {"1MEG", 1e6}, {"2.5u", 2.5e-6}, {"2.5uF", 2.5e-6},
        {"1kohm", 1e3}, {"3megHz", 3e6}, {"1mohm", 1e-3}, {"2e3k", 2e6}, {"1.5e-3meg", 1.5e3}, {"10µF", 10},
        {"1e", 1}, {"2ex", 2}, {"0x1F", 31}, {"0XfF", 255}, {"0x1Fg", 31}, {"1e400", HUGE_VAL}, {"1e-400", 0},
        {"1234e-3000000", 0},
    };
    for (auto [text, value] : cases) {
        Program p = parseProgram(text);
        EXPECT_EQ(number(p).value, value) << text;
        EXPECT_EQ(serialise(p), text) << "the source text is kept";
    }
}

TEST(ExprNumbers, WhatIsNotANumber) {
    for (auto [text, expected] : {std::pair{"a1", "a1"}, {"1-2", "_Minus(1, 2)"}, {"1e-x", "_Minus(1e, x)"}})
        EXPECT_EQ(shapeOf(text), expected);
    EXPECT_NE(errorOf("0x").reason.find("hexadecimal"), std::string::npos);
    EXPECT_NE(errorOf("1k5").reason.find("number '5'"), std::string::npos);
    EXPECT_NE(errorOf("1.2.3").reason.find("number '.3'"), std::string::npos);
}

TEST(ExprStrings, QuotesEscapesAndUnterminatedStrings) {
    auto value = [](std::string_view text) {
        Program p = parseProgram(text);
        return p.statements.at(0)->as<StringNode>().value;
    };
    // Unknown escapes are kept.
    const std::pair<const char*, const char*> values[] = {
        {"\"abc\"", "abc"}, {"''", ""}, {R"('a\'b')", "a'b"}, {R"("a\"b")", "a\"b"}, {R"('a"b')", "a\"b"},
        {R"('a\\b')", "a\\b"}, {R"('a\nb\tc')", "a\nb\tc"}, {R"('C:\data')", "C:\\data"}};
    for (auto [text, expected] : values) EXPECT_EQ(value(text), expected) << text;
    const std::pair<const char*, const char*> printed[] = {
        {R"("it's")", R"("it's")"}, {R"('say "hi"')", R"('say "hi"')"}, {R"('a\'b\\c\nd')", R"('a\'b\\c\nd')"},
        {R"('C:\data')", R"('C:\\data')"}};
    for (auto [text, expected] : printed) EXPECT_EQ(reprint(text), expected) << text;
    for (const char* text : {"'abc", "x & 'abc\\'", "'abc\\"}) EXPECT_EQ(errorOf(text).reason, "unterminated string");
    EXPECT_EQ(errorOf("x & 'abc").column, 5u) << "the position of the opening quote";
}

// Names keep their case and special characters; newlines inside brackets are blanks.
TEST(ExprStatements, NamesSeparatorsCommentsAndAssignments) {
    const std::pair<const char*, const char*> cases[] = {
        {"R1#p + X1.out*v:out", "_Plus(R1#p, _Times(X1.out, v:out))"}, {"$a_b$ - _x", "_Minus($a_b$, _x)"},
        {"MixedCase", "MixedCase"}, {"Vµ", "Vµ"}, {"a.b.c:d#e", "a.b.c:d#e"}, {"f (x)", "f(x)"},
        {"x = 3; y = x^2", "x=3 ; y=_Power(x, 2)"}, {"a\nb\r\nc", "a ; b ; c"}, {";;a;;\n\n;b;", "a ; b"}, {"", ""},
        {"# comment\n  # another\nx\n#end", "x"}, {"a; # comment after a separator\nb", "a ; b"},
        {"f(1,\n  2)\n[3,\n4]", "f(1, 2) ; [3, 4]"}, {"x == 1", "_Eq(x, 1)"}, {"x=y", "x=y"}};
    for (auto [text, expected] : cases) EXPECT_EQ(shapeOf(text), expected) << text;
    EXPECT_EQ(errorOf("a + #b").column, 5u);
    EXPECT_EQ(errorOf("x = 1 # c").column, 7u) << "'#' comments only at a statement's start";
    // A single expression is exactly one.
    EXPECT_EQ(shape(*parseExpression("\n  a +\n b \n")), "_Plus(a, b)");
    for (const char* text : {"a; b", "a b", "x = 1", ""}) EXPECT_THROW(parseExpression(text), ParseError) << text;
}

TEST(ExprErrors, NameTheirPosition) {
    struct Case {
        const char* text;
        size_t line, column;
        const char* reason;
    };
    const Case cases[] = {
        {"1 +", 1, 4, "expected an expression, found end of input"}, {")", 1, 1, "expected an expression, found ')'"},
        {"a\n  b +* c", 2, 6, "expected an expression, found '*'"}, {"(1, 2", 1, 6, "expected ')', found end of input"},
        {"f(1 2)", 1, 5, "expected ',' or ')', found number '2'"}, {"v[1", 1, 4, "expected ']', found end of input"},
        {"[1 2]", 1, 4, "expected ',' or ']', found number '2'"}, {"a @ b", 1, 3, "unexpected character '@'"},
        {"a | b", 1, 3, "unexpected character '|' (logical or is '||')"}, {"a \x01", 1, 3, "unexpected byte 0x01"},
        {"a)", 1, 2, "unmatched ')'"}, {"a]", 1, 2, "unmatched ']'"},
        {"1, 2", 1, 2, "a comma is allowed only inside parentheses, brackets or calls"},
        {"x[1] = 2", 1, 6, "'=' assigns only to a name that starts a statement (compare with '==')"},
        {"f(x) y", 1, 6, "unexpected name 'y'"}, {"ok;\nok\n  1 2", 3, 5, "unexpected number '2'"},
    };
    for (const Case& c : cases) {
        ParseError e = errorOf(c.text);
        EXPECT_EQ(e.reason, c.reason) << c.text;
        EXPECT_EQ(std::string(e.what()), "Syntax error at line " + std::to_string(c.line) + ", column " +
                                             std::to_string(c.column) + ": " + c.reason);
    }
    ParseError e = errorOf("ab\ncd +");
    EXPECT_EQ(std::tuple(e.offset, e.line, e.column), std::tuple(7u, 2u, 5u));
    EXPECT_THROW(parseProgram("("), std::runtime_error);
}

// Deep nesting and long chains are refused by name, never a stack overflow;
// many statements are no depth at all.
TEST(ExprLimits, NestingAndTreeDepthAreCapped) {
    auto nested = [](int n, const char* open, const char* close) {
        std::string s;
        for (int i = 0; i < n; ++i) s += open;
        s += "1";
        for (int i = 0; *close && i < n; ++i) s += close;
        return s;
    };
    EXPECT_NO_THROW(parseProgram(nested(200, "(", ")")));
    EXPECT_NO_THROW(parseProgram(nested(200, "f(", ")")));
    for (const std::string& deep : {nested(300, "(", ")"), nested(300, "[", "]"), nested(300, "f(", ")"),
                                    nested(300, "-", ""), nested(300, "+", ""), nested(300, "2^", ""),
                                    nested(300, "v[", "]"), nested(1000000, "(", "")})
        EXPECT_NE(errorOf(deep).reason.find("nested too deeply"), std::string::npos) << deep.substr(0, 8);
    std::string chain = "1";
    for (int i = 1; i < 1000; ++i) chain += "+1";
    EXPECT_EQ(parseProgram(chain).statements[0]->depth, 1000);
    for (int i = 0; i < 4000; ++i) chain += "+1";
    EXPECT_NE(errorOf(chain).reason.find("too deep"), std::string::npos);
    std::string indices = "v";
    for (int i = 0; i < 5000; ++i) indices += "[0]";
    EXPECT_NE(errorOf(indices).reason.find("too deep"), std::string::npos);
    std::string many;
    for (int i = 0; i < 50000; ++i) many += "x=1;";
    EXPECT_EQ(parseProgram(many).statements.size(), 50000u);
}

TEST(ExprSerialise, MinimumParenthesesAndStyle) {
    const std::pair<const char*, const char*> cases[] = {
        {"(1 + 2) * 3", "(1+2)*3"}, {"((a))", "a"}, {"a - (b - c)", "a-(b-c)"}, {"(a - b) - c", "a-b-c"},
        {"a / (b * c)", "a/(b*c)"}, {"(2 ^ 3) ^ 2", "(2^3)^2"}, {"2 ^ (3 ^ 2)", "2^3^2"}, {"(-2) ^ 2", "(-2)^2"},
        {"-(a + b)", "-(a+b)"}, {"-(-a)", "--a"}, {"a - -b", "a--b"}, {"!(a == b)", "!(a == b)"},
        {"a==b&&c<d||!e", "a == b && c < d || !e"}, {"(a || b) && c", "(a || b) && c"}, {"a & (b & c)", "a&(b&c)"},
        {"(a & b) == 'x'", "a&b == 'x'"}, {"(a, b, c)", "(a, b, c)"}, {"(a, (b, c))", "(a, (b, c))"},
        {"((a, b))", "(a, b)"}, {"f( a ,b )", "f(a, b)"}, {"f((a, b), c)", "f((a, b), c)"}, {"[ 1,2 , 3 ]", "[1, 2, 3]"},
        {"(a+b)[i][j]", "(a+b)[i][j]"}, {"(-v)[1]", "(-v)[1]"}, {"x   =   1", "x = 1"}, {"a;b\nc", "a; b; c"},
        {"1e - 3", "1e - 3"}, {"(1e) + 3", "1e + 3"}, {"a <> b", "a <> b"}, {"_Plus(1, 2)", "_Plus(1, 2)"},
    };
    // That what is printed parses back to the same tree: the random trees below.
    for (auto [text, expected] : cases) EXPECT_EQ(reprint(text), expected) << text;
}

// Raw text printed verbatim: the substituter's tests ("s*2" -> "p+q*2").
TEST(ExprSerialise, AWrongArityPrintsAsCall) {
    auto plus = std::make_unique<CallNode>("_Plus", findOperator("+", OpForm::Infix));
    plus->args.push_back(std::make_unique<NameNode>("a"));
    EXPECT_EQ(serialise(*plus), "_Plus(a)");
}

namespace {

// Random trees over every operator, printed and parsed back: checks the
// parentheses the printer leaves out against the parser's grouping.
NodePtr randomTree(std::mt19937& rng, int depth) {
    std::uniform_int_distribution<int> pick(0, 99);
    const int r = pick(rng);
    if (depth == 0 || r < 25) {
        switch (r % 5) {
        case 0: return r % 2 ? std::make_unique<NumberNode>(1.0, "1e") : std::make_unique<NumberNode>(2500.0, "2.5k");
        case 1: return std::make_unique<StringNode>("s'\"\\", r % 2 ? '"' : '\'');
        case 2: return std::make_unique<NameNode>("R1#p");
        case 3: return std::make_unique<VectorNode>();
        default: return std::make_unique<NameNode>("x");
        }
    }
    if (r < 35) {
        auto call = std::make_unique<CallNode>("f");
        int n = r % 3;
        for (int i = 0; i < n; ++i) call->args.push_back(randomTree(rng, depth - 1));
        return call;
    }
    if (r < 40) {
        auto vec = std::make_unique<VectorNode>();
        vec->elements.push_back(randomTree(rng, depth - 1));
        vec->elements.push_back(randomTree(rng, depth - 1));
        return vec;
    }
    auto table = operatorTable();
    const Operator& op = table[static_cast<size_t>(pick(rng)) % table.size()];
    auto call = std::make_unique<CallNode>(std::string(op.function), &op);
    call->args.push_back(randomTree(rng, depth - 1));
    if (op.form != OpForm::Prefix) call->args.push_back(randomTree(rng, depth - 1));
    return call;
}

}  // namespace

TEST(ExprSerialise, RandomTreesRoundTrip) {
    std::mt19937 rng(12345);
    for (int i = 0; i < 3000; ++i) {
        NodePtr tree = randomTree(rng, 6);
        std::string printed = serialise(*tree);
        NodePtr back;
        ASSERT_NO_THROW(back = parseExpression(printed)) << printed;
        ASSERT_TRUE(sameTree(*tree, *back)) << printed << "\n" << shape(*tree) << "\n" << shape(*back);
    }
}

TEST(ExprFuzz, RandomBytesNeverCrash) {
    std::mt19937 rng(2024);
    const std::string alphabet = "0123456789.eExXkKmMgGuUaAbB_$#:;,()[]{}'\"\\+-*/%^&|!=<> \t\r\n";
    std::uniform_int_distribution<int> length(0, 80), byte(0, 255), coin(0, 3);
    int parsed = 0;
    for (int i = 0; i < 30000; ++i) {
        std::string text;
        const int n = length(rng);
        const bool anyByte = coin(rng) == 0;
        for (int k = 0; k < n; ++k) {
            int b = byte(rng);
            text += anyByte ? static_cast<char>(b) : alphabet[static_cast<size_t>(b) % alphabet.size()];
        }
        try {
            Program p = parseProgram(text);
            ++parsed;
            // Whatever parses prints as something that parses to the same tree.
            std::string printed = serialise(p);
            Program back = parseProgram(printed);
            ASSERT_TRUE(sameTree(p, back)) << text << "\n-> " << printed;
        } catch (const ParseError& e) {
            ASSERT_LE(e.offset, text.size());
            ASSERT_GE(e.line, 1u);
            ASSERT_GE(e.column, 1u);
        }
    }
    EXPECT_GT(parsed, 100) << "the fuzz should reach the printer too";
}
