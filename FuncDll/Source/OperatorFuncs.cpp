// The language's binary operators, the comparisons and the two-argument
// element functions (max, min, atan2). Every numeric case goes through one
// dispatcher over a table of operations; each operation lists an element
// kernel per combination of real and complex operands, the rule that gives the
// result's physical type, and whether the result keeps a reference.
// Comparisons of two string vectors take a path of their own.
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <type_traits>

#include "FuncKit.h"
#include "VecMath.h"

namespace {

using namespace cvmod;

const char* const kRequiresReal = "The operator '%s' requires real arguments";
const char* const kDivideByZero = "Divide by zero";
const char* const kOutOfRange = "Arguments out of range for '%s' operator";
const char* const kStringLengths = "Arguments for string comparison must be the same length";

// How the operands line up: element by element, or one operand is a single
// value that meets every element of the other. The single value is read once
// and kept in a register, so `v + 1` is one pass over v.
enum class Spread { Both, LeftSingle, RightSingle };

// Kernel status: 0 done; 1 division by zero; anything else an argument out of
// range for the operation.
enum : int { StatusOk = 0, StatusDivideByZero = 1, StatusOutOfRange = 2, StatusModOutOfRange = 3 };

// ---------------------------------------------------------------- element operations
//
// Each operation is a struct of overloaded static `eval` functions, one per
// operand combination it supports. Two optional traits shape the loop:
//  - checksDivisor: the right operand must not be zero; checked in a pass of
//    its own so that the arithmetic pass stays a plain loop;
//  - fused: eval(out, a, b) returns a status per element (used where the check
//    depends on both operands and the arithmetic is a library call anyway).

template <class Op>
concept FusedOp = Op::fused;
template <class Op>
concept DivisorCheckedOp = Op::checksDivisor;
// Real-by-real operations the host runs in its vectorised kernels (the same
// expression, element by element, for the processor at hand).
template <class Op>
concept HostVectorOp = requires { Op::vec; };

inline bool isZero(double x) noexcept { return x == 0.0; }
inline bool isZero(const cplx& z) noexcept { return z.real() == 0.0 && z.imag() == 0.0; }

// Products and quotients are written out: std::complex's operators go through
// library calls for their infinity handling, which keeps the loops scalar.
inline cplx mul(const cplx& a, const cplx& b) noexcept {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// a / w for a non-zero w. The divisor is scaled by its larger part first so
// that |w|^2 neither overflows nor underflows where the quotient itself is
// representable.
inline cplx quotient(const cplx& a, const cplx& w) noexcept {
    double s = std::fabs(w.real()) > std::fabs(w.imag()) ? std::fabs(w.real()) : std::fabs(w.imag());
    double p = w.real() / s, q = w.imag() / s;
    double d = (p * p + q * q) * s;
    return {(a.real() * p + a.imag() * q) / d, (a.imag() * p - a.real() * q) / d};
}

struct Add {
    static constexpr VecOp vec = VecOp::Add;
    static double eval(double a, double b) noexcept { return a + b; }
    static cplx eval(double a, const cplx& b) noexcept { return {a + b.real(), b.imag()}; }
    static cplx eval(const cplx& a, double b) noexcept { return {a.real() + b, a.imag()}; }
    static cplx eval(const cplx& a, const cplx& b) noexcept { return {a.real() + b.real(), a.imag() + b.imag()}; }
};

struct Subtract {
    static constexpr VecOp vec = VecOp::Subtract;
    static double eval(double a, double b) noexcept { return a - b; }
    static cplx eval(double a, const cplx& b) noexcept { return {a - b.real(), -b.imag()}; }
    static cplx eval(const cplx& a, double b) noexcept { return {a.real() - b, a.imag()}; }
    static cplx eval(const cplx& a, const cplx& b) noexcept { return {a.real() - b.real(), a.imag() - b.imag()}; }
};

struct Multiply {
    static constexpr VecOp vec = VecOp::Multiply;
    static double eval(double a, double b) noexcept { return a * b; }
    static cplx eval(double a, const cplx& b) noexcept { return {a * b.real(), a * b.imag()}; }
    static cplx eval(const cplx& a, double b) noexcept { return {a.real() * b, a.imag() * b}; }
    static cplx eval(const cplx& a, const cplx& b) noexcept { return mul(a, b); }
};

struct Divide {
    static constexpr VecOp vec = VecOp::Divide;
    static constexpr bool checksDivisor = true;
    static double eval(double a, double b) noexcept { return a / b; }
    static cplx eval(double a, const cplx& b) noexcept { return quotient(cplx(a, 0.0), b); }
    static cplx eval(const cplx& a, double b) noexcept { return {a.real() / b, a.imag() / b}; }
    static cplx eval(const cplx& a, const cplx& b) noexcept { return quotient(a, b); }
};

// Powers are taken in polar form; a zero base needs an exponent with a
// positive real part, and a negative real base a whole real exponent.
struct Power {
    static constexpr bool fused = true;
    static int eval(double& out, double a, double b) noexcept {
        if (a == 0.0 && !(b >= 0.0)) return StatusOutOfRange;
        if (a < 0.0 && std::floor(b) != std::ceil(b)) return StatusOutOfRange;
        out = std::pow(a, b);
        return StatusOk;
    }
    static int eval(cplx& out, double a, const cplx& e) noexcept {
        const double p = e.real(), q = e.imag();
        if (a == 0.0) {
            if (!(p > 0.0)) return StatusOutOfRange;
            out = {0.0, 0.0};
        } else if (a < 0.0) {
            const double l = std::log(-a), theta = q * l + p * std::numbers::pi;
            const double m = std::exp(p * l - q * std::numbers::pi);
            out = {m * std::cos(theta), m * std::sin(theta)};
        } else {
            const double l = std::log(a), m = std::exp(p * l);
            out = {m * std::cos(q * l), m * std::sin(q * l)};
        }
        return StatusOk;
    }
    static int eval(cplx& out, const cplx& z, double b) noexcept {
        if (isZero(z)) {
            if (!(b > 0.0)) return StatusOutOfRange;
            out = {0.0, 0.0};
            return StatusOk;
        }
        const double m = std::pow(std::hypot(z.real(), z.imag()), b), theta = std::atan2(z.imag(), z.real());
        out = {m * std::cos(b * theta), m * std::sin(b * theta)};
        return StatusOk;
    }
    static int eval(cplx& out, const cplx& z, const cplx& e) noexcept {
        const double p = e.real(), q = e.imag();
        if (isZero(z)) {
            if (!(p > 0.0)) return StatusOutOfRange;
            out = {0.0, 0.0};
            return StatusOk;
        }
        const double l = std::log(std::hypot(z.real(), z.imag())), theta = std::atan2(z.imag(), z.real());
        const double m = std::exp(p * l - q * theta), phi = q * l + p * theta;
        out = {m * std::cos(phi), m * std::sin(phi)};
        return StatusOk;
    }
};

// The remainder of the integer parts of the magnitudes, as 32-bit integers;
// values that do not fit (NaN included) are out of range.
struct Modulo {
    static constexpr bool fused = true;
    static int eval(double& out, double a, double b) noexcept {
        if (b == 0.0) return StatusDivideByZero;
        const double ma = std::fabs(a), mb = std::fabs(b);
        if (!(ma < 2147483647.0 && mb < 2147483647.0)) return StatusModOutOfRange;
        const double fb = std::floor(mb);
        if (fb == 0.0) return StatusDivideByZero;
        out = double(int32_t(std::floor(ma)) % int32_t(fb));
        return StatusOk;
    }
};

// a + i*b.
struct Comma {
    static cplx eval(double a, double b) noexcept { return {a, b}; }
    static cplx eval(double a, const cplx& b) noexcept { return {a - b.imag(), b.real()}; }
    static cplx eval(const cplx& a, double b) noexcept { return {a.real(), a.imag() + b}; }
    static cplx eval(const cplx& a, const cplx& b) noexcept { return {a.real() - b.imag(), a.imag() + b.real()}; }
};

inline double truth(bool x) noexcept { return x ? 1.0 : 0.0; }

struct Equal {
    static constexpr VecOp vec = VecOp::Equal;
    static double eval(double a, double b) noexcept { return truth(a == b); }
    static double eval(double a, const cplx& b) noexcept { return truth(a == b.real() && b.imag() == 0.0); }
    static double eval(const cplx& a, double b) noexcept { return truth(a.real() == b && a.imag() == 0.0); }
    static double eval(const cplx& a, const cplx& b) noexcept {
        return truth(a.real() == b.real() && a.imag() == b.imag());
    }
};

struct NotEqual {
    static constexpr VecOp vec = VecOp::NotEqual;
    static double eval(double a, double b) noexcept { return 1.0 - Equal::eval(a, b); }
    static double eval(double a, const cplx& b) noexcept { return 1.0 - Equal::eval(a, b); }
    static double eval(const cplx& a, double b) noexcept { return 1.0 - Equal::eval(a, b); }
    static double eval(const cplx& a, const cplx& b) noexcept { return 1.0 - Equal::eval(a, b); }
};

struct Greater {
    static constexpr VecOp vec = VecOp::Greater;
    static double eval(double a, double b) noexcept { return truth(a > b); }
};
struct Less {
    static constexpr VecOp vec = VecOp::Less;
    static double eval(double a, double b) noexcept { return truth(a < b); }
};
struct GreaterEqual {
    static constexpr VecOp vec = VecOp::GreaterEqual;
    static double eval(double a, double b) noexcept { return truth(a >= b); }
};
struct LessEqual {
    static constexpr VecOp vec = VecOp::LessEqual;
    static double eval(double a, double b) noexcept { return truth(a <= b); }
};
struct LogicalAnd {
    static constexpr VecOp vec = VecOp::And;
    static double eval(double a, double b) noexcept { return truth((a != 0.0) & (b != 0.0)); }
};
struct LogicalOr {
    static constexpr VecOp vec = VecOp::Or;
    static double eval(double a, double b) noexcept { return truth((a != 0.0) | (b != 0.0)); }
};
struct Maximum {
    static constexpr VecOp vec = VecOp::Max;
    static double eval(double a, double b) noexcept { return a > b ? a : b; }
};
struct Minimum {
    static constexpr VecOp vec = VecOp::Min;
    static double eval(double a, double b) noexcept { return a > b ? b : a; }
};
struct Atan2 {
    static double eval(double a, double b) noexcept { return std::atan2(a, b); }
};
struct Atan2Degrees {
    static double eval(double a, double b) noexcept { return std::atan2(a, b) * 180.0 / 3.141592653589793; }
};

// ---------------------------------------------------------------- kernels

template <class Out, class A, class B>
using Kernel = int (*)(Out* out, const A* a, const B* b, int64_t n, Spread spread);

// Runs body(i) for i in [0, n), four at a time: the compiler packs the four
// independent element operations into vector instructions even where its loop
// vectoriser would not run (or would not think it worth the remainder loop).
template <class Body>
inline void forEachElement(int64_t n, Body body) {
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        body(i);
        body(i + 1);
        body(i + 2);
        body(i + 3);
    }
    for (; i < n; ++i) body(i);
}

template <class Op, class Out, class A, class B>
int runKernel(Out* __restrict out, const A* __restrict a, const B* __restrict b, int64_t n, Spread spread) {
    if constexpr (HostVectorOp<Op> && std::is_same_v<Out, double> && std::is_same_v<A, double> &&
                  std::is_same_v<B, double>) {
        if constexpr (DivisorCheckedOp<Op>) {
            if (spread == Spread::RightSingle ? isZero(b[0]) : cv::vecAnyZero(b, n)) return StatusDivideByZero;
        }
        const VecSpread s = spread == Spread::Both       ? VecSpread::Both
                            : spread == Spread::LeftSingle ? VecSpread::LeftSingle
                                                           : VecSpread::RightSingle;
        cv::vecBinary(Op::vec, out, a, b, n, s);
        return StatusOk;
    }
    if constexpr (DivisorCheckedOp<Op>) {
        if (spread == Spread::RightSingle) {
            if (isZero(b[0])) return StatusDivideByZero;
        } else {
            for (int64_t i = 0; i < n; ++i)
                if (isZero(b[i])) return StatusDivideByZero;
        }
    }
    if constexpr (FusedOp<Op>) {
        switch (spread) {
            case Spread::Both:
                for (int64_t i = 0; i < n; ++i)
                    if (int s = Op::eval(out[i], a[i], b[i])) return s;
                break;
            case Spread::LeftSingle: {
                const A x = a[0];
                for (int64_t i = 0; i < n; ++i)
                    if (int s = Op::eval(out[i], x, b[i])) return s;
                break;
            }
            case Spread::RightSingle: {
                const B y = b[0];
                if constexpr (std::is_same_v<Op, Power> && std::is_same_v<A, double> && std::is_same_v<B, double>) {
                    // Squares are common in scripts (v^2) and cannot fail; a
                    // product is exact where pow is a library call.
                    if (y == 2.0) {
                        forEachElement(n, [=](int64_t i) { out[i] = a[i] * a[i]; });
                        break;
                    }
                }
                for (int64_t i = 0; i < n; ++i)
                    if (int s = Op::eval(out[i], a[i], y)) return s;
                break;
            }
        }
    } else {
        switch (spread) {
            case Spread::Both: forEachElement(n, [=](int64_t i) { out[i] = Op::eval(a[i], b[i]); }); break;
            case Spread::LeftSingle: {
                const A x = a[0];
                forEachElement(n, [=](int64_t i) { out[i] = Op::eval(x, b[i]); });
                break;
            }
            case Spread::RightSingle: {
                const B y = b[0];
                forEachElement(n, [=](int64_t i) { out[i] = Op::eval(a[i], y); });
                break;
            }
        }
    }
    return StatusOk;
}

// Kernel slots by operand and result kinds.
template <class Op> constexpr Kernel<double, double, double> RR = &runKernel<Op, double, double, double>;
template <class Op> constexpr Kernel<cplx, double, cplx> RC = &runKernel<Op, cplx, double, cplx>;
template <class Op> constexpr Kernel<cplx, cplx, double> CR = &runKernel<Op, cplx, cplx, double>;
template <class Op> constexpr Kernel<cplx, cplx, cplx> CC = &runKernel<Op, cplx, cplx, cplx>;
template <class Op> constexpr Kernel<cplx, double, double> RRtoC = &runKernel<Op, cplx, double, double>;
template <class Op> constexpr Kernel<double, double, cplx> RCtoR = &runKernel<Op, double, double, cplx>;
template <class Op> constexpr Kernel<double, cplx, double> CRtoR = &runKernel<Op, double, cplx, double>;
template <class Op> constexpr Kernel<double, cplx, cplx> CCtoR = &runKernel<Op, double, cplx, cplx>;

struct BinaryOperation {
    const char* name;  // as messages show it
    Kernel<double, double, double> realReal;
    Kernel<cplx, double, cplx> realComplex;
    Kernel<cplx, cplx, double> complexReal;
    Kernel<cplx, cplx, cplx> complexComplex;
    Kernel<cplx, double, double> realRealToComplex;
    Kernel<double, double, cplx> realComplexToReal;
    Kernel<double, cplx, double> complexRealToReal;
    Kernel<double, cplx, cplx> complexComplexToReal;
    PhysTypeRule2 physTypeRule;
    int32_t takesReference;
};

// One named operation per row; the handlers and registrations below name
// them, so nothing depends on the order of either list.
namespace op {
// clang-format off
//                                      name         RR                RC            CR            CC            RR->C         RC->R            CR->R            CC->R            rule               ref
constexpr BinaryOperation plus         {"+",         RR<Add>,          RC<Add>,      CR<Add>,      CC<Add>,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::add,     1};
constexpr BinaryOperation minus        {"-",         RR<Subtract>,     RC<Subtract>, CR<Subtract>, CC<Subtract>, nullptr,      nullptr,         nullptr,         nullptr,         PhysType::add,     1};
constexpr BinaryOperation times        {"*",         RR<Multiply>,     RC<Multiply>, CR<Multiply>, CC<Multiply>, nullptr,      nullptr,         nullptr,         nullptr,         PhysType::mult,    1};
constexpr BinaryOperation divide       {"/",         RR<Divide>,       RC<Divide>,   CR<Divide>,   CC<Divide>,   nullptr,      nullptr,         nullptr,         nullptr,         PhysType::div,     1};
constexpr BinaryOperation power        {"^",         RR<Power>,        RC<Power>,    CR<Power>,    CC<Power>,    nullptr,      nullptr,         nullptr,         nullptr,         PhysType::unknown, 1};
constexpr BinaryOperation equal        {"==",        RR<Equal>,        nullptr,      nullptr,      nullptr,      nullptr,      RCtoR<Equal>,    CRtoR<Equal>,    CCtoR<Equal>,    PhysType::none,    1};
constexpr BinaryOperation comma        {",",         nullptr,          RC<Comma>,    CR<Comma>,    CC<Comma>,    RRtoC<Comma>, nullptr,         nullptr,         nullptr,         PhysType::add,     1};
constexpr BinaryOperation modulo       {"%",         RR<Modulo>,       nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::unknown, 1};
constexpr BinaryOperation greater      {">",         RR<Greater>,      nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::none,    1};
constexpr BinaryOperation less         {"<",         RR<Less>,         nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::none,    1};
constexpr BinaryOperation greaterEqual {">=",        RR<GreaterEqual>, nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::none,    1};
constexpr BinaryOperation lessEqual    {"<=",        RR<LessEqual>,    nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::none,    1};
constexpr BinaryOperation notEqual     {"!=",        RR<NotEqual>,     nullptr,      nullptr,      nullptr,      nullptr,      RCtoR<NotEqual>, CRtoR<NotEqual>, CCtoR<NotEqual>, PhysType::none,    1};
constexpr BinaryOperation logicalAnd   {"&&",        RR<LogicalAnd>,   nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::none,    1};
constexpr BinaryOperation logicalOr    {"||",        RR<LogicalOr>,    nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::none,    1};
constexpr BinaryOperation max          {"max",       RR<Maximum>,      nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::add,     0};
constexpr BinaryOperation min          {"min",       RR<Minimum>,      nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::add,     0};
constexpr BinaryOperation atan2        {"atan2",     RR<Atan2>,        nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::none,    1};
constexpr BinaryOperation atan2Deg     {"atan2_deg", RR<Atan2Degrees>, nullptr,      nullptr,      nullptr,      nullptr,      nullptr,         nullptr,         nullptr,         PhysType::none,    1};
// clang-format on
}  // namespace op

// ---------------------------------------------------------------- dispatcher

// The kernel chosen for one call, with the kind of result it writes.
struct ChosenKernel {
    enum Slot { None, RealReal, RealComplex, ComplexReal, ComplexComplex, RealRealToComplex, RealComplexToReal,
                ComplexRealToReal, ComplexComplexToReal };
    Slot slot = None;
    bool complexResult = false;
};

ChosenKernel chooseKernel(const BinaryOperation& op, bool leftComplex, bool rightComplex) {
    using K = ChosenKernel;
    if (!leftComplex && !rightComplex)
        return op.realReal ? K{K::RealReal, false} : op.realRealToComplex ? K{K::RealRealToComplex, true} : K{};
    if (!leftComplex)
        return op.realComplex ? K{K::RealComplex, true} : op.realComplexToReal ? K{K::RealComplexToReal, false} : K{};
    if (!rightComplex)
        return op.complexReal ? K{K::ComplexReal, true} : op.complexRealToReal ? K{K::ComplexRealToReal, false} : K{};
    return op.complexComplex ? K{K::ComplexComplex, true}
                             : op.complexComplexToReal ? K{K::ComplexComplexToReal, false} : K{};
}

// One operand as a kernel reads it: the data of one division and its length.
struct Operand {
    const double* real = nullptr;
    const cplx* complex = nullptr;
    int64_t length = 0;
};

// How two operands of these lengths combine: equal lengths element by element,
// a single value against a longer operand spread over it, anything else not at
// all (false).
bool lineUp(int64_t left, int64_t right, int64_t& n, Spread& spread) {
    if (left == right) {
        n = left;
        spread = Spread::Both;
    } else if (left >= 2 && right == 1) {
        n = left;
        spread = Spread::RightSingle;
    } else if (right >= 2 && left == 1) {
        n = right;
        spread = Spread::LeftSingle;
    } else {
        return false;
    }
    return true;
}

int runChosen(const BinaryOperation& op, ChosenKernel::Slot slot, double* outReal, cplx* outComplex,
              const Operand& a, const Operand& b, int64_t n, Spread spread) {
    switch (slot) {
        case ChosenKernel::RealReal: return op.realReal(outReal, a.real, b.real, n, spread);
        case ChosenKernel::RealComplex: return op.realComplex(outComplex, a.real, b.complex, n, spread);
        case ChosenKernel::ComplexReal: return op.complexReal(outComplex, a.complex, b.real, n, spread);
        case ChosenKernel::ComplexComplex: return op.complexComplex(outComplex, a.complex, b.complex, n, spread);
        case ChosenKernel::RealRealToComplex: return op.realRealToComplex(outComplex, a.real, b.real, n, spread);
        case ChosenKernel::RealComplexToReal: return op.realComplexToReal(outReal, a.real, b.complex, n, spread);
        case ChosenKernel::ComplexRealToReal: return op.complexRealToReal(outReal, a.complex, b.real, n, spread);
        case ChosenKernel::ComplexComplexToReal:
            return op.complexComplexToReal(outReal, a.complex, b.complex, n, spread);
        case ChosenKernel::None: break;
    }
    return StatusOk;
}

// The number of divisions `allocate(n, AllocLikeArg, total)` lays the result
// out in: those of the first divided argument with that total length.
int64_t divisionsLike(const FuncArgs& args, int64_t total) {
    for (int i = 0; i < args.numArgs(); ++i) {
        int64_t d = args.numDivisions(i);
        if (d > 1 && args.totalLength(i) == total) return d;
    }
    return 1;
}

// Operand i for result division d of `divisions`: its own division d when it
// has that many divisions, else its first (or only) division for all of them.
Operand operandFor(const FuncArgs& args, int i, int64_t d, int64_t divisions) {
    Operand o;
    if (divisions > 1 && args.numDivisions(i) == divisions) {
        o.real = args.realDivisionData(i, d);
        o.complex = args.complexDivisionData(i, d);
        o.length = valueOf(args, i)->divisionLength(d);
    } else {
        o.real = args.realData(i);
        o.complex = args.complexData(i);
        o.length = args.length(i);
    }
    return o;
}

FUNC_ERROR dispatchNumeric(const BinaryOperation& op, const FuncArgs& args, FuncResult& result,
                           MessageHandler& messages) {
    result.setPhysType(op.physTypeRule(args.physType(0), args.physType(1)));

    const VD_type t0 = args.type(0), t1 = args.type(1);
    if (t0 == VD_String || t1 == VD_String) return FuncOk;  // nothing to compute between a string and a number

    const ChosenKernel chosen = chooseKernel(op, t0 == VD_Complex, t1 == VD_Complex);
    if (chosen.slot == ChosenKernel::None) {
        messages.error(kRequiresReal, op.name);
        return FuncFailed;
    }

    const int64_t n0 = args.length(0), n1 = args.length(1);
    int64_t n = 0;
    Spread spread = Spread::Both;
    if (!lineUp(n0, n1, n, spread)) return FuncOk;

    // The result is laid out like the longer operand and takes its reference:
    // a single value's reference cannot describe a longer result.
    const int longer = spread == Spread::LeftSingle ? 1 : 0;
    const int refSource = spread == Spread::Both ? (args.refData(0) ? 0 : 1) : longer;
    const int64_t total = args.totalLength(longer);

    if (chosen.complexResult) result.setType(VD_Complex, args.refType(refSource));
    else result.setType(VD_Real, VD_Real);
    // Every element is written below before anything reads it, or the result
    // is dropped: no need to clear it first.
    result.allocateUninitialized(n, AllocLikeArg, total);
    double* outReal = result.data();
    cplx* outComplex = result.complexData();

    // Arguments passed whole with several divisions are combined division by
    // division, like the host does for per-division arguments.
    const int64_t divisions = divisionsLike(args, total);
    int status = StatusOk;
    for (int64_t d = 0; d < divisions && status == StatusOk; ++d) {
        const Operand a = operandFor(args, 0, d, divisions), b = operandFor(args, 1, d, divisions);
        int64_t nd = n;
        Spread sd = spread;
        if (divisions > 1 && (!lineUp(a.length, b.length, nd, sd) || nd != n)) {
            result.emptyVectors();  // divisions of different lengths do not line up
            return FuncOk;
        }
        status = runChosen(op, chosen.slot, outReal ? outReal + d * n : nullptr,
                           outComplex ? outComplex + d * n : nullptr, a, b, nd, sd);
    }

    if (status == StatusOk) {
        if (op.takesReference) result.copyRefFromArgs(args, AllocLikeArg, refSource);
        return FuncOk;
    }
    if (status == StatusDivideByZero) messages.error(kDivideByZero);
    else messages.error(kOutOfRange, op.name);
    result.emptyVectors();
    return FuncFailed;
}

// ---------------------------------------------------------------- string comparisons

// Byte comparison with ASCII letters folded to lower case; an absent string
// reads as "".
int compareIgnoringCase(const char* a, const char* b) noexcept {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a ? a : "");
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b ? b : "");
    for (;; ++x, ++y) {
        int cx = *x >= 'A' && *x <= 'Z' ? *x + ('a' - 'A') : *x;
        int cy = *y >= 'A' && *y <= 'Z' ? *y + ('a' - 'A') : *y;
        if (cx != cy || cx == 0) return cx - cy;
    }
}

