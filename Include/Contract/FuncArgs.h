// The concrete argument and result classes behind FuncArgsMinimal and
// FuncResultMinimal.
#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FuncInterface.h"
#include "Value.h"

class FuncArgs : public FuncArgsMinimal {
public:
    FuncArgs(std::string_view functionName, std::span<const cv::ValuePtr> args) noexcept
        : name_(functionName), args_(args) {}

    YString functionName() const override { return YString(name_); }
    YString refName(int i) const override;
    const char* const* stringData(int i) const override;
    const double* realDivisionData(int i, int64_t d) const override;
    const double* realData(int i) const override;
    const cplx* complexDivisionData(int i, int64_t d) const override;
    const cplx* complexData(int i) const override;
    const double* refDivisionData(int i, int64_t d) const override;
    const double* refData(int i) const override;
    const cplx* complexRefDivisionData(int i, int64_t d) const override;
    const cplx* complexRefData(int i) const override;
    int64_t length(int i) const override;
    int64_t refLength(int i) const override;
    PhysType physType(int i) const override;
    PhysType refPhysType(int i) const override;
    int32_t size(int i) const override;
    int32_t valueKind(int i) const override;
    int32_t numArgs() const override { return static_cast<int32_t>(args_.size()); }
    int64_t numDivisions(int i) const override;
    VD_type type(int i) const override;
    VD_type refType(int i) const override;
    const FuncArgs& funcArgs() const override { return *this; }

    int64_t totalLength(int i) const;
    int64_t numXDivisions(int i) const;  // divisions of the reference
    // Whether argument i carries a reference (x-values), of any kind.
    bool hasRef(int i) const noexcept {
        const cv::Value* v = arg(i);
        return v && v->ref();
    }
    YString yName(int i) const;
    // Labels of argument i's divisions; false when it has none.
    bool getYDivisionLabelArray(int i, std::vector<YString>& labels) const;
    // The host vector of argument i (null for an index out of range).
    const cv::ValuePtr& vector(int i) const;

private:
    const cv::Value* arg(int i) const noexcept {
        return i >= 0 && size_t(i) < args_.size() ? args_[size_t(i)].get() : nullptr;
    }
    std::string_view name_;
    std::span<const cv::ValuePtr> args_;
};

class FuncResult : public FuncResultMinimal {
public:
    FuncResult(std::string_view functionName, const FuncArgs* args) noexcept : name_(functionName), args_(args) {}

    double* makeRealVector(int64_t n) override { return static_cast<double*>(makeValues(cv::Kind::Real, n)); }
    char** makeStringVector(int64_t n) override { return static_cast<char**>(makeValues(cv::Kind::String, n)); }
    int32_t* makeIntegerVector(int64_t n) override {
        return static_cast<int32_t*>(makeValues(cv::Kind::Integer, n));
    }
    bool* makeBoolVector(int64_t n) override { return static_cast<bool*>(makeValues(cv::Kind::Bool, n)); }
    cplx* makeComplexVector(int64_t n) override { return static_cast<cplx*>(makeValues(cv::Kind::Complex, n)); }
    double* makeRealRefVector(int64_t n) override { return static_cast<double*>(makeRef(cv::Kind::Real, {&n, 1})); }
    cplx* makeComplexRefVector(int64_t n) override {
        return static_cast<cplx*>(makeRef(cv::Kind::Complex, {&n, 1}));
    }
    std::vector<double*> makeRealDivisions(const std::vector<int64_t>& lengths) override;
    double* makeRealScalar() override { return makeRealVector(1); }
    char** makeStringScalar() override { return makeStringVector(1); }
    // n text slots and one block of `bytes` characters for their texts (see
    // cv::Value::makeStringBlock); `block` is where the first text goes.
    char** makeStringBlock(int64_t n, size_t bytes, char*& block);
    int32_t* makeIntegerScalar() override { return makeIntegerVector(1); }
    int64_t* makeInteger64Scalar() override { return static_cast<int64_t*>(makeValues(cv::Kind::Integer64, 1)); }
    bool* makeBoolScalar() override { return makeBoolVector(1); }
    void setPhysType(PhysType t) override { phys_ = t; }
    void setRefPhysType(PhysType t) override { refPhys_ = t; }
    YString resultName() const override { return YString(name_); }
    FuncResult& funcResult() override { return *this; }
    void finish() override;

    // Kinds used by allocate / allocateRef.
    void setType(VD_type values, VD_type reference);
    bool allocate(int64_t n, ResultAllocType how, int64_t total);
    // As allocate, without clearing numeric elements: for a handler that
    // writes every element (or drops the result) before anything reads it.
    bool allocateUninitialized(int64_t n, ResultAllocType how, int64_t total);
    bool allocateRef(int64_t n, ResultAllocType how, int64_t total);
    // The same for the reference.
    bool allocateRefUninitialized(int64_t n, ResultAllocType how, int64_t total);
    double* makeReal(int64_t n, ResultAllocType how, int64_t total);
    cplx* makeComplex(int64_t n, ResultAllocType how, int64_t total);
    double* makeRealRef(int64_t n, ResultAllocType how, int64_t total);
    cplx* makeComplexRef(int64_t n, ResultAllocType how, int64_t total);
    double* data();
    cplx* complexData();
    double* refData();
    cplx* complexRefData();
    char** stringData();
    void setRefName(const YString& text);
    // The result takes argument i's reference (shared, not copied), with its
    // physical type and name.
    void copyRefFromArgs(const FuncArgs& args, ResultAllocType how, int i);
    // The result becomes v (sharing its data); with refSource, that vector's
    // reference too.
    void copyVector(const cv::ValuePtr& v);
    void copyVector(const cv::ValuePtr& v, const cv::ValuePtr& refSource);
    // Drops whatever was built so far.
    void emptyVectors();
    void setDivisionLabelArray(const std::vector<YString>& labels);

    // For the host.
    bool finished() const noexcept { return finished_; }
    // The finished value (a "none" value when nothing was built).
    cv::ValuePtr take();

private:
    void* makeValues(cv::Kind k, int64_t n);
    void* makeRef(cv::Kind k, std::span<const int64_t> lengths, bool cleared = true);
    void* useRef(cv::MutableValuePtr ref);
    // A value of n elements per division, laid out as `how` and `total` say.
    cv::MutableValuePtr laidOut(cv::Kind k, int64_t n, ResultAllocType how, int64_t total, bool cleared) const;

    std::string_view name_;
    const FuncArgs* args_;
    cv::MutableValuePtr value_;
    cv::MutableValuePtr ref_;       // built here, or
    cv::ValuePtr sharedRef_;        // taken from an argument
    bool refFromArgs_ = false;
    cv::Kind valueKind_ = cv::Kind::Real;
    cv::Kind refKind_ = cv::Kind::Real;
    std::optional<PhysType> phys_, refPhys_;  // as set by the handler
    std::string refName_;
    std::vector<std::string> labels_;
    bool finished_ = false;
};
