// The contract between the host and the script-function module: the handler
// signature, the registration record and its encodings, and the module's
// other static registration objects (event callbacks and options).
#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "CorvantaException.h"
#include "FuncInterface.h"
#include "MessageHandler.h"
#include "YRef.h"
#include "YString.h"

// Kind of one argument, as the host checks and converts it before the call.
enum argType : int32_t {
    ArgNumeric = 0,    // real or complex vector
    ArgString = 1,     // strings; a number given becomes its shortest decimal text
    ArgAnyVector = 2,  // any kind, passed without conversion
    ArgAny = 3,        // real, complex or string
    ArgReal = 4,       // real vector
};

// What the host does with an argument that has several divisions:
//  MultiNone (0), MultiWhole (2), MultiCount (3): passed whole.
//  MultiPerDivision (1): the handler is called once per division (matching
//    divisions of other divided arguments, undivided ones whole) and the
//    results are joined into one divided result.
//  MultiStatistic (4): called per division like 1; the one-element results
//    are collected into one vector with one value per division, against the
//    division labels (or 0 ... d-1).
enum MultiDef : int32_t { MultiNone = 0, MultiPerDivision = 1, MultiWhole = 2, MultiCount = 3, MultiStatistic = 4 };

// The result kind a function declares for the Python binding. The codes
// ending in 2 build the same result as their plain twins (an integer, a real,
// a string scalar); the host tells the few functions registered with them
// apart, this library does not.
enum PythonReturnType : int32_t {
    PyVector = 0,         // numeric vector, usually with a reference
    PyBool = 1,
    PyBoolVector = 3,
    PyInteger2 = 4,
    PyInteger = 5,
    PyIntegerVector = 6,
    PyReal = 7,
    PyReal2 = 8,
    PyRealVector = 9,     // real vector without a reference
    PyString = 10,
    PyString2 = 11,
    PyStringList = 12,
    PyInteger64 = 13,
    PyNone = 16,
};

// Four one-byte flags, in this order. `flag0` has no meaning this library
// knows of: it is passed through for the host, which alone reads it.
// `elementWise`: the function maps elements independently; `arrayArgs`: its
// arguments are taken as whole arrays; `isOperator`: it implements an
// operator of the language.
struct FunctionOption {
    bool flag0 = false;
    bool elementWise = false;
    bool arrayArgs = false;
    bool isOperator = false;
};

enum FUNC_ERROR : int32_t { FuncOk = 0, FuncError = 1, FuncFailed = 2 };

// A list of 32-bit enumeration values, built from a brace list such as {4, 4, 1}.
template <class T>
class ArgTypeList {
public:
    ArgTypeList() = default;
    // Held in place up to kInline codes (every registration row; MaxN's 32
    // are the most): the rows are static objects of the module, built while
    // it loads, where an allocation that failed could only end the process.
    ArgTypeList(std::initializer_list<int> codes) : size_(codes.size()) {
        if (size_ > kInline) heap_.reserve(size_);
        T* out = size_ > kInline ? nullptr : inline_;
        for (int c : codes) {
            if (out) *out++ = static_cast<T>(c);
            else heap_.push_back(static_cast<T>(c));
        }
    }
    int size() const noexcept { return static_cast<int>(size_); }
    bool empty() const noexcept { return size_ == 0; }
    T operator[](int i) const noexcept { return begin()[i]; }
    const T* begin() const noexcept { return size_ > kInline ? heap_.data() : inline_; }
    const T* end() const noexcept { return begin() + size_; }

private:
    static constexpr size_t kInline = 32;
    size_t size_ = 0;
    T inline_[kInline] = {};
    std::vector<T> heap_;
};

// Passed to every handler; no function of the module reads it.
class ScpParseContext {};

// What a handler may ask of the host that runs it: the evaluation of an
// expression of the script language in the calling session (its bound
// vectors, its functions). The host passes its own; this default evaluates
// nothing.
class FunctionRunTime {
public:
    virtual ~FunctionRunTime() = default;
    // The value of `expression` as text (elements separated by blanks), or
    // false with the message that explains why there is none.
    virtual bool evaluate(const YString& expression, YString& valueText, YString& error) const;
};

