// The Touchstone reader: the first byte chooses the port count asked for,
// the second the file name's extension, the rest is the file. A built table
// must hold N x N finite values per point at increasing frequencies.
#include <cmath>

#include "FuzzSupport.h"
#include "Touchstone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool limited = [] {
        cv::setMemoryLimitBytes(size_t(1) << 30);
        return true;
    }();
    (void)limited;
    fuzz::Bytes in(data, size);
    const uint8_t p = in.u8();
    // Mostly small port counts, now and then one far out of range.
    const int32_t ports = p < 240 ? int32_t(p % 6) + 1 : p == 255 ? 1000000 : p == 254 ? -1 : int32_t(p - 200) * 1000;
    static const char* const names[] = {"in.s1p", "in.s2p", "in.s3p", "in.s4p", "in.ts", "in.S2P", "in.txt", "in.s0p"};
    const std::string path = fuzz::writeFile(names[in.pick(8)], in.rest());
    AcTableData table(path.c_str(), ports);
    YList<YString> errors;
    const bool built = table.build(&errors);
    if (built != errors.empty() || (!built && table.numPoints() != 0)) std::abort();
    double last = -1;
    for (int64_t i = 0; i < table.numPoints(); ++i) {
        const AcTableFrequencyPoint pt = table.get(i);
        if (!(pt.frequency > last) || pt.count != int64_t(ports) * ports) std::abort();
        last = pt.frequency;
        for (int64_t k = 0; k < pt.count; ++k)
            if (!std::isfinite(pt.values[k].real()) || !std::isfinite(pt.values[k].imag())) std::abort();
    }
    return 0;
}
