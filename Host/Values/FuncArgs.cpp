#include "FuncArgs.h"

#include <climits>

#include "Divisions.h"

using cv::Kind;
using cv::Value;
using cv::ValuePtr;

namespace {

VD_type vdType(Kind k) {
    switch (k) {
        case Kind::Complex: return VD_Complex;
        case Kind::String: return VD_String;
        default: return VD_Real;
    }
}

Kind kindOf(VD_type t) {
    switch (t) {
        case VD_Complex: return Kind::Complex;
        case VD_String: return Kind::String;
        default: return Kind::Real;
    }
}

template <class T>
const T* divisionData(const Value* v, const T* base, int64_t d) {
    if (!v || !base || d < 0 || d >= v->numDivisions()) return nullptr;
    return base + v->divisionOffset(d);
}

}  // namespace

// ---------------------------------------------------------------- FuncArgs

YString FuncArgs::refName(int i) const {
    const Value* v = arg(i);
    return v ? YString(v->refName()) : YString();
}

const char* const* FuncArgs::stringData(int i) const {
    const Value* v = arg(i);
    return v ? v->strings() : nullptr;
}

const double* FuncArgs::realData(int i) const {
    const Value* v = arg(i);
    return v ? v->reals() : nullptr;
}

const double* FuncArgs::realDivisionData(int i, int64_t d) const {
    const Value* v = arg(i);
    return divisionData(v, v ? v->reals() : nullptr, d);
}

const cplx* FuncArgs::complexData(int i) const {
    const Value* v = arg(i);
    return v ? v->complexes() : nullptr;
}

const cplx* FuncArgs::complexDivisionData(int i, int64_t d) const {
    const Value* v = arg(i);
    return divisionData(v, v ? v->complexes() : nullptr, d);
}

const double* FuncArgs::refData(int i) const {
    const Value* v = arg(i);
    return v && v->ref() ? v->ref()->reals() : nullptr;
}

const double* FuncArgs::refDivisionData(int i, int64_t d) const {
    const Value* v = arg(i);
    if (!v || !v->ref()) return nullptr;
    const Value* r = v->ref().get();
    if (r->numDivisions() != v->numDivisions()) return d >= 0 && d < v->numDivisions() ? r->reals() : nullptr;
    return divisionData(r, r->reals(), d);
}

const cplx* FuncArgs::complexRefData(int i) const {
    const Value* v = arg(i);
    return v && v->ref() ? v->ref()->complexes() : nullptr;
}

const cplx* FuncArgs::complexRefDivisionData(int i, int64_t d) const {
    const Value* v = arg(i);
    if (!v || !v->ref()) return nullptr;
    const Value* r = v->ref().get();
    if (r->numDivisions() != v->numDivisions()) return d >= 0 && d < v->numDivisions() ? r->complexes() : nullptr;
    return divisionData(r, r->complexes(), d);
}

int64_t FuncArgs::length(int i) const {
    const Value* v = arg(i);
    return v ? v->divisionLength(0) : 0;
}

int64_t FuncArgs::refLength(int i) const {
    const Value* v = arg(i);
    return v && v->ref() ? v->ref()->divisionLength(0) : 0;
}

int64_t FuncArgs::totalLength(int i) const {
    const Value* v = arg(i);
    return v ? v->size() : 0;
}

PhysType FuncArgs::physType(int i) const {
    const Value* v = arg(i);
    return v ? v->physType() : PhysType(PhysType::None);
}

PhysType FuncArgs::refPhysType(int i) const {
    const Value* v = arg(i);
    return v ? v->refPhysType() : PhysType(PhysType::None);
}

int32_t FuncArgs::size(int i) const {
    int64_t n = length(i);
    return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n);
}

int32_t FuncArgs::valueKind(int i) const { return static_cast<int32_t>(type(i)) - 1; }

int64_t FuncArgs::numDivisions(int i) const {
    const Value* v = arg(i);
    return v ? v->numDivisions() : 1;
}

