// Loads the function module with dlopen and unloads it with dlclose: loading
// runs its static registration objects, unloading their destructors.
#pragma once
#include <memory>
#include <string>

namespace cv {

class Module {
public:
    // Null with `error` set when the library cannot be loaded.
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    const std::string& path() const noexcept { return path_; }

private:
    Module(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    void* handle_;
    std::string path_;
};

// $CVFUNC_MODULE when set; else libfunctions.so beside the executable, or
// beside the host library itself (for the Python extension).
std::string defaultModulePath();

}  // namespace cv
