// Engineering notation: numbers written with the metric suffixes a circuit
// netlist uses (2.2k, 10u, 3.3meg).
//
// Writing (sp_ConvertRealToJSEng):
//  - the value is first rounded to `significantDigits` significant digits
//    (clamped to 1 ... 17), then written with the fewest digits that read
//    back to that rounded value: 1234.5 with 3 digits is "1.23k", 0.1 with 17
//    digits is "100m", 1000 is "1k";
//  - `keepTrailingZeros` pads the digits to the requested count instead
//    ("1.00k" for 1000 with 3 digits);
//  - the suffix is chosen so that the mantissa lies in [1, 1000):
//    f (1e-15), p, n, u, m, none, k, meg, g, t (1e12), always lower case;
//  - values whose exponent lies outside that range (below 1f, from 1000t on)
//    are written in exponent form, "1.5e-18", "2e+15";
//  - 0 is "0" (also -0), NaN "nan", infinities "inf" and "-inf".
//
// Reading (sp_ConvertEngToReal):
//  - leading blanks are skipped; then an optional sign, digits with an
//    optional decimal point, and an optional exponent ("e" followed by
//    digits); then an optional suffix, case-insensitive: f p n u m k meg g t
//    ("meg" before "m"); letters after the number are a unit and are skipped
//    ("10kOhm" is 10000, "1uF" is 1e-6, "5V" is 5);
//  - "nan", "inf" and "infinity" (with a sign) read as themselves, so every
//    text written above reads back;
//  - the value is rounded once, from the exact decimal text, so a written
//    text reads back to exactly the value it was written from;
//  - no number at the start: the result is 0 and *end is `text`, as strtod.
//    *end is otherwise set after the suffix and unit letters.
#pragma once
#include <string>

std::string sp_ConvertRealToJSEng(double value, int significantDigits, bool keepTrailingZeros = false);

double sp_ConvertEngToReal(const char* text, const char** end = nullptr);
