#include "Each.h"

#include <fcntl.h>
#include <glob.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace cvtool {

namespace {

// ---------------------------------------------------- what a child reports
//
// A child writes its findings as length-prefixed fields ("5:hello"), so that
// any text (newlines, commas, NUL bytes in a file name) goes through intact.

void put(std::string& out, std::string_view s) {
    out += std::to_string(s.size());
    out += ':';
    out.append(s);
}

bool take(std::string_view& in, std::string& out) {
    size_t colon = in.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 12) return false;
    size_t n = 0;
    for (size_t i = 0; i < colon; ++i) {
        if (in[i] < '0' || in[i] > '9') return false;
        n = n * 10 + size_t(in[i] - '0');
    }
    if (in.size() - colon - 1 < n) return false;
    out.assign(in.substr(colon + 1, n));
    in.remove_prefix(colon + 1 + n);
    return true;
}

// One printed statement of one file.
struct Column {
    std::string text;
    bool complex = false;
    bool single = false;  // one number, repeated on every run's row
    std::vector<std::string> keys, csv, json;
    std::string problem;  // set when the value gives no number per run
};

struct FileResult {
    std::vector<Column> columns;
    std::string error;  // the file did not load, or a statement failed
};

std::string describe(const cv::Value& v) {
    if (v.kind() == cv::Kind::None || v.size() == 0) return "gives no value";
    if (v.kind() == cv::Kind::String) return "gives text, not numbers";
    return "gives " + std::to_string(v.size()) + " values in " + std::to_string(v.numDivisions()) +
           " division(s), not one number per run";
}

void encodeStatement(std::string& out, const cv::Value& v, std::string_view text, const cv::RunLabelSets& runs) {
    const cv::TidyRows rows = cv::tidyRows(v, runs);
    if (rows.kind == cv::TidyRows::None) {
        out += 'N';
        put(out, text);
        put(out, describe(v));
        return;
    }
    const bool single = rows.kind == cv::TidyRows::Single;
    const size_t n = single ? 1 : rows.keys.size();
    out += 'S';
    put(out, text);
    put(out, v.kind() == cv::Kind::Complex ? "c" : "r");
    put(out, single ? "1" : "0");
    put(out, std::to_string(n));
    for (size_t i = 0; i < n; ++i) put(out, single ? std::string_view() : std::string_view(rows.keys[i]));
    for (size_t i = 0; i < n; ++i) put(out, cv::tidyCsvCells(v, int64_t(i)));
    for (size_t i = 0; i < n; ++i) put(out, cv::tidyJsonElement(v, int64_t(i)));
}

bool decode(std::string_view in, FileResult& r) {
    std::string field;
    while (!in.empty()) {
        const char tag = in.front();
        in.remove_prefix(1);
        if (tag == 'E') {
            if (!take(in, r.error)) return false;
            continue;
        }
        Column c;
        if (!take(in, c.text)) return false;
        if (tag == 'N') {
            if (!take(in, c.problem)) return false;
            r.columns.push_back(std::move(c));
            continue;
        }
        if (tag != 'S' || !take(in, field)) return false;
        c.complex = field == "c";
        if (!take(in, field)) return false;
        c.single = field == "1";
        if (!take(in, field) || field.empty() || field.size() > 12) return false;
        const size_t n = std::stoull(field);
        if (n > in.size()) return false;
        for (auto* list : {&c.keys, &c.csv, &c.json})
            for (size_t i = 0; i < n; ++i) {
                if (!take(in, field)) return false;
                list->push_back(field);
            }
        r.columns.push_back(std::move(c));
    }
    return true;
}

