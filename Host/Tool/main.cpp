// cvfunc: evaluates script expressions with the function library.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <editline/readline.h>

#include "Clocks.h"
#include "Each.h"
#include "FunctionTable.h"
#include "Help.h"
#include "OptionStore.h"
#include "Plot.h"
#include "Reference.h"
#include "Session.h"
#include "ValueFormat.h"

#ifndef CVFUNC_VERSION
#define CVFUNC_VERSION "0"
#endif

namespace {

const char* kUsage =
    "Usage: cvfunc [options] [FILE]\n"
    "Evaluates expressions of the script language with the function library.\n"
    "\n"
    "  -e, --eval EXPR       evaluate EXPR (repeatable, in order); prints the value\n"
    "                        of every statement that is not an assignment\n"
    "  FILE                  run a script file ('-' reads standard input)\n"
    "  --load FILE           bind the vectors of a CSV, SPICE raw or Touchstone file\n"
    "                        (repeatable); v(x) is bound as x, i(x) as x#branch,\n"
    "                        every original name stays reachable as Vec('name'), and\n"
    "                        a .sNp file gives S11 ... Snn against frequency in Hz\n"
    "  --load NAME=FILE      the same, each vector bound as NAME.vector (NAME.out),\n"
    "                        so that several runs can be compared in one expression\n"
    "  --format FMT          text (default), json or csv. Text shows a result of\n"
    "                        more than 1000 values by its first and last 10 (per\n"
    "                        run); json and csv give every value, and csv puts\n"
    "                        measurements per run in one table: a row per run, a\n"
    "                        column per statement\n"
    "  --plot FILE           draw the waveforms (a line per run) and Histogram\n"
    "                        results (bars) into FILE, a .png, .svg or .pdf, one\n"
    "                        panel per result, stacked, and say so on stderr;\n"
    "                        what is drawn is printed too only with a --format\n"
    "                        (results that cannot be drawn are always printed)\n"
    "  --each PATTERN        run the -e statements on every file PATTERN matches\n"
    "                        (a glob; repeatable; further FILE arguments are more\n"
    "                        files) and print one table, a row per file and run, a\n"
    "                        column per printed statement and an error column:\n"
    "                        CSV, or JSON with --format json\n"
    "  --jobs N              with --each: files measured at a time (default: one per\n"
    "                        processor)\n"
    "  --option NAME=VALUE   set a host option (repeatable)\n"
    "  --module PATH         load only the function module at PATH (by default both\n"
    "                        modules load: functions and measure)\n"
    "  --list                list the registered functions: name, argument counts,\n"
    "                        argument kinds, result kind, module\n"
    "  --vars                after loading, list the bound vectors: name, kind,\n"
    "                        length, divisions, physical type, reference\n"
    "  --help                show this help\n"
    "  --help NAME           the reference of function NAME: arguments with their\n"
    "                        defaults, result, conventions, an example\n"
    "  --reference-markdown  print the whole function reference as Markdown\n"
    "                        (docs/functions.md)\n"
    "  --version             show the version\n"
    "\n"
    "With no FILE and no -e, reads statements from the terminal (line editing and\n"
    "history), or runs standard input as a script when it is not a terminal; there\n"
    "a line 'help NAME' shows the reference of a function.\n"
    "\n"
    "Examples:\n"
    "  cvfunc -e '_TestRemoveItems([10,20,30,40],[2,0])'\n"
    "  cvfunc --load run.raw -e 'XFromY(out, 0.5)' --format json\n"
    "  cvfunc --help XFromY\n"
    "  cvfunc --load run.raw -e 'out' --plot out.png\n"
    "  cvfunc --each 'runs/*.raw' -e 'Maximum(out)' -e 'Mean1(out)' > table.csv\n"
    "\n"
    "Exit status: 0 success, 1 a failed statement (with --each: a row with an\n"
    "error), 2 bad usage.\n";

void listFunctions() {
    for (const FuncConstruct* f : cv::FunctionTable::global().all()) {
        std::string kinds;
        for (int i = 0; i < f->kinds().size(); ++i) kinds += (i ? "," : "") + std::string(cv::argKindWord(f->kinds()[i]));
        std::printf("%s\t%d-%d\t%s\t%s\t%s\n", f->name(), f->minArgs(), f->maxArgs(), kinds.c_str(),
                    cv::resultKindWord(f->pythonReturn()), cv::FunctionTable::global().moduleOf(f));
    }
}

// What the tool reports when memory runs out outside a function call, where
// the session has no message of its own: printing a result (a large value's
// text), or reading and running the statements. The texts are static, since
// making one could fail in turn.
constexpr const char* kPrintMemory = "Not enough memory to print the result";
constexpr const char* kStatementMemory = "Not enough memory to complete the statement";

// Thrown by the printer in place of std::bad_alloc, so that the tool can say
// that the statement ran and its result could not be printed.
struct PrintOutOfMemory {};

int usageError(const std::string& msg) {
    std::fprintf(stderr, "cvfunc: %s\nTry 'cvfunc --help'.\n", msg.c_str());
    return 2;
}

std::string historyPath() {
    const char* home = std::getenv("CVFUNC_HOME");
    if (home && *home) return std::string(home) + "/history";
    const char* h = std::getenv("HOME");
    return h ? std::string(h) + "/.cvfunc_history" : std::string();
}

// ---------------------------------------------------------------- the REPL

// Whether `text` leaves a bracket or a quote open, so that the statement goes
// on in the next line.
bool continues(const std::string& text) {
    int depth = 0;
    char quote = 0;
    for (char c : text) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '(' || c == '[') {
            ++depth;
        } else if ((c == ')' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return quote || depth > 0;
}

// Tab completes function names and the session's vector names; inside a
// string literal it falls back to file names.
cv::Session* gCompletionSession = nullptr;
std::vector<std::string> gCandidates;

char* nextCandidate(const char* text, int state) {
    static size_t next;
    if (state == 0) {
        next = 0;
        gCandidates.clear();
        const size_t n = std::strlen(text);
        auto offer = [&](const std::string& name) {
            if (name.size() >= n && strncasecmp(name.c_str(), text, n) == 0) gCandidates.push_back(name);
        };
        for (const FuncConstruct* f : cv::FunctionTable::global().all())
            if (f->name()[0] != '_' || (n && text[0] == '_')) offer(f->name());
        if (gCompletionSession)
            for (const auto& name : gCompletionSession->names()) offer(name);
    }
    return next < gCandidates.size() ? strdup(gCandidates[next++].c_str()) : nullptr;
}

char** completeName(const char* text, int start, int) {
    int quotes = 0;
    for (int i = 0; i < start && rl_line_buffer[i]; ++i) quotes += rl_line_buffer[i] == '\'' || rl_line_buffer[i] == '"';
    if (quotes % 2) return nullptr;  // in a string: the default, file names
    rl_attempted_completion_over = 1;
    return rl_completion_matches(text, nextCandidate);
}

// ---------------------------------------------------------------- the command line

// What the command line asks for.
struct Options {
    std::vector<std::string> exprs, loads, positionals, eachPatterns;
    std::vector<std::pair<std::string, std::string>> options;  // set once the module has declared its own
    std::string file, modulePath, helpName, plotPath;
    std::optional<cvtool::PlotFormat> plotFormat;
    cv::OutputFormat format = cv::OutputFormat::Text;
    bool list = false, vars = false, help = false, each = false, formatGiven = false;
    int jobs = 0;
};

// The exit status of a command that ends before any statement runs (bad
// usage, --help, --version ...); empty when it goes on.
using Outcome = std::optional<int>;

Outcome takeFormat(const std::string& v, Options& o) {
    if (v == "text") o.format = cv::OutputFormat::Text;
    else if (v == "json") o.format = cv::OutputFormat::Json;
    else if (v == "csv") o.format = cv::OutputFormat::Csv;
    else return usageError("unknown format '" + v + "' (text, json or csv)");
    o.formatGiven = true;
    return {};
}

Outcome takePlot(const std::string& v, Options& o) {
    o.plotPath = v;
    o.plotFormat = cvtool::plotFormatFor(v);
    if (!o.plotFormat)
        return usageError("--plot draws PNG, SVG or PDF: the file must end in .png, .svg or .pdf, not '" + v + "'");
    return {};
}

Outcome takeJobs(const std::string& v, Options& o) {
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end || n < 1 || n > 256) return usageError("--jobs needs a number from 1 to 256, not '" + v + "'");
    o.jobs = int(n);
    return {};
}

Outcome takeOption(const std::string& v, Options& o) {
    const size_t eq = v.find('=');
    if (eq == std::string::npos || eq == 0) return usageError("--option needs NAME=VALUE, not '" + v + "'");
    o.options.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    return {};
}

// The options that take the next argument as their value, with the message
// for a command line that ends before it.
struct ValueOption {
    const char* name;
    const char* missing;
    Outcome (*take)(const std::string& value, Options& o);
};

const ValueOption kValueOptions[] = {
    {"-e", "-e needs an expression", [](const std::string& v, Options& o) { o.exprs.push_back(v); return Outcome(); }},
    {"--eval", "--eval needs an expression",
     [](const std::string& v, Options& o) { o.exprs.push_back(v); return Outcome(); }},
    {"--load", "--load needs a file", [](const std::string& v, Options& o) { o.loads.push_back(v); return Outcome(); }},
    {"--format", "--format needs text, json or csv", takeFormat},
    {"--plot", "--plot needs a file ending in .png, .svg or .pdf", takePlot},
    {"--each", "--each needs a file or a pattern such as 'runs/*.raw'",
     [](const std::string& v, Options& o) {
         o.eachPatterns.push_back(v);
         o.each = true;
         return Outcome();
     }},
    {"--jobs", "--jobs needs a number", takeJobs},
    {"--option", "--option needs NAME=VALUE", takeOption},
    {"--module", "--module needs a path", [](const std::string& v, Options& o) { o.modulePath = v; return Outcome(); }},
};

int printReferenceMarkdown() {
    const auto& ref = cv::reference::Reference::global();
    for (const auto& problem : ref.errors()) std::fprintf(stderr, "Warning: %s\n", problem.c_str());
    if (ref.empty()) return usageError("no function reference in " + ref.directory() + " (set CVFUNC_SHARE)");
    std::fputs(ref.markdown().c_str(), stdout);
    return 0;
}

// Reads argv[i], and its value when it takes one (advancing i).
Outcome takeArgument(Options& o, int argc, char** argv, int& i) {
    const std::string a = argv[i];
    for (const ValueOption& option : kValueOptions) {
        if (a != option.name) continue;
        if (i + 1 >= argc) return usageError(option.missing);
        return option.take(argv[++i], o);
    }
    if (a == "--list") {
        o.list = true;
    } else if (a == "--vars") {
        o.vars = true;
    } else if (a == "--help" || a == "-h") {
        if (i + 1 >= argc || argv[i + 1][0] == '-') {
            std::fputs(kUsage, stdout);
            return 0;
        }
        o.helpName = argv[++i];
        o.help = true;
    } else if (a == "--reference-markdown") {
        return printReferenceMarkdown();
    } else if (a == "--version") {
        std::printf("cvfunc %s\n", CVFUNC_VERSION);
        return 0;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
        return usageError("unknown option '" + a + "'");
    } else {
        o.positionals.push_back(a);
    }
    return {};
}

// The arguments without a dash: with --each, more files to measure;
// otherwise the script file. Refuses options that do not go together.
Outcome placePositionals(Options& o) {
    if (o.each) {
        o.eachPatterns.insert(o.eachPatterns.end(), o.positionals.begin(), o.positionals.end());
        if (o.exprs.empty()) return usageError("--each needs the statements to run on each file (-e EXPR)");
        if (!o.plotPath.empty()) return usageError("--plot draws the results of one run, not of --each");
        if (o.formatGiven && o.format == cv::OutputFormat::Text) return usageError("--each writes csv or json, not text");
        if (!o.formatGiven) o.format = cv::OutputFormat::Csv;
        return {};
    }
    if (o.jobs) return usageError("--jobs goes with --each");
    if (o.positionals.size() > 1) return usageError("only one script file may be given");
    if (!o.positionals.empty()) o.file = o.positionals.front();
    return {};
}

Outcome parseCommandLine(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i)
        if (Outcome end = takeArgument(o, argc, argv, i)) return end;
    return placePositionals(o);
}

