// WAVE files: the chunk walk and header checks are ours, the sample decoding
// is libsndfile's, the writer is ours (see WavFile.h for the sample scaling).
#include "WavFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

constexpr int kMaxChannels = 1024;   // libsndfile refuses more
constexpr size_t kFmtBytesUsed = 40;  // the extensible "fmt " body; later bytes are not needed

uint16_t read16(const unsigned char* p, bool bigEndian) {
    return bigEndian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}
uint32_t read32(const unsigned char* p, bool bigEndian) {
    return bigEndian ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
void put16(unsigned char* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

bool readAt(FILE* f, int64_t pos, void* buf, size_t n) {
    return fseeko(f, off_t(pos), SEEK_SET) == 0 && fread(buf, 1, n, f) == n;
}

int64_t fileLength(FILE* f) {
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    return int64_t(ftello(f));
}

// Bytes one sample occupies in the file; 0 when the header is unusable.
int sampleWidth(const WavHeader& h) {
    if (h.formatTag == 1) return h.bitsPerSample >= 1 && h.bitsPerSample <= 32 ? (h.bitsPerSample + 7) / 8 : 0;
    if (h.formatTag == 3) return h.bitsPerSample == 32 || h.bitsPerSample == 64 ? h.bitsPerSample / 8 : 0;
    return 0;
}

// libsndfile reads through the caller's FILE, so the file stays opened and
// closed by the caller as the script functions require.
sf_count_t vioLength(void* user) {
    FILE* f = static_cast<FILE*>(user);
    const off_t here = ftello(f);
    const int64_t n = fileLength(f);
    fseeko(f, here, SEEK_SET);
    return n;
}
sf_count_t vioSeek(sf_count_t offset, int whence, void* user) {
    FILE* f = static_cast<FILE*>(user);
    if (fseeko(f, off_t(offset), whence) != 0) return -1;
    return ftello(f);
}
sf_count_t vioRead(void* ptr, sf_count_t count, void* user) {
    return count <= 0 ? 0 : sf_count_t(fread(ptr, 1, size_t(count), static_cast<FILE*>(user)));
}
sf_count_t vioWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t vioTell(void* user) { return ftello(static_cast<FILE*>(user)); }

struct SndFileCloser {
    SNDFILE* s;
    ~SndFileCloser() {
        if (s) sf_close(s);
    }
};

int32_t floatToFullScale(double x) {
    if (std::isnan(x)) return 0;
    const double y = std::round(x * 2147483647.0);
    if (y >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (y <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return int32_t(y);
}

// Reads `frames` frames into `out`, picking channels `left` and `right` of
// each frame. Sample values come as T (int: already left-justified to 32 bits
// by libsndfile; double: -1..1).
template <class T, class Read, class Convert>
bool readFrames(SNDFILE* s, int channels, int left, int right, int64_t frames, WavSample* out, Read read,
                Convert convert) {
    const int64_t chunk = std::max<int64_t>(1, 16384 / channels);
    std::vector<T> buf(size_t(chunk * channels));
    for (int64_t done = 0; done < frames;) {
        const int64_t n = std::min(chunk, frames - done);
        if (read(s, buf.data(), sf_count_t(n * channels)) != sf_count_t(n * channels)) return false;
        const T* p = buf.data();
        WavSample* o = out + done;
        for (int64_t i = 0; i < n; ++i) {
            o[i].left = convert(p[i * channels + left]);
            o[i].right = convert(p[i * channels + right]);
        }
        done += n;
    }
    return true;
}

bool loadSamples(FILE* file, const WavHeader& h, YVector<WavSample>& samples, int option) {
    if (!file || Wav_CheckHeader(h) != WavOk) return false;
    if (option < 0 || option >= h.channels) return false;
    if (fseeko(file, 0, SEEK_SET) != 0) return false;

    SF_VIRTUAL_IO io{vioLength, vioSeek, vioRead, vioWrite, vioTell};
    SF_INFO info{};
    SndFileCloser sf{sf_open_virtual(&io, SFM_READ, &info, file)};
    if (!sf.s) return false;

    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) return false;
    int width = 0;
    bool isFloat = false;
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8: case SF_FORMAT_PCM_U8: width = 1; break;
    case SF_FORMAT_PCM_16: width = 2; break;
    case SF_FORMAT_PCM_24: width = 3; break;
    case SF_FORMAT_PCM_32: width = 4; break;
    case SF_FORMAT_FLOAT: width = 4; isFloat = true; break;
    case SF_FORMAT_DOUBLE: width = 8; isFloat = true; break;
    default: return false;
    }
    // The decoder must see the data as the header describes it; otherwise the
    // values would be read with another layout than the one declared.
    if (info.channels != h.channels || info.samplerate != int(h.sampleRate) ||
        int64_t(width) * h.channels != h.blockAlign || isFloat != (h.formatTag == 3))
        return false;

    // A data chunk that promises more than the file holds is a damaged file,
    // not a shorter recording.
    const int64_t frames = int64_t(h.dataSize / h.blockAlign);
    if (info.frames < frames) return false;

    const int left = option;
    const int right = option + 1 < h.channels ? option + 1 : option;
    try {
        samples.clear();
        samples.resize(size_t(frames));
        bool ok;
        if (isFloat) {
            sf_command(sf.s, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
            ok = readFrames<double>(sf.s, h.channels, left, right, frames, samples.data(), sf_read_double,
                                    floatToFullScale);
        } else {
            ok = readFrames<int>(sf.s, h.channels, left, right, frames, samples.data(), sf_read_int,
                                 [](int v) { return int32_t(v); });
        }
        if (!ok) samples.clear();
        return ok;
    } catch (const std::bad_alloc&) {
        samples.clear();
        return false;
    } catch (const std::length_error&) {
        samples.clear();
        return false;
    }
}

// One b-bit sample from a value at full scale 2147483647.
template <int Bits>
int32_t quantise(double v) {
    constexpr double step = double(1LL << (32 - Bits));
    constexpr double hi = double((1LL << (Bits - 1)) - 1);
    constexpr double lo = -double(1LL << (Bits - 1));
    if (std::isnan(v)) return 0;
    const double q = std::round(v / step);
    return q >= hi ? int32_t(hi) : q <= lo ? int32_t(lo) : int32_t(q);
}

template <int Bits>
void encodeFrames(const double* const* data, int channels, double scale, int64_t first, int64_t n,
                  unsigned char* out) {
    constexpr int bytes = Bits / 8;
    for (int64_t i = 0; i < n; ++i) {
        for (int c = 0; c < channels; ++c) {
            const int32_t q = quantise<Bits>(data[c][first + i] * scale);
            // Little-endian two's complement, except 8-bit data, which is unsigned.
            const uint32_t u = Bits == 8 ? uint32_t(q + 128) : uint32_t(q);
            for (int k = 0; k < bytes; ++k) out[k] = uint8_t(u >> (8 * k));
            out += bytes;
        }
    }
}

}  // namespace

bool Wav_LoadHeader(FILE* file, WavHeader& header) {
    if (!file) return false;
    unsigned char riff[12];
    if (!readAt(file, 0, riff, sizeof riff)) return false;
    bool big;
    if (std::memcmp(riff, "RIFF", 4) == 0)
        big = false;
    else if (std::memcmp(riff, "RIFX", 4) == 0)
        big = true;
    else
        return false;
    if (std::memcmp(riff + 8, "WAVE", 4) != 0) return false;
    const int64_t length = fileLength(file);
    if (length < 0) return false;

    WavHeader h;
    h.riffSize = read32(riff + 4, big);
    bool haveFmt = false;
    // Every chunk moves the walk forward by at least 8 bytes, so it ends at
    // the end of the file whatever sizes the chunks claim.
    for (int64_t pos = 12; pos + 8 <= length;) {
        unsigned char chunk[8];
        if (!readAt(file, pos, chunk, sizeof chunk)) return false;
        const uint32_t size = read32(chunk + 4, big);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16) return false;
            unsigned char fmt[kFmtBytesUsed] = {};
            const size_t n = std::min<size_t>(size, kFmtBytesUsed);
            if (!readAt(file, pos + 8, fmt, n)) return false;
            h.fmtSize = size;
            h.formatTag = read16(fmt, big);
            h.channels = read16(fmt + 2, big);
            h.sampleRate = read32(fmt + 4, big);
            h.byteRate = read32(fmt + 8, big);
            h.blockAlign = read16(fmt + 12, big);
            h.bitsPerSample = read16(fmt + 14, big);
            // An extensible header names its real format in the first two
            // bytes of its sub-format GUID; without one it stays 0xFFFE and is
            // refused as unsupported.
            if (h.formatTag == 0xFFFE && n >= 40 && read16(fmt + 16, big) >= 22) h.formatTag = read16(fmt + 24, big);
            haveFmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFmt) return false;
            h.dataSize = size;
            header = h;
            return true;
        }
        pos += 8 + int64_t(size) + (size & 1);
    }
    return false;
}

