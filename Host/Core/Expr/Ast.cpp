#include "Ast.h"

#include <algorithm>

namespace cv::expr {

namespace {

constexpr OpForm Pre = OpForm::Prefix, In = OpForm::Infix, Post = OpForm::Postfix;

// text, function, form, precedence, right-associative, spaced
constexpr Operator kOperators[] = {
    {",",  "_Comma",  In,   PrecComma,    false, false},
    {"||", "_Or",     In,   PrecOr,       false, true},
    {"&&", "_And",    In,   PrecAnd,      false, true},
    {"==", "_Eq",     In,   PrecCompare,  false, true},
    {"!=", "_Ne",     In,   PrecCompare,  false, true},
    {"<>", "_Ne",     In,   PrecCompare,  false, true},
    {"<",  "_Lt",     In,   PrecCompare,  false, true},
    {"<=", "_Le",     In,   PrecCompare,  false, true},
    {">",  "_Gt",     In,   PrecCompare,  false, true},
    {">=", "_Ge",     In,   PrecCompare,  false, true},
    {"&",  "_Concat", In,   PrecConcat,   false, false},
    {"+",  "_Plus",   In,   PrecAdd,      false, false},
    {"-",  "_Minus",  In,   PrecAdd,      false, false},
    {"*",  "_Times",  In,   PrecMultiply, false, false},
    {"/",  "_Divide", In,   PrecMultiply, false, false},
    {"%",  "_Mod",    In,   PrecMultiply, false, false},
    {"-",  "_UMinus", Pre,  PrecUnary,    false, false},
    {"!",  "_Not",    Pre,  PrecUnary,    false, false},
    {"^",  "_Power",  In,   PrecPower,    true,  false},
    {"[]", "_Index",  Post, PrecPostfix,  false, false},
};

const Operator& row(std::string_view text, OpForm form) {
    // The rows above are fixed, so a miss here is a typo in this file.
    return *findOperator(text, form);
}

}  // namespace

std::span<const Operator> operatorTable() noexcept { return kOperators; }

const Operator* findOperator(std::string_view text, OpForm form) noexcept {
    for (const Operator& op : kOperators)
        if (op.form == form && op.text == text) return &op;
    return nullptr;
}

const Operator* findOperatorByFunction(std::string_view function) noexcept {
    for (const Operator& op : kOperators)
        if (op.function == function) return &op;
    return nullptr;
}

namespace ops {
const Operator& power() { static const Operator& op = row("^", In); return op; }
const Operator& unaryMinus() { static const Operator& op = row("-", Pre); return op; }
const Operator& logicalNot() { static const Operator& op = row("!", Pre); return op; }
const Operator& index() { static const Operator& op = row("[]", Post); return op; }
const Operator& comma() { static const Operator& op = row(",", In); return op; }
}  // namespace ops

namespace {

bool sameList(const std::vector<NodePtr>& a, const std::vector<NodePtr>& b) noexcept {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!a[i] || !b[i] ? a[i] != b[i] : !sameTree(*a[i], *b[i])) return false;
    return true;
}

}  // namespace

bool sameTree(const Node& a, const Node& b) noexcept {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case NodeKind::Number: {
        auto& x = a.as<NumberNode>(); auto& y = b.as<NumberNode>();
        return x.text == y.text && x.value == y.value;
    }
    case NodeKind::String:
        return a.as<StringNode>().value == b.as<StringNode>().value;
    case NodeKind::Name:
        return a.as<NameNode>().name == b.as<NameNode>().name;
    case NodeKind::Call: {
        auto& x = a.as<CallNode>(); auto& y = b.as<CallNode>();
        // Compare spellings, not row addresses, so "<>" and "!=" stay apart
        // while trees built by hand from equal rows compare equal.
        bool sameOp = (!x.op && !y.op) ||
                      (x.op && y.op && x.op->text == y.op->text && x.op->form == y.op->form);
        return sameOp && x.name == y.name && sameList(x.args, y.args);
    }
    case NodeKind::Vector:
        return sameList(a.as<VectorNode>().elements, b.as<VectorNode>().elements);
    case NodeKind::Assign: {
        auto& x = a.as<AssignNode>(); auto& y = b.as<AssignNode>();
        if (x.name != y.name) return false;
        if (!x.value || !y.value) return x.value == y.value;
        return sameTree(*x.value, *y.value);
    }
    case NodeKind::Raw:
        return a.as<RawNode>().text == b.as<RawNode>().text;
    }
    return false;
}

bool sameTree(const Program& a, const Program& b) noexcept {
    return sameList(a.statements, b.statements);
}

int updateDepth(Node& node) noexcept {
    int deepest = 0;
    auto visit = [&](std::vector<NodePtr>& list) {
        for (NodePtr& child : list)
            if (child) deepest = std::max(deepest, updateDepth(*child));
    };
    switch (node.kind) {
    case NodeKind::Call: visit(node.as<CallNode>().args); break;
    case NodeKind::Vector: visit(node.as<VectorNode>().elements); break;
    case NodeKind::Assign:
        if (auto& v = node.as<AssignNode>().value) deepest = updateDepth(*v);
        break;
    default: break;
    }
    int depth = std::min(deepest + 1, 0xFFFF);
    node.depth = static_cast<uint16_t>(depth);
    return depth;
}

}  // namespace cv::expr
