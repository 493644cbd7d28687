// Paths and directories, through the function table, inside a sandbox: the
// words, messages and refusals. Splits, clean, full and relative paths,
// listings, copies and deletions of whole trees, and probes of read-only
// directories are compared with Python's own in tests/python/test_files_peers.py.
#include <filesystem>

#include "FileSandbox.h"

namespace fs = std::filesystem;
using namespace cvtest;  // the call helpers and FileSandbox

TEST(PathAlgebra, LexicalFormsTable) {
    FileSandbox box;
    const std::string cwd = box.path("work");
    const struct {
        const char* function;
        std::vector<std::string> args;
        std::string want;
    } cases[] = {
        // CleanPath, FullPath and RelativePath of two paths: against os.path in the peers.
        {"RelativePath", {cwd + "/s/t"}, "s/t"},
        {"GetFileDir", {"C:"}, "C:"},
        {"GetFileDir", {"f.txt"}, cwd + "/"},
        {"GetShortPathName", {"/a b/c"}, "/a b/c"},
        {"GetUncPath", {"/a/c"}, "/a/c"},
        {"_GetPathWithNoSpaces", {"/a b"}, "/a b"},
        {"ConvertLocalToUnix", {"a\\b/c"}, "a/b/c"},
        {"ConvertUnixToLocal", {"a/b"}, "a/b"},
        {"TranslateLogicalPath", {"%HOME%/x"}, box.path("home") + "/x"},
        {"TranslateLogicalPath", {"%NO_SUCH_NAME_HERE%/x"}, "%NO_SUCH_NAME_HERE%/x"},
        {"MakeLogicalPath", {box.path("cvhome/lib/a.lib")}, "%CVFUNC_HOME%/lib/a.lib"},
        {"MakeLogicalPath", {box.path("home/a"), "projectonly"}, box.path("home/a")},
        {"GetKnownFolderPath", {"documents"}, box.path("home") + "/Documents"},
        {"GetKnownFolderPath", {"NoSuchFolder"}, ""},
        {"GetPath", {"TempDataDir"}, box.path("tmp")},
    };
    for (const auto& c : cases) {
        std::vector<cv::ValuePtr> args;
        for (const auto& a : c.args) args.push_back(str(a));
        EXPECT_EQ(text(c.function, args), c.want) << c.function << "(" << (c.args.empty() ? "" : c.args[0]) << ")";
    }
}

TEST(PathAlgebra, SplittingAndTypes) {
    // SplitPath itself: against os.path in the peers; the old form takes a leading dot as the extension.
    EXPECT_EQ(texts("_SplitPathOld", {str("/d/.bashrc")}), (Texts{"", "/d/", "", ".bashrc"}));
    // The dot is not part of the compared text; the comparison ignores case.
    EXPECT_EQ(number("IsFileOfType", {str("a/b.txt"), strings({"cir", "TXT"})}), 1);
    EXPECT_EQ(number("IsFileOfType", {str("a/b.txt"), strings({".txt"})}), 0);
    EXPECT_EQ(number("IsFileOfType", {str("a/b"), strings({""})}), 0);
    EXPECT_EQ(texts("GetFileExtensions", {str("Touchstone")}).front(), "s1p");
    EXPECT_TRUE(cvtest::noResult(cvtest::call("PathEqual", {strings({"a", "b"}), strings({"a", "b", "c"})})));
    const auto eq = cvtest::call("PathEqual", {strings({"a", "B"}), strings({"a", "b"})});
    ASSERT_TRUE(eq.ok);
    EXPECT_EQ(cvtest::realsOf(*eq.value), (std::vector<double>{1, 0}));  // names are case-sensitive here
}

// Same files through links and resolved links: against os.path in the peers.
TEST(PathAlgebra, SameFileOfAMissingFileAndCurrentDirectory) {
    FileSandbox box;
    const std::string file = box.write("work/f.txt", "x");
    EXPECT_EQ(number("IsSameFile", {str(file), str("./missing")}), 0);
    EXPECT_EQ(text("GetCurDir", {}), fs::current_path().string());
    EXPECT_NE(number("ChangeDir", {str("no/such/dir")}), 0);
    EXPECT_EQ(number("ChangeDir", {str(box.root())}), 0);
    EXPECT_EQ(fs::current_path().string(), box.root());
}

