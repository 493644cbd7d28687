// WAVE files as waveforms: a whole file is loaded into a table of open files
// and read back one channel at a time; one or two waveforms are written as a
// new file. Problems are reported as status codes in the result, never as
// messages, so a script can test for them.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "../FuncKit.h"
#include "AtomicFile.h"
#include "FileUtil.h"
#include "WavFile.h"

namespace {

using namespace cvmod;

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
    uint32_t sampleRate = 0;
};

// Open files by handle. Holders are counted references, so a file being read
// stays alive if it is closed meanwhile.
HandleTable<YRef<OpenWav>> openWavs;

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
    YRef<OpenWav> record(new OpenWav);
    record->sampleRate = header.sampleRate;
    // The handle is taken before the samples are loaded: a file whose samples
    // fail still uses one up, as scripts have always seen. Until they are in,
    // the entry leaves the table again on every way out.
    struct Pending {
        int32_t handle;
        ~Pending() {
            if (handle) openWavs.remove(handle);
        }
    } pending{openWavs.add(record)};
    if (pending.handle == 0) return StatusTooLarge;
    if (!Wav_LoadSamples(file.f, header, record->samples, option)) return StatusSamplesRead;
    handle = std::exchange(pending.handle, 0);
    return StatusOk;
}

FUNC_ERROR wavOpenFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    int option = 0;
    // An option that is no integer names no channel, so loading fails.
    if (const auto v = realAt(a, 1, 0); v && !exactInt(*v, option)) option = -1;
    int32_t handle;
    const int32_t status = openWav(stringOr(a, 0), option, handle);
    int32_t* out = r.makeIntegerVector(2);
    out[0] = handle;
    out[1] = status;
    return FuncOk;
}

FUNC_ERROR wavReadData(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    int32_t handle = 0, channel = -1;
    const double scale = realAt(a, 1, 1).value_or(1.0);
    YRef<OpenWav>* entry = nullptr;
    if (handleOf(a, 0, handle) && handleOf(a, 1, channel) && (channel == 0 || channel == 1))
        entry = openWavs.find(handle);
    if (!entry) return FuncOk;
    const OpenWav& wav = **entry;

    const int64_t m = wav.samples.count();
    double* y = r.makeRealVector(m);
    double* x = r.makeRealRefVector(m);
    r.setPhysType(PhysType::Voltage);
    r.setRefPhysType(PhysType::Time);
    const WavSample* s = wav.samples.data();
    const double k = scale / kFullScale;
    if (channel == 0)
        for (int64_t i = 0; i < m; ++i) y[i] = s[i].left * k;
    else
        for (int64_t i = 0; i < m; ++i) y[i] = s[i].right * k;
    const double dt = 1.0 / wav.sampleRate;
    double t = 0.0;
    for (int64_t i = 0; i < m; ++i) {
        x[i] = t;
        t += dt;
    }
    return FuncOk;
}

FUNC_ERROR wavCloseFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    int32_t handle = 0;
    setInteger(r, handleOf(a, 0, handle) && openWavs.remove(handle) ? 1 : 0);
    return FuncOk;
}

// The file is written beside the target under another name, flushed to disk
// and renamed over it only when complete (AtomicFileWriter), so a failure or
// a kill never leaves a truncated file that looks whole, an existing file
// survives a failed rewrite, keeps its permissions, and a link to it stays.
int32_t writeWavFile(const std::string& target, const WavHeader& header, double scale, const double* const* data,
                     int channels, int64_t count) {
    if (target.empty()) return StatusNoOutput;
    AtomicFileWriter out(target.c_str());
    if (!out.file()) return StatusNoOutput;
    int32_t status = Wav_WriteHeader(out.file(), header) ? Wav_WriteSamples(out.file(), header, scale, data, channels, count)
                                                         : int32_t(StatusHeaderWrite);
    // Bytes still buffered meet a full disk only when flushed.
    if (status == StatusOk && !out.commit()) status = out.renameFailed() ? int32_t(StatusNoOutput) : int32_t(WavWriteFailed);
    return status;
}

int32_t writeWav(const FuncArgs& args) {
    int16_t bits = 0;
    if (const auto v = realAt(args, 1, 0); !v || !exactInt(*v, bits)) return StatusBadFormat;
    const double scale = realAt(args, 1, 1).value_or(1.0);
    const double rateValue = realAt(args, 1, 2).value_or(44100.0);

    const int channels = args.numArgs() >= 4 ? 2 : 1;
    int64_t count = args.length(2);
    if (channels == 2) count = std::min(count, args.length(3));
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return StatusBadFormat;
    int32_t rate = 0;
    if (!exactInt(rateValue, rate) || rate <= 0) return StatusBadRate;

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
    return writeWavFile(stringOr(args, 0), h, kFullScale / scale, data, channels, count);
}

FUNC_ERROR wavWriteFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setInteger(r, writeWav(a));
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"WAV_CloseFile", {Real},                     {}, 1, 1, handler<wavCloseFile>, "", PyInteger,       Plain},
    {"WAV_OpenFile",  {String, Real},             {}, 1, 2, handler<wavOpenFile>,  "", PyIntegerVector, Plain},
    {"WAV_ReadData",  {Real, Real},               {}, 2, 2, handler<wavReadData>,  "", PyVector,        Plain},
    {"WAV_WriteFile", {String, Real, Real, Real}, {}, 3, 4, handler<wavWriteFile>, "", PyInteger,       Plain},
};
// clang-format on

}  // namespace
