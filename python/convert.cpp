// Conversions between Python objects and host values.
//
// Into the host, the common cases cost one pass: a contiguous float64 or
// complex128 array is one memcpy, a list of Python numbers one loop. Out of
// the host, numbers are never copied: numpy gets a read-only view whose base
// holds the value, so the data lives as long as any view of it.
#include <array>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <memory>
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
    p.privateArray = !p.array.is(a);
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

// Arrays smaller than this are copied when lent: a copy costs less than the
// bookkeeping of sharing.
constexpr size_t kLendBytes = 4096;

namespace npy = py::detail;

bool writeable(PyObject* a) { return npy::array_proxy(a)->flags & npy::npy_api::NPY_ARRAY_WRITEABLE_; }

// Whether the memory of `a` can be kept unchanged for good: `a` owns it (and
// is made read-only), or it and every array below it are read-only already
// and the memory ends in an immutable object (bytes, or a value of ours).
bool canFreeze(const py::array& a, bool& clearFlag) {
    clearFlag = false;
    PyObject* o = a.ptr();
    if (writeable(o)) {
        if (!(npy::array_proxy(o)->flags & npy::npy_api::NPY_ARRAY_OWNDATA_)) return false;
        clearFlag = true;
        return true;
    }
    while (o && npy::npy_api::get().PyArray_Check_(o)) {
        if (writeable(o)) return false;
        o = npy::array_proxy(o)->base;
    }
    return !o || PyCapsule_CheckExact(o) || PyBytes_CheckExact(o);
}

// Holds a Python object for a value; the value may go in any thread, with or
// without the GIL, so the release takes it. At interpreter shutdown the
// reference is left to the process's end.
std::shared_ptr<void> keepAlive(py::object o) {
    return std::shared_ptr<void>(o.release().ptr(), [](void* p) {
#if PY_VERSION_HEX >= 0x030D0000
        if (!Py_IsInitialized() || Py_IsFinalizing()) return;
#else
        if (!Py_IsInitialized() || _Py_IsFinalizing()) return;
#endif
        PyGILState_STATE g = PyGILState_Ensure();
        Py_DECREF(static_cast<PyObject*>(p));
        PyGILState_Release(g);
    });
}

// A value over the array's own memory, or null when it is to be copied.
cv::MutableValuePtr shared(const Prepared& p, std::span<const int64_t> layout, Share share,
                           std::vector<Borrowed>* borrowed) {
    const size_t bytes = size_t(p.size) * cv::elementSize(p.kind);
    if (p.size == 0) return nullptr;
    bool lend = false;
    if (p.privateArray) {
        if (bytes < kLendBytes) return nullptr;
    } else if (share == Share::Freeze) {
        bool clearFlag = false;
        if (!canFreeze(p.array, clearFlag)) return nullptr;
        if (clearFlag) npy::array_proxy(p.array.ptr())->flags &= ~npy::npy_api::NPY_ARRAY_WRITEABLE_;
    } else if (share == Share::Borrow && borrowed && bytes >= kLendBytes) {
        lend = true;
    } else {
        return nullptr;
    }
    void* data = const_cast<void*>(p.array.data());
    std::shared_ptr<void> owner = keepAlive(p.array);
    if (lend)
        borrowed->push_back(Borrowed{static_cast<const unsigned char*>(data), bytes, owner, p.array});
    return cv::Value::adopt(p.kind, layout, p.size, data, std::move(owner));
}

}  // namespace

