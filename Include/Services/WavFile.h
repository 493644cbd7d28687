// WAVE audio files: header, samples, and the status codes of both directions.
//
// Reading walks the RIFF chunks itself (so that it knows what the file
// declares, and can refuse a header that contradicts itself or data that the
// file does not hold) and decodes the samples with libsndfile (so that
// extensible headers, 8-bit unsigned, 20/24/32-bit and float data and unknown
// chunks load). Writing produces the canonical 44-byte PCM header by hand, so
// the bytes are exactly those of the header record.
//
// Samples are held as WavSample at full scale 2147483647 whatever the file's
// bit depth:
//  - integer PCM of b bits is left-justified into 32 bits: sample << (32 - c),
//    c the container width in bits (8-bit data is unsigned, 128 is zero);
//    so a 16-bit 32767 becomes 2147418112 and -32768 becomes -2147483648;
//  - float data x becomes round(x * 2147483647), clipped to the int32 range
//    (NaN becomes 0); 1.0 is 2147483647, -1.0 is -2147483647.
// Writing turns a double v (already multiplied by the caller's scale, so
// 2147483647 is full scale) into a b-bit sample round(v / 2^(32 - b)),
// clipped to the b-bit range (NaN becomes 0); 8-bit samples are stored
// unsigned (+128).
#pragma once
#include <cstdint>
#include <cstdio>

#include "YContainers.h"

// The values of a PCM WAVE header, in the order of the canonical header.
// Read from a file, the fields are the file's own, except the format tag,
// which for an extensible header is that of its sub-format (1 PCM, 3 float).
struct WavHeader {
    uint32_t riffSize = 0;       // bytes after the RIFF size field: data size + 36 when canonical
    uint32_t fmtSize = 16;       // bytes of the "fmt " chunk
    uint16_t formatTag = 1;      // 1 integer PCM, 3 IEEE float
    uint16_t channels = 0;
    uint32_t sampleRate = 0;     // frames per second
    uint32_t byteRate = 0;       // sampleRate * blockAlign
    uint16_t blockAlign = 0;     // bytes per frame
    uint16_t bitsPerSample = 0;
    uint32_t dataSize = 0;       // bytes of sample data
};

// One frame: the left and the right channel, full scale 2147483647. A mono
// file gives the same value in both.
struct WavSample {
    int32_t left = 0;
    int32_t right = 0;
};

// Why a header read from a file is not usable (Wav_CheckHeader). The values
// lie apart from the script functions' own status codes so that both can be
// reported through one number.
enum WAV_Error : int32_t {
    WavOk = 0,
    WavUnsupportedFormat = 20,   // neither integer PCM nor IEEE float (e.g. mu-law, ADPCM)
    WavBadChannelCount = 21,     // no channels, or more than libsndfile reads (1024)
    WavBadSampleRate = 22,       // 0, or beyond the signed 32-bit range
    WavBadBitsPerSample = 23,    // integer PCM outside 1..32 bits, float other than 32 or 64
    WavBadBlockAlign = 24,       // bytes per frame do not match channels x sample width
};

// Outcome of Wav_WriteSamples.
enum WriteSamplesStatus : int32_t {
    WavWriteOk = 0,
    WavWriteFailed = 30,         // the operating system refused some of the bytes
    WavWriteBadRequest = 31,     // header and arguments disagree (bits, channels, count, null data)
};

// Loader options (Wav_LoadSamples): the option is the index of the file's
// channel that becomes the left channel; the one after it, when the file has
// it, becomes the right channel, otherwise the right repeats the left.
// 0 loads channels 0 and 1.

// Reads the header of an open file (any position; it rewinds). False when
// the file is not a RIFF/RIFX WAVE file, has no "fmt " chunk of at least 16
// bytes, or no "data" chunk after it.
bool Wav_LoadHeader(FILE* file, WavHeader& header);
// WavOk when the samples described by the header can be loaded.
WAV_Error Wav_CheckHeader(const WavHeader& header);
// Replaces `samples` with every frame of the file's data chunk. False (and
// `samples` empty) when the header is not usable, the option names no
// channel, the file holds fewer frames than its data chunk declares, the
// decoder disagrees with the header, or memory runs out.
bool Wav_LoadSamples(FILE* file, const WavHeader& header, YVector<WavSample>& samples, int option);

// Writes the canonical 44-byte header at the file's current position.
bool Wav_WriteHeader(FILE* file, const WavHeader& header);
// Writes `count` frames of `channels` (1 or 2) channels: data[c][i] * scale
// is the value at full scale 2147483647, converted to header.bitsPerSample
// (8, 16, 24 or 32) as described above. The header must describe exactly
// this data (channels, bits, block align, data size).
WriteSamplesStatus Wav_WriteSamples(FILE* file, const WavHeader& header, double scale, const double* const* data,
                                    int channels, int64_t count);
