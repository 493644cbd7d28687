// The line splitters, the tokenisers, the line reader, the file helpers and
// sp_SplitPath.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "FileUtil.h"
#include "PathUtil.h"
#include "TextLines.h"

namespace {

std::vector<std::string> texts(const YArray<YString>& a) {
    std::vector<std::string> out;
    for (const YString& s : a) out.push_back(s.str());
    return out;
}

using Texts = std::vector<std::string>;

std::vector<std::string> split(std::string_view text, char sep, int mode = 0) {
    YArray<YString> out;
    EXPECT_TRUE(sp_SplitLine(text, sep, out, mode));
    return texts(out);
}

std::vector<std::string> splitQuoted(std::string_view text, char sep, std::string_view quotes, int mode = 0) {
    YArray<YString> out;
    sp_SplitLine(text, sep, quotes, out, mode);
    return texts(out);
}

std::vector<std::string> scan(std::string_view text, const ScanSpec& settings, int max = 2147483647) {
    YArray<YString> out;
    const int n = sp_ScanLine(text, settings, out, max);
    EXPECT_EQ(n, out.count());
    return texts(out);
}

// A temporary file that removes itself.
struct TempFile {
    explicit TempFile(const std::string& content) {
        static int counter = 0;
        name = "/tmp/cvfunc_textlines_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
        std::ofstream(name, std::ios::binary) << content;
    }
    ~TempFile() { unlink(name.c_str()); }
    const char* path() const { return name.c_str(); }
    std::string name;
};

std::vector<std::string> readAllNonBlank(const char* path, long long* counter) {
    FILE* f = fopen_utf8(path, "rt");
    EXPECT_NE(f, nullptr);
    std::vector<std::string> lines;
    YString line;
    while (sp_ReadNextNonBlankLine(f, line, counter)) lines.push_back(line.str());
    EXPECT_TRUE(line.empty());
    std::fclose(f);
    return lines;
}

}  // namespace

// --- sp_SplitLine -----------------------------------------------------------

TEST(SplitLine, FieldsAtTheSeparatorAppendedToWhatIsThere) {
    // A final separator opens no field.
    const std::pair<const char*, Texts> cases[] = {
        {"a;b;c", {"a", "b", "c"}}, {";a;;b", {"", "a", "", "b"}}, {"a;b;", {"a", "b"}}, {";", {""}},
        {";;", {"", ""}}, {"", {}}, {"no separator", {"no separator"}}};
    for (const auto& [text, fields] : cases) EXPECT_EQ(split(text, ';'), fields) << text;
    EXPECT_EQ(split("2024-01-05", '-'), (Texts{"2024", "01", "05"}));
    YArray<YString> out;
    out.add("kept");
    sp_SplitLine("x;y", ';', out);
    EXPECT_EQ(texts(out), (Texts{"kept", "x", "y"}));
}

TEST(SplitLine, QuotePairProtectsTheSeparatorAndAnUnclosedOneRunsToTheEnd) {
    EXPECT_EQ(splitQuoted("k;<a;b>;c", ';', "<>"), (Texts{"k", "<a;b>", "c"}));
    EXPECT_EQ(splitQuoted("k;<a;b>;c", ';', "<>", SplitLineStripQuotes), (Texts{"k", "a;b", "c"}));
    EXPECT_EQ(splitQuoted("<a<b>;c>;d", ';', "<>", SplitLineStripQuotes), (Texts{"a<b>;c", "d"}));  // nesting
    EXPECT_EQ(splitQuoted("x;\"p;q\";y", ';', "\"\""), (Texts{"x", "\"p;q\"", "y"}));            // equal: toggles
    EXPECT_EQ(splitQuoted("a>;b", ';', "<>"), (Texts{"a>", "b"}));  // a stray close is ordinary
    EXPECT_EQ(splitQuoted("<>;x", ';', "<>", SplitLineStripQuotes), (Texts{"", "x"}));
    EXPECT_EQ(splitQuoted("a;b", ';', ""), (Texts{"a", "b"}));
    YArray<YString> out;
    EXPECT_FALSE(sp_SplitLine("a;<b;c", ';', "<>", out));
    EXPECT_EQ(texts(out), (Texts{"a", "<b;c"}));
}

