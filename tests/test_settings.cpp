// Settings: INI files, the configuration store and its collections, the
// registry trees and the device catalog, through the function table, inside
// a sandbox (the system directory too). Writes by
// two processes at once are in tests/python/test_settings_peers.py; links and
// permissions kept on replace, in test_atomic_file.cpp.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "FileSandbox.h"
#include "IniFile.h"

namespace fs = std::filesystem;
using namespace cvtest;  // the call helpers and FileSandbox

namespace {

bool writeIni(const std::string& file, const std::string& section, const std::string& key,
              std::optional<std::string> value) {
    std::vector<cv::ValuePtr> args{str(file), str(section), str(key)};
    if (value) args.push_back(str(*value));
    return number("WriteIniKey", args) == 1;
}

}  // namespace

// ---------------------------------------------------------------- INI semantics

TEST(IniSemantics, ReadRulesTable) {
    FileSandbox box;
    const std::string file = box.write("work/a.ini",
                                       "top=before any section\n"
                                       "[Main]\n"
                                       "  Name  =  first value  \n"
                                       "name=second\n"
                                       "; hidden=comment\n"
                                       "#hash=kept as a key\n"
                                       "tail=x ; not a comment\n"
                                       "novalue\n"
                                       "=empty key\n"
                                       "quoted=\"q\"\n"
                                       "[ main ]\n"
                                       "late=never read\n"
                                       "[Other]\r\n"
                                       "crlf=yes\r\n"
                                       "last=no line end");
    const std::tuple<const char*, const char*, Texts> cases[] = {
        {"main", "NAME", {"first value"}},  // case, blanks, first occurrence
        {"Main", "hidden", {}},            {"Main", "#hash", {"kept as a key"}},
        {"Main", "tail", {"x ; not a comment"}},
        {"Main", "novalue", {}},           {"Main", "quoted", {"\"q\""}},
        {"Main", "late", {}},              {"Other", "crlf", {"yes"}},
        {"other", "last", {"no line end"}}, {"", "top", {"Main", "Other"}},
        {"Main", "", {"Name", "#hash", "tail", "quoted"}},
        {"Nope", "", {}},
    };
    for (const auto& [section, key, want] : cases) {
        EXPECT_EQ(texts("ReadIniKey", {str(file), str(section), str(key)}), want) << section << "/" << key;
    }
    for (const char* f : {"", "missing.ini", "/dev/zero", "."})
        EXPECT_TRUE(cvtest::noResult(cvtest::call("ReadIniKey", {str(f), str("Main"), str("Name")}))) << f;
}