// ---------------------------------------------------------------- the session

// Sets the --option values, which the module must have declared first; an
// unknown name is bad usage, answered with the names there are.
Outcome setHostOptions(const std::vector<std::pair<std::string, std::string>>& options) {
    auto& store = cv::OptionStore::global();
    for (const auto& [name, value] : options) {
        if (store.get(name)) {
            store.set(name, value);
            if (const std::string unread = cv::unreadOptionWarning(name); !unread.empty())
                std::fprintf(stderr, "Warning: %s; see cvfunc --help options\n", unread.c_str());
            continue;
        }
        std::vector<std::string> known;
        for (const auto& o : store.all()) known.push_back(o.name);
        std::string list;
        for (const auto& k : known) list += "\n  " + k;
        return usageError("unknown option '" + name + "'" + cv::reference::didYouMean(name, known) +
                          "\nThe options are:" + list + "\n'cvfunc --help options' says what each does.");
    }
    return {};
}

// The module loaded, the options set, and the session's messages sent to
// stderr with their severity.
Outcome startSession(cv::Session& session, const Options& o) {
    std::string error;
    if (!session.loadModule(error, o.modulePath)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    if (Outcome end = setHostOptions(o.options)) return end;
    session.caller().setSink([](MessageHandler::Severity s, const std::string& text) {
        std::fprintf(stderr, "%s%s\n", s == MessageHandler::Error ? "Error: " : s == MessageHandler::Warning ? "Warning: " : "",
                     text.c_str());
    });
    return {};
}

// Binds each --load file's vectors; false, having said why, when one cannot
// be read. NAME=FILE binds them as NAME.vector; a file whose own name holds
// '=' still loads plainly.
bool loadFiles(cv::Session& session, const std::vector<std::string>& loads) {
    for (const auto& load : loads) {
        std::string path = load, prefix;
        const size_t eq = load.find('=');
        if (eq != std::string::npos && eq > 0 && access(load.c_str(), F_OK) != 0 &&
            std::all_of(load.begin(), load.begin() + long(eq), [](char c) { return std::isalnum((unsigned char)c) || c == '_'; }) &&
            !std::isdigit((unsigned char)load[0])) {
            prefix = load.substr(0, eq);
            path = load.substr(eq + 1);
        }
        std::string error;
        std::vector<std::string> warnings;
        if (!session.loadData(path, error, &warnings, prefix)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return false;
        }
        for (const auto& w : warnings) std::fprintf(stderr, "Warning: %s\n", w.c_str());
    }
    return true;
}

int measureEachFile(cv::Session& session, const Options& o) {
    cvtool::EachRequest request;
    request.files = cvtool::expandFiles(o.eachPatterns);
    request.statements = o.exprs;
    request.format = o.format;
    request.jobs = o.jobs;
    request.progress = isatty(STDERR_FILENO);
    const int status = cvtool::runEach(session, request, stdout);
    session.exitCli();
    return status;
}

void listVariables(const cv::Session& session) {
    for (const auto& name : session.names()) {
        std::string error;
        cv::ValuePtr v = session.lookup(name, error);
        if (!v) {
            std::fprintf(stderr, "cvfunc: %s\n", error.c_str());
            continue;
        }
        std::printf("%s\t%s\t%lld\t%lld\t%s\t%s\n", name.c_str(), cv::kindName(v->kind()),
                    (long long)v->divisionLength(0), (long long)v->numDivisions(),
                    sp_GetPhysTypeName(v->physType()), v->ref() ? v->refName().c_str() : "");
    }
}

// The text of a script file, '-' standard input; false when it cannot be opened.
bool readScript(const std::string& file, std::string& script) {
    std::stringstream text;
    if (file == "-") {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) return false;
        text << in.rdbuf();
    }
    script = text.str();
    return true;
}

