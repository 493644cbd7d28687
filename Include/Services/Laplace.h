// Laplace transfer-function expressions: the host's parser, and the search
// for device plug-ins that may check such expressions in its place.
//
// Grammar (blanks, tabs and line breaks between tokens are ignored):
//
//   expression := term { ("+" | "-") term }
//   term       := factor { ("*" | "/") factor }
//   factor     := ("-" | "+") factor | power
//   power      := primary [ "^" exponent ]
//   exponent   := [ "-" | "+" ] digits            an integer; s^-1 is 1/s
//   primary    := number | "s" | "S" | "(" expression ")"
//   number     := digits [ "." digits ] [ ("e" | "E") [ "+" | "-" ] digits ]
//                 [ suffix ]                       also ".5" and "5."
//   suffix     := f p n u m k meg g t             any letter case (EngNumber.h)
//
// So -s^2 is -(s^2), and a power binds only the primary before it. Anything
// else is an error with its own code (table below): other names, among them
// delay terms such as exp(-s*T), powers that are not integer literals,
// implied products ("2s", "(s+1)(s+2)"), unbalanced parentheses.
//
// The expression is reduced to one rational function N(s) / D(s), exactly
// as the arithmetic goes: a sum over different denominators is put over
// their product, a sum over equal denominators (or a constant one) is not,
// and a common factor s^k of N and D is cancelled. Other common factors are
// kept (telling them apart in floating point would be a guess): (s^2-1)/(s-1)
// stays of degrees 2 and 1. Coefficients are not normalised.
//
// Coefficient arrays: the FIRST array of the record is the numerator N, the
// SECOND the denominator D; each runs from the constant term upward
// (element k multiplies s^k), with degree + 1 elements. A zero numerator is
// degree 0 with the single coefficient 0.
#pragma once
#include <cstdint>
#include <string>

#include "YContainers.h"
#include "YString.h"

// The highest degree a numerator or denominator may reach, also on the way
// (so (1+s)^1000000 is refused before any work): beyond it no simulation
// could use the result, and the coefficients would long have lost their
// precision.
inline constexpr int kLaplaceMaxDegree = 500;
// Parentheses and unary signs nest at most this deep (the parser recurses).
inline constexpr int kLaplaceMaxNesting = 200;

// Error codes of sp_ParseLaplaceExpression; sp_GetLaplaceErrMessage gives
// their texts.
enum LaplaceError : int32_t {
    LaplaceNotParsed = -1,         // preset by callers; the parser always overwrites it
    LaplaceOk = 0,
    LaplaceEmpty = 1,              // nothing but blanks
    LaplaceBadCharacter = 2,       // a character the grammar does not know
    LaplaceUnknownName = 3,        // a name other than s
    LaplaceDelay = 4,              // exp(...): a delay term
    LaplaceMissingParen = 5,       // "(" without its ")"
    LaplaceUnexpectedParen = 6,    // ")" without its "("
    LaplaceMissingOperand = 7,     // an operator without a value after it, or "()"
    LaplaceMissingOperator = 8,    // two values side by side
    LaplaceBadExponent = 9,        // "^" not followed by an integer
    LaplaceDivisionByZero = 10,    // a denominator that is identically 0
    LaplaceDegreeTooHigh = 11,     // beyond kLaplaceMaxDegree
    LaplaceOverflow = 12,          // a coefficient that is not finite
    LaplaceBadNumber = 13,         // "1e", "1.2.3"
    LaplaceTooDeep = 14,           // beyond kLaplaceMaxNesting
};

// The parse record exchanged with the parser, fields in this order.
struct XSpiceParseLaplaceArgs {
    const char* expression;
    double* first;        // numerator coefficients, constant term first
    int32_t firstCount;   // in: capacity of `first`; out: the numerator's degree
    double* second;       // denominator coefficients, constant term first
    int32_t secondCount;  // in: capacity of `second`; out: the denominator's degree
    int32_t error;        // preset to -1 by the caller; out: a LaplaceError
    int32_t reserved;     // preset to 0
};

// Parses args->expression. On success returns non-zero, sets the error to 0
// and both degrees, and writes degree + 1 coefficients into each buffer
// whose capacity holds them; a buffer too small (or null) is left untouched,
// so the caller can read the degrees, grow the buffers and ask again. On
// failure returns 0 with the error code set and the counts untouched. A null
// record is refused (0); a null expression reads as empty.
int sp_ParseLaplaceExpression(XSpiceParseLaplaceArgs* args);

// Points *message at the static text of `code` ("Unknown Laplace error code"
// for a code not in the table). A null `message` is ignored.
void sp_GetLaplaceErrMessage(int code, const char** message);

// ---------------------------------------------------------------- plug-ins
//
// Device plug-ins are shared libraries in the host's devices folders, never
// found relative to the current directory nor through the loader's search
// path. The folders, searched in this order:
//   1. $CVFUNC_HOME/<subdir> (the user's own: see PathUtil.h for CVFUNC_HOME)
//   2. <program prefix>/share/cvfunc/<subdir> (sp_GetProgramPath("SharePath"))
// where <subdir> is "devices" for device plug-ins.

// Appends to `found` the paths of the regular files whose names match the
// wildcard `pattern` (fnmatch: "*", "?", "[...]"; letter case counts) in the
// folders above, each folder's matches in name order. `extraDirs` adds
// folders to search after those; only absolute ones are used. Returns the
// number appended.
int sp_SearchDLLs(YList<YString>& found, const char* subdir, const char* pattern, const YList<YString>& extraDirs);

// Loads the library at `path` (an absolute path; anything else is refused)
// once, and returns the address of `symbol` in it, or null when either is
// missing. The flags, the version text and the last argument are carried
// for callers that pass them and change nothing here.
void* sp_GetLibraryFunction(const char* path, const char* symbol, int flags, const char* version, int reserved);
// Unloads the library that sp_GetLibraryFunction loaded from `path`; false
// when none was.
bool sp_UnloadLibrary(const char* path);
