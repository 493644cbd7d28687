// Tests of the data loaders (Host/Loaders): CSV and SPICE raw files read into
// DataSets. The raw files in tests/data come from ngspice runs of
// tests/data/rc2.cir (see tests/data/make-test-data.sh), so values can be
// checked against the circuit itself, and ASCII against binary output.
#include "Loaders/Loaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

using cv::load::DataSet;
using cv::load::LoadError;
using cv::load::Signal;

namespace {

std::string dataPath(const std::string& name) { return std::string(CVFUNC_TEST_DATA) + "/" + name; }
std::string examplePath(const std::string& name) {
    return std::string(CVFUNC_TEST_DATA) + "/../../examples/" + name;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A scratch file that goes away with the test.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& bytes, const std::string& name = "scratch") {
        static int counter = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 ("cvfunc_loader_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" + name))
                    .string();
        std::ofstream(path_, std::ios::binary) << bytes;
    }
    ~ScratchFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

const Signal& signalNamed(const DataSet& data, const std::string& name) {
    for (const Signal& s : data.signals)
        if (s.name == name) return s;
    throw std::runtime_error("no signal " + name);
}

std::complex<double> complexAt(const Signal& s, std::size_t i) { return {s.data[2 * i], s.data[2 * i + 1]}; }

// The index of the first reference value >= x within the whole data.
std::size_t indexAt(const DataSet& data, double x) {
    const auto& t = data.reference.data;
    return static_cast<std::size_t>(std::lower_bound(t.begin(), t.end(), x * (1 - 1e-12)) - t.begin());
}

void expectSameNumbers(const std::vector<double>& a, const std::vector<double>& b) {
    ASSERT_EQ(a.size(), b.size());
    // ngspice's ASCII output has 16 significant digits, one short of a round trip.
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], 1e-15 * std::abs(b[i]) + 1e-300) << "at " << i;
}

void expectSameDataSet(const DataSet& a, const DataSet& b) {
    EXPECT_EQ(a.reference.name, b.reference.name);
    EXPECT_EQ(a.reference.divisionLengths, b.reference.divisionLengths);
    expectSameNumbers(a.reference.data, b.reference.data);
    ASSERT_EQ(a.signals.size(), b.signals.size());
    for (std::size_t i = 0; i < a.signals.size(); ++i) {
        EXPECT_EQ(a.signals[i].name, b.signals[i].name);
        EXPECT_EQ(a.signals[i].isComplex, b.signals[i].isComplex);
        EXPECT_EQ(a.signals[i].divisionLengths, b.signals[i].divisionLengths);
        expectSameNumbers(a.signals[i].data, b.signals[i].data);
    }
}

// Loads a file that may be damaged: data or one LoadError, nothing else.
void expectDataOrLoadError(const std::string& bytes, const std::string& what) {
    ScratchFile file(bytes);
    try {
        const DataSet data = cv::load::loadFile(file.path());
        const std::size_t values = data.reference.divisionLengths.empty() ? 0 : data.reference.data.size();
        int64_t total = 0;
        for (int64_t n : data.reference.divisionLengths) total += n;
        EXPECT_EQ(static_cast<int64_t>(values), total) << what;
        for (const Signal& s : data.signals)
            EXPECT_EQ(s.data.size(), static_cast<std::size_t>(total) * (s.isComplex ? 2 : 1)) << what;
    } catch (const LoadError& e) {
        EXPECT_NE(std::string(e.what()).find(file.path()), std::string::npos) << what << ": " << e.what();
    }
}

}  // namespace

// ---------------------------------------------------------------- raw: transient

