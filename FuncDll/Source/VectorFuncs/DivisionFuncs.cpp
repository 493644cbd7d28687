// Taking waveforms apart and putting them together by their reference and
// their divisions (one division per run of a multi-step analysis). None of
// these functions fails: unusable input gives an empty result.
#include <algorithm>
#include <cmath>
#include <vector>

#include "../FuncKit.h"
#include "Interp.h"

namespace {

using namespace cvmod;

// The x-values alone. The reference is shared with the argument, not copied.
FUNC_ERROR ref(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const cv::ValuePtr& v = valueOf(a, 0);
    if (v && v->ref()) r.copyVector(v->ref());
    else r.makeRealVector(0);
    r.setPhysType(a.refPhysType(0));
    return FuncOk;
}

// The values alone, sharing the argument's data.
FUNC_ERROR stripRef(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const cv::ValuePtr& v = valueOf(a, 0);
    if (v && v->isNumeric()) r.copyVector(v);
    else r.makeRealVector(0);
    r.setPhysType(a.physType(0));
    return FuncOk;
}

// One value per division: the first of each run, against the first x of each
// run when the reference is divided likewise.
FUNC_ERROR coll(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const cv::ValuePtr& v = valueOf(a, 0);
    if (!v || !v->isNumeric()) {
        r.makeRealVector(0);
        return FuncOk;
    }
    const int64_t d = v->numDivisions();
    r.setPhysType(a.physType(0));
    r.setRefPhysType(a.refPhysType(0));
    if (d < 2) {
        r.copyVector(v, v);
        return FuncOk;
    }
    // A run may be empty: its first value does not exist and reads as NaN.
    const double nan = std::nan("");
    auto firstOf = [&](const cv::Value& w, int64_t j) {
        return w.divisionLength(j) > 0 ? w.complexAt(w.divisionOffset(j)) : cplx(nan, nan);
    };
    if (v->kind() == cv::Kind::Complex) {
        cplx* out = r.makeComplexVector(d);
        for (int64_t j = 0; j < d; ++j) out[j] = firstOf(*v, j);
    } else {
        double* out = r.makeRealVector(d);
        for (int64_t j = 0; j < d; ++j) out[j] = firstOf(*v, j).real();
    }
    const cv::ValuePtr& x = v->ref();
    if (x && x->numDivisions() == d) {
        if (x->kind() == cv::Kind::Complex) {
            cplx* out = r.makeComplexRefVector(d);
            for (int64_t j = 0; j < d; ++j) out[j] = firstOf(*x, j);
        } else {
            double* out = r.makeRealRefVector(d);
            for (int64_t j = 0; j < d; ++j) out[j] = firstOf(*x, j).real();
        }
        r.setRefName(a.refName(0));
    }
    return FuncOk;
}

// b, relabelled with a's division labels.
FUNC_ERROR copyDivisionData(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const cv::ValuePtr& b = valueOf(a, 1);
    if (!b) {
        r.makeRealVector(0);
        return FuncOk;
    }
    // b keeps its reference: relabelling must not lose the x-values.
    r.copyVector(b, b);
    std::vector<YString> labels;
    labels.reserve(10);
    // Labels that do not match b's divisions one to one would name the wrong
    // runs: b keeps its own then.
    if (a.getYDivisionLabelArray(0, labels) && int64_t(labels.size()) == b->numDivisions())
        r.setDivisionLabelArray(labels);
    return FuncOk;
}

// One waveform as the merge walks it.
struct Side {
    const double* x;
    const double* y;
    int64_t n;
    int64_t next = 0;  // first point not yet consumed

    // Without x-values there is nothing to merge on.
    explicit Side(const Wave& w) : x(w.x), y(w.y), n(w.x ? w.n : 0) {}
    bool done() const { return next >= n; }
    // Linear through the last consumed point and the one after it (the first
    // two while none is consumed): the caller guarantees n >= 2 and that the
    // side is not exhausted.
    double at(double where) const {
        const int64_t k = std::clamp<int64_t>(next - 1, 0, n - 2);
        return support_Interp(y + k, x + k, where, InterpOpts{false, false, false, false, 1, 0, 0.0});
    }
};

// Walks the union of both (ascending) references until either side runs out,
// calling emit(x, a - b) at each merged point.
template <class Emit>
void mergeWalk(Side a, Side b, Emit&& emit) {
    while (!a.done() && !b.done()) {
        const double xa = a.x[a.next], xb = b.x[b.next];
        if (xa == xb) {
            emit(xa, a.y[a.next] - b.y[b.next]);
            ++a.next;
            ++b.next;
        } else if (xa < xb) {
            emit(xa, a.y[a.next] - b.at(xa));
            ++a.next;
        } else {
            // Also taken when either x is NaN: every step consumes a point,
            // so the walk always ends.
            emit(xb, a.at(xb) - b.y[b.next]);
            ++b.next;
        }
    }
}

FUNC_ERROR diffMergeVecs(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const Side sa(waveOf(a, 0)), sb(waveOf(a, 1));
    // Interpolating on a side needs two of its points.
    if (sa.n < 2 || sb.n < 2) {
        r.makeRealVector(0);
        r.makeRealRefVector(0);
        return FuncOk;
    }
    int64_t merged = 0;
    mergeWalk(sa, sb, [&](double, double) { ++merged; });
    double* y = r.makeRealVector(merged);
    double* x = r.makeRealRefVector(merged);
    int64_t k = 0;
    mergeWalk(sa, sb, [&](double at, double diff) {
        x[k] = at;
        y[k] = diff;
        ++k;
    });
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"Coll",             {Numeric},          {Whole},        1, 1, handler<coll>,             "", PyVector, Plain},
    {"CopyDivisionData", {Numeric, Numeric}, {Whole, Whole}, 2, 2, handler<copyDivisionData>, "", PyVector, Plain},
    {"DiffMergeVecs",    {Real, Real},       {},             2, 2, handler<diffMergeVecs>,    "", PyVector, Plain},
    {"Ref",              {Numeric},          {PerDivision},  1, 1, handler<ref>,              "", PyVector, Plain},
    {"StripRef",         {Numeric},          {PerDivision},  1, 1, handler<stripRef>,         "", PyVector, Plain},
};
// clang-format on

}  // namespace