int64_t FuncArgs::numXDivisions(int i) const {
    const Value* v = arg(i);
    return v && v->ref() ? v->ref()->numDivisions() : 0;
}

VD_type FuncArgs::type(int i) const {
    const Value* v = arg(i);
    return v ? vdType(v->kind()) : VD_Real;
}

VD_type FuncArgs::refType(int i) const {
    const Value* v = arg(i);
    return v && v->ref() ? vdType(v->ref()->kind()) : VD_Real;
}

YString FuncArgs::yName(int i) const {
    const Value* v = arg(i);
    return v ? YString(v->name()) : YString();
}

bool FuncArgs::getYDivisionLabelArray(int i, std::vector<YString>& labels) const {
    labels.clear();
    const Value* v = arg(i);
    if (!v || v->divisionLabels().empty()) return false;
    for (const auto& l : v->divisionLabels()) labels.emplace_back(l);
    return true;
}

const cv::ValuePtr& FuncArgs::vector(int i) const {
    static const cv::ValuePtr kNull;
    return arg(i) ? args_[size_t(i)] : kNull;
}

// ---------------------------------------------------------------- FuncResult

void* FuncResult::makeValues(Kind k, int64_t n) {
    value_ = Value::make(k, n);
    valueKind_ = k;
    return value_->mutableData();
}

char** FuncResult::makeStringBlock(int64_t n, size_t bytes, char*& block) {
    value_ = Value::makeStringBlock(n, bytes, block);
    valueKind_ = Kind::String;
    return static_cast<char**>(value_->mutableData());
}

void* FuncResult::makeRef(Kind k, std::span<const int64_t> lengths, bool cleared) {
    return useRef(Value::makeDivided(k, lengths, cleared));
}

void* FuncResult::useRef(cv::MutableValuePtr ref) {
    ref_ = std::move(ref);
    sharedRef_.reset();
    refFromArgs_ = false;
    refKind_ = ref_->kind();
    return ref_->mutableData();
}

std::vector<double*> FuncResult::makeRealDivisions(const std::vector<int64_t>& lengths) {
    value_ = Value::makeDivided(Kind::Real, lengths);
    valueKind_ = Kind::Real;
    std::vector<double*> out;
    out.reserve(lengths.size());
    double* base = static_cast<double*>(value_->mutableData());
    for (int64_t d = 0; d < int64_t(lengths.size()); ++d)
        out.push_back(base + (lengths.size() > 1 ? value_->divisionOffset(d) : 0));
    return out;
}

void FuncResult::setType(VD_type values, VD_type reference) {
    valueKind_ = kindOf(values);
    refKind_ = kindOf(reference);
}

cv::MutableValuePtr FuncResult::laidOut(Kind k, int64_t n, ResultAllocType how, int64_t total, bool cleared) const {
    const int64_t divisions = how == AllocLikeArg ? cv::divisionsLike(args_, total) : 1;
    // One division, by far the most common, needs no list of lengths.
    if (divisions == 1) return Value::makeDivided(k, std::span<const int64_t>(&n, 1), cleared);
    return Value::makeDivided(k, std::vector<int64_t>(size_t(divisions), n), cleared);
}

bool FuncResult::allocate(int64_t n, ResultAllocType how, int64_t total) {
    if (n < 0) return false;
    value_ = laidOut(valueKind_, n, how, total, true);
    return true;
}

bool FuncResult::allocateUninitialized(int64_t n, ResultAllocType how, int64_t total) {
    if (n < 0) return false;
    value_ = laidOut(valueKind_, n, how, total, false);
    return true;
}

bool FuncResult::allocateRef(int64_t n, ResultAllocType how, int64_t total) {
    if (n < 0) return false;
    useRef(laidOut(refKind_, n, how, total, true));
    return true;
}

