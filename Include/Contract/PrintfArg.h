// Tagged arguments of the host's printf engine. A format can never make the
// engine read past its arguments or misread their kind: each argument carries
// its own kind and the engine converts where the format asks for another.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

class YString;

struct PrintfArg {
    enum Kind : uint8_t { Empty, Integer, Real, String };
    Kind kind = Empty;
    long long i = 0;
    double r = 0.0;
    std::string_view s;   // not owned: lives as long as the call that formats it

    PrintfArg() = default;
    PrintfArg(int v) : kind(Integer), i(v) {}
    PrintfArg(long v) : kind(Integer), i(v) {}
    PrintfArg(long long v) : kind(Integer), i(v) {}
    PrintfArg(unsigned v) : kind(Integer), i(v) {}
    PrintfArg(unsigned long v) : kind(Integer), i(static_cast<long long>(v)) {}
    PrintfArg(unsigned long long v) : kind(Integer), i(static_cast<long long>(v)) {}
    PrintfArg(double v) : kind(Real), r(v) {}
    PrintfArg(const char* v) : kind(String), s(v ? std::string_view(v) : std::string_view()) {}
    PrintfArg(std::string_view v) : kind(String), s(v) {}
    PrintfArg(const std::string& v) : kind(String), s(v) {}
    PrintfArg(const YString& v);
};

// Formats `format` with the tagged arguments. Never crashes, whatever the
// format: "%n" is refused (written as nothing), a conversion with no argument
// left prints nothing, a kind mismatch is converted safely, and widths and
// precisions are clamped.
namespace cv {
std::string formatPrintf(const char* format, std::span<const PrintfArg> args);
inline std::string formatPrintf(const char* format, std::initializer_list<PrintfArg> args) {
    return cv::formatPrintf(format, std::span<const PrintfArg>(args.begin(), args.size()));
}
}  // namespace cv
