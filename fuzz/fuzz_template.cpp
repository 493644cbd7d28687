// The template resolver: braced keywords (looked up by the subclass, whose
// values come from the input and may hold braces themselves) and braced
// expressions, evaluated in the fuzzing session.
#include "ExprFixture.h"
#include "TemplateResolver.h"

namespace {

class Keywords : public TemplateObject {
public:
    Keywords(const FunctionRunTime* rt, std::string a, std::string b)
        : TemplateObject(rt), a_(std::move(a)), b_(std::move(b)) {}
    bool lookupKeyword(const YString& keyword, YString& value) override {
        std::string_view k = keyword.view();
        if (k == "n") value = YString(a_);
        else if (k == "V1" || k == "path") value = YString(b_);
        else return false;
        return true;
    }

private:
    std::string a_, b_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cv::Session& s = fuzz::exprSession();
    fuzz::Bytes in(data, size);
    std::string a = in.str(), b = in.str(), context = in.str();
    std::string text = in.rest();
    Keywords k(&s.runTime(), a, b);
    bool failed = false;
    k.resolveTemplate(YString(text), YString(context), failed);
    return 0;
}
