// The _cvfunc extension: one host session per process, script-function calls
// with numpy in and out, the expression language, data files and options.
//
// Threads: the session is not re-entrant, so every use of it holds one mutex;
// the GIL is released meanwhile, so that a long function does not stop other
// Python threads. Nothing inside that section touches a Python object: the
// messages a handler sends are collected and reported after it.
//
// Ctrl-C: Python only notices a signal between bytecodes, which a long call
// never reaches; the host's kernels poll the flag of an InterruptScope
// (Clocks.h) instead. A scope per call would cost three system calls, half
// the time of a call of a scalar function, so the package keeps one scope
// for good and puts a relay in front of its handler (see "Ctrl-C" below).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <pthread.h>

#include "Clocks.h"
#include "EngNumber.h"
#include "Loaders/Loaders.h"
#include "OptionStore.h"
#include "Reference.h"
#include "Session.h"
#include "TextLines.h"
#include "cvfunc_ext.h"

#ifndef CVFUNC_VERSION
#define CVFUNC_VERSION "0.1.0"
#endif

namespace cvpy {

namespace {

using Message = std::pair<MessageHandler::Severity, std::string>;

struct Host {
    cv::Session session;
    std::mutex mutex;
    std::vector<Message> pending;  // guarded by mutex
    bool exited = false;
};

// Kept until the process ends: module callbacks and vectors still alive at
// interpreter shutdown must not meet a destroyed session.
Host* gHost = nullptr;
PyObject* gErrorClass = nullptr;  // cvfunc.Error
PyObject* gReport = nullptr;      // cvfunc._report(severity, text)
pthread_t gMainThread{};          // Python's main thread, the one signals reach

Host& host() {
    if (!gHost) {
        auto h = std::make_unique<Host>();
        std::string error;
        if (!h->session.loadModule(error)) throw py::import_error(error);
        h->session.caller().setSink(
            [hp = h.get()](MessageHandler::Severity s, const std::string& t) { hp->pending.emplace_back(s, t); });
        gHost = h.release();
    }
    return *gHost;
}

[[noreturn]] void raiseError(const std::string& message) {
    PyErr_SetObject(gErrorClass ? gErrorClass : PyExc_RuntimeError, text(message).ptr());
    throw py::error_already_set();
}

// Runs f(session) with the GIL released and the session locked; the messages
// sent meanwhile land in `messages`.
struct Drain {
    Host& h;
    std::vector<Message>& out;
    ~Drain() {
        out = std::move(h.pending);
        h.pending.clear();
    }
};

template <class F>
auto locked(std::vector<Message>& messages, F&& f) {
    Host& h = host();
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(h.mutex);
    Drain drain{h, messages};
    return f(h.session);
}

// The same for a call too small to be worth letting other threads run: the
// GIL stays held (giving it up and taking it back costs more than such a
// call's work). Only when the session is free; else nothing runs (nullopt)
// and the caller waits the usual way. Nothing a session runs calls back into
// Python, so holding the GIL here can block no one who holds the session.
template <class F>
std::optional<bool> lockedHoldingGil(std::vector<Message>& messages, F&& f) {
    Host& h = host();
    if (!h.mutex.try_lock()) return std::nullopt;
    std::lock_guard<std::mutex> lock(h.mutex, std::adopt_lock);
    Drain drain{h, messages};
    return f(h.session);
}

// ---- Ctrl-C
//
// One InterruptScope lives for good (a scope of a function, Sleep's, nests in
// it at no cost), and SIGINT goes to a relay in front of it: while the main
// thread runs a script function or statements, the relay passes the signal
// to the scope's handler, which sets the flag the kernels poll; at any other
// time to Python's own handler, so that Python code, the prompt and other
// threads see Ctrl-C exactly as without the package. A call that caught one
// ends the scope, which hands the signal on to Python (KeyboardInterrupt),
// and starts a fresh one. A call pays a few flag stores and loads for this.
//
// Python code may put another handler in place of the relay (signal.signal,
// asyncio.run, a notebook kernel around each cell). A watcher thread puts the
// relay back in front of it once a call has run for a tenth of a second, so
// that such a call, and a Sleep, still stop. It sleeps while nothing runs;
// short calls wake it at most once a tenth of a second.

struct sigaction gPythonAction{};                 // what the relay serves outside calls
void (*gScopeHandler)(int) = nullptr;             // the scope's: sets the flag kernels poll
std::optional<InterruptScope>* gScope = nullptr;  // kept to the process's end; empty: no relay
std::atomic<bool> gMainCallRunning{false};
std::atomic<bool> gCaught{false};                 // the relay passed a Ctrl-C to the scope
bool gHandedOver = false;                         // ... and the scope on to Python (main thread only)
std::atomic<uint64_t> gMainCalls{0};              // written by the main thread only

// Never destroyed (the detached watcher may still wait on it at exit), and
// made anew in a child process after fork().
struct Watcher {
    std::mutex mutex;  // the watcher's sleep
    std::condition_variable wake;
    std::mutex relay;  // changes of the relay: the hand-over after a call, the watcher's repair
};
alignas(Watcher) unsigned char gWatcherStorage[sizeof(Watcher)];
Watcher* gWatcher = nullptr;
bool gWatcherStarted = false;            // main thread only
std::atomic<bool> gWatcherAsleep{true};  // also: not started yet

void relaySigint(int sig, siginfo_t* info, void* context) {
    if (gMainCallRunning.load(std::memory_order_relaxed)) {
        gCaught.store(true, std::memory_order_relaxed);
        gScopeHandler(sig);
    } else if (gPythonAction.sa_flags & SA_SIGINFO) {
        gPythonAction.sa_sigaction(sig, info, context);
    } else {
        gPythonAction.sa_handler(sig);
    }
}

bool isFunction(const struct sigaction& a) {
    return (a.sa_flags & SA_SIGINFO) || (a.sa_handler != SIG_DFL && a.sa_handler != SIG_IGN);
}

void putRelayInFront(const struct sigaction& served) {
    gPythonAction = served;
    struct sigaction relay{};
    relay.sa_sigaction = relaySigint;
    relay.sa_mask = served.sa_mask;
    // No SA_RESTART, as Python's: a blocking call must wake up to see it.
    relay.sa_flags = SA_SIGINFO | (served.sa_flags & SA_ONSTACK);
    sigaction(SIGINT, &relay, nullptr);
}

// Starts the scope and puts the relay in front of it. Where SIGINT is not
// Python's to handle (ignored, or the default of an embedding that handles
// no signals) nothing changes.
void startRelay() {
    if (!gScope) gScope = new std::optional<InterruptScope>();
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct sigaction python{};
        if (sigaction(SIGINT, nullptr, &python) != 0 || !isFunction(python)) return;
        gScope->emplace();
        struct sigaction scope{};
        if (sigaction(SIGINT, nullptr, &scope) != 0 || (scope.sa_flags & SA_SIGINFO) ||
            scope.sa_handler == python.sa_handler || !isFunction(scope)) {
            gScope->reset();  // the scope did not take SIGINT: leave it to Python
            return;
        }
        gScopeHandler = scope.sa_handler;
        putRelayInFront(python);
        // A Ctrl-C between the scope's start and the relay's went to the
        // scope: it is Python's, and the scope starts again.
        if (!(*gScope)->interrupted()) return;
        gScope->reset();
    }
}

// After a call that caught Ctrl-C, in the session lock: the signal goes on to
// Python (the scope's end raises it there) and a fresh scope takes its place.
[[gnu::noinline]] void handOverInterrupt() {
    std::lock_guard<std::mutex> lock(gWatcher->relay);
    gCaught.store(false);
    gHandedOver = true;
    if (*gScope) gScope->reset();
    startRelay();
}

// The watcher's repair: the relay back in front of a handler that took its
// place. An ignored or default SIGINT is left as it is.
void repairRelay() {
    std::lock_guard<std::mutex> lock(gWatcher->relay);
    struct sigaction current{};
    if (!*gScope || sigaction(SIGINT, nullptr, &current) != 0 || !isFunction(current)) return;
    const bool info = current.sa_flags & SA_SIGINFO;
    if ((info && current.sa_sigaction == relaySigint) || (!info && current.sa_handler == gScopeHandler)) return;
    putRelayInFront(current);
}

void watch() {
    Watcher& w = *gWatcher;
    std::unique_lock<std::mutex> lock(w.mutex);
    uint64_t seen = 0;
    for (;;) {
        w.wake.wait_for(lock, std::chrono::milliseconds(100));
        if (!gMainCallRunning.load()) {
            // Nothing runs: sleep until a call starts. Sequentially consistent
            // with the call's flags, so that one of the two sees the other's.
            gWatcherAsleep.store(true);
            if (gMainCallRunning.load()) gWatcherAsleep.store(false);
            w.wake.wait(lock, [] { return !gWatcherAsleep.load(); });
            seen = gMainCalls.load(std::memory_order_relaxed);
            continue;
        }
        const uint64_t calls = gMainCalls.load(std::memory_order_relaxed);
        if (calls == seen) repairRelay();  // the same call as a period ago: a long one
        seen = calls;
    }
}

[[gnu::noinline]] void wakeWatcher() {
    if (!gWatcherStarted) {
        gWatcher = new (gWatcherStorage) Watcher();
        gWatcherStarted = true;
        gWatcherAsleep.store(false);
        try {
            std::thread(watch).detach();
        } catch (const std::system_error&) {
            // No thread to spare: Ctrl-C still works while the relay stays in place.
        }
        return;
    }
    std::lock_guard<std::mutex> lock(gWatcher->mutex);
    gWatcherAsleep.store(false);
    gWatcher->wake.notify_one();
}

void forkedChild() {
    gWatcherStarted = false;  // threads do not survive fork(): the first call starts one
    gWatcherAsleep.store(true);
}

// As `locked`, for work that may run long (script functions, statements).
// Only a call of the main thread is stopped: Python raises KeyboardInterrupt
// there, and a call of another thread is no Ctrl-C's business.
template <class F>
auto interruptible(std::vector<Message>& messages, F&& f) {
    const bool main = gScope && pthread_equal(pthread_self(), gMainThread);
    return locked(messages, [&](cv::Session& s) {
        if (!main || !*gScope) return f(s);
        gMainCalls.store(gMainCalls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        gMainCallRunning.store(true);
        if (gWatcherAsleep.load()) wakeWatcher();
        struct Running {
            ~Running() {
                gMainCallRunning.store(false, std::memory_order_relaxed);
                if (gCaught.load(std::memory_order_relaxed)) handOverInterrupt();
            }
        } running;
        return f(s);
    });
}

// A call that Ctrl-C ended, or that ran while Ctrl-C came, has handed the
// signal on to Python: the user asked to stop, so that is what Python raises.
void raiseIfInterrupted(bool failed) {
    const bool handedOver = std::exchange(gHandedOver, false);
    if ((failed || handedOver) && PyErr_CheckSignals() != 0) throw py::error_already_set();
}

void report(const std::vector<Message>& messages) {
    for (const auto& [severity, message] : messages) {
        if (gReport) py::reinterpret_borrow<py::object>(gReport)(int(severity), text(message));
        else PySys_WriteStderr("%s\n", message.c_str());
    }
}

// Arguments in the order given; a failure names the argument.
// A number or a text, as Python sees one (Vectors say so themselves).
bool isScalar(py::handle a) {
    PyObject* o = a.ptr();
    if (PyFloat_Check(o) || PyLong_Check(o) || PyUnicode_Check(o) || PyComplex_Check(o)) return true;
    if (PyList_Check(o) || PyTuple_Check(o)) return false;
    static PyObject* generic = py::object(py::module_::import("numpy").attr("generic")).release().ptr();
    return PyObject_IsInstance(o, generic) == 1;
}

using Runs = std::shared_ptr<const std::vector<std::string>>;

// What the call needs to know of its Python arguments besides their values;
// the lists stay empty (no allocation) when no argument needs them.
struct ArgumentInfo {
    std::vector<bool> texts;  // a Python str: may be a number in engineering notation
    std::vector<Runs> runs;   // the runs of a Vector of one value per run
    bool scalars = false;     // every argument a single number or text
};

// Large numpy arrays are lent to the call rather than copied (`borrowed`).
void argumentValues(std::string_view function, std::span<PyObject* const> args, std::span<cv::ValuePtr> values,
                    std::vector<Borrowed>& borrowed, ArgumentInfo& info) {
    size_t i = 0;
    info.scalars = args.size() > 0;
    for (py::handle a : args) {
        ++i;
        PyObject* o = a.ptr();
        if (Py_TYPE(o) != &PyFloat_Type && isVector(a)) {  // most arguments of most calls: read whole here
            const Vector& v = vectorOf(a);
            info.scalars = info.scalars && v.scalar;
            if (v.runs) {
                info.runs.resize(args.size());
                info.runs[i - 1] = v.runs;
            }
            values[i - 1] = v.value;
            continue;
        }
        info.scalars = info.scalars && isScalar(a);
        if (PyUnicode_Check(o)) {
            info.texts.resize(args.size());
            info.texts[i - 1] = true;
        }
        try {
            values[i - 1] = argumentValue(a, &borrowed);
        } catch (const ConvertError& e) {
            std::string m = "Argument " + std::to_string(i) + " in function '" + std::string(function) + "': " + e.what();
            if (e.isTypeError) throw py::type_error(m);
            throw py::value_error(m);
        }
    }
}

// A text that reads whole as a number the way the script language writes
// them ("5u", "2.2k", "3meg", "-1e-3", "10uF"), through the host's reader.
std::optional<double> engineeringNumber(std::string_view text) {
    const std::string t(cv::trimBlanks(text));
    if (t.empty()) return std::nullopt;
    const char* end = nullptr;
    const double x = sp_ConvertEngToReal(t.c_str(), &end);
    if (end != t.c_str() + t.size()) return std::nullopt;
    return x;
}

// Python has no literal for 5u, so a str where a function takes a number is
// read as the language would read it. A str that is no number stays a str,
// for the function's own message; operators keep Python's rule that a str
// is not a number.
void readNumbersFromTexts(const FuncConstruct& f, const std::vector<bool>& texts, std::span<cv::ValuePtr> values) {
    if (texts.empty() || f.options().isOperator) return;
    for (size_t i = 0; i < values.size(); ++i) {
        const argType k = f.kindOf(int(i));
        if (!texts[i] || (k != ArgNumeric && k != ArgReal) || values[i]->size() != 1) continue;
        if (std::optional<double> x = engineeringNumber(values[i]->stringAt(0))) values[i] = cv::Value::real(*x);
    }
}

// The runs a result of one value per run belongs to. The host collects the
// values of a statistic over d runs into one vector of d values whose
// x-values stand for the run labels (as numbers, or 0 ... d-1); the labels
// themselves are those of the argument's runs. A result that keeps such a
// vector's x-values (v * 2, the same reference) keeps its runs.
Runs resultRuns(const FuncConstruct& f, std::span<const cv::ValuePtr> args, const std::vector<Runs>& argRuns,
                const cv::ValuePtr& out) {
    if (!out || out->numDivisions() != 1) return nullptr;
    for (size_t i = 0; i < args.size(); ++i) {
        const int64_t d = args[i] ? args[i]->numDivisions() : 1;
        if (f.multiOf(int(i)) != MultiStatistic || d < 2 || out->size() != d) continue;
        auto labels = std::make_shared<std::vector<std::string>>(args[i]->divisionLabels());
        if (int64_t(labels->size()) != d) {
            labels->clear();
            for (int64_t k = 0; k < d; ++k) labels->push_back(std::to_string(k));
        }
        return labels;
    }
    for (size_t i = 0; i < argRuns.size(); ++i)
        if (argRuns[i] && out->ref() && out->ref() == args[i]->ref() && out->size() == int64_t(argRuns[i]->size()))
            return argRuns[i];
    return nullptr;
}

// Element-wise work on this many elements or fewer runs with the GIL held.
constexpr int64_t kSmallCall = int64_t(1) << 14;

}  // namespace

PyObject* errorClass() { return gErrorClass ? gErrorClass : PyExc_RuntimeError; }

py::object callScript(std::string_view name, const FuncConstruct* f, std::span<PyObject* const> args) {
    host();
    std::vector<Borrowed> borrowed;
    ArgumentInfo info;
    cv::ValuePtr inline_[4];
    std::vector<cv::ValuePtr> heap;
    std::span<cv::ValuePtr> values(inline_, args.size());
    if (args.size() > 4) values = heap = std::vector<cv::ValuePtr>(args.size());
    argumentValues(name, args, values, borrowed, info);
    std::vector<Message> messages;
    cv::ValuePtr out;
    std::string error;
    std::optional<PythonReturnType> declared;
    Runs runs;
    auto body = [&](cv::Session& s) {
        if (!f) f = cv::FunctionTable::global().find(name);
        if (!f) {
            error = "Unknown function '" + std::string(name) + "'";
            return false;
        }
        declared = f->pythonReturn();
        readNumbersFromTexts(*f, info.texts, values);
        bool done = s.caller().call(*f, values, out, error);
        if (done) runs = resultRuns(*f, values, info.runs, out);
        s.postCli();
        return done;
    };
    std::optional<bool> done;
    if (f && f->options().elementWise && borrowed.empty()) {
        int64_t elements = 0;
        for (const cv::ValuePtr& v : values) elements += v->size();
        if (elements <= kSmallCall) done = lockedHoldingGil(messages, body);
    }
    const bool ok = done ? *done : interruptible(messages, body);
    std::fill(values.begin(), values.end(), nullptr);
    if (!borrowed.empty()) {
        // The result outlives the call, the lent arrays' contents may not:
        // what of them it passed through is copied now.
        out = detached(out, borrowed);
        for (Borrowed& b : borrowed)
            if (!b.owner.expired())  // kept somewhere out of reach: the array must stay as it is
                py::detail::array_proxy(b.array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    }
    if (!messages.empty()) report(messages);
    raiseIfInterrupted(!ok);
    if (!ok) raiseError(error);
    // Numbers in, one number out: a number, as numpy gives for scalars.
    const bool number = info.scalars && out && out->isNumeric();
    py::object r = result(std::move(out), number ? PyNone : *declared);
    if (runs && isVector(r)) vectorOf(r).runs = std::move(runs);
    return r;
}

namespace {

// cvfunc.call(name, *args), called the way CPython calls its own functions:
// no argument tuple is made and no overloads are tried.
PyObject* callByName(PyObject*, PyObject* const* args, Py_ssize_t n) {
    try {
        if (n < 1 || !PyUnicode_Check(args[0])) throw py::type_error("call() needs the function's name (a str) first");
        Py_ssize_t length = 0;
        const char* name = PyUnicode_AsUTF8AndSize(args[0], &length);
        if (!name) return nullptr;
        // The functions last called by name, by the str object that named
        // them (held, so that its address names no other text while here):
        // a script calling in a loop names its function with the same str.
        // Under the GIL, like every call of this function.
        struct Named {
            PyObject* name = nullptr;
            const FuncConstruct* f = nullptr;
        };
        static Named recent[64];
        Named& slot = recent[(reinterpret_cast<uintptr_t>(args[0]) >> 4) & 63];
        const FuncConstruct* f = slot.name == args[0] ? slot.f : nullptr;
        if (!f) {
            host();
            if ((f = cv::FunctionTable::global().find({name, size_t(length)}))) {
                Py_XSETREF(slot.name, Py_NewRef(args[0]));
                slot.f = f;
            }
        }
        return callScript({name, size_t(length)}, f, {args + 1, size_t(n - 1)}).release().ptr();
    } catch (...) {
        return raiseCaught();
    }
}

std::string functionDoc(const FuncConstruct& f) {
    // The signature line: argument kinds, optional ones in brackets.
    std::string doc = std::string(f.name()) + "(";
    const int shown = std::min(f.maxArgs(), 8);
    for (int i = 0; i < shown; ++i) {
        if (i) doc += ", ";
        if (i == f.minArgs()) doc += "[";
        doc += argKindWord(f.kindOf(i));
    }
    if (f.maxArgs() > shown) doc += ", ...";
    if (f.minArgs() < shown) doc += "]";
    doc += ") -> " + std::string(cv::resultKindWord(f.pythonReturn())) + "\n\nScript function, ";
    if (f.minArgs() == f.maxArgs())
        doc += std::to_string(f.minArgs()) + (f.minArgs() == 1 ? " argument." : " arguments.");
    else
        doc += std::to_string(f.minArgs()) + " to " + std::to_string(f.maxArgs()) + " arguments.";
    if (*f.text()) doc += "\n\n" + std::string(f.text());
    doc += "\n\nArguments: Vector, numpy array, number, str, or a list of numbers or of str; a str such as "
           "'5u' where a number is taken reads as that number.\n"
           "Raises cvfunc.Error with the host's message when the call fails.";
    return doc;
}

// The registered spelling, the docstring and the named arguments of a script
// function, or None when no function has that name. The package wraps them in
// a Python function that calls by name, so a wrapper never outlives a
// registration. With a reference entry the docstring is that entry and the
// arguments are (name, default kind, default in script syntax) rows, the
// kinds being "required", "literal", "rule" and "rest"; without one the
// arguments are None.
py::object function(const std::string& name) {
    host();
    using Row = std::tuple<std::string, std::string, std::string>;
    struct Found {
        std::string name, doc;
        std::optional<std::vector<Row>> args;
        int maxArgs = 0;
    };
    std::vector<Message> messages;
    auto found = locked(messages, [&](cv::Session&) {
        std::optional<Found> r;
        const FuncConstruct* f = cv::FunctionTable::global().find(name);
        if (!f) return r;
        r.emplace(Found{f->name(), functionDoc(*f), std::nullopt, f->maxArgs()});
        if (const auto* e = cv::reference::Reference::global().find(f->name())) {
            using D = cv::reference::Argument::Default;
            r->doc = cv::reference::formatText(*e);
            r->args.emplace();
            for (const auto& a : e->args) {
                const char* kind = a.kind == D::Literal ? "literal" : a.kind == D::Rule ? "rule"
                                 : a.kind == D::Rest    ? "rest"
                                                        : "required";
                r->args->emplace_back(a.name, kind, a.literal);
            }
        }
        return r;
    });
    if (!found) return py::none();
    py::object args = py::none();
    if (found->args) {
        py::list rows;
        for (const auto& [n, kind, literal] : *found->args) rows.append(py::make_tuple(text(n), text(kind), text(literal)));
        args = rows;
    }
    return py::make_tuple(text(found->name), text(found->doc), args, found->maxArgs);
}

// Counts of the host events as they fire, so that the package's tests can see
// the session fire them.
std::atomic<long> gPostCliCount{0}, gExitCliCount{0}, gExitCount{0};
// Fired after every call, by one session at a time: a load and a store, not
// the locked increment that would cost every small call.
void countPostCli(void*) {
    gPostCliCount.store(gPostCliCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}
void countExitCli(void*) { ++gExitCliCount; }
void countExit(void*) { ++gExitCount; }
const AutoFunc gCountPostCli("PostCli", countPostCli, "cvfunc.countPostCli");
const AutoFunc gCountExitCli("ExitCli", countExitCli, "cvfunc.countExitCli");
const AutoFunc gCountExit("Exit", countExit, "cvfunc.countExit");

py::dict eventCounts() {
    py::dict d;
    d["PostCli"] = gPostCliCount.load();
    d["ExitCli"] = gExitCliCount.load();
    d["Exit"] = gExitCount.load();
    return d;
}

py::list functions() {
    host();
    std::vector<Message> messages;
    auto rows = locked(messages, [](cv::Session&) {
        std::vector<std::tuple<std::string, int, int, std::string>> r;
        for (const FuncConstruct* f : cv::FunctionTable::global().all())
            r.emplace_back(f->name(), f->minArgs(), f->maxArgs(), cv::resultKindWord(f->pythonReturn()));
        return r;
    });
    py::list out;
    for (auto& [n, lo, hi, kind] : rows) out.append(py::make_tuple(n, lo, hi, kind));
    return out;
}

// The value of the last statement that is not an assignment: a Python scalar
// for one plain element, else as `natural`.
py::object evaluate(const std::string& source) {
    host();
    std::vector<Message> messages;
    cv::ValuePtr last;
    std::string error;
    bool ok = interruptible(messages, [&](cv::Session& s) {
        bool done = s.run(source, [&](const cv::ValuePtr& v) { last = v; }, error);
        s.postCli();
        return done;
    });
    report(messages);
    raiseIfInterrupted(!ok);
    if (!ok) raiseError(error);
    return natural(last);
}

void bind(const std::string& name, py::handle value) {
    if (name.empty()) throw py::value_error("a vector needs a name to be bound");
    if (value.is_none()) throw py::type_error("None cannot be bound: bind a value");
    cv::ValuePtr v;
    try {
        v = argumentValue(value);
    } catch (const ConvertError& e) {
        std::string m = "value: " + std::string(e.what());
        if (e.isTypeError) throw py::type_error(m);
        throw py::value_error(m);
    }
    cv::MutableValuePtr named = v->shallowCopy();
    named->setName(name);
    std::vector<Message> messages;
    locked(messages, [&](cv::Session& s) { s.bind(name, std::move(named)); });
}

py::object lookup(const std::string& name) {
    std::vector<Message> messages;
    std::string error;
    cv::ValuePtr v = locked(messages, [&](cv::Session& s) { return s.lookup(name, error); });
    if (!v && !error.empty()) raiseError(error);
    return v ? wrap(std::move(v)) : py::object(py::none());
}

// A vector of a loaded file not read yet: the package's Data reads it when
// it is first asked for.
struct Pending {
    std::shared_ptr<cv::PendingVector> vector;
};

py::object readPending(const Pending& p) {
    std::vector<Message> messages;
    std::string error;
    cv::ValuePtr v = locked(messages, [&](cv::Session&) { return p.vector->get(error); });
    report(messages);
    if (!v) raiseError(error);
    return wrap(std::move(v));
}

// Reads the vectors of pending entries together: each file in one pass.
void readPendings(const py::list& entries) {
    std::vector<std::shared_ptr<cv::PendingVector>> vectors;
    for (py::handle e : entries) vectors.push_back(e.cast<const Pending&>().vector);
    std::vector<Message> messages;
    locked(messages, [&](cv::Session&) { cv::PendingVector::readTogether(vectors); });
    report(messages);
}

py::object load(py::object path, bool withMetadata) {
    std::string file = py::str(py::module_::import("os").attr("fsdecode")(path));
    host();
    cv::load::DataSet data;
    std::string error;
    {
        py::gil_scoped_release nogil;
        try {
            data = cv::load::openFile(file);
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    if (!error.empty()) raiseError(error);
    std::vector<Message> messages;
    for (const auto& w : data.warnings) messages.emplace_back(MessageHandler::Warning, w);
    struct Bound {
        std::string name;
        cv::ValuePtr value;
        std::shared_ptr<cv::PendingVector> pending;
    };
    std::vector<Message> ignored;
    auto bound = locked(ignored, [&](cv::Session& s) {
        s.bindDataSet(data);
        std::vector<Bound> r;
        auto add = [&](const std::string& name) { r.push_back({name, s.lookupIfRead(name), s.pending(name)}); };
        add(data.reference.name);
        for (const auto& sig : data.signals) add(cv::load::scriptName(sig.name));
        return r;
    });
    report(messages);
    py::dict out;
    for (auto& b : bound)
        if (b.value) out[text(b.name)] = wrap(b.value);
        else if (b.pending) out[text(b.name)] = py::cast(Pending{b.pending});
    if (!withMetadata) return out;
    py::list metadata;
    for (const auto& [key, value] : data.metadata) metadata.append(py::make_tuple(text(key), text(value)));
    return py::make_tuple(out, metadata);
}

std::string optionText(py::handle value) {
    PyObject* o = value.ptr();
    if (PyUnicode_Check(o)) return value.cast<std::string>();
    if (PyBool_Check(o)) return o == Py_True ? "1" : "0";
    if (PyLong_Check(o)) return py::str(value);
    if (PyFloat_Check(o)) return cv::formatReal(PyFloat_AS_DOUBLE(o));
    throw py::type_error("an option value must be a str, int, float or bool (None resets it), not " +
                         std::string(Py_TYPE(o)->tp_name));
}

void setOption(const std::string& name, py::handle value) {
    if (name.empty()) throw py::value_error("an option needs a name");
    std::optional<std::string> v;
    if (!value.is_none()) v = optionText(value);
    std::vector<Message> messages;
    locked(messages, [&](cv::Session&) {
        if (v) cv::OptionStore::global().set(name, *v);
        else cv::OptionStore::global().reset(name);
    });
    if (const std::string unread = cv::unreadOptionWarning(name); v && !unread.empty())
        messages.emplace_back(MessageHandler::Warning, unread);
    report(messages);
}

py::object getOption(const std::string& name) {
    std::vector<Message> messages;
    auto v = locked(messages, [&](cv::Session&) { return cv::OptionStore::global().get(name); });
    return v ? py::object(text(*v)) : py::object(py::none());
}

void start(py::object errorClass, py::object reporter) {
    gErrorClass = errorClass.release().ptr();
    gReport = reporter.release().ptr();
    host();
    // Python's main thread: its ident is the thread's pthread_t.
    const auto main = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    if (main == PyThread_get_thread_ident()) {
        gMainThread = pthread_self();
        std::vector<Message> ignored;
        locked(ignored, [](cv::Session&) { startRelay(); });
        pthread_atfork(nullptr, nullptr, forkedChild);
    }
}

void exitCli() {
    if (!gHost) return;
    std::vector<Message> messages;
    locked(messages, [](cv::Session& s) {
        Host& h = *gHost;
        if (h.exited) return;
        h.exited = true;
        s.exitCli();
    });
    report(messages);
}

// The docstrings of the longer entries.
const char* const kCallDoc = R"doc(call(name, *args) -> result

Calls the script function `name` (case-insensitive) with the arguments given.
Arguments: Vector, numpy array, int, float, complex, bool, str, or a list or
tuple of numbers or of str. A str where the function takes a number is read
as the script language writes numbers ('5u', '2.2k', '3meg', '10uF'). Ctrl-C
stops a long call with KeyboardInterrupt. The result follows the function's
declared kind:
bool, int, float, str, list of str, numpy array, Vector (values with a
reference or divisions) or None.

Raises cvfunc.Error with the host's message when the call fails, TypeError or
ValueError when an argument cannot become a vector.

>>> cvfunc.call("_TestRemoveItems", [10, 20, 30, 40], [2, 0])
array([20., 40.]))doc";

const char* const kEvalDoc = R"doc(eval(text) -> result

Runs statements of the script language (separated by ';' or new lines) and
returns the value of the last statement that is not an assignment: a Python
scalar for a single plain value, a Vector for one with a reference or
divisions, else a numpy array (list of str for strings); None when every
statement is an assignment. Assignments bind names for later statements,
eval calls and lookup().

>>> cvfunc.eval("x = [1, 2, 3]; _TestRemoveItems(x, 0)")
array([2., 3.]))doc";

const char* const kLoadDoc = R"doc(load(path, metadata=False) -> dict

Opens a CSV, SPICE raw or Touchstone file and binds its vectors for eval():
v(x) as x, i(x) as x#branch, and every original name through Vec('name');
a Touchstone file gives S11 ... Snn against frequency in Hz. Returns
{name: Vector} with the reference (scale) first. Stepped or Monte Carlo runs
come back as divisions. Raises cvfunc.Error when the file cannot be read.
A raw or CSV file's values are read when a vector is first used (from the
dict or by eval()) and then kept, so opening a large file costs only its
header; a vector whose values are damaged, or whose file changed on disk
since it was loaded, raises cvfunc.Error when it is used.
With metadata=True: (dict, [(key, text), ...]), what the loader keeps about
the file beside its vectors (a Touchstone file's version, ports, parameter,
format, frequency_unit and z0); an empty list for other files.)doc";

}  // namespace

}  // namespace cvpy

