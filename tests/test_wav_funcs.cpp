// WAV files: channels and scaling, the table of open files and its handles,
// status codes of broken files, the canonical header we write, and failures
// while writing.
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>

#include "FileSandbox.h"
#include "WavFile.h"

namespace {

namespace fs = std::filesystem;
using cvtest::call;
using cvtest::reals;

constexpr double kFull = 2147483647.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string wavPath(const std::string& name) { return cvtest::dataPath("wav/" + name); }

struct Opened {
    int32_t handle = 0, status = 0;
    bool operator==(const Opened&) const = default;
};

Opened openWav(const std::string& path, std::optional<double> option = std::nullopt) {
    std::vector<cv::ValuePtr> args{cv::Value::string(path)};
    if (option) args.push_back(cv::Value::real(*option));
    auto r = call("WAV_OpenFile", args);
    EXPECT_TRUE(r.ok) << r.error;
    if (!r.ok || !r.value->integers() || r.value->size() != 2) return {-99, -99};
    return {r.value->integers()[0], r.value->integers()[1]};
}

int32_t intResult(const cvtest::Outcome& r) {
    EXPECT_TRUE(r.ok) << r.error;
    return r.ok && r.value->integers() && r.value->size() == 1 ? r.value->integers()[0] : -99;
}

int32_t closeWav(int32_t handle) { return intResult(call("WAV_CloseFile", {cv::Value::real(handle)})); }

cv::ValuePtr readWav(int32_t handle, std::vector<double> channelAndScale) {
    auto r = call("WAV_ReadData", {cv::Value::real(handle), reals(channelAndScale)});
    EXPECT_TRUE(r.ok) << r.error;
    return r.value;
}

// Opens, reads the first sample of one channel back at full scale 2147483647, closes.
int64_t firstSample(const std::string& path, int channel, double option) {
    Opened o = openWav(path, option);
    EXPECT_EQ(o.status, 0) << path;
    auto v = readWav(o.handle, {double(channel)});
    closeWav(o.handle);
    return v->size() ? std::llround(v->realAt(0) * kFull) : -1;
}

int32_t writeWav(const std::string& path, std::vector<double> format, std::vector<double> left,
                 std::optional<std::vector<double>> right = std::nullopt) {
    std::vector<cv::ValuePtr> args{cv::Value::string(path), reals(format), reals(left)};
    if (right) args.push_back(reals(*right));
    return intResult(call("WAV_WriteFile", args));
}

std::vector<unsigned char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A sandbox whose work folder holds the files a test writes.
struct TempDir : cvtest::FileSandbox {
    std::string operator/(const std::string& name) const { return path("work/" + name); }
    size_t entries() const {
        return size_t(std::distance(fs::directory_iterator(path("work")), fs::directory_iterator()));
    }
};

// ---------------------------------------------------------------- channels and scaling

// Every usable file in tests/data/wav is decoded independently and compared
// sample by sample in the Python peer tests.
TEST(WavScaling, VoltagesAgainstTimeStereoChannelsTheScaleAndTheLoadingOption) {
    Opened o = openWav(wavPath("waveformatex-16bit-44100Hz-stereo.wav"));
    ASSERT_EQ(o.status, 0);
    cvtest::expectTypes(*readWav(o.handle, {0}), PhysType::Voltage, PhysType::Time);
    EXPECT_DOUBLE_EQ(readWav(o.handle, {0, 2.0})->realAt(0), 2.0 * (2 << 16) / kFull);
    EXPECT_EQ(closeWav(o.handle), 1);
    // The loading option chooses the first channel of wide files. Frame 0 of
    // the three-channel file: -2147483648, -2147483392, -512 at 32 bits.
    const std::string three = wavPath("test-8000Hz-le-3ch-5S-24bit.wav");
    EXPECT_EQ(firstSample(three, 0, 1.0), -2147483392LL);
    EXPECT_EQ(firstSample(three, 1, 1.0), -512);
    // The last channel has no partner: right repeats it, as for a mono file.
    EXPECT_EQ(firstSample(three, 1, 2.0), -512);
}

// ---------------------------------------------------------------- handles and table

TEST(WavTable, HandlesCountUpAndAreNeverReused) {
    EXPECT_EQ(openWav("/nonexistent/none.wav"), (Opened{-1, 10}));
    Opened a = openWav(wavPath("mono.wav"));
    Opened b = openWav(wavPath("mono.wav"));
    ASSERT_EQ(a.status, 0);
    EXPECT_GE(a.handle, 1);
    EXPECT_EQ(b.handle, a.handle + 1);  // the failed open did not take a handle
    EXPECT_EQ(closeWav(a.handle), 1);
    EXPECT_EQ(closeWav(a.handle), 0);
    EXPECT_EQ(readWav(a.handle, {0})->size(), 0);
    EXPECT_EQ(readWav(b.handle, {0})->size(), 5);

    // A header that passes but samples that fail still use up a handle.
    EXPECT_EQ(openWav(wavPath("mono.wav"), 1.0), (Opened{-1, 8}));
    Opened c = openWav(wavPath("mono.wav"));
    EXPECT_EQ(c.handle, b.handle + 2);
    EXPECT_EQ(closeWav(b.handle), 1);
    EXPECT_EQ(closeWav(c.handle), 1);
}

TEST(WavTable, BadHandlesAndChannelsGiveEmptyResults) {
    Opened o = openWav(wavPath("mono.wav"));
    for (double ch : {2.0, -1.0, kNaN, 1e300}) EXPECT_EQ(readWav(o.handle, {ch})->size(), 0) << ch;
    EXPECT_EQ(readWav(o.handle, {0.9})->size(), 5);  // truncated to channel 0
    for (double h : {0.0, kNaN, kInf, 1e12})
        EXPECT_EQ(intResult(call("WAV_CloseFile", {cv::Value::real(h)})), 0) << h;
    EXPECT_EQ(intResult(call("WAV_CloseFile", {reals({})})), 0);
    EXPECT_EQ(call("WAV_ReadData", {reals({}), reals({0})}).value->size(), 0);
    EXPECT_EQ(call("WAV_ReadData", {cv::Value::real(o.handle), reals({})}).value->size(), 0);
    closeWav(o.handle);
}

// ---------------------------------------------------------------- broken files

TEST(WavBrokenFiles, EachGivesAStatusAndNoHandle) {
    struct Case {
        const char* file;
        int32_t status;
    } cases[] = {
        {"test-44100Hz-le-1ch-4bytes-early-eof-no-data.wav", 7},      // no data chunk
        {"oom-48ae4cd061ff8578ad3f23dc87624bd365cf5216.wav", 7},      // chunk claims 2.9 GB
        {"test-44100Hz-le-1ch-4bytes-early-eof.wav", 8},              // data ends early
        {"test-8000Hz-le-1ch-1byte-ulaw.wav", WavUnsupportedFormat},
        {"crash-e5471f5b58397287b509db7d026e95f1724454f5.wav", WavBadBitsPerSample},
        {"test-8000Hz-le-3ch-5S-24bit-inconsistent.wav", WavBadBlockAlign},
        // 24-bit samples in 4-byte containers under a plain PCM header: block
        // align and bit depth disagree, so the layout is a guess.
        {"pcmwaveformat-24bit-4byte-48kHz-stereo.wav", WavBadBlockAlign},
    };
    for (const Case& c : cases) EXPECT_EQ(openWav(wavPath(c.file)), (Opened{-1, c.status})) << c.file;
    // Not a WAVE file at all, an empty file, a directory.
    TempDir dir;
    std::ofstream(dir / "text.wav") << "RIFF but not really";
    std::ofstream(dir / "empty.wav");
    EXPECT_EQ(openWav(dir / "text.wav").status, 7);
    EXPECT_EQ(openWav(dir / "empty.wav").status, 7);
    EXPECT_EQ(openWav(dir / "").status, 7);
}

TEST(WavBrokenFiles, EveryTruncationOfAGoodFileIsRefusedOrLoadsWhatItDeclares) {
    TempDir dir;
    for (const char* name : {"nonstandard-01.wav", "waveformatextensible-ieeefloat-44100Hz-mono.wav",
                             "test-8000Hz-le-3ch-5S-24bit.wav"}) {
        const auto whole = bytesOf(wavPath(name));
        for (size_t n = 0; n < whole.size(); ++n) {
            // A new name for each cut: rewriting one file is slow on some file systems.
            const std::string cut = dir / (std::to_string(n) + name);
            std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(whole.data()), std::streamsize(n));
            Opened o = openWav(cut);
            ASSERT_EQ(o.handle == -1, o.status != 0) << name << " cut at " << n;
            if (o.status == 0) closeWav(o.handle);
            else EXPECT_TRUE(o.status == 7 || o.status == 8) << name << " cut at " << n << ": " << o.status;
        }
    }
}