Prepared prepare(py::handle obj) {
    PyObject* o = obj.ptr();
    if (PyList_Check(o) || PyTuple_Check(o)) return fromSequence(obj, false);
    Prepared p;
    if (isVector(obj)) {
        p.source = Prepared::Source::Value;
        p.value = vectorOf(obj).value;
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

cv::MutableValuePtr build(const Prepared& p, std::span<const int64_t> layout, Share share,
                          std::vector<Borrowed>* borrowed) {
    if (p.source == Prepared::Source::Array)
        if (cv::MutableValuePtr v = shared(p, layout, share, borrowed)) return v;
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

cv::ValuePtr argumentValue(py::handle obj, std::vector<Borrowed>* borrowed) {
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
    if (isVector(obj)) return vectorOf(obj).value;
    Prepared p = prepare(obj);
    if (p.source == Prepared::Source::Value) return p.value;
    return build(p, {}, borrowed ? Share::Borrow : Share::Copy, borrowed);
}

namespace {

bool lent(const cv::ValuePtr& v, const std::vector<Borrowed>& borrowed) {
    if (!v || !v->size()) return false;
    for (const Borrowed& b : borrowed)
        if (b.holds(v->rawData())) return true;
    return false;
}

// The elements of `v` copied, with its division layout and its own metadata
// but without its reference.
cv::MutableValuePtr elementCopy(const cv::ValuePtr& v) {
    Prepared p;
    p.source = Prepared::Source::Value;
    p.value = v;
    p.kind = v->kind();
    p.size = v->size();
    std::vector<int64_t> layout = v->divisionLengths();
    cv::MutableValuePtr c = build(p, layout.size() > 1 ? std::span<const int64_t>(layout) : std::span<const int64_t>());
    c->setPhysType(v->physType());
    c->setRefPhysType(v->refPhysType());
    c->setName(v->name());
    c->setRefName(v->refName());
    c->setDivisionLabels(v->divisionLabels());
    return c;
}

}  // namespace

cv::ValuePtr detached(const cv::ValuePtr& v, const std::vector<Borrowed>& borrowed) {
    if (borrowed.empty() || !v) return v;
    const bool values = lent(v, borrowed), ref = lent(v->ref(), borrowed);
    if (!values && !ref) return v;
    cv::MutableValuePtr c = values ? elementCopy(v) : v->shallowCopy();
    if (values) c->setRef(v->ref());
    if (ref) c->setRef(elementCopy(v->ref()));
    return c;
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

namespace {

bool ascii(std::string_view s) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t n = s.size(), i = 0;
    uint64_t any = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        any |= w;
    }
    for (; i < n; ++i) any |= p[i];
    return !(any & 0x8080808080808080ull);
}

}  // namespace

py::str text(std::string_view s) {
    // Most texts of a simulation are ASCII: built directly, without the
    // decoder's per-call set-up (a list of 10^6 short names spent half its
    // time there).
    if (s.size() > 1 && ascii(s)) {
        PyObject* u = PyUnicode_New(Py_ssize_t(s.size()), 127);
        if (!u) throw py::error_already_set();
        std::memcpy(PyUnicode_1BYTE_DATA(u), s.data(), s.size());
        return py::reinterpret_steal<py::str>(u);
    }
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

// Lists of texts repeat themselves: node and part names, units, keywords,
// the same field of every record. A short text met again while a list is
// built is the same str object (Python's str is immutable, so nothing can
// tell, as with an interned string): no second object and no second copy of
// its bytes. The table is direct-mapped and only remembers; a miss costs a
// hash of a few bytes.
class RepeatedTexts {
public:
    static constexpr size_t kLongest = 32;

    PyObject* make(std::string_view s) {
        if (s.size() < 2 || s.size() > kLongest) return text(s).release().ptr();
        const uint64_t h = hash(s);
        Slot& slot = slots_[h & (kSlots - 1)];
        // The hash is compared first, from the table: a text seen once does
        // not fetch the object it displaced.
        if (slot.text && slot.hash == h && size_t(PyUnicode_GET_LENGTH(slot.text)) == s.size() &&
            std::memcmp(PyUnicode_1BYTE_DATA(slot.text), s.data(), s.size()) == 0) {
            Py_INCREF(slot.text);
            return slot.text;
        }
        PyObject* u = text(s).release().ptr();
        // Only ASCII texts are kept: their characters are their bytes.
        if (PyUnicode_IS_COMPACT_ASCII(u)) slot = {u, h};
        return u;
    }

private:
    static constexpr size_t kSlots = 4096;
    template <class T>
    static uint64_t load(const char* p) {
        T w;
        std::memcpy(&w, p, sizeof w);
        return w;
    }
    // Of 2 to kLongest bytes, read as whole words: the last word overlaps
    // the one before rather than being put together byte by byte (whose
    // stores the next load would wait for). The length goes in too.
    static uint64_t hash(std::string_view s) {
        const char* p = s.data();
        const size_t n = s.size();
        uint64_t h = n * 0x9e3779b97f4a7c15ull;
        if (n >= 8) {
            for (size_t i = 0; i + 8 < n; i += 8) h = (h ^ load<uint64_t>(p + i)) * 0xff51afd7ed558ccdull;
            h ^= load<uint64_t>(p + n - 8);
        } else if (n >= 4) {
            h ^= load<uint32_t>(p) | load<uint32_t>(p + n - 4) << 32;
        } else {
            h ^= load<uint16_t>(p) | uint64_t(static_cast<unsigned char>(p[n - 1])) << 16;
        }
        h *= 0xc4ceb9fe1a85ec53ull;
        return h ^ (h >> 32);
    }
    struct Slot {
        PyObject* text = nullptr;  // borrowed: the list being built holds it
        uint64_t hash = 0;
    };
    std::array<Slot, kSlots> slots_{};
};

py::list stringList(const cv::Value& v) {
    py::list out(size_t(v.size()));
    // A short list is not worth clearing the table for.
    if (v.size() < 256) {
        for (int64_t i = 0; i < v.size(); ++i) PyList_SET_ITEM(out.ptr(), i, text(v.stringAt(i)).release().ptr());
        return out;
    }
    auto repeated = std::make_unique<RepeatedTexts>();
    for (int64_t i = 0; i < v.size(); ++i) PyList_SET_ITEM(out.ptr(), i, repeated->make(v.stringAt(i)));
    return out;
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

py::object wrap(cv::ValuePtr v, bool scalar) { return py::cast(Vector{std::move(v), scalar}); }

py::object natural(const cv::ValuePtr& v) { return result(v, PyNone); }

py::object result(cv::ValuePtr v, PythonReturnType declared) {
    if (!v || v->kind() == Kind::None) return py::none();
    // Text has no unit and rarely a reference: Python's own str and list
    // serve it better than an array type, unless runs would be lost.
    if (v->kind() == Kind::String && !v->ref() && v->numDivisions() == 1) {
        const bool one = declared == PyString || declared == PyString2 || declared == PyNone;
        if (one && v->size() == 1) return text(v->stringAt(0));
        return stringList(*v);
    }
    bool scalar = false;
    switch (declared) {
        case PyBool:
        case PyInteger:
        case PyInteger2:
        case PyInteger64:
        case PyReal:
        case PyReal2:
        case PyNone:  // a value of the language: one element is a number
            scalar = v->size() == 1 && v->numDivisions() == 1;
            break;
        default:
            break;
    }
    return wrap(std::move(v), scalar);
}

py::object referenceElements(const cv::ValuePtr& ref) {
    if (!ref) return py::none();
    if (ref->kind() == Kind::Complex) {
        // x-values stored as complex numbers (frequencies of a spectrum)
        // are real when every imaginary part is 0: a real view of them.
        const cv::cplx* z = ref->complexes();
        bool real = true;
        for (int64_t i = 0; i < ref->size() && real; ++i) real = z[i].imag() == 0.0;
        if (real) {
            auto* keep = new cv::ValuePtr(ref);
            py::capsule base(keep, [](void* p) { delete static_cast<cv::ValuePtr*>(p); });
            py::array a(py::dtype::of<double>(), {py::ssize_t(ref->size())}, {py::ssize_t(sizeof(cv::cplx))},
                        ref->rawData(), base);
            py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
            return a;
        }
    }
    return elements(ref);
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