TEST(RawTransient, AsciiFileGivesTheVariablesOfTheRun) {
    const DataSet data = cv::load::loadSpiceRaw(dataPath("tran_ascii.raw"));
    EXPECT_EQ(data.title, "rc2: loader test circuit");
    EXPECT_EQ(data.reference.name, "time");
    EXPECT_EQ(data.reference.quantity, "time");
    EXPECT_FALSE(data.reference.isComplex);
    ASSERT_EQ(data.signals.size(), 4u);
    const char* names[] = {"v(in)", "v(mid)", "v(out)", "i(v1)"};
    const char* quantities[] = {"voltage", "voltage", "voltage", "current"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(data.signals[i].name, names[i]);
        EXPECT_EQ(data.signals[i].quantity, quantities[i]);
        EXPECT_EQ(data.signals[i].divisionLengths, std::vector<int64_t>{41});
        EXPECT_EQ(data.signals[i].data.size(), 41u);
    }
    EXPECT_EQ(data.reference.divisionLengths, std::vector<int64_t>{41});
    EXPECT_TRUE(data.divisionLabels.empty());
    EXPECT_TRUE(data.warnings.empty());
    // .options interp: the points sit on the 1 us grid.
    for (std::size_t i = 0; i < 41; ++i) EXPECT_NEAR(data.reference.data[i], i * 1e-6, 1e-15);
}

TEST(RawTransient, ValuesFollowThePulseThroughTheFilter) {
    const DataSet data = cv::load::loadFile(dataPath("tran_binary.raw"));
    const auto& in = signalNamed(data, "v(in)").data;
    const auto& mid = signalNamed(data, "v(mid)").data;
    const auto& out = signalNamed(data, "v(out)").data;
    const auto& supply = signalNamed(data, "i(v1)").data;
    EXPECT_EQ(in[indexAt(data, 5e-6)], 0.0);
    EXPECT_NEAR(in[indexAt(data, 20e-6)], 1.0, 1e-12);
    // While the input is high, each section lags the one before it, the output
    // rises, and the source delivers current (negative, flowing out of its + node).
    for (std::size_t i = indexAt(data, 12e-6); i < data.reference.data.size(); ++i) {
        EXPECT_LT(mid[i], in[i]);
        EXPECT_LT(out[i], mid[i]);
        EXPECT_GT(out[i], out[i - 1]);
        EXPECT_LT(supply[i], 0.0);
    }
}

TEST(RawTransient, AsciiAndBinaryOfOneRunGiveTheSameNumbers) {
    expectSameDataSet(cv::load::loadFile(dataPath("tran_ascii.raw")), cv::load::loadFile(dataPath("tran_binary.raw")));
}

TEST(RawTransient, BatchOutputWithPaddedPointCountLoads) {
    // `ngspice -b -r` pads "No. Points:" with blanks to patch it in place.
    const DataSet data = cv::load::loadFile(dataPath("batch.raw"));
    ASSERT_EQ(data.reference.divisionLengths.size(), 1u);
    EXPECT_GT(data.reference.divisionLengths[0], 5);
    EXPECT_EQ(data.signals[2].data.size(), static_cast<std::size_t>(data.reference.divisionLengths[0]));
    EXPECT_NEAR(data.reference.data.back(), 20e-6, 1e-15);
    EXPECT_EQ(data.signals.size(), 4u);
}

// ---------------------------------------------------------------- raw: AC (complex)

TEST(RawAc, SignalsAreComplexAndTheFrequencyIsReal) {
    const DataSet data = cv::load::loadFile(dataPath("ac_binary.raw"));
    EXPECT_EQ(data.reference.name, "frequency");
    EXPECT_EQ(data.reference.quantity, "frequency");
    EXPECT_FALSE(data.reference.isComplex);
    ASSERT_EQ(data.reference.data.size(), 16u);  // dec 5 from 1k to 1meg
    for (std::size_t i = 0; i < 16; ++i) EXPECT_NEAR(data.reference.data[i], 1e3 * std::pow(10.0, i / 5.0), 1e-9 * data.reference.data[i]);
    for (const Signal& s : data.signals) {
        EXPECT_TRUE(s.isComplex);
        EXPECT_EQ(s.data.size(), 32u);
        EXPECT_EQ(s.divisionLengths, std::vector<int64_t>{16});
    }
}

