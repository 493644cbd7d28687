#include "Reference.h"

#include "AppInfo.h"
#include "PathUtil.h"
#include "TextLines.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace cv::reference {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(std::string_view s) { return std::string(cv::trimBlanks(s)); }

// Splits an args line at commas outside quotes: defaults may be strings
// that contain a comma.
std::vector<std::string> splitArgs(std::string_view line) {
    std::vector<std::string> out;
    std::string cur;
    char quote = 0;
    for (char c : line) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ',') {
            out.push_back(trim(cur));
            cur.clear();
            continue;
        }
        cur += c;
    }
    if (!trim(cur).empty() || !out.empty()) out.push_back(trim(cur));
    return out;
}

std::string mdCell(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '|') out += "\\|";
        else out += c;
    }
    return out;
}

std::string anchor(std::string_view name) { return "fn-" + lower(name); }

// Edits between two names, a swap of neighbours counting one: the usual typo.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::string wrap(std::string_view text, const std::string& first, const std::string& indent, int width) {
    std::string out = first, word;
    size_t col = first.size();
    bool lineEmpty = true;
    std::istringstream words{std::string(text)};
    while (words >> word) {
        if (!lineEmpty && col + 1 + word.size() > size_t(width)) {
            out += "\n" + indent;
            col = indent.size();
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += ' ';
            ++col;
        }
        out += word;
        col += word.size();
        lineEmpty = false;
    }
    return out + "\n";
}

int Entry::requiredCount() const {
    int n = 0;
    for (const auto& a : args)
        if (a.kind == Argument::Default::None) ++n;
    return n;
}

int Entry::namedCount() const { return int(args.size()) - (hasRest() ? 1 : 0); }

bool Entry::hasRest() const { return !args.empty() && args.back().kind == Argument::Default::Rest; }

std::string Entry::signature() const {
    std::string s = name + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        const Argument& a = args[i];
        if (i) s += ", ";
        if (a.kind == Argument::Default::Rest) s += "*";
        s += a.name;
        if (a.kind == Argument::Default::Literal) s += "=" + a.literal;
        else if (a.kind == Argument::Default::Rule) s += "=?";
    }
    return s + ")";
}

bool validArgumentName(std::string_view name) {
    static const char* const kPythonWords[] = {
        "False", "None", "True", "and", "as", "assert", "async", "await", "break", "class", "continue",
        "def", "del", "elif", "else", "except", "finally", "for", "from", "global", "if", "import", "in",
        "is", "lambda", "nonlocal", "not", "or", "pass", "raise", "return", "try", "while", "with", "yield"};
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    for (const char* w : kPythonWords)
        if (name == w) return false;
    return true;
}

namespace {

// Reads one reference file a line at a time: the entry being filled, the
// text a continuation line extends, and where each problem is.
class FileParser {
public:
    FileParser(const std::string& path, const std::string& familyName, std::map<std::string, Entry>& byName,
               std::vector<std::string>& errors)
        : path_(path), byName_(byName), errors_(errors), family_{familyName, "", {}} {}

    void line(std::string& line);
    // The family read, once every line is; entries that lack a summary or
    // an argument's description are reported.
    Family finish();

private:
    void problem(const std::string& what) { errors_.push_back(path_ + ":" + std::to_string(lineNo_) + ": " + what); }
    void continueText(const std::string& line);
    void startEntry(const std::string& name);
    void field(const std::string& key, const std::string& value);
    std::string* singleText(const std::string& key);
    void readArguments(const std::string& value);
    Argument argument(std::string text, bool last);
    void checkArgument(const Argument& a);
    void describeArgument(const std::string& name, const std::string& value);
    void exampleField(const std::string& key, const std::string& value);

    const std::string& path_;
    std::map<std::string, Entry>& byName_;
    std::vector<std::string>& errors_;
    Family family_;
    Entry* entry_ = nullptr;
    std::string* continued_ = nullptr;  // the text a continuation line extends
    int lineNo_ = 0;
};

void FileParser::line(std::string& line) {
    ++lineNo_;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') {
        continued_ = nullptr;
        return;
    }
    if (line[0] == ' ' || line[0] == '\t') return continueText(line);
    continued_ = nullptr;
    if (line.rfind("==", 0) == 0) return startEntry(trim(std::string_view(line).substr(2)));
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return problem("expected 'field: text'");
    std::string value = line.substr(colon + 1);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    field(line.substr(0, colon), value);
}

