// File reading and writing: text files as lists of lines (whole, filtered by
// keyword, as netlist lines, or from every file of a directory), open tests,
// digests and checksums, file facts, and advisory locks that last across
// script commands.
//
// Only regular files are read: a directory, pipe or device gives the same
// answer as a file that cannot be opened, so nothing here can wait for ever
// on a pipe or read without end from a device.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "Directories.h"
#include "Encodings.h"
#include "FileLock.h"
#include "FileUtil.h"
#include "FuncKit.h"
#include "Md5.h"
#include "PathUtil.h"
#include "SpiceStream.h"
#include "SystemInfo.h"
#include "TextLines.h"
#include "Value.h"

namespace {

using namespace cvmod;

constexpr const char* kUnknownCodePage = "Code page %d is not known in function '%s'";

// ---------------------------------------------------------------- reading lines

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Lines split at line feeds, carriage returns dropped wherever they are; a
// final line feed ends the last line rather than starting an empty one. Text
// arrives in pieces (a file is read in blocks, so no copy of all of it is
// ever held); a line cut by a block boundary is put together again.
class LineCollector {
public:
    LineCollector() = default;
    LineCollector(const LineCollector&) = delete;
    LineCollector& operator=(const LineCollector&) = delete;
    ~LineCollector() {
        for (char* line : lines_) std::free(line);
    }

    void feed(const char* data, size_t size) {
        const char* end = data + size;
        // Carriage returns are rare outside CR LF files: look for them once a block.
        returns_ = std::memchr(data, '\r', size) != nullptr;
        while (data < end) {
            const char* nl = static_cast<const char*>(std::memchr(data, '\n', size_t(end - data)));
            if (!nl) {
                pending_.append(data, size_t(end - data));
                open_ = true;
                return;
            }
            if (open_) {
                pending_.append(data, size_t(nl - data));
                add(pending_.data(), pending_.size(), true);
                pending_.clear();
                open_ = false;
            } else {
                add(data, size_t(nl - data), returns_);
            }
            data = nl + 1;
        }
    }
    // The lines to the result (none for no text); the result owns them from then on.
    void finish(FuncResult& r) {
        if (open_) add(pending_.data(), pending_.size(), true);
        open_ = false;
        if (lines_.empty()) return;
        char** out = r.makeStringVector(int64_t(lines_.size()));
        std::memcpy(out, lines_.data(), lines_.size() * sizeof(char*));
        lines_.clear();
    }

private:
    void add(const char* text, size_t n, bool mayHaveReturns) {
        if (lines_.size() == lines_.capacity()) lines_.reserve(lines_.size() * 2 + 1024);
        char* line = static_cast<char*>(std::malloc(n + 1));
        if (!line) throw std::bad_alloc();
        std::memcpy(line, text, n);
        if (mayHaveReturns && std::memchr(line, '\r', n)) n = size_t(std::remove(line, line + n, '\r') - line);
        line[n] = '\0';
        lines_.push_back(line);
    }