WAV_Error Wav_CheckHeader(const WavHeader& h) {
    if (h.formatTag != 1 && h.formatTag != 3) return WavUnsupportedFormat;
    if (h.channels == 0 || h.channels > kMaxChannels) return WavBadChannelCount;
    if (h.sampleRate == 0 || h.sampleRate > uint32_t(std::numeric_limits<int32_t>::max())) return WavBadSampleRate;
    const int width = sampleWidth(h);
    if (width == 0) return WavBadBitsPerSample;
    if (uint32_t(h.blockAlign) != uint32_t(width) * h.channels) return WavBadBlockAlign;
    return WavOk;
}

bool Wav_LoadSamples(FILE* file, const WavHeader& header, YVector<WavSample>& samples, int option) {
    const bool ok = loadSamples(file, header, samples, option);
    if (!ok) samples.clear();
    return ok;
}

bool Wav_WriteHeader(FILE* file, const WavHeader& h) {
    if (!file) return false;
    unsigned char b[44];
    std::memcpy(b, "RIFF", 4);
    put32(b + 4, h.riffSize);
    std::memcpy(b + 8, "WAVEfmt ", 8);
    put32(b + 16, h.fmtSize);
    put16(b + 20, h.formatTag);
    put16(b + 22, h.channels);
    put32(b + 24, h.sampleRate);
    put32(b + 28, h.byteRate);
    put16(b + 32, h.blockAlign);
    put16(b + 34, h.bitsPerSample);
    std::memcpy(b + 36, "data", 4);
    put32(b + 40, h.dataSize);
    return fwrite(b, 1, sizeof b, file) == sizeof b;
}