void FileParser::continueText(const std::string& line) {
    const std::string more = trim(line);
    if (more.empty()) return;
    if (!continued_) problem("a continuation line follows nothing it could continue");
    else *continued_ += (continued_->empty() ? "" : " ") + more;
}

void FileParser::startEntry(const std::string& name) {
    entry_ = nullptr;
    if (name.empty()) return problem("'==' needs a function name");
    const std::string key = lower(name);
    if (byName_.count(key))
        return problem("a second entry for '" + name + "' (the first is at " + byName_[key].source + ")");
    entry_ = &byName_[key];
    entry_->name = name;
    entry_->family = family_.name;
    entry_->module = family_.module;
    entry_->source = path_ + ":" + std::to_string(lineNo_);
    family_.entries.push_back(name);
}

void FileParser::field(const std::string& key, const std::string& value) {
    if (key == "title" && !entry_) {
        family_.title = trim(value);
        continued_ = &family_.title;
        return;
    }
    if (key == "module" && !entry_ && family_.entries.empty()) {
        family_.module = trim(value);
        return;
    }
    if (!entry_) return problem("'" + key + ":' outside an entry");
    if (std::string* text = singleText(key)) {
        *text = trim(value);
        continued_ = text;
    } else if (key == "note") {
        entry_->notes.push_back(trim(value));
        continued_ = &entry_->notes.back();
    } else if (key == "args") {
        readArguments(value);
    } else if (key.rfind("arg ", 0) == 0) {
        describeArgument(trim(std::string_view(key).substr(4)), value);
    } else if (key == "example" || key == "output" || key == "error") {
        exampleField(key, value);
    } else if (key == "see") {
        for (const auto& s : splitArgs(value))
            if (!s.empty()) entry_->seeAlso.push_back(s);
    } else {
        problem("unknown field '" + key + "'");
    }
}

// The entry's field of one text that continuation lines may extend, or null.
std::string* FileParser::singleText(const std::string& key) {
    if (key == "summary") return &entry_->summary;
    if (key == "result") return &entry_->result;
    if (key == "divisions") return &entry_->divisions;
    return nullptr;
}

void FileParser::readArguments(const std::string& value) {
    entry_->args.clear();
    const std::vector<std::string> parts = splitArgs(value);
    for (size_t i = 0; i < parts.size(); ++i) {
        Argument a = argument(parts[i], i + 1 == parts.size());
        checkArgument(a);
        entry_->args.push_back(std::move(a));
    }
}

// One argument of an args line: name, *name, name=VALUE, name? or name=?.
Argument FileParser::argument(std::string text, bool last) {
    Argument a;
    if (!text.empty() && text[0] == '*') {
        a.kind = Argument::Default::Rest;
        text.erase(0, 1);
        if (!last) problem("'*" + text + "' must be the last argument");
    } else if (size_t eq = text.find('='); eq != std::string::npos) {
        a.kind = Argument::Default::Literal;
        a.literal = trim(std::string_view(text).substr(eq + 1));
        text = trim(std::string_view(text).substr(0, eq));
        if (a.literal.empty()) problem("argument '" + text + "' has '=' but no default");
        if (a.literal == "?") a.kind = Argument::Default::Rule;  // as signatures show it
    } else if (!text.empty() && text.back() == '?') {
        a.kind = Argument::Default::Rule;
        text.pop_back();
    }
    a.name = text;
    return a;
}

// What Python needs of an argument beside the ones before it: a keyword it
// accepts, required ones first, no name twice.
void FileParser::checkArgument(const Argument& a) {
    const std::vector<Argument>& before = entry_->args;
    if (!validArgumentName(a.name)) problem("'" + a.name + "' is not usable as a keyword argument name");
    if (a.kind == Argument::Default::None && !before.empty() && before.back().kind != Argument::Default::None)
        problem("required argument '" + a.name + "' follows an optional one");
    for (const auto& other : before)
        if (lower(other.name) == lower(a.name)) problem("argument '" + a.name + "' is named twice");
}

void FileParser::describeArgument(const std::string& name, const std::string& value) {
    auto it = std::find_if(entry_->args.begin(), entry_->args.end(), [&](const Argument& a) { return a.name == name; });
    if (it == entry_->args.end())
        return problem("'arg " + name + ":' describes no argument of the 'args:' line above it");
    it->text = trim(value);
    continued_ = &it->text;
}

