// Inputs for the targets that call the text script functions: lists of
// strings cut from the input bytes.
#pragma once
#include "FuzzSupport.h"

namespace fuzz {

// A list of 0-4 length-prefixed strings.
inline cv::ValuePtr stringList(Bytes& in) {
    std::vector<std::string> s(in.pick(5));
    for (auto& x : s) x = in.str();
    return cv::Value::strings(s);
}

// A list of the lines of everything left.
inline cv::ValuePtr linesOfRest(Bytes& in) {
    std::string rest = in.rest();
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i)
        if (i == rest.size() || rest[i] == '\n') {
            lines.push_back(rest.substr(start, i - start));
            start = i + 1;
        }
    return cv::Value::strings(lines);
}

}  // namespace fuzz
