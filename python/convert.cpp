// Conversions between Python objects and host values.
//
// Into the host, the common cases cost one pass: a contiguous float64 or
// complex128 array is one memcpy, a list of Python numbers one loop. Out of
// the host, numbers are never copied: numpy gets a read-only view whose base
// holds the value, so the data lives as long as any view of it.
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cvfunc_ext.h"

namespace cvpy {

namespace {

using cv::Kind;

[[noreturn]] void typeError(const std::string& m) { throw ConvertError(true, m); }
[[noreturn]] void valueError(const std::string& m) { throw ConvertError(false, m); }

std::string typeName(py::handle o) { return Py_TYPE(o.ptr())->tp_name; }

py::module_ numpy() {
    // Held for the life of the process: the extension cannot outlive numpy's use.
    static PyObject* np = py::module_::import("numpy").release().ptr();
    return py::reinterpret_borrow<py::module_>(np);
}

bool isNumpyScalar(py::handle o) {
    static PyObject* generic = py::object(numpy().attr("generic")).release().ptr();
    return PyObject_IsInstance(o.ptr(), generic) == 1;
}

std::string shapeText(const py::array& a) {
    std::string s = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d) s += (d ? ", " : "") + std::to_string(a.shape(d));
    return s + ")";
}

Prepared fromSequence(py::handle seq, bool elementsOfObjectArray);

Prepared fromArray(const py::array& a) {
    if (a.ndim() > 1) valueError("values must be one-dimensional, not an array of shape " + shapeText(a));
    Prepared p;
    p.source = Prepared::Source::Array;
    switch (a.dtype().kind()) {
        case 'f':
        case 'i':
        case 'u':
        case 'b':
            // Returns `a` itself when it is already contiguous native float64.
            p.array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
            p.kind = Kind::Real;
            break;
        case 'c':
            p.array = py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>::ensure(a);
            p.kind = Kind::Complex;
            break;
        case 'S':
            return fromSequence(a.attr("astype")("U").attr("reshape")(-1).attr("tolist")(), true);
        case 'U':
        case 'O':
            return fromSequence(a.attr("reshape")(-1).attr("tolist")(), true);
        default:
            typeError("a numpy array of dtype " + std::string(py::str(a.dtype())) + " cannot become a vector");
    }
    if (!p.array) throw py::error_already_set();
    p.size = int64_t(p.array.size());
    return p;
}

// Lists and tuples of Python numbers or of str are read directly; anything
// else in them (numpy scalars, nested lists) is left to numpy to sort out.
Prepared fromSequence(py::handle seq, bool elementsOfObjectArray) {
    py::object items = py::reinterpret_steal<py::object>(PySequence_Fast(seq.ptr(), "values must be a sequence"));
    if (!items) throw py::error_already_set();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.ptr());
    PyObject** it = PySequence_Fast_ITEMS(items.ptr());
    bool strings = false, numbers = false, complex = false;
    PyObject* odd = nullptr;
    for (Py_ssize_t i = 0; i < n && !odd; ++i) {
        PyObject* o = it[i];
        if (PyFloat_Check(o) || PyLong_Check(o)) numbers = true;
        else if (PyUnicode_Check(o)) strings = true;
        else if (PyComplex_Check(o)) numbers = complex = true;
        else odd = o;
    }
    if (odd) {
        std::string why = "a " + typeName(odd) + " cannot be an element of a vector";
        if (elementsOfObjectArray) typeError(why);
        py::object arr;
        try {
            arr = numpy().attr("asarray")(seq);
        } catch (py::error_already_set&) {
            typeError(why);
        }
        return fromArray(arr.cast<py::array>());
    }
    if (strings && numbers) typeError("a vector cannot mix strings and numbers");
    Prepared p;
    p.source = strings ? Prepared::Source::Strings : Prepared::Source::Numbers;
    p.kind = strings ? Kind::String : complex ? Kind::Complex : Kind::Real;
    p.items = std::move(items);
    p.size = int64_t(n);
    return p;
}

