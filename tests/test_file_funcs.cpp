// File reading, file facts and locks, through the function table, inside a
// sandbox. Digests and stamps are checked against hashlib in
// tests/python/test_files_peers.py.
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "FileSandbox.h"
#include "Events.h"

namespace fs = std::filesystem;
using namespace cvtest;  // the call helpers and FileSandbox

TEST(FileReading, ReadFileLineRulesTable) {
    FileSandbox box;
    const std::pair<std::string, Texts> cases[] = {
        {"one", {"one"}},               {"\n", {""}},
        {"a\n\nb", {"a", "", "b"}},     {"x\ry\n", {"xy"}},       {"a\n\n", {"a", ""}},
    };
    for (const auto& [content, want] : cases) {
        const std::string p = box.write("work/f.txt", content);
        EXPECT_EQ(texts("ReadFile", {str(p)}), want) << content;
    }
    box.write("work/empty", "");
    EXPECT_TRUE(cvtest::noResult(cvtest::call("ReadFile", {str("empty")})));
    // Code page 1252: each of these bytes becomes two or three bytes of UTF-8.
    box.write("work/cp", std::string("\xE9\xE8\n\x80", 4));
    EXPECT_EQ(texts("ReadFile", {str("cp"), str("MBCS"), str("1252")}), (Texts{"\xC3\xA9\xC3\xA8", "\xE2\x82\xAC"}));
    EXPECT_FALSE(cvtest::call("ReadFile", {str("cp"), str("mbcs"), str("99999")}).ok);
}

TEST(FileReading, ReadFileSaysWhyItCannotOpen) {
    FileSandbox box;
    fs::create_directory(box.path("work/d"));
    ::mkfifo(box.path("work/fifo").c_str(), 0600);
    const std::pair<const char*, const char*> cases[] = {
        {"missing.txt", "does not exist"}, {"d", "is a directory"}, {"fifo", "pipe"},
        {"/dev/zero", "device"},           {"nodir/x", "folder 'nodir' does not exist"}};
    for (const auto& [path, why] : cases) {
        const auto o = cvtest::call("ReadFile", {str(path)});
        EXPECT_FALSE(o.ok) << path;
        EXPECT_NE(o.error.find(why), std::string::npos) << o.error;
    }
    // A sparse file that claims more than the machine's memory: refused at once.
    {
        std::ofstream(box.path("work/huge"));
        fs::resize_file(box.path("work/huge"), uintmax_t(1) << 42);
        const auto o = cvtest::call("ReadFile", {str("huge")});
        EXPECT_NE(o.error.find("too large"), std::string::npos) << o.error;
    }
    // The same files elsewhere: no result or an empty list, never a wait.
    for (const char* path : {"d", "fifo", "/dev/zero", "huge"}) {
        EXPECT_TRUE(cvtest::noResult(cvtest::call("GetMD5", {str(path)}))) << path;
        EXPECT_TRUE(cvtest::noResult(cvtest::call("FilterFile", {str(path), strings({"x"})}))) << path;
        EXPECT_TRUE(texts("ReadSpiceFile", {str(path)}).empty()) << path;
        EXPECT_EQ(number("CanOpenFile", {str(path)}), path[0] == 'd' ? 0 : 1) << path;
        EXPECT_EQ(text("GetFileStamp", {strings({path})}), text("GetMD5String", {str("file-didnt-open")}));
    }
}

TEST(FileReading, FilterFileComparesWholeFirstTokens) {
    FileSandbox box;
    const std::string p = box.write("work/n.cir", "R1 a b 1k\nr  x\n\n C1 a 0 1p\n+ ic=0\nR\tstrip me\n");
    // Whole first tokens, ignoring case: against Python in the peers.
    EXPECT_EQ(texts("FilterFile", {str(p), strings({"r"}), strings({"STRIP"})}), (Texts{"x", "strip me"}));
    EXPECT_EQ(texts("FilterFile", {str(p), strings({"c1"}), strings({"spice"})}), (Texts{"C1 a 0 1p ic=0"}));
    EXPECT_EQ(texts("FilterFile", {str(p), strings({"c1"})}), (Texts{" C1 a 0 1p"}));
    EXPECT_TRUE(cvtest::noResult(cvtest::call("FilterFile", {str(p), strings({"R2"})})));
}

