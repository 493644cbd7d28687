// The AC table reader: network parameters of an N-port over frequency, read
// from a Touchstone file (versions 1.0, 1.1, 2.0 and 2.1 of the public format).
//
// What a built table holds
//  - Frequency points in file order, frequencies in Hz, strictly increasing.
//  - Each point holds N x N complex values; the parameter in row r, column c
//    (from 0) is value k = N * r + c, whatever order the file wrote them in
//    (version 1 two-ports write 11, 21, 12, 22; [Two-Port Data Order] 12_21
//    writes 11, 12, 21, 22; a Lower or Upper [Matrix Format] writes half the
//    matrix, and the other half is its mirror image).
//  - The values in the file's parameter kind (S, Y, Z, H or G, see kind()),
//    turned from RI, MA or DB into real and imaginary parts. Y and Z come out
//    in siemens and ohms: a version 1 file writes them divided by its
//    reference resistance R, so they are multiplied back (Z) or divided (Y)
//    by R; a version 2 file writes them unscaled. H and G values come out as
//    written. S values need no scaling.
//  - Noise data of a two-port, when the file has any (noiseCount()).
//
// Reading is strict: a file that the reader cannot read exactly as written
// is not built, so no plausible but wrong numbers come out of it. build()
// stops at the first problem and appends one message to the caller's list,
// "<file>, line <n>: <what>", and leaves no points. Problems found:
// frequencies not increasing, a frequency point with too few or too many
// numbers, text that is not a finite number, unknown option words and
// keywords, keywords in the wrong place or missing, a port count that
// differs from the file's (the ".sNp" extension of a version 1 file, the
// [Number of Ports] of a version 2 file), counts that differ from those the
// file declares, and mixed-mode data, which is not supported.
//
// Hostile files are bounded: only regular files smaller than the memory
// limit (cv::memoryLimitBytes()) are opened; they are read in pieces, and a
// line longer than the read buffer grows it only within that limit; the
// table grows only as numbers arrive (declared counts are checked, never
// trusted for allocation; a point must fit in what is left of the file
// before room is made for it), and its buffers count against the same limit
// (cv::reserveMemoryBytes) while the table lives; beyond it the build fails
// with a message. Port counts are limited to kMaxPorts, so that N * N and
// every index k fit in 32 bits.
//
// Numbers are read without regard to the C locale: plain decimals of up to
// 15 significant digits by an exact fast path, everything else by
// std::from_chars, to the same double.
#pragma once
#include <complex>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "YContainers.h"
#include "YString.h"

// How a caller would like values at DC and between points to be found. The
// reader keeps them for its callers; the table itself holds the points as
// read, and neither value changes what build() reads.
enum DcExtractionMethod : int32_t { DcExtractNone = 0, DcExtractLinear = 1 };
enum AcTableInterpMethod : int32_t { AcInterpNone = 0, AcInterpLinear = 1 };

// One frequency point: a view into the table, valid while the table lives
// and is not rebuilt.
struct AcTableFrequencyPoint {
    double frequency = 0.0;                               // Hz
    const std::complex<double>* values = nullptr;         // N x N, index N * r + c
    int64_t count = 0;                                    // N x N (0 for an empty point)
    // Value k, or the default (0) when the point holds fewer.
    std::complex<double> value(int64_t k) const { return k >= 0 && k < count ? values[k] : std::complex<double>(); }
};

// Noise parameters of a two-port at one frequency.
struct AcTableNoisePoint {
    double frequency = 0.0;            // Hz
    double minNoiseFigureDb = 0.0;
    std::complex<double> gammaOpt;     // optimum source reflection coefficient
    double noiseResistance = 0.0;      // ohms (version 1 files write it divided by R)
};

class AcTableData {
public:
    // A port count and each index k = N * r + c fit in 32 bits.
    static constexpr int32_t kMaxPorts = 46340;

    AcTableData(const char* path, int32_t ports, DcExtractionMethod dc = DcExtractNone,
                AcTableInterpMethod interp = AcInterpLinear);
    ~AcTableData();
    AcTableData(const AcTableData&) = delete;
    AcTableData& operator=(const AcTableData&) = delete;

    // Reads the file. True when the table was read; otherwise appends one
    // message to `errors` (when not null) and holds no points. Never throws:
    // memory beyond the limit is a failed build with a message.
    bool build(YList<YString>* errors);

    int64_t numPoints() const noexcept { return int64_t(freqs_.size()); }
    // Point i (0 <= i < numPoints()); an empty point outside that range.
    AcTableFrequencyPoint get(int64_t i) const noexcept;

    int32_t ports() const noexcept { return ports_; }
    // 'S', 'Y', 'Z', 'H' or 'G' after a build.
    char kind() const noexcept { return kind_; }
    // 1 or 2 (the major version of the file's format) after a build.
    int version() const noexcept { return version_; }
    // The reference impedance of each port (ohms) after a build.
    const std::vector<double>& reference() const noexcept { return reference_; }
    // After a build: the option line's frequency unit ("Hz", "kHz", "MHz",
    // "GHz") and number format ("RI", "MA", "DB"), the defaults where it
    // gives none; whether [Reference] listed the impedances port by port.
    const char* frequencyUnit() const noexcept { return unitWord_; }
    const char* numberFormat() const noexcept { return formatWord_; }
    bool referenceListed() const noexcept { return referenceListed_; }
    int64_t noiseCount() const noexcept { return int64_t(noise_.size()); }
    const AcTableNoisePoint& noise(int64_t i) const { return noise_.at(size_t(i)); }
    DcExtractionMethod dcExtraction() const noexcept { return dc_; }
    AcTableInterpMethod interpolation() const noexcept { return interp_; }

private:
    friend class TouchstoneParser;
    void clear() noexcept;

    std::string path_;
    int32_t ports_;
    DcExtractionMethod dc_;
    AcTableInterpMethod interp_;
    char kind_ = 'S';
    int version_ = 1;
    const char* unitWord_ = "GHz";
    const char* formatWord_ = "MA";
    bool referenceListed_ = false;
    std::vector<double> reference_;
    std::vector<double> freqs_;
    std::vector<std::complex<double>> values_;
    std::vector<AcTableNoisePoint> noise_;
    size_t reservedBytes_ = 0;  // counted against the memory limit
};
