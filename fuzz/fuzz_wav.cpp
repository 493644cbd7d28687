// The WAVE header reader, its check, and the sample reader; the first byte
// chooses the channel option, the rest is the file.
#include "FuzzSupport.h"
#include "WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    int option = int(in.u8() % 4) - 1;
    std::string path = fuzz::writeFile("in.wav", in.rest());
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::abort();
    WavHeader h;
    if (Wav_LoadHeader(f, h) && Wav_CheckHeader(h) == WavOk) {
        YVector<WavSample> samples;
        Wav_LoadSamples(f, h, samples, option);
    }
    std::fclose(f);
    return 0;
}