WriteSamplesStatus Wav_WriteSamples(FILE* file, const WavHeader& h, double scale, const double* const* data,
                                    int channels, int64_t count) {
    const int bits = h.bitsPerSample;
    if (!file || channels < 1 || channels > 2 || count < 0 || h.channels != channels) return WavWriteBadRequest;
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return WavWriteBadRequest;
    const int frameBytes = channels * bits / 8;
    if (h.blockAlign != frameBytes || uint64_t(count) * uint64_t(frameBytes) != h.dataSize) return WavWriteBadRequest;
    if (count == 0) return WavWriteOk;
    if (!data) return WavWriteBadRequest;
    for (int c = 0; c < channels; ++c)
        if (!data[c]) return WavWriteBadRequest;

    constexpr int64_t chunk = 4096;
    std::vector<unsigned char> buf(size_t(chunk * frameBytes));
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min(chunk, count - done);
        switch (bits) {
        case 8: encodeFrames<8>(data, channels, scale, done, n, buf.data()); break;
        case 16: encodeFrames<16>(data, channels, scale, done, n, buf.data()); break;
        case 24: encodeFrames<24>(data, channels, scale, done, n, buf.data()); break;
        default: encodeFrames<32>(data, channels, scale, done, n, buf.data()); break;
        }
        const size_t bytes = size_t(n * frameBytes);
        if (fwrite(buf.data(), 1, bytes, file) != bytes) return WavWriteFailed;
        done += n;
    }
    return WavWriteOk;
}
