// Lexer and recursive-descent parser of the script-expression language.
// The grammar and the lexical rules are described in Parser.h.
#include "Parser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace cv::expr {

ParseError::ParseError(std::string_view what, size_t off, size_t ln, size_t col)
    : std::runtime_error("Syntax error at line " + std::to_string(ln) + ", column " +
                         std::to_string(col) + ": " + std::string(what)),
      offset(off), line(ln), column(col), reason(what) {}

namespace {

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(unsigned char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Bytes of UTF-8 sequences count as letters, so that names such as "Vµ" need
// no Vec('...') and "10µF" reads as 10 with a unit.
bool isLetter(unsigned char c) { return isAsciiLetter(c) || c >= 0x80; }
bool isNameStart(unsigned char c) { return isLetter(c) || c == '_' || c == '$'; }
bool isNameChar(unsigned char c) {
    return isNameStart(c) || isDigit(c) || c == '#' || c == '.' || c == ':';
}
bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

uint32_t offset32(size_t offset) {
    return static_cast<uint32_t>(std::min<size_t>(offset, std::numeric_limits<uint32_t>::max()));
}

// The value of `digits` ("12.5", ".5", "3.") times ten to `exp10`, correctly
// rounded: the suffix is folded into the exponent instead of multiplying, so
// that 2.5u is exactly the double nearest 2.5e-6.
double decimalValue(std::string_view digits, long long exp10) {
    std::string text(digits);
    text += 'e';
    text += std::to_string(exp10);
    double value = 0.0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                     std::chars_format::general);
    if (ec != std::errc::result_out_of_range) return value;
    // Overflow or underflow: tell them apart by the decimal magnitude of the
    // first significant digit.
    long long magnitude = 0;
    size_t point = digits.find('.');
    if (point == std::string_view::npos) point = digits.size();
    size_t first = digits.find_first_of("123456789");
    if (first == std::string_view::npos) return 0.0;
    magnitude = first < point ? static_cast<long long>(point - first)
                              : -static_cast<long long>(first - point) + 1;
    return magnitude + exp10 > 0 ? HUGE_VAL : 0.0;
}

enum class Tok : uint8_t {
    End, Newline, Semicolon, Number, String, Name, Op, Assign,
    LParen, RParen, LBracket, RBracket, Comma,
};

struct Token {
    Tok kind = Tok::End;
    size_t start = 0;
    size_t end = 0;
    double number = 0.0;
    std::string text;           // name, string value or number source text
    std::string_view op;        // operator text
    char quote = '\'';
};

class Parser {
public:
    explicit Parser(std::string_view source) : src_(source) {}

    Program program() {
        Program result;
        for (;;) {
            skipToStatement();
            if (pos_ >= src_.size()) break;
            const size_t start = pos_;
            result.statements.push_back(statement());
            size_t end = std::min(tok_.start, src_.size());
            while (end > start && std::isspace(static_cast<unsigned char>(src_[end - 1]))) --end;
            result.spans.emplace_back(offset32(start), offset32(end - start));
            if (tok_.kind == Tok::End) break;
            if (tok_.kind != Tok::Newline && tok_.kind != Tok::Semicolon) unexpectedAfterStatement();
        }
        return result;
    }

    NodePtr singleExpression() {
        // Newlines are blanks throughout: the text is one expression.
        bracketDepth_ = 1;
        advance();
        NodePtr node = expression();
        if (tok_.kind != Tok::End) unexpectedAfterStatement();
        return node;
    }

private:
    // --- errors -----------------------------------------------------------

    [[noreturn]] void fail(size_t offset, std::string_view what) const {
        offset = std::min(offset, src_.size());
        size_t line = 1, lineStart = 0;
        for (size_t i = 0; i < offset; ++i)
            if (src_[i] == '\n') { ++line; lineStart = i + 1; }
        throw ParseError(what, offset, line, offset - lineStart + 1);
    }

    static std::string quoted(std::string_view text) {
        constexpr size_t kShown = 40;
        if (text.size() > kShown) {
            // Cut at a character boundary: the message may end up in Python.
            size_t cut = kShown;
            while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
            return "'" + std::string(text.substr(0, cut)) + "...'";
        }
        return "'" + std::string(text) + "'";
    }

    std::string describe(const Token& t) const {
        switch (t.kind) {
        case Tok::End: return "end of input";
        case Tok::Newline: return "end of line";
        case Tok::Number: return "number " + quoted(t.text);
        case Tok::String: return "string";
        case Tok::Name: return "name " + quoted(t.text);
        default: return quoted(src_.substr(t.start, t.end - t.start));
        }
    }