// ---------------------------------------------------------------- running statements

// Runs statements and prints or draws their results: what printing, the
// picture and the end of the session share, in the three ways a session
// runs (statements given, a script piped in, the terminal).
class Runner {
public:
    Runner(cv::Session& session, const Options& o)
        : session_(session),
          plotPath_(o.plotPath),
          plotFormat_(o.plotFormat),
          printer_(
              o.format, [](const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); },
              [&session] { return cv::sessionRunLabels(session); }),
          // With --plot, what is drawn is not printed too, unless a --format
          // asks for the values; what cannot be drawn is printed, so no
          // result is lost.
          printDrawn_(o.formatGiven) {}

    // The -e statements in order, then the script file.
    int runGiven(const std::vector<std::string>& exprs, const std::string& file);
    // A script from standard input, its 'help' lines answered.
    int runPiped();
    // The terminal session: failures are reported and the session goes on.
    int runInteractive();

private:
    enum class Typed { Statement, Interrupted, Ended };

    void print(const cv::ValuePtr& v, const cv::Session::Statement& st);
    std::function<void(const cv::ValuePtr&, const cv::Session::Statement&)> printing() {
        return [this](const cv::ValuePtr& v, const cv::Session::Statement& st) { print(v, st); };
    }
    std::function<void()> posting() {
        return [this] { session_.postCli(); };
    }
    const char* finishPrinting();
    bool finishPlot();
    int fail(std::string_view msg);
    int failWith(const char* problem) { return fail(*problem ? std::string_view(problem) : error_); }
    int finishRun();
    template <class Run>
    const char* guarded(Run&& run);
    static Typed readStatement(const InterruptScope& interrupt, std::string& text);
    void runTyped(const std::string& text);

    cv::Session& session_;
    const std::string& plotPath_;
    const std::optional<cvtool::PlotFormat>& plotFormat_;
    cv::StatementPrinter printer_;
    cvtool::Plot plot_;
    bool printDrawn_;
    std::string error_;  // the session's message of the statement that failed
};

