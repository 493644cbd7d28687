// The line splitters, the tokenisers, the line reader, the file helpers and
// sp_SplitPath.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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
class TempFile {
public:
    explicit TempFile(const std::string& content) {
        char name[] = "/tmp/cvfunc_textlines_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        path_ = name;
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
    }
    ~TempFile() { unlink(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
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

TEST(SplitLine, FieldsAtTheSeparator) {
    EXPECT_EQ(split("a;b;c", ';'), (Texts{"a", "b", "c"}));
    EXPECT_EQ(split(";a;;b", ';'), (Texts{"", "a", "", "b"}));
    EXPECT_EQ(split("a;b;", ';'), (Texts{"a", "b"}));   // a final separator opens no field
    EXPECT_EQ(split(";", ';'), (Texts{""}));
    EXPECT_EQ(split(";;", ';'), (Texts{"", ""}));
    EXPECT_EQ(split("", ';'), Texts{});
    EXPECT_EQ(split("no separator", ';'), (Texts{"no separator"}));
    EXPECT_EQ(split("2024-01-05", '-'), (Texts{"2024", "01", "05"}));
}

TEST(SplitLine, AppendsToWhatIsThere) {
    YArray<YString> out;
    out.add("kept");
    sp_SplitLine("x;y", ';', out);
    EXPECT_EQ(texts(out), (Texts{"kept", "x", "y"}));
}

TEST(SplitLine, QuotePairProtectsTheSeparator) {
    EXPECT_EQ(splitQuoted("k;<a;b>;c", ';', "<>"), (Texts{"k", "<a;b>", "c"}));
    EXPECT_EQ(splitQuoted("k;<a;b>;c", ';', "<>", SplitLineStripQuotes), (Texts{"k", "a;b", "c"}));
    EXPECT_EQ(splitQuoted("<a<b>;c>;d", ';', "<>", SplitLineStripQuotes), (Texts{"a<b>;c", "d"}));   // nesting
    EXPECT_EQ(splitQuoted("x;\"p;q\";y", ';', "\"\""), (Texts{"x", "\"p;q\"", "y"}));             // equal: toggles
    EXPECT_EQ(splitQuoted("a>;b", ';', "<>"), (Texts{"a>", "b"}));   // a stray close is ordinary
    EXPECT_EQ(splitQuoted("<>;x", ';', "<>", SplitLineStripQuotes), (Texts{"", "x"}));
    EXPECT_EQ(splitQuoted("a;b", ';', ""), (Texts{"a", "b"}));
}

TEST(SplitLine, UnclosedQuoteRunsToTheEnd) {
    YArray<YString> out;
    EXPECT_FALSE(sp_SplitLine("a;<b;c", ';', "<>", out));
    EXPECT_EQ(texts(out), (Texts{"a", "<b;c"}));
}

// --- sp_ScanLine ------------------------------------------------------------

TEST(ScanLine, RunsOfDelimitersSeparateTokens) {
    YArray<YString> out;
    EXPECT_EQ(sp_ScanLine("  1k 2\t\tTC=1 ,W=10u  ", " \t=,", out, 2147483647), 6);
    EXPECT_EQ(texts(out), (Texts{"1k", "2", "TC", "1", "W", "10u"}));
    YArray<YString> none;
    EXPECT_EQ(sp_ScanLine("  ,, ", " ,", none, 100), 0);
    EXPECT_EQ(sp_ScanLine("", " ", none, 100), 0);
    EXPECT_EQ(sp_ScanLine("abc", "", none, 100), 1);   // no delimiters: one token
}

TEST(ScanLine, MaxLimitsTheTokens) {
    YArray<YString> out;
    EXPECT_EQ(sp_ScanLine("a b c d", " ", out, 2), 2);
    EXPECT_EQ(texts(out), (Texts{"a", "b"}));
    EXPECT_EQ(sp_ScanLine("a b", " ", out, 0), 0);
    EXPECT_EQ(sp_ScanLine("a b", " ", out, -5), 0);
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
    const char* empty = "";
    EXPECT_FALSE(sp_ScanLine(empty, ';', field));
    const char* null = nullptr;
    EXPECT_FALSE(sp_ScanLine(null, ';', field));
    const char* lead = ";x";
    ASSERT_TRUE(sp_ScanLine(lead, ';', field));
    EXPECT_EQ(field, "");
    ASSERT_TRUE(sp_ScanLine(lead, ';', field));
    EXPECT_EQ(field, "x");
    EXPECT_FALSE(sp_ScanLine(lead, ';', field));
}

// --- sp_ReadNextNonBlankLine ------------------------------------------------

TEST(ReadNonBlank, SkipsBlankLinesAndStripsLineEnds) {
    TempFile file("first\r\n\r\n   \t\n second \nthird\r\n\n");
    long long counter = 0;
    EXPECT_EQ(readAllNonBlank(file.path(), &counter), (Texts{"first", " second ", "third"}));
    EXPECT_EQ(counter, 6);   // every physical line, blank ones included
}

TEST(ReadNonBlank, LastLineWithoutNewlineAndNoCounter) {
    TempFile file("\n\nonly line");
    EXPECT_EQ(readAllNonBlank(file.path(), nullptr), (Texts{"only line"}));
}

TEST(ReadNonBlank, VeryLongLine) {
    const std::string longLine(1 << 20, 'x');
    TempFile file("short\n" + longLine + "\r\nend");
    long long counter = 10;   // counting adds to what is there
    const Texts lines = readAllNonBlank(file.path(), &counter);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], longLine);
    EXPECT_EQ(counter, 13);
}

TEST(ReadNonBlank, EmptyFileAndNullFile) {
    TempFile file("");
    EXPECT_TRUE(readAllNonBlank(file.path(), nullptr).empty());
    YString line("old");
    EXPECT_FALSE(sp_ReadNextNonBlankLine(nullptr, line, nullptr));
    EXPECT_TRUE(line.empty());
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

TEST(FileUtf8, WindowsModesAndErrors) {
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
    EXPECT_EQ(fopen_utf8(file.path(), "t"), nullptr);   // no r, w or a
    EXPECT_EQ(fopen_s_utf8(nullptr, file.path(), "r"), EINVAL);
}

TEST(FileUtf8, UnlinkRemovesTheFile) {
    const std::string path = std::string(::testing::TempDir()) + "cvfunc_unlink_\xC3\xA9.txt";   // UTF-8 name
    FILE* f = fopen_utf8(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(unlink_utf8(path.c_str()), 0);
    EXPECT_EQ(fopen_utf8(path.c_str(), "r"), nullptr);
    EXPECT_EQ(unlink_utf8(path.c_str()), -1);
    EXPECT_EQ(unlink_utf8(nullptr), -1);
}

// --- sp_SplitPath -----------------------------------------------------------

namespace {
Texts parts(std::string_view path) {
    const PathName p = sp_SplitPath(path);
    return {p.drive.str(), p.dir.str(), p.fname.str(), p.ext.str()};
}
}  // namespace

TEST(SplitPath, WindowsAndPosixPaths) {
    EXPECT_EQ(parts("C:\\a\\b.txt"), (Texts{"C:", "\\a\\", "b", ".txt"}));
    EXPECT_EQ(parts("/usr/lib/x.so.1"), (Texts{"", "/usr/lib/", "x.so", ".1"}));
    EXPECT_EQ(parts("d:/mixed\\seps/f"), (Texts{"d:", "/mixed\\seps/", "f", ""}));
    EXPECT_EQ(parts("C:file.cir"), (Texts{"C:", "", "file", ".cir"}));
    EXPECT_EQ(parts("name"), (Texts{"", "", "name", ""}));
    EXPECT_EQ(parts("/dir/"), (Texts{"", "/dir/", "", ""}));
    EXPECT_EQ(parts(""), (Texts{"", "", "", ""}));
}

TEST(SplitPath, DotsThatBeginANameAreNotExtensions) {
    EXPECT_EQ(parts("/home/u/.bashrc"), (Texts{"", "/home/u/", ".bashrc", ""}));
    EXPECT_EQ(parts(".bashrc.bak"), (Texts{"", "", ".bashrc", ".bak"}));
    EXPECT_EQ(parts("a/.."), (Texts{"", "a/", "..", ""}));
    EXPECT_EQ(parts("."), (Texts{"", "", ".", ""}));
    EXPECT_EQ(parts("file."), (Texts{"", "", "file", "."}));
    EXPECT_EQ(parts("dir.d/file"), (Texts{"", "dir.d/", "file", ""}));   // a dot in the directory is not the extension
}
