// The host's template resolver: fills the braced parts of a text from
// keywords or by evaluating them. The module's ee, ResolveTemplate and rt are
// built on it.
#pragma once
#include <functional>

#include "YString.h"

class TemplateObject {
public:
    virtual ~TemplateObject();

    // The value of a braced keyword (its text trimmed of blanks). Default: not found.
    virtual bool lookupKeyword(const YString& keyword, YString& value);

    // The value of a braced text that is no keyword. Default: the installed
    // expressionEvaluator; fails when none is installed, and keeps the
    // evaluator's message in lastError().
    virtual bool evaluateExpression(const YString& expression, YString& value);

    // Copies `text`, replacing each {...} by the value of its keyword, or else
    // of its expression. Braces nest, inner first: with n = 1, "{V{n}}" looks
    // up "V1". "\{" and "\}" are literal braces (anywhere, also inside a
    // braced text); other backslashes are copied as they are.
    // `failed` is cleared on entry and set when a braced text resolves neither
    // way (it is then copied exactly as written, inner braces unresolved) or a
    // brace has no partner (copied literally). Everything else is resolved.
    // `context` is kept in context_ for subclasses.
    YString resolveTemplate(const YString& text, const YString& context, bool& failed);

    // The message of the last failed evaluation by the default evaluateExpression.
    const YString& lastError() const noexcept { return lastError_; }

    // Installed by the host: evaluates an expression to its value's text, or
    // returns false with a message.
    static std::function<bool(const YString& expression, YString& valueText, YString& error)>
        expressionEvaluator;

protected:
    YString context_;
    YString lastError_;
};