using StringPredicate = bool (*)(int order);

FUNC_ERROR compareStrings(const FuncArgs& args, FuncResult& result, MessageHandler& messages, StringPredicate p) {
    const int64_t n = args.length(0);
    if (args.length(1) != n) {
        messages.error(kStringLengths);
        return FuncFailed;
    }
    double* out = result.makeRealVector(n);
    const char* const* a = args.stringData(0);
    const char* const* b = args.stringData(1);
    for (int64_t i = 0; i < n; ++i) out[i] = p(compareIgnoringCase(a[i], b[i])) ? 1.0 : 0.0;
    return FuncOk;
}

// ---------------------------------------------------------------- handlers

template <const BinaryOperation& operation>
FUNC_ERROR binary(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    return dispatchNumeric(operation, a, r, m);
}

template <const BinaryOperation& operation, StringPredicate p>
FUNC_ERROR comparison(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    if (a.type(0) == VD_String && a.type(1) == VD_String) return compareStrings(a, r, m, p);
    return dispatchNumeric(operation, a, r, m);
}

constexpr bool orderEq(int r) { return r == 0; }
constexpr bool orderNe(int r) { return r != 0; }
constexpr bool orderGt(int r) { return r > 0; }
constexpr bool orderGe(int r) { return r >= 0; }
constexpr bool orderLt(int r) { return r < 0; }
constexpr bool orderLe(int r) { return r <= 0; }

