// Paths and directories, through the function table, inside a sandbox.
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

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
        {"CleanPath", {"a//b/./c/../d/"}, "a/b/d"},
        {"CleanPath", {"/../x/.."}, "/"},
        {"CleanPath", {"../../a"}, "../../a"},
        {"CleanPath", {""}, ""},
        {"FullPath", {"x/../y.txt"}, cwd + "/y.txt"},
        {"FullPath", {"/abs//p"}, "/abs/p"},
        {"RelativePath", {"/a/b/c", "/a/d"}, "../b/c"},
        {"RelativePath", {"/a/b", "/a/b"}, "."},
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
    EXPECT_EQ(texts("SplitPath", {str("/d/x.tar.gz")}), (Texts{"", "/d/", "x.tar", ".gz"}));
    EXPECT_EQ(texts("_SplitPathOld", {str("/d/.bashrc")}), (Texts{"", "/d/", "", ".bashrc"}));
    EXPECT_EQ(texts("SplitPath", {str("/d/.bashrc")}), (Texts{"", "/d/", ".bashrc", ""}));
    // The dot is not part of the compared text; the comparison ignores case.
    EXPECT_EQ(number("IsFileOfType", {str("a/b.txt"), strings({"cir", "TXT"})}), 1);
    EXPECT_EQ(number("IsFileOfType", {str("a/b.txt"), strings({".txt"})}), 0);
    EXPECT_EQ(number("IsFileOfType", {str("a/b"), strings({""})}), 0);
    EXPECT_EQ(texts("GetFileExtensions", {str("Touchstone")}).front(), "s1p");
    EXPECT_TRUE(cvtest::noResult(cvtest::call("PathEqual", {strings({"a", "b"}), strings({"a", "b", "c"})})));
    const auto eq = cvtest::call("PathEqual", {strings({"a", "B"}), strings({"a", "b"})});
    ASSERT_TRUE(eq.ok);
    EXPECT_EQ(cvtest::realsOf(*eq.value), (std::vector<double>{1, 0}));  // names are case-sensitive here
    EXPECT_EQ(number("IsFullPath", {str("/x")}), 1);
    EXPECT_EQ(number("IsFullPath", {str("x")}), 0);
}

TEST(PathAlgebra, SameFileResolvedLinksAndCurrentDirectory) {
    FileSandbox box;
    const std::string file = box.write("work/f.txt", "x");
    fs::create_symlink(file, box.path("work/link"));
    EXPECT_EQ(number("IsSameFile", {str(file), str("link")}), 1);
    EXPECT_EQ(number("IsSameFile", {str(file), str("./missing")}), 0);
    EXPECT_EQ(text("GetActualPath", {str("link")}), fs::canonical(file).string());
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
    EXPECT_EQ(texts("ListDirectory", {str("t")}), (Texts{".hidden", "a", "c", "z.txt"}));
    EXPECT_EQ(texts("ListDirectory", {str("t"), str("FULLPATH")}).back(), "t/z.txt");
    EXPECT_TRUE(cvtest::noResult(cvtest::call("ListDirectory", {str("t/c")})));
    EXPECT_EQ(texts("DescendDirectories", {str("t")}), (Texts{"t", "t/a", "t/a/b", "t/c"}));
    EXPECT_EQ(texts("DescendDirectories", {str("t"), str("includehidden")}).size(), 5u);

    EXPECT_EQ(text("CopyTree", {str("t"), str("u")}), "success");
    EXPECT_EQ(FileSandbox::read(box.path("work/u/a/y.txt")), "2");
    EXPECT_EQ(text("CopyTree", {str("t"), str("u")}), "notempty");
    EXPECT_EQ(text("CopyTree", {str("nothing"), str("v")}), "sourcenotexist");
    EXPECT_EQ(text("DeleteTree", {str("u")}), "success");
    EXPECT_FALSE(fs::exists(box.path("work/u")));
    EXPECT_EQ(text("DeleteTree", {str("u")}), "sourcenotexist");
    EXPECT_EQ(number("ExistDir", {str("t")}), 1);
    EXPECT_EQ(number("ExistDir", {str("u")}), 0);
    EXPECT_EQ(number("DirectoryIsWriteable", {str("t")}), 1);
    EXPECT_EQ(number("ExistFile", {str("t/z.txt")}), 1);
    EXPECT_EQ(number("ExistFile", {str("t")}), 0);
}