TEST(RawAc, ValuesMatchTheTransferFunctionOfTheCircuit) {
    const DataSet data = cv::load::loadFile(dataPath("ac_binary.raw"));
    const double r = 1e3, c = 10e-9, pi = std::acos(-1.0);
    for (std::size_t i = 0; i < data.reference.data.size(); ++i) {
        const std::complex<double> s(0.0, 2 * pi * data.reference.data[i]);
        const std::complex<double> zc = 1.0 / (s * c);
        const std::complex<double> zLoad = zc * (r + zc) / (zc + r + zc);  // C1 || (R2 + C2)
        const std::complex<double> vMid = zLoad / (r + zLoad);
        const std::complex<double> vOut = vMid * zc / (r + zc);
        const std::complex<double> supply = -1.0 / (r + zLoad);
        EXPECT_NEAR(std::abs(complexAt(signalNamed(data, "v(in)"), i) - 1.0), 0.0, 1e-12);
        EXPECT_NEAR(std::abs(complexAt(signalNamed(data, "v(mid)"), i) - vMid), 0.0, 1e-9);
        EXPECT_NEAR(std::abs(complexAt(signalNamed(data, "v(out)"), i) - vOut), 0.0, 1e-9);
        EXPECT_NEAR(std::abs(complexAt(signalNamed(data, "i(v1)"), i) - supply), 0.0, 1e-12);
    }
}

TEST(RawAc, AsciiAndBinaryOfOneRunGiveTheSameNumbers) {
    expectSameDataSet(cv::load::loadFile(dataPath("ac_ascii.raw")), cv::load::loadFile(dataPath("ac_binary.raw")));
}

// ---------------------------------------------------------------- raw: several plots

TEST(RawDivisions, SteppedRunBecomesOneDivisionPerPlot) {
    const DataSet data = cv::load::loadFile(dataPath("step.raw"));
    const std::vector<int64_t> lengths{21, 21, 21};
    EXPECT_EQ(data.reference.divisionLengths, lengths);
    EXPECT_EQ(data.reference.data.size(), 63u);
    for (const Signal& s : data.signals) {
        EXPECT_EQ(s.divisionLengths, lengths);
        EXPECT_EQ(s.data.size(), 63u);
    }
    // The plot titles "rc2 r2=500" ... label the runs and share the title.
    EXPECT_EQ(data.divisionLabels, (std::vector<std::string>{"r2=500", "r2=1k", "r2=2k"}));
    EXPECT_EQ(data.title, "rc2");
    EXPECT_TRUE(data.warnings.empty());
    for (std::size_t d = 0; d < 3; ++d) {
        EXPECT_EQ(data.reference.data[21 * d], 0.0);
        EXPECT_NEAR(data.reference.data[21 * d + 20], 20e-6, 1e-15);
    }
}

TEST(RawDivisions, EachDivisionHoldsItsOwnRun) {
    const DataSet data = cv::load::loadFile(dataPath("step.raw"));
    const auto& out = signalNamed(data, "v(out)").data;
    // A larger R2 makes a slower second section: less output at the end of each run.
    EXPECT_GT(out[20], out[41]);
    EXPECT_GT(out[41], out[62]);
}

TEST(RawDivisions, PlotsWithOtherVariablesAreSkippedWithAWarning) {
    const DataSet data = cv::load::loadFile(dataPath("mixed.raw"));  // tran, AC, tran
    EXPECT_EQ(data.reference.divisionLengths, (std::vector<int64_t>{6, 5}));
    // Same titles, same plot names: the runs are numbered.
    EXPECT_EQ(data.divisionLabels, (std::vector<std::string>{"1", "2"}));
    ASSERT_EQ(data.warnings.size(), 1u);
    EXPECT_NE(data.warnings[0].find("plot 2 ('AC Analysis')"), std::string::npos) << data.warnings[0];
    EXPECT_NEAR(data.reference.data[5], 10e-6, 1e-15);
    EXPECT_NEAR(data.reference.data[10], 8e-6, 1e-15);
}

