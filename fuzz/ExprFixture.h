// Vectors bound in the fuzzing session so that expressions have something to
// work on: a waveform, a complex one, a divided one, a string list and a scalar.
#pragma once
#include "FuzzSupport.h"

namespace fuzz {

inline cv::Session& exprSession() {
    static cv::Session& s = [] () -> cv::Session& {
        cv::Session& s = session();
        std::vector<double> x{0, 1, 2, 3, 4, 5, 6, 7}, y{0, 1, 0, -1, 0, 1, 0, -1};
        auto w = cv::Value::make(cv::Kind::Real, 8);
        std::copy(y.begin(), y.end(), static_cast<double*>(w->mutableData()));
        w->setRef(cv::Value::reals(x));
        s.bind("w", w);
        s.bind("c", cv::Value::complexes(std::vector<cv::cplx>{{1, 2}, {0, -1}, {3, 0}}));
        std::vector<int64_t> lengths{3, 2};
        auto d = cv::Value::makeDivided(cv::Kind::Real, lengths);
        auto r = cv::Value::makeDivided(cv::Kind::Real, lengths);
        double dv[] = {1, 2, 3, 4, 5}, rv[] = {0, 1, 2, 0, 1};
        std::copy(dv, dv + 5, static_cast<double*>(d->mutableData()));
        std::copy(rv, rv + 5, static_cast<double*>(r->mutableData()));
        d->setRef(r);
        s.bind("d", d);
        s.bind("s", cv::Value::strings(std::vector<std::string>{"a", "b;c", "%s"}));
        s.bind("k", cv::Value::real(3));
        return s;
    }();
    return s;
}

}  // namespace fuzz
