// The CSV loader, the binding of what it loads into a session's vectors, and each column
// read alone as a session reads it when first used.
#include <new>

#include "FuzzSupport.h"
#include "LoaderChecks.h"
#include "Loaders/Loaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::session();
    std::string path = fuzz::writeFile("in.csv", {reinterpret_cast<const char*>(data), size});
    try {
        cv::load::DataSet set = cv::load::loadCsv(path);
        cv::Session local;
        local.bindDataSet(set);
        fuzz::checkColumnsAlone(path, set, cv::load::detail::openCsv);
    } catch (const cv::load::LoadError&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