using FuncHandler = FUNC_ERROR (*)(const FuncArgsMinimal& args, FuncResultMinimal* result,
                                   YRef<MessageHandler> messages, const ScpParseContext& parseContext,
                                   const FunctionRunTime& runTime);

// One script function: constructed when the module loads (adding the function
// to the host's table) and destroyed when it unloads (removing it).
class FuncConstruct {
public:
    FuncConstruct(const char* name, ArgTypeList<argType> kinds, ArgTypeList<MultiDef> multi, int minArgs,
                  int maxArgs, FuncHandler handler, const char* text, PythonReturnType pythonReturn,
                  const FunctionOption& options);
    ~FuncConstruct();
    FuncConstruct(const FuncConstruct&) = delete;
    FuncConstruct& operator=(const FuncConstruct&) = delete;

    const char* name() const noexcept { return name_; }
    const ArgTypeList<argType>& kinds() const noexcept { return kinds_; }
    const ArgTypeList<MultiDef>& multi() const noexcept { return multi_; }
    int minArgs() const noexcept { return min_; }
    int maxArgs() const noexcept { return max_; }
    FuncHandler handler() const noexcept { return handler_; }
    const char* text() const noexcept { return text_; }
    PythonReturnType pythonReturn() const noexcept { return pythonReturn_; }
    const FunctionOption& options() const noexcept { return options_; }
    // Declared kind of argument i: the last listed kind serves every argument
    // beyond the list.
    argType kindOf(int i) const noexcept {
        if (kinds_.empty()) return ArgAny;
        return kinds_[i < kinds_.size() ? i : kinds_.size() - 1];
    }
    MultiDef multiOf(int i) const noexcept { return i < multi_.size() ? multi_[i] : MultiNone; }
    // Set by the module for a handler that only reads its arguments, writes
    // its result and sends messages (no run-time, no state shared between
    // calls): the host may then run the divisions of one call on several
    // threads at once.
    void setPure() noexcept { pure_ = true; }
    bool pure() const noexcept { return pure_; }

private:
    bool pure_ = false;
    const char* name_;
    ArgTypeList<argType> kinds_;
    ArgTypeList<MultiDef> multi_;
    int min_, max_;
    FuncHandler handler_;
    const char* text_;
    PythonReturnType pythonReturn_;
    FunctionOption options_;
};

// A callback on a host event ("PostCli", "ExitCli", "Exit").
class AutoFunc {
public:
    using Callback = void (*)(void*);
    AutoFunc(const char* event, Callback callback, const char* callbackName);
    ~AutoFunc();
    AutoFunc(const AutoFunc&) = delete;
    AutoFunc& operator=(const AutoFunc&) = delete;

    const char* event() const noexcept { return event_; }
    Callback callback() const noexcept { return callback_; }
    const char* callbackName() const noexcept { return callbackName_; }

private:
    const char* event_;
    Callback callback_;
    const char* callbackName_;
};

enum OptionCacheStatus : int32_t { OptionNotCached = 0, OptionCached = 1 };

// An option declared by the module, with its default.
class MakeOption {
public:
    MakeOption(const char* sourcePath, int line, const char* name, int defaultValue, OptionCacheStatus cache,
               bool flag);
    MakeOption(const char* sourcePath, int line, const char* name, const char* defaultValue,
               OptionCacheStatus cache, bool flag);
    MakeOption(const char* sourcePath, int line, const char* name, const YString& defaultValue,
               OptionCacheStatus cache, bool flag1, bool flag2, bool flag3, bool flag4);
    ~MakeOption();
    MakeOption(const MakeOption&) = delete;
    MakeOption& operator=(const MakeOption&) = delete;

    const char* name() const noexcept { return name_; }

private:
    const char* name_;
};