    std::vector<char*> lines_;
    std::string pending_;
    bool open_ = false;
    bool returns_ = false;
};

FUNC_ERROR cannotOpen(MessageHandler& m, const char* path) {
    std::string message;
    m.error("%s", sp_FileOpenForensicMsg(path, "r", message).c_str());
    return FuncFailed;
}

FUNC_ERROR readFile(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const char* path = stringOr(a, 0);
    LineCollector lines;
    if (sameWord(stringOr(a, 1), "mbcs")) {
        // A code page may need the whole text (shift states), so it is converted at once.
        JFileBuf file;
        if (!file.open(path, true)) return cannotOpen(m, path);
        const int codePage = given(a, 2) ? int(std::strtol(stringOr(a, 2), nullptr, 10)) : 0;
        std::string converted;
        if (!sp_ConvertMBCSBlock_to_UTF8(file.data(), file.size(), converted, codePage)) {
            m.error(kUnknownCodePage, codePage, a.functionName());
            return FuncFailed;
        }
        file.close();
        lines.feed(converted.data(), converted.size());
        lines.finish(r);
        return FuncOk;
    }
    const File f(cv::openRegularFile(path));
    if (!f) return cannotOpen(m, path);
    std::vector<char> block(size_t(1) << 20);
    for (size_t n; (n = std::fread(block.data(), 1, block.size(), f.get())) > 0;) lines.feed(block.data(), n);
    if (std::ferror(f.get())) return cannotOpen(m, path);
    lines.finish(r);
    return FuncOk;
}

// Feeds `take` every line of the file: the logical lines of the netlist
// reader, or the plain non-blank lines. False when the file cannot be read.
template <class Take>
bool forEachLine(const char* path, bool netlist, Take&& take) {
    YString line;
    if (netlist) {
        const auto stream = NewSpiceStream(path);
        if (!stream->valid()) return false;
        while (stream->gets(line)) take(line);
        return true;
    }
    const File f(cv::openRegularFile(path));
    if (!f) return false;
    while (sp_ReadNextNonBlankLine(f.get(), line, nullptr)) take(line);
    return true;
}

FUNC_ERROR filterFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    bool strip = false, netlist = false;
    for (std::string_view option : stringsOf(a, 2)) {
        strip = strip || sameWord(option, "strip");
        netlist = netlist || sameWord(option, "spice");
    }
    const auto keywords = stringsOf(a, 1);
    std::vector<std::string> found;
    forEachLine(stringOr(a, 0), netlist, [&](const YString& line) {
        std::string_view rest = line.view();
        YString token;
        if (!sp_GetToken(rest, " \t", token)) return;
        for (std::string_view keyword : keywords) {
            if (!sameWord(keyword, token.view())) continue;
            if (!strip) {
                found.emplace_back(line.view());
                continue;
            }
            const size_t begin = rest.find_first_not_of(" \t");
            found.emplace_back(begin == std::string_view::npos ? std::string_view() : rest.substr(begin));
        }
    });
    if (!found.empty()) setStrings(r, found);
    return FuncOk;
}

FUNC_ERROR readSpiceFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const bool skipComments = wordOf(a, 1, {"skipcomments"}, -1, -1) == 0;
    std::vector<YString> lines;
    forEachLine(stringOr(a, 0), true, [&](const YString& line) {
        if (!(skipComments && line[0] == '*')) lines.push_back(line);
    });
    setStrings(r, lines);
    return FuncOk;
}

FUNC_ERROR loadFiles(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char marker = given(a, 1) ? stringOr(a, 1)[0] : '\0';
    std::vector<std::string> files, lines;
    sp_ListDirectory(stringOr(a, 0), files, true);
    // The lines of many files could add up past memory even when each file fits.
    size_t bytes = 0;
    for (const auto& path : files) {
        forEachLine(path.c_str(), false, [&](const YString& line) {
            if (marker && line[0] == marker) return;
            bytes += line.size() + sizeof(char*) + 1;
            if (bytes > cv::memoryLimitBytes()) throw std::bad_alloc();
            lines.emplace_back(line.view());
        });
    }
    setStrings(r, lines);
    return FuncOk;
}

// ---------------------------------------------------------------- open tests

FUNC_ERROR canOpenFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string path = stringOr(a, 0);
    const bool writing = sameWord(stringOr(a, 1), "write");
    setBool(r, writing ? cv::canOpenForWriting(path.c_str()) : cv::canOpenForReading(path.c_str()));
    return FuncOk;
}

// ---------------------------------------------------------------- digests and checksums

FUNC_ERROR getFileStamp(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    MD5_Impl md5;
    for (std::string_view path : stringsOf(a, 0))
        if (!md5.addFile(std::string(path).c_str())) md5.addString("file-didnt-open");
    setString(r, md5.get());
    return FuncOk;
}

FUNC_ERROR getMD5(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string digest = sp_GetMD5File(stringOr(a, 0));
    if (!digest.empty()) setString(r, digest);
    return FuncOk;
}

FUNC_ERROR getMD5String(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const auto texts = stringsOf(a, 0);
    setString(r, sp_GetMD5(texts.empty() ? std::string_view() : texts[0]));
    return FuncOk;
}

struct Crc32cTable {
    uint32_t entry[256];
    constexpr Crc32cTable() : entry() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t c = b;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ ((c & 1) ? 0x82F63B78u : 0u);
            entry[b] = c;
        }
    }
};
constexpr Crc32cTable kCrc32c;

// CRC-32C without the final inversion: scripts and stored values rely on this
// exact number, so it is kept as it is.
FUNC_ERROR crc32(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const auto texts = stringsOf(a, 0);
    uint32_t reg = 0xFFFFFFFFu;
    if (!texts.empty())
        for (unsigned char b : texts[0]) reg = (reg >> 8) ^ kCrc32c.entry[(reg ^ b) & 0xFF];
    setString(r, std::to_string(reg));
    return FuncOk;
}

