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

// The value at x of the polynomial of order opts.order through the
// order + 1 points (x[0], y[0]) ... (x[order], y[order]).
double support_Interp(const double* y, const double* x, double at, const InterpOpts& opts);