    [[noreturn]] void unexpectedAfterStatement() const {
        switch (tok_.kind) {
        case Tok::Assign: fail(tok_.start, "'=' assigns only to a name that starts a statement (compare with '==')");
        case Tok::Comma: fail(tok_.start, "a comma is allowed only inside parentheses, brackets or calls");
        case Tok::RParen: fail(tok_.start, "unmatched ')'");
        case Tok::RBracket: fail(tok_.start, "unmatched ']'");
        default: fail(tok_.start, "unexpected " + describe(tok_));
        }
    }

    void expect(Tok kind, std::string_view what) {
        if (tok_.kind != kind)
            fail(tok_.start, "expected " + std::string(what) + ", found " + describe(tok_));
    }

    // --- lexer ------------------------------------------------------------

    // Skips what lies between statements: blanks, newlines, ';' and comment
    // lines (a '#' where a statement would start).
    void skipToStatement() {
        while (pos_ < src_.size()) {
            unsigned char c = src_[pos_];
            if (isBlank(c) || c == '\n' || c == ';') {
                ++pos_;
            } else if (c == '#') {
                while (pos_ < src_.size() && src_[pos_] != '\n') ++pos_;
            } else {
                break;
            }
        }
    }

    void advance() {
        const size_t n = src_.size();
        while (pos_ < n && (isBlank(src_[pos_]) || (src_[pos_] == '\n' && bracketDepth_ > 0))) ++pos_;
        tok_.start = pos_;
        tok_.text.clear();
        if (pos_ >= n) {
            tok_.kind = Tok::End;
            tok_.end = pos_;
            return;
        }
        unsigned char c = src_[pos_];
        unsigned char next = pos_ + 1 < n ? src_[pos_ + 1] : 0;
        if (isDigit(c) || (c == '.' && isDigit(next))) {
            lexNumber();
        } else if (isNameStart(c)) {
            size_t end = pos_ + 1;
            while (end < n && isNameChar(src_[end])) ++end;
            tok_.kind = Tok::Name;
            tok_.text.assign(src_.substr(pos_, end - pos_));
            pos_ = end;
        } else if (c == '\'' || c == '"') {
            lexString(c);
        } else {
            lexPunctuation(c, next);
        }
        tok_.end = pos_;
    }

    void lexPunctuation(unsigned char c, unsigned char next) {
        static constexpr std::string_view kTwoChar[] = {"||", "&&", "==", "!=", "<>", "<=", ">="};
        for (std::string_view op : kTwoChar) {
            if (c == op[0] && next == op[1]) {
                tok_.kind = Tok::Op;
                tok_.op = op;
                pos_ += 2;
                return;
            }
        }
        Tok kind = Tok::Op;
        switch (c) {
        case '\n': kind = Tok::Newline; break;
        case ';': kind = Tok::Semicolon; break;
        case '(': kind = Tok::LParen; break;
        case ')': kind = Tok::RParen; break;
        case '[': kind = Tok::LBracket; break;
        case ']': kind = Tok::RBracket; break;
        case ',': kind = Tok::Comma; break;
        case '=': kind = Tok::Assign; break;
        case '<': case '>': case '&': case '+': case '-': case '*': case '/': case '%': case '^': case '!':
            tok_.op = src_.substr(pos_, 1);
            break;
        case '|':
            fail(pos_, "unexpected character '|' (logical or is '||')");
        default:
            if (c >= 0x20 && c < 0x7F)
                fail(pos_, std::string("unexpected character '") + static_cast<char>(c) + "'");
            static constexpr char kHex[] = "0123456789ABCDEF";
            fail(pos_, std::string("unexpected byte 0x") + kHex[c >> 4] + kHex[c & 15]);
        }
        tok_.kind = kind;
        ++pos_;
    }

