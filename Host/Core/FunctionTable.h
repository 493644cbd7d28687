// The host's function table and the calling pipeline every script function
// call goes through: look-up, count check, conversion of the arguments to
// their registered kinds, the multi-division rules, the handler, and the
// collection of the result or of the one error message.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "FuncContract.h"
#include "Value.h"

namespace cv {

// Sets the memory limit and the thread count from the host options, as every
// top-level call does as it starts; other large work (loading a file) calls it too.
void applyCallLimits();

// Registrations (functions, event callbacks) that ran out of memory while a
// module loaded; a loader that sees the count grow unloads the module again.
void noteFailedRegistration() noexcept;
// The ASCII lower-case form of `name` in `room`, without allocating (names
// are looked up and removed while unloading, when memory may have run out);
// an empty view when the name does not fit.
std::string_view lowerInto(std::string_view name, char (&room)[128]) noexcept;
size_t failedRegistrations() noexcept;

class FunctionTable {
public:
    static FunctionTable& global();

    void add(const FuncConstruct* f);
    // Allocates nothing: it runs in the module's static destructors at unload.
    void remove(const FuncConstruct* f) noexcept;
    // Case-insensitive; the latest registration of a name wins.
    const FuncConstruct* find(std::string_view name) const;
    // Sorted by name, case-insensitively.
    std::vector<const FuncConstruct*> all() const;
    size_t size() const noexcept { return map_.size(); }
    // The module whose registrations run now (the loader sets it around
    // dlopen; null otherwise); each function added meanwhile belongs to it.
    void setLoadingModule(const char* name) noexcept { loading_ = name; }
    // The module that registered f, or "" for one registered otherwise.
    const char* moduleOf(const FuncConstruct* f) const noexcept;

private:
    // Looked up by a lower-case view, so that neither a look-up nor a removal
    // has to make a string.
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, std::vector<const FuncConstruct*>, NameHash, std::equal_to<>> map_;
    std::unordered_map<const FuncConstruct*, const char*> modules_;
    const char* loading_ = nullptr;
};

using MessageSink = std::function<void(MessageHandler::Severity, const std::string&)>;

class CallMessages;

class Caller {
public:
    explicit Caller(MessageSink sink = {});
    ~Caller();
    Caller(const Caller&) = delete;
    Caller& operator=(const Caller&) = delete;

    // Calls a function; true with `out` set, or false with `error` set to the
    // one message that explains the failure. Never throws for a failing
    // handler: exceptions are caught here and reported as errors.
    bool call(std::string_view name, std::span<const ValuePtr> args, ValuePtr& out, std::string& error);
    bool call(const FuncConstruct& f, std::span<const ValuePtr> args, ValuePtr& out, std::string& error);

    // Receives warnings and informational messages sent by handlers.
    void setSink(MessageSink sink) { sink_ = std::move(sink); }
    // A warning of the caller's own, through the same sink.
    void warn(const std::string& text) const {
        if (sink_) sink_(MessageHandler::Warning, text);
    }
    // Passed to every handler: how it reaches the session that called it.
    // Without one, handlers get a run-time that evaluates nothing.
    void setRunTime(const FunctionRunTime* runTime) { runTime_ = runTime; }

private:
    bool callConverted(const FuncConstruct& f, std::span<const ValuePtr> args, ValuePtr& out, std::string& error);
    bool invoke(const FuncConstruct& f, std::span<const ValuePtr> args, ValuePtr& out, std::string& error);
    bool invokeWith(const FuncConstruct& f, std::span<const ValuePtr> args, ValuePtr& out, std::string& error,
                    CallMessages& messages, const MessageSink& sink);
    bool invokeDivisionsInParallel(const FuncConstruct& f, std::span<const ValuePtr> args, int64_t divisions,
                                   const std::vector<bool>& split, std::vector<ValuePtr>& parts, int64_t& d,
                                   std::string& error);
    bool callDivided(const FuncConstruct& f, std::span<const ValuePtr> args, int64_t divisions,
                     const std::vector<bool>& split, bool statistic, ValuePtr& out, std::string& error);
    // A collector the pool holds: the caller uses it while it holds no other
    // reference (it is marked busy), so a raw pointer serves.
    CallMessages* messages();

    MessageSink sink_;
    const FunctionRunTime* runTime_ = nullptr;
    std::vector<YRef<CallMessages>> pool_;
};

// Words for registration codes, as the tool and the Python package show them.
const char* argKindWord(argType k) noexcept;
const char* resultKindWord(PythonReturnType r) noexcept;


}  // namespace cv