void Runner::print(const cv::ValuePtr& v, const cv::Session::Statement& st) {
    try {
        const bool drawn = plotFormat_ && st.assigned.empty() && plot_.add(v, st.text);
        if (!drawn || printDrawn_) printer_.statement(v, st.text, st.assigned);
    } catch (const std::bad_alloc&) {
        throw PrintOutOfMemory{};
    }
}

// Prints what is still held back (CSV: the whole table at the end); null,
// or the problem when memory ran out.
const char* Runner::finishPrinting() {
    try {
        printer_.finish();
        return nullptr;
    } catch (const std::bad_alloc&) {
        return kPrintMemory;
    }
}

// The picture of what was printed, also when a later statement failed: the
// results drawn are the ones printed.
bool Runner::finishPlot() {
    if (!plotFormat_) return true;
    std::fflush(stdout);
    if (plot_.empty()) {
        std::fprintf(stderr, "Warning: nothing to plot (no printed result is a waveform or a histogram); "
                             "'%s' not written\n", plotPath_.c_str());
        return true;
    }
    try {
        std::string message;
        if (plot_.write(plotPath_, *plotFormat_, message)) {
            // On stderr: standard output holds values only.
            std::fprintf(stderr, "Wrote %s (%zu panel%s)\n", plotPath_.c_str(), plot_.panels(),
                         plot_.panels() == 1 ? "" : "s");
            return true;
        }
        std::fprintf(stderr, "Error: %s\n", message.c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "Error: Not enough memory to draw '%s'\n", plotPath_.c_str());
    }
    return false;
}

