// What the measurements of the `measure` module share, on top of the module
// kit (FuncKit.h), whose readers and result helpers they use as the
// `functions` module does.
//
// Every measurement works per run: its waveform arguments are registered
// with the Statistic rule, so the host calls the worker once per run and
// collects the one value each run gives into a vector labelled like the runs.
// A worker therefore sees one run and writes one value, with its physical
// type. When it cannot measure, it says so once, naming the argument:
//
//   RiseTime: argument 1 (wave) never reaches 90 % of its swing
//
// and over several runs the host adds the run.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "FuncKit.h"
#include "PhysType.h"

namespace measure {

using namespace cvmod;

// Sends "<Function>: argument <argNumber> (<argName>) <why>" and returns
// FuncFailed. Argument numbers count from 1, as users do.
FUNC_ERROR refuse(MessageHandler& m, const FuncArgs& a, int argNumber, const char* argName, std::string_view why);

// Waveform argument i (from 0) of one run: real values with real x-values
// that do not fall. Refuses (naming the argument as `argName`) a waveform
// without x-values, with fewer than `minSamples` samples, or with a NaN or
// infinite or falling x-value; a NaN value is left to the measurement.
std::optional<Wave> waveArg(const FuncArgs& a, int i, const char* argName, MessageHandler& m, int64_t minSamples = 2);

// A real argument the measurement needs: refused when absent or NaN.
std::optional<double> levelArg(const FuncArgs& a, int i, const char* argName, MessageHandler& m);

// A number as a message shows it: whole numbers in full (up to 10^15),
// others with 6 significant digits.
std::string shown(double v);

// One measured value of the given physical type.
void setMeasured(FuncResult& r, double v, PhysType type);

}  // namespace measure