TEST(DirectoryTrees, MakeListDescendCopyDelete) {
    FileSandbox box;
    EXPECT_EQ(number("MakeTree", {str("t/a/b")}), 1);
    EXPECT_EQ(number("MakeDir", {str("t/c")}), 1);
    EXPECT_EQ(number("MakeDir", {str("t/c")}), 0);  // exists already
    box.write("work/t/z.txt", "1");
    box.write("work/t/a/y.txt", "2");
    fs::create_directory(box.path("work/t/.hidden"));
    EXPECT_TRUE(cvtest::noResult(cvtest::call("ListDirectory", {str("t/c")})));
    EXPECT_EQ(text("CopyTree", {str("t"), str("u")}), "success");
    EXPECT_EQ(text("CopyTree", {str("t"), str("u")}), "notempty");
    EXPECT_EQ(text("CopyTree", {str("nothing"), str("v")}), "sourcenotexist");
    EXPECT_EQ(text("DeleteTree", {str("u")}), "success");
    EXPECT_EQ(text("DeleteTree", {str("u")}), "sourcenotexist");
    EXPECT_EQ(number("ExistDir", {str("t")}), 1);
    EXPECT_EQ(number("ExistDir", {str("u")}), 0);
    EXPECT_EQ(number("DirectoryIsWriteable", {str("t")}), 1);
    EXPECT_EQ(number("ExistFile", {str("t/z.txt")}), 1);
    EXPECT_EQ(number("ExistFile", {str("t")}), 0);
}

// Links inside a tree (removed, their targets kept) and a link as the tree
// itself: against rmtree in the peers. Here the spellings that reach a link,
// the root or the home.
TEST(MendedFaults, DeleteTreeRefusesTheRootTheHomeAndALinkedTree) {
    FileSandbox box;
    box.write("work/t/f", "x");
    fs::create_directory_symlink(box.path("work/t"), box.path("work/toplink"));
    EXPECT_EQ(text("DeleteTree", {str("toplink/")}), "failed");
    EXPECT_TRUE(fs::exists(box.path("work/t/f")));
    for (const char* refused : {"", "/", "//", "~"}) {
        // "~" is a name here, not the home directory: it does not exist.
        EXPECT_EQ(text("DeleteTree", {str(refused)}), refused[0] == '~' ? "sourcenotexist" : "failed") << refused;
    }
    EXPECT_EQ(text("DeleteTree", {str(box.path("home/."))}), "failed");
    EXPECT_TRUE(fs::exists(box.path("home/.config")));
}

TEST(MendedFaults, ProbesTouchOnlyTheirOwnFileAndKeepTheCurrentDirectory) {
    FileSandbox box;
    // A file of the probe's name is someone's: the peers check it is kept,
    // and that read-only directories are left empty.
    fs::create_directory(box.path("work/d"));
    const auto before = fs::current_path();
    EXPECT_EQ(number("ExistDir", {str("d")}), 1);
    EXPECT_TRUE(fs::is_empty(box.path("work/d")));
    EXPECT_EQ(text("FullPath", {str("x"), str(box.path("work/d"))}), box.path("work/d/x"));
    EXPECT_EQ(fs::current_path(), before);
}

TEST(MendedFaults, TempFilesAreCreatedNotJustNamed) {
    FileSandbox box;
    const std::string a = text("GetTempFile", {}), b = text("GetTempFile", {str("d")});
    EXPECT_EQ(a.rfind(box.path("tmp") + "/", 0), 0u) << a;
    EXPECT_TRUE(fs::is_regular_file(a));
    EXPECT_EQ(b, "");  // no such directory
    EXPECT_NE(text("GetTempFile", {str(box.path("tmp"))}), a);
}
