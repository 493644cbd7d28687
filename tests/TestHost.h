// Shared set-up of the host tests: one session with the function module
// loaded, and helpers to call functions by name.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <string>
#include <vector>

#include "Session.h"

namespace cvtest {

inline std::string modulePath() { return std::string(CVFUNC_BUILD_DIR) + "/libfunctions.so"; }
inline std::string dataPath(const std::string& name) { return std::string(CVFUNC_TEST_DATA) + "/" + name; }

// The process-wide session with the module loaded.
cv::Session& session();

struct Outcome {
    bool ok = false;
    cv::ValuePtr value;
    std::string error;
};

inline Outcome call(const std::string& name, std::vector<cv::ValuePtr> args) {
    Outcome o;
    o.ok = session().caller().call(name, args, o.value, o.error);
    return o;
}

inline cv::ValuePtr reals(std::vector<double> v) { return cv::Value::reals(v); }
inline cv::ValuePtr complexes(std::vector<cv::cplx> v) { return cv::Value::complexes(v); }
inline cv::ValuePtr strings(std::vector<std::string> v) { return cv::Value::strings(v); }
inline cv::ValuePtr str(const std::string& s) { return cv::Value::string(s); }

// Evenly spaced x-values x0, x0 + dx, ... (n of them).
inline std::vector<double> grid(size_t n, double dx = 1.0, double x0 = 0.0) {
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i) x[i] = x0 + double(i) * dx;
    return x;
}

// A waveform: values y against the x-values of its reference.
inline cv::ValuePtr wave(const std::vector<double>& y, const std::vector<double>& x,
                         PhysType py = PhysType::None, PhysType px = PhysType::None) {
    auto v = cv::Value::make(cv::Kind::Real, int64_t(y.size()));
    std::copy(y.begin(), y.end(), static_cast<double*>(v->mutableData()));
    v->setRef(reals(x));
    v->setPhysType(py);
    v->setRefPhysType(px);
    return v;
}

// One waveform of several divisions (runs), each with its own x-values.
inline cv::ValuePtr dividedWave(const std::vector<std::vector<double>>& ys,
                                const std::vector<std::vector<double>>& xs, PhysType py = PhysType::None,
                                PhysType px = PhysType::None) {
    std::vector<int64_t> lengths;
    for (const auto& y : ys) lengths.push_back(int64_t(y.size()));
    auto v = cv::Value::makeDivided(cv::Kind::Real, lengths);
    auto r = cv::Value::makeDivided(cv::Kind::Real, lengths);
    double *pv = static_cast<double*>(v->mutableData()), *pr = static_cast<double*>(r->mutableData());
    for (size_t d = 0; d < ys.size(); ++d) {
        pv = std::copy(ys[d].begin(), ys[d].end(), pv);
        pr = std::copy(xs[d].begin(), xs[d].end(), pr);
    }
    v->setRef(r);
    v->setPhysType(py);
    v->setRefPhysType(px);
    return v;
}

inline std::vector<double> realsOf(const cv::Value& v) {
    std::vector<double> out;
    for (int64_t i = 0; i < v.size(); ++i) out.push_back(v.realAt(i));
    return out;
}
inline std::vector<cv::cplx> complexesOf(const cv::Value& v) {
    std::vector<cv::cplx> out;
    for (int64_t i = 0; i < v.size(); ++i) out.push_back(v.complexAt(i));
    return out;
}
inline std::vector<std::string> stringsOf(const cv::Value& v) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < v.size(); ++i) out.emplace_back(v.stringAt(i));
    return out;
}

// The x-values of a result (empty when it failed or has none).
inline std::vector<double> refOf(const Outcome& o) {
    return o.ok && o.value->ref() ? realsOf(*o.value->ref()) : std::vector<double>{};
}

// A measurement that succeeded but found nothing.
inline bool noResult(const Outcome& o) { return o.ok && o.value->kind() == cv::Kind::None; }

// The real values of a call that must succeed.
inline std::vector<double> values(const std::string& name, std::vector<cv::ValuePtr> args) {
    auto o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    return o.ok ? realsOf(*o.value) : std::vector<double>{};
}

using Texts = std::vector<std::string>;

// The result of a call that returns one string ("" for no result).
inline std::string text(const std::string& name, std::vector<cv::ValuePtr> args = {}) {
    const Outcome o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    if (!o.ok || o.value->kind() != cv::Kind::String || o.value->size() == 0) return {};
    return stringsOf(*o.value)[0];
}
inline std::vector<std::string> texts(const std::string& name, std::vector<cv::ValuePtr> args = {}) {
    const Outcome o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    return o.ok && o.value->kind() == cv::Kind::String ? stringsOf(*o.value) : std::vector<std::string>{};
}
inline double number(const std::string& name, std::vector<cv::ValuePtr> args = {}) {
    const Outcome o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    return o.ok && o.value->size() > 0 ? o.value->realAt(0) : -999;
}

// The physical types of a result's values and of its x-values.
inline void expectTypes(const cv::Value& v, PhysType values, PhysType ref) {
    EXPECT_EQ(v.physType(), values);
    EXPECT_EQ(v.refPhysType(), ref);
}

inline void expectNear(const std::vector<double>& got, const std::vector<double>& want, double tol = 1e-12) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << "at " << i;
}

}  // namespace cvtest
