// The function reference: one entry per script function (summary, named
// arguments with meaning, unit and default, result, behaviour over several
// divisions, conventions, worked examples), read from the plain-text files
// under share/reference/ (format: share/reference/README.md). The tool's
// `--help NAME` and REPL `help NAME`, the Python docstrings and signatures,
// and docs/functions.md are all rendered from these entries.
//
// Where the files are found: $CVFUNC_SHARE/reference when that variable is
// set; otherwise share/reference beside the host library (the build tree
// links the source tree's share/ there); otherwise, for an installed layout
// with the library in PREFIX/lib, PREFIX/share/cvfunc/reference.
#pragma once
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace cv::reference {

struct Argument {
    enum class Default { None, Literal, Rule, Rest };
    std::string name;
    Default kind = Default::None;
    std::string literal;  // the default in script syntax, for Default::Literal
    std::string text;     // meaning, unit and default in words
};

struct Example {
    std::string expression;
    std::vector<std::string> output;  // the lines `cvfunc -e EXPRESSION` prints
    std::string error;                // or the message it fails with
};

struct Entry {
    std::string name;     // as registered
    std::string family;   // the reference file (module source file) it comes from
    std::string module;   // the module that registers it: its family's "module:" line, else functions
    std::string summary;
    std::vector<Argument> args;
    std::string result, divisions;
    std::vector<std::string> notes;
    std::vector<Example> examples;
    std::vector<std::string> seeAlso;
    std::string source;  // file:line of its "==" line, for messages

    int requiredCount() const;          // arguments without a default
    int namedCount() const;             // arguments other than a trailing rest
    bool hasRest() const;
    std::string signature() const;      // XFromY(wave, level=0, order=1, direction=0)
};

struct Family {
    std::string name;   // file stem, e.g. StringFuncs
    std::string title;  // its "title:" line
    std::vector<std::string> entries;  // names in file order
    std::string module = "functions";  // its "module:" line
};

class Reference {
public:
    // Reads every *.ref file of `directory`, families sorted by name.
    // Malformed lines are collected in errors(), never thrown.
    static Reference load(const std::string& directory);
    // The reference of the default directory (see above), read once.
    static const Reference& global();
    static std::string defaultDirectory();

    const Entry* find(std::string_view name) const;  // case-insensitive
    const std::vector<Family>& families() const noexcept { return families_; }
    std::vector<const Entry*> entries() const;       // in family, then file order
    const std::vector<std::string>& errors() const noexcept { return errors_; }
    const std::string& directory() const noexcept { return directory_; }
    bool empty() const noexcept { return byName_.empty(); }

    // docs/functions.md.
    std::string markdown() const;

private:
    void parseFile(const std::string& path, const std::string& family);

    std::string directory_;
    std::vector<Family> families_;
    std::map<std::string, Entry> byName_;  // lower-case name
    std::vector<std::string> errors_;
};

// `text` wrapped greedily at word breaks to `width` columns: the first line
// starts with `first`, the others with `indent`; ends with a new line.
std::string wrap(std::string_view text, const std::string& first, const std::string& indent, int width = 78);

// The entry as a person reads it in a terminal or a docstring.
std::string formatText(const Entry& e, int width = 78);

// Names of `candidates` nearest to `name` (edit distance, ignoring case;
// names that start with it first), at most `count`.
std::vector<std::string> nearestNames(std::string_view name, const std::vector<std::string>& candidates,
                                      size_t count = 3);
// "; did you mean A, B?" naming the nearest candidates, or "" when none is near.
std::string didYouMean(std::string_view name, const std::vector<std::string>& candidates);

// A word usable as a Python keyword argument.
bool validArgumentName(std::string_view name);

}  // namespace cv::reference
