// The compiled part of cvfunc.Vector (VectorBase): a host value seen from
// Python, with its reference, divisions, physical types and names. The
// package's cvfunc.Vector subclasses it with what is better said in Python
// (representation, indexing, operators, tables, plots) and registers itself
// here, so that every Vector the extension makes is one of that class.
#include <algorithm>
#include <cmath>
#include <complex>
#include <numeric>
#include <optional>

#include "cvfunc_ext.h"

namespace cvpy {

namespace {

// Raises the Python exception that fits a conversion failure, prefixed with
// the parameter it came from.
template <class F>
auto converting(const char* what, F&& f) {
    try {
        return f();
    } catch (const ConvertError& e) {
        std::string m = std::string(what) + ": " + e.what();
        if (e.isTypeError) throw py::type_error(m);
        throw py::value_error(m);
    }
}

std::vector<int64_t> divisionLayout(py::handle divisions) {
    if (PyUnicode_Check(divisions.ptr()) || !PySequence_Check(divisions.ptr()))
        throw py::type_error("divisions must be a list of division lengths");
    std::vector<int64_t> out;
    for (py::handle item : py::reinterpret_borrow<py::sequence>(divisions)) {
        py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(item.ptr()));
        if (!index) {
            PyErr_Clear();
            throw py::type_error("divisions: a division length must be an int, not " +
                                 std::string(Py_TYPE(item.ptr())->tp_name));
        }
        long long n = PyLong_AsLongLong(index.ptr());
        if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
        if (n < 0) throw py::value_error("divisions: a division length cannot be negative (" + std::to_string(n) + ")");
        out.push_back(n);
    }
    return out;
}

// A value of the prepared elements in `layout`, sharing the source value's
// storage when it already has that layout.
cv::MutableValuePtr laidOut(const Prepared& p, const std::vector<int64_t>& layout, Share share) {
    if (p.source == Prepared::Source::Value) {
        std::vector<int64_t> own = p.value->divisionLengths();
        if (layout.empty() ? own.size() == 1 : own == layout) return p.value->shallowCopy();
    }
    return build(p, layout.size() > 1 ? std::span<const int64_t>(layout) : std::span<const int64_t>(), share);
}

// The reference of a value with `lengths` divisions: either the same layout,
// or one division that serves every division of equal length.
cv::MutableValuePtr referenceFor(const Prepared& r, const std::vector<int64_t>& lengths, int64_t size,
                                 Share share) {
    if (r.size == size) return laidOut(r, lengths, share);
    bool shared = lengths.size() > 1 &&
                  std::all_of(lengths.begin(), lengths.end(), [&](int64_t n) { return n == r.size; });
    if (shared) return laidOut(r, {}, share);
    throw py::value_error("ref has " + std::to_string(r.size) + " values, but values has " + std::to_string(size) +
                          (lengths.size() > 1 ? " (or divisions of " + std::to_string(r.size) + ")" : ""));
}

// The small arguments of Vector(...), checked before any data is copied.
struct VectorOptions {
    bool relayout = false;  // divisions= given
    std::vector<int64_t> layout;
    bool hasPhys = false, hasRefPhys = false;
    PhysType physType, refPhysType;
    bool hasLabels = false;
    std::vector<std::string> labels;
};

VectorOptions checkOptions(py::object phys, py::object refPhys, py::object divisions, py::object name,
                           py::object labels) {
    VectorOptions o;
    o.relayout = !divisions.is_none();
    if (o.relayout) o.layout = divisionLayout(divisions);
    o.hasPhys = !phys.is_none();
    o.hasRefPhys = !refPhys.is_none();
    if (o.hasPhys) o.physType = converting("phys", [&] { return physTypeOf(phys, "phys"); });
    if (o.hasRefPhys) o.refPhysType = converting("ref_phys", [&] { return physTypeOf(refPhys, "ref_phys"); });
    if (!name.is_none() && !PyUnicode_Check(name.ptr())) throw py::type_error("name must be a str");
    o.hasLabels = !labels.is_none();
    if (o.hasLabels) {
        if (PyUnicode_Check(labels.ptr()) || !PySequence_Check(labels.ptr()))
            throw py::type_error("labels must be a list of str, one per division");
        for (py::handle l : py::reinterpret_borrow<py::sequence>(labels)) {
            if (!PyUnicode_Check(l.ptr())) throw py::type_error("labels must be a list of str, one per division");
            o.labels.push_back(l.cast<std::string>());
        }
    }
    return o;
}

// A Vector given new divisions keeps what still fits them: its physical
// type, its names, its reference (unless a new one is given) and its labels.
void keepWhatFits(cv::Value& v, const cv::Value& src, bool refGiven, Share share) {
    v.setPhysType(src.physType());
    v.setName(src.name());
    if (src.ref() && !refGiven) {
        Prepared r;
        r.source = Prepared::Source::Value;
        r.value = src.ref();
        r.kind = src.ref()->kind();
        r.size = src.ref()->size();
        try {
            v.setRef(referenceFor(r, v.divisionLengths(), v.size(), share));
        } catch (const py::value_error&) {
            throw py::value_error("the reference of values does not fit the new divisions: pass ref= too");
        }
        v.setRefPhysType(src.refPhysType());
        v.setRefName(src.refName());
    }
    if (int64_t(src.divisionLabels().size()) == v.numDivisions()) v.setDivisionLabels(src.divisionLabels());
}

// ref= as the reference of v: named and typed after itself when it is a
// Vector, ref_phys= having the last word on the type.
void setReference(cv::Value& v, py::object ref, const VectorOptions& o, Share share) {
    Prepared r = converting("ref", [&] { return prepare(ref); });
    if (r.kind == cv::Kind::String || r.kind == cv::Kind::None)
        throw py::type_error("ref must be numeric (real or complex x-values)");
    if (r.source == Prepared::Source::Value && r.kind != cv::Kind::Real && r.kind != cv::Kind::Complex) {
        r.value = r.value->convertedTo(cv::Kind::Real);
        r.kind = cv::Kind::Real;
    }
    cv::MutableValuePtr rv = referenceFor(r, v.divisionLengths(), v.size(), share);
    std::string refName = r.source == Prepared::Source::Value ? r.value->name() : std::string();
    PhysType refType = r.source == Prepared::Source::Value ? r.value->physType() : PhysType();
    if (o.hasRefPhys) refType = o.refPhysType;
    rv->setPhysType(refType);
    rv->setName(refName);
    v.setRef(rv);
    v.setRefName(refName);
    v.setRefPhysType(refType);
}

Vector makeVector(py::object values, py::object ref, py::object phys, py::object refPhys, py::object divisions,
                  py::object name, py::object labels, bool copy) {
    const Share share = copy ? Share::Copy : Share::Freeze;
    VectorOptions o = checkOptions(phys, refPhys, divisions, name, labels);
    Prepared p = converting("values", [&] { return prepare(values); });
    if (p.source == Prepared::Source::None)
        throw py::type_error("values: None cannot become a vector (an empty list makes an empty one)");
    if (o.relayout) {
        int64_t total = std::accumulate(o.layout.begin(), o.layout.end(), int64_t(0));
        if (total != p.size)
            throw py::value_error("divisions add up to " + std::to_string(total) + ", but there are " +
                                  std::to_string(p.size) + " values");
    }

    cv::MutableValuePtr v;
    if (p.source == Prepared::Source::Value && !o.relayout) {
        v = p.value->shallowCopy();
    } else {
        v = laidOut(p, o.layout, share);
        if (p.source == Prepared::Source::Value) keepWhatFits(*v, *p.value, !ref.is_none(), share);
    }
    if (!ref.is_none()) {
        setReference(*v, ref, o, share);
    } else if (o.hasRefPhys) {
        if (!v->ref()) throw py::value_error("ref_phys needs a ref");
        v->setRefPhysType(o.refPhysType);
    }
    if (o.hasPhys) v->setPhysType(o.physType);
    if (!name.is_none()) v->setName(name.cast<std::string>());
    if (o.hasLabels) {
        if (int64_t(o.labels.size()) != v->numDivisions())
            throw py::value_error("labels: " + std::to_string(o.labels.size()) + " labels for " +
                                  std::to_string(v->numDivisions()) + " division" +
                                  (v->numDivisions() == 1 ? "" : "s"));
        v->setDivisionLabels(std::move(o.labels));
    }
    return Vector{std::move(v)};
}

py::object asArray(const Vector& self, py::object dtype, py::object copy) {
    py::module_ np = py::module_::import("numpy");
    py::object a;
    bool copied = false;
    if (self.value->kind() == cv::Kind::String) {
        a = np.attr("array")(elements(self.value), "dtype"_a = "object");
        copied = true;
    } else if (self.value->kind() == cv::Kind::None) {
        a = np.attr("empty")(0);
        copied = true;
    } else {
        a = elements(self.value);
    }
    if (!dtype.is_none()) {
        py::object converted = np.attr("asarray")(a, "dtype"_a = dtype);
        copied = copied || !converted.is(a);
        a = converted;
    }
    if (!copy.is_none() && py::cast<bool>(copy) && !copied) a = a.attr("copy")();
    if (self.scalar) a = a.attr("reshape")(py::tuple());
    return a;
}

// The only element, for float(v), int(v) and the like.
const cv::Value& single(const Vector& self, const char* what) {
    const cv::Value& v = *self.value;
    if (v.size() != 1 || !v.isNumeric())
        throw py::type_error(std::string("only a numeric vector of one element can be converted to ") + what +
                             " (this one has " + std::to_string(v.size()) + " " + cv::kindName(v.kind()) +
                             (v.size() == 1 ? " element)" : " elements)"));
    return v;
}

double realOf(const Vector& self, const char* what) {
    const cv::Value& v = single(self, what);
    cv::cplx z = v.complexAt(0);
    if (z.imag() != 0.0)
        throw py::type_error(std::string("a complex value cannot be converted to ") + what + ": use abs() or .real");
    return z.real();
}

// The truth of every element (not zero; NaN is true, as in numpy) as a bool
// vector with this one's layout, x-values, names and runs: what numpy users
// get from a comparison, a mask to index with. Bool values pass through
// every script function as 0 and 1.
Vector truth(const Vector& s) {
    const cv::Value& src = *s.value;
    if (src.kind() == cv::Kind::Bool) return s;
    if (!src.isNumeric())
        throw py::type_error(std::string("only numbers are true or false element by element, not a ") +
                             cv::kindName(src.kind()) + " vector");
    const std::vector<int64_t> layout = src.divisionLengths();
    cv::MutableValuePtr v = layout.size() > 1 ? cv::Value::makeDivided(cv::Kind::Bool, layout)
                                              : cv::Value::make(cv::Kind::Bool, src.size());
    bool* out = static_cast<bool*>(v->mutableData());
    if (const double* x = src.reals())
        for (int64_t i = 0; i < src.size(); ++i) out[i] = x[i] != 0.0;
    else
        for (int64_t i = 0; i < src.size(); ++i) out[i] = src.complexAt(i) != cv::cplx(0.0, 0.0);
    v->setRef(src.ref());
    v->setRefPhysType(src.refPhysType());
    v->setRefName(src.refName());
    v->setName(src.name());
    v->setDivisionLabels(src.divisionLabels());
    return Vector{std::move(v), s.scalar, s.runs};
}

py::object dtypeOf(const cv::Value& v) {
    switch (v.kind()) {
        case cv::Kind::Real: return py::dtype::of<double>();
        case cv::Kind::Complex: return py::dtype::of<std::complex<double>>();
        case cv::Kind::Integer: return py::dtype::of<int32_t>();
        case cv::Kind::Integer64: return py::dtype::of<int64_t>();
        case cv::Kind::Bool: return py::dtype::of<bool>();
        case cv::Kind::String: return py::dtype("O");
        case cv::Kind::None: break;
    }
    return py::dtype::of<double>();
}

// A Vector of `values` (as many) with this one's reference, divisions,
// labels and names: what a numpy function applied to the values gives back.
Vector derived(const Vector& s, py::object values, py::object phys) {
    const cv::Value& src = *s.value;
    Prepared p = converting("values", [&] { return prepare(values); });
    if (p.source == Prepared::Source::None || p.size != src.size())
        throw py::value_error("values: " + std::to_string(p.size) + " values for a vector of " +
                              std::to_string(src.size()));
    std::vector<int64_t> layout = src.divisionLengths();
    cv::MutableValuePtr v =
        p.source == Prepared::Source::Value && layout == p.value->divisionLengths()
            ? p.value->shallowCopy()
            : build(p, layout.size() > 1 ? std::span<const int64_t>(layout) : std::span<const int64_t>(), Share::Freeze);
    v->setRef(src.ref());
    v->setRefPhysType(src.refPhysType());
    v->setRefName(src.refName());
    v->setName(src.name());
    v->setDivisionLabels(src.divisionLabels());
    v->setPhysType(phys.is_none() ? PhysType() : converting("phys", [&] { return physTypeOf(phys, "phys"); }));
    return Vector{std::move(v), s.scalar, s.runs};
}

Vector withRunLabels(const Vector& s, py::object labels) {
    if (labels.is_none()) return Vector{s.value, s.scalar};
    auto runs = std::make_shared<std::vector<std::string>>();
    for (py::handle l : labels) runs->push_back(py::str(l).cast<std::string>());
    if (int64_t(runs->size()) != s.value->size())
        throw py::value_error(std::to_string(runs->size()) + " run labels for " + std::to_string(s.value->size()) +
                              " values");
    return Vector{s.value, s.scalar, std::move(runs)};
}

Vector divisionOf(const Vector& s, int64_t d) {
    const int64_t n = s.value->numDivisions();
    if (d < 0) d += n;
    if (d < 0 || d >= n)
        throw py::index_error("division index out of range (the vector has " + std::to_string(n) + " division" +
                              (n == 1 ? ")" : "s)"));
    return Vector{s.value->division(d)};
}

py::list labelList(const std::vector<std::string>& labels) {
    py::list out;
    for (const auto& l : labels) out.append(text(l));
    return out;
}

using VectorClass = py::class_<Vector>;

// Vectors made from Python objects, and from this one with something changed.
void defineConstruction(VectorClass& c) {
    c.def(py::init(&makeVector), "values"_a, "ref"_a = py::none(), "phys"_a = py::none(), "ref_phys"_a = py::none(),
          "divisions"_a = py::none(), "name"_a = py::none(), "labels"_a = py::none(), "copy"_a = false)
        .def("_derived", &derived, "values"_a, "phys"_a = py::none(),
             "A Vector of `values` (as many) with this one's reference, divisions, labels and names.")
        .def(
            "_as_scalar",
            [](const Vector& s) { return Vector{s.value, s.value->size() == 1 && s.value->numDivisions() == 1, s.runs}; },
            "This vector seen as a single number when it has one element.")
        .def("_with_run_labels", &withRunLabels, "labels"_a,
             "This vector with these run labels, one per value (None: without).")
        .def("division", &divisionOf, "d"_a, "Division d (negative counts from the end) as a Vector, sharing the data.");
}

// The elements, their count and layout, as numpy sees them.
void defineElements(VectorClass& c) {
    c.def_property_readonly(
         "values", [](const Vector& s) { return elements(s.value); },
         "The values: a read-only numpy array (all divisions back to back), a list of str for strings.")
        .def_property_readonly(
            "ref", [](const Vector& s) { return referenceElements(s.value->ref()); },
            "The reference (x-values) as a read-only numpy array, or None; real when the stored x-values are "
            "complex numbers without imaginary parts (frequencies).")
        .def_property_readonly(
            "shape", [](const Vector& s) { return s.scalar ? py::tuple() : py::make_tuple(s.value->size()); },
            "(len(v),); () for a single number a function gave (see is_scalar).")
        .def_property_readonly(
            "ndim", [](const Vector& s) { return s.scalar ? 0 : 1; }, "1; 0 for a single number.")
        .def_property_readonly(
            "is_scalar", [](const Vector& s) { return s.scalar; },
            "True for one number that a function gives as such (Maximum, a count): numpy sees it with shape (), "
            "as a numpy scalar; it keeps its x-value all the same.")
        .def_property_readonly(
            "size", [](const Vector& s) { return s.value->size(); }, "The number of elements, all divisions.")
        .def_property_readonly(
            "dtype", [](const Vector& s) { return dtypeOf(*s.value); },
            "The numpy dtype of the values (object for strings).")
        .def_property_readonly(
            "kind", [](const Vector& s) { return std::string(cv::kindName(s.value->kind())); },
            "\"real\", \"complex\", \"string\", \"integer\", \"bool\" or \"none\".")
        .def_property_readonly(
            "division_lengths",
            [](const Vector& s) {
                py::list out;
                for (int64_t n : s.value->divisionLengths()) out.append(n);
                return out;
            },
            "Division lengths: [len(v)] for an undivided vector.")
        .def("_scalar",
             [](const Vector& s) { return s.value->size() == 1 ? scalarAt(*s.value, 0) : py::object(py::none()); },
             "The only element as a Python scalar, None for other lengths.")
        .def("__len__",
             [](const Vector& s) {
                 if (s.scalar) throw py::type_error("len() of a single number (shape ()): use v.size");
                 return s.value->size();
             })
        .def("__array__", &asArray, "dtype"_a = py::none(), "copy"_a = py::none(),
             "The values as a numpy array: a read-only view unless a dtype or a copy is asked for.");
}

// float(v), int(v) and the like for a single value, and the truth of one
// element or of each.
void defineNumberProtocol(VectorClass& c) {
    c.def("__float__", [](const Vector& s) { return realOf(s, "float"); })
        .def("__complex__",
             [](const Vector& s) {
                 cv::cplx z = single(s, "complex").complexAt(0);
                 return std::complex<double>(z);
             })
        .def("__int__",
             [](const Vector& s) {
                 double x = realOf(s, "int");
                 if (!std::isfinite(x)) throw py::value_error("cannot convert " + cv::formatReal(x) + " to int");
                 return py::reinterpret_steal<py::object>(PyLong_FromDouble(x));
             })
        .def("__index__",
             [](const Vector& s) {
                 double x = realOf(s, "an index");
                 if (!(std::isfinite(x) && std::trunc(x) == x))
                     throw py::type_error("only an integral value can be used as an index, not " + cv::formatReal(x));
                 return py::reinterpret_steal<py::object>(PyLong_FromDouble(x));
             })
        .def("__bool__",
             [](const Vector& s) {
                 const cv::Value& v = *s.value;
                 if (v.size() == 1 && v.isNumeric()) return v.complexAt(0) != cv::cplx(0.0, 0.0);
                 if (v.size() == 1 && v.kind() == cv::Kind::String) return !v.stringAt(0).empty();
                 throw py::value_error("the truth value of a vector of " + std::to_string(v.size()) +
                                       " elements is ambiguous: use any() or all()");
             })
        .def("_truth", &truth, "The elements' truth values as a bool Vector keeping x-values, runs and names.");
}

// Units, physical types, names and labels.
void defineDescription(VectorClass& c) {
    c.def_property_readonly(
         "unit", [](const Vector& s) { return std::string(sp_GetPhysTypeUnit(s.value->physType())); },
         "Unit symbol of the values (\"V\", \"s\", ...); \"\" for a plain number.")
        .def_property_readonly(
            "ref_unit", [](const Vector& s) { return std::string(sp_GetPhysTypeUnit(s.value->refPhysType())); },
            "Unit symbol of the reference; \"\" for a plain number.")
        .def_property_readonly(
            "phys", [](const Vector& s) { return std::string(sp_GetPhysTypeName(s.value->physType())); },
            "Physical type of the values by name (\"Voltage\", \"Time\", ...); \"\" for a plain number.")
        .def_property_readonly(
            "ref_phys", [](const Vector& s) { return std::string(sp_GetPhysTypeName(s.value->refPhysType())); },
            "Physical type of the reference by name; \"\" for a plain number.")
        .def_property_readonly(
            "name", [](const Vector& s) { return text(s.value->name()); }, "The vector's name (\"\" when unnamed).")
        .def_property_readonly(
            "ref_name", [](const Vector& s) { return text(s.value->refName()); },
            "The reference's name (\"\" when unnamed).")
        .def_property_readonly(
            "labels", [](const Vector& s) { return labelList(s.value->divisionLabels()); },
            "Division labels (the swept parameter's values), [] when there are none.")
        .def_property_readonly(
            "run_labels",
            [](const Vector& s) -> py::object {
                if (!s.runs) return py::none();
                return labelList(*s.runs);
            },
            "For one value per run (a statistic such as Maximum called on the runs of a file): the label of "
            "the run each value belongs to, as the file gave it; None for other vectors, and for values "
            "that cvfunc.eval gives.");
}

// pybind11's dealloc of its instances, kept for those the fast one leaves.
destructor gBoundDealloc = nullptr;
// Whether instances of gVectorClass have pybind11's simple layout (known
// after the first is made).
bool gSimpleLayout = false;

// The dealloc of every Vector. One that newVector made (a simple layout, its
// holder built, not in pybind11's table of instances, no objects kept alive
// by it) is let go of here: pybind11's own dealloc looks the instance's type
// up among its registered types first, a fifth of a small call's cost. The
// rest go to pybind11's.
void deallocVector(PyObject* self) {
    auto* inst = reinterpret_cast<py::detail::instance*>(self);
    if (!inst->simple_layout || inst->simple_instance_registered || inst->has_patients ||
        !inst->simple_holder_constructed)
        return gBoundDealloc(self);
    {
        // As pybind11 does: the destructor may run Python code (a lent
        // array's release) and must not see or clear a pending error.
        std::optional<py::error_scope> keep;
        if (PyErr_Occurred()) keep.emplace();
        py::detail::value_and_holder slot = inst->get_value_and_holder();
        slot.holder<std::unique_ptr<Vector>>().~unique_ptr();
        slot.set_holder_constructed(false);
        slot.value_ptr() = nullptr;
    }
    if (inst->weakrefs) PyObject_ClearWeakRefs(self);
    if (PyObject** dict = _PyObject_GetDictPtr(self)) Py_CLEAR(*dict);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types hold their type
}

void useVectorClass(py::handle cls) {
    if (!PyType_Check(cls.ptr()) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls.ptr()), gVectorBase))
        throw py::type_error("the Vector class must be a subclass of VectorBase");
    // Kept for the life of the process, as the extension's own types are.
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    // A class statement makes a class whose instances the cycle collector
    // tracks. The package's class adds methods only (no instance dict, no
    // slots), so its instances refer to no Python object that VectorBase's
    // do not, and those hold none the collector could follow: left out of it
    // as numpy's arrays are, a result is not linked into its list and out
    // again, and results do not start a collection every 700 made. Done
    // while the class has no instances (the package does so at import);
    // subclasses made later are the collector's as usual.
    if ((type->tp_flags & Py_TPFLAGS_HAVE_GC) && !(gVectorBase->tp_flags & Py_TPFLAGS_HAVE_GC) &&
        type->tp_basicsize == gVectorBase->tp_basicsize && type->tp_itemsize == 0 && type->tp_dictoffset == 0 &&
        !(type->tp_flags & Py_TPFLAGS_MANAGED_DICT) && type->tp_free == PyObject_GC_Del) {
        type->tp_flags &= ~Py_TPFLAGS_HAVE_GC;
        type->tp_free = PyObject_Free;
        type->tp_traverse = nullptr;
        type->tp_clear = nullptr;
        PyType_Modified(type);
    }
    PyTypeObject* previous = gVectorClass;
    gVectorClass = reinterpret_cast<PyTypeObject*>(cls.inc_ref().ptr());
    gSimpleLayout = false;
    Py_XDECREF(reinterpret_cast<PyObject*>(previous));
}

}  // namespace

