// Special functions: the gamma family and the error functions, element-wise
// over real vectors. lgamma, gamma, erf and erfc take one argument, gammp,
// gammq (the regularized incomplete gamma functions P and Q) and chisquare
// (the chi-square distribution function) two. They share one log-gamma with
// sign, and one incomplete-gamma core (power series below x = a + 1, modified
// Lentz continued fraction above); the error functions, P and Q at a = 1/2,
// come from the library's vector math. The shared element-wise dispatcher
// (ElementWise.h) runs them.
#include <cmath>
#include <cstdint>
#include <limits>

#include "ElementWise.h"
#include "FuncKit.h"
#include "VecMath.h"

namespace {

using namespace cvmod;

// Largest argument accepted by the one-argument kernels.
constexpr double kArgLimit = 2.5326997476752568e+305;
// ln|Gamma| above which gamma reports an overflow.
constexpr double kGammaOverflow = 709.016;
// Relative stopping tolerance of the series and the continued fraction.
constexpr double kTolerance = 1e-13;
// Keeps the continued fraction's denominators away from zero.
constexpr double kTiny = 1e-30;
constexpr int kMaxIterations = 10000;
constexpr double kPi = 3.141592653589793;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---------------------------------------------------------------- log-gamma

// lnGamma(2 + r) for -0.5 <= r < 0.5: eight slices of width 1/8, each a Taylor
// polynomial of degree 15 in t = r - centre. The coefficients are
// lnGamma(2 + c), digamma(2 + c) and polygamma(n - 1, 2 + c) / n!, evaluated
// with 60 significant digits and rounded to double (scripts/lgamma_core_coeffs.py
// prints this table). The two slices that meet at r = 0 are expanded about 0
// itself, so their constant term is exactly 0 and the core keeps full relative
// accuracy next to the zero of lnGamma at 2; the other slices stay well away
// from any zero. Evaluated in double, every slice is within 2.4e-16 (relative).
struct CoreSlice {
    double centre;
    double c[16];
};

// clang-format off
constexpr CoreSlice kCore[8] = {
    {-0.4375, {
        -0.11670868338131669, 0.093351580126281794, 0.44280995493811492, -0.12451466821053449,
        0.05050031784426004, -0.023808431244543821, 0.012151478811591062, -0.0065042401963735785,
        0.0035913487141661926, -0.0020262834319900043, 0.0011614466898129893, -0.00067378004924464451,
        0.00039459118368202853, -0.00023286560475707692, 0.00013830004205985777, -8.2579123359254787e-05,
    }},
    {-0.3125, {
        -0.098352376974749217, 0.19858497850851856, 0.40042703408738523, -0.10255993906388117,
        0.038077844375752123, -0.016490676574280137, 0.0077503160080038937, -0.0038265345904385665,
        0.0019511901973217607, -0.0010174973929989032, 0.00053935158937785499, -0.00028946897459092036,
        0.00015687740044399901, -8.5689598368814837e-05, 4.7109625786886021e-05, -2.6041097568326736e-05,
    }},
    {-0.1875, {
        -0.067464073691674079, 0.29416291670604694, 0.36524089379884689, -0.085824599047339883,
        0.029355896087391652, -0.011747718774615128, 0.0051128722328843586, -0.0023412986256888149,
        0.0011085138915559454, -0.00053717039585413886, 0.00026474950250893111, -0.00013216759551610188,
        6.6644897267886612e-05, -3.3877012597088474e-05, 1.733476158251943e-05, -8.9195091535378604e-06,
    }},
    {0, {
        0, 0.42278433509846713, 0.3224670334241132, -0.067352301053198102,
        0.020580808427784546, -0.0073855510286739857, 0.0028905103307415234, -0.001192753911703261,
        0.00050966952474304245, -0.00022315475845357939, 9.9457512781808531e-05, -4.4926236738133142e-05,
        2.0507212775670691e-05, -9.4394882752683967e-06, 4.3748667899074882e-06, -2.0392157538013662e-06,
    }},
    {0, {
        0, 0.42278433509846713, 0.3224670334241132, -0.067352301053198102,
        0.020580808427784546, -0.0073855510286739857, 0.0028905103307415234, -0.001192753911703261,
        0.00050966952474304245, -0.00022315475845357939, 9.9457512781808531e-05, -4.4926236738133142e-05,
        2.0507212775670691e-05, -9.4394882752683967e-06, 4.3748667899074882e-06, -2.0392157538013662e-06,
    }},
    {0.1875, {
        0.090188663933639571, 0.53710661311799424, 0.2884841324248732, -0.054177814463286435,
        0.014944342944987974, -0.0048559048462720683, 0.001724876780272657, -0.00064716630512575302,
        0.00025178790881376671, -0.00010048224533150482, 4.0850990125443294e-05, -1.6842497051937142e-05,
        7.020193154283649e-06, -2.9516980760443361e-06, 1.2499051218201307e-06, -5.324069076023004e-07,
    }},
    {0.3125, {
        0.16173224571501024, 0.60679918569492197, 0.26947956947125207, -0.047402129823052794,
        0.012273377434892613, -0.003749863488318822, 0.00125415758657178, -0.00044352993325191993,
        0.00016278627708795438, -6.1323974741610786e-05, 2.3546149140118137e-05, -9.1720870619922536e-06,
        3.6131323828429779e-06, -1.4360779936908519e-06, 5.7494846806522476e-07, -2.3157817075298187e-07,
    }},
    {0.4375, {
        0.24170306649034579, 0.67203862990774554, 0.25278548541284196, -0.041805896861998273,
        0.010195900216866701, -0.0029386940620096634, 0.0009283164636067244, -0.00031037993737576404,
        0.000107783026662005, -3.8440548321726461e-05, 1.3980220843000403e-05, -5.1601222579858512e-06,
        1.9266379298835517e-06, -7.2596693454486435e-07, 2.7559162874983705e-07, -1.0526672971376393e-07,
    }},
};

// Stirling's series: the first eight are B(2k) / (2k (2k - 1)), the rest
// fitted so that the truncated series stays exact to double from x = 8 on.
constexpr double kStirling[18] = {
    0.08333333333333333, -0.002777777777777778, 0.0007936507936507937, -0.0005952380952380952,
    0.0008417508417508395, -0.0019175269175252636, 0.006410256409395203, -0.029550653272483032,
    0.17964428300990676, -1.3924134658297238, 13.399842380372677, -156.47076576053738,
    2156.3238074992114, -33304.86427626223, 523553.50720118894, -7258160.98460222,
    73165269.34569687, -380645027.90649,
};
// clang-format on

constexpr double kHalfLog2Pi = 0.9189385332046728;

double lnGammaCore(double r) {
    // Written so that a NaN also lands on the "no slice" answer.
    if (!(r >= -0.5 && r < 0.5)) return 0.0;
    const CoreSlice& s = kCore[int((r + 0.5) * 8.0)];
    const double t = r - s.centre;
    double v = s.c[15];
    for (int k = 14; k >= 0; --k) v = v * t + s.c[k];
    return v;
}

// sin(pi x) for finite x, with the argument reduced exactly first: pi * x
// rounded in double would cost all relative accuracy next to the integers,
// where the reflection formula needs it most, and is exactly 0 at them.
double sinPi(double x) {
    double y = std::fmod(x, 2.0);  // exact, in (-2, 2)
    if (y > 1.0) y -= 2.0;
    else if (y < -1.0) y += 2.0;
    if (y > 0.5) y = 1.0 - y;
    else if (y < -0.5) y = -1.0 - y;
    return std::sin(kPi * y);
}

double lnGammaPositive(double x);

// ln|Gamma(x)|; `sign` becomes the sign of Gamma(x) (left as it was at a pole).
double lnGammaSigned(double x, int& sign) {
    if (x < 0) {
        const double t = sinPi(x);
        if (t == 0) return 1e100;
        const double v = x < -1e-40 ? std::log(kPi / (std::fabs(t) * -x)) - lnGammaPositive(-x) : -std::log(-x);
        sign = t < 0 ? -1 : 1;
        return v;
    }
    sign = 1;
    return lnGammaPositive(x);
}

// ln Gamma(x) for x >= 0 (NaN gives NaN).
double lnGammaPositive(double x) {
    if (x < 8) {
        const double k = std::floor(x + 0.5);
        const double r = x - k;
        switch (int(k)) {
            case 0: return x < 1e-40 ? -std::log(x) : lnGammaCore(x) - std::log1p(x) - std::log(x);
            case 1: return lnGammaCore(r) - std::log(x);
            case 2: return lnGammaCore(r);
            case 3: return std::log(x - 1) + lnGammaCore(r);
            case 4: return std::log((x - 1) * (x - 2)) + lnGammaCore(r);
            case 5: return std::log((x - 1) * (x - 2) * (x - 3)) + lnGammaCore(r);
            case 6: return std::log((x - 1) * (x - 2) * (x - 3) * (x - 4)) + lnGammaCore(r);
            case 7: return std::log((x - 1) * (x - 2) * (x - 3) * (x - 4) * (x - 5)) + lnGammaCore(r);
            default: return std::log((x - 1) * (x - 2) * (x - 3) * (x - 4) * (x - 5) * (x - 6)) + lnGammaCore(r);
        }
    }
    const double lx = std::log(x);
    if (x < 1e40) {
        const double u = 1.0 / (x * x);
        double s = kStirling[17];
        for (int k = 16; k >= 0; --k) s = s * u + kStirling[k];
        return (lx - 1) * x - (0.5 * lx - (s / x + kHalfLog2Pi));
    }
    return (lx - 1) * x;  // also NaN for NaN
}

bool isPoleOfGamma(double x) { return x == 0 || (x < 0 && std::floor(x) == x); }

// ---------------------------------------------------------- incomplete gamma

// One evaluation of P(a, x) and Q(a, x) for a > 0 and x >= 0, given
// lnGamma(a): one of the two comes from the series (P, x < a + 1) or the
// continued fraction (Q), the other is its complement. Lanes that a kernel
// answers itself (a NaN, an argument out of range) are not pending.
struct GammaLane {
    double a, x, lnGammaA;
    double p, q;
    int status;
    bool pending;
};

// Solves the pending lanes together, in lockstep: every lane performs exactly
// the operations of a one-at-a-time evaluation, but the divisions of
// independent lanes overlap in the processor instead of waiting on each other,
// which is where the time of the series and the continued fraction goes.
constexpr int kLanes = 4;

void solveLanes(GammaLane* lane, int count) {
    double ap[kLanes], del[kLanes], sum[kLanes];                 // series
    double b[kLanes], g[kLanes], d[kLanes], h[kLanes];           // continued fraction
    bool series[kLanes] = {}, fraction[kLanes] = {};
    int liveSeries = 0, liveFraction = 0;
    for (int l = 0; l < count; ++l) {
        GammaLane& z = lane[l];
        if (!z.pending) continue;
        z.status = KernelOk;
        if (std::isinf(z.x) || std::isinf(z.a)) {
            const bool both = std::isinf(z.x) && std::isinf(z.a);
            z.p = both ? kNaN : std::isinf(z.x) ? 1.0 : 0.0;
            z.q = both ? kNaN : 1.0 - z.p;
        } else if (z.x < z.a + 1) {
            if (z.x == 0) {
                z.p = 0.0;
                z.q = 1.0;
                continue;
            }
            ap[l] = z.a;
            del[l] = sum[l] = 1 / z.a;
            series[l] = true;
            ++liveSeries;
        } else {
            b[l] = z.x + 1 - z.a;
            g[l] = 1 / kTiny;
            d[l] = 1 / b[l];
            h[l] = d[l];
            fraction[l] = true;
            ++liveFraction;
        }
    }
    for (int n = 0; n < kMaxIterations && liveSeries > 0; ++n) {
        for (int l = 0; l < count; ++l) {
            if (!series[l]) continue;
            ap[l] += 1;
            del[l] *= lane[l].x / ap[l];
            sum[l] += del[l];
            if (std::fabs(del[l]) < std::fabs(sum[l]) * kTolerance) {
                series[l] = false;
                --liveSeries;
                GammaLane& z = lane[l];
                z.p = sum[l] * std::exp(z.a * std::log(z.x) - z.x - z.lnGammaA);
                z.q = 1 - z.p;
            }
        }
    }
    for (int i = 1; i <= kMaxIterations && liveFraction > 0; ++i) {
        for (int l = 0; l < count; ++l) {
            if (!fraction[l]) continue;
            const double an = -i * (i - lane[l].a);
            b[l] += 2;
            d[l] = an * d[l] + b[l];
            if (std::fabs(d[l]) < kTiny) d[l] = kTiny;
            g[l] = b[l] + an / g[l];
            if (std::fabs(g[l]) < kTiny) g[l] = kTiny;
            d[l] = 1 / d[l];
            const double step = d[l] * g[l];
            h[l] *= step;
            if (std::fabs(step - 1) < kTolerance) {
                fraction[l] = false;
                --liveFraction;
                GammaLane& z = lane[l];
                z.q = std::exp(z.a * std::log(z.x) - z.x - z.lnGammaA) * h[l];
                z.p = 1 - z.q;
            }
        }
    }
    for (int l = 0; l < count; ++l)
        if (series[l] || fraction[l]) lane[l].status = KernelFailed;
}

// Fills a lane for P(a, x) / Q(a, x) with the argument checks; a NaN gives NaN.
void prepareLane(GammaLane& z, double a, double x) {
    z.a = a;
    z.x = x;
    z.pending = false;
    z.status = KernelOk;
    if (std::isnan(a) || std::isnan(x)) {
        z.p = z.q = kNaN;
    } else if (x < 0 || a <= 0) {
        z.status = KernelOutOfRange;
    } else {
        z.lnGammaA = std::isinf(a) ? kInf : lnGammaPositive(a);
        z.pending = true;
    }
}

// Runs `prepare`(lane, i) for every element, solves the lanes in blocks and
// hands each solved lane to `store`(lane, i). The first element that fails,
// in element order, gives the status.
template <class Prepare, class Store>
int overLanes(int64_t n, Prepare prepare, Store store) {
    GammaLane lane[kLanes];
    for (int64_t i0 = 0; i0 < n; i0 += kLanes) {
        const int count = int(n - i0 < kLanes ? n - i0 : kLanes);
        for (int l = 0; l < count; ++l) prepare(lane[l], i0 + l);
        solveLanes(lane, count);
        for (int l = 0; l < count; ++l) {
            if (lane[l].status != KernelOk) return lane[l].status;
            store(lane[l], i0 + l);
        }
    }
    return KernelOk;
}

// ------------------------------------------------------------------ kernels
// A kernel fills out[0..n) from its argument array(s) and returns a status.
// Two-argument kernels read their second argument at stride * i (a stride of
// 0 repeats a single value).

int lgammaKernel(cplx* out, const double* in, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        const double x = in[i];
        if (x > kArgLimit || isPoleOfGamma(x)) return KernelOutOfRange;
        int sign = 1;
        const double v = lnGammaSigned(x, sign);
        // A negative Gamma has the principal logarithm ln|Gamma| + i pi.
        out[i] = cplx(v, sign < 0 ? kPi : 0.0);
    }
    return KernelOk;
}

