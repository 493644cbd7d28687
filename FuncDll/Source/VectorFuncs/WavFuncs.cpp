// WAVE files as waveforms: a whole file is loaded into a table of open files
// and read back one channel at a time; one or two waveforms are written as a
// new file. Problems are reported as status codes in the result, never as
// messages, so a script can test for them.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "FileUtil.h"
#include "FuncArgs.h"
#include "FuncContract.h"
#include "WavFile.h"

namespace {

// Status codes of the script functions; the host's WAV_Error and
// WriteSamplesStatus values are passed through beside them.
enum WavStatus : int32_t {
    StatusOk = 0,
    StatusBadFormat = 2,     // bit depth or channel count
    StatusHeaderWrite = 3,
    StatusNoOutput = 4,      // output could not be created or put in place
    StatusHeaderRead = 7,
    StatusSamplesRead = 8,
    StatusNoInput = 10,
    StatusTooLarge = 11,     // a size or count beyond the 32-bit fields of the format
    StatusBadRate = 12,      // sample rate not a positive 32-bit integer
};

constexpr double kFullScale = 2147483647.0;

struct OpenWav : YRefCounted {
    YVector<WavSample> samples;
    WavHeader header;
    int32_t handle = 0;
};

// Open files in order of opening. Holders are counted references, so a file
// being read stays alive if it is closed meanwhile.
struct OpenWavTable {
    std::vector<YRef<OpenWav>> files;
    int64_t nextHandle = 1;  // never reused; 64 bits so running out is noticed, not wrapped
};
OpenWavTable openWavs;

// Real arguments that stand for integers are truncated toward zero; a value
// that does not fit (NaN, Inf, huge) is not a valid integer at all.
template <class Int>
bool truncateTo(double v, Int& out) {
    if (!std::isfinite(v)) return false;
    const double t = std::trunc(v);
    if (t < double(std::numeric_limits<Int>::min()) || t > double(std::numeric_limits<Int>::max())) return false;
    out = Int(t);
    return true;
}

const char* fileNameArg(const FuncArgsMinimal& args, int i) {
    const char* const* s = args.stringData(i);
    return s && args.length(i) > 0 && s[0] ? s[0] : "";
}

// Value k of real argument i, when the argument has it.
bool realArg(const FuncArgsMinimal& args, int i, int64_t k, double& out) {
    if (i >= args.numArgs() || args.length(i) <= k) return false;
    const double* d = args.realData(i);
    if (!d) return false;
    out = d[k];
    return true;
}

YRef<OpenWav> findOpen(int32_t handle) {
    for (const YRef<OpenWav>& f : openWavs.files)
        if (f->handle == handle) return f;
    return {};
}

struct FileCloser {
    FILE* f;
    ~FileCloser() {
        if (f) fclose(f);
    }
};

int32_t openWav(const char* name, int option, int32_t& handle) {
    handle = -1;
    FileCloser file{fopen_utf8(name, "rb")};
    if (!file.f) return StatusNoInput;
    WavHeader header;
    if (!Wav_LoadHeader(file.f, header)) return StatusHeaderRead;
    if (WAV_Error e = Wav_CheckHeader(header); e != WavOk) return e;
    if (openWavs.nextHandle > std::numeric_limits<int32_t>::max()) return StatusTooLarge;
    YRef<OpenWav> record(new OpenWav);
    record->handle = int32_t(openWavs.nextHandle++);
    if (!Wav_LoadSamples(file.f, header, record->samples, option)) return StatusSamplesRead;
    record->header = header;
    openWavs.files.push_back(record);
    handle = record->handle;
    return StatusOk;
}

FUNC_ERROR wavOpenFile(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                       const ScpParseContext&, const FunctionRunTime&) {
    int option = 0;
    double v;
    // An option that is no integer names no channel, so loading fails.
    if (realArg(args, 1, 0, v) && !truncateTo(v, option)) option = -1;
    int32_t handle;
    const int32_t status = openWav(fileNameArg(args, 0), option, handle);
    int32_t* out = result->makeIntegerVector(2);
    out[0] = handle;
    out[1] = status;
    result->finish();
    return FuncOk;
}

FUNC_ERROR wavReadData(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                       const ScpParseContext&, const FunctionRunTime&) {
    double v;
    int32_t handle = 0, channel = -1;
    double scale = 1.0;
    if (realArg(args, 1, 1, v)) scale = v;
    YRef<OpenWav> file;
    if (realArg(args, 0, 0, v) && truncateTo(v, handle) && realArg(args, 1, 0, v) && truncateTo(v, channel) &&
        (channel == 0 || channel == 1))
        file = findOpen(handle);
    if (!file) {
        result->finish();
        return FuncOk;
    }

    const int64_t m = file->samples.count();
    double* y = result->makeRealVector(m);
    double* x = result->makeRealRefVector(m);
    result->setPhysType(PhysType::Voltage);
    result->setRefPhysType(PhysType::Time);
    const WavSample* s = file->samples.data();
    const double k = scale / kFullScale;
    if (channel == 0)
        for (int64_t i = 0; i < m; ++i) y[i] = s[i].left * k;
    else
        for (int64_t i = 0; i < m; ++i) y[i] = s[i].right * k;
    const double dt = 1.0 / file->header.sampleRate;
    double t = 0.0;
    for (int64_t i = 0; i < m; ++i) {
        x[i] = t;
        t += dt;
    }
    result->finish();
    return FuncOk;
}

FUNC_ERROR wavCloseFile(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                        const ScpParseContext&, const FunctionRunTime&) {
    double v;
    int32_t handle = 0;
    int32_t closed = 0;
    if (realArg(args, 0, 0, v) && truncateTo(v, handle)) {
        auto& files = openWavs.files;
        const auto kept = std::remove_if(files.begin(), files.end(),
                                         [handle](const YRef<OpenWav>& f) { return f->handle == handle; });
        closed = int32_t(files.end() - kept);
        files.erase(kept, files.end());
    }
    *result->makeIntegerScalar() = closed;
    result->finish();
    return FuncOk;
}

// The file is written beside the target under another name and renamed over
// it only when complete, so a failure never leaves a truncated file that
// looks whole, and an existing file survives a failed rewrite.
int32_t writeWavFile(const std::string& target, const WavHeader& header, double scale, const double* const* data,
                     int channels, int64_t count) {
    if (target.empty()) return StatusNoOutput;
    static unsigned serial = 0;
    std::string temp;
    FILE* f = nullptr;
    for (int attempt = 0; attempt < 100 && !f; ++attempt) {
        temp = target + ".~" + std::to_string(getpid()) + "." + std::to_string(serial++) + ".tmp";
        f = fopen_utf8(temp.c_str(), "wbx");
        if (!f && errno != EEXIST) break;
    }
    if (!f) return StatusNoOutput;

    int32_t status = StatusOk;
    if (!Wav_WriteHeader(f, header))
        status = StatusHeaderWrite;
    else
        status = Wav_WriteSamples(f, header, scale, data, channels, count);
    if (fclose(f) != 0 && status == StatusOk) status = WavWriteFailed;
    if (status == StatusOk && std::rename(temp.c_str(), target.c_str()) != 0) status = StatusNoOutput;
    if (status != StatusOk) unlink_utf8(temp.c_str());
    return status;
}

int32_t writeWav(const FuncArgsMinimal& args) {
    double v;
    int16_t bits = 0;
    if (!realArg(args, 1, 0, v) || !truncateTo(v, bits)) return StatusBadFormat;
    double scale = 1.0;
    if (realArg(args, 1, 1, v)) scale = v;
    double rateValue = 44100.0;
    if (realArg(args, 1, 2, v)) rateValue = v;

    const int channels = args.numArgs() >= 4 ? 2 : 1;
    int64_t count = args.length(2);
    if (channels == 2) count = std::min(count, args.length(3));
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return StatusBadFormat;
    int32_t rate = 0;
    if (!truncateTo(rateValue, rate) || rate <= 0) return StatusBadRate;

    // In 64 bits, then checked against the 32-bit fields: a header whose
    // sizes wrapped would describe another file than the one written.
    const uint64_t blockAlign = uint64_t(channels) * uint64_t(bits) / 8;
    const uint64_t byteRate = blockAlign * uint64_t(rate);
    const uint64_t dataSize = blockAlign * uint64_t(std::max<int64_t>(count, 0));
    const uint64_t limit = std::numeric_limits<uint32_t>::max();
    if (byteRate > limit || count < 0 || uint64_t(count) > limit || dataSize + 36 > limit) return StatusTooLarge;

    WavHeader h;
    h.formatTag = 1;
    h.channels = uint16_t(channels);
    h.sampleRate = uint32_t(rate);
    h.byteRate = uint32_t(byteRate);
    h.blockAlign = uint16_t(blockAlign);
    h.bitsPerSample = uint16_t(bits);
    h.fmtSize = 16;
    h.dataSize = uint32_t(dataSize);
    h.riffSize = uint32_t(dataSize + 36);
    const double* data[2] = {args.realData(2), channels == 2 ? args.realData(3) : nullptr};
    return writeWavFile(fileNameArg(args, 0), h, kFullScale / scale, data, channels, count);
}

FUNC_ERROR wavWriteFile(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler>,
                        const ScpParseContext&, const FunctionRunTime&) {
    const int32_t status = writeWav(args);
    *result->makeIntegerScalar() = status;
    result->finish();
    return FuncOk;
}

const FunctionOption kNoOptions{};

// clang-format off
FuncConstruct registrations[] = {
    {"WAV_CloseFile", {4},          {}, 1, 1, wavCloseFile, "", PyInteger,       kNoOptions},
    {"WAV_OpenFile",  {1, 4},       {}, 1, 2, wavOpenFile,  "", PyIntegerVector, kNoOptions},
    {"WAV_ReadData",  {4, 4},       {}, 2, 2, wavReadData,  "", PyVector,        kNoOptions},
    {"WAV_WriteFile", {1, 4, 4, 4}, {}, 3, 4, wavWriteFile, "", PyInteger,       kNoOptions},
};
// clang-format on

}  // namespace