// --- sp_ScanLine ------------------------------------------------------------

TEST(ScanLine, RunsOfDelimitersSeparateTokensUpToTheMax) {
    YArray<YString> out;
    EXPECT_EQ(sp_ScanLine("  1k 2\t\tTC=1 ,W=10u  ", " \t=,", out, 2147483647), 6);
    EXPECT_EQ(texts(out), (Texts{"1k", "2", "TC", "1", "W", "10u"}));
    YArray<YString> none;
    EXPECT_EQ(sp_ScanLine("  ,, ", " ,", none, 100), 0);
    EXPECT_EQ(sp_ScanLine("", " ", none, 100), 0);
    EXPECT_EQ(sp_ScanLine("abc", "", none, 100), 1);  // no delimiters: one token
    YArray<YString> two;
    EXPECT_EQ(sp_ScanLine("a b c d", " ", two, 2), 2);
    EXPECT_EQ(texts(two), (Texts{"a", "b"}));
    EXPECT_EQ(sp_ScanLine("a b", " ", two, 0), 0);
    EXPECT_EQ(sp_ScanLine("a b", " ", two, -5), 0);
}

TEST(ScanLine, QuotedTokensLoseTheirQuotes) {
    const ScanSpec settings{" \t=,", "\"'", "\"'", "", 0};
    EXPECT_EQ(scan("W=\"1 2\" L='a,b' M=\"\"", settings), (Texts{"W", "1 2", "L", "a,b", "M", ""}));
    EXPECT_EQ(scan("x=\"unclosed value", settings), (Texts{"x", "unclosed value"}));
    EXPECT_EQ(scan("a\"b c\"", settings), (Texts{"a\"b", "c\""}));   // quotes count only at a token's start
    EXPECT_EQ(scan("\"ab\"cd", settings), (Texts{"ab", "cd"}));
    const ScanSpec brackets{" ", "([", ")]", "", 0};
    EXPECT_EQ(scan("(a b) [c d] (e]", brackets), (Texts{"a b", "c d", "e]"}));   // each open has its own close
}

TEST(ScanLine, CursorFormGivesEveryField) {
    const char* text = "a;;b;";
    const char* cursor = text;
    YString field("untouched");
    Texts fields;
    while (sp_ScanLine(cursor, ';', field)) fields.push_back(field.str());
    EXPECT_EQ(fields, (Texts{"a", "", "b"}));
    EXPECT_EQ(field, "b");
    EXPECT_EQ(*cursor, '\0');
    const char *empty = "", *null = nullptr;
    EXPECT_FALSE(sp_ScanLine(empty, ';', field) || sp_ScanLine(null, ';', field));
    fields.clear();
    for (const char* lead = ";x"; sp_ScanLine(lead, ';', field);) fields.push_back(field.str());
    EXPECT_EQ(fields, (Texts{"", "x"}));
}

// --- sp_ReadNextNonBlankLine ------------------------------------------------

TEST(ReadNonBlank, SkipsBlankLinesStripsLineEndsAndCountsEveryLine) {
    TempFile file("first\r\n\r\n   \t\n second \nthird\r\n\n");
    long long counter = 0;
    EXPECT_EQ(readAllNonBlank(file.path(), &counter), (Texts{"first", " second ", "third"}));
    EXPECT_EQ(counter, 6);  // every physical line, blank ones included
    TempFile last("\n\nonly line");  // no newline at the end, no counter
    EXPECT_EQ(readAllNonBlank(last.path(), nullptr), (Texts{"only line"}));
    TempFile empty("");
    EXPECT_TRUE(readAllNonBlank(empty.path(), nullptr).empty());
    YString line("old");
    EXPECT_FALSE(sp_ReadNextNonBlankLine(nullptr, line, nullptr));
    EXPECT_TRUE(line.empty());
    const std::string longLine(1 << 20, 'x');
    TempFile longFile("short\n" + longLine + "\r\nend");
    counter = 10;  // counting adds to what is there
    const Texts lines = readAllNonBlank(longFile.path(), &counter);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], longLine);
    EXPECT_EQ(counter, 13);
}

