// Waveform functions: options of the waveform family.
#include "FuncContract.h"
#include "common_dynexport.h"

namespace {

// clang-format off
MakeOption optionInterpPts      ("FuncDll/Source/VectorFuncs", __LINE__, "InterpPts",       1024,      OptionNotCached, true);
MakeOption optionInterpOrder    ("FuncDll/Source/VectorFuncs", __LINE__, "InterpOrder",     2,         OptionNotCached, true);
MakeOption optionHistoCurveStyle("FuncDll/Source/VectorFuncs", __LINE__, "HistoCurveStyle", "Stepped", OptionNotCached, true);
MakeOption optionMCNumberOfBins ("FuncDll/Source/VectorFuncs", __LINE__, "MCNumberOfBins",  0,         OptionNotCached, true);
// clang-format on

}  // namespace
