// The printf engine: an arbitrary format with up to eight tagged arguments of
// any kind, in any order (the format need not agree with them).
#include <cmath>
#include <limits>

#include "FuzzSupport.h"
#include "PrintfArg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const double kReals[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2147483648.0, -2147483648.0, 1e15, -1e15, 1e300,
                                    -1e300, std::numeric_limits<double>::quiet_NaN(),
                                    std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::denorm_min(), 1.5e-310};
    static const long long kIntegers[] = {0, 1, -1, 2147483647LL, -2147483648LL,
                                          std::numeric_limits<long long>::max(),
                                          std::numeric_limits<long long>::min(), 255};
    fuzz::Bytes in(data, size);
    size_t count = in.pick(9);
    std::vector<std::string> texts(count);
    std::vector<PrintfArg> args(count);
    for (size_t i = 0; i < count; ++i) {
        switch (in.pick(6)) {
            case 0: break;  // empty
            case 1: args[i] = PrintfArg((long long)kIntegers[in.pick(std::size(kIntegers))]); break;
            case 2: args[i] = PrintfArg((long long)int64_t(uint64_t(in.u32()) << 32 | in.u32())); break;
            case 3: args[i] = PrintfArg(kReals[in.pick(std::size(kReals))]); break;
            case 4: args[i] = PrintfArg(in.f64()); break;
            default:
                texts[i] = in.str();
                args[i] = PrintfArg(std::string_view(texts[i]));
        }
    }
    std::string format = in.rest();
    cv::formatPrintf(format.c_str(), std::span<const PrintfArg>(args.data(), args.size()));
    return 0;
}
