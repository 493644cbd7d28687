// The host's expression substituter: rewrites the names and calls of an
// expression through hooks and gives the expression back as text. The module's
// SubstProbeExpression and ParseProbeExpression are built on it.
#pragma once
#include <vector>

#include "YString.h"

class VecSubstExpressionObject {
public:
    virtual ~VecSubstExpressionObject();

    // A name found in the expression (not a called function's name, not an
    // assignment's target). Return true with `replacement` set to put that text
    // in its place, verbatim; false leaves the name. Default: false.
    virtual bool substituteName(const YString& name, YString& replacement);

    // A named call, offered after its arguments were substituted; `args` are
    // the argument texts as they now print. Return true with `replacement` set
    // to put that text, verbatim, in place of the whole call; false keeps the
    // call. Operators are never offered. Default: false.
    virtual bool substituteFunction(const YString& name, const std::vector<YString>& args,
                                    YString& replacement);
};

// Parses `expression`, offers its names and calls to `hooks` (inner before
// outer, left to right) and prints the result (style: cv::expr::serialise).
// Replacement texts are inserted as they are: a hook that inserts an operator
// expression parenthesises it itself, as "(a-b)" for V(a, b).
// On a syntax error: false, `result` = the expression unchanged, and `*error`
// (when given) = the parser's message.
bool vec_SubstituteExpression(const YString& expression, VecSubstExpressionObject& hooks,
                              YString& result, YString* error = nullptr);
