// The module kit: the one way a script function is written here.
//
//   FUNC_ERROR work(const FuncArgs& a, FuncResult& r, MessageHandler& m);
//
// A worker reads its arguments with the readers below, builds its result with
// the result helpers, reports a failure with one of the named messages (each
// sends its text and returns FuncFailed), and returns. `handler<work>` turns
// it into a registered handler: it hands the worker the concrete argument and
// result objects, finishes the result on every path and passes the code on.
// A worker that needs the running host (to evaluate an expression) takes the
// FunctionRunTime as a fourth parameter; `handler` serves both forms.
//
// A family registers its functions in one table, `FunctionRow registrations[]`,
// whose rows use the words defined here, so that a row reads like the golden
// row it must match (tests/data/function_names.txt); a row that may run on
// several threads ends in Pure:
//
//   {"XFromY", {Real, Real, Real, Real}, {PerDivision, PerDivision}, 2, 4, handler<xFromY>, "", PyRealVector, Plain, Pure},
//
// Module-wide state that scripts address by number (open files, tables,
// mutexes) lives in a HandleTable; options the module declares are Options.
#pragma once
#include <initializer_list>
#include <cstring>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "FuncArgs.h"
#include "FuncContract.h"

namespace cvmod {

// ---------------------------------------------------------------- registration words

// Argument kinds.
inline constexpr argType Numeric = ArgNumeric;      // real or complex
inline constexpr argType String = ArgString;        // strings; a number becomes its text
inline constexpr argType AnyVector = ArgAnyVector;  // any kind, unconverted
inline constexpr argType Any = ArgAny;              // real, complex or string
inline constexpr argType Real = ArgReal;

// Multi-division rules.
inline constexpr MultiDef NoRule = MultiNone;
inline constexpr MultiDef PerDivision = MultiPerDivision;
inline constexpr MultiDef Whole = MultiWhole;
inline constexpr MultiDef Count = MultiCount;
inline constexpr MultiDef Statistic = MultiStatistic;

// Function options (flag0, elementWise, arrayArgs, isOperator).
inline constexpr FunctionOption Plain{};
inline constexpr FunctionOption ElementWise{false, true, false, false};
inline constexpr FunctionOption ElementWiseOperator{false, true, false, true};
inline constexpr FunctionOption Operator{false, false, false, true};
inline constexpr FunctionOption ArrayArgs{false, false, true, false};
// The first flag has no meaning the module knows of; one function sets it
// because the host expects it there.
inline constexpr FunctionOption FirstFlag{true, false, false, false};

// Whether the host may run the divisions of one call on several threads at
// once (FuncConstruct::setPure). Only for a handler that reads its
// arguments, writes its result and sends messages: no run-time, no state
// shared between calls.
enum Purity : bool { Impure = false, Pure = true };

// A registration row: the host's record, with its purity as the last word.
struct FunctionRow : FuncConstruct {
    FunctionRow(const char* name, ArgTypeList<argType> kinds, ArgTypeList<MultiDef> multi, int minArgs, int maxArgs,
                FuncHandler handler, const char* text, PythonReturnType pythonReturn, const FunctionOption& options,
                Purity purity = Impure)
        : FuncConstruct(name, std::move(kinds), std::move(multi), minArgs, maxArgs, handler, text, pythonReturn,
                        options) {
        if (purity == Pure) setPure();
    }
};

// ---------------------------------------------------------------- options
//
// An option the module declares while it loads, withdrawn when it unloads:
//
//   const Option interpPts{"InterpPts", 1024};
//
// The default gives its kind (a number or a text). The host records where it
// was declared: the source file (from FuncDll/ on, without extension) and
// line of the declaration.
struct OptionFlags {
    // Both are passed through for the host, which alone gives them a meaning;
    // every option of this module passes these defaults.
    OptionCacheStatus cache = OptionNotCached;
    bool flag = true;
};

class Option {
public:
    // The file and line are those of the declaration (the builtins in a
    // default argument are evaluated where the call is; they serve where
    // std::source_location is missing, as with the fuzzing build's clang).
    Option(const char* name, int defaultValue, OptionFlags flags = {}, const char* file = __builtin_FILE(),
           int line = __builtin_LINE());
    Option(const char* name, const char* defaultValue, OptionFlags flags = {}, const char* file = __builtin_FILE(),
           int line = __builtin_LINE());
    const char* name() const noexcept { return declared_.name(); }