// ---------------------------------------------------------------- file facts

FUNC_ERROR getFileInfo(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const char* path = stringOr(a, 0);
    const std::string full = sp_GetFullPath(path);
    const PathName parts = sp_SplitPath(full);
    const int drive = sp_GetDriveType((parts.drive.str() + parts.dir.str()).c_str());
    setStrings(r, std::vector<std::string>{cv::driveTypeWord(drive),
                                           std::to_string(sp_GetFileSize64(path)), full,
                                           std::to_string(sp_GetFileModifiedTime(path)),
                                           sp_ExistDir(full) ? "true" : "false"});
    return FuncOk;
}

// ---------------------------------------------------------------- locks

struct LockEntry {
    std::unique_ptr<FileLock> lock;
    std::string path;
    bool autoDelete = false;
};
// Made by the first CreateLockFile, gone at ExitCli. Touched only on the
// host's script thread (handlers and event callbacks), so it has no lock.
std::unique_ptr<std::vector<LockEntry>> gLocks;

FUNC_ERROR createLockFile(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::string path = stringOr(a, 0);
    const auto modes = stringsOf(a, 1);
    const bool lockWord = !modes.empty() && sameWord(modes[0], "lock");
    const bool autoDelete = modes.size() > 1 && sameWord(modes[1], "autoDelete");
    if (!gLocks) gLocks = std::make_unique<std::vector<LockEntry>>();
    auto& table = *gLocks;
    auto same = [&](const LockEntry& e) { return sameWord(e.path, path); };
    const auto found = std::find_if(table.begin(), table.end(), same);
    if (found != table.end()) {
        if (!lockWord) {
            table.erase(std::remove_if(table.begin(), table.end(), same), table.end());
            setString(r, "success");
            return FuncOk;
        }
        found->autoDelete = autoDelete;
        if (found->lock->locked()) setString(r, "locked");
        else setString(r, found->lock->lock(path.c_str()) ? "success" : "failed");
        return FuncOk;
    }
    if (!lockWord) {
        setString(r, "notexist");
        return FuncOk;
    }
    LockEntry entry{std::make_unique<FileLock>(), path, autoDelete};
    if (!entry.lock->lock(path.c_str())) {
        setString(r, "failed");
        return FuncOk;
    }
    table.push_back(std::move(entry));
    setString(r, "success");
    return FuncOk;
}

void unlockFiles(void*) { gLocks.reset(); }

void autoDeleteLockFile(void*) {
    if (!gLocks) return;
    auto& table = *gLocks;
    table.erase(std::remove_if(table.begin(), table.end(), [](const LockEntry& e) { return e.autoDelete; }),
                table.end());
}

const AutoFunc gUnlockFiles("ExitCli", unlockFiles, "unlockFiles");
const AutoFunc gAutoDeleteLockFile("PostCli", autoDeleteLockFile, "autoDeleteLockFile");

// clang-format off
FunctionRow registrations[] = {
    {"CRC32",          {String},                 {}, 1, 1, handler<crc32>,          "", PyString,     Plain},
    {"CanOpenFile",    {String, String},         {}, 1, 2, handler<canOpenFile>,    "", PyBool,       Plain},
    {"CreateLockFile", {String, String},         {}, 2, 2, handler<createLockFile>, "", PyString,     Plain},
    {"FilterFile",     {String, String, String}, {}, 2, 3, handler<filterFile>,     "", PyStringList, Plain},
    {"GetFileStamp",   {String},                 {}, 1, 1, handler<getFileStamp>,   "", PyString,     Plain},
    {"GetMD5",         {String},                 {}, 1, 1, handler<getMD5>,         "", PyString2,    Plain},
    {"GetMD5String",   {String},                 {}, 1, 1, handler<getMD5String>,   "", PyString,     Plain},
    {"ReadFile",       {String, String, String}, {}, 1, 3, handler<readFile>,       "", PyStringList, Plain},
    {"ReadSpiceFile",  {String, String},         {}, 1, 2, handler<readSpiceFile>,  "", PyStringList, Plain},
    {"_LoadFiles",     {String, String},         {}, 1, 2, handler<loadFiles>,      "", PyStringList, Plain},
    {"GetFileInfo",    {String},                 {}, 1, 1, handler<getFileInfo>,    "", PyStringList, Plain},
};
// clang-format on

}  // namespace
