// Waveform routines shared by the waveform families: resampling onto an even
// grid, and cutting a waveform to an x-interval with interpolated end points.
#pragma once
#include <cstdint>

#include "../FuncKit.h"
#include "YContainers.h"

namespace cv::wave {

// ---------------------------------------------------------------- resampling

// The waveform to resample: n samples y[i] at x[i] (x ascending for the
// window search to mean anything; unsorted x only gives poorer windows), and
// the grid's first and last abscissa.
struct ResampleSource {
    const double* y = nullptr;
    const double* x = nullptr;
    int64_t n = 0;
    double start = 0.0;
    double stop = 0.0;
};

// Where the grid values go: `count` values, spaced `step` apart. A step of
// exactly 0 asks resample() to derive it from start and stop, and resample()
// stores the step it used back here.
struct ResampleDest {
    double* out = nullptr;
    double step = 0.0;
    int64_t count = 0;
};

// Fills dest.out[i] with the waveform's value at start + i * step, by the
// polynomial of the given order through the order + 1 samples that end at the
// first sample not left of the grid point (the first or last window beyond
// the data). With includeEnd the derived step puts the last grid point on
// stop, otherwise one step short of it. The order is limited by the sample
// count and by the host interpolator's own cap. An empty source gives NaN.
// False when Ctrl-C stopped it early (see cv::interruptRequested); `out` is then
// only partly written.
bool resample(const ResampleSource& source, ResampleDest& dest, int order, bool includeEnd);

// ---------------------------------------------------------------- truncation

// Output of truncateWaveform(): asked for y and then for x storage of the
// final point count, so that the cut costs one allocation per vector. A fast
// attempt that finds the waveform shaped otherwise than it looked asks
// again: the later storage replaces the earlier.
template <class T>
class TruncateOutData {
public:
    virtual ~TruncateOutData() = default;
    virtual T* allocateY(int64_t count) = 0;
    virtual T* allocateX(int64_t count) = 0;
};

// Writes the cut straight into a function result: values and reference. The
// cut writes every element, so the storage is not cleared first (clearing
// tens of megabytes would cost as much as the cut).
class TruncateOutData_FuncResult : public TruncateOutData<double> {
public:
    explicit TruncateOutData_FuncResult(FuncResult& result) : result_(result) { result_.setType(VD_Real, VD_Real); }
    double* allocateY(int64_t count) override {
        result_.allocateUninitialized(count, AllocSingle, count);
        return result_.data();
    }
    double* allocateX(int64_t count) override {
        result_.allocateRefUninitialized(count, AllocSingle, count);
        return result_.refData();
    }

private:
    FuncResult& result_;
};

// Keeps the cut for further work (a spectrum of a time window, say).
class TruncateOutData_YVector : public TruncateOutData<double> {
public:
    double* allocateY(int64_t count) override { return grow(y, count); }
    double* allocateX(int64_t count) override { return grow(x, count); }

    YVector<double> y;
    YVector<double> x;

private:
    static double* grow(YVector<double>& v, int64_t count) {
        v.resize(count > 0 ? size_t(count) : 0);
        return v.data();
    }
};

// Cuts the waveform (y[i], x[i]), i < n, to lo <= x <= hi in one stretch per
// pass of the waveform through the interval. Samples inside or on a bound are
// kept as they are; where a segment crosses a bound, the linearly
// interpolated point on the bound is added, so every stretch starts and ends
// on a bound unless the data itself starts or ends inside. A NaN x counts as
// below the interval. Nothing is allocated when nothing falls inside; returns
// whether anything was written.
bool truncateWaveform(double lo, double hi, const double* y, const double* x, int64_t n,
                      TruncateOutData<double>& out);

}  // namespace cv::wave
