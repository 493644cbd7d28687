#include "ExprSubstitute.h"

#include "Parser.h"

using namespace cv::expr;

VecSubstExpressionObject::~VecSubstExpressionObject() = default;

bool VecSubstExpressionObject::substituteName(const YString&, YString&) { return false; }

bool VecSubstExpressionObject::substituteFunction(const YString&, const std::vector<YString>&, YString&) {
    return false;
}

namespace {

void substitute(NodePtr& node, VecSubstExpressionObject& hooks) {
    switch (node->kind) {
    case NodeKind::Name: {
        YString replacement;
        if (hooks.substituteName(YString(node->as<NameNode>().name), replacement))
            node = std::make_unique<RawNode>(replacement.str(), node->offset);
        break;
    }
    case NodeKind::Call: {
        auto& call = node->as<CallNode>();
        for (NodePtr& arg : call.args) substitute(arg, hooks);
        if (call.isOperator()) break;
        std::vector<YString> args;
        args.reserve(call.args.size());
        for (const NodePtr& arg : call.args) args.emplace_back(serialise(*arg));
        YString replacement;
        if (hooks.substituteFunction(YString(call.name), args, replacement))
            node = std::make_unique<RawNode>(replacement.str(), node->offset);
        break;
    }
    case NodeKind::Vector:
        for (NodePtr& element : node->as<VectorNode>().elements) substitute(element, hooks);
        break;
    case NodeKind::Assign:
        // The target stays: "(a) = 1" would not be a statement any more.
        substitute(node->as<AssignNode>().value, hooks);
        break;
    case NodeKind::Number:
    case NodeKind::String:
    case NodeKind::Raw:
        break;
    }
}

}  // namespace

bool vec_SubstituteExpression(const YString& expression, VecSubstExpressionObject& hooks,
                              YString& result, YString* error) {
    Program program;
    try {
        program = parseProgram(expression.view());
    } catch (const ParseError& e) {
        result = expression;
        if (error) *error = e.what();
        return false;
    }
    for (NodePtr& statement : program.statements) substitute(statement, hooks);
    result = serialise(program);
    if (error) *error = YString();
    return true;
}
