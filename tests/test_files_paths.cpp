// The UTF-8 file helpers, in a sandbox. How paths split is checked against
// os.path in tests/python/test_files_peers.py.
#include <cerrno>
#include <cstdio>
#include <string>

#include "FileSandbox.h"
#include "FileUtil.h"

TEST(FileUtf8, WindowsModesErrorsAndUnlink) {
    cvtest::FileSandbox box;
    const std::string file = box.write("work/data.txt", "data");
    FILE* f = nullptr;
    EXPECT_EQ(fopen_s_utf8(&f, file.c_str(), "rtN, ccs=UTF-8"), 0);
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, 4, f), 4u);
    EXPECT_STREQ(buf, "data");
    std::fclose(f);
    EXPECT_NE(fopen_s_utf8(&f, "/nonexistent/dir/file", "r"), 0);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(fopen_utf8(nullptr, "r"), nullptr);
    EXPECT_EQ(fopen_utf8(file.c_str(), "t"), nullptr);  // no r, w or a
    EXPECT_EQ(fopen_s_utf8(nullptr, file.c_str(), "r"), EINVAL);

    const std::string path = box.path("work/unlink_\xC3\xA9.txt");  // UTF-8 name
    ASSERT_NE(f = fopen_utf8(path.c_str(), "wb"), nullptr);
    std::fclose(f);
    EXPECT_EQ(unlink_utf8(path.c_str()), 0);
    EXPECT_EQ(fopen_utf8(path.c_str(), "r"), nullptr);
    EXPECT_EQ(unlink_utf8(path.c_str()), -1);
    EXPECT_EQ(unlink_utf8(nullptr), -1);
}