// In the child: loads the file, runs the statements, and reports.
std::string measure(cv::Session& session, const std::string& file, const std::vector<std::string>& statements) {
    session.caller().setSink([&file](MessageHandler::Severity s, const std::string& text) {
        std::fprintf(stderr, "%s%s: %s\n",
                     s == MessageHandler::Error ? "Error: " : s == MessageHandler::Warning ? "Warning: " : "",
                     file.c_str(), text.c_str());
    });
    std::string out, error;
    std::vector<std::string> warnings;
    if (!session.loadData(file, error, &warnings)) {
        out += 'E';
        put(out, error);
        return out;
    }
    for (const auto& w : warnings) std::fprintf(stderr, "Warning: %s: %s\n", file.c_str(), w.c_str());
    // A statistic collected over the runs is keyed by their labels as the
    // file wrote them, taken from the vectors read so far (a file's vectors
    // are read when a statement first uses them).
    auto onStatement = [&](const cv::ValuePtr& v, const cv::Session::Statement& st) {
        if (st.assigned.empty()) encodeStatement(out, *v, st.text, cv::sessionRunLabels(session));
    };
    for (const auto& s : statements) {
        const bool ok = session.runStatements(s, onStatement, error);
        session.postCli();
        if (!ok) {
            out += 'E';
            put(out, error);
            break;
        }
    }
    session.exitCli();
    return out;
}

// ------------------------------------------------------------ the workers

struct Worker {
    pid_t pid = -1;
    int fd = -1;
    size_t index = 0;
    std::string data;
};

bool start(cv::Session& session, const EachRequest& rq, size_t index, Worker& w, std::string& error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot start a worker: ") + std::strerror(errno);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("cannot start a worker: ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        signal(SIGPIPE, SIG_DFL);
        const std::string report = measure(session, rq.files[index], rq.statements);
        std::string_view rest = report;
        while (!rest.empty()) {
            const ssize_t n = write(fds[1], rest.data(), rest.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(3);
            rest.remove_prefix(size_t(n));
        }
        std::fflush(stderr);
        _exit(0);
    }
    close(fds[1]);
    w = Worker{pid, fds[0], index, {}};
    return true;
}

// Waits for a finished worker and turns what it wrote into its file's result.
FileResult collect(Worker& w) {
    close(w.fd);
    int status = 0;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    FileResult r;
    const bool decoded = decode(w.data, r);
    if (WIFSIGNALED(status)) {
        r.error = std::string("the evaluation ended with signal ") + strsignal(WTERMSIG(status));
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !decoded) {
        r.error = "the evaluation ended without a complete result";
    }
    return r;
}

void showProgress(size_t done, size_t total) {
    constexpr int kWidth = 30;
    const int filled = total ? int(double(done) / double(total) * kWidth) : kWidth;
    std::string bar(size_t(filled), '#');
    bar.resize(kWidth, '.');
    std::fprintf(stderr, "\r[%s] %zu/%zu files", bar.c_str(), done, total);
    std::fflush(stderr);
}