char* copyString(const char* s, size_t n) {
    char* c = static_cast<char*>(std::malloc(n + 1));
    if (!c) throw std::bad_alloc();
    if (n) std::memcpy(c, s, n);
    c[n] = '\0';
    return c;
}

}  // namespace

Prepared prepare(py::handle obj) {
    PyObject* o = obj.ptr();
    if (PyList_Check(o) || PyTuple_Check(o)) return fromSequence(obj, false);
    Prepared p;
    if (py::isinstance<Vector>(obj)) {
        p.source = Prepared::Source::Value;
        p.value = obj.cast<const Vector&>().value;
        p.kind = p.value->kind();
        p.size = p.value->size();
        return p;
    }
    if (o == Py_None) {
        p.source = Prepared::Source::None;
        p.kind = Kind::None;
        return p;
    }
    if (PyUnicode_Check(o) || PyFloat_Check(o) || PyLong_Check(o) || PyComplex_Check(o))
        return fromSequence(py::make_tuple(obj), true);
    if (py::isinstance<py::array>(obj)) return fromArray(py::reinterpret_borrow<py::array>(obj));
    if (isNumpyScalar(obj)) return fromArray(numpy().attr("asarray")(obj).cast<py::array>());
    if (PyBytes_Check(o) || PyByteArray_Check(o)) typeError("bytes cannot become a vector: decode them to str");
    if (PyDict_Check(o) || PyAnySet_Check(o))
        typeError("a " + typeName(obj) + " cannot become a vector: its order is not the order of a vector");
    if (py::hasattr(obj, "__array__")) return fromArray(numpy().attr("asarray")(obj).cast<py::array>());
    if (PySequence_Check(o)) return fromSequence(obj, false);
    if (PyIter_Check(o)) return fromSequence(py::list(py::reinterpret_borrow<py::iterable>(obj)), false);
    typeError("a " + typeName(obj) +
              " cannot become a vector: use a number, a str, a list or tuple of them, a numpy array or a "
              "cvfunc.Vector");
}

cv::MutableValuePtr build(const Prepared& p, std::span<const int64_t> layout) {
    cv::MutableValuePtr v = layout.empty() ? cv::Value::make(p.kind, p.size) : cv::Value::makeDivided(p.kind, layout);
    const int64_t n = p.size;
    void* out = v->mutableData();
    switch (p.source) {
        case Prepared::Source::Array:
            if (n) std::memcpy(out, p.array.data(), size_t(n) * cv::elementSize(p.kind));
            break;
        case Prepared::Source::Numbers: {
            PyObject** it = PySequence_Fast_ITEMS(p.items.ptr());
            if (p.kind == Kind::Complex) {
                auto* z = static_cast<cv::cplx*>(out);
                for (int64_t i = 0; i < n; ++i) {
                    Py_complex c = PyComplex_AsCComplex(it[i]);
                    if (c.real == -1.0 && PyErr_Occurred()) throw py::error_already_set();
                    z[i] = {c.real, c.imag};
                }
            } else {
                auto* x = static_cast<double*>(out);
                for (int64_t i = 0; i < n; ++i) {
                    PyObject* o = it[i];
                    x[i] = PyFloat_CheckExact(o) ? PyFloat_AS_DOUBLE(o) : PyFloat_AsDouble(o);
                    if (x[i] == -1.0 && PyErr_Occurred()) throw py::error_already_set();
                }
            }
            break;
        }
        case Prepared::Source::Strings: {
            PyObject** it = PySequence_Fast_ITEMS(p.items.ptr());
            auto* s = static_cast<char**>(out);
            for (int64_t i = 0; i < n; ++i) {
                Py_ssize_t len = 0;
                const char* u = PyUnicode_AsUTF8AndSize(it[i], &len);
                if (!u) throw py::error_already_set();
                s[i] = copyString(u, size_t(len));
            }
            break;
        }
        case Prepared::Source::Value: {
            const cv::Value& src = *p.value;
            if (p.kind == Kind::String) {
                auto* s = static_cast<char**>(out);
                for (int64_t i = 0; i < n; ++i)
                    if (const char* t = src.strings()[i]) s[i] = copyString(t, std::strlen(t));
            } else if (n && p.kind != Kind::None) {
                std::memcpy(out, src.rawData(), size_t(n) * cv::elementSize(p.kind));
            }
            break;
        }
        case Prepared::Source::None:
            break;
    }
    return v;
}