// One Error: line, then the end of the session. When the results printed
// before cannot be printed either, that is the error to report: the other
// would leave their absence unexplained.
int Runner::fail(std::string_view msg) {
    if (const char* problem = finishPrinting()) msg = problem;
    std::fflush(stdout);
    std::fprintf(stderr, "Error: %.*s\n", int(msg.size()), msg.data());
    finishPlot();
    session_.exitCli();
    return 1;
}

// The end of a run whose statements all ran.
int Runner::finishRun() {
    if (const char* problem = finishPrinting()) return fail(problem);
    const bool drawn = finishPlot();
    session_.exitCli();
    return drawn ? 0 : 1;
}

// Runs statements, turning memory that ran out outside any function call
// into the failure it is: null when they all ran, "" when one failed with
// the session's message in error_, else the text of what ran out.
template <class Run>
const char* Runner::guarded(Run&& run) {
    try {
        return run() ? nullptr : "";
    } catch (const PrintOutOfMemory&) {
        return kPrintMemory;
    } catch (const std::bad_alloc&) {
        return kStatementMemory;
    }
}

int Runner::runGiven(const std::vector<std::string>& exprs, const std::string& file) {
    for (const auto& e : exprs) {
        const char* problem = guarded([&] { return session_.runStatements(e, printing(), error_); });
        session_.postCli();
        if (problem) return failWith(problem);
    }
    if (!file.empty()) {
        bool opened = true;
        const char* problem = guarded([&] {
            std::string script;
            opened = readScript(file, script);
            return opened && session_.runStatements(script, printing(), error_, posting());
        });
        if (!opened) return fail("cannot open script file '" + file + "'");
        if (problem) return failWith(problem);
    }
    return finishRun();
}

