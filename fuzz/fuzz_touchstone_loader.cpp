// The Touchstone loader behind --load and cvfunc.load, and the binding of
// what it loads. The first byte picks the file name's extension, which gives
// the port count of a version 1 file; the rest is the file.
#include <new>

#include "FuzzSupport.h"
#include "Loaders/Loaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::session();
    if (size == 0) return 0;
    static const char* const kNames[] = {"in.s1p", "in.s2p", "in.s3p", "in.s4p", "in.ts", "in.s12p"};
    const char* name = kNames[data[0] % (sizeof kNames / sizeof *kNames)];
    std::string path = fuzz::writeFile(name, {reinterpret_cast<const char*>(data) + 1, size - 1});
    try {
        cv::load::DataSet set = cv::load::loadFile(path);
        cv::Session local;
        local.bindDataSet(set);
    } catch (const cv::load::LoadError&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
