// The application's facts, its system values, options, environment and help
// ids, and the dialogs without a terminal (with one: pytest, in a pty).
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "FileSandbox.h"
#include "Reference.h"

using namespace cvtest;  // the call helpers

namespace {

// Standard input from /dev/null for the test's life: the dialogs must answer
// at once without a terminal, also when the suite runs on one.
class NoTerminal {
public:
    NoTerminal() : saved_(::dup(0)) { ::dup2(::open("/dev/null", O_RDONLY), 0); }
    ~NoTerminal() { ::dup2(saved_, 0), ::close(saved_); }

private:
    int saved_;
};

}  // namespace

TEST(AppInfo, VersionAndLayoutComeFromTheBuild) {
    FileSandbox box;
    const Texts v = texts("VersionInfo", {});
    ASSERT_EQ(v.size(), 7u);
    // The version numbers themselves are the Python package's (test_app_info_peers.py).
    EXPECT_EQ(v[1], "");  // not a lettered release
    EXPECT_EQ(v[3], "x86_64");
    EXPECT_TRUE(std::set<std::string>({"Release", "ReleaseCandidate", "Beta", "PreBeta"}).count(v[4]));
    EXPECT_TRUE(std::set<std::string>({"FinalRelease", "DevRelease", "Debug"}).count(v[5]));

    const Texts app = texts("GetAppInfo", {});
    ASSERT_EQ(app.size(), 5u);
    EXPECT_EQ(app[0], "cvfunc");
    EXPECT_TRUE(std::filesystem::exists(app[2] + "/filter_mc.raw")) << app[2];
    EXPECT_EQ(app[3], box.path("cvhome"));
    EXPECT_TRUE(std::filesystem::exists(app[4] + "/CMakeLists.txt")) << app[4];  // the build tree's parent
    EXPECT_EQ(number("DebugMode", {}), 0);
}

TEST(AppInfo, EarlierVersionsAreReadFromTheSettingsHome) {
    FileSandbox box;
    EXPECT_EQ(texts("GetOldVersions", {}), Texts{});
    const std::string self = texts("VersionInfo", {})[0];
    box.write("cvhome/versions", "# kept by the installer\n802\n7.10\n\n" + self + "\nnot a version\n-3\n");
    EXPECT_EQ(texts("GetOldVersions", {}), Texts({"802", "710"}));
    EXPECT_EQ(texts("GetOldVersions", {str("DECIMAL")}), Texts({"8.02", "7.10"}));
}

TEST(AppInfo, ImageFormatsAreWhatTheHostHandles) {
    EXPECT_EQ(texts("SupportedReadFormats", {}), Texts{});
    EXPECT_EQ(texts("SupportedWriteFormats", {}), Texts({"svg", "emf"}));
    EXPECT_EQ(number("IsImageFile", {str("chart.SVG")}), 0);
}

TEST(AppInfo, DialogsWithoutATerminalGiveTheirDefaultAtOnce) {
    NoTerminal quiet;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "Ok"},                             // OkCancel by default
        {{"YesNoCancel", "warning"}, "Yes"},
        {{"abortretryignore", "error", "dontaskagain"}, "Abort"},
        {{"NoSuchButtons"}, "Ok"},
    };
    for (const auto& [options, answer] : cases) {
        std::vector<cv::ValuePtr> args{strings({"Proceed?"})};
        if (!options.empty()) args.push_back(strings(options));
        EXPECT_EQ(texts("MessageBox", args), Texts{answer});
    }
    EXPECT_EQ(texts("ChooseDirectory", {str("/some/where")}), Texts{"/some/where"});
}

TEST(HostSettings, OptionsSystemValuesAndTheEnvironment) {
    FileSandbox box;
    EXPECT_EQ(texts("GetOption", {str("NoSuchOption")}), Texts{"FALSE"});
    EXPECT_EQ(texts("GetOption", {str("histocurvestyle")}), Texts{"Stepped"});

    EXPECT_EQ(texts("SystemValue", {str("ExampleInstallDir")}), Texts{"%SHAREPATH%/examples"});
    const std::string share = texts("SystemValuePath", {str("SHAREPATH")}).at(0);
    EXPECT_TRUE(std::filesystem::is_directory(share + "/reference")) << share;
    EXPECT_EQ(texts("SystemValuePath", {str("CVAPPDATAPATH")}), Texts{box.path("cvhome")});
    EXPECT_EQ(texts("SystemValuePath", {str("ProductName")}), Texts{"cvfunc"});
    EXPECT_EQ(texts("SystemValue", {str("NoSuchValue")}), Texts{});

    const std::pair<std::string, std::string> assignments[] = {
        {"CVT_PUT==a=b", "a=b"}, {"CVT_PUT=plain", "plain"}, {"CVT_PUT", ""}};
    for (const auto& [assignment, value] : assignments) {
        EXPECT_EQ(number("PutEnvVar", {str(assignment)}), 1) << assignment;
        EXPECT_EQ(texts("GetEnvVar", {str("CVT_PUT")}), Texts{value}) << assignment;
    }
    EXPECT_EQ(getenv("CVT_PUT"), nullptr);
    EXPECT_EQ(number("PutEnvVar", {str("")}), 0);
}

TEST(HostSettings, HelpContextIdsAreStableAndDistinct) {
    EXPECT_EQ(texts("GetHelpContextId", {str("NoSuchTopic"), cvtest::reals({7.9})}), Texts{"7"});
    EXPECT_EQ(texts("GetHelpContextId", {str("NoSuchTopic")}), Texts{"-1"});
    EXPECT_EQ(texts("GetHelpContextId", {str("mean")}), texts("GetHelpContextId", {str("Mean")}));
    std::set<uint32_t> ids;
    size_t n = 0;
    for (const auto* e : cv::reference::Reference::global().entries()) {
        const uint32_t id = uint32_t(std::stoul(texts("GetHelpContextId", {str(e->name)}).at(0)));
        EXPECT_LT(id, 0x80000000u);
        ids.insert(id), ++n;
    }
    EXPECT_GT(n, 250u);
    EXPECT_EQ(ids.size(), n);  // no two topics share an id
}
