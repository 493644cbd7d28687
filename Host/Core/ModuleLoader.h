// Loads a function module with dlopen and unloads it with dlclose: loading
// runs its static registration objects, unloading their destructors. The
// host has two modules, `functions` (libfunctions.so) and `measure`
// (libmeasure.so); the function table records which one registered each
// function.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace cv {

class Module {
public:
    // Null with `error` set when the library cannot be loaded.
    static std::unique_ptr<Module> load(const std::string& path, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    const std::string& path() const noexcept { return path_; }
    // The module's name: its file name without "lib" and ".so".
    const char* name() const noexcept { return name_; }

private:
    Module(void* handle, std::string path, const char* name) : handle_(handle), path_(std::move(path)), name_(name) {}
    void* handle_;
    std::string path_;
    const char* name_;
};

// The modules to load when none is named: the paths in $CVFUNC_MODULE
// (separated by ':') when it is set; else libfunctions.so beside the
// executable, or beside the host library itself (for the Python extension),
// and libmeasure.so where it lies beside that.
std::vector<std::string> defaultModulePaths();

}  // namespace cv
