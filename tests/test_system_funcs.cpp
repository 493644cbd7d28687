// System functions: clocks and system facts, the clipboard through its helper
// programs, named mutexes within the process (across processes: pytest), and
// the mended faults of Sleep. Tests that touch the disk run in a sandbox.
#include <chrono>
#include <cmath>
#include <regex>
#include <thread>

#include "FileSandbox.h"
#include "NamedMutex.h"

namespace {

namespace fs = std::filesystem;
using namespace cvtest;  // the call helpers and FileSandbox

cv::ValuePtr N(double v) { return reals({v}); }

// A sandbox with a runtime directory of its own and fake helper programs
// first on the PATH, and no display unless a test sets one.
class PrivateHome : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* sub : {"run", "bin"}) fs::create_directory(root_ / sub), fs::permissions(root_ / sub, fs::perms::owner_all);
        box_.setEnv("XDG_RUNTIME_DIR", (root_ / "run").string());
        const char* path = std::getenv("PATH");
        box_.setEnv("PATH", (root_ / "bin").string() + ":" + (path ? path : "/usr/bin:/bin"));
        box_.unsetEnv("DISPLAY");
        box_.unsetEnv("WAYLAND_DISPLAY");
    }
    // A stand-in for a clipboard helper: a shell script named `program`.
    void fakeHelper(const std::string& program, const std::string& body) {
        const fs::path p = root_ / "bin" / program;
        std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(p, fs::perms::owner_all);
    }
    FileSandbox box_;
    const fs::path root_ = box_.root();
};

// ---------------------------------------------------------------- clocks and system facts

// The forms themselves, in several zones: the peers. Here the option words.
TEST(SystemClocks, DateAndTimeTakeTheirFormsFromTheOptionWord) {
    // The word matches whole and ignoring case; any other word is the default form.
    const char* cases[][3] = {{"Date", "ISO", R"(\d{4}-\d\d-\d\d)"},
                              {"Date", "isox", R"(\d\d-[A-Z][a-z]{2}-\d{4})"},
                              {"Time", "USEfractions", R"(\d\d:\d\d:\d\d\.\d{3})"},
                              {"Time", "fractions", R"(\d\d:\d\d:\d\d)"}};
    for (auto [f, word, form] : cases) EXPECT_TRUE(std::regex_match(text(f, {str(word)}), std::regex(form))) << word;
}

TEST(SystemClocks, ClocksAgreeWithTheSystemAndRunForward) {
    const double wall = double(time(nullptr));
    EXPECT_NEAR(number("Seconds"), wall, 2.0);
    const double p0 = number("GetPerformanceTime"), t0 = number("TickCount");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(number("GetPerformanceTime") - p0, 0.029);
    EXPECT_GE(number("TickCount") - t0, 20);
    const double ticks = number("TickCount");  // one reading: the clock may tick between two
    EXPECT_EQ(ticks, std::floor(ticks));         // whole milliseconds
}

TEST(SystemFacts, ProcessFacts) {
    const double stack = number("_GetAvailableStack");
    EXPECT_TRUE(stack > 16 * 1024 && stack < 1e10) << stack;
    // No embedded signatures on this system: a documented answer, never "verified".
    EXPECT_EQ(text("GetSignaturePublisher", {str("/proc/self/exe")}), "");
    EXPECT_EQ(number("VerifyEmbeddedSignature", {str(text("GetExecutableFile"))}), 0);
    for (const char* unreadable : {"/no/such/file", "/"})
        EXPECT_EQ(number("VerifyEmbeddedSignature", {str(unreadable)}), -1) << unreadable;
}

TEST_F(PrivateHome, EnvironmentAndDriveTypesOfPaths) {
    const Texts env = texts("_GetEnvironment");  // this process's own variables
    EXPECT_NE(std::find(env.begin(), env.end(), "HOME=" + (root_ / "home").string()), env.end());
    const std::pair<std::string, const char*> cases[] = {
        {root_.string(), "local"}, {"/proc/self", "other"}, {(root_ / "absent").string(), "notexist"}, {"", "notexist"}};
    for (const auto& [path, word] : cases) EXPECT_EQ(text("GetDriveType", {str(path)}), word) << path;
    EXPECT_EQ(number("GetFreeDiskSpace", {str("")}), -1);
}

// ---------------------------------------------------------------- clipboard

TEST_F(PrivateHome, ClipboardLinesSplitAtLineFeedsAndCarriageReturnLineFeeds) {
    box_.setEnv("DISPLAY", ":99");
    const std::pair<const char*, Texts> cases[] = {  // printf(1) format, lines
        {"a\\r\\nb\\r\\n", {"a", "b", ""}}, {"one", {"one"}}, {"\\n\\n", {"", "", ""}},
        {"a\\n\\rb", {"a", "b"}},  // a CR right after LF goes with it
        {"a\\rb\\r", {"a\rb\r"}},  // a lone CR is text
    };
    for (const auto& [printed, lines] : cases) {
        fakeHelper("xclip", std::string("printf '") + printed + "'");
        EXPECT_EQ(texts("ReadClipboard"), lines) << printed;
    }
}