    void lexNumber() {
        const size_t n = src_.size();
        const size_t start = pos_;
        size_t p = pos_;
        double value = 0.0;
        if (src_[p] == '0' && p + 1 < n && (src_[p + 1] == 'x' || src_[p + 1] == 'X')) {
            size_t digits = p + 2, end = digits;
            while (end < n && isHexDigit(src_[end])) ++end;
            if (end == digits) fail(start, "hexadecimal number without digits");
            auto [ptr, ec] = std::from_chars(src_.data() + digits, src_.data() + end, value,
                                             std::chars_format::hex);
            if (ec == std::errc::result_out_of_range) value = HUGE_VAL;
            p = end;
        } else {
            while (p < n && isDigit(src_[p])) ++p;
            if (p < n && src_[p] == '.') {
                ++p;
                while (p < n && isDigit(src_[p])) ++p;
            }
            std::string_view mantissa = src_.substr(start, p - start);
            long long exp10 = 0;
            // An exponent only when digits follow; otherwise the 'e' is a unit.
            if (p < n && (src_[p] == 'e' || src_[p] == 'E')) {
                size_t q = p + 1;
                bool negative = false;
                if (q < n && (src_[q] == '+' || src_[q] == '-')) negative = src_[q++] == '-';
                if (q < n && isDigit(src_[q])) {
                    for (; q < n && isDigit(src_[q]); ++q)
                        if (exp10 < 100000) exp10 = exp10 * 10 + (src_[q] - '0');
                    if (negative) exp10 = -exp10;
                    p = q;
                }
            }
            exp10 += suffixExponent(p);
            value = decimalValue(mantissa, exp10);
        }
        while (p < n && isLetter(src_[p])) ++p;   // the unit: 2.5uF, 1kohm
        tok_.kind = Tok::Number;
        tok_.number = value;
        tok_.text.assign(src_.substr(start, p - start));
        pos_ = p;
    }

    // The engineering suffix at `p`, case-insensitive ("meg" before "m");
    // advances past it and gives its power of ten, or 0 when there is none.
    int suffixExponent(size_t& p) const {
        const size_t n = src_.size();
        if (p >= n) return 0;
        auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
        if (p + 2 < n && lower(src_[p]) == 'm' && lower(src_[p + 1]) == 'e' && lower(src_[p + 2]) == 'g') {
            p += 3;
            return 6;
        }
        int exponent = 0;
        switch (lower(src_[p])) {
        case 'f': exponent = -15; break;
        case 'p': exponent = -12; break;
        case 'n': exponent = -9; break;
        case 'u': exponent = -6; break;
        case 'm': exponent = -3; break;
        case 'k': exponent = 3; break;
        case 'g': exponent = 9; break;
        case 't': exponent = 12; break;
        default: return 0;
        }
        ++p;
        return exponent;
    }

    void lexString(char quote) {
        const size_t n = src_.size();
        const size_t start = pos_;
        size_t p = pos_ + 1;
        std::string& value = tok_.text;
        for (;;) {
            if (p >= n) fail(start, "unterminated string");
            char c = src_[p];
            if (c == quote) break;
            if (c == '\\') {
                if (p + 1 >= n) fail(start, "unterminated string");
                char e = src_[p + 1];
                switch (e) {
                case '\\': case '\'': case '"': value += e; break;
                case 'n': value += '\n'; break;
                case 't': value += '\t'; break;
                default: value += '\\'; value += e; break;
                }
                p += 2;
            } else {
                value += c;
                ++p;
            }
        }
        tok_.kind = Tok::String;
        tok_.quote = quote;
        pos_ = p + 1;
    }

    // Is the name just read followed by '=' (and not '==')?
    bool assignmentFollows() const {
        size_t p = pos_;
        while (p < src_.size() && isBlank(src_[p])) ++p;
        return p < src_.size() && src_[p] == '=' && (p + 1 >= src_.size() || src_[p + 1] != '=');
    }

    bool atOp(std::string_view op) const { return tok_.kind == Tok::Op && tok_.op == op; }

    // Brackets: inside them newlines are blanks.
    void open() { ++bracketDepth_; advance(); }
    void close(Tok kind, std::string_view what) {
        expect(kind, what);
        --bracketDepth_;
        advance();
    }

    // --- nodes ------------------------------------------------------------

    void setDepth(Node& node, int childDepth) const {
        if (childDepth + 1 > kMaxTreeDepth)
            fail(node.offset, "expression too deep (more than " + std::to_string(kMaxTreeDepth) +
                                  " levels; split it into assignments)");
        node.depth = static_cast<uint16_t>(childDepth + 1);
    }

    NodePtr call(const Operator& op, size_t at, NodePtr a, NodePtr b = nullptr) const {
        auto node = std::make_unique<CallNode>(std::string(op.function), &op, offset32(at));
        int deepest = a->depth;
        node->args.push_back(std::move(a));
        if (b) {
            deepest = std::max<int>(deepest, b->depth);
            node->args.push_back(std::move(b));
        }
        setDepth(*node, deepest);
        return node;
    }

    // Every path into a deeper expression passes here, so this one counter
    // bounds the parser's own recursion.
    struct NestingGuard {
        Parser& parser;
        NestingGuard(Parser& p, size_t at) : parser(p) {
            if (++parser.nesting_ > kMaxNesting)
                parser.fail(at, "expression nested too deeply (more than " +
                                    std::to_string(kMaxNesting) + " levels)");
        }
        ~NestingGuard() { --parser.nesting_; }
    };