int gammaKernel(double* out, const double* in, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        const double x = in[i];
        if (x > kArgLimit || isPoleOfGamma(x)) return KernelOutOfRange;
        int sign = 1;
        const double v = lnGammaSigned(x, sign);
        if (v > kGammaOverflow) return KernelOverflow;
        out[i] = sign < 0 ? -std::exp(v) : std::exp(v);
    }
    return KernelOk;
}

// erf and erfc equal P and Q at a = 1/2 and x^2 (erf = P for x >= 0, erfc =
// Q, and 1 + P for x < 0). The library's vector error functions give those
// values directly, to a few units in the last place, at a fraction of the
// cost of the series and the continued fraction; the argument limit still
// applies.
template <VecFn F>
int errorFunction(double* out, const double* in, int64_t n) {
    for (int64_t i = 0; i < n; ++i)
        if (std::fabs(in[i]) > kArgLimit) return KernelOutOfRange;
    cv::vecMath(F, in, out, n);
    return KernelOk;
}

int erfKernel(double* out, const double* in, int64_t n) { return errorFunction<VecFn::Erf>(out, in, n); }
int erfcKernel(double* out, const double* in, int64_t n) { return errorFunction<VecFn::Erfc>(out, in, n); }

int gammpKernel(double* out, const double* a, const double* x, int64_t n, int64_t xStride) {
    return overLanes(
        n, [&](GammaLane& z, int64_t i) { prepareLane(z, a[i], x[i * xStride]); },
        [&](const GammaLane& z, int64_t i) { out[i] = z.p; });
}