TEST(RawDivisions, ExampleFilesLoad) {
    const DataSet step = cv::load::loadFile(examplePath("filter_step.raw"));
    EXPECT_EQ(step.divisionLabels, (std::vector<std::string>{"r2=500", "r2=1k", "r2=2k", "r2=4k", "r2=8k"}));
    int64_t total = 0;
    for (int64_t n : step.reference.divisionLengths) total += n;
    EXPECT_EQ(static_cast<std::size_t>(total), step.reference.data.size());
    EXPECT_GT(total, 5 * 500);

    const DataSet tran = cv::load::loadFile(examplePath("filter_tran.raw"));
    EXPECT_GT(tran.reference.data.size(), 500u);
    EXPECT_EQ(tran.signals.size(), 4u);
    const DataSet ac = cv::load::loadFile(examplePath("filter_ac.raw"));
    EXPECT_TRUE(ac.signals.at(0).isComplex);
}

TEST(RawDivisions, LabelsAreWhatTheTitlesDoNotShare) {
    std::string bytes;
    for (int run = 1; run <= 3; ++run)
        bytes += "Title: mc run " + std::to_string(run) + " of 3\nPlotname: Transient Analysis\nFlags: real\n"
                 "No. Variables: 2\nNo. Points: 1\nVariables:\t0\ttime\ttime\n\t1\tout\tvoltage\nValues:\n"
                 "0\t0\n\t" + std::to_string(run) + "\n";
    ScratchFile file(bytes);
    const DataSet data = cv::load::loadFile(file.path());
    EXPECT_EQ(data.divisionLabels, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(data.title, "mc run");
    EXPECT_EQ(data.signals.at(0).data, (std::vector<double>{1, 2, 3}));
}

// ---------------------------------------------------------------- raw: unusual but valid

TEST(RawUnusual, NoPointsGivesEmptyVectors) {
    const DataSet data = cv::load::loadFile(dataPath("ok_no_points.raw"));
    EXPECT_EQ(data.reference.divisionLengths, std::vector<int64_t>{0});
    EXPECT_TRUE(data.reference.data.empty());
    EXPECT_EQ(data.signals.size(), 4u);
}

TEST(RawUnusual, NanAndInfinityAreValues) {
    const DataSet data = cv::load::loadFile(dataPath("ok_nan_inf.raw"));
    EXPECT_TRUE(std::isnan(data.signals[0].data[1]));
    EXPECT_EQ(data.signals[1].data[1], HUGE_VAL);
    EXPECT_EQ(data.signals[2].data[1], -HUGE_VAL);
}

TEST(RawUnusual, CrlfLineEndsReadLikeLf) {
    expectSameDataSet(cv::load::loadFile(dataPath("ok_crlf.raw")), cv::load::loadFile(dataPath("tran_ascii.raw")));
}

TEST(RawUnusual, ComplexValuesMayBeSplitAfterTheComma) {
    ScratchFile file(
        "Title: t\nPlotname: AC Analysis\nFlags: complex\nNo. Variables: 2\nNo. Points: 1\nVariables:\n"
        "\t0\tfrequency\tfrequency grid=3\n\t1\tv(out)\tvoltage\nValues:\n0\t1e3,0\n\t0.5, -0.25\n");
    const DataSet data = cv::load::loadFile(file.path());
    EXPECT_EQ(data.reference.data, std::vector<double>{1e3});
    EXPECT_EQ(data.signals[0].data, (std::vector<double>{0.5, -0.25}));
}

// ---------------------------------------------------------------- malformed files

struct MalformedCase {
    const char* file;
    const char* message;  // what the LoadError must say, after "<path>: "
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.file; }

class MalformedFile : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedFile, EndsInALoadErrorNamingFileAndLine) {
    const std::string path = dataPath(GetParam().file);
    try {
        cv::load::loadFile(path);
        FAIL() << "no LoadError for " << GetParam().file;
    } catch (const LoadError& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind(path + ": ", 0), 0u) << what;
        EXPECT_NE(what.find(GetParam().message), std::string::npos) << what;
        EXPECT_EQ(e.file(), path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RawFiles, MalformedFile,
    ::testing::Values(
        MalformedCase{"bad_truncated_binary.raw", "truncated: plot 1 ('Transient Analysis') declares 41 points"},
        MalformedCase{"bad_truncated_ascii_point.raw", "truncated: point 6 of plot 1"},
        MalformedCase{"bad_truncated_ascii_number.raw", "truncated: the file ends inside a number"},
        MalformedCase{"bad_missing_value.raw", "line 32: point 3: expected 5 values, found 4"},
        MalformedCase{"bad_batch_interp.raw", "plot 1 ('Transient Analysis') holds more data than its 'No. Points: 5'"},
        MalformedCase{"bad_extra_point.raw", "line 254: plot 1 ('Transient Analysis') holds more data than"},
        MalformedCase{"bad_huge_points.raw", "truncated: plot 1 ('Transient Analysis') declares 4611686018427387904"},
        MalformedCase{"bad_huge_variables.raw", "line 13: plot 1 ('Transient Analysis') declares 2000000000 variables"},
        MalformedCase{"bad_number.raw", "line 40: '1.0x5' is not a number"},
        MalformedCase{"bad_point_index.raw", "line 32: expected point 3, found point 7"},
        MalformedCase{"bad_no_point_count.raw", "has no 'No. Points:' line"},
        MalformedCase{"bad_variable_index.raw", "line 10: expected variable 2, found index 5"},
        MalformedCase{"bad_complex_in_real.raw", "line 15: '1.5,2.5' is complex, but plot 1"}));

INSTANTIATE_TEST_SUITE_P(
    CsvFiles, MalformedFile,
    ::testing::Values(MalformedCase{"bad_fields.csv", "line 3: expected 3 fields, found 2"},
                      MalformedCase{"bad_number.csv", "line 3: '2.5q' in column 'a' is not a number"},
                      MalformedCase{"bad_complex.csv", "line 2: '1+2i' in column 'h' looks complex"},
                      MalformedCase{"bad_division_header.csv", "line 4: a header row that starts a new division"},
                      MalformedCase{"bad_quote.csv", "line 1: unterminated quote"},
                      MalformedCase{"bad_unnamed_column.csv", "line 1: column 2 has no name"},
                      MalformedCase{"bad_empty.csv", "no header row"}));

TEST(MalformedInput, MissingFileAndDirectoryAreLoadErrors) {
    EXPECT_THROW(cv::load::loadFile(dataPath("no_such_file.raw")), LoadError);
    EXPECT_THROW(cv::load::loadFile(CVFUNC_TEST_DATA), LoadError);
}

TEST(MalformedInput, HugeDeclaredCountsAreCheckedAgainstTheFile) {
    // No allocation may follow these counts: ASan would abort on the attempt.
    const std::string header = "Title: t\nPlotname: p\nFlags: real\nNo. Variables: 2\nVariables:\n\t0\ttime\ttime\n\t1\tx\tvoltage\n";
    for (const char* format : {"Values:\n0 1\n 2\n", "Binary:\n0123456789abcdef"}) {
        ScratchFile file("Title: t\nNo. Points: 9223372036854775807\n" + header.substr(9) + format);
        EXPECT_THROW(cv::load::loadFile(file.path()), LoadError) << format;
    }
    ScratchFile negative(header + "No. Points: -1\nValues:\n");
    EXPECT_THROW(cv::load::loadFile(negative.path()), LoadError);
    // A count given again after the list must not size the data.
    ScratchFile recount(header + "No. Points: 1\nNo. Variables: 4611686018427387904\nBinary:\n0123456789abcdef");
    EXPECT_THROW(cv::load::loadFile(recount.path()), LoadError);
}

TEST(MalformedInput, LtspiceUtf16FilesAreRefusedClearly) {
    std::string utf16;
    for (char c : std::string("Title: * x\nDate: now\n")) utf16 += std::string{c, '\0'};
    ScratchFile file(utf16);
    try {
        cv::load::loadFile(file.path());
        FAIL() << "UTF-16 accepted";
    } catch (const LoadError& e) {
        EXPECT_NE(std::string(e.what()).find("UTF-16"), std::string::npos) << e.what();
    }
}

TEST(MalformedInput, EveryTruncationOfARawFileEndsInDataOrLoadError) {
    for (const char* name : {"tran_binary.raw", "ac_binary.raw", "step.raw", "ac_ascii.raw", "mixed.raw"}) {
        const std::string bytes = readBytes(dataPath(name));
        const std::size_t stride = bytes.size() > 2000 ? 7 : 1;
        for (std::size_t n = 0; n < bytes.size(); n += stride)
            expectDataOrLoadError(bytes.substr(0, n), std::string(name) + " cut at " + std::to_string(n));
    }
}

TEST(MalformedInput, CorruptedBytesEndInDataOrLoadError) {
    std::mt19937 random(20240611);
    for (const char* name : {"tran_ascii.raw", "tran_binary.raw", "ac_ascii.raw", "step.raw", "divisions.csv",
                             "engineering_semicolon.csv"}) {
        const std::string original = readBytes(dataPath(name));
        for (int round = 0; round < 150; ++round) {
            std::string bytes = original;
            const int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits; ++e) {
                const std::size_t at = random() % bytes.size();
                // Mostly characters the parsers care about, sometimes any byte.
                static const char special[] = "\n\r\t ,;:\"-+.e0123456789#";
                bytes[at] = (random() % 3 == 0) ? static_cast<char>(random() % 256)
                                                : special[random() % (sizeof special - 1)];
            }
            expectDataOrLoadError(bytes, std::string(name) + " round " + std::to_string(round));
        }
    }
}

