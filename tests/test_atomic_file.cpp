// Whole-file replacement and the directory lock behind every settings writer.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "AtomicFile.h"
#include "FileSandbox.h"

using cvtest::FileSandbox;

TEST(AtomicFile, ReplacesThroughLinksKeepingModeAndLeavesNoTemporaryFile) {
    FileSandbox box;
    const std::string real = box.write("data/real.ini", "old");
    ::chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, box.path("link.ini"));
    ASSERT_TRUE(cv::writeFileAtomic(box.path("link.ini"), "new contents"));
    EXPECT_TRUE(std::filesystem::is_symlink(box.path("link.ini")));
    EXPECT_EQ(FileSandbox::read(real), "new contents");
    struct stat st {};
    ::stat(real.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(box.path("data")), {}), 1);
}

TEST(AtomicFile, AFailedWriteSaysWhyAndTouchesNothing) {
    FileSandbox box;
    std::string why;
    EXPECT_FALSE(cv::writeFileAtomic(box.path("missing/dir/x.ini"), "x", &why));
    EXPECT_NE(why.find("missing/dir/x.ini"), std::string::npos) << why;
    EXPECT_FALSE(cv::writeFileAtomic("", "x"));
}

// Two processes each append their own lines to one file under the lock:
// without it, one's rename would throw away the other's additions.
TEST(AtomicFile, ConcurrentReadModifyWriteKeepsEveryChange) {
    FileSandbox box;
    const std::string file = box.write("shared.txt", "");
    constexpr int kRounds = 150;
    auto work = [&](char tag) {
        for (int i = 0; i < kRounds; ++i) {
            DirectoryUpdateLock lock(file);
            if (!lock.locked()) return false;
            std::string text = FileSandbox::read(file);
            text += tag;
            if (!cv::writeFileAtomic(file, text)) return false;
        }
        return true;
    };
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work('b') ? 0 : 1);
    const bool mine = work('a');
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(mine);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string text = FileSandbox::read(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), 'a'), kRounds);
    EXPECT_EQ(std::count(text.begin(), text.end(), 'b'), kRounds);
}

// A writer killed before its rename leaves TARGET.~PID.N.tmp behind; the next
// process to write there removes it, and nothing else.
TEST(AtomicFile, AWriteRemovesTemporaryFilesOfDeadWritersOnly) {
    FileSandbox box;
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);  // a process id that is now free
    const std::string dead = std::to_string(child), self = std::to_string(::getpid());
    const std::vector<std::string> orphans = {"x.ini.~" + dead + ".3.tmp", "other.wav.~" + dead + ".0.tmp"};
    const std::vector<std::string> kept = {"x.ini.~" + self + ".9.tmp", "x.ini.~1.0.tmp", "notes.~" + dead + ".tmp",
                                           "x.ini.~" + dead + ".3.tmp.bak", "user.~" + dead + ".x.tmp"};
    for (const auto& name : orphans) box.write(name, "half");
    for (const auto& name : kept) box.write(name, "mine");
    std::filesystem::create_directory(box.path("dir.~" + dead + ".1.tmp"));
    ASSERT_TRUE(cv::writeFileAtomic(box.path("x.ini"), "new"));
    for (const auto& name : orphans) EXPECT_FALSE(std::filesystem::exists(box.path(name))) << name;
    for (const auto& name : kept) EXPECT_EQ(FileSandbox::read(box.path(name)), "mine") << name;
    EXPECT_TRUE(std::filesystem::is_directory(box.path("dir.~" + dead + ".1.tmp")));
    EXPECT_EQ(FileSandbox::read(box.path("x.ini")), "new");
}
