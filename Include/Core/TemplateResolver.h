// The host's template resolver: fills the braced parts of a text from
// keywords or by evaluating them. The module's ee, ResolveTemplate and rt are
// built on it.
#pragma once
#include "YString.h"

class FunctionRunTime;

class TemplateObject {
public:
    // Braced expressions are evaluated by `runTime` (the one a handler was
    // called with); without one, none resolves.
    explicit TemplateObject(const FunctionRunTime* runTime = nullptr) noexcept : runTime_(runTime) {}
    virtual ~TemplateObject();

    // The value of a braced keyword (its text trimmed of blanks). Default: not found.
    virtual bool lookupKeyword(const YString& keyword, YString& value);

    // The value of a braced text that is no keyword. Default: evaluated by the
    // run-time; on failure the evaluator's message is kept in lastError().
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

protected:
    YString context_;
    YString lastError_;

private:
    const FunctionRunTime* runTime_;
};