// Writes change only what they must; every other byte stays.
TEST(IniSemantics, WritesKeepEverythingElseTable) {
    FileSandbox box;
    struct Case {
        std::string before, section, key;
        std::optional<std::string> value;
        std::string after;
    };
    const Case cases[] = {
        {"; c\n[A]\nk = old ; v\n", "a", "K", "new", "; c\n[A]\nk = new\n"},
        {"[A]\nx=1\n\n; end of A\n[B]\n", "A", "y", "2", "[A]\nx=1\ny=2\n\n; end of A\n[B]\n"},
        {"[A]\r\nx=1\r\n", "B", "k", " v ", "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
        {"[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2\n"},
        {"[A]\nx=1\nX=2\n[a]\nx=3\n", "A", "x", std::nullopt, "[A]\n[a]\nx=3\n"},
        {"[A]\nx=1\n", "B", "x", std::nullopt, "[A]\nx=1\n"},
        {"[A]\nx=1\nx=2\n", "A", "x", "9", "[A]\nx=9\nx=2\n"},
        {"", "S", "k", "", "[S]\nk=\n"},
    };
    for (const auto& c : cases) {
        const std::string file = box.write("work/w.ini", c.before);
        EXPECT_TRUE(writeIni(file, c.section, c.key, c.value)) << c.before;
        EXPECT_EQ(FileSandbox::read(file), c.after) << c.before;
    }
    // A missing file is created on write, not on delete.
    EXPECT_TRUE(writeIni("new.ini", "S", "k", "v"));
    EXPECT_EQ(FileSandbox::read("new.ini"), "[S]\nk=v\n");
    EXPECT_TRUE(writeIni("none.ini", "S", "k", std::nullopt));
    EXPECT_FALSE(fs::exists("none.ini"));
}

// Many keys at once land exactly where setting them one by one would put
// them, in one pass (a collection of 10^5 files took minutes key by key).
TEST(IniSemantics, AppendingKeysWritesWhatSettingThemOneByOneWould) {
    const std::vector<std::pair<std::string, std::string>> keys{{"File1", "a"}, {"File2", "b c"}, {"File3", ""}};
    for (const char* text : {"", "[S]\n", "[S]\r\nx=1\r\n; note\r\n\r\n[T]\r\ny=2", "[T]\ny=2",
                             "pre\n[s] \n;c\nk=v\njunk\n[S]\nz=9\n[U]\n", "[S]\nk=v"}) {
        IniDocument one(text), all(text);
        for (const auto& [k, v] : keys) one.set("S", k, v);
        all.appendKeys(" S ", keys);
        EXPECT_EQ(all.text(), one.text()) << text;
    }
}

TEST(IniSemantics, RefusedWritesTouchNothing) {
    FileSandbox box;
    const std::string before = "[S]\nk=v\n";
    const std::string file = box.write("work/r.ini", before);
    const std::tuple<const char*, const char*, const char*> refused[] = {
        {"S", "", "v"}, {"", "k", "v"}, {"S", "a=b", "v"}, {"S", ";k", "v"}, {"S", "[k", "v"},
        {"S]", "k", "v"}, {"S\n[T", "k", "v"}, {"S", "k", "v\rx=injected"},
    };
    for (const auto& [section, key, value] : refused) {
        EXPECT_FALSE(writeIni(file, section, key, value)) << section << "/" << key;
        EXPECT_EQ(FileSandbox::read(file), before);
    }
    EXPECT_FALSE(writeIni("", "S", "k", "v"));
    EXPECT_FALSE(writeIni("nodir/x.ini", "S", "k", "v"));
    fs::create_directory("adir");
    EXPECT_FALSE(writeIni("adir", "S", "k", "v"));
}

// ---------------------------------------------------------------- malformed files

// Binary bytes, text that is not UTF-8, NULs and lines of any kind are read
// around and written back byte for byte.
TEST(MendedFaults, MalformedFileNeverLosesBytes) {
    FileSandbox box;
    using namespace std::string_literals;
    const std::string junk = "\x00\xff\xfe[\x80\x81]\n\x00=\x01\n\xc3(bad utf8\n[S]\nk=\xe9t\xe9\n"s +
                             std::string(70000, 'z') + "\n[S2\nno close\n";
    const std::string file = box.write("work/bin.ini", junk);
    EXPECT_EQ(texts("ReadIniKey", {str(file), str("S"), str("k")}), Texts{"\xe9t\xe9"});
    EXPECT_TRUE(writeIni(file, "S", "new", "1"));
    const std::string after = FileSandbox::read(file);
    const size_t at = junk.find("k=\xe9t\xe9\n") + 6;
    EXPECT_EQ(after, junk.substr(0, at) + "new=1\n" + junk.substr(at));
    // A file too large to hold, or one that cannot be read, is never replaced.
    fs::resize_file(box.write("work/huge.ini", "[S]\n"), uintmax_t(1) << 42);
    EXPECT_FALSE(writeIni("huge.ini", "S", "k", "x"));
    EXPECT_EQ(fs::file_size("huge.ini"), uintmax_t(1) << 42);
    if (::geteuid() != 0) {
        ::chmod(file.c_str(), 0200);
        EXPECT_FALSE(writeIni(file, "S", "k", "x"));
        ::chmod(file.c_str(), 0600);
        EXPECT_EQ(FileSandbox::read(file), after);
    }
}

// ---------------------------------------------------------------- the configuration store

TEST(ConfigStore, SettingsLiveInTheHome) {
    FileSandbox box;
    EXPECT_EQ(text("GetConfigLoc", {}), box.path("cvhome"));
    fs::remove(box.path("cvhome"));  // created again on the first write
    EXPECT_EQ(number("WriteConfigSetting", {str("Paths"), str("Lib"), str("/x/y")}), 1);
    EXPECT_EQ(number("WriteConfigSetting", {str("paths"), str("Other"), str("2")}), 1);
    EXPECT_EQ(FileSandbox::read(box.path("cvhome/config.ini")), "[Paths]\nLib=/x/y\nOther=2\n");
    EXPECT_EQ(texts("ReadConfigSetting", {str("PATHS"), str("lib")}), Texts{"/x/y"});
    EXPECT_EQ(texts("ReadConfigSetting", {str("Paths")}), (Texts{"Lib", "Other"}));
    // A missing key still answers one value, the empty one.
    EXPECT_EQ(texts("ReadConfigSetting", {str("Paths"), str("missing")}), Texts{""});
    EXPECT_TRUE(cvtest::noResult(cvtest::call("ReadConfigSetting", {str("Missing")})));
    // No value deletes the key; names that cannot be stored are refused.
    EXPECT_EQ(number("WriteConfigSetting", {str("Paths"), str("Lib")}), 1);
    EXPECT_EQ(texts("ReadConfigSetting", {str("Paths")}), Texts{"Other"});
    EXPECT_EQ(number("WriteConfigSetting", {str("Paths"), str("k"), str("a\nb")}), 0);
    // The home's default is the XDG config directory.
    box.unsetEnv("CVFUNC_HOME");
    EXPECT_EQ(text("GetConfigLoc", {}), box.path("home/.config/cvfunc"));
}

TEST(ConfigStore, CollectionsKeepOrderAndCount) {
    FileSandbox box;
    auto add = [](const char* name, Texts files, Texts options = {}) {
        std::vector<cv::ValuePtr> args{str(name), strings(files)};
        if (!options.empty()) args.push_back(strings(options));
        return number("AddConfigCollection", args);
    };
    const std::string w = box.path("work/");
    EXPECT_EQ(add("Libs", {"b.lib", "a.lib", "b.lib", ""}), 2);
    EXPECT_EQ(add("libs", {w + "a.lib", "c.lib"}), 1);  // the same file by another spelling
    EXPECT_EQ(texts("ReadConfigCollection", {str("LIBS")}), (Texts{w + "b.lib", w + "a.lib", w + "c.lib"}));
    EXPECT_EQ(number("RemoveConfigCollection", {str("Libs"), strings({"a.lib", "zzz"})}), 1);
    EXPECT_EQ(texts("ReadConfigCollection", {str("Libs")}), (Texts{w + "b.lib", w + "c.lib"}));
    // Word order: the word nearer the front decides; nonpath keeps text as given.
    EXPECT_EQ(add("Words", {"not a path", "x.lib"}, {"nonpath", "uselogicalpaths"}), 2);
    EXPECT_EQ(texts("ReadConfigCollection", {str("Words")}), (Texts{"not a path", "x.lib"}));
    EXPECT_EQ(add("Logical2", {box.path("cvhome/my.lib")}, {"uselogicalpaths"}), 1);
    EXPECT_EQ(texts("ReadConfigCollection", {str("Logical2")}), Texts{"%CVFUNC_HOME%/my.lib"});
    // Deleting: 1 when it was there, 0 when not, -1 for a name no section can have.
    EXPECT_EQ(number("DeleteConfigCollection", {str("libs")}), 1);
    EXPECT_EQ(number("DeleteConfigCollection", {str("libs")}), 0);
    EXPECT_EQ(number("DeleteConfigCollection", {str("")}), -1);
    EXPECT_EQ(add("Bad", {"x\ny"}), -1);
    // Removing the last file removes the collection.
    EXPECT_EQ(number("RemoveConfigCollection", {str("Words"), strings({"not a path", "x.lib"})}), 2);
    EXPECT_EQ(FileSandbox::read(box.path("cvhome/config.ini")).find("[Words]"), std::string::npos);
}

// ---------------------------------------------------------------- registry trees

TEST(RegistryTrees, TreesWordsAndResults) {
    FileSandbox box;
    box.write("etc/registry.ini", "[Software\\Acme]\nPath=/opt/acme\n");
    box.write("etc/classes.ini",
              "[.raw]\n@=cvfunc.raw\n[cvfunc.raw\\shell\\open]\n@=open\n[cvfunc.raw\\DefaultIcon]\n@=x\n");
    const std::tuple<const char*, const char*, const char*, std::string> reads[] = {
        {"software\\acme", "PATH", "hkey_local_machine", "/opt/acme"},
        {"\\Software\\\\Acme\\", "Path", "HKLM", "/opt/acme"},
        {".RAW", "", "HKEY_CLASSES_ROOT", "cvfunc.raw"},
        {"Software\\Acme", "Path", "HKU", ""},
        {"Software\\Acme", "Path", "HKCU", ""},
    };
    for (const auto& [key, name, tree, want] : reads) {
        const auto o = cvtest::call("ReadRegSetting", {str(key), str(name), str(tree)});
        if (want.empty()) EXPECT_TRUE(cvtest::noResult(o)) << key << " " << tree;
        else EXPECT_EQ(text("ReadRegSetting", {str(key), str(name), str(tree)}), want) << key;
    }
    // The current user's tree is the default, and lives in the home.
    EXPECT_EQ(text("WriteRegSetting", {str("Software\\Me"), str("Size"), str("12")}), "Ok");
    EXPECT_EQ(text("ReadRegSetting", {str("SOFTWARE\\me"), str("size"), str("HKEY_CURRENT_USER")}), "12");
    EXPECT_EQ(FileSandbox::read(box.path("cvhome/registry.ini")), "[Software\\Me]\nSize=12\n");
    EXPECT_EQ(text("WriteRegSetting", {str("A"), str("b"), str("c"), str("HKEY_CLASSES_ROOT")}), "InvalidTreeName");
    EXPECT_EQ(text("WriteRegSetting", {str("A]"), str("b"), str("c")}), "WriteFailed");
    // The system tree: writable only where the directory lets the user write.
    EXPECT_EQ(text("WriteRegSetting", {str("Software\\Acme"), str("New"), str("1"), str("hklm")}), "Ok");
    box.setEnv("CVFUNC_SYSCONF", box.path("no/such/dir"));
    EXPECT_EQ(text("WriteRegSetting", {str("Software\\Acme"), str("New"), str("1"), str("HKLM")}), "WriteFailed");
    if (::geteuid() != 0) {
        box.setEnv("CVFUNC_SYSCONF", box.path("etc"));
        ::chmod(box.path("etc").c_str(), 0555);
        EXPECT_EQ(text("WriteRegSetting", {str("Software\\Acme"), str("New"), str("2"), str("HKLM")}), "WriteFailed");
        ::chmod(box.path("etc").c_str(), 0755);
    }
    box.setEnv("CVFUNC_SYSCONF", box.path("etc"));
    EXPECT_EQ(texts("GetRegistryClassesRootKeys", {str("")}), (Texts{".raw", "cvfunc.raw"}));
    EXPECT_EQ(texts("GetRegistryClassesRootKeys", {str("CVFUNC.RAW")}), (Texts{"shell", "DefaultIcon"}));
    EXPECT_TRUE(cvtest::noResult(cvtest::call("GetRegistryClassesRootKeys", {str(".raw")})));
}

// ---------------------------------------------------------------- device catalog

TEST(DeviceCatalog, FiltersInCatalogOrderAfterHeaders) {
    FileSandbox box;
    const std::string catalog = "R1;resistor;a\n\n  \nc1;cap;b\r\nQ7;bjt;c\nr1;again\nX;y\n";
    const std::string src = box.write("work/cat.txt", catalog);
    auto run = [&](const std::string& dest) {
        return number("WriteDeviceCatalog",
                      {strings({"r1;anything", "Q7", ";;", ""}), str(src), str(dest), strings({"# head", "v=1"})});
    };
    EXPECT_EQ(run("out.txt"), 1);
    EXPECT_EQ(FileSandbox::read("out.txt"), "# head\nv=1\nR1;resistor;a\nQ7;bjt;c\nr1;again\n");
    EXPECT_EQ(number("WriteDeviceCatalog", {strings({"c1"}), str(src), str("out2.txt")}), 1);
    EXPECT_EQ(FileSandbox::read("out2.txt"), "c1;cap;b\n");
    // A missing source or an unwritable destination: false, nothing changed.
    EXPECT_EQ(number("WriteDeviceCatalog", {strings({"c1"}), str("missing"), str("out2.txt")}), 0);
    EXPECT_EQ(FileSandbox::read("out2.txt"), "c1;cap;b\n");
    EXPECT_EQ(number("WriteDeviceCatalog", {strings({"c1"}), str(src), str("nodir/x")}), 0);
}

// The destination may be the source, or a link to it: it is read whole first.
TEST(MendedFaults, DeviceCatalogOntoItsOwnSource) {
    FileSandbox box;
    const std::string src = box.write("work/cat.txt", "A;1\nB;2\nC;3\n");
    fs::create_symlink(src, "link.txt");
    EXPECT_EQ(number("WriteDeviceCatalog", {strings({"a", "c"}), str(src), str(src)}), 1);
    EXPECT_EQ(FileSandbox::read(src), "A;1\nC;3\n");
    EXPECT_EQ(number("WriteDeviceCatalog", {strings({"c"}), str("link.txt"), str("link.txt"), strings({"h"})}), 1);
    EXPECT_TRUE(fs::is_symlink("link.txt"));
    EXPECT_EQ(FileSandbox::read(src), "h\nC;3\n");
}