std::vector<FileResult> measureAll(cv::Session& session, const EachRequest& rq) {
    std::vector<FileResult> results(rq.files.size());
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    size_t jobs = size_t(rq.jobs > 0 ? rq.jobs : std::clamp(cpus, 1L, 64L));
    jobs = std::max<size_t>(1, std::min(jobs, rq.files.size()));
    // A child that dies before reading must not kill the tool with SIGPIPE;
    // the tool only reads from its children, but a plugin might write.
    struct sigaction ignore {}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);

    std::vector<Worker> active;
    size_t next = 0, done = 0;
    if (rq.progress) showProgress(0, rq.files.size());
    while (next < rq.files.size() || !active.empty()) {
        while (active.size() < jobs && next < rq.files.size()) {
            Worker w;
            std::string error;
            if (start(session, rq, next, w, error)) {
                active.push_back(std::move(w));
                ++next;
                continue;
            }
            if (!active.empty()) break;  // try again once a worker has finished
            results[next++].error = error;  // nothing running to wait for: this file fails
            ++done;
        }
        if (active.empty()) continue;
        std::vector<pollfd> fds;
        for (const auto& w : active) fds.push_back({w.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (size_t i = active.size(); i-- > 0;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[65536];
            const ssize_t n = read(active[i].fd, buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n > 0) {
                active[i].data.append(buf, size_t(n));
                continue;
            }
            results[active[i].index] = collect(active[i]);
            active.erase(active.begin() + long(i));
            ++done;
            if (rq.progress) showProgress(done, rq.files.size());
        }
    }
    sigaction(SIGPIPE, &old, nullptr);
    if (rq.progress) std::fputs("\r\033[K", stderr);
    return results;
}

// ------------------------------------------------------------ the table

struct Table {
    std::vector<std::string> titles;
    std::vector<bool> complex;
};

std::string join(const std::string& a, const std::string& b) { return a.empty() ? b : b.empty() ? a : a + "; " + b; }

std::string csvCell(const Column* c, size_t row, bool complexColumn) {
    if (!c) return complexColumn ? "," : "";
    std::string cell = c->csv[c->single ? 0 : row];
    if (complexColumn && !c->complex) cell += ",0";
    return cell;
}

std::string jsonCell(const Column* c, size_t row, bool complexColumn) {
    if (!c) return "null";
    std::string cell = c->json[c->single ? 0 : row];
    return complexColumn && !c->complex ? "[" + cell + ", 0]" : cell;
}

void writeTable(const EachRequest& rq, const std::vector<FileResult>& results, FILE* out, bool& failed) {
    Table t;
    for (const auto& r : results)
        for (size_t k = 0; k < r.columns.size(); ++k) {
            if (k == t.titles.size()) t.titles.push_back(r.columns[k].text), t.complex.push_back(false);
            if (r.columns[k].complex) t.complex[k] = true;
        }
    const bool json = rq.format == cv::OutputFormat::Json;
    std::string s;
    if (json) {
        s = "[";
    } else {
        s = "file,run";
        for (size_t k = 0; k < t.titles.size(); ++k) s += "," + cv::tidyCsvTitle(t.titles[k], t.complex[k]);
        s += ",error\n";
    }
    bool firstRow = true;
    for (size_t f = 0; f < results.size(); ++f) {
        const FileResult& r = results[f];
        // The runs are those of the first statement that gives a number per run.
        std::vector<std::string> runs{""};
        for (const auto& c : r.columns)
            if (c.problem.empty() && !c.single) {
                runs = c.keys;
                break;
            }
        std::string error = r.error;
        std::vector<const Column*> cells(t.titles.size(), nullptr);
        for (size_t k = 0; k < r.columns.size(); ++k) {
            const Column& c = r.columns[k];
            if (!c.problem.empty()) error = join(error, "'" + c.text + "' " + c.problem);
            else if (!c.single && c.keys != runs)
                error = join(error, "'" + c.text + "' gives values for other runs than the statements before it");
            else cells[k] = &c;
        }
        if (!error.empty()) failed = true;
        for (size_t i = 0; i < runs.size(); ++i) {
            if (json) {
                s += firstRow ? "\n" : ",\n";
                s += "{\"file\": " + cv::jsonString(rq.files[f]) +
                     ", \"run\": " + (runs[i].empty() ? std::string("null") : cv::jsonString(runs[i]));
                for (size_t k = 0; k < cells.size(); ++k)
                    s += ", " + cv::jsonString(t.titles[k]) + ": " + jsonCell(cells[k], i, t.complex[k]);
                s += ", \"error\": " + (error.empty() ? std::string("null") : cv::jsonString(error)) + "}";
            } else {
                s += cv::tidyCsvField(rq.files[f]) + "," + cv::tidyCsvField(runs[i]);
                for (size_t k = 0; k < cells.size(); ++k) s += "," + csvCell(cells[k], i, t.complex[k]);
                s += "," + cv::tidyCsvField(error) + "\n";
            }
            firstRow = false;
        }
        if (s.size() > (1 << 16)) {
            std::fwrite(s.data(), 1, s.size(), out);
            s.clear();
        }
    }
    if (json) s += "\n]\n";
    std::fwrite(s.data(), 1, s.size(), out);
    std::fflush(out);
}

}  // namespace

std::vector<std::string> expandFiles(const std::vector<std::string>& patterns) {
    std::vector<std::string> files;
    for (const auto& p : patterns) {
        glob_t g{};
        const int rc = glob(p.c_str(), GLOB_NOCHECK | GLOB_TILDE, nullptr, &g);
        if (rc == 0)
            for (size_t i = 0; i < g.gl_pathc; ++i) files.emplace_back(g.gl_pathv[i]);
        else
            files.push_back(p);
        globfree(&g);
    }
    return files;
}

int runEach(cv::Session& session, const EachRequest& rq, FILE* out) {
    bool failed = false;
    writeTable(rq, measureAll(session, rq), out, failed);
    return failed ? 1 : 0;
}

}  // namespace cvtool