TEST(MendedFaults, DeleteTreeRemovesLinksNeverTheirTargets) {
    FileSandbox box;
    const std::string outside = box.write("keep/precious.txt", "data");
    box.write("work/t/f", "x");
    fs::create_directory_symlink(box.path("keep"), box.path("work/t/dirlink"));
    fs::create_symlink(outside, box.path("work/t/filelink"));
    fs::create_directory_symlink(box.path("work/t"), box.path("work/toplink"));
    EXPECT_EQ(text("DeleteTree", {str("toplink")}), "failed");
    EXPECT_EQ(text("DeleteTree", {str("toplink/")}), "failed");
    EXPECT_TRUE(fs::exists(box.path("work/t/f")));
    EXPECT_EQ(text("DeleteTree", {str("t")}), "success");
    EXPECT_EQ(FileSandbox::read(outside), "data");
    for (const char* refused : {"", "/", "//", "~"}) {
        // "~" is a name here, not the home directory: it does not exist.
        EXPECT_EQ(text("DeleteTree", {str(refused)}), refused[0] == '~' ? "sourcenotexist" : "failed") << refused;
    }
    EXPECT_EQ(text("DeleteTree", {str(box.path("home"))}), "failed");
    EXPECT_EQ(text("DeleteTree", {str(box.path("home/."))}), "failed");
    EXPECT_TRUE(fs::exists(box.path("home/.config")));
}

TEST(MendedFaults, CopyTreeRefusesItsOwnInsideAndCopiesLinksAsLinks) {
    FileSandbox box;
    box.write("work/s/f", "x");
    fs::create_directory_symlink("..", box.path("work/s/loop"));  // a loop back to the parent
    EXPECT_EQ(text("CopyTree", {str("s"), str("s/inner")}), "failed");
    EXPECT_FALSE(fs::exists(box.path("work/s/inner")));
    EXPECT_EQ(text("CopyTree", {str("s"), str("d")}), "success");
    EXPECT_TRUE(fs::is_symlink(box.path("work/d/loop")));
    EXPECT_EQ(fs::read_symlink(box.path("work/d/loop")), "..");
}

TEST(MendedFaults, ProbesTouchOnlyTheirOwnFileAndKeepTheCurrentDirectory) {
    FileSandbox box;
    box.write("work/d/$$Temp", "someone's");
    const auto before = fs::current_path();
    EXPECT_EQ(number("ExistDir", {str("d")}), 1);
    EXPECT_EQ(FileSandbox::read(box.path("work/d/$$Temp")), "someone's");
    EXPECT_EQ(Texts(texts("ListDirectory", {str("d")})), Texts{"$$Temp"});
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_EQ(text("FullPath", {str("x"), str(box.path("work/d"))}), box.path("work/d/x"));
    EXPECT_EQ(fs::current_path(), before);
    if (::geteuid() != 0) {  // the superuser writes anywhere
        fs::create_directory(box.path("work/ro"));
        ::chmod(box.path("work/ro").c_str(), 0555);
        EXPECT_EQ(number("ExistDir", {str("ro")}), 2);
        EXPECT_EQ(number("DirectoryIsWriteable", {str("ro")}), 0);
        EXPECT_TRUE(fs::is_empty(box.path("work/ro")));
    }
}

TEST(MendedFaults, TempFilesAreCreatedNotJustNamed) {
    FileSandbox box;
    const std::string a = text("GetTempFile", {}), b = text("GetTempFile", {str("d")});
    EXPECT_EQ(a.rfind(box.path("tmp") + "/", 0), 0u) << a;
    EXPECT_TRUE(fs::is_regular_file(a));
    EXPECT_EQ(b, "");  // no such directory
    EXPECT_NE(text("GetTempFile", {str(box.path("tmp"))}), a);
}
