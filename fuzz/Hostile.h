// Hostile argument values for the targets that call script functions: the
// input bytes choose a kind, a length, values from a set of awkward numbers
// and strings, a reference and a division layout.
#pragma once
#include <cmath>
#include <limits>

#include "FuzzSupport.h"

namespace fuzz {

inline double hostileReal(uint8_t b) {
    static const double kSet[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2147483648.0, -2147483648.0, 1e15, -1e15, 1e300,
                                  -1e300, std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::denorm_min(), -4.9e-320, 2.0, 3.0, 10.0, 1e-9,
                                  2147483647.0, 4294967296.0, 9.2233720368547758e18, -0.5};
    return kSet[b % std::size(kSet)];
}

inline std::string hostileString(Bytes& in) {
    static const char* const kSet[] = {
        "", "a", "0", "1", "-1", "1k", "2.5meg", "nan", "inf", "-1e300", "%s", "%n%n%n", "%999999999d", "%.*f",
        "%-+ #0*.*lld", "\xff\xfe\xfd", "\xc3\x28", "a;b;c", "\"a b\" 'c'", "x=1 y=2", "*", "?*\\", "\\", "{", "}",
        "..", "/", "iso", "all", "(", "v(out)", "time", "TRUE",
    };
    uint8_t b = in.u8();
    if (b < 200) return kSet[b % std::size(kSet)];
    if (b < 250) return in.str();
    return std::string(size_t(in.u8()) * 64 + 1, char('a' + b % 3));  // long
}

// One argument. Numeric vectors may carry a reference and divisions.
inline cv::ValuePtr hostileValue(Bytes& in) {
    const uint8_t kindByte = in.u8(), lengthByte = in.u8();
    int64_t n;
    switch (lengthByte % 4) {
        case 0: n = 0; break;
        case 1: n = 1; break;
        case 2: n = 2 + (lengthByte >> 2) % 7; break;
        default: n = 1000 + int64_t(lengthByte >> 2) * 61; break;
    }
    // Elements beyond the first few repeat a pattern, so that a long vector
    // costs a few input bytes.
    const uint8_t seed = in.u8(), step = in.u8();
    std::vector<uint8_t> first;
    for (int64_t i = 0; i < std::min<int64_t>(n, 4); ++i) first.push_back(in.u8());
    auto code = [&](int64_t i) -> uint8_t {
        return i < int64_t(first.size()) ? first[size_t(i)] : uint8_t(seed + uint8_t(i) * step);
    };
    const int kind = kindByte % 5;
    if (kind == 2) {  // strings
        std::vector<std::string> s;
        for (int64_t i = 0; i < std::min<int64_t>(n, 16); ++i) s.push_back(hostileString(in));
        return cv::Value::strings(s);
    }
    // Divisions (1-4) and their labels.
    const uint8_t layout = in.u8();
    int64_t d = 1 + layout % 4;
    if (d > n) d = 1;
    std::vector<int64_t> lengths(size_t(d), n / d);
    lengths.back() += n % d;
    static const cv::Kind kKinds[] = {cv::Kind::Real, cv::Kind::Complex, cv::Kind::String, cv::Kind::Integer,
                                      cv::Kind::Bool};
    const cv::Kind k = kKinds[kind];
    auto v = cv::Value::makeDivided(k, lengths);
    for (int64_t i = 0; i < n; ++i) {
        const double x = hostileReal(code(i));
        switch (k) {
            case cv::Kind::Real: static_cast<double*>(v->mutableData())[i] = x; break;
            case cv::Kind::Complex:
                static_cast<cv::cplx*>(v->mutableData())[i] = {x, hostileReal(uint8_t(code(i) * 7 + 3))};
                break;
            case cv::Kind::Integer:
                static_cast<int32_t*>(v->mutableData())[i] =
                    std::isfinite(x) && std::fabs(x) < 2147483647.0 ? int32_t(x) : int32_t(code(i)) - 128;
                break;
            default: static_cast<bool*>(v->mutableData())[i] = code(i) & 1; break;
        }
    }
    if (d > 1 && (layout & 0x10)) {
        std::vector<std::string> labels;
        for (int64_t j = 0; j < d; ++j) labels.push_back(j == 1 && (layout & 0x20) ? "" : "run " + std::to_string(j));
        v->setDivisionLabels(labels);
    }
    // The reference: none, increasing, constant, decreasing, NaN-filled, shorter.
    const int refKind = (layout >> 6) | ((seed & 1) << 2);
    if (refKind != 0 && k != cv::Kind::Bool) {
        const bool shorter = refKind == 5;
        std::vector<int64_t> rl = lengths;
        if (shorter && rl.back() > 0) --rl.back();
        auto r = cv::Value::makeDivided(cv::Kind::Real, rl);
        double* p = static_cast<double*>(r->mutableData());
        for (int64_t i = 0; i < r->size(); ++i) {
            switch (refKind) {
                case 1: case 5: p[i] = double(i) * 0.5; break;
                case 2: p[i] = 1.0; break;
                case 3: p[i] = -double(i); break;
                case 4: p[i] = std::numeric_limits<double>::quiet_NaN(); break;
                default: p[i] = double(i) * double(i) * 1e-6; break;
            }
        }
        v->setRef(r);
    }
    return v;
}

}  // namespace fuzz
