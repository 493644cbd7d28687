#include "Divisions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "EngNumber.h"
#include "FuncArgs.h"

namespace cv {

int64_t divisionsLike(const FuncArgs* args, int64_t total) {
    for (int i = 0; args && i < args->numArgs(); ++i) {
        int64_t d = args->numDivisions(i);
        if (d > 1 && args->totalLength(i) == total) return d;
    }
    return 1;
}

// A division that built no result joins as an empty division, so one run
// that never crosses a level does not cost the other runs their results.
bool joinDivisions(std::span<const ValuePtr> parts, const std::vector<std::string>& labels, ValuePtr& out,
                   std::string& error) {
    auto isNone = [](const ValuePtr& p) { return p->kind() == Kind::None; };
    auto firstBuilt = std::find_if_not(parts.begin(), parts.end(), isNone);
    if (firstBuilt == parts.end()) {
        out = Value::none();
        return true;
    }
    Kind kind = Kind::None;
    for (const auto& p : parts) {
        Kind k = p->kind();
        if (k == Kind::None) continue;
        if (k == Kind::Integer || k == Kind::Integer64 || k == Kind::Bool) k = Kind::Real;
        if (kind == Kind::None) kind = k;
        else if (k != kind) {
            if ((kind == Kind::Real && k == Kind::Complex) || (kind == Kind::Complex && k == Kind::Real))
                kind = Kind::Complex;
            else {
                error = "the results of its divisions are of different kinds";
                return false;
            }
        }
    }
    std::vector<int64_t> lengths;
    for (const auto& p : parts) {
        if (isNone(p)) lengths.push_back(0);
        for (int64_t d = 0; !isNone(p) && d < p->numDivisions(); ++d) lengths.push_back(p->divisionLength(d));
    }
    auto joined = Value::makeDivided(kind, lengths);
    size_t es = elementSize(kind);
    auto* dst = static_cast<unsigned char*>(joined->mutableData());
    for (const auto& p : parts) {
        if (isNone(p)) continue;
        ValuePtr c = p->kind() == kind ? p : p->convertedTo(kind);
        if (kind == Kind::String) {
            char** s = reinterpret_cast<char**>(dst);
            for (int64_t i = 0; i < c->size(); ++i) {
                const char* t = c->strings()[i];
                if (t && !(s[i] = strdup(t))) throw std::bad_alloc();
            }
        } else if (c->size()) {
            std::memcpy(dst, c->rawData(), size_t(c->size()) * es);
        }
        dst += size_t(c->size()) * es;
    }
    bool allRefs = std::all_of(parts.begin(), parts.end(), [&](const ValuePtr& p) { return isNone(p) || p->ref(); });
    if (allRefs) {
        std::vector<ValuePtr> refs;
        for (const auto& p : parts) {
            if (isNone(p)) refs.push_back(Value::make((*firstBuilt)->ref()->kind(), 0));
            else refs.push_back(p->ref()->size() == p->size() ? p->ref() : nullptr);
        }
        if (std::all_of(refs.begin(), refs.end(), [](const ValuePtr& r) { return bool(r); })) {
            std::vector<std::string> none;
            ValuePtr ref;
            std::string ignored;
            if (joinDivisions(refs, none, ref, ignored)) joined->setRef(ref);
        }
    }
    const Value& first = **firstBuilt;
    joined->setPhysType(first.physType());
    if (joined->ref()) {
        joined->setRefPhysType(first.refPhysType());
        joined->setRefName(first.refName());
    }
    joined->setName(first.name());
    if (labels.size() == lengths.size()) joined->setDivisionLabels(labels);
    out = joined;
    return true;
}

namespace {

// The x-value of every division from its label: a number ("3", "1.5e-3",
// "2.2k"), or one swept parameter, "NAME=VALUE" with the same NAME in every
// label ("R=1K", "r2=500"), which then names the axis. False when any label
// is something else (several parameters, text, no labels at all).
bool sweptValues(const std::vector<std::string>& labels, int64_t n, double* x, std::string& axis) {
    if (int64_t(labels.size()) != n || n == 0) return false;
    std::string_view name;
    for (int64_t d = 0; d < n; ++d) {
        std::string_view label = labels[size_t(d)], value = label, key;
        if (const size_t eq = label.find('='); eq != std::string_view::npos) {
            key = cv::trimBlanks(label.substr(0, eq));
            value = label.substr(eq + 1);
            if (key.empty()) return false;
        }
        if (d == 0) name = key;
        else if (key != name) return false;
        const std::string number(cv::trimBlanks(value));
        const char* end = nullptr;
        x[d] = sp_ConvertEngToReal(number.c_str(), &end);
        if (number.empty() || end != number.c_str() + number.size()) return false;
    }
    axis = std::string(name);
    return true;
}

}  // namespace

ValuePtr collectStatistic(std::span<const ValuePtr> parts, const std::vector<std::string>& labels) {
    bool complex = std::any_of(parts.begin(), parts.end(), [](const ValuePtr& p) { return p->kind() == Kind::Complex; });
    int64_t n = int64_t(parts.size());
    auto v = Value::make(complex ? Kind::Complex : Kind::Real, n);
    for (int64_t d = 0; d < n; ++d) {
        // A division that gave no value reads as NaN: it has no measurement.
        const Value& p = *parts[size_t(d)];
        if (complex) static_cast<cplx*>(v->mutableData())[d] = p.size() ? p.complexAt(0) : cplx(NAN, NAN);
        else static_cast<double*>(v->mutableData())[d] = p.size() ? p.realAt(0) : NAN;
    }
    auto ref = Value::make(Kind::Real, n);
    double* x = static_cast<double*>(ref->mutableData());
    std::string axis;
    if (!sweptValues(labels, n, x, axis))
        for (int64_t d = 0; d < n; ++d) x[d] = double(d);
    v->setRef(ref);
    v->setRefName(std::move(axis));
    auto built = std::find_if(parts.begin(), parts.end(), [](const ValuePtr& p) { return p->kind() != Kind::None; });
    v->setPhysType(built != parts.end() ? (*built)->physType() : parts.front()->physType());
    return v;
}

}  // namespace cv
