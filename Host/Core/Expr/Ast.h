// Syntax trees of the script-expression language.
//
// The tree is what the evaluator walks millions of times a second, so it is
// kept plain: one small struct per kind behind a common header (kind, depth,
// source offset), children owned by std::unique_ptr, names held as
// std::string, and every operator already turned into the name of the
// registered function that implements it. Walkers switch on `kind` and
// static_cast; nothing here is virtual except the destructor.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cv::expr {

// ---------------------------------------------------------------------------
// Operators
//
// The language has no arithmetic of its own: every operator is a call of a
// function in the function table. This table is the one place that says which
// operator text is which function, how tightly it binds and how it is printed;
// the parser, the serialiser and the evaluator all read it.

enum class OpForm : uint8_t {
    Prefix,    // -x, !x
    Infix,     // a + b
    Postfix,   // v[i], printed as v[i] rather than _Index(v, i)
};

// Binding strength, weakest first. Values are spaced so that the numbers
// compare directly; Primary is what names, literals and named calls have.
enum Precedence : uint8_t {
    PrecComma = 1,        // (a, b): complex number, only inside parentheses
    PrecOr = 2,           // ||
    PrecAnd = 3,          // &&
    PrecCompare = 4,      // == != <> < <= > >=  (left-associative, as in C)
    PrecConcat = 5,       // &
    PrecAdd = 6,          // + -
    PrecMultiply = 7,     // * / %
    PrecUnary = 8,        // - ! (prefix)
    PrecPower = 9,        // ^ (right-associative, tighter than unary minus)
    PrecPostfix = 10,     // v[i], f(x)
    PrecPrimary = 10,
};

struct Operator {
    std::string_view text;       // as written: "+", "<>", "[]" for indexing
    std::string_view function;   // registered function called: "_Plus"
    OpForm form;
    Precedence precedence;
    bool rightAssociative;
    bool spaced;                 // printed with a blank on each side
};

// All operators, in precedence order. `!=` and `<>` are two rows that call
// the same function, so that a tree keeps the spelling its source used.
std::span<const Operator> operatorTable() noexcept;
// The operator written `text` in the given form, or nullptr.
const Operator* findOperator(std::string_view text, OpForm form) noexcept;
// The first operator whose function is `function` (exact name), or nullptr.
const Operator* findOperatorByFunction(std::string_view function) noexcept;

// The operators the parser builds trees with, for code that makes nodes by hand.
namespace ops {
const Operator& power();
const Operator& unaryMinus();
const Operator& logicalNot();
const Operator& index();
const Operator& comma();
}  // namespace ops

// ---------------------------------------------------------------------------
// Nodes

enum class NodeKind : uint8_t { Number, String, Name, Call, Vector, Assign, Raw };

// Walkers may recurse: the parser refuses any tree deeper than this.
inline constexpr int kMaxTreeDepth = 1024;

struct Node;
using NodePtr = std::unique_ptr<Node>;

struct Node {
    const NodeKind kind;
    uint16_t depth = 1;     // 1 for a leaf, else 1 + deepest child
    uint32_t offset = 0;    // byte offset in the source of the token that made the node:
                            // the literal, the name (of a call or assignment too),
                            // the operator, or the '[' of a vector or index

    explicit Node(NodeKind k, uint32_t off = 0) : kind(k), offset(off) {}
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    virtual ~Node() = default;

    template <class T> T& as() { return static_cast<T&>(*this); }
    template <class T> const T& as() const { return static_cast<const T&>(*this); }
};

struct NumberNode final : Node {
    double value;
    std::string text;   // the source text, suffix and unit included ("2.5uF")
    NumberNode(double v, std::string t, uint32_t off = 0)
        : Node(NodeKind::Number, off), value(v), text(std::move(t)) {}
};

struct StringNode final : Node {
    std::string value;  // escapes already resolved
    char quote;         // ' or ", reused when printing
    StringNode(std::string v, char q = '\'', uint32_t off = 0)
        : Node(NodeKind::String, off), value(std::move(v)), quote(q) {}
};

struct NameNode final : Node {
    std::string name;   // as written: case is preserved
    NameNode(std::string n, uint32_t off = 0) : Node(NodeKind::Name, off), name(std::move(n)) {}
};

// A named call f(a, b) or an operator. For an operator, `name` is the
// operator's function ("_Plus") and `op` its table row; for a named call `op`
// is null. `cache` belongs to the evaluator (e.g. the resolved function entry);
// the syntax code never reads it and leaves it null.
struct CallNode final : Node {
    std::string name;
    const Operator* op = nullptr;
    std::vector<NodePtr> args;
    mutable void* cache = nullptr;
    CallNode(std::string n, const Operator* o = nullptr, uint32_t off = 0)
        : Node(NodeKind::Call, off), name(std::move(n)), op(o) {}
    bool isOperator() const noexcept { return op != nullptr; }
};

struct VectorNode final : Node {
    std::vector<NodePtr> elements;
    explicit VectorNode(uint32_t off = 0) : Node(NodeKind::Vector, off) {}
};

struct AssignNode final : Node {
    std::string name;
    NodePtr value;
    AssignNode(std::string n, NodePtr v, uint32_t off = 0)
        : Node(NodeKind::Assign, off), name(std::move(n)), value(std::move(v)) {}
};

// Text the substituter put in place of a node; printed verbatim, never parsed.
struct RawNode final : Node {
    std::string text;
    RawNode(std::string t, uint32_t off = 0) : Node(NodeKind::Raw, off), text(std::move(t)) {}
};

struct Program {
    std::vector<NodePtr> statements;
    // Where each statement stands in the source (trimmed): offset and length.
    std::vector<std::pair<uint32_t, uint32_t>> spans;
};

// Structural equality: kinds, names, values, operator spellings, children.
// Offsets, depths and caches are ignored; numbers compare by source text and
// value (NaN-free: the parser never makes NaN).
bool sameTree(const Node& a, const Node& b) noexcept;
bool sameTree(const Program& a, const Program& b) noexcept;

// Recomputes `depth` of a node from its children (for trees built by hand);
// returns it.
int updateDepth(Node& node) noexcept;

}  // namespace cv::expr
