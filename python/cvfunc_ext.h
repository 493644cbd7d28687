// Shared parts of the _cvfunc extension: the Vector wrapper, the conversions
// between Python objects and host values, and the one host session.
#pragma once
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "FuncContract.h"
#include "Value.h"

namespace cvpy {

namespace py = pybind11;
using namespace pybind11::literals;

// The Python face of a host value. Values are immutable and shared, so a
// Vector never copies: arguments pass the same value on, and numpy sees its
// elements through a read-only view that keeps the value alive.
struct Vector {
    cv::ValuePtr value;
    // One element that a function gives as a number (Maximum, a count, a
    // yes/no): numpy sees shape (), as it sees a numpy scalar, so that a list
    // of such results makes a 1-D array.
    bool scalar = false;
    // For one value per run (a statistic over the runs of a file): the label
    // of the run each value belongs to. The value itself holds the labels
    // only as numbers (its x-values), so the package keeps the texts here.
    std::shared_ptr<const std::vector<std::string>> runs = nullptr;
};

// The extension's VectorBase, and the package's cvfunc.Vector: a subclass
// that adds what is better said in Python, null until the package has
// registered it (vector.cpp).
inline PyTypeObject* gVectorBase = nullptr;
inline PyTypeObject* gVectorClass = nullptr;

// The Python object of a Vector: an instance of the package's class, so that
// every result is one. Every Vector returned to Python goes through here
// (see the caster below).
py::handle newVector(Vector&& v);

// Whether `obj` is a Vector. A plain type check: isinstance asks the
// metaclass first, which costs more than the rest of reading a small argument.
// The package's own class first, since a check of a subclass walks its bases.
inline bool isVector(py::handle obj) {
    return Py_TYPE(obj.ptr()) == gVectorClass || PyObject_TypeCheck(obj.ptr(), gVectorBase);
}

// The Vector inside an object that isVector: read straight from the
// instance, since a pybind11 cast first looks the C++ type up in its
// registry, which costs more than the rest of reading a small argument.
inline Vector& vectorOf(py::handle obj) {
    auto* instance = reinterpret_cast<py::detail::instance*>(obj.ptr());
    return *static_cast<Vector*>(instance->get_value_and_holder().value_ptr());
}

}  // namespace cvpy

namespace pybind11::detail {

// Vectors given to Python by value become instances of the package's class.
// Those are read back directly: pybind11 reads an instance of a Python
// subclass only after a look-up in its registry of types.
template <>
class type_caster<cvpy::Vector> : public type_caster_base<cvpy::Vector> {
public:
    using type_caster_base<cvpy::Vector>::cast;
    static handle cast(cvpy::Vector&& v, return_value_policy, handle) { return cvpy::newVector(std::move(v)); }
    static handle cast(const cvpy::Vector& v, return_value_policy, handle) { return cvpy::newVector(cvpy::Vector(v)); }

    bool load(handle src, bool convert) {
        if (src && Py_TYPE(src.ptr()) == cvpy::gVectorClass) {
            load_value(reinterpret_cast<instance*>(src.ptr())->get_value_and_holder());
            return true;
        }
        return type_caster_base<cvpy::Vector>::load(src, convert);
    }
};

}  // namespace pybind11::detail

