// Tests of the data loaders (Host/Core/Loaders): CSV and SPICE raw files read into
// DataSets. The raw files in tests/data come from ngspice runs of
// tests/data/rc2.cir (see tests/data/make-test-data.sh), so values can be
// checked against the circuit itself, and ASCII against binary output.
#include "FileSandbox.h"
#include "Loaders/Loaders.h"
#include "Parallel.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

using cv::load::DataSet;
using cv::load::LoadError;
using cv::load::Signal;

namespace {

using Lengths = std::vector<int64_t>;
using Names = std::vector<std::string>;

std::vector<double> vec(std::span<const double> values) { return {values.begin(), values.end()}; }

using cvtest::dataPath;
DataSet load(const std::string& name) { return cv::load::loadFile(dataPath(name)); }
std::string readBytes(const std::string& path) { return cvtest::FileSandbox::read(path); }

// A scratch file in a sandbox of its own, gone with it.
struct ScratchFile : cvtest::FileSandbox {
    explicit ScratchFile(const std::string& bytes, const std::string& name = "scratch") : path(write(name, bytes)) {}
    std::string path;
};

const Signal& signalNamed(const DataSet& data, const std::string& name) {
    for (const Signal& s : data.signals)
        if (s.name == name) return s;
    throw std::runtime_error("no signal " + name);
}

std::complex<double> at(const Signal& signal, std::size_t i) {
    return {signal.data()[2 * i], signal.data()[2 * i + 1]};
}

std::string utf16(const std::string& text) {
    std::string wide;
    for (char c : text) wide += std::string{c, '\0'};
    return wide;
}

// "name:quantity" of the reference and every signal ('*' when complex), then
// the division lengths they all share; checks that the data fits the lengths.
std::string layout(const DataSet& data) {
    std::vector<const Signal*> all{&data.reference};
    for (const Signal& x : data.signals) all.push_back(&x);
    int64_t total = 0;
    std::string s, lengths;
    for (int64_t n : data.reference.divisionLengths)
        total += n, lengths += (lengths.empty() ? "" : ",") + std::to_string(n);
    for (const Signal* x : all) {
        s += x->name + ":" + x->quantity + (x->isComplex ? "* " : " ");
        EXPECT_EQ(x->divisionLengths, data.reference.divisionLengths) << x->name;
        EXPECT_EQ(x->data().size(), std::size_t(total) * (x->isComplex ? 2 : 1)) << x->name;
    }
    return s + "[" + lengths + "]";
}
const char* kRc2 = "time:time v(in):voltage v(mid):voltage v(out):voltage i(v1):current ";

void expectSameDataSet(const DataSet& a, const DataSet& b) {
    ASSERT_EQ(layout(a), layout(b));
    for (std::size_t k = 0; k <= a.signals.size(); ++k) {
        const Signal &x = k ? a.signals[k - 1] : a.reference, &y = k ? b.signals[k - 1] : b.reference;
        // ngspice's ASCII output has 16 significant digits, one short of a round trip.
        for (std::size_t i = 0; i < x.data().size(); ++i)
            EXPECT_NEAR(x.data()[i], y.data()[i], 1e-15 * std::abs(y.data()[i]) + 1e-300) << x.name << " at " << i;
    }
}

// Loading `path` ends in one LoadError for that file whose message, after
// "<path>: ", holds `part`.
testing::AssertionResult refused(const std::string& path, const std::string& part) {
    try {
        cv::load::loadFile(path);
    } catch (const LoadError& e) {
        const std::string what = e.what();
        if (e.file() == path && what.rfind(path + ": ", 0) == 0 && what.find(part) != std::string::npos)
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << what;
    }
    return testing::AssertionFailure() << "no LoadError";
}
testing::AssertionResult refusedBytes(const std::string& bytes, const std::string& part,
                                      const std::string& name = "scratch") {
    return refused(ScratchFile(bytes, name).path, part);
}

// Loads a file that may be damaged: data that fits its lengths or one
// LoadError naming the file, nothing else.
void expectDataOrLoadError(const std::string& bytes, const std::string& what, const std::string& name = "scratch") {
    SCOPED_TRACE(what);
    ScratchFile file(bytes, name);
    try {
        layout(cv::load::loadFile(file.path));
    } catch (const LoadError& e) {
        EXPECT_EQ(e.file(), file.path) << e.what();
    }
}

}  // namespace

TEST(RawTransient, AsciiFileGivesTheVariablesOfTheRunAndBinaryTheSameNumbers) {
    const DataSet data = cv::load::loadSpiceRaw(dataPath("tran_ascii.raw"));
    EXPECT_EQ(data.title, "rc2: loader test circuit");
    EXPECT_EQ(layout(data), kRc2 + std::string("[41]"));
    EXPECT_TRUE(data.divisionLabels.empty() && data.warnings.empty());
    // .options interp: the points sit on the 1 us grid.
    for (std::size_t i = 0; i < 41; ++i) EXPECT_NEAR(data.reference.data()[i], i * 1e-6, 1e-15);
    expectSameDataSet(data, load("tran_binary.raw"));
    expectSameDataSet(load("ok_crlf.raw"), data);  // CRLF line ends read like LF
    // `ngspice -b -r` pads "No. Points:" with blanks to patch it in place.
    const DataSet batch = load("batch.raw");
    ASSERT_EQ(layout(batch), kRc2 + std::string("[71]"));
    EXPECT_NEAR(batch.reference.data().back(), 20e-6, 1e-15);
}