bool FuncResult::allocateRefUninitialized(int64_t n, ResultAllocType how, int64_t total) {
    if (n < 0) return false;
    useRef(laidOut(refKind_, n, how, total, false));
    return true;
}

double* FuncResult::makeReal(int64_t n, ResultAllocType how, int64_t total) {
    valueKind_ = Kind::Real;
    return allocate(n, how, total) ? data() : nullptr;
}

cplx* FuncResult::makeComplex(int64_t n, ResultAllocType how, int64_t total) {
    valueKind_ = Kind::Complex;
    return allocate(n, how, total) ? complexData() : nullptr;
}

double* FuncResult::makeRealRef(int64_t n, ResultAllocType how, int64_t total) {
    refKind_ = Kind::Real;
    return allocateRef(n, how, total) ? refData() : nullptr;
}

cplx* FuncResult::makeComplexRef(int64_t n, ResultAllocType how, int64_t total) {
    refKind_ = Kind::Complex;
    return allocateRef(n, how, total) ? complexRefData() : nullptr;
}

double* FuncResult::data() {
    return value_ && value_->kind() == Kind::Real ? static_cast<double*>(value_->mutableData()) : nullptr;
}
cplx* FuncResult::complexData() {
    return value_ && value_->kind() == Kind::Complex ? static_cast<cplx*>(value_->mutableData()) : nullptr;
}
char** FuncResult::stringData() {
    return value_ && value_->kind() == Kind::String ? static_cast<char**>(value_->mutableData()) : nullptr;
}
double* FuncResult::refData() {
    return ref_ && ref_->kind() == Kind::Real ? static_cast<double*>(ref_->mutableData()) : nullptr;
}
cplx* FuncResult::complexRefData() {
    return ref_ && ref_->kind() == Kind::Complex ? static_cast<cplx*>(ref_->mutableData()) : nullptr;
}

void FuncResult::setRefName(const YString& text) { refName_ = text.str(); }

void FuncResult::copyRefFromArgs(const FuncArgs& args, ResultAllocType, int i) {
    const cv::ValuePtr& v = args.vector(i);
    ref_.reset();
    refFromArgs_ = true;
    sharedRef_ = v ? v->ref() : nullptr;
    if (!v) return;
    refPhys_ = v->refPhysType();
    refName_ = v->refName();
}

void FuncResult::copyVector(const cv::ValuePtr& v) {
    if (!v) return emptyVectors();
    value_ = v->shallowCopy();
    value_->setRef(nullptr);
    valueKind_ = v->kind();
    ref_.reset();
    sharedRef_.reset();
    refFromArgs_ = false;
}

void FuncResult::copyVector(const cv::ValuePtr& v, const cv::ValuePtr& refSource) {
    copyVector(v);
    if (!v || !refSource) return;
    sharedRef_ = refSource->ref();
    refFromArgs_ = true;
    if (!refPhys_) refPhys_ = refSource->refPhysType();
    if (refName_.empty()) refName_ = refSource->refName();
}

void FuncResult::emptyVectors() {
    value_.reset();
    ref_.reset();
    sharedRef_.reset();
    refFromArgs_ = false;
}

void FuncResult::setDivisionLabelArray(const std::vector<YString>& labels) {
    labels_.clear();
    for (const auto& l : labels) labels_.push_back(l.str());
}

void FuncResult::finish() { finished_ = true; }

cv::ValuePtr FuncResult::take() {
    if (!value_) return Value::none();
    if (ref_) value_->setRef(std::move(ref_));
    else if (refFromArgs_) value_->setRef(std::move(sharedRef_));
    if (phys_) value_->setPhysType(*phys_);
    if (refPhys_) value_->setRefPhysType(*refPhys_);
    if (!refName_.empty()) value_->setRefName(refName_);
    if (!labels_.empty()) value_->setDivisionLabels(std::move(labels_));
    if (!value_->ref()) value_->setRefPhysType(PhysType::None);
    cv::ValuePtr out = std::move(value_);
    value_.reset();
    return out;
}