// example: starts an example; output: and error: tell what it gives.
void FileParser::exampleField(const std::string& key, const std::string& value) {
    std::vector<Example>& examples = entry_->examples;
    if (key == "example") examples.push_back({trim(value), {}, {}});
    else if (examples.empty()) problem("'" + key + ":' before any 'example:'");
    else if (key == "output") examples.back().output.push_back(value);
    else examples.back().error = trim(value);
}

Family FileParser::finish() {
    for (const auto& name : family_.entries) {
        const Entry& done = byName_[lower(name)];
        if (done.summary.empty()) errors_.push_back(done.source + ": '" + name + "' has no summary");
        for (const auto& a : done.args)
            if (a.text.empty()) errors_.push_back(done.source + ": argument '" + a.name + "' of '" + name + "' is not described");
    }
    return std::move(family_);
}

}  // namespace

void Reference::parseFile(const std::string& path, const std::string& familyName) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        errors_.push_back(path + ": cannot be read");
        return;
    }
    FileParser parser(path, familyName, byName_, errors_);
    std::string line;
    while (std::getline(in, line)) parser.line(line);
    families_.push_back(parser.finish());
}

Reference Reference::load(const std::string& directory) {
    Reference r;
    r.directory_ = directory;
    std::vector<std::string> stems;
    if (DIR* d = opendir(directory.c_str())) {
        while (dirent* de = readdir(d)) {
            std::string n = de->d_name;
            if (n.size() > 4 && n.compare(n.size() - 4, 4, ".ref") == 0) stems.push_back(n.substr(0, n.size() - 4));
        }
        closedir(d);
    } else {
        r.errors_.push_back(directory + ": no such directory");
    }
    std::sort(stems.begin(), stems.end());
    for (const auto& s : stems) r.parseFile(directory + "/" + s + ".ref", s);
    return r;
}

std::string Reference::defaultDirectory() {
    const std::string share = cv::shareDir();
    return share.empty() ? "share/reference" : share + "/reference";
}

const Reference& Reference::global() {
    static const Reference r = load(defaultDirectory());
    return r;
}

namespace {
// The reference is the help that GetHelpContextId asks about; the services
// below the core learn of it through this lookup.
[[maybe_unused]] const bool kHelpTopics =
    (setHelpTopicLookup([](const char* topic) { return Reference::global().find(topic) != nullptr; }), true);
}  // namespace

const Entry* Reference::find(std::string_view name) const {
    auto it = byName_.find(lower(name));
    return it == byName_.end() ? nullptr : &it->second;
}

std::vector<const Entry*> Reference::entries() const {
    std::vector<const Entry*> out;
    for (const auto& f : families_)
        for (const auto& n : f.entries) out.push_back(find(n));
    return out;
}

std::string formatText(const Entry& e, int width) {
    std::string out = e.signature() + "\n\n";
    out += wrap(e.summary, "", "", width);
    if (!e.args.empty()) {
        size_t w = 0;
        for (const auto& a : e.args) w = std::max(w, a.name.size() + (a.kind == Argument::Default::Rest ? 1 : 0));
        w = std::min<size_t>(w, 14);
        out += "\nArguments:\n";
        for (const auto& a : e.args) {
            std::string head = "  " + std::string(a.kind == Argument::Default::Rest ? "*" : "") + a.name;
            head += std::string(head.size() < w + 4 ? w + 4 - head.size() : 1, ' ');
            out += wrap(a.text, head, std::string(w + 4, ' '), width);
        }
    }
    if (!e.result.empty()) out += "\nResult:\n" + wrap(e.result, "  ", "  ", width);
    if (!e.divisions.empty()) out += "\nSeveral divisions:\n" + wrap(e.divisions, "  ", "  ", width);
    if (!e.notes.empty()) {
        out += "\nNotes:\n";
        for (const auto& n : e.notes) out += wrap(n, "  - ", "    ", width);
    }
    if (!e.examples.empty()) {
        out += e.examples.size() == 1 ? "\nExample:\n" : "\nExamples:\n";
        for (const auto& x : e.examples) {
            out += "  > " + x.expression + "\n";
            for (const auto& l : x.output) out += "  " + l + "\n";
            if (!x.error.empty()) out += "  Error: " + x.error + "\n";
        }
    }
    if (!e.seeAlso.empty()) {
        std::string see;
        for (const auto& s : e.seeAlso) see += (see.empty() ? "" : ", ") + s;
        out += "\n" + wrap(see, "See also: ", "  ", width);
    }
    return out + "\nModule: " + e.module + "\n";
}

