// Elementary functions over whole arrays, several elements at a time where
// the processor allows (the C library's vector variants, chosen once at
// start-up), one at a time otherwise. Results agree with the scalar math
// library to within a few units in the last place; special values (NaN,
// infinities, arguments outside the domain) give what the scalar function
// gives. `in` and `out` may be the same array.
#pragma once
#include <cstdint>

enum class VecFn : int {
    Sin, Cos, Tan, Atan, Exp, Log, Log10, Sinh, Cosh, Tanh, Asin, Acos, Asinh, Acosh, Atanh, Erf, Erfc,
    Count
};

void sp_VecMath(VecFn f, const double* in, double* out, int64_t n) noexcept;

// How many elements the chosen variant takes at once (1 when scalar): for
// benchmarks and tests.
int sp_VecMathWidth() noexcept;
