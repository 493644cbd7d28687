// Shared set-up of the host tests: one session with the function module
// loaded, and helpers to call functions by name.
#pragma once
#include <gtest/gtest.h>

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

inline std::vector<double> realsOf(const cv::Value& v) {
    std::vector<double> out;
    for (int64_t i = 0; i < v.size(); ++i) out.push_back(v.realAt(i));
    return out;
}

}  // namespace cvtest
