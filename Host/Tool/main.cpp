// cvfunc: evaluates script expressions with the function library.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
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
    "  --module PATH         load the function module from PATH\n"
    "  --list                list the registered functions: name, argument counts,\n"
    "                        argument kinds, result kind\n"
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
        std::printf("%s\t%d-%d\t%s\t%s\n", f->name(), f->minArgs(), f->maxArgs(), kinds.c_str(),
                    cv::resultKindWord(f->pythonReturn()));
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

int runTool(int argc, char** argv) {
    std::vector<std::string> exprs, loads, positionals, eachPatterns;
    std::vector<std::pair<std::string, std::string>> options;  // set once the module has declared its own
    std::string file, modulePath, helpName, plotPath;
    std::optional<cvtool::PlotFormat> plotFormat;
    cv::OutputFormat format = cv::OutputFormat::Text;
    bool list = false, vars = false, help = false, each = false, formatGiven = false;
    int jobs = 0;

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-e" || a == "--eval") {
            if (!value(v)) return usageError(a + " needs an expression");
            exprs.push_back(v);
        } else if (a == "--load") {
            if (!value(v)) return usageError("--load needs a file");
            loads.push_back(v);
        } else if (a == "--format") {
            if (!value(v)) return usageError("--format needs text, json or csv");
            if (v == "text") format = cv::OutputFormat::Text;
            else if (v == "json") format = cv::OutputFormat::Json;
            else if (v == "csv") format = cv::OutputFormat::Csv;
            else return usageError("unknown format '" + v + "' (text, json or csv)");
            formatGiven = true;
        } else if (a == "--plot") {
            if (!value(plotPath)) return usageError("--plot needs a file ending in .png, .svg or .pdf");
            plotFormat = cvtool::plotFormatFor(plotPath);
            if (!plotFormat)
                return usageError("--plot draws PNG, SVG or PDF: the file must end in .png, .svg or .pdf, not '" +
                                  plotPath + "'");
        } else if (a == "--each") {
            if (!value(v)) return usageError("--each needs a file or a pattern such as 'runs/*.raw'");
            eachPatterns.push_back(v);
            each = true;
        } else if (a == "--jobs") {
            if (!value(v)) return usageError("--jobs needs a number");
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < 1 || n > 256) return usageError("--jobs needs a number from 1 to 256, not '" + v + "'");
            jobs = int(n);
        } else if (a == "--option") {
            if (!value(v)) return usageError("--option needs NAME=VALUE");
            size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) return usageError("--option needs NAME=VALUE, not '" + v + "'");
            options.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--module") {
            if (!value(modulePath)) return usageError("--module needs a path");
        } else if (a == "--list") {
            list = true;
        } else if (a == "--vars") {
            vars = true;
        } else if (a == "--help" || a == "-h") {
            if (i + 1 >= argc || argv[i + 1][0] == '-') {
                std::fputs(kUsage, stdout);
                return 0;
            }
            helpName = argv[++i];
            help = true;
        } else if (a == "--reference-markdown") {
            const auto& ref = cv::reference::Reference::global();
            for (const auto& problem : ref.errors()) std::fprintf(stderr, "Warning: %s\n", problem.c_str());
            if (ref.empty()) return usageError("no function reference in " + ref.directory() + " (set CVFUNC_SHARE)");
            std::fputs(ref.markdown().c_str(), stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("cvfunc %s\n", CVFUNC_VERSION);
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return usageError("unknown option '" + a + "'");
        } else {
            positionals.push_back(a);
        }
    }
    if (each) {
        // Every further argument is one more file (or pattern) to measure.
        eachPatterns.insert(eachPatterns.end(), positionals.begin(), positionals.end());
        if (exprs.empty()) return usageError("--each needs the statements to run on each file (-e EXPR)");
        if (!plotPath.empty()) return usageError("--plot draws the results of one run, not of --each");
        if (formatGiven && format == cv::OutputFormat::Text) return usageError("--each writes csv or json, not text");
        if (!formatGiven) format = cv::OutputFormat::Csv;
    } else {
        if (jobs) return usageError("--jobs goes with --each");
        if (positionals.size() > 1) return usageError("only one script file may be given");
        if (!positionals.empty()) file = positionals.front();
    }

    cv::Session session;
    std::string error;
    if (!session.loadModule(error, modulePath)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    for (const auto& [name, value] : options) {
        auto& store = cv::OptionStore::global();
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
    session.caller().setSink([](MessageHandler::Severity s, const std::string& text) {
        std::fprintf(stderr, "%s%s\n", s == MessageHandler::Error ? "Error: " : s == MessageHandler::Warning ? "Warning: " : "",
                     text.c_str());
    });
    if (list) {
        listFunctions();
        return 0;
    }
    if (help) return cvtool::helpCommand(helpName);
    for (const auto& load : loads) {
        // NAME=FILE binds the file's vectors as NAME.vector; a file whose own
        // name holds '=' still loads plainly.
        std::string path = load, prefix;
        const size_t eq = load.find('=');
        if (eq != std::string::npos && eq > 0 && access(load.c_str(), F_OK) != 0 &&
            std::all_of(load.begin(), load.begin() + long(eq), [](char c) { return std::isalnum((unsigned char)c) || c == '_'; }) &&
            !std::isdigit((unsigned char)load[0])) {
            prefix = load.substr(0, eq);
            path = load.substr(eq + 1);
        }
        std::vector<std::string> warnings;
        if (!session.loadData(path, error, &warnings, prefix)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return 1;
        }
        for (const auto& w : warnings) std::fprintf(stderr, "Warning: %s\n", w.c_str());
    }

    if (each) {
        cvtool::EachRequest request;
        request.files = cvtool::expandFiles(eachPatterns);
        request.statements = exprs;
        request.format = format;
        request.jobs = jobs;
        request.progress = isatty(STDERR_FILENO);
        const int status = cvtool::runEach(session, request, stdout);
        session.exitCli();
        return status;
    }

    if (vars) {
        for (const auto& name : session.names()) {
            cv::ValuePtr v = session.lookup(name);
            std::printf("%s\t%s\t%lld\t%lld\t%s\t%s\n", name.c_str(), cv::kindName(v->kind()),
                        (long long)v->divisionLength(0), (long long)v->numDivisions(),
                        sp_GetPhysTypeName(v->physType()), v->ref() ? v->refName().c_str() : "");
        }
        if (exprs.empty() && file.empty()) return 0;
    }

    cv::StatementPrinter printer(
        format, [](const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); },
        [&session] { return cv::sessionRunLabels(session); });
    cvtool::Plot plot;
    // With --plot, what is drawn is not printed too, unless a --format asks
    // for the values; what cannot be drawn is printed, so no result is lost.
    // The terminal session prints everything: the picture comes at its end.
    bool printDrawn = formatGiven;
    auto print = [&](const cv::ValuePtr& v, const cv::Session::Statement& st) {
        try {
            const bool drawn = plotFormat && st.assigned.empty() && plot.add(v, st.text);
            if (!drawn || printDrawn) printer.statement(v, st.text, st.assigned);
        } catch (const std::bad_alloc&) {
            throw PrintOutOfMemory{};
        }
    };
    // Printing what is still held back (CSV: the whole table at the end).
    auto finishPrinting = [&]() -> const char* {
        try {
            printer.finish();
            return nullptr;
        } catch (const std::bad_alloc&) {
            return kPrintMemory;
        }
    };
    // The picture of what was printed, also when a later statement failed:
    // the results drawn are the ones printed.
    auto finishPlot = [&]() {
        if (!plotFormat) return true;
        std::fflush(stdout);
        if (plot.empty()) {
            std::fprintf(stderr, "Warning: nothing to plot (no printed result is a waveform or a histogram); "
                                 "'%s' not written\n", plotPath.c_str());
            return true;
        }
        try {
            std::string message;
            if (plot.write(plotPath, *plotFormat, message)) {
                // On stderr: standard output holds values only.
                std::fprintf(stderr, "Wrote %s (%zu panel%s)\n", plotPath.c_str(), plot.panels(),
                             plot.panels() == 1 ? "" : "s");
                return true;
            }
            std::fprintf(stderr, "Error: %s\n", message.c_str());
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "Error: Not enough memory to draw '%s'\n", plotPath.c_str());
        }
        return false;
    };
    // One Error: line, then the end of the session. When the results printed
    // before cannot be printed either, that is the error to report: the
    // other would leave their absence unexplained.
    auto fail = [&](std::string_view msg) {
        if (const char* problem = finishPrinting()) msg = problem;
        std::fflush(stdout);
        std::fprintf(stderr, "Error: %.*s\n", int(msg.size()), msg.data());
        finishPlot();
        session.exitCli();
        return 1;
    };
    // Runs statements, turning memory that ran out outside any function call
    // into the failure it is: null when they all ran, "" when one failed with
    // the session's message in `error`, else the text of what ran out.
    auto guarded = [&](auto&& run) -> const char* {
        try {
            return run() ? nullptr : "";
        } catch (const PrintOutOfMemory&) {
            return kPrintMemory;
        } catch (const std::bad_alloc&) {
            return kStatementMemory;
        }
    };
    auto failWith = [&](const char* problem) { return fail(*problem ? std::string_view(problem) : error); };
    // The end of a run whose statements all ran.
    auto finishRun = [&]() {
        if (const char* problem = finishPrinting()) return fail(problem);
        const bool drawn = finishPlot();
        session.exitCli();
        return drawn ? 0 : 1;
    };
    auto post = [&] { session.postCli(); };

    if (!exprs.empty() || !file.empty()) {
        for (const auto& e : exprs) {
            const char* problem = guarded([&] { return session.runStatements(e, print, error); });
            post();
            if (problem) return failWith(problem);
        }
        if (!file.empty()) {
            bool opened = true;
            const char* problem = guarded([&] {
                std::stringstream text;
                if (file == "-") {
                    text << std::cin.rdbuf();
                } else {
                    std::ifstream in(file, std::ios::binary);
                    if (!in) {
                        opened = false;
                        return false;
                    }
                    text << in.rdbuf();
                }
                return session.runStatements(text.str(), print, error, post);
            });
            if (!opened) return fail("cannot open script file '" + file + "'");
            if (problem) return failWith(problem);
        }
        return finishRun();
    }

    if (!isatty(STDIN_FILENO)) {
        const char* problem = guarded([&] {
            std::stringstream text;
            text << std::cin.rdbuf();
            return cvtool::runWithHelp(session, text.str(), print, error, post);
        });
        if (problem) return failWith(problem);
        return finishRun();
    }

    // Interactive: failures are reported and the session goes on.
    printDrawn = true;
    std::string hist = historyPath();
    if (!hist.empty()) read_history(hist.c_str());
    std::printf("cvfunc %s: type expressions, 'help' for help, Tab to complete, Ctrl-C to stop a statement, "
                "Ctrl-D to end.\n", CVFUNC_VERSION);
    gCompletionSession = &session;
    rl_attempted_completion_function = completeName;
    for (;;) {
        // Ctrl-C abandons the line being typed or the statement running; the
        // session and its vectors stay.
        InterruptScope interrupt;
        // So does memory running out: the line fails and the next is read.
        try {
            std::string text;
            bool ended = false;
            for (const char* prompt = "> ";; prompt = "... ") {
                char* line = readline(prompt);
                if (!line) {
                    ended = !interrupt.interrupted();
                    break;
                }
                const std::unique_ptr<char, decltype(&std::free)> owned(line, &std::free);
                text += owned.get();
                if (!continues(text)) break;
                text += "\n";
            }
            if (ended) break;
            if (interrupt.interrupted()) {
                std::printf("\n");
                continue;
            }
            if (text.find_first_not_of(" \t\n") == std::string::npos) continue;
            add_history(text.c_str());
            if (cvtool::replHelp(text)) continue;
            if (text == "vars" || text == "vars()") {
                for (const auto& name : session.names()) std::printf("%s\n", name.c_str());
                continue;
            }
            const char* problem = guarded([&] { return session.runStatements(text, print, error); });
            if (const char* unprinted = finishPrinting(); unprinted && !problem) problem = unprinted;
            if (problem) std::fprintf(stderr, "Error: %s\n", *problem ? problem : error.c_str());
            post();
            std::fflush(stdout);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "Error: %s\n", kStatementMemory);
        }
    }
    if (!hist.empty()) write_history(hist.c_str());
    std::printf("\n");
    const bool drawn = finishPlot();
    session.exitCli();
    return drawn ? 0 : 1;
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
