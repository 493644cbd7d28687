// Touchstone files: corners of the format read by the reader, its messages
// for broken files, the table of loaded files behind the script functions,
// and hostile files. Real files from other tools are compared with
// scikit-rf in tests/python/test_touchstone_peers.py.
#include <charconv>
#include <cmath>
#include <complex>
#include <limits>
#include <random>

#include "FileSandbox.h"
#include "Touchstone.h"
#include "Value.h"

namespace {

using cplx = std::complex<double>;
using namespace cvtest;  // the call helpers and FileSandbox

struct Read {
    bool ok = false;
    std::string error;
    std::vector<double> f;
    std::vector<std::vector<cplx>> v;
};

Read readTable(const std::string& path, int ports) {
    AcTableData t(path.c_str(), ports);
    YList<YString> errors;
    Read r;
    r.ok = t.build(&errors);
    EXPECT_EQ(errors.size(), r.ok ? 0u : 1u);
    if (!errors.empty()) r.error = errors.first().c_str();
    for (int64_t i = 0; i < t.numPoints(); ++i) {
        const AcTableFrequencyPoint p = t.get(i);
        r.f.push_back(p.frequency);
        r.v.emplace_back(p.values, p.values + p.count);
    }
    return r;
}

Read readText(const FileSandbox& box, const std::string& name, const std::string& text, int ports) {
    return readTable(box.write(name, text), ports);
}

void expectValues(const std::vector<cplx>& got, const std::vector<cplx>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t k = 0; k < got.size(); ++k) EXPECT_LT(std::abs(got[k] - want[k]), 1e-12 * (1 + std::abs(want[k]))) << what << " k=" << k;
}

const cplx j(0, 1);

// ---------------------------------------------------------------- format corners

TEST(TouchstoneFormat, OptionsOrdersAndLayoutsTable) {
    FileSandbox box;
    const std::vector<cplx> counted{1, 2, 3, 4};  // 11, 12, 21, 22 in index order
    struct Case {
        const char *name, *text;
        int ports;
        double f;
        std::vector<cplx> want;
    } cases[] = {
        // Units, formats, the version 1 orders, normalised and unscaled Z, wrapped
        // rows, lower half matrices and noise data kept apart from the network
        // data: real files against scikit-rf in the peers.
        {"b.s2p", "! c\n# hz s ri r 50\n  10 1 0 3 0 ! mid-line\n 2 0 4 0\n", 2, 10, counted},
        // Version 1 Y is normalised to R and comes out in siemens.
        {"f.s1p", "# Hz Y RI R 25\n1 50 0\n", 1, 1, {2.0}},
        // A byte-order mark, CRLF, tabs, a '+' sign, an exponent too small for a double.
        {"h.s1p", "\xEF\xBB\xBF# GHz\tS\tRI\r\n1\t+2\t1e-400\r\n", 1, 1e9, {2.0}},
        // Version 2: the 12_21 order, upper half matrices, an information block.
        {"k.ts", "[Version] 2.1\n# Hz S RI\n[Number of Ports] 2\n[Two-Port Data Order] 12_21\n[Number of Frequencies] 1\n[Network Data]\n1 1 0 2 0 3 0 4 0\n", 2, 1, counted},
        {"n.ts", "[Version] 2.0\n# Hz S RI\n[Number of Ports] 3\n[Matrix Format] Upper\n[Number of Frequencies] 1\n[Reference] 50\n 50 ! more\n 75\n[Network Data]\n1 1 0 2 0 3 0\n4 0 5 0\n6 0\n", 3, 1, {1, 2, 3, 2, 4, 5, 3, 5, 6}},
        {"o.ts", "[Version] 2.0\n#\n[Begin Information]\nanything [at all]\n[End Information]\n[Number of Ports] 1\n[Number of Frequencies] 1\n[Network Data]\n1 2 90\n", 1, 1e9, {2.0 * j}},
    };
    for (const Case& c : cases) {
        const Read r = readText(box, c.name, c.text, c.ports);
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        ASSERT_EQ(r.f.size(), 1u) << c.name;
        EXPECT_EQ(r.f[0], c.f) << c.name;
        expectValues(r.v[0], c.want, c.name);
    }
}

// Numbers are read to the same double as std::from_chars gives, whatever
// path the reader takes for them.
TEST(TouchstoneFormat, NumbersReadExactly) {
    FileSandbox box;
    std::mt19937_64 rng(7);
    std::vector<std::string> texts;
    std::string file = "# Hz S RI\n";
    for (int i = 0; i < 4000; ++i) {
        std::string t = rng() % 2 ? "-" : "";
        const int before = int(rng() % 18), after = before ? int(rng() % 20) : 1 + int(rng() % 19);
        // Runs of zeros, which are significant only after another digit.
        auto digit = [&] { return char(rng() % 3 ? '0' + rng() % 10 : '0'); };
        for (int k = 0; k < before; ++k) t += digit();
        if (after) t += '.';
        for (int k = 0; k < after; ++k) t += digit();
        if (rng() % 2) t += (rng() % 2 ? "e-" : "E+") + std::string(rng() % 3, '0') + std::to_string(rng() % 40);
        texts.push_back(t);
        file += std::to_string(i + 1) + " " + t + " 0\n";
    }
    const Read r = readText(box, "n.s1p", file, 1);
    ASSERT_TRUE(r.ok) << r.error;
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        double want = 0;
        std::from_chars(t.data(), t.data() + t.size(), want);
        EXPECT_EQ(r.v[i][0].real(), want) << t;
    }
}