int gammqKernel(double* out, const double* a, const double* x, int64_t n, int64_t xStride) {
    return overLanes(
        n, [&](GammaLane& z, int64_t i) { prepareLane(z, a[i], x[i * xStride]); },
        [&](const GammaLane& z, int64_t i) { out[i] = z.q; });
}

int chisquareKernel(double* out, const double* x, const double* dof, int64_t n, int64_t dofStride) {
    return overLanes(
        n,
        [&](GammaLane& z, int64_t i) {
            const double nu = dof[i * dofStride];
            prepareLane(z, std::isnan(nu) ? kNaN : toInt32(nu) / 2.0, x[i] / 2);
        },
        [&](const GammaLane& z, int64_t i) { out[i] = z.p; });
}

// ------------------------------------------------------------------ tables

constexpr PhysTypeRule kUnknown = static_cast<PhysTypeRule>(&PhysType::unknown);
constexpr PhysTypeRule2 kUnknown2 = static_cast<PhysTypeRule2>(&PhysType::unknown);

// One named row per function; the registrations below name them. Any status
// other than success stops the evaluation at that element.
namespace op {
// clang-format off
//                                  real -> real  complex -> real  real -> complex  complex -> complex  rule      shape
constexpr UnaryRow lgamma{"lgamma", nullptr,      nullptr,         lgammaKernel,    nullptr,            kUnknown, PerElement};
constexpr UnaryRow gamma {"gamma",  gammaKernel,  nullptr,         nullptr,         nullptr,            kUnknown, PerElement};
constexpr UnaryRow erf   {"erf",    erfKernel,    nullptr,         nullptr,         nullptr,            kUnknown, PerElement};
constexpr UnaryRow erfc  {"erfc",   erfcKernel,   nullptr,         nullptr,         nullptr,            kUnknown, PerElement};

constexpr PairRow gammp    {"gammp",     gammpKernel,     kUnknown2};
constexpr PairRow gammq    {"gammq",     gammqKernel,     kUnknown2};
constexpr PairRow chisquare{"chisquare", chisquareKernel, kUnknown2};
// clang-format on
}  // namespace op

template <const UnaryRow& row>
FUNC_ERROR unary(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    return runUnary(row, a, r, m);
}

template <const PairRow& row>
FUNC_ERROR binary(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    return runPair(row, a, r, m);
}

// clang-format off
FunctionRow registrations[] = {
    {"lgamma",    {Numeric},          {PerDivision},              1, 1, handler<unary<op::lgamma>>,     "", PyVector,     ElementWise},
    {"gamma",     {Numeric},          {PerDivision},              1, 1, handler<unary<op::gamma>>,      "", PyRealVector, ElementWise},
    {"erf",       {Numeric},          {PerDivision},              1, 1, handler<unary<op::erf>>,        "", PyRealVector, ElementWise},
    {"erfc",      {Numeric},          {PerDivision},              1, 1, handler<unary<op::erfc>>,       "", PyRealVector, ElementWise},
    {"gammp",     {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::gammp>>,     "", PyRealVector, ElementWise},
    {"gammq",     {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::gammq>>,     "", PyRealVector, ElementWise},
    {"chisquare", {Numeric, Numeric}, {PerDivision, PerDivision}, 2, 2, handler<binary<op::chisquare>>, "", PyRealVector, ElementWise},
};
// clang-format on

}  // namespace