TEST(RawAc, ComplexSignalsOverARealFrequencyMatchTheCircuit) {
    const DataSet data = load("ac_binary.raw");  // dec 5 from 1k to 1meg
    ASSERT_EQ(layout(data), "frequency:frequency v(in):voltage* v(mid):voltage* v(out):voltage* i(v1):current* [16]");
    auto value = [&](const char* name, std::size_t i) { return at(signalNamed(data, name), i); };
    const double r = 1e3, c = 10e-9, pi = std::acos(-1.0);
    for (std::size_t i = 0; i < 16; ++i) {
        const double f = data.reference.data()[i];
        EXPECT_NEAR(f, 1e3 * std::pow(10.0, i / 5.0), 1e-9 * f);
        const std::complex<double> s(0.0, 2 * pi * f), zc = 1.0 / (s * c);
        const std::complex<double> zLoad = zc * (r + zc) / (zc + r + zc);  // C1 || (R2 + C2)
        const std::complex<double> vMid = zLoad / (r + zLoad);
        EXPECT_NEAR(std::abs(value("v(in)", i) - 1.0), 0.0, 1e-12);
        EXPECT_NEAR(std::abs(value("v(mid)", i) - vMid), 0.0, 1e-9);
        EXPECT_NEAR(std::abs(value("v(out)", i) - vMid * zc / (r + zc)), 0.0, 1e-9);
        EXPECT_NEAR(std::abs(value("i(v1)", i) + 1.0 / (r + zLoad)), 0.0, 1e-12);
    }
    expectSameDataSet(load("ac_ascii.raw"), data);
}

TEST(RawUnusual, EmptyRunsNanInfinityAndComplexValuesSplitAfterTheComma) {
    EXPECT_EQ(layout(load("ok_no_points.raw")), kRc2 + std::string("[0]"));
    const DataSet special = load("ok_nan_inf.raw");
    EXPECT_TRUE(std::isnan(special.signals[0].data()[1]));
    EXPECT_EQ(special.signals[1].data()[1], HUGE_VAL);
    EXPECT_EQ(special.signals[2].data()[1], -HUGE_VAL);
    ScratchFile split("Title: t\nPlotname: AC Analysis\nFlags: complex\nNo. Variables: 2\nNo. Points: 1\nVariables:\n"
                      "\t0\tfrequency\tfrequency grid=3\n\t1\tv(out)\tvoltage\nValues:\n0\t1e3,0\n\t0.5, -0.25\n");
    const DataSet data = cv::load::loadFile(split.path);
    EXPECT_EQ(vec(data.reference.data()), std::vector<double>{1e3});
    EXPECT_EQ(vec(data.signals[0].data()), (std::vector<double>{0.5, -0.25}));
}

TEST(RawDivisions, SteppedRunBecomesOneDivisionPerPlot) {
    const DataSet data = load("step.raw");
    EXPECT_EQ(layout(data), kRc2 + std::string("[21,21,21]"));
    // The plot titles "rc2 r2=500" ... label the runs and share the title.
    EXPECT_EQ(data.divisionLabels, (Names{"r2=500", "r2=1k", "r2=2k"}));
    EXPECT_EQ(data.title, "rc2");
    for (std::size_t d = 0; d < 3; ++d) EXPECT_NEAR(data.reference.data()[21 * d + 20], 20e-6, 1e-15) << d;
    // A larger R2 makes a slower second section: less output at the end of each run.
    const auto& out = signalNamed(data, "v(out)").data();
    EXPECT_GT(out[20], out[41]);
    EXPECT_GT(out[41], out[62]);
}

TEST(RawDivisions, PlotsWithOtherVariablesAreSkippedWithAWarning) {
    const DataSet data = load("mixed.raw");  // tran, AC, tran
    EXPECT_EQ(layout(data), kRc2 + std::string("[6,5]"));
    // Same titles, same plot names: the runs are numbered.
    EXPECT_EQ(data.divisionLabels, (Names{"1", "2"}));
    ASSERT_EQ(data.warnings.size(), 1u);
    EXPECT_NE(data.warnings[0].find("plot 2 ('AC Analysis')"), std::string::npos) << data.warnings[0];
    EXPECT_NEAR(data.reference.data()[5], 10e-6, 1e-15);
    EXPECT_NEAR(data.reference.data()[10], 8e-6, 1e-15);
}