// ---------------------------------------------------------------- errors and messages

TEST(TouchstoneErrors, MessagesNameTheFileTheLineAndTheFault) {
    FileSandbox box;
    const std::string v2 = "[Version] 2.0\n# Hz S RI\n[Number of Ports] 1\n[Number of Frequencies] 2\n[Network Data]\n";
    struct Case {
        std::string name, text;
        int ports;
        const char* want;
    } cases[] = {
        {"a.s1p", "# Hz S RI\n2 1 0\n1 1 0\n", 1, "line 3: frequencies must increase: 1 Hz follows 2 Hz"},
        {"b.s3p", "# Hz S RI\n1 1 0 2 0 3 0\n4 0 5 0 6 0\n7 0 8 0 9 0\n2 1 0 2 0 3 0\n4 0 5 0 6\n7 0 8 0 9 0\n3 1 0 2 0 3 0\n", 3, "line 8: too many numbers: the frequency point that began on line 5"},
        {"c.s2p", "# Hz S RI\n1 1 0 2 0 3 0\n", 2, "at its end: the frequency point that began on line 2 has 7 of its 9 numbers"},
        {"d.s1p", "# Hz S RI\n1 1,5 0\n", 1, "line 2: '1,5' is not a number"},
        {"e.s1p", "# Hz S RI\n1 nan 0\n", 1, "line 2: 'nan' is not a finite number"},
        {"f.s1p", "# Hz S RI\n1 1e999 0\n", 1, "line 2: '1e999' is beyond the range of numbers"},
        {"g.s1p", "# GHz S RI Q\n1 1 0\n", 1, "line 1: unknown option 'Q'"},
        {"i.s2p", "# Hz S RI\n1 1 0\n", 1, "line 2: the file name says 2 ports, but 1 were asked for"},
        {"j.s3p", "# Hz H RI\n1 1 0 2 0 3 0\n4 0 5 0 6 0\n7 0 8 0 9 0\n", 3, "H-parameters describe 2-ports only"},
        {"k.s1p", "! nothing\n", 1, "at its end: the file holds no network data"},
        {"l.ts", "[Version] 2.0\n#\n[Number of Ports] 2\n", 4, "line 3: the file has 2 ports, but 4 were asked for"},
        {"n.ts", "[Version] 2.0\n#\n[Number of Ports] 2\n[Mixed-Mode Order] D1,2\n", 2, "line 4: mixed-mode data ([Mixed-Mode Order]) is not supported"},
        {"o.ts", "[Version] 2.0\n#\n[Number of Ports] 1\n[Frobnicate] 1\n", 1, "line 4: unknown keyword '[Frobnicate]'"},
        {"p.ts", "[Version] 3.0\n", 1, "line 1: [Version] '3.0' is not a version this reader knows"},
        {"q.ts", "[Version] 2.0\n#\n[Number of Ports] 2\n[Reference] 50\n[Network Data]\n", 2, "line 4: [Reference] needs one impedance for each of the 2 ports, it has 1"},
        {"u.s1p", "1 1 0\n# Hz S RI\n2 1 0\n", 1, "line 2: the option line must come before the data"},
        {"t.s1p", "[Number of Ports] 1\n", 1, "line 1: keyword '[Number of Ports]' in a file that does not start with [Version]"},
        // Declared counts are checked against the data.
        {"u.ts", v2 + "1 1 0\n[End]\n", 1, "line 7: [Number of Frequencies] is 2, but the data has 1 points"},
        {"v.ts", v2 + "1 1 0\n2 1 0\n3 1 0\n", 1, "line 8: more frequency points than the 2"},
        // Hostile files: huge counts, and lines of megabytes quoted cut short.
        {"ha.ts", "[Version] 2.0\n#\n[Number of Ports] 1000000\n", 1000000, "the port count 1000000 is not between"},
        {"hb.ts", "[Version] 2.0\n#\n[Number of Ports] 40000\n[Number of Frequencies] 1\n[Network Data]\n1 0 0\n", 40000, "the file ends before the frequency point is complete"},
        {"hc.ts", "[Version] 2.0\n#\n[Number of Ports] 1\n[Number of Frequencies] 999999999999999\n[Network Data]\n1 0 0\n", 1, "is 999999999999999, but the data has 1 points"},
        {"hd.s1p", "# Hz S RI\n1 " + std::string(4 << 20, '7') + "\n", 1, "line 2: '7777777777777777777777777777777777777777...' is beyond the range of numbers"},
        {"he.s1p", "# Hz S RI\n1 0 0" + std::string(4 << 20, ' ') + "5\n", 1, "line 2: too many numbers"},
    };
    for (const Case& c : cases) {
        const Read r = readText(box, c.name, c.text, c.ports);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_TRUE(r.f.empty()) << c.name;
        EXPECT_NE(r.error.find(c.want), std::string::npos) << c.name << ": " << r.error.substr(0, 300);
        EXPECT_EQ(r.error.rfind(box.path(c.name), 0), 0u) << r.error.substr(0, 300);
        EXPECT_LT(r.error.size(), 400u) << c.name;
    }
    EXPECT_NE(readTable(box.path("missing.s1p"), 1).error.find("the file does not exist"), std::string::npos);
    EXPECT_NE(readText(box, "w.s1p", "1 1 0\n", 0).error.find("the port count 0 is not between 1 and 46340"), std::string::npos);
}