int Runner::runPiped() {
    const char* problem = guarded([&] {
        std::string script;
        readScript("-", script);
        return cvtool::runWithHelp(session_, script, printing(), error_, posting());
    });
    if (problem) return failWith(problem);
    return finishRun();
}

// ---------------------------------------------------------------- the REPL loop

// Reads one statement from the terminal, over several lines while a bracket
// or a quote is open.
Runner::Typed Runner::readStatement(const InterruptScope& interrupt, std::string& text) {
    for (const char* prompt = "> ";; prompt = "... ") {
        char* line = readline(prompt);
        if (!line) {
            if (!interrupt.interrupted()) return Typed::Ended;
            break;
        }
        const std::unique_ptr<char, decltype(&std::free)> owned(line, &std::free);
        text += owned.get();
        if (!continues(text)) break;
        text += "\n";
    }
    return interrupt.interrupted() ? Typed::Interrupted : Typed::Statement;
}

// What was typed: a help request, 'vars', or statements to run.
void Runner::runTyped(const std::string& text) {
    if (text.find_first_not_of(" \t\n") == std::string::npos) return;
    add_history(text.c_str());
    if (cvtool::replHelp(text)) return;
    if (text == "vars" || text == "vars()") {
        for (const auto& name : session_.names()) std::printf("%s\n", name.c_str());
        return;
    }
    const char* problem = guarded([&] { return session_.runStatements(text, printing(), error_); });
    if (const char* unprinted = finishPrinting(); unprinted && !problem) problem = unprinted;
    if (problem) std::fprintf(stderr, "Error: %s\n", *problem ? problem : error_.c_str());
    session_.postCli();
    std::fflush(stdout);
}

int Runner::runInteractive() {
    // The terminal session prints everything: the picture comes at its end.
    printDrawn_ = true;
    const std::string hist = historyPath();
    if (!hist.empty()) read_history(hist.c_str());
    std::printf("cvfunc %s: type expressions, 'help' for help, Tab to complete, Ctrl-C to stop a statement, "
                "Ctrl-D to end.\n", CVFUNC_VERSION);
    gCompletionSession = &session_;
    rl_attempted_completion_function = completeName;
    for (;;) {
        // Ctrl-C abandons the line being typed or the statement running; the
        // session and its vectors stay.
        InterruptScope interrupt;
        // So does memory running out: the line fails and the next is read.
        try {
            std::string text;
            const Typed typed = readStatement(interrupt, text);
            if (typed == Typed::Ended) break;
            if (typed == Typed::Interrupted) {
                std::printf("\n");
                continue;
            }
            runTyped(text);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "Error: %s\n", kStatementMemory);
        }
    }
    if (!hist.empty()) write_history(hist.c_str());
    std::printf("\n");
    const bool drawn = finishPlot();
    session_.exitCli();
    return drawn ? 0 : 1;
}

int runTool(int argc, char** argv) {
    Options o;
    if (Outcome end = parseCommandLine(argc, argv, o)) return *end;
    cv::Session session;
    if (Outcome end = startSession(session, o)) return *end;
    if (o.list) {
        listFunctions();
        return 0;
    }
    if (o.help) return cvtool::helpCommand(o.helpName);
    if (!loadFiles(session, o.loads)) return 1;
    if (o.each) return measureEachFile(session, o);
    if (o.vars) {
        listVariables(session);
        if (o.exprs.empty() && o.file.empty()) return 0;
    }
    Runner runner(session, o);
    if (!o.exprs.empty() || !o.file.empty()) return runner.runGiven(o.exprs, o.file);
    if (!isatty(STDIN_FILENO)) return runner.runPiped();
    return runner.runInteractive();
}

}  // namespace

int main(int argc, char** argv) {
    // Memory that runs out where no statement is running (reading the
    // options, loading the module or the data, --each, --vars) ends the tool
    // with one message too.
    try {
        return runTool(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "Error: Not enough memory to run the command\n");
        return 1;
    }
}