    // The declaring source file as the host records it. A fixed buffer:
    // options are declared while the module loads, where an allocation that
    // failed could only end the process.
    struct SourcePath {
        char text[256];
    };
    static SourcePath sourcePathOf(std::string_view file) noexcept;

private:
    MakeOption declared_;
};

// ---------------------------------------------------------------- the handler shell

using Worker = FUNC_ERROR (*)(const FuncArgs&, FuncResult&, MessageHandler&);
using RunTimeWorker = FUNC_ERROR (*)(const FuncArgs&, FuncResult&, MessageHandler&, const FunctionRunTime&);

template <auto work>
FUNC_ERROR handler(const FuncArgsMinimal& args, FuncResultMinimal* result, YRef<MessageHandler> messages,
                   const ScpParseContext&, const FunctionRunTime& runTime) {
    FUNC_ERROR rc;
    // The result is finished also when the worker throws: the host owns the
    // reporting of the exception, but never an unfinished result.
    struct Finish {
        FuncResultMinimal* r;
        ~Finish() { r->finish(); }
    } finish{result};
    if constexpr (std::is_convertible_v<decltype(work), RunTimeWorker>)
        rc = work(args.funcArgs(), result->funcResult(), *messages, runTime);
    else
        rc = work(args.funcArgs(), result->funcResult(), *messages);
    return rc;
}

// ---------------------------------------------------------------- argument readers
//
// Argument i counts from 0; every reader takes an absent argument (i beyond
// the count), an empty one and one of another kind alike, as not given. An
// argument the host passes whole is read across all its divisions: its first
// value is the first of all its values, even when its first division is empty.

// Whether optional argument i was given with at least one element.
bool given(const FuncArgs& a, int i);
// Whether argument i was given with at least one real value.
bool givenReal(const FuncArgs& a, int i);

// The first real of argument i, or `fallback`.
double realOr(const FuncArgs& a, int i, double fallback);
std::optional<double> optionalReal(const FuncArgs& a, int i);
// Value k of real argument i, when the argument has it.
std::optional<double> realAt(const FuncArgs& a, int i, int64_t k);

// Counts, indices and handles from a script are truncated toward zero.
// These saturate instead of overflowing; NaN reads as 0.
int32_t toInt32(double v) noexcept;
// Saturates at +-2^62: beyond any size that could be allocated, yet safe to add to.
int64_t toInt64(double v) noexcept;
// The integer part of v when it fits Int exactly; false for NaN, Inf and
// values out of Int's range (where a saturated value would be wrong).
template <class Int>
bool exactInt(double v, Int& out);
// The first real of argument i truncated to 32 bits, or `fallback`.
int32_t intOr(const FuncArgs& a, int i, int32_t fallback);
// The handle in argument i (its first real, an exact 32-bit integer); false
// when there is none, so that no rounding or clamping lands on a live handle.
bool handleOf(const FuncArgs& a, int i, int32_t& handle);

// All strings of argument i, across its divisions (none when it is absent or
// not strings); a null entry reads as "". Views into the argument: they live
// as long as the call.
std::vector<std::string_view> stringsOf(const FuncArgs& a, int i);
// The first string of argument i, or `fallback` ("" for a null entry).
const char* stringOr(const FuncArgs& a, int i, const char* fallback = "");
// Strings compared ignoring ASCII case, as option words and keys are.
bool sameWord(std::string_view a, std::string_view b) noexcept;
// Index of argument i's first string among `words` (ignoring case);
// `fallback` when not given, `unknown` when given but not listed.
int wordOf(const FuncArgs& a, int i, std::initializer_list<const char*> words, int fallback, int unknown);

// A single value the function cannot do without (a level, a bin count, an
// index). Unlike the readers above these look at the first division only,
// which for an argument handed over per division is all of it: an argument
// passed whole whose first division is empty has no value here.
//
// The first real of argument i; none when its first division is empty or
// the argument is not real.
std::optional<double> firstReal(const FuncArgs& a, int i);
// As firstReal, sending "Argument <i + 1> ... is empty" when there is none:
//   const auto level = requiredReal(a, 1, m);
//   if (!level) return FuncFailed;
std::optional<double> requiredReal(const FuncArgs& a, int i, MessageHandler& m);

// The host's value of argument i (null when absent), for the functions that
// work on the value as it is held: its kind before any conversion, its
// division layout and reference, shared into the result.
const cv::ValuePtr& valueOf(const FuncArgs& a, int i);

// Whether argument i carries a reference (x-values) of any kind.
bool hasReference(const FuncArgs& a, int i);

// A waveform argument: values y with their real x-values. A reference shorter
// than the values (which the value model does not forbid) limits the samples
// to the pairs that exist, so nothing is read past either end.
struct Wave {
    const double* y = nullptr;  // null when the values are not real
    const double* x = nullptr;  // null without a real reference
    int64_t n = 0;              // samples that have both (all values when x is null)
};
Wave waveOf(const FuncArgs& a, int i);

// ---------------------------------------------------------------- messages
//
// Each sends one error and returns FuncFailed, so a worker writes
// `return noReference(m, a, 1);`. Argument numbers count from 1, as users do.

FUNC_ERROR noReference(MessageHandler& m, const FuncArgs& a, int argNumber);
FUNC_ERROR emptyArgument(MessageHandler& m, const FuncArgs& a, int argNumber);
FUNC_ERROR requiresReal(MessageHandler& m, const char* function);
FUNC_ERROR outOfRange(MessageHandler& m, const char* function);
FUNC_ERROR overflow(MessageHandler& m, const char* function);
FUNC_ERROR lengthsDiffer(MessageHandler& m, const char* function);
FUNC_ERROR countOutOfRange(MessageHandler& m, const char* function);
FUNC_ERROR xOutOfRange(MessageHandler& m, const char* function);

// ---------------------------------------------------------------- results

// A malloc'd copy for a string slot of a result (null reads as "").
char* copyString(const char* s);
char* copyString(std::string_view s);

void setReal(FuncResult& r, double v);
void setInteger(FuncResult& r, int32_t v);
void setInteger64(FuncResult& r, int64_t v);
void setBool(FuncResult& r, bool v);
void setString(FuncResult& r, std::string_view s);
// Text results keep their characters in one block (FuncResult::makeStringBlock):
// one allocation for the list, not one per text.
void setStrings(FuncResult& r, const std::vector<YString>& list);
void setStrings(FuncResult& r, const std::vector<std::string>& list);
void setStrings(FuncResult& r, const std::vector<std::string_view>& list);
// A text result of `count` texts whose lengths add up to `chars`, written in
// order by put() into one block.
class TextBlock {
public:
    TextBlock(FuncResult& r, int64_t count, size_t chars)
        : slots_(r.makeStringBlock(count, chars + size_t(count), next_)), count_(count) {}
    void put(std::string_view s) { put(s, {}); }
    // Two parts as one text (chars counts both).
    void put(std::string_view s, std::string_view t) {
        if (k_ >= count_) return;
        if (!s.empty()) std::memcpy(next_, s.data(), s.size());
        if (!t.empty()) std::memcpy(next_ + s.size(), t.data(), t.size());
        next_[s.size() + t.size()] = '\0';
        slots_[k_++] = next_;
        next_ += s.size() + t.size() + 1;
    }
    // No text at all in the next slot (the absent text, not "").
    void putNone() {
        if (k_ < count_) slots_[k_++] = nullptr;
    }
    // A list slot: none stays none.
    void put(const char* s) { s ? put(std::string_view(s)) : putNone(); }

private:
    char* next_ = nullptr;
    char** slots_;
    int64_t k_ = 0, count_;
};

// The n texts text(0) ... text(n - 1) (each a std::string_view) as the result.
template <class TextAt>
void setTexts(FuncResult& r, int64_t n, TextAt text) {
    size_t chars = 0;
    for (int64_t k = 0; k < n; ++k) chars += text(k).size();
    TextBlock out(r, n, chars);
    for (int64_t k = 0; k < n; ++k) out.put(text(k));
}
// Copies n values into a new real result (no reference).
double* setReals(FuncResult& r, const double* v, int64_t n);

// A result of `kind` shaped like argument i: its divisions (when the host
// passed it whole and they are even; one division of all its elements
// otherwise) and its reference, shared. The element-wise functions build
// their results this way. A caller that writes every element, or fails
// (the host drops a failed call's result), asks for it Unfilled: clearing a
// large buffer first costs as much as a cheap function itself.
enum class Fill { Cleared, Unfilled };
void allocateLike(const FuncArgs& a, FuncResult& r, int i, VD_type kind, Fill fill = Fill::Cleared);
double* realLike(const FuncArgs& a, FuncResult& r, int i, Fill fill = Fill::Cleared);
cplx* complexLike(const FuncArgs& a, FuncResult& r, int i, Fill fill = Fill::Cleared);

// A waveform of no points: the host joins per-division results, and a
// division that measured nothing must not make that join fail.
void emptyWaveform(FuncResult& r);

// ---------------------------------------------------------------- handle tables

// Entries addressed by integer handles: 1, 2, 3, ... in order of adding,
// never reused while the module is loaded. Iteration runs in handle order.
template <class T>
class HandleTable {
public:
    // Takes `entry` and returns its handle, or 0 when every handle a script
    // could name has been given out (the caller reports that).
    int32_t add(T entry) {
        if (next_ > kLastHandle) return 0;
        const int32_t h = int32_t(next_++);
        entries_.emplace(h, std::move(entry));
        return h;
    }
    // The entry of `handle`; null when it is not (or no longer) in the table.
    T* find(int32_t handle) {
        auto it = entries_.find(handle);
        return it == entries_.end() ? nullptr : &it->second;
    }
    bool remove(int32_t handle) { return entries_.erase(handle) > 0; }
    void clear() { entries_.clear(); }
    size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    static constexpr int64_t kLastHandle = 2147483647;
    // For tests of exhaustion: the handle the next add would give.
    void skipTo(int64_t next) { next_ = next; }

private:
    std::map<int32_t, T> entries_;
    int64_t next_ = 1;
};

// ---------------------------------------------------------------- inline definitions

template <class Int>
bool exactInt(double v, Int& out) {
    static_assert(std::is_signed_v<Int>);
    if (!std::isfinite(v)) return false;
    const double t = std::trunc(v);
    // -min is a power of two, exact in a double; max itself may not be.
    const double bound = -double(std::numeric_limits<Int>::min());
    if (t < -bound || t >= bound) return false;
    out = Int(t);
    return true;
}

}  // namespace cvmod
