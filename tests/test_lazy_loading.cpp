// Files read when used: a bound file's vectors are read on first use, each
// once, a damaged column fails alone and only when used, and a file changed
// on disk after binding is refused instead of read as a mix.
#include "FileSandbox.h"
#include "Loaders/LoaderSupport.h"
#include "Loaders/Loaders.h"
#include "TestHost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using cv::load::DataSet;
using cv::load::LoadError;

namespace {

// A raw file of `variables` columns: the scale is the point index, variable
// v of point p is p * 10 + v. The ASCII form has the value of variable
// `badVariable` at point `badPoint` spoiled.
std::string rawHeader(int variables, int points, const char* data) {
    std::string text = "Title: lazy\nPlotname: Transient Analysis\nFlags: real\nNo. Variables: " +
                       std::to_string(variables) + "\nNo. Points: " + std::to_string(points) + "\nVariables:\n";
    for (int v = 0; v < variables; ++v)
        text += "\t" + std::to_string(v) + "\t" + (v ? "v(n" + std::to_string(v) + ")\tvoltage\n" : "time\ttime\n");
    return text + data + "\n";
}

std::string binaryRaw(int variables, int points) {
    std::string text = rawHeader(variables, points, "Binary:");
    for (int p = 0; p < points; ++p)
        for (int v = 0; v < variables; ++v) {
            const double x = v == 0 ? p : p * 10.0 + v;
            text.append(reinterpret_cast<const char*>(&x), sizeof x);
        }
    return text;
}

std::string asciiRaw(int variables, int points, int badPoint, int badVariable) {
    std::string text = rawHeader(variables, points, "Values:");
    for (int p = 0; p < points; ++p) {
        text += std::to_string(p);
        for (int v = 0; v < variables; ++v)
            text += "\t" + (p == badPoint && v == badVariable ? "1.5x" : std::to_string(v == 0 ? p : p * 10 + v)) + "\n";
    }
    return text;
}

std::string csvTable(int columns, int rows, int badRow, int badColumn) {
    std::string text = "time";
    for (int c = 1; c < columns; ++c) text += ",n" + std::to_string(c);
    text += "\n";
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            text += (c ? "," : "") + (r == badRow && c == badColumn ? "1.5x" : std::to_string(c == 0 ? r : r * 10 + c));
        text += "\n";
    }
    return text;
}

struct Bound : cvtest::FileSandbox {
    Bound(const std::string& name, const std::string& bytes) : file(write(name, bytes)), data(cv::load::openFile(file)) {
        session.bindDataSet(data);
    }
    double maximum(const std::string& expression) {
        cv::ValuePtr v;
        std::string error;
        if (!session.evaluate("Maximum(" + expression + ")", v, error)) throw std::runtime_error(error);
        return v->realAt(0);
    }
    std::string failure(const std::string& expression) {
        cv::ValuePtr v;
        std::string error;
        return session.evaluate(expression, v, error) ? "" : error;
    }
    std::string file;
    DataSet data;
    cv::Session& session = cvtest::session();
};

}  // namespace

TEST(LazyLoading, BindingReadsNoValuesAndEachVectorIsReadOnceWithItsScale) {
    Bound b("wide.raw", binaryRaw(8, 5000));
    ASSERT_TRUE(b.data.lazy);
    EXPECT_EQ(b.data.lazy->passes(), 0u);
    EXPECT_EQ(b.data.signals.size(), 7u);
    // A statement reads what it names and the scale, in one pass.
    EXPECT_EQ(b.maximum("n3 + n5"), 4999 * 10 + 3 + 4999 * 10 + 5);
    EXPECT_EQ(b.data.lazy->passes(), 1u);
    EXPECT_TRUE(b.data.lazy->isRead(0) && b.data.lazy->isRead(3) && b.data.lazy->isRead(5));
    EXPECT_FALSE(b.data.lazy->isRead(1) || b.data.lazy->isRead(7));
    // Used again, under either name: nothing more is read.
    EXPECT_EQ(b.maximum("n3"), 49993);
    EXPECT_EQ(b.maximum("Vec('v(n5)')"), 49995);
    EXPECT_EQ(b.data.lazy->passes(), 1u);
    cv::ValuePtr n3 = b.session.lookup("n3");
    ASSERT_TRUE(n3 && n3->ref());
    EXPECT_EQ(n3->ref()->realAt(4999), 4999);
    EXPECT_EQ(n3.get(), b.session.lookup("v(n3)").get());
}

