#include "Search.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

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
    const double* v = values.data();
    // Sampled x-values usually arrive sorted already: one pass settles that.
    bool sorted = true;
    for (size_t i = 1; i < n && sorted; ++i) sorted = v[i - 1] <= v[i];
    if (sorted) {
        std::iota(m, m + n, int64_t(0));
        return;
    }
    // Sort (value, index) pairs: contiguous, and the index breaks ties, which
    // keeps equal values in their order without a stable sort. NaN go last,
    // in their order.
    std::vector<std::pair<double, int64_t>> keyed;
    keyed.reserve(n);
    std::vector<int64_t> nans;
    for (size_t i = 0; i < n; ++i) {
        if (std::isnan(v[i])) nans.push_back(int64_t(i));
        else keyed.emplace_back(v[i], int64_t(i));
    }
    std::sort(keyed.begin(), keyed.end());
    size_t k = 0;
    for (const auto& e : keyed) m[k++] = e.second;
    for (int64_t i : nans) m[k++] = i;
}
