#include "IniFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <unordered_set>

#include "AtomicFile.h"
#include "FileUtil.h"
#include "MemoryBudget.h"
#include "TextLines.h"
#include "YString.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool hasLineEnd(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

// ---------------------------------------------------------------- the document

IniDocument::Line IniDocument::parseLine(std::string raw) {
    Line line;
    line.raw = std::move(raw);
    std::string_view body(line.raw);
    if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
    if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
    size_t at = 0;
    while (at < body.size() && isBlank(body[at])) ++at;
    if (at == body.size() || body[at] == ';') return line;
    auto place = [&](std::string_view part, size_t& pos, size_t& len) {
        const std::string_view t = cv::trimBlanks(part);
        pos = t.empty() ? size_t(part.data() - line.raw.data()) + part.size() : size_t(t.data() - line.raw.data());
        len = t.size();
    };
    if (body[at] == '[') {
        const size_t close = body.find(']', at + 1);
        if (close == std::string_view::npos) return line;
        line.kind = Kind::Section;
        place(body.substr(at + 1, close - at - 1), line.nameAt, line.nameLen);
        return line;
    }
    const size_t eq = body.find('=', at);
    if (eq == std::string_view::npos) return line;
    size_t nameAt, nameLen;
    place(body.substr(at, eq - at), nameAt, nameLen);
    if (nameLen == 0) return line;
    line.kind = Kind::Key;
    line.nameAt = nameAt;
    line.nameLen = nameLen;
    place(body.substr(eq + 1), line.valueAt, line.valueLen);
    return line;
}

IniDocument::IniDocument(std::string_view text) {
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        const size_t len = nl == std::string_view::npos ? text.size() : nl + 1;
        lines_.push_back(parseLine(std::string(text.substr(0, len))));
        text.remove_prefix(len);
    }
}

size_t IniDocument::findSection(std::string_view section) const {
    section = cv::trimBlanks(section);
    for (size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Kind::Section && equalNoCase(lines_[i].name(), section)) return i;
    return lines_.size();
}

size_t IniDocument::sectionEnd(size_t header) const {
    size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != Kind::Section) ++i;
    return i;
}