// clang-format off
FunctionRow registrations[] = {
    {"_Plus",     {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::plus>>,                      "", PyVector, ElementWiseOperator},
    {"_Minus",    {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::minus>>,                     "", PyVector, ElementWiseOperator},
    {"_Times",    {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::times>>,                     "", PyVector, ElementWiseOperator},
    {"_Divide",   {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::divide>>,                    "", PyVector, ElementWiseOperator},
    {"_Power",    {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::power>>,                     "", PyVector, ElementWiseOperator},
    {"_Eq",       {Any, Any},         {PerDivision, PerDivision}, 2, 2, handler<comparison<op::equal, orderEq>>,        "", PyVector, ElementWiseOperator},
    {"_Comma",    {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::comma>>,                     "", PyVector, ElementWiseOperator},
    {"_Mod",      {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::modulo>>,                    "", PyVector, ElementWiseOperator},
    {"_Gt",       {Any, Any},         {PerDivision, PerDivision}, 2, 2, handler<comparison<op::greater, orderGt>>,      "", PyVector, ElementWiseOperator},
    {"_Lt",       {Any, Any},         {PerDivision, PerDivision}, 2, 2, handler<comparison<op::less, orderLt>>,         "", PyVector, ElementWiseOperator},
    {"_Ge",       {Any, Any},         {PerDivision, PerDivision}, 2, 2, handler<comparison<op::greaterEqual, orderGe>>, "", PyVector, ElementWiseOperator},
    {"_Le",       {Any, Any},         {PerDivision, PerDivision}, 2, 2, handler<comparison<op::lessEqual, orderLe>>,    "", PyVector, ElementWiseOperator},
    {"_Ne",       {Any, Any},         {PerDivision, PerDivision}, 2, 2, handler<comparison<op::notEqual, orderNe>>,     "", PyVector, ElementWiseOperator},
    {"_And",      {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::logicalAnd>>,                "", PyVector, ElementWiseOperator},
    {"_Or",       {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::logicalOr>>,                 "", PyVector, ElementWiseOperator},
    {"max",       {Numeric, Numeric}, {},                         2, 2, handler<binary<op::max>>,                       "", PyVector, Plain},
    {"min",       {Numeric, Numeric}, {},                         2, 2, handler<binary<op::min>>,                       "", PyVector, Plain},
    {"atan2",     {Real, Real},       {PerDivision, PerDivision}, 2, 2, handler<binary<op::atan2>>,                     "", PyVector, ElementWise},
    {"atan2_deg", {Real, Real},       {PerDivision, PerDivision}, 2, 2, handler<binary<op::atan2Deg>>,                  "", PyVector, ElementWise},
};
// clang-format on

}  // namespace
