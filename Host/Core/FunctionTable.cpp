#include "FunctionTable.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <new>

#include "Clocks.h"
#include "Divisions.h"
#include "FuncArgs.h"
#include "OptionStore.h"
#include "Parallel.h"

namespace cv {

namespace {

std::string format(const char* fmt, std::initializer_list<PrintfArg> args) { return cv::formatPrintf(fmt, args); }

// Calls made from inside a handler (through the run-time) are part of the
// call that is already running and keep its memory limit.
thread_local int gCallDepth = 0;

struct CallDepth {
    CallDepth() {
        if (gCallDepth++ == 0) applyCallLimits();
    }
    ~CallDepth() { --gCallDepth; }
};

}  // namespace

// The limits of a top-level call. Memory: the MemoryLimitMB option, else the
// memory available as it starts; /proc/meminfo is read at most every 50 ms,
// so that a script making many small calls does not pay for it each time.
// Threads: the Threads option (0: the default of cv::threadCount).
void applyCallLimits() {
    using Clock = std::chrono::steady_clock;
    static Clock::time_point lastRead;
    static size_t available = 0;
    // The options are read again only after one changed: a small call costs
    // less than looking two of them up.
    static uint64_t readAt = ~uint64_t(0);
    static unsigned threads = 0;
    static double mb = 0.0;
    if (const uint64_t generation = OptionStore::global().generation(); generation != readAt) {
        const std::optional<std::string> t = OptionStore::global().get("Threads");
        threads = t ? unsigned(std::clamp(std::strtol(t->c_str(), nullptr, 10), 0L, 256L)) : 0u;
        const std::optional<std::string> option = OptionStore::global().get("MemoryLimitMB");
        mb = option ? std::strtod(option->c_str(), nullptr) : 0.0;
        readAt = generation;
    }
    setThreadCount(threads);
    if (mb >= 1) {
        setMemoryLimitBytes(mb >= 1e12 ? physicalMemoryBytes() : size_t(mb) << 20);
        return;
    }
    // The coarse clock is enough for a 50 ms refresh, and costs a few
    // nanoseconds where the precise one costs tens, on every call.
    timespec coarse{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &coarse);
    const Clock::time_point now{std::chrono::seconds(coarse.tv_sec) + std::chrono::nanoseconds(coarse.tv_nsec)};
    if (!available || now - lastRead > std::chrono::milliseconds(50)) {
        available = availableMemoryBytes();
        lastRead = now;
    }
    setMemoryLimitBytes(available);
}

// ---------------------------------------------------------------- table

namespace {
std::atomic<size_t> gFailedRegistrations{0};
}

void noteFailedRegistration() noexcept { gFailedRegistrations.fetch_add(1); }
size_t failedRegistrations() noexcept { return gFailedRegistrations.load(); }

FunctionTable& FunctionTable::global() {
    static FunctionTable* table = new FunctionTable;  // outlives every module's static objects
    return *table;
}

void FunctionTable::add(const FuncConstruct* f) {
    const std::string key = lowerAscii(f->name());
    auto& same = map_[key];
    same.push_back(f);
    try {
        if (loading_) modules_[f] = loading_;
    } catch (...) {
        same.pop_back();
        if (same.empty()) map_.erase(key);
        throw;
    }
}

std::string_view lowerInto(std::string_view name, char (&room)[128]) noexcept {
    if (name.size() > sizeof room) return {};
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        room[i] = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    return {room, name.size()};
}

void FunctionTable::remove(const FuncConstruct* f) noexcept {
    modules_.erase(f);
    char room[128];
    const std::string_view key = lowerInto(f->name(), room);
    auto it = key.empty() ? map_.end() : map_.find(key);
    if (it == map_.end()) {
        // A name too long for the room: the whole table is searched.
        it = std::find_if(map_.begin(), map_.end(), [f](const auto& entry) {
            return std::find(entry.second.begin(), entry.second.end(), f) != entry.second.end();
        });
        if (it == map_.end()) return;
    }
    auto& v = it->second;
    v.erase(std::remove(v.begin(), v.end(), f), v.end());
    if (v.empty()) map_.erase(it);
}

const char* FunctionTable::moduleOf(const FuncConstruct* f) const noexcept {
    auto it = modules_.find(f);
    return it == modules_.end() ? "" : it->second;
}

const FuncConstruct* FunctionTable::find(std::string_view name) const {
    char room[128];
    const std::string_view key = lowerInto(name, room);
    auto it = key.empty() && !name.empty() ? map_.find(lowerAscii(name)) : map_.find(key);
    return it == map_.end() ? nullptr : it->second.back();
}

std::vector<const FuncConstruct*> FunctionTable::all() const {
    std::vector<std::pair<std::string, const FuncConstruct*>> items;
    items.reserve(map_.size());
    for (auto& [k, v] : map_) items.emplace_back(k, v.back());
    std::sort(items.begin(), items.end(), [](auto& a, auto& b) { return a.first < b.first; });
    std::vector<const FuncConstruct*> out;
    out.reserve(items.size());
    for (auto& it : items) out.push_back(it.second);
    return out;
}

}  // namespace cv