std::optional<std::string> IniDocument::value(std::string_view section, std::string_view key) const {
    const size_t s = findSection(section);
    if (s == lines_.size()) return std::nullopt;
    key = cv::trimBlanks(key);
    for (size_t i = s + 1, end = sectionEnd(s); i < end; ++i)
        if (lines_[i].kind == Kind::Key && equalNoCase(lines_[i].name(), key)) return std::string(lines_[i].val());
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> IniDocument::entries(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> out;
    const size_t s = findSection(section);
    if (s == lines_.size()) return out;
    for (size_t i = s + 1, end = sectionEnd(s); i < end; ++i)
        if (lines_[i].kind == Kind::Key) out.emplace_back(lines_[i].name(), lines_[i].val());
    return out;
}

std::vector<std::string> IniDocument::keyNames(std::string_view section) const {
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (auto& [name, value] : entries(section))
        if (seen.insert(lowerAscii(name)).second) out.push_back(name);
    return out;
}

std::vector<std::string> IniDocument::sectionNames() const {
    // Only the first header of a name counts (lookups never reach the rest).
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (const auto& line : lines_)
        if (line.kind == Kind::Section && seen.insert(lowerAscii(line.name())).second) out.emplace_back(line.name());
    return out;
}

bool IniDocument::hasSection(std::string_view section) const { return findSection(section) != lines_.size(); }

std::string IniDocument::lineEnd() const {
    for (const auto& line : lines_)
        if (!line.raw.empty() && line.raw.back() == '\n')
            return line.raw.size() > 1 && line.raw[line.raw.size() - 2] == '\r' ? "\r\n" : "\n";
    return "\n";
}

void IniDocument::endWithLineEnd(size_t line) {
    if (line < lines_.size() && (lines_[line].raw.empty() || lines_[line].raw.back() != '\n'))
        lines_[line].raw += lineEnd();
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    section = cv::trimBlanks(section);
    key = cv::trimBlanks(key);
    const std::string eol = lineEnd();
    const size_t s = findSection(section);
    if (s == lines_.size()) {
        if (!lines_.empty()) endWithLineEnd(lines_.size() - 1);
        lines_.push_back(parseLine("[" + std::string(section) + "]" + eol));
        lines_.push_back(parseLine(std::string(key) + "=" + std::string(value) + eol));
        return;
    }
    size_t after = s;
    for (size_t i = s + 1, end = sectionEnd(s); i < end; ++i) {
        if (lines_[i].kind != Kind::Key) continue;
        if (equalNoCase(lines_[i].name(), key)) {
            Line& l = lines_[i];
            l = parseLine(l.raw.substr(0, l.valueAt) + std::string(value) + l.raw.substr(l.valueAt + l.valueLen));
            return;
        }
        after = i;
    }
    endWithLineEnd(after);
    lines_.insert(lines_.begin() + ptrdiff_t(after + 1), parseLine(std::string(key) + "=" + std::string(value) + eol));
}

void IniDocument::appendKeys(std::string_view section, const std::vector<std::pair<std::string, std::string>>& keys) {
    if (keys.empty()) return;
    section = cv::trimBlanks(section);
    const std::string eol = lineEnd();
    size_t at = findSection(section);
    if (at == lines_.size()) {
        if (!lines_.empty()) endWithLineEnd(lines_.size() - 1);
        lines_.push_back(parseLine("[" + std::string(section) + "]" + eol));
    } else {
        for (size_t i = at + 1, end = sectionEnd(at); i < end; ++i)
            if (lines_[i].kind == Kind::Key) at = i;
        endWithLineEnd(at);
    }
    std::vector<Line> block;
    block.reserve(keys.size());
    for (const auto& [key, value] : keys) block.push_back(parseLine(key + "=" + value + eol));
    lines_.insert(lines_.begin() + ptrdiff_t(at + 1), std::make_move_iterator(block.begin()),
                  std::make_move_iterator(block.end()));
}

bool IniDocument::remove(std::string_view section, std::string_view key) {
    const size_t s = findSection(section);
    if (s == lines_.size()) return false;
    key = cv::trimBlanks(key);
    bool removed = false;
    for (size_t i = sectionEnd(s); i-- > s + 1;) {
        if (lines_[i].kind == Kind::Key && equalNoCase(lines_[i].name(), key)) {
            lines_.erase(lines_.begin() + ptrdiff_t(i));
            removed = true;
        }
    }
    return removed;
}

void IniDocument::removeKeys(std::string_view section, const std::function<bool(std::string_view)>& drop) {
    const size_t s = findSection(section);
    if (s == lines_.size()) return;
    const size_t end = sectionEnd(s);
    size_t to = s + 1;
    for (size_t i = s + 1; i < end; ++i)
        if (lines_[i].kind != Kind::Key || !drop(lines_[i].name())) lines_[to++] = std::move(lines_[i]);
    lines_.erase(lines_.begin() + ptrdiff_t(to), lines_.begin() + ptrdiff_t(end));
}

bool IniDocument::removeSection(std::string_view section) {
    bool removed = false;
    for (size_t s; (s = findSection(section)) != lines_.size();) {
        lines_.erase(lines_.begin() + ptrdiff_t(s), lines_.begin() + ptrdiff_t(sectionEnd(s)));
        removed = true;
    }
    return removed;
}

std::string IniDocument::text() const {
    size_t n = 0;
    for (const auto& line : lines_) n += line.raw.size();
    std::string out;
    out.reserve(n);
    for (const auto& line : lines_) out += line.raw;
    return out;
}

bool IniDocument::validSection(std::string_view name) {
    return !name.empty() && cv::trimBlanks(name).size() == name.size() && !hasLineEnd(name) &&
           name.find(']') == std::string_view::npos;
}

bool IniDocument::validKey(std::string_view name) {
    return !name.empty() && cv::trimBlanks(name).size() == name.size() && !hasLineEnd(name) &&
           name.find('=') == std::string_view::npos && name.front() != ';' && name.front() != '[';
}

bool IniDocument::validValue(std::string_view value) { return !hasLineEnd(value); }

// ---------------------------------------------------------------- files

bool cv::readSettingsFile(const std::string& path, std::string& text, bool* missing) {
    text.clear();
    if (missing) *missing = false;
    if (path.empty()) return false;
    FILE* f = cv::openRegularFile(path.c_str());
    if (!f) {
        if (missing && errno == ENOENT) *missing = true;
        return false;
    }
    struct stat st {};
    if (::fstat(::fileno(f), &st) == 0 && st.st_size > 0) text.reserve(size_t(st.st_size));
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (text.size() + n >= cv::memoryLimitBytes()) {
            // Grew past the limit while being read: not readable as a whole.
            std::fclose(f);
            return false;
        }
        text.append(buf, n);
    }
    const bool complete = !std::ferror(f);
    std::fclose(f);
    return complete;
}

bool cv::updateSettingsFile(const std::string& path, const std::function<bool(IniDocument&)>& edit) {
    if (path.empty()) return false;
    DirectoryUpdateLock lock(path);
    if (!lock.locked()) return false;
    std::string before;
    bool missing = false;
    if (!cv::readSettingsFile(path, before, &missing) && !missing) return false;
    IniDocument doc(before);
    if (!edit(doc)) return false;
    std::string after = doc.text();
    if (after == before) return true;
    return cv::writeFileAtomic(path, after);
}

namespace {

// The document of a file as far as it could be read ("reads as far as
// readable": a read error midway still answers from the part before it).
IniDocument readDocument(const std::string& file) {
    std::string text;
    cv::readSettingsFile(file, text);
    return IniDocument(text);
}

}  // namespace

bool sp_GetPrivateProfileString(std::string_view section, std::string_view key, const std::string& file,
                                std::string& value) {
    if (file.empty()) return false;
    auto v = readDocument(file).value(section, key);
    if (!v) return false;
    value = std::move(*v);
    return true;
}

bool sp_GetProfileKeyNames(const std::string& file, std::string_view section, std::vector<std::string>& keys) {
    keys.clear();
    if (file.empty()) return false;
    keys = readDocument(file).keyNames(section);
    return !keys.empty();
}

bool sp_GetProfileSectionNames(const std::string& file, std::vector<std::string>& sections) {
    sections.clear();
    if (file.empty()) return false;
    sections = readDocument(file).sectionNames();
    return !sections.empty();
}

bool sp_WritePrivateProfileString(const std::string& file, std::string_view section, std::string_view key,
                                  const char* value) {
    section = cv::trimBlanks(section);
    key = cv::trimBlanks(key);
    if (file.empty() || !IniDocument::validSection(section) || !IniDocument::validKey(key)) return false;
    if (value && !IniDocument::validValue(value)) return false;
    return cv::updateSettingsFile(file, [&](IniDocument& doc) {
        if (value) doc.set(section, key, cv::trimBlanks(value));
        else doc.remove(section, key);
        return true;
    });
}