cv::ValuePtr argumentValue(py::handle obj) {
    PyObject* o = obj.ptr();
    // Scalars first: they are most of the arguments of most calls.
    if (PyFloat_Check(o)) return cv::Value::real(PyFloat_AS_DOUBLE(o));
    if (o == Py_None) return cv::Value::none();
    if (PyLong_Check(o)) {
        double x = PyLong_AsDouble(o);
        if (x == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        return cv::Value::real(x);
    }
    if (PyUnicode_Check(o)) {
        Py_ssize_t len = 0;
        const char* u = PyUnicode_AsUTF8AndSize(o, &len);
        if (!u) throw py::error_already_set();
        return cv::Value::string(std::string_view(u, size_t(len)));
    }
    if (PyComplex_Check(o)) return cv::Value::complex({PyComplex_RealAsDouble(o), PyComplex_ImagAsDouble(o)});
    Prepared p = prepare(obj);
    if (p.source == Prepared::Source::Value) return p.value;
    return build(p, {});
}

PhysType physTypeOf(py::handle obj, const char* what) {
    PyObject* o = obj.ptr();
    if (PyUnicode_Check(o)) {
        std::string name = obj.cast<std::string>();
        PhysType t = sp_GetPhysTypeFromName(name);
        if (t == PhysType::Unknown && std::string_view(sp_GetPhysTypeName(t)) != name)
            valueError(std::string(what) + ": unknown physical type '" + name + "'");
        return t;
    }
    if (PyLong_Check(o) && !PyBool_Check(o)) {
        long long code = PyLong_AsLongLong(o);
        if (code == -1 && PyErr_Occurred()) throw py::error_already_set();
        if (code < 0 || code >= PhysType::NumCodes)
            valueError(std::string(what) + ": no physical type has code " + std::to_string(code));
        return PhysType(int(code));
    }
    typeError(std::string(what) + " must be a name (str) or a code (int), not " + typeName(obj));
}

// ---------------------------------------------------------------- value -> Python

py::str text(std::string_view s) {
    PyObject* u = PyUnicode_DecodeUTF8(s.data(), Py_ssize_t(s.size()), "replace");
    if (!u) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(u);
}

namespace {

py::array view(const cv::ValuePtr& v, const py::dtype& dt) {
    auto* keep = new cv::ValuePtr(v);
    py::capsule base(keep, [](void* p) { delete static_cast<cv::ValuePtr*>(p); });
    py::array a(dt, {py::ssize_t(v->size())}, {py::ssize_t(dt.itemsize())}, v->rawData(), base);
    // Values are shared between Vectors, arguments and results: writing
    // through one view would change them all.
    py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return a;
}

py::list stringList(const cv::Value& v) {
    py::list out(size_t(v.size()));
    for (int64_t i = 0; i < v.size(); ++i) PyList_SET_ITEM(out.ptr(), i, text(v.stringAt(i)).release().ptr());
    return out;
}

py::array realArray(const cv::Value& v) {
    py::array_t<double> a(py::ssize_t(v.size()));
    double* x = a.mutable_data();
    for (int64_t i = 0; i < v.size(); ++i) x[i] = v.realAt(i);
    return a;
}

bool allIntegral(const cv::Value& v) {
    const double* x = v.reals();
    for (int64_t i = 0; i < v.size(); ++i)
        if (!(std::trunc(x[i]) == x[i] && std::fabs(x[i]) < 9.2e18)) return false;
    return true;
}

py::array int64Array(const cv::Value& v) {
    py::array_t<int64_t> a(py::ssize_t(v.size()));
    int64_t* x = a.mutable_data();
    for (int64_t i = 0; i < v.size(); ++i) x[i] = int64_t(v.realAt(i));
    return a;
}

py::array boolArray(const cv::Value& v) {
    py::array_t<bool> a(py::ssize_t(v.size()));
    bool* x = a.mutable_data();
    for (int64_t i = 0; i < v.size(); ++i) x[i] = v.complexAt(i) != cv::cplx(0.0, 0.0);
    return a;
}

}  // namespace

py::object elements(const cv::ValuePtr& v) {
    if (!v) return py::none();
    switch (v->kind()) {
        case Kind::Real: return view(v, py::dtype::of<double>());
        case Kind::Complex: return view(v, py::dtype::of<std::complex<double>>());
        case Kind::Integer: return view(v, py::dtype::of<int32_t>());
        case Kind::Integer64: return view(v, py::dtype::of<int64_t>());
        case Kind::Bool: return view(v, py::dtype::of<bool>());
        case Kind::String: return stringList(*v);
        case Kind::None: break;
    }
    return py::none();
}

py::object scalarAt(const cv::Value& v, int64_t i) {
    switch (v.kind()) {
        case Kind::Real: return py::float_(v.reals()[i]);
        case Kind::Complex: {
            cv::cplx z = v.complexes()[i];
            return py::reinterpret_steal<py::object>(PyComplex_FromDoubles(z.real(), z.imag()));
        }
        case Kind::Integer: return py::int_(v.integers()[i]);
        case Kind::Integer64: return py::int_(v.integers64()[i]);
        case Kind::Bool: return py::bool_(v.bools()[i]);
        case Kind::String: return text(v.stringAt(i));
        case Kind::None: break;
    }
    return py::none();
}

py::object wrap(cv::ValuePtr v) { return py::cast(Vector{std::move(v)}); }

py::object natural(const cv::ValuePtr& v) {
    if (!v || v->kind() == Kind::None) return py::none();
    if (v->ref() || v->numDivisions() > 1) return wrap(v);
    return elements(v);
}

py::object result(const cv::ValuePtr& v, PythonReturnType declared) {
    if (!v || v->kind() == Kind::None) return py::none();
    const Kind k = v->kind();
    const bool numeric = v->isNumeric();
    const bool single = v->size() == 1 && v->numDivisions() == 1;
    switch (declared) {
        case PyBool:
            if (single && numeric) return py::bool_(v->complexAt(0) != cv::cplx(0.0, 0.0));
            break;
        case PyInteger:
        case PyInteger2:
        case PyInteger64:
            if (single && numeric && k != Kind::Complex) {
                if (k != Kind::Real) return py::int_(py::object(scalarAt(*v, 0)));
                double x = v->reals()[0];
                // A count that came out as NaN or 2.5 is not an integer: say what it is.
                if (std::isfinite(x) && std::trunc(x) == x)
                    return py::reinterpret_steal<py::object>(PyLong_FromDouble(x));
                return py::float_(x);
            }
            break;
        case PyReal:
        case PyReal2:
            if (single && numeric) return k == Kind::Complex ? scalarAt(*v, 0) : py::float_(v->realAt(0));
            break;
        case PyString:
        case PyString2:
            if (single && k == Kind::String) return text(v->stringAt(0));
            break;
        case PyStringList:
            if (k == Kind::String) return stringList(*v);
            break;
        case PyRealVector:
            if (k == Kind::Real || k == Kind::Complex) return elements(v);
            if (numeric) return realArray(*v);
            break;
        case PyIntegerVector:
            if (k == Kind::Integer || k == Kind::Integer64) return elements(v);
            if (k == Kind::Bool || (k == Kind::Real && allIntegral(*v))) return int64Array(*v);
            break;
        case PyBoolVector:
            if (k == Kind::Bool) return elements(v);
            if (numeric) return boolArray(*v);
            break;
        case PyVector:
            if (!numeric) break;
            if (v->ref() || v->numDivisions() > 1) return wrap(v);
            if (k == Kind::Real || k == Kind::Complex) return elements(v);
            return realArray(*v);
        case PyNone:
            break;
    }
    return natural(v);
}


const char* argKindWord(argType k) {
    switch (k) {
        case ArgNumeric: return "numeric";
        case ArgString: return "string";
        case ArgAnyVector: return "any vector";
        case ArgAny: return "any";
        case ArgReal: return "real";
    }
    return "unknown";
}

}  // namespace cvpy
