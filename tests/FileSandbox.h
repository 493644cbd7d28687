// A private temporary directory for tests that touch the disk, with HOME,
// the XDG directories, $CVFUNC_HOME and $TMPDIR pointed into it, so that no
// test can reach the user's own files. Everything is removed afterwards.
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
        for (const char* dir : {"home", "home/.config", "tmp", "cvhome", "work"})
            std::filesystem::create_directories(root_ + "/" + dir);
        set("HOME", root_ + "/home");
        set("XDG_CONFIG_HOME", root_ + "/home/.config");
        set("XDG_DATA_HOME", root_ + "/home/.local/share");
        set("CVFUNC_HOME", root_ + "/cvhome");
        set("TMPDIR", root_ + "/tmp");
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

private:
    void set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved_[name] = {old != nullptr, old ? old : ""};
        ::setenv(name, value.c_str(), 1);
    }
    std::string root_;
    std::filesystem::path cwd_;
    std::map<std::string, std::pair<bool, std::string>> saved_;
};

using Texts = std::vector<std::string>;

// The result of a call that returns one string ("" for no result).
inline std::string text(const std::string& name, std::vector<cv::ValuePtr> args) {
    const Outcome o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    if (!o.ok || o.value->kind() != cv::Kind::String || o.value->size() == 0) return {};
    return stringsOf(*o.value)[0];
}
inline std::vector<std::string> texts(const std::string& name, std::vector<cv::ValuePtr> args) {
    const Outcome o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    return o.ok && o.value->kind() == cv::Kind::String ? stringsOf(*o.value) : std::vector<std::string>{};
}
inline double number(const std::string& name, std::vector<cv::ValuePtr> args) {
    const Outcome o = call(name, std::move(args));
    EXPECT_TRUE(o.ok) << name << ": " << o.error;
    return o.ok && o.value->size() > 0 ? o.value->realAt(0) : -999;
}

}  // namespace cvtest