// ---------------------------------------------------------------- round trips

TEST(WavRoundTrip, CanonicalHeaderBytesAndClippedSamples) {
    TempDir dir;
    const std::string path = dir / "h.wav";
    ASSERT_EQ(writeWav(path, {16}, {0.5, 2.0, -2.0, kNaN}, std::vector<double>{-0.5, 1.0, -1.0, 0.0, 9.0}), 0);
    const std::vector<unsigned char> expected = {
        'R', 'I', 'F', 'F', 52, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
        1, 0, 2, 0, 0x44, 0xAC, 0, 0,           // PCM, 2 channels, 44100 Hz
        0x10, 0xB1, 2, 0, 4, 0, 16, 0,          // byte rate 176400, block align 4, 16 bits
        'd', 'a', 't', 'a', 16, 0, 0, 0,
        0x00, 0x40, 0x00, 0xC0,                 // 16384, -16384
        0xFF, 0x7F, 0xFF, 0x7F,                 // clipped 32767, full scale 32767
        0x00, 0x80, 0x00, 0x80,                 // clipped -32768, -1.0 -> -32768
        0x00, 0x00, 0x00, 0x00,                 // NaN -> 0
    };
    EXPECT_EQ(bytesOf(path), expected);
    // Eight-bit data is unsigned; scale s maps s to full scale.
    ASSERT_EQ(writeWav(path, {8, 2.0, 8000}, {1.0, 0.0, -2.0}), 0);
    auto b = bytesOf(path);
    ASSERT_EQ(b.size(), 47u);
    EXPECT_EQ(std::vector<unsigned char>(b.begin() + 44, b.end()), (std::vector<unsigned char>{192, 128, 0}));
    EXPECT_EQ(b[24] | b[25] << 8, 8000);
    // Bits are truncated: 16.9 is 16.
    ASSERT_EQ(writeWav(path, {16.9}, {0.0}), 0);
    EXPECT_EQ(bytesOf(path)[34], 16);
}