TEST_F(PrivateHome, ClipboardWithoutTextOrHelperGivesNoResultAndNeverHangs) {
    EXPECT_EQ(texts("ReadClipboard"), Texts{});  // no display at all
    box_.setEnv("DISPLAY", ":99");
    for (const char* body : {"exit 1", "printf ''", "printf 'text'; exit 3", "exec sleep 30", "printf 'x'; sleep 30"}) {
        fakeHelper("xclip", body);
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(texts("ReadClipboard"), Texts{}) << body;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5)) << body;
    }
    // Wayland first; X when the Wayland helper has nothing.
    box_.setEnv("WAYLAND_DISPLAY", "wayland-9");
    fakeHelper("wl-paste", "printf 'from wayland'");
    EXPECT_EQ(texts("ReadClipboard"), Texts{"from wayland"});
    fakeHelper("wl-paste", "exit 1");
    fakeHelper("xclip", "printf 'from x'");
    EXPECT_EQ(texts("ReadClipboard"), Texts{"from x"});
}

// ---------------------------------------------------------------- mutexes in one process

TEST_F(PrivateHome, MutexIdsFollowNamesByteForByte) {
    const double a = number("CreateMutex", {str("cvtest.Mutex")}), b = number("CreateMutex", {str("cvtest.mutex")});
    EXPECT_GE(a, 1);
    EXPECT_EQ(number("CreateMutex", {str("cvtest.Mutex")}), a);
    EXPECT_NE(b, a);
    for (const char* f : {"cvtest.Mutex", "cvtest.mutex"}) EXPECT_TRUE(fs::exists(root_ / "run/cvfunc/mutex" / f));
    // Another holder (here another handle of this process) cannot take it.
    EXPECT_EQ(sp_CreateMutex("cvtest.Mutex", true), 0);

    EXPECT_EQ(number("DestroyMutex", {N(a)}), 1);
    EXPECT_EQ(number("DestroyMutex", {N(a)}), 0);
    EXPECT_FALSE(fs::exists(root_ / "run/cvfunc/mutex/cvtest.Mutex"));  // its maker deletes it
    const int64_t h = sp_CreateMutex("cvtest.Mutex", true);
    EXPECT_TRUE(h >= 1 && sp_CloseMutex(h) && !sp_CloseMutex(h));
    // A new record takes a new id, never a released one.
    const double c = number("CreateMutex", {str("cvtest.Mutex")});
    EXPECT_GT(c, b);
    for (double id : {b, c, std::nan(""), -1.0, 1e12}) number("DestroyMutex", {N(id)});
}

TEST_F(PrivateHome, MutexNamesOfAnyBytesMapToSafeFileNames) {
    for (const std::string& name : {std::string("Global\\app/../x"), std::string(".."), std::string(300, 'n'),
                                    std::string("sp ace%"), std::string()}) {
        const double id = number("CreateMutex", {str(name)});
        EXPECT_GE(id, 1) << name;
        EXPECT_EQ(number("DestroyMutex", {N(id)}), 1);
    }
    // Nothing escaped the mutex directory.
    for (const auto& e : fs::directory_iterator(root_ / "run")) EXPECT_EQ(e.path().filename(), "cvfunc");
}

TEST_F(PrivateHome, MutexDirectoryFallsBackToCvfuncHome) {
    box_.unsetEnv("XDG_RUNTIME_DIR");
    const double id = number("CreateMutex", {str("cvtest.home")});
    EXPECT_TRUE(fs::exists(root_ / "cvhome/mutex/cvtest.home"));
    number("DestroyMutex", {N(id)});
    // A directory that is not this user's own real directory is refused.
    box_.setEnv("XDG_RUNTIME_DIR", (root_ / "run").string());
    fs::create_directory_symlink(root_ / "home", root_ / "run/cvfunc");
    EXPECT_EQ(texts("CreateMutex", {str("cvtest.link")}), Texts{});
}

// ---------------------------------------------------------------- mended faults

TEST(SystemSleep, PausesInWholeTenthsAndReturnsItsArgument) {
    // Seconds asked for, and the least and most the pause may take.
    const double cases[][3] = {{0.25, 0.2, 0.29}, {0.0, 0.0, 0.05}, {0.09, 0.0, 0.05},
                               {std::nan(""), 0.0, 0.05}, {-double(INFINITY), 0.0, 0.05}};
    for (const auto& [seconds, least, most] : cases) {
        const auto t0 = std::chrono::steady_clock::now();
        const auto got = cvtest::values("Sleep", {N(seconds)});
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(got[0] == seconds || (std::isnan(seconds) && std::isnan(got[0]))) << seconds;
        EXPECT_TRUE(took >= least && took <= most) << seconds << ": " << took;
    }
}

}  // namespace
