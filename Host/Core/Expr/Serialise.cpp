// Trees back to text, in the style described in Parser.h.
#include "Parser.h"

namespace cv::expr {

namespace {

// An operator node printed in operator form; a hand-built one with the wrong
// number of arguments falls back to its function's name: _Plus(a).
bool printsAsOperator(const CallNode& call) {
    return call.op && call.args.size() == (call.op->form == OpForm::Prefix ? 1u : 2u);
}

int precedenceOf(const Node& node) {
    if (node.kind == NodeKind::Call) {
        const auto& call = node.as<CallNode>();
        if (printsAsOperator(call)) return call.op->precedence;
    }
    return PrecPrimary;
}

void writeString(const StringNode& node, std::string& out) {
    const char quote = node.quote == '"' ? '"' : '\'';
    out += quote;
    for (char c : node.value) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c == quote) out += '\\';
            out += c;
        }
    }
    out += quote;
}

void write(const Node& node, std::string& out, int minPrecedence);

void writeList(const std::vector<NodePtr>& items, std::string& out) {
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        write(*items[i], out, PrecOr);
    }
}

void writeOperator(const CallNode& call, std::string& out) {
    const Operator& op = *call.op;
    switch (op.form) {
    case OpForm::Prefix:
        out += op.text;
        // The operand may itself be unary or a power: -!x, -2^2.
        write(*call.args[0], out, PrecUnary);
        return;
    case OpForm::Postfix:
        write(*call.args[0], out, PrecPostfix);
        out += '[';
        write(*call.args[1], out, PrecOr);
        out += ']';
        return;
    case OpForm::Infix:
        break;
    }
    const int p = op.precedence;
    // Left-associative: an equal-precedence operand may stand unparenthesised
    // on the left only. '^' is the other way round, and its right operand may
    // be a unary expression (2^-1), its left only a postfix one ((-2)^2).
    const bool power = op.rightAssociative;
    write(*call.args[0], out, power ? PrecPostfix : p);
    if (op.spaced) {
        out += ' ';
        out += op.text;
        out += ' ';
    } else if (op.text == ",") {
        out += ", ";
    } else {
        // "1e" (one, unit e) followed by "-3" would read back as 1e-3.
        const bool sign = op.text == "+" || op.text == "-";
        const bool afterE = !out.empty() && (out.back() == 'e' || out.back() == 'E');
        if (sign && afterE) out += ' ';
        out += op.text;
        if (sign && afterE) out += ' ';
    }
    write(*call.args[1], out, power ? PrecUnary : p + 1);
}

void write(const Node& node, std::string& out, int minPrecedence) {
    const bool parens = precedenceOf(node) < minPrecedence;
    if (parens) out += '(';
    switch (node.kind) {
    case NodeKind::Number:
        out += node.as<NumberNode>().text;
        break;
    case NodeKind::String:
        writeString(node.as<StringNode>(), out);
        break;
    case NodeKind::Name:
        out += node.as<NameNode>().name;
        break;
    case NodeKind::Raw:
        out += node.as<RawNode>().text;
        break;
    case NodeKind::Vector:
        out += '[';
        writeList(node.as<VectorNode>().elements, out);
        out += ']';
        break;
    case NodeKind::Assign: {
        const auto& assign = node.as<AssignNode>();
        out += assign.name;
        out += " = ";
        if (assign.value) write(*assign.value, out, PrecOr);
        break;
    }
    case NodeKind::Call: {
        const auto& call = node.as<CallNode>();
        if (printsAsOperator(call)) {
            writeOperator(call, out);
        } else {
            out += call.name;
            out += '(';
            writeList(call.args, out);
            out += ')';
        }
        break;
    }
    }
    if (parens) out += ')';
}

}  // namespace

void serialise(const Node& node, std::string& out) { write(node, out, PrecOr); }

std::string serialise(const Node& node) {
    std::string out;
    serialise(node, out);
    return out;
}

std::string serialise(const Program& program) {
    std::string out;
    for (size_t i = 0; i < program.statements.size(); ++i) {
        if (i) out += "; ";
        serialise(*program.statements[i], out);
    }
    return out;
}

}  // namespace cv::expr
