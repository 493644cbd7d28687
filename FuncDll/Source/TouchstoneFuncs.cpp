// Network parameters from Touchstone files: a file is loaded into a table of
// loaded files (kept also when it could not be read, so that its messages can
// be fetched), one parameter of the N-port is read back as frequency, real
// part and imaginary part per point, and ParseTouchstone does all of that in
// one call without keeping anything. None of these functions fails or sends a
// message: unknown handles and indices give an empty result, a file that
// cannot be read a failed load (or, for ParseTouchstone, an empty result).
#include <cmath>
#include <memory>
#include <vector>

#include "FuncKit.h"
#include "Touchstone.h"
#include "YRef.h"

namespace {

using namespace cvmod;

struct TouchstoneEntry : YRefCounted {
    std::unique_ptr<AcTableData> table;
    YList<YString> errors;  // the reader's messages, in the order it gave them
    int32_t ports = 0;
    bool built = false;
    int32_t handle = 0;
};

// Loaded files by handle, in order of loading. Holders take counted
// references, so an entry being read stays alive if it is deleted meanwhile.
HandleTable<YRef<TouchstoneEntry>> touchstones;

// The reader is asked for the table as stored: no DC point is made up and
// values between points are found by straight lines, should a caller ask.
std::unique_ptr<AcTableData> newTable(const char* path, int32_t ports) {
    return std::make_unique<AcTableData>(path, ports, DcExtractNone, AcInterpLinear);
}

// The flat index of row and column, in 64 bits: a row and a column that are
// each far out of range must not wrap around onto a valid index. Negative
// when out of range.
int64_t flatIndex(int32_t ports, int32_t row, int32_t column) {
    const int64_t k = int64_t(ports) * row + column;
    return k >= 0 && k < int64_t(ports) * ports ? k : -1;
}

// Frequency, real part, imaginary part of value k of every point.
void fillParameter(FuncResult& r, const AcTableData& table, int64_t k) {
    const int64_t points = table.numPoints();
    double* out = r.makeRealVector(3 * points);
    for (int64_t i = 0; i < points; ++i) {
        const AcTableFrequencyPoint p = table.get(i);
        const std::complex<double> v = p.value(k);
        out[3 * i] = p.frequency;
        out[3 * i + 1] = v.real();
        out[3 * i + 2] = v.imag();
    }
}

YRef<TouchstoneEntry> findEntry(const FuncArgs& a, int i) {
    int32_t handle = 0;
    if (!handleOf(a, i, handle)) return {};
    YRef<TouchstoneEntry>* entry = touchstones.find(handle);
    return entry ? *entry : YRef<TouchstoneEntry>();
}

FUNC_ERROR loadTouchstone(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char* path = stringOr(a, 0);
    const int32_t ports = intOr(a, 1, 0);
    YRef<TouchstoneEntry> entry(new TouchstoneEntry);
    entry->ports = ports;
    entry->table = newTable(path, ports);
    // The handle is taken before the build: a failed load uses one up too.
    // When every handle has been given out, nothing is loaded and the
    // handle reads 0, which names no entry.
    entry->handle = touchstones.add(entry);
    if (entry->handle != 0) entry->built = entry->table->build(&entry->errors);
    int32_t* out = r.makeIntegerVector(2);
    out[0] = entry->handle;
    out[1] = entry->built ? 1 : 0;
    return FuncOk;
}

FUNC_ERROR readTouchstone(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const YRef<TouchstoneEntry> entry = findEntry(a, 0);
    if (!entry) return FuncOk;
    const int64_t k = flatIndex(entry->ports, intOr(a, 1, 0), intOr(a, 2, 0));
    if (k < 0) return FuncOk;
    fillParameter(r, *entry->table, k);
    return FuncOk;
}

FUNC_ERROR getTouchstoneErrors(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const YRef<TouchstoneEntry> entry = findEntry(a, 0);
    if (!entry) return FuncOk;
    setStrings(r, std::vector<YString>(entry->errors.begin(), entry->errors.end()));
    return FuncOk;
}

FUNC_ERROR deleteTouchstone(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::optional<double> v = optionalReal(a, 0);
    int32_t removed = 0;
    // 0 or less deletes every entry. A handle that is not a number (NaN, or
    // no value at all) names nothing: it must not empty the whole table.
    if (v && !std::isnan(*v)) {
        if (std::trunc(*v) <= 0) {
            removed = int32_t(touchstones.size());
            touchstones.clear();
        } else {
            int32_t handle = 0;
            removed = handleOf(a, 0, handle) && touchstones.remove(handle) ? 1 : 0;
        }
    }
    setInteger(r, removed);
    return FuncOk;
}

FUNC_ERROR parseTouchstone(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char* path = stringOr(a, 0);
    const int32_t ports = intOr(a, 1, 0);
    const int64_t k = intOr(a, 2, -1);
    // An index out of range is known before the file is touched.
    if (k < 0 || k >= int64_t(ports) * ports) return FuncOk;
    const std::unique_ptr<AcTableData> table = newTable(path, ports);
    YList<YString> errors;
    if (!table->build(&errors)) return FuncOk;
    fillParameter(r, *table, k);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"DeleteTouchstone",    {Real},               {}, 1, 1, handler<deleteTouchstone>,    "", PyInteger,       Plain},
    {"GetTouchstoneErrors", {Real},               {}, 1, 1, handler<getTouchstoneErrors>, "", PyStringList,    Plain},
    {"LoadTouchstone",      {String, Real},       {}, 2, 2, handler<loadTouchstone>,      "", PyIntegerVector, Plain},
    {"ParseTouchstone",     {String, Real, Real}, {}, 3, 3, handler<parseTouchstone>,     "", PyRealVector,    Plain},
    {"ReadTouchstone",      {Real, Real, Real},   {}, 3, 3, handler<readTouchstone>,      "", PyRealVector,    Plain},
};
// clang-format on

}  // namespace
