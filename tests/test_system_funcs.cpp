// System functions: clocks and system facts, the clipboard through its helper
// programs, named mutexes within the process (across processes: pytest), and
// the mended faults of Sleep. Tests that touch the disk run in a temporary
// directory that HOME, the XDG variables and CVFUNC_HOME point into.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <optional>
#include <thread>
#include <vector>

#include "NamedMutex.h"
#include "TestHost.h"

using cvtest::call;

namespace {

using Texts = std::vector<std::string>;
namespace fs = std::filesystem;

cv::ValuePtr N(double v) { return cvtest::reals({v}); }
cv::ValuePtr S(const std::string& s) { return cvtest::str(s); }

Texts texts(const std::string& f, std::vector<cv::ValuePtr> args = {}) {
    auto o = call(f, std::move(args));
    EXPECT_TRUE(o.ok) << f << ": " << o.error;
    if (cvtest::noResult(o)) return {"<none>"};
    return o.ok ? cvtest::stringsOf(*o.value) : Texts{"<failed>"};
}
std::string text(const std::string& f, std::vector<cv::ValuePtr> args = {}) { return texts(f, std::move(args)).at(0); }
double number(const std::string& f, std::vector<cv::ValuePtr> args = {}) { return cvtest::values(f, std::move(args)).at(0); }

// A private home: HOME, the XDG variables and CVFUNC_HOME point into a fresh
// directory for the test's life, and fake helper programs come first on the
// PATH; the old values come back afterwards.
class PrivateHome : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cvfunc-system-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        const char* path = std::getenv("PATH");
        const std::pair<const char*, std::string> vars[] = {
            {"HOME", "home"}, {"XDG_RUNTIME_DIR", "run"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
            {"XDG_CACHE_HOME", "cache"}, {"CVFUNC_HOME", "cvfunc"}, {"PATH", "bin"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
        for (const auto& [var, sub] : vars) {
            const char* v = std::getenv(var);
            saved_.emplace_back(var, v ? std::optional<std::string>(v) : std::nullopt);
            if (sub.empty()) continue;
            fs::create_directory(root_ / sub);
            fs::permissions(root_ / sub, fs::perms::owner_all);
            setenv(var, ((root_ / sub).string() + (sub == "bin" ? std::string(":") + (path ? path : "/usr/bin:/bin") : "")).c_str(), 1);
        }
    }
    void TearDown() override {
        for (const auto& [var, v] : saved_)
            if (v) setenv(var.c_str(), v->c_str(), 1);
            else unsetenv(var.c_str());
        fs::remove_all(root_);
    }
    // A stand-in for a clipboard helper: a shell script named `program`.
    void fakeHelper(const std::string& program, const std::string& body) {
        const fs::path p = root_ / "bin" / program;
        std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(p, fs::perms::owner_all);
    }
    fs::path root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// ---------------------------------------------------------------- clocks and system facts

TEST(SystemClocks, DateAndTimeTakeTheirFormsFromTheOptionWord) {
    const std::regex iso(R"(\d{4}-\d\d-\d\d)"), plain(R"(\d\d-[A-Z][a-z]{2}-\d{4})");
    const std::regex hms(R"(\d\d:\d\d:\d\d)"), fractions(R"(\d\d:\d\d:\d\d\.\d{3})");
    EXPECT_TRUE(std::regex_match(text("Date", {S("ISO")}), iso));
    for (auto args : {std::vector<cv::ValuePtr>{}, {S("isox")}, {S("")}})
        EXPECT_TRUE(std::regex_match(text("Date", args), plain));
    EXPECT_TRUE(std::regex_match(text("Time", {S("USEfractions")}), fractions));
    EXPECT_TRUE(std::regex_match(text("Time", {S("fractions")}), hms));
    EXPECT_TRUE(std::regex_match(text("Time"), hms));
}

TEST(SystemClocks, ClocksAgreeWithTheSystemAndRunForward) {
    const double wall = double(time(nullptr));
    EXPECT_NEAR(number("EpochTime"), wall, 2.0);
    EXPECT_NEAR(number("Seconds"), wall, 2.0);
    const double p0 = number("GetPerformanceTime"), t0 = number("TickCount");
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_GE(number("GetPerformanceTime") - p0, 0.029);
    EXPECT_GE(number("TickCount") - t0, 20);
    EXPECT_EQ(number("TickCount"), std::floor(number("TickCount")));  // whole milliseconds
}

TEST(SystemFacts, ProcessFacts) {
    EXPECT_EQ(number("_GetMsvcVer"), 1940);
    const double stack = number("_GetAvailableStack");
    EXPECT_GT(stack, 16 * 1024);
    EXPECT_LT(stack, 1e10);
    // No embedded signatures on this system: a documented answer, never "verified".
    EXPECT_EQ(text("GetSignaturePublisher", {S("/proc/self/exe")}), "");
    EXPECT_EQ(number("VerifyEmbeddedSignature", {S(text("GetExecutableFile"))}), 0);
    EXPECT_EQ(number("VerifyEmbeddedSignature", {S("/no/such/file")}), -1);
    EXPECT_EQ(number("VerifyEmbeddedSignature", {S("/")}), -1);
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
    for (const auto& c : cases) EXPECT_EQ(text("GetDriveType", {S(c.path)}), c.word) << c.path;
    EXPECT_EQ(number("GetFreeDiskSpace", {S("")}), -1);
}

// ---------------------------------------------------------------- clipboard

TEST_F(PrivateHome, ClipboardLinesSplitAtLineFeedsAndCarriageReturnLineFeeds) {
    unsetenv("WAYLAND_DISPLAY");
    setenv("DISPLAY", ":99", 1);
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
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    EXPECT_EQ(texts("ReadClipboard"), Texts{"<none>"});  // no display at all
    setenv("DISPLAY", ":99", 1);
    for (const char* body : {"exit 1", "printf ''", "printf 'text'; exit 3", "exec sleep 30", "printf 'x'; sleep 30"}) {
        fakeHelper("xclip", body);
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(texts("ReadClipboard"), Texts{"<none>"}) << body;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5)) << body;
    }
    // Wayland first; X when the Wayland helper has nothing.
    setenv("WAYLAND_DISPLAY", "wayland-9", 1);
    fakeHelper("wl-paste", "printf 'from wayland'");
    EXPECT_EQ(texts("ReadClipboard"), Texts{"from wayland"});
    fakeHelper("wl-paste", "exit 1");
    fakeHelper("xclip", "printf 'from x'");
    EXPECT_EQ(texts("ReadClipboard"), Texts{"from x"});
}

// ---------------------------------------------------------------- mutexes in one process

TEST_F(PrivateHome, MutexIdsFollowNamesByteForByte) {
    const double a = number("CreateMutex", {S("cvtest.Mutex")});
    EXPECT_GE(a, 1);
    EXPECT_EQ(number("CreateMutex", {S("cvtest.Mutex")}), a);
    const double b = number("CreateMutex", {S("cvtest.mutex")});
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
    const double c = number("CreateMutex", {S("cvtest.Mutex")});
    EXPECT_GT(c, b);
    for (double id : {b, c, std::nan(""), -1.0, 1e12}) number("DestroyMutex", {N(id)});
}

TEST_F(PrivateHome, MutexNamesOfAnyBytesMapToSafeFileNames) {
    for (const std::string& name : {std::string("Global\\app/../x"), std::string(".."), std::string(300, 'n'),
                                    std::string("sp ace%"), std::string()}) {
        const double id = number("CreateMutex", {S(name)});
        EXPECT_GE(id, 1) << name;
        EXPECT_EQ(number("DestroyMutex", {N(id)}), 1);
    }
    // Nothing escaped the mutex directory.
    for (const auto& e : fs::directory_iterator(root_ / "run")) EXPECT_EQ(e.path().filename(), "cvfunc");
}

TEST_F(PrivateHome, MutexDirectoryFallsBackToCvfuncHome) {
    unsetenv("XDG_RUNTIME_DIR");
    const double id = number("CreateMutex", {S("cvtest.home")});
    EXPECT_TRUE(fs::exists(root_ / "cvfunc/mutex/cvtest.home"));
    number("DestroyMutex", {N(id)});
    // A directory that is not this user's own real directory is refused.
    setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
    fs::create_directory_symlink(root_ / "home", root_ / "run/cvfunc");
    EXPECT_EQ(texts("CreateMutex", {S("cvtest.link")}), Texts{"<none>"});
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