    // --- grammar ----------------------------------------------------------

    NodePtr statement() {
        advance();
        if (tok_.kind == Tok::Name && assignmentFollows()) {
            std::string name = std::move(tok_.text);
            size_t at = tok_.start;
            advance();   // '='
            advance();
            NodePtr value = expression();
            auto node = std::make_unique<AssignNode>(std::move(name), nullptr, offset32(at));
            setDepth(*node, value->depth);
            node->value = std::move(value);
            return node;
        }
        return expression();
    }

    NodePtr expression() { return binary(PrecOr); }

    static const Operator* infixOperator(const Token& t) {
        if (t.kind != Tok::Op) return nullptr;
        const Operator* op = findOperator(t.op, OpForm::Infix);
        // '^' is not a plain binary operator: power() handles it.
        return op && op->precedence < PrecUnary ? op : nullptr;
    }

    // Precedence climbing over the left-associative binary levels.
    NodePtr binary(int minPrecedence) {
        NodePtr left = unary();
        for (;;) {
            const Operator* op = infixOperator(tok_);
            if (!op || op->precedence < minPrecedence) return left;
            size_t at = tok_.start;
            advance();
            NodePtr right = binary(op->precedence + 1);
            left = call(*op, at, std::move(left), std::move(right));
        }
    }

    NodePtr unary() {
        NestingGuard guard(*this, tok_.start);
        size_t at = tok_.start;
        if (atOp("-")) { advance(); return call(ops::unaryMinus(), at, unary()); }
        if (atOp("!")) { advance(); return call(ops::logicalNot(), at, unary()); }
        if (atOp("+")) { advance(); return unary(); }
        return power();
    }

    NodePtr power() {
        NodePtr base = postfix();
        if (!atOp("^")) return base;
        size_t at = tok_.start;
        advance();
        return call(ops::power(), at, std::move(base), unary());
    }

    NodePtr postfix() {
        NodePtr node = primary();
        while (tok_.kind == Tok::LBracket) {
            size_t at = tok_.start;
            open();
            NodePtr index = expression();
            close(Tok::RBracket, "']'");
            node = call(ops::index(), at, std::move(node), std::move(index));
        }
        return node;
    }

    // Arguments of a call or elements of a vector literal, up to `closer`.
    int list(std::vector<NodePtr>& items, Tok closer, std::string_view closerText) {
        open();
        int deepest = 0;
        if (tok_.kind != closer) {
            for (;;) {
                items.push_back(expression());
                deepest = std::max<int>(deepest, items.back()->depth);
                if (tok_.kind != Tok::Comma) break;
                advance();
            }
        }
        close(closer, "',' or " + std::string(closerText));
        return deepest;
    }

    NodePtr primary() {
        size_t at = tok_.start;
        switch (tok_.kind) {
        case Tok::Number: {
            auto node = std::make_unique<NumberNode>(tok_.number, std::move(tok_.text), offset32(at));
            advance();
            return node;
        }
        case Tok::String: {
            auto node = std::make_unique<StringNode>(std::move(tok_.text), tok_.quote, offset32(at));
            advance();
            return node;
        }
        case Tok::Name: {
            std::string name = std::move(tok_.text);
            advance();
            if (tok_.kind != Tok::LParen) return std::make_unique<NameNode>(std::move(name), offset32(at));
            auto node = std::make_unique<CallNode>(std::move(name), nullptr, offset32(at));
            setDepth(*node, list(node->args, Tok::RParen, "')'"));
            return node;
        }
        case Tok::LBracket: {
            auto node = std::make_unique<VectorNode>(offset32(at));
            setDepth(*node, list(node->elements, Tok::RBracket, "']'"));
            return node;
        }
        case Tok::LParen: {
            open();
            NodePtr node = expression();
            // Inside parentheses a comma is the complex-number operator.
            while (tok_.kind == Tok::Comma) {
                size_t commaAt = tok_.start;
                advance();
                node = call(ops::comma(), commaAt, std::move(node), expression());
            }
            close(Tok::RParen, "')'");
            return node;
        }
        default:
            fail(at, "expected an expression, found " + describe(tok_));
        }
    }

    std::string_view src_;
    size_t pos_ = 0;
    int bracketDepth_ = 0;   // open '(' and '[': newlines inside are blanks
    int nesting_ = 0;
    Token tok_;
};

}  // namespace

Program parseProgram(std::string_view source) { return Parser(source).program(); }

NodePtr parseExpression(std::string_view source) { return Parser(source).singleExpression(); }

}  // namespace cv::expr
