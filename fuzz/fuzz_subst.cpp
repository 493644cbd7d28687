// The expression substituter: the input is split into the expression and the
// replacement texts the hooks hand back (which may themselves be malformed).
#include "ExprSubstitute.h"
#include "FuzzSupport.h"

namespace {

class Hooks : public VecSubstExpressionObject {
public:
    Hooks(std::string name, std::string function, int mode) : name_(std::move(name)), function_(std::move(function)), mode_(mode) {}
    bool substituteName(const YString& name, YString& replacement) override {
        if (!(mode_ & 1)) return false;
        replacement = YString(name_);
        if (mode_ & 4) replacement += name;
        return true;
    }
    bool substituteFunction(const YString& name, const std::vector<YString>& args, YString& replacement) override {
        if (!(mode_ & 2)) return false;
        replacement = YString(function_);
        if (mode_ & 8)
            for (const auto& a : args) replacement += a;
        (void)name;
        return true;
    }

private:
    std::string name_, function_;
    int mode_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    int mode = in.u8();
    std::string name = in.str(), function = in.str();
    std::string expression = in.rest();
    Hooks hooks(name, function, mode);
    YString result, error;
    vec_SubstituteExpression(YString(expression), hooks, result, &error);
    return 0;
}
