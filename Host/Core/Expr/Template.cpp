#include "TemplateResolver.h"

#include "FuncContract.h"

#include <algorithm>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

bool FunctionRunTime::evaluate(const YString&, YString&, YString& error) const {
    error = "no expression evaluator is installed";
    return false;
}

TemplateObject::~TemplateObject() = default;

bool TemplateObject::lookupKeyword(const YString&, YString&) { return false; }

bool TemplateObject::evaluateExpression(const YString& expression, YString& value) {
    static const FunctionRunTime kNoEvaluator;
    const FunctionRunTime& runTime = runTime_ ? *runTime_ : kNoEvaluator;
    YString error;
    bool ok = false;
    try {
        ok = runTime.evaluate(expression, value, error);
    } catch (const std::exception& e) {
        // A template is text from anywhere: its failure is the resolver's
        // "not resolved", not the caller's exception.
        error = e.what();
        ok = false;
    }
    if (!ok) lastError_ = error;
    return ok;
}

namespace {

bool isEscapedBrace(std::string_view s, size_t i) {
    return s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '{' || s[i + 1] == '}');
}

// Positions of the braces that have no partner, in increasing order.
std::vector<size_t> unmatchedBraces(std::string_view s) {
    std::vector<size_t> open, unmatched;
    for (size_t i = 0; i < s.size(); ++i) {
        if (isEscapedBrace(s, i)) {
            ++i;
        } else if (s[i] == '{') {
            open.push_back(i);
        } else if (s[i] == '}') {
            if (open.empty()) unmatched.push_back(i);
            else open.pop_back();
        }
    }
    unmatched.insert(unmatched.end(), open.begin(), open.end());
    std::sort(unmatched.begin(), unmatched.end());
    return unmatched;
}

}  // namespace

YString TemplateObject::resolveTemplate(const YString& text, const YString& context, bool& failed) {
    context_ = context;
    failed = false;
    const std::string_view s = text.view();
    const std::vector<size_t> unmatched = unmatchedBraces(s);
    size_t nextUnmatched = 0;

    // One frame per open brace, so that nesting costs heap, not stack.
    struct Frame {
        size_t open;
        std::string inner;
    };
    std::vector<Frame> frames;
    std::string out;
    auto current = [&]() -> std::string& { return frames.empty() ? out : frames.back().inner; };

    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (isEscapedBrace(s, i)) {
            current() += s[++i];
        } else if ((c == '{' || c == '}') && nextUnmatched < unmatched.size() && unmatched[nextUnmatched] == i) {
            ++nextUnmatched;
            current() += c;
            failed = true;
        } else if (c == '{') {
            frames.push_back({i, {}});
        } else if (c == '}') {
            Frame frame = std::move(frames.back());
            frames.pop_back();
            YString key(frame.inner);
            key.strip();
            YString value;
            if (lookupKeyword(key, value) || evaluateExpression(key, value)) {
                current() += value.view();
            } else {
                current() += s.substr(frame.open, i - frame.open + 1);
                failed = true;
            }
        } else {
            current() += c;
        }
    }
    return YString(out);
}