TEST(LazyLoading, ColumnsReadAloneEqualTheWholeFileReadAtOnce) {
    // Every layout the readers know: ASCII and binary, real and complex,
    // several plots, steps, UTF-16 headers, CSV divisions and x y pairs.
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CVFUNC_TEST_DATA)) {
        const std::string path = entry.path().string();
        if (!entry.is_regular_file() || entry.path().filename().string().starts_with("bad_")) continue;
        DataSet whole;
        try {
            whole = cv::load::loadFile(path);
        } catch (const LoadError&) {
            continue;  // not a data file
        }
        const std::size_t columns = whole.signals.size() + 1;
        for (std::size_t k = 0; k < columns; ++k) {
            const DataSet opened = cv::load::openFile(path);
            if (!opened.lazy) break;  // read at once: nothing to compare
            const cv::MutableValuePtr alone = opened.lazy->column(k);
            const cv::load::Signal& s = k == 0 ? whole.reference : whole.signals[k - 1];
            ASSERT_EQ(alone->divisionLengths(), s.values->divisionLengths()) << path << " column " << k;
            const std::size_t bytes = s.data().size() * sizeof(double);
            EXPECT_EQ(std::memcmp(alone->rawData(), s.values->rawData(), bytes), 0) << path << " column " << k;
            EXPECT_EQ(opened.lazy->passes(), 1u);
            ++compared;
        }
    }
    EXPECT_GT(compared, 40);
}

TEST(LazyLoading, ADamagedValueFailsItsColumnWhenUsedAndTheOthersStayUsable) {
    const struct {
        const char* name;
        std::string bytes;
        const char* where;
    } files[] = {
        {"damaged.raw", asciiRaw(4, 20000, 19000, 2), "line "},
        {"damaged.csv", csvTable(4, 20000, 19000, 2), "line 19002: '1.5x' in column 'n2' is not a number"},
    };
    for (const auto& f : files) {
        Bound b(f.name, f.bytes);
        EXPECT_EQ(b.maximum("n1"), 199991) << f.name;
        const std::string error = b.failure("Maximum(n2)");
        EXPECT_NE(error.find(f.where), std::string::npos) << error;
        EXPECT_NE(error.find("1.5x"), std::string::npos) << error;
        EXPECT_EQ(b.maximum("n3"), 199993) << f.name;
        // Named with a damaged column, a statement fails, and it is the damaged one that is named.
        EXPECT_NE(b.failure("n3 + n2").find("1.5x"), std::string::npos) << f.name;
        EXPECT_EQ(b.maximum("n1 + n3"), 199991 + 199993) << f.name;
    }
}

TEST(LazyLoading, AFileChangedOnDiskAfterBindingIsRefusedAndWhatWasReadStays) {
    Bound b("changing.raw", binaryRaw(4, 1000));
    EXPECT_EQ(b.maximum("n1"), 9991);
    // Written again in place, the same size: the time tells.
    std::string bytes = binaryRaw(4, 1000);
    timespec later[2] = {{0, UTIME_OMIT}, {time(nullptr) + 5, 0}};
    b.write("changing.raw", bytes);
    ASSERT_EQ(utimensat(AT_FDCWD, b.file.c_str(), later, 0), 0);
    std::string error = b.failure("Maximum(n2)");
    EXPECT_NE(error.find("changing.raw: the file changed on disk after it was loaded (it was written again): "
                         "load it again"),
              std::string::npos)
        << error;
    EXPECT_EQ(b.maximum("n1"), 9991);  // read before the change: kept
    // Cut short, or replaced by another file.
    ASSERT_EQ(truncate(b.file.c_str(), 500), 0);
    EXPECT_NE(b.failure("n3").find("its size changed from"), std::string::npos);
    std::filesystem::remove(b.file);
    EXPECT_NE(b.failure("n3").find("cannot open"), std::string::npos);
    b.write("changing.raw", bytes);  // a new file (its inode number may be the old one's again)
    EXPECT_NE(b.failure("n3").find("the file changed on disk after it was loaded"), std::string::npos);
}

TEST(LazyLoading, AFileCutShortWhileItIsReadFailsCleanly) {
    // The check before reading cannot see a change made during the read: the
    // mapping then faults past the new end, which must end in an error.
    cvtest::FileSandbox box;
    const std::string path = box.write("cut.raw", binaryRaw(4, 200000));
    const DataSet data = cv::load::openFile(path);
    const cv::load::detail::FileBuffer mapped = cv::load::detail::readWholeFile(path, false);
    ASSERT_TRUE(mapped.mapped());
    ASSERT_EQ(truncate(path.c_str(), 4096), 0);
    try {
        data.lazy->read({0, 2}, mapped.view(), true);
        FAIL() << "read past the end";
    } catch (const LoadError& e) {
        EXPECT_NE(std::string(e.what()).find("the file changed on disk while it was read"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(data.lazy->isRead(0));
}