PYBIND11_MODULE(_cvfunc, m) {
    using namespace cvpy;
    m.doc() = "The compiled part of the cvfunc package; use the package cvfunc.";
    m.attr("__version__") = CVFUNC_VERSION;
    registerVector(m);
    // pybind11 reports a Python object it could not make (a list of a
    // result's texts) as a RuntimeError, over the MemoryError Python has
    // already raised: that one is the truth, and it is kept.
    py::register_local_exception_translator([](std::exception_ptr p) {
        try {
            std::rethrow_exception(p);
        } catch (const std::runtime_error&) {
            if (PyErr_Occurred() && PyErr_ExceptionMatches(PyExc_MemoryError)) return;
            throw;
        }
    });

    static PyMethodDef callDef{"call", reinterpret_cast<PyCFunction>(reinterpret_cast<void*>(&callByName)),
                               METH_FASTCALL, kCallDoc};
    m.add_object("call", py::reinterpret_steal<py::object>(PyCFunction_NewEx(&callDef, nullptr, m.attr("__name__").ptr())));
    registerFunctionType(m);
    m.def("function", &function, "name"_a,
          "(registered name, docstring) of script function `name`, or None when no function has that name.");
    m.def("functions", &functions,
          "The registered script functions as (name, min_args, max_args, result_kind) tuples, sorted by name.");
    m.def("eval", &evaluate, "text"_a,
          kEvalDoc);
    m.def("bind", &bind, "name"_a, "value"_a,
          "Binds `value` (anything a script function accepts) to `name`, for eval() to use. Returns None.");
    m.def("lookup", &lookup, "name"_a,
          "The Vector bound to `name` (case-insensitive), or None when nothing is bound to it.");
    m.def("load", &load, "path"_a, "metadata"_a = false,
          kLoadDoc);
    py::class_<Pending>(m, "_Pending", "A vector of a loaded file, read when first asked for (cvfunc.Data does).")
        .def("read", &readPending, "The Vector, read from the file now if it was not; cvfunc.Error when it cannot be.")
        .def_static("read_together", &readPendings, "entries"_a,
                    "Reads the vectors of these entries not read yet, each file in one pass; errors are left for "
                    "each entry's read().")
        .def("__repr__", [](const Pending& p) {
            return "<vector '" + p.vector->name() + "' of a loaded file, read when first used>";
        });
    m.def("set_option", &setOption, "name"_a, "value"_a,
          "Sets a host option (str, int, float or bool); None resets it to its default.");
    m.def("get_option", &getOption, "name"_a,
          "The value of a host option as str (its default when not set), or None when no such option exists.");
    m.def("_start", &start, "error_class"_a, "report"_a);
    m.def(
        "_map_result",
        [](py::handle value, int declared) {
            cv::ValuePtr v;
            try {
                v = argumentValue(value);
            } catch (const ConvertError& e) {
                throw py::type_error(e.what());
            }
            return result(v, PythonReturnType(declared));
        },
        "value"_a, "declared"_a, "What a function declaring result kind `declared` returns for `value`.");
    m.def("_event_counts", &eventCounts, "How often each host event has fired in this process.");
    m.def("_exit", &exitCli, "Fires the host's ExitCli and Exit events (once).");
}