TEST(FileReading, NetlistsAndDirectoriesOfFiles) {
    FileSandbox box;
    const std::string p = box.write("work/deck.cir", "* title\nV1 1 0 1 ; source\n.include other.lib\n+ more\n");
    EXPECT_EQ(texts("ReadSpiceFile", {str(p), str("skipcomments")}), (Texts{"V1 1 0 1", ".include other.lib more"}));
    // Thousands of continuation lines, a NUL byte and one very long line: linear, no over-read.
    std::string big = "R1 a b";
    for (int k = 0; k < 20000; ++k) big += "\n+ p" + std::to_string(k) + "=1";
    big += "\nX";
    big += std::string(1, '\0');
    big += "Y\n" + std::string(5'000'000, 'z') + "\n";
    box.write("work/big.cir", big);
    const Texts lines = texts("ReadSpiceFile", {str("big.cir")});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 9), " p19999=1");
    EXPECT_EQ(lines[1], "X");  // a script string ends at its NUL
    EXPECT_EQ(lines[2].size(), 5'000'000u);

    box.write("work/lib/a.txt", "# note\nline a\n\n");
    box.write("work/lib/b.txt", "line b\n");
    fs::create_directory(box.path("work/lib/sub"));
    EXPECT_EQ(texts("_LoadFiles", {str("lib"), str("#")}), (Texts{"line a", "line b"}));
    EXPECT_EQ(texts("_LoadFiles", {str("lib")}).size(), 3u);
}

TEST(FileFacts, GetFileInfoAndCanOpenFile) {
    FileSandbox box;
    const std::string p = box.write("work/f", "12345");
    const Texts info = texts("GetFileInfo", {str("f")});
    ASSERT_EQ(info.size(), 5u);
    EXPECT_EQ(info[1], "5");
    EXPECT_EQ(info[2], p);
    EXPECT_EQ(info[4], "false");
    EXPECT_EQ(texts("GetFileInfo", {str(".")})[4], "true");
    EXPECT_EQ(number("CanOpenFile", {str("f")}), 1);
    EXPECT_EQ(number("CanOpenFile", {str("f"), str("READ")}), 1);
    EXPECT_EQ(number("CanOpenFile", {str("f"), str("write")}), 1);
    EXPECT_EQ(FileSandbox::read(p), "12345");  // not truncated
    fs::create_symlink(p, box.path("work/ln"));
    EXPECT_EQ(number("CanOpenFile", {str("ln"), str("write")}), 1);
    EXPECT_EQ(number("CanOpenFile", {str("new"), str("write")}), 1);
    EXPECT_FALSE(fs::exists(box.path("work/new")));
    EXPECT_EQ(number("CanOpenFile", {str("nodir/new"), str("write")}), 0);
}

TEST(Locks, TableLifeCycle) {
    FileSandbox box;
    const std::string p = box.path("work/l.lock");
    EXPECT_EQ(text("CreateLockFile", {str(p), strings({"unlock"})}), "notexist");
    EXPECT_EQ(text("CreateLockFile", {str(p), strings({"lock"})}), "success");
    EXPECT_EQ(text("CreateLockFile", {str(p), strings({"LOCK"})}), "locked");
    // Held here, so a write test in this very process cannot take it either.
    EXPECT_EQ(number("CanOpenFile", {str(p), str("write")}), 0);
    EXPECT_EQ(text("CreateLockFile", {str(p), strings({"unlock"})}), "success");
    EXPECT_EQ(number("CanOpenFile", {str(p), str("write")}), 1);

    // Auto-delete locks end with the call, others outlive it: the peers.
    EXPECT_EQ(text("CreateLockFile", {str(p), strings({"lock"})}), "success");
    cv::Events::global().fire("ExitCli");
    EXPECT_EQ(text("CreateLockFile", {str(p), strings({"lock"})}), "success");
    cv::Events::global().fire("ExitCli");
    EXPECT_TRUE(fs::exists(p));  // a lock file is never removed
}
