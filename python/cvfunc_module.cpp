// The _cvfunc extension: one host session per process, script-function calls
// with numpy in and out, the expression language, data files and options.
//
// Threads: the session is not re-entrant, so every use of it holds one mutex;
// the GIL is released meanwhile, so that a long function does not stop other
// Python threads. Nothing inside that section touches a Python object: the
// messages a handler sends are collected and reported after it.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

#include "Loaders/Loaders.h"
#include "OptionStore.h"
#include "Reference.h"
#include "Session.h"
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
template <class F>
auto locked(std::vector<Message>& messages, F&& f) {
    Host& h = host();
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(h.mutex);
    struct Drain {
        Host& h;
        std::vector<Message>& out;
        ~Drain() {
            out = std::move(h.pending);
            h.pending.clear();
        }
    } drain{h, messages};
    return f(h.session);
}

void report(const std::vector<Message>& messages) {
    for (const auto& [severity, message] : messages) {
        if (gReport) py::reinterpret_borrow<py::object>(gReport)(int(severity), text(message));
        else PySys_WriteStderr("%s\n", message.c_str());
    }
}

// Arguments in the order given; a failure names the argument.
// A number or a text, as Python sees one.
bool isScalar(py::handle a) {
    PyObject* o = a.ptr();
    if (PyFloat_Check(o) || PyLong_Check(o) || PyUnicode_Check(o) || PyComplex_Check(o)) return true;
    if (py::isinstance<Vector>(a)) return a.cast<const Vector&>().scalar;
    if (PyList_Check(o) || PyTuple_Check(o)) return false;
    static PyObject* generic = py::object(py::module_::import("numpy").attr("generic")).release().ptr();
    return PyObject_IsInstance(o, generic) == 1;
}

// Large numpy arrays are lent to the call rather than copied (`borrowed`);
// `scalars` tells whether every argument was a single number or text.
std::vector<cv::ValuePtr> argumentValues(const std::string& function, const py::args& args,
                                         std::vector<Borrowed>& borrowed, bool& scalars) {
    std::vector<cv::ValuePtr> values;
    values.reserve(args.size());
    size_t i = 0;
    scalars = args.size() > 0;
    for (py::handle a : args) {
        ++i;
        scalars = scalars && isScalar(a);
        try {
            values.push_back(argumentValue(a, &borrowed));
        } catch (const ConvertError& e) {
            std::string m = "Argument " + std::to_string(i) + " in function '" + function + "': " + e.what();
            if (e.isTypeError) throw py::type_error(m);
            throw py::value_error(m);
        }
    }
    return values;
}

py::object callFunction(const std::string& name, const py::args& args) {
    host();
    std::vector<Borrowed> borrowed;
    bool scalars = false;
    std::vector<cv::ValuePtr> values = argumentValues(name, args, borrowed, scalars);
    std::vector<Message> messages;
    cv::ValuePtr out;
    std::string error;
    std::optional<PythonReturnType> declared;
    bool ok = locked(messages, [&](cv::Session& s) {
        const FuncConstruct* f = cv::FunctionTable::global().find(name);
        if (!f) {
            error = "Unknown function '" + name + "'";
            return false;
        }
        declared = f->pythonReturn();
        bool done = s.caller().call(*f, values, out, error);
        s.postCli();
        return done;
    });
    values.clear();
    if (!borrowed.empty()) {
        // The result outlives the call, the lent arrays' contents may not:
        // what of them it passed through is copied now.
        out = detached(out, borrowed);
        for (Borrowed& b : borrowed)
            if (!b.owner.expired())  // kept somewhere out of reach: the array must stay as it is
                py::detail::array_proxy(b.array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    }
    report(messages);
    // A call that Ctrl-C ended (Sleep) has handed the signal on to Python:
    // the user asked to stop, so that is what Python raises.
    if (!ok && PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (!ok) raiseError(error);
    // Numbers in, one number out: a number, as numpy gives for scalars.
    return result(out, scalars && out && out->isNumeric() ? PyNone : *declared);
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
    doc += "\n\nArguments: Vector, numpy array, number, str, or a list of numbers or of str.\n"
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
void countPostCli(void*) { ++gPostCliCount; }
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
    bool ok = locked(messages, [&](cv::Session& s) {
        bool done = s.run(source, [&](const cv::ValuePtr& v) { last = v; }, error);
        s.postCli();
        return done;
    });
    report(messages);
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
    cv::ValuePtr v = locked(messages, [&](cv::Session& s) { return s.lookup(name); });
    return v ? wrap(std::move(v)) : py::object(py::none());
}

py::dict load(py::object path) {
    std::string file = py::str(py::module_::import("os").attr("fsdecode")(path));
    host();
    cv::load::DataSet data;
    std::string error;
    {
        py::gil_scoped_release nogil;
        try {
            data = cv::load::loadFile(file);
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    if (!error.empty()) raiseError(error);
    std::vector<Message> messages;
    for (const auto& w : data.warnings) messages.emplace_back(MessageHandler::Warning, w);
    std::vector<Message> ignored;
    auto bound = locked(ignored, [&](cv::Session& s) {
        s.bindDataSet(data);
        std::vector<std::pair<std::string, cv::ValuePtr>> r;
        r.emplace_back(data.reference.name, s.lookup(data.reference.name));
        for (const auto& sig : data.signals) {
            std::string script = cv::load::scriptName(sig.name);
            r.emplace_back(script, s.lookup(script));
        }
        return r;
    });
    report(messages);
    py::dict out;
    for (auto& [n, v] : bound)
        if (v) out[text(n)] = wrap(v);
    return out;
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

    m.def("call", &callFunction, "name"_a,
          R"doc(call(name, *args) -> result

Calls the script function `name` (case-insensitive) with the arguments given.
Arguments: Vector, numpy array, int, float, complex, bool, str, or a list or
tuple of numbers or of str. The result follows the function's declared kind:
bool, int, float, str, list of str, numpy array, Vector (values with a
reference or divisions) or None.

Raises cvfunc.Error with the host's message when the call fails, TypeError or
ValueError when an argument cannot become a vector.

>>> cvfunc.call("_TestRemoveItems", [10, 20, 30, 40], [2, 0])
array([20., 40.]))doc");
    m.def("function", &function, "name"_a,
          "(registered name, docstring) of script function `name`, or None when no function has that name.");
    m.def("functions", &functions,
          "The registered script functions as (name, min_args, max_args, result_kind) tuples, sorted by name.");
    m.def("eval", &evaluate, "text"_a,
          R"doc(eval(text) -> result

Runs statements of the script language (separated by ';' or new lines) and
returns the value of the last statement that is not an assignment: a Python
scalar for a single plain value, a Vector for one with a reference or
divisions, else a numpy array (list of str for strings); None when every
statement is an assignment. Assignments bind names for later statements,
eval calls and lookup().

>>> cvfunc.eval("x = [1, 2, 3]; _TestRemoveItems(x, 0)")
array([2., 3.]))doc");
    m.def("bind", &bind, "name"_a, "value"_a,
          "Binds `value` (anything a script function accepts) to `name`, for eval() to use. Returns None.");
    m.def("lookup", &lookup, "name"_a,
          "The Vector bound to `name` (case-insensitive), or None when nothing is bound to it.");
    m.def("load", &load, "path"_a,
          R"doc(load(path) -> dict

Reads a CSV or SPICE raw file and binds its vectors for eval(): v(x) as x,
i(x) as x#branch, and every original name through Vec('name'). Returns
{name: Vector} with the reference (scale) first. Stepped or Monte Carlo runs
come back as divisions. Raises cvfunc.Error when the file cannot be read.)doc");
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
