// Waveform functions: options of the waveform family. Only MCNumberOfBins is
// read here (by Histogram, for the bin count of a Monte Carlo set); the
// interpolation defaults and the histogram's curve style are declared for the
// host, which uses them when it draws and resamples waveforms itself.
#include "FuncKit.h"
// The late-bound host functions are declared once per source that includes
// them; the host expects this file and DiagnosticFuncs.cpp to do so.
#include "common_dynexport.h"

namespace {

using cvmod::Option;

const Option interpPts{"InterpPts", 1024};
const Option interpOrder{"InterpOrder", 2};
const Option histoCurveStyle{"HistoCurveStyle", "Stepped"};
const Option mcNumberOfBins{"MCNumberOfBins", 0};

}  // namespace