// ---------------------------------------------------------------- registration

FuncConstruct::FuncConstruct(const char* name, ArgTypeList<argType> kinds, ArgTypeList<MultiDef> multi, int minArgs,
                             int maxArgs, FuncHandler handler, const char* text, PythonReturnType pythonReturn,
                             const FunctionOption& options)
    : name_(name), kinds_(std::move(kinds)), multi_(std::move(multi)), min_(minArgs), max_(maxArgs),
      handler_(handler), text_(text ? text : ""), pythonReturn_(pythonReturn), options_(options) {
    // A static object of the module: an exception here would end the process
    // inside dlopen. The loader asks afterwards whether every row made it.
    try {
        cv::FunctionTable::global().add(this);
    } catch (const std::bad_alloc&) {
        cv::noteFailedRegistration();
    }
}

FuncConstruct::~FuncConstruct() { cv::FunctionTable::global().remove(this); }

namespace cv {

// ---------------------------------------------------------------- messages

// Collects what one handler call sends: the first error becomes the call's
// error; warnings and information go to the caller's sink as they come.
class CallMessages : public MessageHandler {
public:
    void report(Severity s, const std::string& text) override {
        if (s == Error) {
            if (errors++ == 0) firstError = text;
            else if (sink && *sink) (*sink)(Warning, text);
        } else if (sink && *sink) {
            (*sink)(s, text);
        }
    }
    void reset(const MessageSink* s) {
        errors = 0;
        firstError.clear();
        sink = s;
    }
    int errors = 0;
    std::string firstError;
    const MessageSink* sink = nullptr;
    bool busy = false;
};

Caller::Caller(MessageSink sink) : sink_(std::move(sink)) {}
Caller::~Caller() = default;

// A collector per active call, reused when neither a caller nor a handler
// still holds it (handlers may keep a copy of their message handler).
CallMessages* Caller::messages() {
    for (auto& m : pool_)
        if (!m->busy && m->refCount() == 1) return m.get();
    pool_.push_back(makeYRef<CallMessages>());
    return pool_.back().get();
}

// ---------------------------------------------------------------- calling

namespace {

// Whether argument i can be passed to the handler as it is (Ok), must be
// converted first (Convert: a number where text is wanted, an integer or a
// yes/no where a number is), or cannot be passed at all (Bad, with the error).
enum class ArgCheck { Ok, Convert, Bad };

ArgCheck checkArg(const FuncConstruct& f, int i, const ValuePtr& in, std::string& error) {
    const char* fn = f.name();
    Kind k = in ? in->kind() : Kind::None;
    if (k == Kind::None) {
        error = format("Argument %d in function '%s' has no value", {i + 1, fn});
        return ArgCheck::Bad;
    }
    bool integral = k == Kind::Integer || k == Kind::Integer64 || k == Kind::Bool;
    switch (f.kindOf(i)) {
        case ArgNumeric:
            if (k == Kind::String) {
                error = format("Argument %d in function '%s' must be numeric, not a string", {i + 1, fn});
                return ArgCheck::Bad;
            }
            break;
        case ArgReal:
            if (k == Kind::String || k == Kind::Complex) {
                error = format("Argument %d in function '%s' must be real, not %s",
                               {i + 1, fn, k == Kind::String ? "a string" : "complex"});
                return ArgCheck::Bad;
            }
            break;
        case ArgString:
            if (k == Kind::Complex) {
                error = format("Argument %d in function '%s' must be a string, not complex", {i + 1, fn});
                return ArgCheck::Bad;
            }
            if (k != Kind::String) return ArgCheck::Convert;
            break;
        case ArgAnyVector:
            return ArgCheck::Ok;
        case ArgAny:
            break;
    }
    return integral ? ArgCheck::Convert : ArgCheck::Ok;
}

ValuePtr convertedArg(const FuncConstruct& f, int i, const ValuePtr& in) {
    return in->convertedTo(f.kindOf(i) == ArgString ? Kind::String : Kind::Real);
}

std::string countMessage(const FuncConstruct& f, size_t given) {
    if (f.minArgs() == f.maxArgs())
        return format("Function '%s' takes %d argument%s, %d given",
                      {f.name(), f.minArgs(), f.minArgs() == 1 ? "" : "s", int(given)});
    return format("Function '%s' takes %d to %d arguments, %d given",
                  {f.name(), f.minArgs(), f.maxArgs(), int(given)});
}

// Threads pay for their start (tens of microseconds) only where the runs
// hold enough data between them.
bool worthThreads(std::span<const ValuePtr> args, const std::vector<bool>& split) {
    int64_t elements = 0;
    for (size_t i = 0; i < args.size(); ++i)
        if (split[i]) elements += args[i]->size();
    return elements >= (int64_t(1) << 16);
}

}  // namespace

bool Caller::call(std::string_view name, std::span<const ValuePtr> args, ValuePtr& out, std::string& error) {
    const FuncConstruct* f = FunctionTable::global().find(name);
    if (!f) {
        error = "Unknown function '" + std::string(name) + "'";
        return false;
    }
    return call(*f, args, out, error);
}

namespace {

// Ctrl-C (within an interrupt scope: the tool's, the REPL's, the Python
// package's) stops a call: before it starts, between its runs, so that a
// statement over hundreds of runs ends at once even where the handler never
// polls, and after it, since a handler that polled may still have returned
// what it had so far, which is no answer. The message names the call.
bool interruptedIn(const FuncConstruct& f, std::string& error) {
    if (!cv::interruptRequested()) return false;
    error = format("Interrupted in function '%s'", {f.name()});
    return true;
}

}  // namespace

bool Caller::call(const FuncConstruct& f, std::span<const ValuePtr> args, ValuePtr& out, std::string& error) {
    CallDepth depth;
    // Converting the arguments and joining divided results allocate too, outside the handler.
    try {
        if (interruptedIn(f, error)) return false;
        const bool done = callConverted(f, args, out, error);
        if (!interruptedIn(f, error)) return done;
        out.reset();
        return false;
    } catch (const std::bad_alloc&) {
        error = format("Not enough memory to complete function '%s'", {f.name()});
        return false;
    }
}

bool Caller::callConverted(const FuncConstruct& f, std::span<const ValuePtr> args, ValuePtr& out,
                           std::string& error) {
    if (int64_t(args.size()) < f.minArgs() || int64_t(args.size()) > f.maxArgs()) {
        error = countMessage(f, args.size());
        return false;
    }
    // Most calls pass their arguments as they are: only a call with one to
    // convert gets a converted copy of the list.
    std::vector<ValuePtr> converted;
    int64_t divisions = 1;
    bool statistic = false;
    std::vector<bool> split;
    for (size_t i = 0; i < args.size(); ++i) {
        switch (checkArg(f, int(i), args[i], error)) {
            case ArgCheck::Bad:
                return false;
            case ArgCheck::Convert:
                if (converted.empty()) converted.assign(args.begin(), args.end());
                converted[i] = convertedArg(f, int(i), args[i]);
                break;
            case ArgCheck::Ok:
                break;
        }
        MultiDef rule = f.multiOf(int(i));
        int64_t d = args[i]->numDivisions();
        if ((rule == MultiPerDivision || rule == MultiStatistic) && d > 1) {
            if (divisions > 1 && d != divisions) {
                error = format("Arguments of function '%s' have different numbers of divisions (%d and %d)",
                               {f.name(), (long long)divisions, (long long)d});
                return false;
            }
            divisions = d;
            split.resize(args.size());
            split[i] = true;
            statistic = statistic || rule == MultiStatistic;
        }
    }
    const std::span<const ValuePtr> passed = converted.empty() ? args : std::span<const ValuePtr>(converted);
    if (divisions > 1) return callDivided(f, passed, divisions, split, statistic, out, error);
    return invoke(f, passed, out, error);
}


bool Caller::callDivided(const FuncConstruct& f, std::span<const ValuePtr> args, int64_t divisions,
                         const std::vector<bool>& split, bool statistic, ValuePtr& out, std::string& error) {
    std::vector<ValuePtr> parts;
    parts.reserve(size_t(divisions));
    std::vector<ValuePtr> one(args.begin(), args.end());
    std::vector<std::string> labels;
    for (size_t i = 0; i < args.size(); ++i)
        if (split[i] && int64_t(args[i]->divisionLabels().size()) == divisions) {
            labels = args[i]->divisionLabels();
            break;
        }
    // Each division's messages name its run ("run 3: ...", or the run's
    // label from the file), so that a reader can tell which one they concern.
    struct RestoreSink {
        MessageSink& sink;
        MessageSink saved;
        ~RestoreSink() { sink = std::move(saved); }
    } restore{sink_, sink_};
    int64_t d = 0;
    if (restore.saved)  // one wrapper for all divisions; the prefix is only made for a message
        sink_ = [&outer = restore.saved, &labels, &d](MessageHandler::Severity s, const std::string& t) {
            outer(s, "run " + (labels.empty() ? std::to_string(d + 1) : labels[size_t(d)]) + ": " + t);
        };
    // The error of a failing run names it as well, as its messages do.
    auto failedRun = [&] {
        if (!error.starts_with("Interrupted"))
            error = "run " + (labels.empty() ? std::to_string(d + 1) : labels[size_t(d)]) + ": " + error;
        return false;
    };
    if (f.pure() && threadCount() > 1 && worthThreads(args, split)) {
        if (!invokeDivisionsInParallel(f, args, divisions, split, parts, d, error)) return failedRun();
    } else {
        for (; d < divisions; ++d) {
            for (size_t i = 0; i < args.size(); ++i)
                if (split[i]) one[i] = args[i]->division(d);
            ValuePtr part;
            if (interruptedIn(f, error)) return false;
            if (!invoke(f, one, part, error)) return failedRun();
            parts.push_back(std::move(part));
        }
    }
    // A statistic collects one value per division; a division that measured
    // nothing (no result) takes NaN in its place.
    bool scalars = std::all_of(parts.begin(), parts.end(), [](const ValuePtr& p) {
        return (p->size() == 1 && p->isNumeric()) || p->kind() == Kind::None;
    }) && std::any_of(parts.begin(), parts.end(), [](const ValuePtr& p) { return p->kind() != Kind::None; });
    if (statistic && scalars) {
        out = collectStatistic(parts, labels);
        return true;
    }
    if (!joinDivisions(parts, labels, out, error)) {
        error = format("Function '%s': %s", {f.name(), error});
        return false;
    }
    return true;
}

// The divisions of a pure handler's call, run on the workers one division
// per chunk. Each division has messages and a sink of its own that only
// record; once all have run, their messages are passed on in run order, as
// far as the first division that failed (whose error is the call's), so
// that the caller sees exactly what the one-thread loop would show.
bool Caller::invokeDivisionsInParallel(const FuncConstruct& f, std::span<const ValuePtr> args, int64_t divisions,
                                       const std::vector<bool>& split, std::vector<ValuePtr>& parts, int64_t& d,
                                       std::string& error) {
    struct Outcome {
        ValuePtr part;
        std::string error;
        bool ok = false;
        std::vector<std::pair<MessageHandler::Severity, std::string>> messages;
    };
    std::vector<Outcome> outcomes;
    outcomes.resize(size_t(divisions));
    const bool recording = bool(sink_);
    forEachChunk(size_t(divisions), 1, [&](size_t begin, size_t end) {
        std::vector<ValuePtr> one(args.begin(), args.end());
        for (size_t k = begin; k < end; ++k) {
            Outcome& o = outcomes[k];
            for (size_t i = 0; i < args.size(); ++i)
                if (split[i]) one[i] = args[i]->division(int64_t(k));
            MessageSink record;
            if (recording)
                record = [&o](MessageHandler::Severity s, const std::string& t) { o.messages.emplace_back(s, t); };
            if (interruptedIn(f, o.error)) continue;
            YRef<CallMessages> msgs = makeYRef<CallMessages>();
            o.ok = invokeWith(f, one, o.part, o.error, *msgs, record);
        }
    });
    for (d = 0; d < divisions; ++d) {
        Outcome& o = outcomes[size_t(d)];
        for (auto& [severity, text] : o.messages)
            if (sink_) sink_(severity, text);
        if (!o.ok) {
            error = std::move(o.error);
            return false;
        }
        parts.push_back(std::move(o.part));
    }
    return true;
}

bool Caller::invoke(const FuncConstruct& f, std::span<const ValuePtr> args, ValuePtr& out, std::string& error) {
    return invokeWith(f, args, out, error, *messages(), sink_);
}

bool Caller::invokeWith(const FuncConstruct& f, std::span<const ValuePtr> args, ValuePtr& out, std::string& error,
                        CallMessages& messages, const MessageSink& sink) {
    const char* fn = f.name();
    FuncArgs fa(fn, args);
    FuncResult fr(fn, &fa);
    CallMessages* msgs = &messages;
    msgs->reset(&sink);
    msgs->busy = true;
    struct Release {
        CallMessages* m;
        ~Release() { m->busy = false; }
    } release{msgs};

    FUNC_ERROR rc;
    try {
        static const ScpParseContext parseContext;
        static const FunctionRunTime noRunTime;
        rc = f.handler()(fa, &fr, YRef<MessageHandler>(msgs), parseContext, runTime_ ? *runTime_ : noRunTime);
    } catch (const CorvantaException& e) {
        error = e.what();
        return false;
    } catch (const std::bad_alloc&) {
        error = format("Not enough memory to complete function '%s'", {fn});
        return false;
    } catch (const std::exception& e) {
        error = format("Internal error in function '%s': %s", {fn, e.what()});
        return false;
    } catch (...) {
        error = format("Internal error in function '%s'", {fn});
        return false;
    }
    if (!fr.finished()) {
        error = format("Function '%s' returned without finishing its result", {fn});
        return false;
    }
    if (rc == FuncOk) {
        // An error message of a call that still gave its result did not fail
        // it: the caller sees it as a warning.
        if (msgs->errors && sink) sink(MessageHandler::Warning, msgs->firstError);
        out = fr.take();
        return true;
    }
    if (msgs->errors) error = msgs->firstError;
    else if (rc == FuncError || rc == FuncFailed) error = format("Function '%s' failed", {fn});
    else error = format("Function '%s' returned an unknown status %d", {fn, int(rc)});
    return false;
}

const char* argKindWord(argType k) noexcept {
    switch (k) {
        case ArgNumeric: return "numeric";
        case ArgString: return "string";
        case ArgAnyVector: return "anyvector";
        case ArgAny: return "any";
        case ArgReal: return "real";
    }
    return "unknown";
}

const char* resultKindWord(PythonReturnType r) noexcept {
    switch (r) {
        case PyVector: return "vector";
        case PyBool: return "bool";
        case PyBoolVector: return "bool-vector";
        case PyInteger:
        case PyInteger2: return "integer";
        case PyIntegerVector: return "integer-vector";
        case PyReal:
        case PyReal2: return "real";
        case PyRealVector: return "real-vector";
        case PyString:
        case PyString2: return "string";
        case PyStringList: return "string-list";
        case PyInteger64: return "integer64";
        case PyNone: return "none";
    }
    return "unknown";
}

}  // namespace cv
