// A private temporary directory for tests that touch the disk, with HOME,
// the XDG directories, $CVFUNC_HOME, the system settings directory
// ($CVFUNC_SYSCONF) and $TMPDIR pointed into it, so that no test can reach
// the user's own files. Everything is removed afterwards.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "TestHost.h"

namespace cvtest {

class FileSandbox {
public:
    FileSandbox() {
        std::string tmpl = std::filesystem::temp_directory_path().string() + "/cvfunc_sandbox_XXXXXX";
        root_ = ::mkdtemp(tmpl.data());
        for (const char* dir : {"home", "home/.config", "tmp", "cvhome", "etc", "work"})
            std::filesystem::create_directories(root_ + "/" + dir);
        setEnv("HOME", root_ + "/home");
        setEnv("XDG_CONFIG_HOME", root_ + "/home/.config");
        setEnv("XDG_DATA_HOME", root_ + "/home/.local/share");
        setEnv("CVFUNC_HOME", root_ + "/cvhome");
        setEnv("CVFUNC_SYSCONF", root_ + "/etc");
        setEnv("TMPDIR", root_ + "/tmp");
        cwd_ = std::filesystem::current_path();
        std::filesystem::current_path(root_ + "/work");
    }
    ~FileSandbox() {
        std::filesystem::current_path(cwd_);
        for (const auto& [name, value] : saved_) {
            if (value.first) ::setenv(name.c_str(), value.second.c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        std::error_code ec;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(root_, ec);
    }
    const std::string& root() const { return root_; }
    std::string path(const std::string& rel) const { return root_ + "/" + rel; }
    std::string write(const std::string& rel, const std::string& content) const {
        const std::string p = path(rel);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    static std::string read(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Sets or clears a variable for the sandbox's life; the value it had
    // before the sandbox comes back afterwards.
    void setEnv(const char* name, const std::string& value) {
        save(name);
        ::setenv(name, value.c_str(), 1);
    }
    void unsetEnv(const char* name) {
        save(name);
        ::unsetenv(name);
    }

private:
    void save(const char* name) {
        const char* old = std::getenv(name);
        saved_.try_emplace(name, old != nullptr, old ? old : "");
    }
    std::string root_;
    std::filesystem::path cwd_;
    std::map<std::string, std::pair<bool, std::string>> saved_;
};

}  // namespace cvtest