TEST(MalformedInput, EndsInALoadErrorNamingFileAndLine) {
    const std::pair<const char*, const char*> cases[] = {  // file, what the error says after "<path>: "
        {"bad_truncated_binary.raw", "truncated: plot 1 ('Transient Analysis') declares 41 points"},
        {"bad_truncated_ascii_point.raw", "truncated: point 6 of plot 1"},
        {"bad_truncated_ascii_number.raw", "truncated: the file ends inside a number"},
        {"bad_missing_value.raw", "line 32: point 3: expected 5 values, found 4"},
        {"bad_batch_interp.raw", "plot 1 ('Transient Analysis') holds more data than its 'No. Points: 5'"},
        {"bad_extra_point.raw", "line 254: plot 1 ('Transient Analysis') holds more data than"},
        {"bad_huge_points.raw", "truncated: plot 1 ('Transient Analysis') declares 4611686018427387904"},
        {"bad_huge_variables.raw", "line 13: plot 1 ('Transient Analysis') declares 2000000000 variables"},
        {"bad_number.raw", "line 40: '1.0x5' is not a number"},
        {"bad_point_index.raw", "line 32: expected point 3, found point 7"},
        {"bad_no_point_count.raw", "has no 'No. Points:' line"},
        {"bad_variable_index.raw", "line 10: expected variable 2, found index 5"},
        {"bad_complex_in_real.raw", "line 15: '1.5,2.5' is complex, but plot 1"},
        {"bad_fields.csv", "line 3: expected 3 fields, found 2"},
        {"bad_number.csv", "line 3: '2.5q' in column 'a' is not a number"},
        {"bad_complex.csv", "line 2: '1+2i' in column 'h' looks complex"},
        {"bad_division_header.csv", "line 4: a header row that starts a new division"},
        {"bad_quote.csv", "line 1: unterminated quote"},
        {"bad_unnamed_column.csv", "line 1: column 2 has no name"},
        {"bad_empty.csv", "no header row"}};
    for (auto [file, message] : cases) EXPECT_TRUE(refused(dataPath(file), message));
}

TEST(MalformedInput, MissingFilesHugeCountsAndUtf16AreLoadErrors) {
    EXPECT_TRUE(refused(dataPath("touchstone/no_such_file.s2p"), "cannot open"));
    EXPECT_THROW(cv::load::loadFile(CVFUNC_TEST_DATA), LoadError);
    // No allocation may follow these counts: ASan would abort on the attempt.
    const std::string header =
        "Plotname: p\nFlags: real\nNo. Variables: 2\nVariables:\n\t0\ttime\ttime\n\t1\tx\tvoltage\n";
    for (const char* format : {"Values:\n0 1\n 2\n", "Binary:\n0123456789abcdef"}) {
        ScratchFile file("Title: t\nNo. Points: 9223372036854775807\n" + header + format);
        EXPECT_THROW(cv::load::loadFile(file.path), LoadError) << format;
    }
    ScratchFile negative("Title: t\n" + header + "No. Points: -1\nValues:\n");
    EXPECT_THROW(cv::load::loadFile(negative.path), LoadError);
    // A count given again after the list must not size the data.
    ScratchFile recount("Title: t\n" + header +
                        "No. Points: 1\nNo. Variables: 4611686018427387904\nBinary:\n0123456789abcdef");
    EXPECT_THROW(cv::load::loadFile(recount.path), LoadError);
    // Read as a raw file: its header stops short.
    EXPECT_TRUE(refusedBytes(utf16("Title: * x\nDate: now\n"), "line 3: plot 1: the header ends without"));
}

