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

std::string trim(std::string_view s) { return std::string(sp_TrimBlanks(s)); }

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

void Reference::parseFile(const std::string& path, const std::string& familyName) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        errors_.push_back(path + ": cannot be read");
        return;
    }
    Family family{familyName, "", {}};
    Entry* e = nullptr;
    std::string* continued = nullptr;  // the text a continuation line extends
    std::string line;
    int lineNo = 0;
    auto problem = [&](const std::string& what) {
        errors_.push_back(path + ":" + std::to_string(lineNo) + ": " + what);
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') {
            continued = nullptr;
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            std::string more = trim(line);
            if (more.empty()) continue;
            if (!continued) problem("a continuation line follows nothing it could continue");
            else *continued += (continued->empty() ? "" : " ") + more;
            continue;
        }
        continued = nullptr;
        if (line.rfind("==", 0) == 0) {
            std::string name = trim(std::string_view(line).substr(2));
            std::string key = lower(name);
            if (name.empty()) {
                problem("'==' needs a function name");
                e = nullptr;
                continue;
            }
            if (byName_.count(key)) {
                problem("a second entry for '" + name + "' (the first is at " + byName_[key].source + ")");
                e = nullptr;
                continue;
            }
            e = &byName_[key];
            e->name = name;
            e->family = familyName;
            e->source = path + ":" + std::to_string(lineNo);
            family.entries.push_back(name);
            continue;
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos) {
            problem("expected 'field: text'");
            continue;
        }
        std::string key = line.substr(0, colon);
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        if (key == "title" && !e) {
            family.title = trim(value);
            continued = &family.title;
            continue;
        }
        if (!e) {
            problem("'" + key + ":' outside an entry");
            continue;
        }
        if (key == "summary") {
            e->summary = trim(value);
            continued = &e->summary;
        } else if (key == "args") {
            e->args.clear();
            std::vector<std::string> parts = splitArgs(value);
            for (size_t i = 0; i < parts.size(); ++i) {
                std::string p = parts[i];
                Argument a;
                if (!p.empty() && p[0] == '*') {
                    a.kind = Argument::Default::Rest;
                    p.erase(0, 1);
                    if (i + 1 != parts.size()) problem("'*" + p + "' must be the last argument");
                } else if (size_t eq = p.find('='); eq != std::string::npos) {
                    a.kind = Argument::Default::Literal;
                    a.literal = trim(std::string_view(p).substr(eq + 1));
                    p = trim(std::string_view(p).substr(0, eq));
                    if (a.literal.empty()) problem("argument '" + p + "' has '=' but no default");
                    if (a.literal == "?") a.kind = Argument::Default::Rule;  // as signatures show it
                } else if (!p.empty() && p.back() == '?') {
                    a.kind = Argument::Default::Rule;
                    p.pop_back();
                }
                a.name = p;
                if (!validArgumentName(p)) problem("'" + p + "' is not usable as a keyword argument name");
                if (a.kind == Argument::Default::None && !e->args.empty() &&
                    e->args.back().kind != Argument::Default::None)
                    problem("required argument '" + p + "' follows an optional one");
                for (const auto& other : e->args)
                    if (lower(other.name) == lower(p)) problem("argument '" + p + "' is named twice");
                e->args.push_back(std::move(a));
            }
        } else if (key.rfind("arg ", 0) == 0) {
            std::string name = trim(std::string_view(key).substr(4));
            auto it = std::find_if(e->args.begin(), e->args.end(), [&](const Argument& a) { return a.name == name; });
            if (it == e->args.end()) {
                problem("'arg " + name + ":' describes no argument of the 'args:' line above it");
                continue;
            }
            it->text = trim(value);
            continued = &it->text;
        } else if (key == "result") {
            e->result = trim(value);
            continued = &e->result;
        } else if (key == "divisions") {
            e->divisions = trim(value);
            continued = &e->divisions;
        } else if (key == "note") {
            e->notes.push_back(trim(value));
            continued = &e->notes.back();
        } else if (key == "example") {
            e->examples.push_back({trim(value), {}, {}});
        } else if (key == "output") {
            if (e->examples.empty()) problem("'output:' before any 'example:'");
            else e->examples.back().output.push_back(value);
        } else if (key == "error") {
            if (e->examples.empty()) problem("'error:' before any 'example:'");
            else e->examples.back().error = trim(value);
        } else if (key == "see") {
            for (const auto& s : splitArgs(value))
                if (!s.empty()) e->seeAlso.push_back(s);
        } else {
            problem("unknown field '" + key + "'");
        }
    }
    for (const auto& name : family.entries) {
        const Entry& done = byName_[lower(name)];
        if (done.summary.empty()) errors_.push_back(done.source + ": '" + name + "' has no summary");
        for (const auto& a : done.args)
            if (a.text.empty()) errors_.push_back(done.source + ": argument '" + a.name + "' of '" + name + "' is not described");
    }
    families_.push_back(std::move(family));
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
    const std::string share = sp_GetShareDir();
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
    return out;
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
