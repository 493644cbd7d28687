// Shared set-up of the host tests: one session with the function module
// loaded, and helpers to call functions by name.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
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
                                const std::vector<std::vector<double>>& xs) {
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
    return v;
}

inline std::vector<double> realsOf(const cv::Value& v) {
    std::vector<double> out;
    for (int64_t i = 0; i < v.size(); ++i) out.push_back(v.realAt(i));
    return out;
}

}  // namespace cvtest