py::handle newVector(Vector&& v) {
    if (!gVectorClass) return py::detail::type_caster_base<Vector>::cast(std::move(v), py::return_value_policy::move, {});
    // What pybind11 does for a class it binds, with the subclass as the type
    // (the instance's C++ part is the base's), less its two look-ups: the
    // instance has the simple layout of one C++ type, whose value and holder
    // are its first two slots. The instance is not entered in pybind11's
    // table of instances by C++ address either: that table finds the Python
    // object of a C++ object handed out by pointer or reference, and Vectors
    // are only ever handed out by value. Together these were a tenth of a
    // small call.
    PyObject* self = gVectorClass->tp_alloc(gVectorClass, 0);
    if (!self) throw py::error_already_set();
    py::object instance = py::reinterpret_steal<py::object>(self);
    auto* inst = reinterpret_cast<py::detail::instance*>(self);
    // pybind11 finds the layout in its registry for every instance; it is
    // the same for all of one class, so it is looked up once per class.
    if (gSimpleLayout) {
        inst->simple_layout = true;
        inst->simple_value_holder[0] = nullptr;
        inst->simple_holder_constructed = false;
        inst->simple_instance_registered = false;
    } else {
        inst->allocate_layout();
        gSimpleLayout = inst->simple_layout;
    }
    inst->owned = false;
    py::detail::value_and_holder slot = inst->get_value_and_holder();
    auto* value = new Vector(std::move(v));
    slot.value_ptr() = value;
    inst->owned = true;
    new (std::addressof(slot.holder<std::unique_ptr<Vector>>())) std::unique_ptr<Vector>(value);
    slot.set_holder_constructed();
    return instance.release();
}

void registerVector(py::module_& m) {
    VectorClass c(m, "VectorBase",
                  "The compiled part of cvfunc.Vector: a host value with its reference, divisions, physical types "
                  "and names. Use cvfunc.Vector; every Vector the package gives is one.");
    defineConstruction(c);
    defineElements(c);
    defineNumberProtocol(c);
    defineDescription(c);
    gVectorBase = reinterpret_cast<PyTypeObject*>(c.ptr());
    gBoundDealloc = gVectorBase->tp_dealloc;
    gVectorBase->tp_dealloc = deallocVector;
    m.def("_use_vector_class", &useVectorClass, "cls"_a,
          "Makes every Vector the extension gives an instance of `cls`, a subclass of VectorBase.");
}

}  // namespace cvpy
