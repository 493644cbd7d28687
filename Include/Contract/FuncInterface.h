// What a script function sees of its call: the argument interface
// (FuncArgsMinimal) and the result interface (FuncResultMinimal). The
// concrete classes FuncArgs and FuncResult add non-virtual operations.
//
// Argument i and division d count from 0. When the host calls a handler once
// per division (see the multi-division rules in FuncContract.h), each call sees
// a one-division view of the divided arguments.
#pragma once
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "PhysType.h"
#include "YString.h"

class FuncArgs;
class FuncResult;

using cplx = std::complex<double>;

// Kind of values or reference: 1 real, 2 complex, 3 string.
enum VD_type : int32_t { VD_Real = 1, VD_Complex = 2, VD_String = 3 };

// How `allocate` and its relatives lay the result out.
//  AllocLikeArg (0): like the argument whose total length is passed: one
//    division of n elements per division of that argument (a single division
//    when no argument has that total length, or the argument is undivided).
//  AllocSingle (1): one division of n elements; the total length is ignored.
enum ResultAllocType : int32_t { AllocLikeArg = 0, AllocSingle = 1 };

class FuncArgsMinimal {
public:
    virtual ~FuncArgsMinimal() = default;
    virtual YString functionName() const = 0;
    virtual YString refName(int i) const = 0;
    // Strings of argument i; an entry may be null, which reads as "".
    virtual const char* const* stringData(int i) const = 0;
    virtual const double* realDivisionData(int i, int64_t d) const = 0;
    virtual const double* realData(int i) const = 0;
    virtual const cplx* complexDivisionData(int i, int64_t d) const = 0;
    virtual const cplx* complexData(int i) const = 0;
    virtual const double* refDivisionData(int i, int64_t d) const = 0;
    virtual const double* refData(int i) const = 0;
    virtual const cplx* complexRefDivisionData(int i, int64_t d) const = 0;
    virtual const cplx* complexRefData(int i) const = 0;
    // Elements per division (of the first division when they differ).
    virtual int64_t length(int i) const = 0;
    virtual int64_t refLength(int i) const = 0;
    virtual PhysType physType(int i) const = 0;
    virtual PhysType refPhysType(int i) const = 0;
    virtual int32_t size(int i) const = 0;          // length, clamped to 32 bits
    virtual int32_t valueKind(int i) const = 0;     // 0 real, 1 complex, 2 string
    virtual int32_t numArgs() const = 0;
    virtual int64_t numDivisions(int i) const = 0;  // 1 when undivided
    virtual VD_type type(int i) const = 0;
    virtual VD_type refType(int i) const = 0;       // VD_Real when there is no reference
    virtual const FuncArgs& funcArgs() const = 0;
};

class FuncResultMinimal {
public:
    virtual ~FuncResultMinimal() = default;
    virtual double* makeRealVector(int64_t n) = 0;
    // n slots; each takes ownership of a malloc'd string (null reads as "").
    virtual char** makeStringVector(int64_t n) = 0;
    virtual int32_t* makeIntegerVector(int64_t n) = 0;
    virtual bool* makeBoolVector(int64_t n) = 0;
    virtual cplx* makeComplexVector(int64_t n) = 0;
    virtual double* makeRealRefVector(int64_t n) = 0;
    virtual cplx* makeComplexRefVector(int64_t n) = 0;
    // A real result with one division per length; the data of each division.
    virtual std::vector<double*> makeRealDivisions(const std::vector<int64_t>& lengths) = 0;
    virtual double* makeRealScalar() = 0;
    virtual char** makeStringScalar() = 0;
    virtual int32_t* makeIntegerScalar() = 0;
    virtual int64_t* makeInteger64Scalar() = 0;
    virtual bool* makeBoolScalar() = 0;
    virtual void setPhysType(PhysType t) = 0;
    virtual void setRefPhysType(PhysType t) = 0;
    virtual YString resultName() const = 0;
    virtual FuncResult& funcResult() = 0;
    // Called exactly once by every handler before it returns, on success and
    // on failure alike.
    virtual void finish() = 0;
};
