// The host's crossing search and polynomial interpolation, shared by every
// waveform measurement.
#pragma once
#include <cstdint>

#include "YContainers.h"

// Interpolation options. Callers build the record afresh with every field set.
struct InterpOpts {
    bool ySearch = false;  // the search runs over y-values (a level crossing), not over x
    bool flag1 = false;
    bool flag2 = false;
    bool flag3 = false;
    int32_t order = 1;      // polynomial order of the interpolation, 1 = linear
    int32_t direction = 0;  // 1 rising crossings only, -1 falling only, 0 both
    double reserved = 0.0;
};

// Finds every place where searched[] reaches target (n points) and, for each,
// the interpolated value of returned[] there. Each find is inserted at the
// FRONT of `found` (and its bracketing index at the front of `indices`), so
// read from the head the lists run from the last find to the first.
void support_FindYFromX(YList<double>& found, YList<int64_t>& indices, const double* returned,
                        const double* searched, int64_t n, double target, InterpOpts opts);

namespace cv {
// The finds of support_FindYFromX in the order of the data, into out[0 ..
// found.count()): the one place that reads its list backwards.
inline void copyFindsInOrder(const YList<double>& found, double* out) {
    out += found.count();
    for (double v : found) *--out = v;
}
}  // namespace cv

// The value at x of the polynomial of order opts.order through the
// order + 1 points (x[0], y[0]) ... (x[order], y[order]).
double support_Interp(const double* y, const double* x, double at, const InterpOpts& opts);

// The same polynomial made once and evaluated at many x: a grid finer than
// the samples evaluates each window's polynomial many times, and making it
// costs the square of the order. support_Interp is make + evaluate.
struct InterpPolynomial {
    double x[17], c[17];  // Newton form over distinct abscissae
    int count = 0;        // 0: the linear rule through the first two points
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
};
void support_InterpMake(const double* y, const double* x, int order, InterpPolynomial& p);
double support_InterpEval(const InterpPolynomial& p, double at);
