// Waveform functions: options of the waveform family. Only MCNumberOfBins is
// read here (by Histogram, for the bin count of a Monte Carlo set); the
// interpolation defaults and the histogram's curve style are declared for the
// host, which uses them when it draws and resamples waveforms itself.
#include "FuncContract.h"
// The late-bound host functions are declared once per source that includes
// them; the host expects this file and DiagnosticFuncs.cpp to do so.
#include "common_dynexport.h"

namespace {

// clang-format off
MakeOption optionInterpPts      ("FuncDll/Source/VectorFuncs", __LINE__, "InterpPts",       1024,      OptionNotCached, true);
MakeOption optionInterpOrder    ("FuncDll/Source/VectorFuncs", __LINE__, "InterpOrder",     2,         OptionNotCached, true);
MakeOption optionHistoCurveStyle("FuncDll/Source/VectorFuncs", __LINE__, "HistoCurveStyle", "Stepped", OptionNotCached, true);
MakeOption optionMCNumberOfBins ("FuncDll/Source/VectorFuncs", __LINE__, "MCNumberOfBins",  0,         OptionNotCached, true);
// clang-format on

}  // namespace
