// A host session: the loaded function module, the function caller, the
// vectors bound by name, and the evaluator of the expression language.
// The tool and the Python package each run one.
#pragma once
#include <functional>
#include <map>
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
}

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
    ValuePtr lookup(std::string_view name) const;
    // Names as bound, sorted case-insensitively.
    std::vector<std::string> names() const;
    // Binds every vector of a loaded data set under its script name (v(x) as
    // x, i(x) as x#branch) and under its original name; with a prefix, as
    // "PREFIX.name", so that several runs can sit side by side.
    void bindDataSet(const load::DataSet& data, std::string_view prefix = "");
    // Loads a CSV or SPICE raw file and binds its vectors; false with a message.
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
    bool eval(const expr::Node& n, ValuePtr& out, std::string& error);
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
    std::map<std::string, std::pair<std::string, ValuePtr>> vars_;  // lower-case name -> (name as bound, value)
};

}  // namespace cv
