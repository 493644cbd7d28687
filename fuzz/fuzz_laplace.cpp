// The Laplace expression parser: any text ends in a valid result or one of
// the table's error codes; a result has degrees within the limit, finite
// coefficients, no trailing zero coefficient and a denominator that is not 0;
// asking again with buffers too small leaves them untouched.
#include <cmath>
#include <vector>

#include "FuzzSupport.h"
#include "Laplace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // the parser stops at a NUL
    XSpiceParseLaplaceArgs probe{text.c_str(), nullptr, 0, nullptr, 0, LaplaceNotParsed, 0};
    const int ok = sp_ParseLaplaceExpression(&probe);
    const char* message = nullptr;
    sp_GetLaplaceErrMessage(probe.error, &message);
    if (!message || !*message) std::abort();
    if (!ok) {
        if (probe.error < LaplaceEmpty || probe.error > LaplaceTooDeep) std::abort();
        return 0;
    }
    if (probe.error != LaplaceOk) std::abort();
    for (int32_t d : {probe.firstCount, probe.secondCount})
        if (d < 0 || d > kLaplaceMaxDegree) std::abort();

    std::vector<double> n(size_t(probe.firstCount) + 2, -7.0), d(size_t(probe.secondCount) + 1, -7.0);
    XSpiceParseLaplaceArgs full{text.c_str(), n.data(), int32_t(n.size()), d.data(), int32_t(d.size()) - 1,
                                LaplaceNotParsed, 0};
    if (!sp_ParseLaplaceExpression(&full) || full.firstCount != probe.firstCount) std::abort();
    if (d.front() != -7.0) std::abort();                   // one short: untouched
    if (n.back() != -7.0) std::abort();                    // written up to degree + 1 only
    for (int32_t k = 0; k <= full.firstCount; ++k)
        if (!std::isfinite(n[size_t(k)])) std::abort();
    if (full.firstCount > 0 && n[size_t(full.firstCount)] == 0.0) std::abort();
    return 0;
}