// ---------------------------------------------------------------- the table of loaded files

std::vector<int> load(const std::string& path, double ports) {
    auto o = call("LoadTouchstone", {cv::Value::string(path), cv::Value::real(ports)});
    EXPECT_TRUE(o.ok) << o.error;
    return {o.value->integers()[0], o.value->integers()[1]};
}
cvtest::Outcome readParam(double h, double row, double col) {
    return call("ReadTouchstone", {cv::Value::real(h), cv::Value::real(row), cv::Value::real(col)});
}
int deleted(double h) { return int(cvtest::number("DeleteTouchstone", {cv::Value::real(h)})); }

TEST(TouchstoneHandles, LoadReadErrorsAndDelete) {
    FileSandbox box;
    deleted(0);
    const std::string good = box.write("t.s2p", "# Hz S RI\n1 1 0 3 0 2 0 4 0\n2 5 0 7 0 6 0 8 0\n");
    const auto missing = load(box.path("none.s2p"), 2);
    EXPECT_EQ(missing[1], 0);
    const auto loaded = load(good, 2.9);  // 2 ports
    EXPECT_EQ(loaded, (std::vector<int>{missing[0] + 1, 1}));
    const double h = loaded[0];

    // Row 1, column 0 is value 2; only the flat index must lie in range.
    EXPECT_EQ(cvtest::realsOf(*readParam(h, 1, 0).value), (std::vector<double>{1, 3, 0, 2, 7, 0}));
    EXPECT_EQ(cvtest::realsOf(*readParam(h + 0.9, 0, 3).value), cvtest::realsOf(*readParam(h, 1, 1).value));
    EXPECT_EQ(cvtest::realsOf(*readParam(h, -0.5, 0).value)[1], 1);
    for (auto [row, col] : {std::pair{2.0, 0.0}, {-1, 0}, {0, 4}, {1073741824.0, 0}})
        EXPECT_TRUE(cvtest::noResult(readParam(h, row, col))) << row;
    EXPECT_TRUE(cvtest::noResult(readParam(h + 100, 0, 0)));

    // A failed load keeps its entry with no points; its message, and the one-shot
    // ParseTouchstone of a broken file: the peers.
    const auto failed = readParam(missing[0], 0, 0).value;
    EXPECT_TRUE(failed->kind() == cv::Kind::Real && failed->size() == 0);
    EXPECT_TRUE(cvtest::texts("GetTouchstoneErrors", {cv::Value::real(h)}).empty());

    // One shot: the same values, nothing kept; an index out of range reads no file.
    auto once = call("ParseTouchstone", {cv::Value::string(good), cv::Value::real(2), cv::Value::real(2)});
    EXPECT_EQ(cvtest::realsOf(*once.value), cvtest::realsOf(*readParam(h, 1, 0).value));
    EXPECT_TRUE(cvtest::noResult(call("ParseTouchstone", {cv::Value::string(good), cv::Value::real(2), cv::Value::real(4)})));

    // Handles are never reused; a NaN handle deletes nothing; 0 deletes all.
    EXPECT_EQ(deleted(h), 1);
    EXPECT_EQ(deleted(h), 0);
    EXPECT_EQ(load(good, 2)[0], h + 1);
    EXPECT_EQ(deleted(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(deleted(-0.5), 2);
    EXPECT_EQ(deleted(0), 0);
}

// ---------------------------------------------------------------- memory

// A table larger than the memory limit is a failed build with a message,
// and what it held is given back.
TEST(TouchstoneMended, TablesBeyondTheMemoryLimitFailWithAMessage) {
    FileSandbox box;
    std::string big = "# Hz S RI\n";
    for (int i = 1; i <= 2000; ++i) {
        big += std::to_string(i);
        for (int k = 0; k < 64; ++k) big += " 0 0";
        big += '\n';
    }
    const std::string path = box.write("big.s8p", big);
    const size_t limit = cv::memoryLimitBytes();
    cv::setMemoryLimitBytes(big.size() * 2);
    const Read r = readTable(path, 8);
    cv::setMemoryLimitBytes(limit);
    EXPECT_NE(r.error.find("not enough memory to hold its table"), std::string::npos) << r.error;
    EXPECT_TRUE(readTable(path, 8).ok);
}

}  // namespace
