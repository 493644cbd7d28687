// Shared parts of the _cvfunc extension: the Vector wrapper, the conversions
// between Python objects and host values, and the one host session.
#pragma once
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
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
};

// A Python object that cannot become a value. The caller adds where it
// happened ("values", "argument 2 of function 'X'") before it reaches Python.
struct ConvertError : std::runtime_error {
    ConvertError(bool typeError, const std::string& message) : std::runtime_error(message), isTypeError(typeError) {}
    bool isTypeError;  // else a ValueError
};

// ---- Python -> value (convert.cpp)

// A Python object checked and measured, ready to be copied into a value of
// any division layout: one pass to classify, one pass (a memcpy for numeric
// numpy arrays) to fill.
struct Prepared {
    enum class Source { Array, Numbers, Strings, Value, None };
    Source source = Source::Numbers;
    cv::Kind kind = cv::Kind::Real;
    int64_t size = 0;
    py::array array;       // Source::Array: C-contiguous float64 or complex128
    py::object items;      // Source::Numbers / Strings: a list or tuple
    cv::ValuePtr value;    // Source::Value
};

Prepared prepare(py::handle obj);
// A new value of the prepared elements; `layout` (division lengths, summing to
// the size) empty for one division.
cv::MutableValuePtr build(const Prepared& p, std::span<const int64_t> layout);
// An argument of a script function: a Vector passes its own value, None the
// empty value (which the host refuses with its own message).
cv::ValuePtr argumentValue(py::handle obj);
// A physical type given by name or code; `what` names the parameter in messages.
PhysType physTypeOf(py::handle obj, const char* what);

// ---- value -> Python (convert.cpp)

py::str text(std::string_view s);
// The elements: a read-only numpy view for numbers, a list of str for strings,
// None for a value without elements.
py::object elements(const cv::ValuePtr& v);
// An element as a Python scalar of its own kind.
py::object scalarAt(const cv::Value& v, int64_t i);
py::object wrap(cv::ValuePtr v);
// What was built, without a declared kind: a Vector when it has a reference
// or divisions, else numpy array / list of str; None for nothing.
py::object natural(const cv::ValuePtr& v);
// The result of a script function, as its registration declares.
py::object result(const cv::ValuePtr& v, PythonReturnType declared);
const char* argKindWord(argType k);

// ---- the Vector class (vector.cpp)
void registerVector(py::module_& m);

}  // namespace cvpy