TEST(MalformedInput, EveryTruncationAndCorruptedBytesEndInDataOrLoadError) {
    for (const char* name : {"tran_binary.raw", "ac_binary.raw", "step.raw", "ac_ascii.raw", "mixed.raw"}) {
        const std::string bytes = readBytes(dataPath(name));
        for (std::size_t n = 0; n < bytes.size(); n += bytes.size() > 2000 ? 7 : 1)
            expectDataOrLoadError(bytes.substr(0, n), std::string(name) + " cut at " + std::to_string(n));
    }
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

TEST(Csv, CommasTabsSemicolonsQuotedNamesAndEngineeringSuffixes) {
    const DataSet data = load("simple.csv");
    EXPECT_EQ(data.title, "simple.csv");
    ASSERT_EQ(layout(data), "time:time v(in): v(out): [5]");
    EXPECT_EQ(vec(data.signals[1].data()), (std::vector<double>{0, 0.1, 0.3, 0.45, 0.5}));
    const DataSet tabs = load("tabs.csv");  // "TIME" is a time too
    EXPECT_EQ(layout(tabs), "TIME:time v(a): i(v1): [2]");
    EXPECT_EQ(vec(tabs.signals[1].data()), (std::vector<double>{-1, -2}));
    // Also: a UTF-8 byte order mark, CRLF line ends and a blank line between rows.
    const DataSet semi = cv::load::loadCsv(dataPath("engineering_semicolon.csv"));
    ASSERT_EQ(layout(semi), "Freq:frequency V(OUT): gain \"dB\": [3]");
    EXPECT_EQ(vec(semi.reference.data()), (std::vector<double>{1e3, 2.5e3, 1e6}));
    const std::vector<double> expected{1.5e-3, 2e-6, 3e-9};
    for (std::size_t i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(semi.signals[0].data()[i], expected[i]);
}

TEST(Csv, UnusualButValidFilesAndDuplicateNames) {
    EXPECT_EQ(layout(load("ok_header_only.csv")), "time:time a: [0]");
    const DataSet trailing = load("ok_trailing_delimiter.csv");
    ASSERT_EQ(trailing.signals.size(), 1u);
    EXPECT_EQ(vec(trailing.signals[0].data()), (std::vector<double>{2, 4}));
    const DataSet special = load("ok_nan_inf.csv");
    EXPECT_TRUE(std::isnan(special.signals[0].data()[0]));
    EXPECT_EQ(special.signals[0].data()[1], -HUGE_VAL);
    EXPECT_EQ(special.signals[0].data()[2], HUGE_VAL);  // "1.#INF", as old Windows C libraries print it

    ScratchFile file("t,out,OUT\n0,1,2\n");
    const DataSet data = cv::load::loadFile(file.path);
    ASSERT_EQ(data.warnings.size(), 1u);
    EXPECT_NE(data.warnings[0].find("columns 2 and 3"), std::string::npos) << data.warnings[0];
}

TEST(LoadFile, ChoosesTheParserByContentNotByName) {
    ScratchFile csvNamedRaw("time,x\n0,1\n", "data.raw");
    EXPECT_EQ(cv::load::loadFile(csvNamedRaw.path).signals.at(0).name, "x");
    EXPECT_THROW(cv::load::loadSpiceRaw(csvNamedRaw.path), LoadError);
    ScratchFile rawNamedCsv(readBytes(dataPath("tran_ascii.raw")), "data.csv");
    EXPECT_EQ(cv::load::loadFile(rawNamedCsv.path).signals.size(), 4u);
}

TEST(ScriptName, NodeVoltagesLoseTheirVAndBranchCurrentsGainBranch) {
    const std::pair<const char*, const char*> renamed[] = {
        {"v(out)", "out"}, {"V(OUT)", "OUT"}, {"v(x1.n2)", "x1.n2"}, {"i(v1)", "v1#branch"}, {"I(Vdd)", "Vdd#branch"}};
    for (auto [name, script] : renamed) EXPECT_EQ(cv::load::scriptName(name), script);
    for (const char* name : {"v1#branch", "v(a,b)", "time", "frequency", "out", "v()", "i()", "vdb(out)", "@r1[i]",
                             "v(out", "x(out)", "", "v", "gain \"dB\""})
        EXPECT_EQ(cv::load::scriptName(name), name);
}

namespace {

template <typename T>
void appendLittle(std::string& bytes, T value) {
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof raw);
    bytes.append(raw, sizeof raw);  // the tests run on little-endian machines
}

// A file as the other simulator writes it: a UTF-16LE header and binary
// data, the scale in double and the values in single precision unless the
// flags say "double". Points are rows {scale, values...}.
std::string compactRaw(const std::string& flags, const Names& variables, const std::vector<std::vector<double>>& rows,
                       bool utf16Header = true) {
    std::string header = "Title: * C:\\sim\\filter.asc\nDate: Sun Dec  6 10:00:00 2026\nPlotname: Transient Analysis\n"
                         "Flags: " + flags + "\nNo. Variables: " + std::to_string(variables.size()) +
                         "\nNo. Points: " + std::to_string(rows.size()) +
                         "\nOffset:   0.0000000000000000e+000\nCommand: Linear Technology Corporation LTspice\n"
                         "Variables:\n";
    for (std::size_t v = 0; v < variables.size(); ++v)
        header += "\t" + std::to_string(v) + "\t" + variables[v] + "\t" + (v == 0 ? "time" : "voltage") + "\n";
    const bool ascii = flags.find("ascii") != std::string::npos;
    header += ascii ? "Values:\n" : "Binary:\n";
    std::string data;
    if (ascii) {
        for (std::size_t p = 0; p < rows.size(); ++p)
            for (std::size_t v = 0; v < variables.size(); ++v)
                data += (v == 0 ? std::to_string(p) : std::string()) + "\t" + cv::formatReal(rows[p][v]) + "\n";
        return utf16(header + data);
    }
    const bool doubles = flags.find("double") != std::string::npos;
    auto put = [&](std::size_t p, std::size_t v) {
        if (v == 0 || doubles) appendLittle(data, rows[p][v]);
        else appendLittle(data, static_cast<float>(rows[p][v]));
    };
    if (flags.find("fastaccess") != std::string::npos) {
        for (std::size_t v = 0; v < variables.size(); ++v)
            for (std::size_t p = 0; p < rows.size(); ++p) put(p, v);
    } else {
        for (std::size_t p = 0; p < rows.size(); ++p)
            for (std::size_t v = 0; v < variables.size(); ++v) put(p, v);
    }
    return (utf16Header ? utf16(header) : header) + data;
}

// Three runs of four points; the transient scale of some points has its sign bit set.
std::vector<std::vector<double>> steppedRows() {
    std::vector<std::vector<double>> rows;
    for (int run = 0; run < 3; ++run)
        for (int p = 0; p < 4; ++p)
            rows.push_back({(p % 2 ? -1.0 : 1.0) * p * 1e-6, 0.25 * run + p, -0.5 * p});
    return rows;
}

// A binary ngspice raw file of `plots` runs of `points` points, two variables.
std::string ngspiceRuns(int plots, int points) {
    std::string bytes;
    for (int run = 0; run < plots; ++run) {
        bytes += "Title: mc run " + std::to_string(run + 1) + " of " + std::to_string(plots) +
                 "\nPlotname: Transient Analysis\nFlags: real\nNo. Variables: 2\nNo. Points: " + std::to_string(points) +
                 "\nVariables:\n\t0\ttime\ttime\n\t1\tv(out)\tvoltage\nBinary:\n";
        for (int p = 0; p < points; ++p) {
            appendLittle(bytes, p * 1e-9);
            appendLittle(bytes, run + p * 1e-3);
        }
    }
    return bytes;
}

struct ThreadsSetting {
    explicit ThreadsSetting(unsigned n) { cv::setThreadCount(n); }
    ~ThreadsSetting() { cv::setThreadCount(0); }
};

}  // namespace

TEST(CompactRaw, EveryLayoutGivesTheSameRunsFromAUtf16Header) {
    const Names variables{"time", "V(out)", "V(in)"};
    const auto rows = steppedRows();
    for (const char* flags : {"real forward stepped", "real forward stepped fastaccess", "real forward double stepped",
                              "real forward stepped ascii"}) {
        SCOPED_TRACE(flags);
        ScratchFile file(compactRaw(flags, variables, rows), "filter.raw");
        const DataSet data = cv::load::loadFile(file.path);
        EXPECT_EQ(layout(data), "time:time V(out):voltage V(in):voltage [4,4,4]");
        EXPECT_EQ(data.divisionLabels, (Names{"1", "2", "3"}));
        for (std::size_t p = 0; p < rows.size(); ++p) {
            EXPECT_EQ(data.reference.data()[p], std::fabs(rows[p][0]));  // the sign bit is no part of the time
            EXPECT_EQ(data.signals[0].data()[p], rows[p][1]);             // exact in single precision
            EXPECT_EQ(data.signals[1].data()[p], rows[p][2]);
        }
    }
    // An 8-bit header that names its writer reads the same single-precision layout.
    ScratchFile narrow(compactRaw("real forward", variables, rows, false));
    EXPECT_EQ(layout(cv::load::loadFile(narrow.path)), "time:time V(out):voltage V(in):voltage [12]");
}

TEST(CompactRaw, StepLabelsComeFromTheLogBesideTheFile) {
    cvtest::FileSandbox box;
    const std::string raw = box.write("steps/filter.raw", compactRaw("real forward stepped", {"time", "V(out)", "V(in)"},
                                                                     steppedRows()));
    box.write("steps/filter.log", utf16(".step r=1k\n.step r=2k\n.step r=4k\nStep Information: R=1K  (Run: 1/3)\n\n"
                                        "Step Information: R=2K  (Run: 2/3)\nStep Information: R=4K  (Run: 3/3)\n"));
    EXPECT_EQ(cv::load::loadFile(raw).divisionLabels, (Names{"R=1K", "R=2K", "R=4K"}));
    // A log that does not match the runs gives numbers, as no log does.
    box.write("steps/filter.log", "Step Information: R=1K  (Run: 1/2)\n");
    EXPECT_EQ(cv::load::loadFile(raw).divisionLabels, (Names{"1", "2", "3"}));
}

TEST(CompactRaw, DamagedFilesAreRefusedSayingWhatWasFound) {
    const std::string whole = compactRaw("real forward", {"time", "V(out)"}, steppedRows());
    EXPECT_TRUE(refusedBytes(whole.substr(0, whole.size() - 3),
                             "truncated: plot 1 ('Transient Analysis') declares 12 points, the file holds 11"));
    std::string bigEndian = "\xFE\xFF";
    for (char c : std::string("Title: x\n")) bigEndian += std::string{'\0', c};
    EXPECT_TRUE(refusedBytes(bigEndian, "big-endian UTF-16"));
    const std::string ascii = compactRaw("real forward ascii", {"time", "V(out)"}, steppedRows());
    const std::size_t pos = ascii.find(utf16("\t0.5\n"));
    ASSERT_NE(pos, std::string::npos);
    EXPECT_TRUE(refusedBytes(ascii.substr(0, pos) + utf16("\tabc\n") + ascii.substr(pos + 10), "'abc' is not a number"));
    for (std::size_t n = 0; n < whole.size(); n += 5) expectDataOrLoadError(whole.substr(0, n), "cut");
}

TEST(TextTables, BlankSeparatedColumnsWithOrWithoutHeaderAndXYPairs) {
    struct Case {
        const char* text;
        const char* layout;
        std::vector<double> lastSignal;
    } cases[] = {
        // `wrdata out.txt v(a) v(b)`: x y pairs with equal x columns.
        {" 0.000000e+00  1.000000e+00  0.000000e+00 -2.000000e+00\n"
         " 1.000000e-06  1.500000e+00  1.000000e-06 -2.500000e+00\n",
         "x: y1: y2: [2]", {-2, -2.5}},
        {" 0 1\n 1e-6 2\n 2e-6 3\n", "x: y: [3]", {1, 2, 3}},
        // Four numbers a row whose even columns differ: a plain table.
        {"0 1 2 3\n1 1 3 3\n", "x: y1: y2: y3: [2]", {3, 3}},
        {"time v(a) time v(b)\n0 1 0 2\n1 3 1 4\n", "time:time v(a): v(b): [2]", {2, 4}},
        {"time   \"v out\"  v(in)\n0 1 2\n1 3 4\n", "time:time v out: v(in): [2]", {2, 4}},
        {"freq gain\n1k 2\n2meg 3\n\nfreq gain\n1k 4\n", "freq:frequency gain: [2,1]", {2, 3, 4}},
        {"0,1\n2,3\n", "x: y: [2]", {1, 3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ScratchFile file(c.text, "out.txt");
        const DataSet data = cv::load::loadFile(file.path);
        EXPECT_EQ(layout(data), c.layout);
        EXPECT_EQ(vec(data.signals.back().data()), c.lastSignal);
    }
    const std::pair<const char*, const char*> refusals[] = {
        {"0 1\n1 2\n2 abc\n", "line 3: expected 2 numbers, found 'abc'"},
        {"0 1\n1\n", "line 2: expected 2 numbers, found 1"},
        {"time v(a) time v(b)\n0 1 0 2\n1 3 2 4\n", "line 3: column 3 ('time') holds other x-values than column 1"},
        {"t  v\n0 1 \"x\n", "line 2: unterminated quote"}};
    for (auto [text, message] : refusals) EXPECT_TRUE(refusedBytes(text, message));
}

TEST(LoadScale, TwoHundredRunsGiveTwoHundredDivisionsOfTheirOwnValues) {
    ScratchFile file(ngspiceRuns(200, 50));
    const DataSet data = cv::load::loadFile(file.path);
    ASSERT_EQ(data.reference.divisionLengths, Lengths(200, 50));
    ASSERT_EQ(data.divisionLabels.size(), 200u);
    // The labels are what the titles "mc run 1 of 200" ... do not share.
    EXPECT_EQ(data.divisionLabels[0] + " " + data.divisionLabels[199] + " " + data.title, "1 200 mc run");
    const auto out = data.signals.at(0).data();
    for (int run = 0; run < 200; ++run) EXPECT_EQ(out[run * 50 + 49], run + 49e-3) << run;
    EXPECT_EQ(data.signals[0].values->numDivisions(), 200);
}

TEST(LoadScale, OneAndTwoThreadsGiveTheSameValuesAndTheSameMessages) {
    // Plots large enough to be cut into pieces, ASCII plots read one per core.
    std::string ascii;
    for (int run = 0; run < 6; ++run) {
        ascii += "Title: r" + std::to_string(run) + "\nPlotname: p\nFlags: complex\nNo. Variables: 2\nNo. Points: 300\n"
                 "Variables:\n\t0\tfrequency\tfrequency\n\t1\tv(out)\tvoltage\nValues:\n";
        for (int p = 0; p < 300; ++p)
            ascii += std::to_string(p) + "\t" + std::to_string(p + 1) + ",0\n\t" + std::to_string(run * 0.5 + p) +
                     "," + std::to_string(-p) + "\n";
    }
    const std::string binary = ngspiceRuns(3, 100000);
    // Over a megabyte of text is read in pieces; blank lines and repeated
    // headers make the pieces fall short of their bound.
    std::string table = "time,out\n";
    for (int run = 0; run < 3; ++run) {
        if (run > 0) table += "\ntime,out\n";
        for (int p = 0; p < 40000; ++p) table += std::to_string(p) + "," + std::to_string(run * 1e5 + p) + "\n";
    }
    std::string brokenAscii = ascii;
    brokenAscii.replace(brokenAscii.rfind("\t2.500000,"), 4, "\tx.5");
    brokenAscii.replace(brokenAscii.find("\t1.000000,"), 4, "\ty.0");
    for (const std::string* bytes : std::initializer_list<const std::string*>{&ascii, &binary, &table}) {
        ScratchFile file(*bytes);
        const auto loadOn = [&](unsigned threads) {
            ThreadsSetting setting(threads);
            return cv::load::loadFile(file.path);
        };
        const DataSet one = loadOn(1), two = loadOn(2);
        ASSERT_EQ(layout(one), layout(two));
        EXPECT_EQ(vec(one.reference.data()), vec(two.reference.data()));
        EXPECT_EQ(vec(one.signals[0].data()), vec(two.signals[0].data()));
        if (bytes == &table) {
            EXPECT_EQ(one.reference.divisionLengths, Lengths(3, 40000));
            EXPECT_EQ(two.signals[0].data()[80000 + 39999], 2e5 + 39999);
        }
    }
    ThreadsSetting threads(2);  // the first error in the file, not the first one found
    EXPECT_TRUE(refusedBytes(brokenAscii, "'y.0"));
}

TEST(LoadScale, TheSessionBindsTheLoadedBuffersWithoutACopy) {
    ScratchFile file(ngspiceRuns(2, 1000));
    const DataSet data = cv::load::loadFile(file.path);
    cv::Session session;
    session.bindDataSet(data);
    session.bindDataSet(data, "again");
    const cv::ValuePtr out = session.lookup("out"), again = session.lookup("again.out");
    ASSERT_TRUE(out && again);
    EXPECT_EQ(out->rawData(), data.signals[0].values->rawData());
    EXPECT_EQ(again->rawData(), out->rawData());
    EXPECT_EQ(out->name(), "out");  // each binding keeps its own name
    EXPECT_EQ(again->name(), "again.out");
    EXPECT_EQ(out->divisionLengths(), Lengths(2, 1000));
}

namespace {

std::string metadataOf(const DataSet& data) {
    std::string text;
    for (const auto& [key, value] : data.metadata) text += key + "=" + value + ";";
    return text;
}

// A version 1 file of `ports` ports and one point at 1 GHz whose parameter
// in row r, column c (from 0) is r * 100 + c + 1j * (r + c); written in the
// format's own order: 11, 21, 12, 22 for two ports, row by row otherwise.
std::string numberedNetwork(int ports) {
    std::string text = "# GHz S RI R 50\n1";
    auto pair = [&](int r, int c) { text += " " + std::to_string(r * 100 + c) + " " + std::to_string(r + c); };
    for (int r = 0; r < ports; ++r) {
        for (int c = 0; c < ports; ++c) ports == 2 ? pair(c, r) : pair(r, c);
        text += "\n";
    }
    return text;
}

}  // namespace

TEST(Touchstone, ParametersBecomeComplexSignalsOverFrequencyInHertz) {
    ScratchFile file("! a two-port\n# MHz S RI R 50\n" + numberedNetwork(2).substr(16) + "2" +
                         numberedNetwork(2).substr(17),
                     "amp.S2P");
    const DataSet data = cv::load::loadFile(file.path);
    ASSERT_EQ(layout(data), "frequency:frequency S11:* S12:* S21:* S22:* [2]");
    EXPECT_EQ(vec(data.reference.data()), (std::vector<double>{1e6, 2e6}));  // MHz in the file
    // The file writes 11, 21, 12, 22: each lands in its own row and column.
    EXPECT_EQ(at(signalNamed(data, "S21"), 1), std::complex<double>(100, 1));
    EXPECT_EQ(at(signalNamed(data, "S12"), 0), std::complex<double>(1, 1));
    EXPECT_EQ(at(signalNamed(data, "S22"), 0), std::complex<double>(101, 2));
    EXPECT_EQ(data.title, "amp.S2P");
    EXPECT_EQ(metadataOf(data), "version=1;ports=2;parameter=S;format=RI;frequency_unit=MHz;z0=50;");

    // A version 2 file keeps one z0 per port.
    const DataSet v2 = load("touchstone/ex_5.ts");
    EXPECT_EQ(metadataOf(v2), "version=2.0;ports=4;parameter=S;format=MA;frequency_unit=GHz;z0=50 75 0.01 0.01;");
    EXPECT_NEAR(std::abs(at(signalNamed(v2, "S23"), 0) - std::polar(0.53, -79.34 * M_PI / 180)), 0, 1e-15);
}

TEST(Touchstone, OtherParameterKindsKeepTheirNamesAndUnits) {
    const DataSet z = load("touchstone/ex_9.s1p");
    EXPECT_EQ(layout(z), "frequency:frequency Z11:resistance* [5]");
    EXPECT_EQ(metadataOf(z), "version=1;ports=1;parameter=Z;format=MA;frequency_unit=MHz;z0=75;");
    // Version 1 writes Z divided by R: 0.99 at -4 degrees is 74.25 ohms.
    EXPECT_NEAR(std::abs(at(z.signals[0], 0)), 0.99 * 75, 1e-12);
    EXPECT_EQ(layout(load("touchstone/ex_11.s2p")),
              "frequency:frequency H11:resistance* H12:* H21:* H22:conductance* [1]");
    ScratchFile g("# GHz G RI R 50\n1 1 0 2 0 3 0 4 0\n", "g.s2p");
    EXPECT_EQ(layout(cv::load::loadFile(g.path)),
              "frequency:frequency G11:conductance* G12:* G21:* G22:resistance* [1]");
    ScratchFile y("[Version] 2.0\n# GHz Y RI R 50\n[Number of Ports] 1\n[Number of Frequencies] 1\n"
                  "[Network Data]\n1 0.02 0\n[End]\n",
                  "y.ts");
    EXPECT_EQ(layout(cv::load::loadFile(y.path)), "frequency:frequency Y11:conductance* [1]");
}

TEST(Touchstone, TenPortsOrMoreSeparateRowAndColumnInTheirNames) {
    ScratchFile file(numberedNetwork(11), "big.s11p"), nine(numberedNetwork(9), "nine.s9p");
    const DataSet data = cv::load::loadFile(file.path);
    // S1_11 and S11_1 would both be "S111" without the underscore.
    EXPECT_EQ(at(signalNamed(data, "S1_11"), 0), std::complex<double>(10, 10));
    EXPECT_EQ(at(signalNamed(data, "S11_1"), 0), std::complex<double>(1000, 10));
    EXPECT_EQ(cv::load::loadFile(nine.path).signals.back().name, "S99");
}

TEST(Touchstone, FilesAreKnownByNameOrByTheirVersionLineAndNoiseIsLeftWithAWarning) {
    const std::string v2 = "! made by hand\n[Version] 2.1\n# GHz S RI\n[Number of Ports] 1\n"
                           "[Number of Frequencies] 1\n[Network Data]\n1 0.5 0\n";
    for (const char* name : {"net.TS", "net.txt", "net", "net.csv"}) {
        ScratchFile file(v2, name);
        const DataSet data = cv::load::loadFile(file.path);
        EXPECT_EQ(layout(data), "frequency:frequency S11:* [1]") << name;
        EXPECT_EQ(data.metadata.at(0).second, "2.1") << name;
    }
    // A version 1 file has no mark of its own: named otherwise, it is a table.
    ScratchFile table("# GHz S RI\n1 0.5 0\n", "net.dat");
    EXPECT_THROW(cv::load::loadFile(table.path), LoadError);
    EXPECT_TRUE(cv::load::loadFile(dataPath("simple.csv")).metadata.empty());

    const DataSet noisy = load("touchstone/thru.s2p");
    EXPECT_EQ(noisy.reference.divisionLengths, Lengths{4});
    ASSERT_EQ(noisy.warnings.size(), 1u);
    EXPECT_EQ(noisy.warnings[0],
              dataPath("touchstone/thru.s2p") + ": noise parameters at 4 frequencies are not loaded");
}

TEST(Touchstone, MalformedFilesAreRefusedWithTheLineAndWhatWasFound) {
    const std::string good = "# GHz S RI R 50\n1 1 2 3 4 5 6 7 8\n", v2 = "[Version] 2.0\n# GHz S RI\n";
    const std::tuple<std::string, const char*, const char*> cases[] = {  // bytes, name, what follows "<path>: "
        {good + "2 1 2 3 4 5 6 7\n", "cut.s2p",
         "at the end of the file: the frequency point that began on line 3 has 8 of its 9"},
        {"# GHz S XX R 50\n1 1 2\n", "option.s1p", "line 1: unknown option 'XX'"},
        {"# GHz S RI\n1 nan 2\n", "nan.s1p", "line 2: 'nan' is not a finite number"},
        {"", "empty.s2p", "at the end of the file: the file holds no network data"},
        {good, "zero.s0p", "the name ends in '.s0p', but a Touchstone file has 1 to 46340 ports"},
        {good, "many.s46341p", "the name ends in '.s46341p'"},
        {good, "overflow.s99999999999999999999999p", "the name ends in '.s99999999999999999999999p'"},
        // A count the file is far too small for: nothing of that size is made.
        {good, "big.s46340p", "line 2: the file ends before the frequency point is complete (4294791201 numbers"},
        {v2 + "[Number of Ports] 46341\n", "many.ts", "line 3: [Number of Ports] is 46341, more than"},
        {v2 + "[Network Data]\n1 2 3\n", "noports.ts", "line 3: [Network Data] without [Number of Ports]"},
        {good, "v1.ts", "line 1: a .ts file starts with '[Version] 2.0' (or 2.1), found '# GHz S RI R 50'"},
        {"", "empty.ts", "a .ts file starts with '[Version] 2.0' (or 2.1), found an empty file"},
    };
    for (const auto& [bytes, name, message] : cases) EXPECT_TRUE(refusedBytes(bytes, message, name)) << name;

    // Every cut and a thousand damaged copies of a version 2 file: data or a LoadError.
    const std::string original = readBytes(dataPath("touchstone/ex_17.ts"));
    std::mt19937 random(7);
    for (std::size_t n = 0; n < original.size() + 1000; ++n) {
        std::string bytes = original.substr(0, std::min(n, original.size()));
        if (n >= original.size()) bytes[random() % bytes.size()] = "\n !#[]-.e0123456789"[random() % 19];
        expectDataOrLoadError(bytes, "ex_17.ts edit " + std::to_string(n), "cut.ts");
    }
}

TEST(Touchstone, AMillionFrequenciesLoadInOnePass) {
    std::string text = "# Hz S RI R 50\n";
    constexpr int points = 1000000;
    text.reserve(points * 20);
    for (int i = 1; i <= points; ++i) text += std::to_string(i) + " " + std::to_string(i % 7) + " -0.5\n";
    ScratchFile file(text, "sweep.s1p");
    const DataSet data = cv::load::loadFile(file.path);
    ASSERT_EQ(data.reference.divisionLengths, Lengths{points});
    EXPECT_EQ(data.reference.data()[points - 1], points);
    EXPECT_EQ(at(data.signals.at(0), 12345), std::complex<double>(12346 % 7, -0.5));
}