// ---------------------------------------------------------------- CSV

TEST(Csv, SimpleFileGivesReferenceAndSignals) {
    const DataSet data = cv::load::loadFile(dataPath("simple.csv"));
    EXPECT_EQ(data.title, "simple.csv");
    EXPECT_EQ(data.reference.name, "time");
    EXPECT_EQ(data.reference.quantity, "time");
    EXPECT_EQ(data.reference.data, (std::vector<double>{0, 1e-6, 2e-6, 3e-6, 4e-6}));
    ASSERT_EQ(data.signals.size(), 2u);
    EXPECT_EQ(data.signals[0].name, "v(in)");
    EXPECT_EQ(data.signals[1].name, "v(out)");
    EXPECT_EQ(data.signals[1].data, (std::vector<double>{0, 0.1, 0.3, 0.45, 0.5}));
    EXPECT_EQ(data.signals[1].quantity, "");
    EXPECT_FALSE(data.signals[1].isComplex);
    EXPECT_EQ(data.signals[1].divisionLengths, std::vector<int64_t>{5});
    EXPECT_TRUE(data.divisionLabels.empty());
}

TEST(Csv, SemicolonsQuotedNamesAndEngineeringSuffixes) {
    // Also: a UTF-8 byte order mark, CRLF line ends and a blank line between rows.
    const DataSet data = cv::load::loadCsv(dataPath("engineering_semicolon.csv"));
    EXPECT_EQ(data.reference.name, "Freq");
    EXPECT_EQ(data.reference.quantity, "frequency");
    ASSERT_EQ(data.signals.size(), 2u);
    EXPECT_EQ(data.signals[0].name, "V(OUT)");
    EXPECT_EQ(data.signals[1].name, "gain \"dB\"");
    EXPECT_EQ(data.reference.data, (std::vector<double>{1e3, 2.5e3, 1e6}));
    const std::vector<double> expected{1.5e-3, 2e-6, 3e-9};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(data.signals[0].data[i], expected[i]);
    EXPECT_EQ(data.signals[1].data, (std::vector<double>{-3, -6.5, 10}));
    EXPECT_EQ(data.reference.divisionLengths, std::vector<int64_t>{3});
}

