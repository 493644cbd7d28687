#include "ModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "DynFunctions.h"

namespace cv {

namespace {

std::string directoryOf(const std::string& path) {
    size_t p = path.find_last_of('/');
    return p == std::string::npos ? std::string(".") : path.substr(0, p);
}

bool exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

}  // namespace

std::unique_ptr<Module> Module::load(const std::string& path, std::string& error) {
    dlerror();
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* e = dlerror();
        error = "Cannot load the function module '" + path + "': " + (e ? e : "unknown error");
        return nullptr;
    }
    try {
        cv::resolveDynamicFunctions();
        return std::unique_ptr<Module>(new Module(h, path));
    } catch (...) {
        dlclose(h);  // memory ran out: the module leaves again
        throw;
    }
}

Module::~Module() {
    if (handle_) dlclose(handle_);
}

std::string defaultModulePath() {
    static const char* kName = "libfunctions.so";
    if (const char* env = std::getenv("CVFUNC_MODULE"); env && *env) return env;
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        std::string candidate = directoryOf(exe) + "/" + kName;
        if (exists(candidate)) return candidate;
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&defaultModulePath), &info) && info.dli_fname) {
        std::string candidate = directoryOf(info.dli_fname) + "/" + kName;
        if (exists(candidate)) return candidate;
    }
    return kName;  // let the dynamic loader search
}

}  // namespace cv
