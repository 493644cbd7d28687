// A host session: the loaded function module, the function caller, the
// vectors bound by name, and the evaluator of the expression language.
// The tool and the Python package each run one.
#pragma once
#include <cstddef>
#include <functional>
#include <map>
#include <span>
#include <memory>
#include <string>
#include <string_view>

#include "FunctionTable.h"
#include "ModuleLoader.h"
#include "Value.h"

namespace cv {

namespace expr {
struct Node;
struct Operator;
struct Program;
}  // namespace expr

namespace load {
struct DataSet;
class LazyColumns;
}  // namespace load

// A vector of a file opened for reading when used (load::openFile): its
// values are read on first use, then kept. Shared by the names it is bound
// under, and by the Python package's dict of a loaded file.
class PendingVector {
public:
    PendingVector(std::string name, std::shared_ptr<load::LazyColumns> file, std::size_t column,
                  std::shared_ptr<PendingVector> reference, std::function<void(Value&)> describe);
    // The value, read now if it was not: load::LoadError when the file
    // changed or the column is damaged, std::bad_alloc when it does not fit.
    ValuePtr get();
    // The same, or null with the message: the file's, or "Not enough memory
    // to read 'NAME'".
    ValuePtr get(std::string& error) noexcept;
    const std::string& name() const noexcept { return name_; }
    const ValuePtr& ready() const noexcept { return value_; }  // null until read
    // Reads those of `vectors` not read yet with their scales, each file in
    // one pass; a failure is left for get() to report, vector by vector.
    static void readTogether(std::span<const std::shared_ptr<PendingVector>> vectors) noexcept;

private:
    std::string name_;  // the script name it was bound under
    std::shared_ptr<load::LazyColumns> file_;
    std::size_t column_;
    std::shared_ptr<PendingVector> reference_;  // a signal's scale
    std::function<void(Value&)> describe_;      // names, types, labels
    ValuePtr value_;
};

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Loads the function module at `path`, or the default modules when it is
    // empty; false with a message (and none loaded) when one cannot be loaded.
    bool loadModule(std::string& error, const std::string& path = "");
    // Unloads them: every function they registered leaves the table.
    void unloadModule();

    Caller& caller() noexcept { return caller_; }
    // What handlers called from this session evaluate expressions with.
    const FunctionRunTime& runTime() const noexcept { return runTime_; }

    // Vectors by name; names compare case-insensitively.
    void bind(std::string_view name, ValuePtr v);
    // The value bound to a name, a file's vector read now if it was not yet;
    // null when nothing is bound, or (with the message in `error`) when the
    // vector cannot be read.
    ValuePtr lookup(std::string_view name, std::string& error) const;
    ValuePtr lookup(std::string_view name) const;
    // Only what needs no reading: null for a file's vector not read yet.
    ValuePtr lookupIfRead(std::string_view name) const;
    // The pending vector behind a name bound by a file, or null.
    std::shared_ptr<PendingVector> pending(std::string_view name) const;
    // Names as bound, sorted case-insensitively.
    std::vector<std::string> names() const;
    // Binds every vector of a loaded data set under its script name (v(x) as
    // x, i(x) as x#branch) and under its original name; with a prefix, as
    // "PREFIX.name", so that several runs can sit side by side. The vectors
    // of an opened file (DataSet::lazy) are bound pending.
    void bindDataSet(const load::DataSet& data, std::string_view prefix = "");
    // Opens a CSV or SPICE raw file and binds its vectors, read when a
    // statement first uses them; false with a message.
    bool loadData(const std::string& path, std::string& error, std::vector<std::string>* warnings = nullptr,
                  std::string_view prefix = "");

    // Runs the statements of `source`; onValue receives the value of every
    // statement that is not an assignment. Stops at the first failure.
    // `afterStatement` (optional) runs after each top-level statement.
    bool run(std::string_view source, const std::function<void(const ValuePtr&)>& onValue, std::string& error,
             const std::function<void()>& afterStatement = {});
    // The same, telling about every statement, assignments too: its source
    // text and, for an assignment, the name assigned.
    struct Statement {
        std::string_view text;
        std::string_view assigned;  // "" unless an assignment
    };
    bool runStatements(std::string_view source,
                       const std::function<void(const ValuePtr&, const Statement&)>& onStatement,
             std::string& error, const std::function<void()>& afterStatement = {});
    // Evaluates one expression.
    bool evaluate(std::string_view expression, ValuePtr& out, std::string& error);

    // Host events.
    void postCli();
    void exitCli();

private:
    struct Binding {
        std::string name;  // as bound
        ValuePtr value;
        std::shared_ptr<PendingVector> pending;  // instead of value, for a file's vector
    };
    bool eval(const expr::Node& n, ValuePtr& out, std::string& error);
    bool evalName(const std::string& name, ValuePtr& out, std::string& error, const char* what);
    // Reads the file vectors a statement names that are not read yet, each
    // file in one pass.
    void prefetch(const expr::Node& statement) const;
    void warnIfUnpaired(const expr::Operator& op, std::span<const ValuePtr> args, const ValuePtr& out) const;

    // Evaluates in this session, for handlers (ee, templates).
    class RunTime : public FunctionRunTime {
    public:
        explicit RunTime(Session& s) : session_(s) {}
        bool evaluate(const YString& expression, YString& valueText, YString& error) const override;

    private:
        Session& session_;
    };

    std::vector<std::unique_ptr<Module>> modules_;
    RunTime runTime_{*this};
    Caller caller_;
    std::map<std::string, Binding> vars_;  // by lower-case name
    bool anyPending_ = false;              // a file's vectors were ever bound pending
};

}  // namespace cv