namespace cvpy {

// A Python object that cannot become a value. The caller adds where it
// happened ("values", "argument 2 of function 'X'") before it reaches Python.
struct ConvertError : std::runtime_error {
    ConvertError(bool typeError, const std::string& message) : std::runtime_error(message), isTypeError(typeError) {}
    bool isTypeError;  // else a ValueError
};

// ---- calls (cvfunc_module.cpp, function.cpp)

// Calls script function `name` (`f` when already found) with Python
// arguments: what cvfunc.call and every cvfunc.NAME run.
py::object callScript(std::string_view name, const FuncConstruct* f, std::span<PyObject* const> args);
// cvfunc.Error, what a failing call raises.
PyObject* errorClass();
// Inside a catch block: the exception caught, set as Python's error; null,
// for a function called from CPython to return.
PyObject* raiseCaught();
// The type of cvfunc.NAME: a callable called the way CPython calls its own
// functions (function.cpp).
void registerFunctionType(py::module_& m);

// ---- Python -> value (convert.cpp)

// A Python object checked and measured, ready to be copied into a value of
// any division layout: one pass to classify, one pass (a memcpy for numeric
// numpy arrays) to fill.
struct Prepared {
    enum class Source { Array, Numbers, Strings, Value, None };
    Source source = Source::Numbers;
    cv::Kind kind = cv::Kind::Real;
    int64_t size = 0;
    // Source::Array: C-contiguous float64 or complex128. Null until set: a
    // default py::array would make an empty numpy array for every argument.
    py::array array = py::reinterpret_borrow<py::array>(py::handle());
    bool privateArray = false;  // `array` was made by a conversion: nobody else sees it
    py::object items;      // Source::Numbers / Strings: a list or tuple
    cv::ValuePtr value;    // Source::Value
};

Prepared prepare(py::handle obj);

// How a value may use the memory of a numpy array it is made from. Values
// never change once built, so sharing is sound only while nobody writes to
// that memory:
//   Copy    always copy (values that live on in the session: bind);
//   Borrow  share for the length of one call; the caller copies whatever of
//           the result still points into the array afterwards (see Borrowed);
//   Freeze  share for good, making the array read-only; copy when that cannot
//           protect the memory (a writeable view of another array).
enum class Share { Copy, Borrow, Freeze };

// A numpy array lent to a call, so that the call's result can be cut loose
// from it afterwards.
struct Borrowed {
    const unsigned char* begin = nullptr;
    size_t bytes = 0;
    std::weak_ptr<void> owner;  // alive while some value still uses the memory
    py::array array;
    bool holds(const void* p) const {
        auto* c = static_cast<const unsigned char*>(p);
        return c >= begin && c < begin + bytes;
    }
};

// A new value of the prepared elements; `layout` (division lengths, summing to
// the size) empty for one division. `borrowed` collects what Share::Borrow lent.
cv::MutableValuePtr build(const Prepared& p, std::span<const int64_t> layout, Share share = Share::Copy,
                          std::vector<Borrowed>* borrowed = nullptr);
// An argument of a script function: a Vector passes its own value, None the
// empty value (which the host refuses with its own message). With `borrowed`
// large numpy arrays are lent rather than copied (Share::Borrow).
cv::ValuePtr argumentValue(py::handle obj, std::vector<Borrowed>* borrowed = nullptr);
// `v`, or a copy of it that no longer uses memory lent by `borrowed`.
cv::ValuePtr detached(const cv::ValuePtr& v, const std::vector<Borrowed>& borrowed);
// A physical type given by name or code; `what` names the parameter in messages.
PhysType physTypeOf(py::handle obj, const char* what);

// ---- value -> Python (convert.cpp)

py::str text(std::string_view s);
// The elements: a read-only numpy view for numbers, a list of str for strings,
// None for a value without elements.
py::object elements(const cv::ValuePtr& v);
// The x-values: as `elements`, a complex reference whose imaginary parts are
// all 0 being seen as real.
py::object referenceElements(const cv::ValuePtr& ref);
// An element as a Python scalar of its own kind.
py::object scalarAt(const cv::Value& v, int64_t i);
py::object wrap(cv::ValuePtr v, bool scalar = false);
// What was built, without a declared kind: as `result`, a single string
// being a str.
py::object natural(const cv::ValuePtr& v);
// The result of a script function: a Vector for numbers (one element
// included), str or list of str for text without divisions or reference
// (str when the function declares one string), None for nothing.
py::object result(cv::ValuePtr v, PythonReturnType declared);
const char* argKindWord(argType k);

// ---- the Vector class (vector.cpp): VectorBase, and _use_vector_class,
// with which the package registers its cvfunc.Vector.
void registerVector(py::module_& m);

}  // namespace cvpy