TEST(Csv, TabDelimitedFile) {
    const DataSet data = cv::load::loadFile(dataPath("tabs.csv"));
    EXPECT_EQ(data.reference.quantity, "time");  // "TIME"
    ASSERT_EQ(data.signals.size(), 2u);
    EXPECT_EQ(data.signals[1].name, "i(v1)");
    EXPECT_EQ(data.signals[1].data, (std::vector<double>{-1, -2}));
}

TEST(Csv, RepeatedHeaderRowStartsADivision) {
    const DataSet data = cv::load::loadFile(dataPath("divisions.csv"));
    const std::vector<int64_t> lengths{3, 2, 4};
    EXPECT_EQ(data.reference.divisionLengths, lengths);
    EXPECT_EQ(data.signals[0].divisionLengths, lengths);
    EXPECT_EQ(data.divisionLabels, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(data.reference.data, (std::vector<double>{0, 1, 2, 0, 1, 0, 1, 2, 3}));
    EXPECT_EQ(data.signals[0].data, (std::vector<double>{0, 0.5, 0.7, 0, 0.6, 0, 0.65, 0.8, 0.9}));
}

TEST(Csv, UnusualButValidFiles) {
    const DataSet headerOnly = cv::load::loadFile(dataPath("ok_header_only.csv"));
    EXPECT_EQ(headerOnly.reference.divisionLengths, std::vector<int64_t>{0});
    EXPECT_EQ(headerOnly.signals.size(), 1u);

    const DataSet trailing = cv::load::loadFile(dataPath("ok_trailing_delimiter.csv"));
    ASSERT_EQ(trailing.signals.size(), 1u);
    EXPECT_EQ(trailing.signals[0].data, (std::vector<double>{2, 4}));

    const DataSet special = cv::load::loadFile(dataPath("ok_nan_inf.csv"));
    EXPECT_TRUE(std::isnan(special.signals[0].data[0]));
    EXPECT_EQ(special.signals[0].data[1], -HUGE_VAL);
    EXPECT_EQ(special.signals[0].data[2], HUGE_VAL);  // "1.#INF", as old Windows C libraries print it
}

TEST(Csv, DuplicateNamesAreWarned) {
    ScratchFile file("t,out,OUT\n0,1,2\n");
    const DataSet data = cv::load::loadFile(file.path());
    ASSERT_EQ(data.warnings.size(), 1u);
    EXPECT_NE(data.warnings[0].find("columns 2 and 3"), std::string::npos) << data.warnings[0];
}

// ---------------------------------------------------------------- dispatch

TEST(LoadFile, ChoosesTheParserByContentNotByName) {
    ScratchFile csvNamedRaw("time,x\n0,1\n", "data.raw");
    EXPECT_EQ(cv::load::loadFile(csvNamedRaw.path()).signals.at(0).name, "x");
    EXPECT_THROW(cv::load::loadSpiceRaw(csvNamedRaw.path()), LoadError);

    ScratchFile rawNamedCsv(readBytes(dataPath("tran_ascii.raw")), "data.csv");
    EXPECT_EQ(cv::load::loadFile(rawNamedCsv.path()).signals.size(), 4u);
}

// ---------------------------------------------------------------- script names

TEST(ScriptName, NodeVoltagesLoseTheirVAndBranchCurrentsGainBranch) {
    EXPECT_EQ(cv::load::scriptName("v(out)"), "out");
    EXPECT_EQ(cv::load::scriptName("V(OUT)"), "OUT");
    EXPECT_EQ(cv::load::scriptName("v(x1.n2)"), "x1.n2");
    EXPECT_EQ(cv::load::scriptName("i(v1)"), "v1#branch");
    EXPECT_EQ(cv::load::scriptName("I(Vdd)"), "Vdd#branch");
}

TEST(ScriptName, OtherNamesStayAsTheyAre) {
    for (const char* name : {"v1#branch", "v(a,b)", "time", "frequency", "out", "v()", "i()", "vdb(out)", "@r1[i]",
                             "v(out", "x(out)", "", "v", "gain \"dB\""})
        EXPECT_EQ(cv::load::scriptName(name), name);
}
