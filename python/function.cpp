// cvfunc.NAME: the script functions as Python callables of their own type.
// A call by position goes straight to the host through CPython's vectorcall
// protocol: no argument tuple, no Python frame, the function found once.
// What needs Python's rules (keyword arguments, an optional argument given
// None by position) is handed to a Python function the package supplies.
// Instances carry a __dict__ for their name, documentation and signature,
// and are method descriptors that do not bind, so that inspect and help()
// treat them as routines.
#include "cvfunc_ext.h"

#include <structmember.h>

#include <new>
#include <string>

#include "FunctionTable.h"

namespace cvpy {

namespace {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    PyObject* dict;
    PyObject* byKeyword;   // called for keyword arguments
    PyObject* noneRetry;   // called when a call failed and an argument is None; or null
    std::string* name;
    const FuncConstruct* found;  // null until the first call
};

PyObject* callFunction(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    const Py_ssize_t n = PyVectorcall_NARGS(nargsf);
    if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) return PyObject_Vectorcall(f->byKeyword, args, nargsf, kwnames);
    try {
        // The table is asked once: its entries live as long as the module that made them, which is as long as
        // the package.
        if (!f->found) f->found = cv::FunctionTable::global().find(*f->name);
        return callScript(*f->name, f->found, {args, size_t(n)}).release().ptr();
    } catch (...) {
        raiseCaught();
    }
    bool none = false;
    for (Py_ssize_t i = 0; i < n; ++i) none = none || args[i] == Py_None;
    if (!none || !f->noneRetry || !PyErr_ExceptionMatches(errorClass())) return nullptr;
    PyErr_Clear();
    return PyObject_Vectorcall(f->noneRetry, args, nargsf, nullptr);
}

PyObject* newFunction(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    const char* name = nullptr;
    PyObject *byKeyword = nullptr, *noneRetry = Py_None;
    static const char* keywords[] = {"name", "by_keyword", "none_retry", nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "sO|O", const_cast<char**>(keywords), &name, &byKeyword,
                                     &noneRetry))
        return nullptr;
    auto* f = reinterpret_cast<FunctionObject*>(type->tp_alloc(type, 0));
    if (!f) return nullptr;
    try {
        f->name = new std::string(name);
    } catch (const std::bad_alloc&) {
        Py_DECREF(f);
        return PyErr_NoMemory();
    }
    f->vectorcall = callFunction;
    f->byKeyword = Py_NewRef(byKeyword);
    f->noneRetry = noneRetry == Py_None ? nullptr : Py_NewRef(noneRetry);
    return reinterpret_cast<PyObject*>(f);
}

int traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_VISIT(f->dict);
    Py_VISIT(f->byKeyword);
    Py_VISIT(f->noneRetry);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int clear(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->byKeyword);
    Py_CLEAR(f->noneRetry);
    return 0;
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear(self);
    delete reinterpret_cast<FunctionObject*>(self)->name;
    type->tp_free(self);
    Py_DECREF(type);
}

// As a class attribute it stays the function (as a staticmethod would).
PyObject* get(PyObject* self, PyObject*, PyObject*) { return Py_NewRef(self); }

PyObject* repr(PyObject* self) {
    return PyUnicode_FromFormat("<script function %s>", reinterpret_cast<FunctionObject*>(self)->name->c_str());
}

PyMemberDef members[] = {
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(FunctionObject, vectorcall), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(FunctionObject, dict), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(newFunction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(get)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_members, members},
    {Py_tp_doc, const_cast<char*>("A script function: _Function(name, by_keyword, none_retry=None).")},
    {0, nullptr},
};

PyType_Spec functionTypeDefinition = {
    "cvfunc._cvfunc._Function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL,
    slots,
};

}  // namespace

PyObject* raiseCaught() {
    try {
        throw;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

void registerFunctionType(py::module_& m) {
    PyObject* type = PyType_FromSpec(&functionTypeDefinition);
    if (!type) throw py::error_already_set();
    m.add_object("_Function", py::reinterpret_steal<py::object>(type));
}

}  // namespace cvpy
