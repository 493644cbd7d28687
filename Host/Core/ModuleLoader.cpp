#include "ModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include <list>
#include <mutex>
#include <string_view>

#include "DynFunctions.h"
#include "FunctionTable.h"

namespace cv {

namespace {

std::string directoryOf(const std::string& path) {
    size_t p = path.find_last_of('/');
    return p == std::string::npos ? std::string(".") : path.substr(0, p);
}

bool exists(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// "libmeasure.so" -> "measure". Names live as long as the process: the
// function table keeps pointers to them.
const char* moduleName(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (name.starts_with("lib")) name.erase(0, 3);
    if (const size_t dot = name.find(".so"); dot != std::string::npos) name.erase(dot);
    static std::mutex lock;
    static std::list<std::string> names;
    std::lock_guard<std::mutex> hold(lock);
    for (const std::string& n : names)
        if (n == name) return n.c_str();
    return names.emplace_back(std::move(name)).c_str();
}

// libfunctions.so beside the executable, or beside the host library.
std::string functionsModulePath() {
    static const char* kName = "libfunctions.so";
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        std::string candidate = directoryOf(exe) + "/" + kName;
        if (exists(candidate)) return candidate;
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&functionsModulePath), &info) && info.dli_fname) {
        std::string candidate = directoryOf(info.dli_fname) + "/" + kName;
        if (exists(candidate)) return candidate;
    }
    return kName;  // let the dynamic loader search
}

}  // namespace

std::unique_ptr<Module> Module::load(const std::string& path, std::string& error) {
    const char* name = moduleName(path);
    dlerror();
    FunctionTable::global().setLoadingModule(name);
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    FunctionTable::global().setLoadingModule(nullptr);
    if (!h) {
        const char* e = dlerror();
        error = "Cannot load the function module '" + path + "': " + (e ? e : "unknown error");
        return nullptr;
    }
    try {
        cv::resolveDynamicFunctions();
        return std::unique_ptr<Module>(new Module(h, path, name));
    } catch (...) {
        dlclose(h);  // memory ran out: the module leaves again
        throw;
    }
}

Module::~Module() {
    if (handle_) dlclose(handle_);
}

std::vector<std::string> defaultModulePaths() {
    std::vector<std::string> paths;
    if (const char* env = std::getenv("CVFUNC_MODULE"); env && *env) {
        for (std::string_view rest = env; !rest.empty();) {
            const size_t colon = rest.find(':');
            if (colon) paths.emplace_back(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
        return paths;
    }
    paths.push_back(functionsModulePath());
    if (const std::string measure = directoryOf(paths[0]) + "/libmeasure.so"; paths[0].find('/') != std::string::npos && exists(measure))
        paths.push_back(measure);
    return paths;
}

}  // namespace cv
