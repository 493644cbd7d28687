// Parsing script text into trees, and printing trees back as text.
//
// Grammar, weakest binding first (see operatorTable() for the functions):
//
//   program    := statement { (';' | newline) statement }      empty statements skipped
//   statement  := '#' comment-to-end-of-line
//               | name '=' expr                                 assignment
//               | expr
//   expr       := and { '||' and }
//   and        := cmp { '&&' cmp }
//   cmp        := concat { ('=='|'!='|'<>'|'<'|'<='|'>'|'>=') concat }   left-assoc
//   concat     := sum { '&' sum }
//   sum        := product { ('+'|'-') product }
//   product    := unary { ('*'|'/'|'%') unary }
//   unary      := ('-'|'!'|'+') unary | power                   unary '+' makes no node
//   power      := postfix [ '^' unary ]                         right-assoc: -2^2 = -(2^2),
//                                                                2^-1 = 2^(-1), 2^3^2 = 2^(3^2)
//   postfix    := primary { '[' expr ']' }                      v[i][j] = _Index(_Index(v,i),j)
//   primary    := number | string | name | name '(' [expr {',' expr}] ')'
//               | '[' [expr {',' expr}] ']'
//               | '(' expr { ',' expr } ')'                     commas: _Comma, left-assoc
//
// Lexical rules:
// - Numbers: 12, 1.5, .5, 1., 2e-3, 0x1F; then an optional engineering suffix,
//   case-insensitive (f p n u m k g t, and "meg", which wins over "m"); then
//   any letters directly after are a unit and ignored (2.5uF, 1kohm, 10V).
//   Hexadecimal numbers take no suffix: letters after them are a unit.
//   An 'e' not followed by an exponent's digits is a unit letter ("1e" is 1).
// - Strings: '...' or "...", escapes \\ \' \" \n \t; any other backslash is
//   kept as written, so "C:\data" means what it says.
// - Names start with a letter, '_', '$' or a byte >= 0x80 (UTF-8) and go on
//   with those, digits, '#', '.' and ':' (R1#p, X1.out, v:out).
// - A newline ends a statement only outside parentheses and brackets, so a
//   long call may span lines. '\r' is a blank.
// - '#' as the first non-blank character of a statement starts a comment that
//   runs to the end of the line. A '#' anywhere else that is not part of a
//   name is a syntax error.
//
// Limits: parentheses, brackets, calls and unary operators nest at most
// kMaxNesting deep, and no tree is deeper than kMaxTreeDepth (a chain such as
// a+b+c+... of more than about a thousand terms is refused), so that neither
// the parser nor any recursive walker can exhaust the stack.
#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

#include "Ast.h"

namespace cv::expr {

inline constexpr int kMaxNesting = 256;

class ParseError : public std::runtime_error {
public:
    ParseError(std::string_view what, size_t offset, size_t line, size_t column);
    size_t offset;        // byte offset in the source, 0-based
    size_t line;          // 1-based
    size_t column;        // 1-based, in bytes
    std::string reason;   // the message without "Syntax error at ...: "
};

// The whole text as a list of statements. Throws ParseError.
Program parseProgram(std::string_view source);
// Exactly one expression (no assignment, no ';'); blanks and newlines around
// it are allowed. Throws ParseError.
NodePtr parseExpression(std::string_view source);

// ---------------------------------------------------------------------------
// Printing (Serialise.cpp)
//
// Style: the fewest parentheses the precedences need; numbers in their source
// text; strings in their original quotes with \\ \n \t and the quote escaped;
// calls and vectors as f(a, b) and [a, b]; complex pairs as (a, b);
// arithmetic, '&' and '^' with no blanks (a+b*c, x^2, s&"V"); comparisons,
// '&&', '||' and assignment with one blank on each side (a < b && c); unary
// operators attached (-x, !x); statements joined by "; "; Raw nodes verbatim,
// treated as a primary (the substituter's hooks parenthesise what they insert).
// Parsing the output gives back the same tree (sameTree), Raw nodes aside.

void serialise(const Node& node, std::string& out);
std::string serialise(const Node& node);
std::string serialise(const Program& program);

}  // namespace cv::expr
