// The UTF-8 file helpers. How paths split is checked against os.path in
// tests/python/test_files_peers.py.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "FileUtil.h"

namespace {

// A temporary file that removes itself.
struct TempFile {
    explicit TempFile(const std::string& content) {
        static int counter = 0;
        name = "/tmp/cvfunc_files_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
        std::ofstream(name, std::ios::binary) << content;
    }
    ~TempFile() { unlink(name.c_str()); }
    const char* path() const { return name.c_str(); }
    std::string name;
};

}  // namespace

TEST(FileUtf8, WindowsModesErrorsAndUnlink) {
    TempFile file("data");
    FILE* f = nullptr;
    EXPECT_EQ(fopen_s_utf8(&f, file.path(), "rtN, ccs=UTF-8"), 0);
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, 4, f), 4u);
    EXPECT_STREQ(buf, "data");
    std::fclose(f);
    EXPECT_NE(fopen_s_utf8(&f, "/nonexistent/dir/file", "r"), 0);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(fopen_utf8(nullptr, "r"), nullptr);
    EXPECT_EQ(fopen_utf8(file.path(), "t"), nullptr);  // no r, w or a
    EXPECT_EQ(fopen_s_utf8(nullptr, file.path(), "r"), EINVAL);

    const std::string path = std::string(::testing::TempDir()) + "cvfunc_unlink_\xC3\xA9.txt";  // UTF-8 name
    ASSERT_NE(f = fopen_utf8(path.c_str(), "wb"), nullptr);
    std::fclose(f);
    EXPECT_EQ(unlink_utf8(path.c_str()), 0);
    EXPECT_EQ(fopen_utf8(path.c_str(), "r"), nullptr);
    EXPECT_EQ(unlink_utf8(path.c_str()), -1);
    EXPECT_EQ(unlink_utf8(nullptr), -1);
}

