// Searching and sorting services of the host for sampled data.
#pragma once
#include <cstdint>

#include "YContainers.h"

// Brackets `value` in the sorted x[0 ... n-1] (ascending or descending as the
// flag says): on return x[low] and x[high] enclose it, high = low + 1, or
// low = high when value equals a sample or lies outside the data (then both
// are the nearer end). Returns false when value lies outside the data, is NaN
// or n is 0 (low = high = 0 then).
bool sp_BinarySearch(const double* x, int64_t n, double value, int64_t& low, int64_t& high, bool ascending);

// The permutation that sorts `values` ascending: values[map[0]] is the
// smallest. Equal values keep their order; NaN values go last.
void sp_GetSortMap(const YVector<double>& values, YVector<int64_t>& map);