// --- sp_FillString ----------------------------------------------------------

TEST(FillString, SlotsReceiveMallocedCopies) {
    YList<YString> list;
    list.append("one");
    list.append("");
    list.append("three");
    char* slots[3] = {};
    sp_FillString(list, slots);
    EXPECT_STREQ(slots[0], "one");
    EXPECT_STREQ(slots[1], "");
    EXPECT_STREQ(slots[2], "three");
    for (char* s : slots) std::free(s);
    sp_FillString(list, nullptr);   // no slots: nothing written
}

// --- files ------------------------------------------------------------------

TEST(FileUtf8, WindowsModesErrorsAndUnlink) {
    TempFile file("data");
    FILE* f = nullptr;
    EXPECT_EQ(fopen_s_utf8(&f, file.path(), "rtN, ccs=UTF-8"), 0);
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, 4, f), 4u);
    EXPECT_STREQ(buf, "data");
    std::fclose(f);
    EXPECT_NE(fopen_s_utf8(&f, "/nonexistent/dir/file", "r"), 0);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(fopen_utf8(nullptr, "r"), nullptr);
    EXPECT_EQ(fopen_utf8(file.path(), "t"), nullptr);  // no r, w or a
    EXPECT_EQ(fopen_s_utf8(nullptr, file.path(), "r"), EINVAL);

    const std::string path = std::string(::testing::TempDir()) + "cvfunc_unlink_\xC3\xA9.txt";  // UTF-8 name
    ASSERT_NE(f = fopen_utf8(path.c_str(), "wb"), nullptr);
    std::fclose(f);
    EXPECT_EQ(unlink_utf8(path.c_str()), 0);
    EXPECT_EQ(fopen_utf8(path.c_str(), "r"), nullptr);
    EXPECT_EQ(unlink_utf8(path.c_str()), -1);
    EXPECT_EQ(unlink_utf8(nullptr), -1);
}

// --- sp_SplitPath -----------------------------------------------------------

TEST(SplitPath, WindowsAndPosixPathsWhereLeadingDotsAreNoExtensions) {
    // A dot in the directory is not the extension.
    const std::pair<const char*, Texts> cases[] = {
        {"C:\\a\\b.txt", {"C:", "\\a\\", "b", ".txt"}}, {"/usr/lib/x.so.1", {"", "/usr/lib/", "x.so", ".1"}},
        {"d:/mixed\\seps/f", {"d:", "/mixed\\seps/", "f", ""}}, {"C:file.cir", {"C:", "", "file", ".cir"}},
        {"name", {"", "", "name", ""}}, {"/dir/", {"", "/dir/", "", ""}}, {"", {"", "", "", ""}},
        {"/home/u/.bashrc", {"", "/home/u/", ".bashrc", ""}}, {".bashrc.bak", {"", "", ".bashrc", ".bak"}},
        {"a/..", {"", "a/", "..", ""}}, {".", {"", "", ".", ""}}, {"file.", {"", "", "file", "."}},
        {"dir.d/file", {"", "dir.d/", "file", ""}}};
    for (const auto& [path, want] : cases) {
        const PathName p = sp_SplitPath(path);
        EXPECT_EQ((Texts{p.drive.str(), p.dir.str(), p.fname.str(), p.ext.str()}), want) << path;
    }
}
