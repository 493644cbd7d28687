#include "Help.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "FunctionTable.h"
#include "OptionStore.h"
#include "Reference.h"

namespace cvtool {

namespace {

using cv::reference::Reference;

const char* kReplHelp =
    "Type a statement to evaluate it, e.g. XFromY(XY([0, 2, 0], [0, 1, 2]), 1, 1).\n"
    "  help NAME   the reference of function NAME: arguments, defaults, result, example\n"
    "  help options  the host options (--option NAME=VALUE) and what reads them\n"
    "  help        this text\n"
    "  Ctrl-D      end the session\n"
    "'cvfunc --list' lists every function; docs/functions.md holds the whole reference.\n";

std::vector<std::string> knownNames() {
    std::vector<std::string> names;
    for (const FuncConstruct* f : cv::FunctionTable::global().all()) names.push_back(f->name());
    for (const auto* e : Reference::global().entries())
        if (!cv::FunctionTable::global().find(e->name)) names.push_back(e->name);
    return names;
}

// Every option with its current value, and what it does: those no function
// here reads are marked, so that setting one is not mistaken for a change.
std::string optionsText() {
    std::string text = "Options: set with --option NAME=VALUE (cvfunc.set_option in Python), read with GetOption.\n";
    for (const cv::OptionInfo& o : cv::OptionStore::global().all()) {
        const cv::OptionDoc* d = cv::optionDoc(o.name);
        text += "  " + o.name + " = '" + o.value.value_or(o.defaultValue) + "'" +
                (d && !d->readHere ? "  (read by no function here)" : "") + "\n" +
                cv::reference::wrap(d ? d->text : "declared by the module; no description", "      ", "      ");
    }
    return text;
}

// The help text of `name`, or an empty string with `problem` set.
std::string helpText(const std::string& name, std::string& problem) {
    if (name == "options") return optionsText();
    const Reference& ref = Reference::global();
    if (const auto* e = ref.find(name)) return cv::reference::formatText(*e);
    if (const FuncConstruct* f = cv::FunctionTable::global().find(name)) {
        std::string kinds;
        for (int i = 0; i < f->kinds().size(); ++i) kinds += (i ? ", " : "") + std::string(cv::argKindWord(f->kinds()[i]));
        std::string text = std::string(f->name()) + ": " + std::to_string(f->minArgs()) + " to " +
                           std::to_string(f->maxArgs()) + " arguments (" + kinds + "), result " +
                           cv::resultKindWord(f->pythonReturn()) + ".\nIts reference entry is not written yet.\n";
        if (ref.empty()) text += "(The function reference was not found in " + ref.directory() + "; set CVFUNC_SHARE.)\n";
        return text;
    }
    problem = "no function named '" + name + "'";
    problem += cv::reference::didYouMean(name, knownNames());
    return "";
}

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// `help` or `help NAME` (surrounding blanks allowed): true with `name` set
// (empty for a bare `help`).
bool parseHelpLine(const std::string& line, std::string& name) {
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos || line.compare(b, 4, "help") != 0) return false;
    size_t i = b + 4;
    if (i < line.size() && isNameChar(line[i])) return false;  // helper, help2 ...
    size_t s = line.find_first_not_of(" \t\r", i);
    if (s == std::string::npos) {
        name.clear();
        return true;
    }
    if (s == i) return false;  // help(x), help=3: the language's
    size_t e = s;
    while (e < line.size() && isNameChar(line[e])) ++e;
    if (e == s || line.find_first_not_of(" \t\r", e) != std::string::npos) return false;
    name = line.substr(s, e - s);
    return true;
}

}  // namespace

int helpCommand(const std::string& name) {
    std::string problem;
    std::string text = helpText(name, problem);
    if (text.empty()) {
        std::fprintf(stderr, "cvfunc: %s\nTry 'cvfunc --list'.\n", problem.c_str());
        return 2;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}

bool replHelp(const std::string& line) {
    std::string name;
    if (!parseHelpLine(line, name)) return false;
    if (name.empty()) {
        std::fputs(kReplHelp, stdout);
        return true;
    }
    std::string problem;
    std::string text = helpText(name, problem);
    if (text.empty()) std::fprintf(stderr, "Error: %s\n", problem.c_str());
    else std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return true;
}

bool runWithHelp(cv::Session& session, const std::string& text,
                 const std::function<void(const cv::ValuePtr&, const cv::Session::Statement&)>& print, std::string& error,
                 const std::function<void()>& afterStatement) {
    std::string pending;  // statements since the last help line
    size_t pos = 0, lines = 0;
    while (pos <= text.size()) {
        ++lines;
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        std::string name;
        if (parseHelpLine(line, name)) {
            if (!session.runStatements(pending, print, error, afterStatement)) return false;
            std::fflush(stdout);
            replHelp(line);
            pending.assign(lines, '\n');  // later statements keep their line numbers
        } else {
            pending += line + "\n";
        }
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return session.runStatements(pending, print, error, afterStatement);
}

}  // namespace cvtool
