#include "Session.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

#include "Events.h"
#include "Expr/Parser.h"
#include "TemplateResolver.h"
#include "Loaders/Loaders.h"
#include "Reference.h"

namespace cv {

namespace {

// The elements of a vector literal, joined: numbers stay numbers (complex when
// any is complex), and strings stay strings when all are strings.
bool joinElements(const std::vector<ValuePtr>& parts, ValuePtr& out, std::string& error) {
    Kind kind = Kind::Real;
    bool anyString = false, anyNumber = false;
    int64_t n = 0;
    for (const auto& p : parts) {
        if (p->kind() == Kind::None) {
            error = "A vector element has no value";
            return false;
        }
        if (p->kind() == Kind::String) anyString = true;
        else anyNumber = true;
        if (p->kind() == Kind::Complex) kind = Kind::Complex;
        n += p->size();
    }
    if (anyString && anyNumber) {
        error = "A vector cannot mix strings and numbers";
        return false;
    }
    if (anyString) kind = Kind::String;
    auto v = Value::make(kind, n);
    int64_t k = 0;
    for (const auto& p : parts)
        for (int64_t i = 0; i < p->size(); ++i, ++k) {
            if (kind == Kind::Real) static_cast<double*>(v->mutableData())[k] = p->realAt(i);
            else if (kind == Kind::Complex) static_cast<cplx*>(v->mutableData())[k] = p->complexAt(i);
            else static_cast<char**>(v->mutableData())[k] = YString(p->stringAt(i)).detach();
        }
    out = v;
    return true;
}

std::string textOf(const Value& v) {
    std::string s;
    for (int64_t i = 0; i < v.size(); ++i) {
        if (i) s += ' ';
        if (v.kind() == Kind::String) s += v.stringAt(i);
        else if (v.kind() == Kind::Complex) s += "(" + formatReal(v.complexAt(i).real()) + "," +
                                                  formatReal(v.complexAt(i).imag()) + ")";
        else s += formatReal(v.realAt(i));
    }
    return s;
}

}  // namespace

Session::Session() { caller_.setRunTime(&runTime_); }

bool Session::RunTime::evaluate(const YString& expression, YString& valueText, YString& error) const {
    ValuePtr v;
    std::string message;
    if (!session_.evaluate(expression.view(), v, message)) {
        error = message;
        return false;
    }
    valueText = textOf(*v);
    return true;
}

Session::~Session() { unloadModule(); }

namespace {
constexpr const char* kModuleMemory = "Not enough memory to load the function module";
}

bool Session::loadModule(std::string& error, const std::string& path) {
    if (!modules_.empty()) return true;
    const size_t failedBefore = failedRegistrations();
    bool loaded = true;
    try {
        const std::vector<std::string> paths = path.empty() ? defaultModulePaths() : std::vector<std::string>{path};
        if (paths.empty()) error = "No function module to load: $CVFUNC_MODULE names none";
        modules_.reserve(paths.size());
        for (const std::string& p : paths) {
            auto module = Module::load(p, error);
            if (!module) break;
            modules_.push_back(std::move(module));
        }
        loaded = !paths.empty() && modules_.size() == paths.size();
    } catch (const std::bad_alloc&) {
        loaded = false;
    }
    // A module whose static objects could not all register would miss
    // functions without saying so: it is taken out again, with the others.
    if (loaded && failedRegistrations() == failedBefore) return true;
    unloadModule();
    if (failedRegistrations() != failedBefore || error.empty()) error = kModuleMemory;
    return false;
}

void Session::unloadModule() {
    while (!modules_.empty()) modules_.pop_back();  // the last loaded leaves first
}

void Session::bind(std::string_view name, ValuePtr v) { vars_[lowerAscii(name)] = {std::string(name), std::move(v), {}}; }

PendingVector::PendingVector(std::string name, std::shared_ptr<load::LazyColumns> file, std::size_t column,
                             std::shared_ptr<PendingVector> reference, std::function<void(Value&)> describe)
    : name_(std::move(name)),
      file_(std::move(file)),
      column_(column),
      reference_(std::move(reference)),
      describe_(std::move(describe)) {}

ValuePtr PendingVector::get() {
    if (value_) return value_;
    // The vector and its scale in one pass; what fails is reported below,
    // column by column.
    if (reference_ && !reference_->value_) file_->prefetch({reference_->column_, column_});
    const ValuePtr reference = reference_ ? reference_->get() : nullptr;
    MutableValuePtr v = file_->column(column_)->shallowCopy();
    describe_(*v);
    if (reference) {
        v->setRef(reference);
        v->setRefPhysType(reference->physType());
        v->setRefName(reference->name());
    }
    value_ = std::move(v);
    return value_;
}

ValuePtr PendingVector::get(std::string& error) noexcept {
    try {
        return get();
    } catch (const load::LoadError& e) {
        error = e.what();
    } catch (const std::bad_alloc&) {
        error = "Not enough memory to read '" + name_ + "'";
    }
    return nullptr;
}

ValuePtr Session::lookup(std::string_view name, std::string& error) const {
    auto it = vars_.find(lowerAscii(name));
    if (it == vars_.end()) return nullptr;
    return it->second.pending ? it->second.pending->get(error) : it->second.value;
}

ValuePtr Session::lookup(std::string_view name) const {
    std::string ignored;
    return lookup(name, ignored);
}

ValuePtr Session::lookupIfRead(std::string_view name) const {
    auto it = vars_.find(lowerAscii(name));
    if (it == vars_.end()) return nullptr;
    return it->second.pending ? it->second.pending->ready() : it->second.value;
}

std::shared_ptr<PendingVector> Session::pending(std::string_view name) const {
    auto it = vars_.find(lowerAscii(name));
    return it == vars_.end() ? nullptr : it->second.pending;
}

std::vector<std::string> Session::names() const {
    std::vector<std::string> out;
    for (auto& [k, v] : vars_) out.push_back(v.name);
    return out;
}

namespace {

std::string prefixed(std::string_view prefix, const std::string& name) {
    return prefix.empty() ? name : std::string(prefix) + "." + name;
}

}  // namespace

void Session::bindDataSet(const load::DataSet& data, std::string_view prefix) {
    // Each binding gets metadata of its own over the loader's buffer (no
    // copy), so binding one data set twice, or under two prefixes, keeps the
    // bindings apart.
    const std::string refName = prefixed(prefix, data.reference.name);
    auto describe = [&](const load::Signal& s, const std::string& name) {
        return [name, phys = sp_GetPhysTypeFromName(s.quantity), labels = data.divisionLabels](Value& v) {
            v.setPhysType(phys == PhysType::Unknown ? PhysType::None : phys);
            v.setName(name);
            if (!labels.empty()) v.setDivisionLabels(labels);
        };
    };
    if (data.lazy) {
        anyPending_ = true;
        auto bindPending = [&](const std::string& name, const std::shared_ptr<PendingVector>& p) {
            vars_[lowerAscii(name)] = {name, nullptr, p};
        };
        auto ref = std::make_shared<PendingVector>(refName, data.lazy, 0, nullptr, describe(data.reference, refName));
        bindPending(refName, ref);
        for (std::size_t k = 0; k < data.signals.size(); ++k) {
            const load::Signal& s = data.signals[k];
            const std::string script = prefixed(prefix, load::scriptName(s.name));
            auto v = std::make_shared<PendingVector>(script, data.lazy, k + 1, ref, describe(s, script));
            bindPending(prefixed(prefix, s.name), v);
            bindPending(script, v);
        }
        return;
    }
    auto build = [&](const load::Signal& s, const std::string& name) {
        MutableValuePtr v = s.values ? s.values->shallowCopy()
                                     : Value::makeDivided(s.isComplex ? Kind::Complex : Kind::Real, s.divisionLengths);
        describe(s, name)(*v);
        return v;
    };
    auto ref = build(data.reference, refName);
    bind(refName, ref);
    for (const auto& s : data.signals) {
        std::string script = prefixed(prefix, load::scriptName(s.name));
        auto v = build(s, script);
        v->setRef(ref);
        v->setRefPhysType(ref->physType());
        v->setRefName(refName);
        bind(prefixed(prefix, s.name), v);
        bind(script, v);
    }
}

bool Session::loadData(const std::string& path, std::string& error, std::vector<std::string>* warnings,
                       std::string_view prefix) {
    try {
        applyCallLimits();  // the Threads and MemoryLimitMB options hold for the load too
        load::DataSet data = load::openFile(path);
        if (warnings) {
            *warnings = data.warnings;
            std::vector<std::string> replaced;
            auto bound = [&](const std::string& name) { return vars_.count(lowerAscii(name)) != 0; };
            if (bound(prefixed(prefix, data.reference.name))) replaced.push_back(prefixed(prefix, data.reference.name));
            for (const auto& s : data.signals)
                if (const std::string name = prefixed(prefix, load::scriptName(s.name)); bound(name))
                    replaced.push_back(name);
            if (!replaced.empty()) {
                std::string list;
                for (const auto& r : replaced) list += (list.empty() ? "" : ", ") + r;
                warnings->push_back(path + ": replaces vectors loaded before: " + list);
            }
        }
        bindDataSet(data, prefix);
        return true;
    } catch (const std::bad_alloc&) {
        error = "Not enough memory to load '" + path + "'";
        return false;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

// What the evaluator itself builds (vector literals, named copies) may not
// fit either; the statement then fails and the session goes on.
constexpr const char* kStatementMemory = "Not enough memory to complete the statement";

bool Session::evaluate(std::string_view expression, ValuePtr& out, std::string& error) {
    try {
        expr::NodePtr tree = expr::parseExpression(expression);
        prefetch(*tree);
        return eval(*tree, out, error);
    } catch (const expr::ParseError& e) {
        error = e.what();
        return false;
    } catch (const std::bad_alloc&) {
        error = kStatementMemory;
        return false;
    }
}

bool Session::run(std::string_view source, const std::function<void(const ValuePtr&)>& onValue, std::string& error,
                  const std::function<void()>& afterStatement) {
    return runStatements(
        source,
        [&](const ValuePtr& v, const Statement& st) {
            if (st.assigned.empty() && onValue) onValue(v);
        },
        error, afterStatement);
}

bool Session::runStatements(std::string_view source,
                            const std::function<void(const ValuePtr&, const Statement&)>& onStatement,
                  std::string& error, const std::function<void()>& afterStatement) {
    expr::Program program;
    try {
        program = expr::parseProgram(source);
    } catch (const expr::ParseError& e) {
        error = e.what();
        return false;
    }
    for (size_t i = 0; i < program.statements.size(); ++i) {
        const expr::Node& st = *program.statements[i];
        ValuePtr v;
        try {
            prefetch(st);
            if (!eval(st, v, error)) return false;
        } catch (const std::bad_alloc&) {
            error = kStatementMemory;
            return false;
        }
        const bool assign = st.kind == expr::NodeKind::Assign;
        const auto [at, length] = program.spans[i];
        if (onStatement)
            onStatement(v, {source.substr(at, length), assign ? std::string_view(st.as<expr::AssignNode>().name) : ""});
        if (afterStatement) afterStatement();
    }
    return true;
}

// An operator whose operands cannot be paired (lengths that differ and are
// not 1, or kinds it does not combine) gives no result and no message: that
// is the operators' rule, which scripts test for. A person at the tool or the
// REPL would take the empty answer for a computed one, so they are told.
void Session::warnIfUnpaired(const expr::Operator& op, std::span<const ValuePtr> args, const ValuePtr& out) const {
    if (out && out->kind() != Kind::None) return;
    for (const ValuePtr& a : args)
        if (!a || a->kind() == Kind::None || a->size() == 0) return;
    caller_.warn("The operator '" + std::string(op.text) + "' gave no result: it cannot pair operands of " +
                 std::to_string(args[0]->size()) + " and " + std::to_string(args[1]->size()) + " elements");
}

namespace {

// Whether a call is Vec('name'), which names a vector the language cannot spell.
bool isVecCall(const expr::CallNode& c) {
    return !c.op && c.args.size() == 1 && c.args[0]->kind == expr::NodeKind::String && equalNoCase(c.name, "Vec");
}

template <typename Visit>
void forEachNameUsed(const expr::Node& n, const Visit& visit) {
    using expr::NodeKind;
    switch (n.kind) {
        case NodeKind::Name:
            visit(n.as<expr::NameNode>().name);
            break;
        case NodeKind::Assign:
            forEachNameUsed(*n.as<expr::AssignNode>().value, visit);
            break;
        case NodeKind::Vector:
            for (const auto& e : n.as<expr::VectorNode>().elements) forEachNameUsed(*e, visit);
            break;
        case NodeKind::Call: {
            const auto& c = n.as<expr::CallNode>();
            if (isVecCall(c)) visit(c.args[0]->as<expr::StringNode>().value);
            else
                for (const auto& a : c.args) forEachNameUsed(*a, visit);
            break;
        }
        default:
            break;
    }
}

}  // namespace

bool Session::eval(const expr::Node& n, ValuePtr& out, std::string& error) {
    using expr::NodeKind;
    switch (n.kind) {
        case NodeKind::Number:
            out = Value::real(n.as<expr::NumberNode>().value);
            return true;
        case NodeKind::String:
            out = Value::string(n.as<expr::StringNode>().value);
            return true;
        case NodeKind::Name: {
            return evalName(n.as<expr::NameNode>().name, out, error, "name");
        }
        case NodeKind::Assign: {
            const auto& a = n.as<expr::AssignNode>();
            if (!eval(*a.value, out, error)) return false;
            auto named = out->shallowCopy();
            named->setName(a.name);
            out = named;
            bind(a.name, out);
            return true;
        }
        case NodeKind::Vector: {
            const auto& v = n.as<expr::VectorNode>();
            std::vector<ValuePtr> parts(v.elements.size());
            for (size_t i = 0; i < parts.size(); ++i)
                if (!eval(*v.elements[i], parts[i], error)) return false;
            return joinElements(parts, out, error);
        }
        case NodeKind::Raw:
            error = "Cannot evaluate substituted text";
            return false;
        case NodeKind::Call:
            break;
    }
    const auto& c = n.as<expr::CallNode>();
    // Vec('any name') reaches vectors whose names the language cannot spell.
    if (isVecCall(c)) {
        return evalName(c.args[0]->as<expr::StringNode>().value, out, error, "vector");
    }
    const FuncConstruct* f = FunctionTable::global().find(c.name);
    if (!f) {
        std::vector<std::string> functions;
        for (const FuncConstruct* g : FunctionTable::global().all()) functions.push_back(g->name());
        error = "Unknown function '" + c.name + "'" + reference::didYouMean(c.name, functions);
        return false;
    }
    ValuePtr inline_[4];
    std::vector<ValuePtr> heap;
    std::span<ValuePtr> args;
    if (c.args.size() <= 4) args = std::span<ValuePtr>(inline_, c.args.size());
    else {
        heap.resize(c.args.size());
        args = heap;
    }
    for (size_t i = 0; i < c.args.size(); ++i)
        if (!eval(*c.args[i], args[i], error)) return false;
    // Ctrl-C abandons the statement at the next call (see Caller::call).
    if (!caller_.call(*f, args, out, error)) return false;
    if (c.op && args.size() == 2) warnIfUnpaired(*c.op, args, out);
    return true;
}

bool Session::evalName(const std::string& name, ValuePtr& out, std::string& error, const char* what) {
    out = lookup(name, error);
    if (out) return true;
    if (error.empty()) error = "Unknown " + std::string(what) + " '" + name + "'" + reference::didYouMean(name, names());
    return false;
}

void PendingVector::readTogether(std::span<const std::shared_ptr<PendingVector>> vectors) noexcept {
    // Per file, the columns to read: every vector asked for and its scale.
    try {
        std::vector<std::pair<load::LazyColumns*, std::vector<std::size_t>>> files;
        for (const std::shared_ptr<PendingVector>& p : vectors) {
            if (!p || p->ready()) continue;
            auto it = std::find_if(files.begin(), files.end(), [&](const auto& f) { return f.first == p->file_.get(); });
            if (it == files.end()) it = files.insert(files.end(), {p->file_.get(), {}});
            it->second.push_back(p->column_);
            if (p->reference_) it->second.push_back(p->reference_->column_);
        }
        for (auto& [file, columns] : files) file->prefetch(std::move(columns));
    } catch (const std::bad_alloc&) {
        // Nothing read together: each vector is then read on its own.
    }
}

void Session::prefetch(const expr::Node& statement) const {
    if (!anyPending_) return;  // nothing to read: a script without files pays nothing
    std::vector<std::shared_ptr<PendingVector>> named;
    forEachNameUsed(statement, [&](const std::string& name) {
        if (std::shared_ptr<PendingVector> p = pending(name); p && !p->ready()) named.push_back(std::move(p));
    });
    PendingVector::readTogether(named);
}

void Session::postCli() { Events::global().fire("PostCli"); }

void Session::exitCli() {
    Events::global().fire("ExitCli");
    Events::global().fire("Exit");
}

}  // namespace cv