std::string Reference::markdown() const {
    std::string md =
        "# Function reference\n\n"
        "Generated from `share/reference/` by `make docs` (`cvfunc --reference-markdown`): edit the\n"
        "reference files, not this page. The same entries are shown by `cvfunc --help NAME`, by\n"
        "`help NAME` in the interactive tool and by the Python docstrings (`help(cvfunc.NAME)`).\n\n"
        "Each example is run by the tests and prints exactly what is shown (`cvfunc -e 'EXPRESSION'`).\n"
        "In a signature, `name=VALUE` is a default given as a value and `name=?` a default given\n"
        "by a rule (its argument's description says which).\n\n## Contents\n\n";
    for (const auto& f : families_) {
        md += "- [" + f.name + "](#family-" + lower(f.name) + "): ";
        std::string names;
        for (const auto& n : f.entries) names += (names.empty() ? "" : ", ") + ("[" + n + "](#" + anchor(n) + ")");
        md += names + "\n";
    }
    for (const auto& f : families_) {
        md += "\n## <a id=\"family-" + lower(f.name) + "\"></a>" + f.name + "\n\n";
        if (!f.title.empty()) md += f.title + "\n";
        md += "\nModule: `" + f.module + "`.\n";
        for (const auto& n : f.entries) {
            const Entry& e = *find(n);
            md += "\n### <a id=\"" + anchor(n) + "\"></a>" + n + "\n\n`" + e.signature() + "`\n\n" + e.summary + "\n";
            if (!e.args.empty()) {
                md += "\n| Argument | Meaning |\n|---|---|\n";
                for (const auto& a : e.args)
                    md += "| `" + std::string(a.kind == Argument::Default::Rest ? "*" : "") + a.name + "` | " +
                          mdCell(a.text) + " |\n";
            }
            if (!e.result.empty()) md += "\n**Result.** " + e.result + "\n";
            if (!e.divisions.empty()) md += "\n**Several divisions.** " + e.divisions + "\n";
            if (!e.notes.empty()) {
                md += "\n**Notes.**\n\n";
                for (const auto& note : e.notes) md += "- " + note + "\n";
            }
            if (!e.examples.empty()) {
                md += e.examples.size() == 1 ? "\n**Example.**\n\n```\n" : "\n**Examples.**\n\n```\n";
                for (const auto& x : e.examples) {
                    md += "> " + x.expression + "\n";
                    for (const auto& l : x.output) md += l + "\n";
                    if (!x.error.empty()) md += "Error: " + x.error + "\n";
                }
                md += "```\n";
            }
            if (!e.seeAlso.empty()) {
                md += "\nSee also: ";
                for (size_t i = 0; i < e.seeAlso.size(); ++i) {
                    const Entry* other = find(e.seeAlso[i]);
                    md += (i ? ", " : "") +
                          (other ? "[" + other->name + "](#" + anchor(other->name) + ")" : "`" + e.seeAlso[i] + "`");
                }
                md += ".\n";
            }
        }
    }
    return md;
}

std::vector<std::string> nearestNames(std::string_view name, const std::vector<std::string>& candidates, size_t count) {
    std::string want = lower(name);
    std::vector<std::pair<size_t, std::string>> scored;
    for (const auto& c : candidates) {
        std::string lc = lower(c);
        size_t d;
        if (!want.empty() && lc.rfind(want, 0) == 0) d = 0;  // a prefix of a name
        else d = std::min(1 + editDistance(want, lc),
                          want.size() >= 3 && lc.find(want) != std::string::npos ? size_t(2) : SIZE_MAX);
        if (d <= std::max<size_t>(3, want.size() / 3 + 1)) scored.emplace_back(d, c);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (size_t i = 0; i < scored.size() && i < count; ++i) out.push_back(scored[i].second);
    return out;
}

std::string didYouMean(std::string_view name, const std::vector<std::string>& candidates) {
    const std::vector<std::string> near = nearestNames(name, candidates);
    std::string s;
    for (size_t i = 0; i < near.size(); ++i) s += (i ? ", " : "; did you mean ") + near[i];
    return near.empty() ? s : s + "?";
}

}  // namespace cv::reference