// ---------------------------------------------------------------- write failures

TEST(WavWriteFailures, BadFormatsAndSizesBeyondThirtyTwoBitsWriteNothing) {
    TempDir dir;
    const std::string path = dir / "x.wav";
    for (double bits : {12.0, 0.0, -16.0, 65552.0, kNaN, kInf}) EXPECT_EQ(writeWav(path, {bits}, {0.1}), 2) << bits;
    EXPECT_EQ(writeWav(path, {}, {0.1}), 2);
    for (double rate : {0.0, -8000.0, kNaN, 3e9}) EXPECT_EQ(writeWav(path, {16, 1, rate}, {0.1}), 12) << rate;
    // 32-bit stereo at 2^29 rate: byte rate 2^32, one short of it fits.
    EXPECT_EQ(writeWav(path, {32, 1, 536870912.0}, {0.0}, std::vector<double>{0.0}), 11);
    EXPECT_EQ(dir.entries(), 0u);
    EXPECT_EQ(writeWav(path, {32, 1, 536870911.0}, {0.0}, std::vector<double>{0.0}), 0);
    // 2^29 frames of 8 bytes: a 4 GiB data chunk does not fit in its size field.
    // The value is mapped, not touched, so this costs no memory.
    auto huge = cv::Value::make(cv::Kind::Real, int64_t(1) << 29);
    auto r = call("WAV_WriteFile", {cv::Value::string(dir / "huge.wav"), reals({32}), huge, huge});
    EXPECT_EQ(intResult(r), 11);
    EXPECT_FALSE(fs::exists(dir / "huge.wav"));
}

TEST(WavWriteFailures, UnwritableTargetsLeaveNoTemporaryFiles) {
    TempDir dir;
    fs::create_directory(dir / "sub");
    EXPECT_EQ(writeWav(dir / "sub", {16}, {0.1}), 4);             // a directory cannot be replaced
    EXPECT_EQ(writeWav(dir / "missing/x.wav", {16}, {0.1}), 4);
    EXPECT_EQ(writeWav("", {16}, {0.1}), 4);
    EXPECT_EQ(dir.entries(), 1u);
    EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

TEST(WavWriteFailures, AFailureMidwayKeepsTheOldFileAndRemovesTheTemporary) {
    TempDir dir;
    const std::string path = dir / "keep.wav";
    ASSERT_EQ(writeWav(path, {16}, {0.25, -0.25}), 0);
    const auto before = bytesOf(path);

    // Writes past 4 KiB fail with EFBIG while the limit holds.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t status = writeWav(path, {16}, std::vector<double>(100000, 0.5));
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(status, WavWriteFailed);
    EXPECT_EQ(bytesOf(path), before);
    EXPECT_EQ(dir.entries(), 1u);
}

}  // namespace
