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
    const std::regex iso(R"(\d{4}-\d\d-\d\d)"), plain(R"(\d\d-[A-Z][a-z]{2}-\d{4})");
    const std::regex hms(R"(\d\d:\d\d:\d\d)"), fractions(R"(\d\d:\d\d:\d\d\.\d{3})");
    EXPECT_TRUE(std::regex_match(text("Date", {str("ISO")}), iso));
    for (const char* word : {"isox", ""}) EXPECT_TRUE(std::regex_match(text("Date", {str(word)}), plain)) << word;
    EXPECT_TRUE(std::regex_match(text("Time", {str("USEfractions")}), fractions));
    EXPECT_TRUE(std::regex_match(text("Time", {str("fractions")}), hms));
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
    EXPECT_EQ(number("_GetMsvcVer"), 1940);
    const double stack = number("_GetAvailableStack");
    EXPECT_GT(stack, 16 * 1024);
    EXPECT_LT(stack, 1e10);
    // No embedded signatures on this system: a documented answer, never "verified".
    EXPECT_EQ(text("GetSignaturePublisher", {str("/proc/self/exe")}), "");
    EXPECT_EQ(number("VerifyEmbeddedSignature", {str(text("GetExecutableFile"))}), 0);
    EXPECT_EQ(number("VerifyEmbeddedSignature", {str("/no/such/file")}), -1);
    EXPECT_EQ(number("VerifyEmbeddedSignature", {str("/")}), -1);
}

TEST_F(PrivateHome, EnvironmentListsThisProcesssVariables) {
    const Texts env = texts("_GetEnvironment");
    EXPECT_NE(std::find(env.begin(), env.end(), "HOME=" + (root_ / "home").string()), env.end());
}

TEST_F(PrivateHome, DriveTypesOfPaths) {
    const struct {
        std::string path, word;
    } cases[] = {
        {root_.string(), "local"}, {"/", "local"}, {"/proc/self", "other"}, {"/sys", "other"},
        {(root_ / "absent").string(), "notexist"}, {"", "notexist"},
    };
    for (const auto& c : cases) EXPECT_EQ(text("GetDriveType", {str(c.path)}), c.word) << c.path;
    EXPECT_EQ(number("GetFreeDiskSpace", {str("")}), -1);
}

// ---------------------------------------------------------------- clipboard

TEST_F(PrivateHome, ClipboardLinesSplitAtLineFeedsAndCarriageReturnLineFeeds) {
    box_.setEnv("DISPLAY", ":99");
    const struct {
        const char* printed;  // printf(1) format
        Texts lines;
    } cases[] = {
        {"a\\r\\nb\\r\\n", {"a", "b", ""}},
        {"one", {"one"}},
        {"a\\nb\\n", {"a", "b", ""}},
        {"a\\n\\rb", {"a", "b"}},          // a CR right after LF goes with it
        {"a\\rb\\r", {"a\rb\r"}},          // a lone CR is text
        {"\\r\\n\\r", {"", "\r"}},
        {"\\n\\n", {"", "", ""}},
    };
    for (const auto& c : cases) {
        fakeHelper("xclip", std::string("printf '") + c.printed + "'");
        EXPECT_EQ(texts("ReadClipboard"), c.lines) << c.printed;
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
    const double a = number("CreateMutex", {str("cvtest.Mutex")});
    EXPECT_GE(a, 1);
    EXPECT_EQ(number("CreateMutex", {str("cvtest.Mutex")}), a);
    const double b = number("CreateMutex", {str("cvtest.mutex")});
    EXPECT_NE(b, a);
    EXPECT_TRUE(fs::exists(root_ / "run/cvfunc/mutex/cvtest.Mutex"));
    EXPECT_TRUE(fs::exists(root_ / "run/cvfunc/mutex/cvtest.mutex"));
    // Another holder (here another handle of this process) cannot take it.
    EXPECT_EQ(sp_CreateMutex("cvtest.Mutex", true), 0);

    EXPECT_EQ(number("DestroyMutex", {N(a)}), 1);
    EXPECT_EQ(number("DestroyMutex", {N(a)}), 0);
    EXPECT_FALSE(fs::exists(root_ / "run/cvfunc/mutex/cvtest.Mutex"));  // its maker deletes it
    const int64_t h = sp_CreateMutex("cvtest.Mutex", true);
    EXPECT_GE(h, 1);
    EXPECT_TRUE(sp_CloseMutex(h));
    EXPECT_FALSE(sp_CloseMutex(h));
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
    const struct {
        double seconds, least, most;
    } cases[] = {
        {0.25, 0.2, 0.29}, {0.0, 0.0, 0.05}, {-5.0, 0.0, 0.05}, {0.09, 0.0, 0.05},
        {std::nan(""), 0.0, 0.05}, {-double(INFINITY), 0.0, 0.05},
    };
    for (const auto& c : cases) {
        const auto t0 = std::chrono::steady_clock::now();
        const auto got = cvtest::values("Sleep", {N(c.seconds)});
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ASSERT_EQ(got.size(), 1u);
        if (std::isnan(c.seconds)) EXPECT_TRUE(std::isnan(got[0]));
        else EXPECT_EQ(got[0], c.seconds);
        EXPECT_GE(took, c.least) << c.seconds;
        EXPECT_LE(took, c.most) << c.seconds;
    }
}

}  // namespace
