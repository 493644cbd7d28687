#include "Search.h"

#include <algorithm>
#include <cmath>
#include <numeric>

bool sp_BinarySearch(const double* x, int64_t n, double value, int64_t& low, int64_t& high, bool ascending) {
    low = high = 0;
    if (n <= 0 || !x || std::isnan(value)) return false;
    // before(a, b): a comes before b in the data's order.
    auto before = [ascending](double a, double b) { return ascending ? a < b : a > b; };
    if (before(value, x[0])) return false;
    if (before(x[n - 1], value)) {
        low = high = n - 1;
        return false;
    }
    // First sample not before value.
    int64_t lo = 0, hi = n - 1;
    while (lo < hi) {
        int64_t mid = lo + (hi - lo) / 2;
        if (before(x[mid], value))
            lo = mid + 1;
        else
            hi = mid;
    }
    if (x[lo] == value) {
        low = high = lo;
    } else {
        low = lo - 1;
        high = lo;
    }
    return true;
}

void sp_GetSortMap(const YVector<double>& values, YVector<int64_t>& map) {
    const size_t n = values.size();
    map.resize(n);
    int64_t* m = map.data();
    std::iota(m, m + n, int64_t(0));
    const double* v = values.data();
    std::stable_sort(m, m + n, [v](int64_t a, int64_t b) {
        if (std::isnan(v[b])) return !std::isnan(v[a]);
        return v[a] < v[b];
    });
}
