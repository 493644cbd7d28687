"""cvfunc: the circuit-simulator script-function library, from Python with numpy.

Every script function is an attribute of this package (names are
case-insensitive) and takes numpy arrays, Python numbers, str, lists, or
cvfunc.Vector objects; results come back as Python and numpy values::

    >>> import numpy as np, cvfunc
    >>> cvfunc._TestRemoveItems(np.array([10., 20., 30., 40.]), [2, 0])
    array([20., 40.])
    >>> cvfunc.call("_TestRemoveItems", [10, 20, 30, 40], [2, 0])   # by name
    array([20., 40.])

Waveforms with x-values, physical types and several runs (a stepped or Monte
Carlo analysis) are Vectors::

    >>> v = cvfunc.Vector([0.0, 0.5, 1.0], ref=[0.0, 1e-6, 2e-6], phys="Voltage", ref_phys="Time")
    >>> np.asarray(v), v.ref, v.phys
    (array([0. , 0.5, 1. ]), array([0.e+00, 1.e-06, 2.e-06]), 'Voltage')

Simulation results from CSV or SPICE raw files::

    >>> data = cvfunc.load("run.raw")          # {name: Vector}
    >>> cvfunc.eval("out")                      # the language sees them too

What a function returns depends on the kind it declares: bool, int, float,
str, a list of str, a numpy array, a Vector (when the result has a reference
or divisions) or None. A failed call raises cvfunc.Error carrying the host's
message. Warnings of a function arrive as cvfunc.Warning through the warnings
module; its informational messages go to the "cvfunc" logger. Where a
function takes a number, a str in the script language's notation ('5u',
'2.2k') is that number. Ctrl-C stops a long call with KeyboardInterrupt.

Vectors act like numpy arrays: operators that cannot pair their operands
raise ValueError, comparisons are bool masks (v[v > 1] keeps x-values and
runs), and v.to_pandas() / v.to_xarray() give one tidy shape for every
result::

    >>> m = cvfunc.Maximum(data["out"])     # one value per run
    >>> m.to_pandas()                       # columns run, r2, value

Other entries: eval(text), bind(name, value), lookup(name), load(path),
set_option(name, value), get_option(name), functions().

The package runs one host session per process, made on import: it loads the
function module (libfunctions.so beside the host library, or $CVFUNC_MODULE),
fires the host event PostCli after every call of a script function and
ExitCli / Exit when the interpreter exits.
"""

import atexit as _atexit
import collections.abc as _abc
import inspect as _inspect
import numbers as _numbers
import operator as _operator
import logging as _logging
import os as _os
import sys as _sys
import warnings as _warnings

try:
    import numpy as _np
except ImportError as _e:  # say what to do rather than fail deep inside the extension
    raise ImportError(
        f"cvfunc needs numpy, which this interpreter ({_sys.executable}) cannot import: "
        "install it (Debian: apt install python3-numpy; else: python3 -m pip install numpy)"
    ) from _e


class Error(Exception):
    """A script function, an expression or a data file failed.

    str(error) is the host's message, e.g.
    "Function '_TestRemoveItems' takes 2 arguments, 1 given".
    """


class Warning(UserWarning):  # noqa: A001 - cvfunc.Warning reads as intended from outside
    """A warning sent by a script function that still returned a result."""


_log = _logging.getLogger("cvfunc")

# Severities of the host's messages.
_INFO, _WARNING, _ERROR = 0, 1, 2


_PACKAGE_DIR = _os.path.dirname(__file__)


def _report(severity, text):
    if severity == _INFO:
        _log.info("%s", text)
        return
    # Point the warning at the user's line, past this package's own frames.
    level, frame = 1, _sys._getframe(0)
    while frame is not None and _os.path.dirname(frame.f_code.co_filename) == _PACKAGE_DIR:
        frame, level = frame.f_back, level + 1
    _warnings.warn(text, Warning, stacklevel=level)


from . import _cvfunc  # noqa: E402  (needs Error and _report defined first)
from ._cvfunc import (  # noqa: E402
    __version__,
    bind,
    call,
    eval,
    functions,
    get_option,
    lookup,
    set_option,
)

_cvfunc._start(Error, _report)
_atexit.register(_cvfunc._exit)

__all__ = [
    "Error", "Warning", "Vector", "Divisions", "Data", "Network", "call", "eval", "bind", "lookup", "load",
    "read_network", "set_option", "get_option", "functions", "__version__",
]


# ---------------------------------------------------------------- Vector: its runs, and what its methods share

def _short(values):
    if isinstance(values, list):
        if len(values) > 8:
            return "[" + ", ".join(map(repr, values[:3])) + ", ..., " + ", ".join(map(repr, values[-3:])) + "]"
        return repr(values)
    return _np.array2string(values, threshold=8, edgeitems=3, separator=", ", max_line_width=1 << 20)


def _flat_ref(v):
    """The x-values of every element (a reference shared by equal runs repeated)."""
    ref = v.ref
    if ref is None or ref.size == v.size:
        return ref if ref is None else ref.reshape(-1)
    return _np.tile(ref, len(v.division_lengths))


def _picked(v, values, key, divisions=None):
    """A Vector of `values`, the elements of v at `key`, with their x-values,
    v's names and physical types, and their run labels."""
    ref = _flat_ref(v)
    if ref is not None:
        ref = Vector(ref[key], phys=v.ref_phys, name=v.ref_name)
    labels = v.labels if divisions is not None and len(v.labels) == len(divisions) else None
    out = Vector(values, ref=ref, phys=v.phys, name=v.name, divisions=divisions, labels=labels)
    runs = v.run_labels
    return out if runs is None else out._with_run_labels(_np.asarray(runs, dtype=object)[key].tolist())


def _masked(v, mask):
    n = v.size
    if mask.ndim != 1:
        raise IndexError(f"a vector is one-dimensional: a boolean mask must be too, not of shape {mask.shape}")
    if mask.size != n:
        raise IndexError(f"boolean index did not match indexed array along dimension 0; dimension is {n} "
                         f"but corresponding boolean dimension is {mask.size}")
    values = _np.asarray(v.values, dtype=object)[mask].tolist() if v.kind == "string" else v.values[mask]
    lengths = _np.asarray(v.division_lengths)
    divisions = None
    if lengths.size > 1:
        # Each run keeps as many elements as the mask selects within it.
        selected = _np.concatenate(([0], _np.cumsum(mask)))
        ends = _np.cumsum(lengths)
        divisions = (selected[ends] - selected[ends - lengths]).tolist()
    return _picked(v, values, mask, divisions)


class Divisions(_abc.Sequence):
    """The runs of a vector (the steps of a sweep, the cases of a Monte Carlo
    analysis): d[k] is run k as a Vector sharing the data, d.labels their
    labels, d.lengths their lengths, d.items() (label, Vector) pairs."""

    def __init__(self, vector):
        self._vector = vector

    def __len__(self):
        return len(self._vector.division_lengths)

    def __getitem__(self, k):
        if isinstance(k, slice):
            return [self._vector.division(i) for i in range(len(self))[k]]
        return self._vector.division(k)

    @property
    def labels(self):
        """The run labels; the run numbers as str when the runs have none."""
        labels = self._vector.labels
        return labels if len(labels) == len(self) else [str(k) for k in range(len(self))]

    @property
    def lengths(self):
        return self._vector.division_lengths

    def items(self):
        return list(zip(self.labels, self))

    def __repr__(self):
        return f"Divisions({len(self)} runs: labels={self.labels!r}, lengths={self.lengths!r})"


def _column(name, phys, fallback):
    return name or (phys.lower() if phys else fallback)


def _unique(name, taken, suffix):
    while name in taken:
        name += suffix
    return name


def _flat_values(v):
    """The values, all runs back to back: a 1-D array (object for strings)."""
    if v.kind == "string":
        return _np.asarray(v.values, dtype=object)
    return _np.asarray(v).reshape(-1)


def _x_name(v):
    return _column(v.ref_name, v.ref_phys, "x")


def _require(module, package, what):
    try:
        return __import__(module)
    except ImportError as e:
        raise ImportError(f"{what} needs {module}, which this interpreter ({_sys.executable}) cannot import: "
                          f"install it (Debian: apt install {package}; else: python3 -m pip install {module})") from e


def _axis_label(name, phys, unit):
    text = phys or name
    return f"{text} ({unit})" if text and unit else text


# numpy functions with a script operator of the same meaning: those go
# through the operator, so physical types and x-values follow its rules.
_UFUNC_OPERATORS = {
    _np.add: "_Plus", _np.subtract: "_Minus", _np.multiply: "_Times", _np.true_divide: "_Divide",
    _np.power: "_Power", _np.equal: "_Eq", _np.not_equal: "_Ne", _np.less: "_Lt", _np.less_equal: "_Le",
    _np.greater: "_Gt", _np.greater_equal: "_Ge", _np.logical_and: "_And", _np.logical_or: "_Or",
    _np.negative: "_UMinus",
}
# Operators whose 0/1 results are truth values: they give bool masks.
_TRUTH_OPERATORS = {"_Eq", "_Ne", "_Lt", "_Le", "_Gt", "_Ge", "_And", "_Or"}
_SYMBOLS = {"_Plus": "+", "_Minus": "-", "_Times": "*", "_Divide": "/", "_Power": "**", "_Mod": "%",
            "_And": "&", "_Or": "|", "_Eq": "==", "_Ne": "!=", "_Lt": "<", "_Le": "<=", "_Gt": ">", "_Ge": ">="}
# Element-wise functions whose result has the physical type of the argument.
_KEEPS_PHYS = {_np.absolute, _np.negative, _np.positive, _np.conjugate, _np.rint, _np.floor, _np.ceil,
               _np.trunc, _np.fabs}
_OPERAND_TYPES = (_numbers.Number, str, list, tuple, _np.ndarray, _np.generic)


def _one_dimensional(x):
    return isinstance(x, (Vector, _numbers.Number, str, _np.generic)) or _np.ndim(x) <= 1


def _operand_lengths(x):
    """The division lengths of an operand as the operator functions see it."""
    if isinstance(x, Vector):
        return x.division_lengths
    if isinstance(x, _np.ndarray):
        return [x.size]
    return [len(x)] if isinstance(x, (list, tuple)) else [1]


def _broadcast(a, b):
    """Whether numpy would pair operands of lengths a and b."""
    return a == b or a == 1 or b == 1


def _unpaired(op, left, right, out):
    """What an operator that could not pair its operands gives Python: the
    operator functions give no result there (or empty runs, run by run); numpy
    users expect an error that says why, or an empty result where numpy
    gives one (an empty operand met by a single value)."""
    lefts, rights = _operand_lengths(left), _operand_lengths(right)
    runs = max(len(lefts), len(rights))
    if runs > 1:
        labels = (left if len(lefts) == runs else right).divisions.labels
        for k in range(runs):
            # An operand of one run meets every run whole.
            a = lefts[k] if len(lefts) == runs else sum(lefts)
            b = rights[k] if len(rights) == runs else sum(rights)
            if not _broadcast(a, b):
                raise ValueError(f"operands could not be broadcast together with lengths {a} and {b} "
                                 f"(run {labels[k]!r})")
    elif not _broadcast(lefts[0], rights[0]):
        raise ValueError(f"operands could not be broadcast together with lengths {lefts[0]} and {rights[0]}")
    if out is not None:
        return out
    if min(sum(lefts), sum(rights)) == 0:
        return Vector([])
    kinds = [x.kind if isinstance(x, Vector) else Vector(x, copy=True).kind for x in (left, right)]
    raise ValueError(f"operands could not be combined: {_SYMBOLS.get(op, op)!r} gives no result for {kinds[0]} "
                     f"and {kinds[1]} values")


def _operate(op, left, right):
    """left op right through the operator function, as numpy users expect it:
    an error rather than nothing, and comparisons as bool masks."""
    out = call(op, left, right)
    if out is None or (isinstance(out, Vector) and len(out.division_lengths) > 1):
        out = _unpaired(op, left, right, out)
    return out._truth() if op in _TRUTH_OPERATORS and isinstance(out, Vector) else out


def _scalar_operand(x):
    return x.is_scalar if isinstance(x, Vector) else isinstance(x, (_numbers.Number, _np.generic))


def _operator_method(op, name, swapped=False):
    """The method `name` for an operator: through the operator function `op`,
    as numpy users expect its results."""
    def method(self, other):
        if not isinstance(other, (Vector,) + _OPERAND_TYPES):
            return NotImplemented
        out = _operate(op, other, self) if swapped else _operate(op, self, other)
        # Numbers combine into a number, as numpy scalars do.
        return out._as_scalar() if self.is_scalar and _scalar_operand(other) and isinstance(out, Vector) else out
    method.__name__ = name
    method.__qualname__ = "Vector." + name
    operands = ("other", "self") if swapped else ("self", "other")
    method.__doc__ = f"{operands[0]} {_SYMBOLS[op]} {operands[1]}, by the script operator {op}."
    return method


def _operator_methods(name, op):
    """__name__ and __rname__ for an operator that takes either side."""
    return _operator_method(op, f"__{name}__"), _operator_method(op, f"__r{name}__", swapped=True)


def _part(method):
    def part(self):
        if self.kind != "complex":
            return self if method == "real" else self._derived(_np.zeros(self.size), self.phys)
        return self._derived(_np.ascontiguousarray(getattr(self.values, method)), self.phys)
    part.__name__ = method
    return property(part, doc=f"The {method} parts as a Vector keeping the x-values.")


# ---------------------------------------------------------------- Vector

# The extension's VectorBase holds the value and what C++ answers fast
# (properties, numpy's view, conversions); this subclass adds what is better
# said in Python. The extension makes every Vector it returns one of these
# (_use_vector_class below), so results and Vector(...) are the same type.
class Vector(_cvfunc.VectorBase):
    """A vector of the host: values, an optional reference (x-values), divisions,
    physical types and names.

    Vector(values, ref=None, phys=None, ref_phys=None, divisions=None, name=None, labels=None, copy=False)

    values     a numpy array, a sequence or a scalar: floats, ints and bools become
               real values, complex numbers complex ones, str a string vector. A
               Vector is copied with the other arguments changed.
    ref        the x-values (real or complex): as many as values, or, with several
               divisions of one length, one division's worth shared by all.
    phys       physical type of the values, by name ("Voltage", "voltage", "V")
               or code; ref_phys likewise for the reference.
    divisions  division lengths, adding up to len(values): the runs of a stepped
               or Monte Carlo analysis. The reference gets the same layout.
    name       the vector's name; labels one str per division.
    copy       False: a C-contiguous float64 or complex128 array that owns its
               memory is shared, not copied, and becomes read-only (a vector
               never changes); a writeable view of another array is copied.
               True: always copy, the array stays as it was.

    numpy.asarray(v) is a read-only view of the values (no copy); copy it to
    change it. Vectors are immutable and can be passed to any script function.
    Operators work element by element as in numpy and raise ValueError for
    operands they cannot pair; comparisons give bool masks, and v[mask] keeps
    the x-values and runs. v.to_pandas() and v.to_xarray() give one tidy shape
    for every vector.

    >>> v = cvfunc.Vector([0, 1, 0, 1], ref=[0, 1e-6, 0, 1e-6], divisions=[2, 2],
    ...                   phys="Voltage", ref_phys="Time")
    >>> v.division_lengths, v.phys, v.division(1).ref
    ([2, 2], 'Voltage', array([0.e+00, 1.e-06]))
    """

    __slots__ = ()  # no instance dict: a Vector takes no attributes and costs what VectorBase does
    __hash__ = None  # compared element by element, like arrays

    def __repr__(self):
        if self.kind == "none":
            return "Vector(none)"
        parts = [_short(self.values)]
        if self.ref is not None:
            parts.append("ref=" + _short(self.ref))
        if self.phys:
            parts.append(f"phys={self.phys!r}")
        if self.ref is not None and self.ref_phys:
            parts.append(f"ref_phys={self.ref_phys!r}")
        if len(self.division_lengths) > 1:
            parts.append(f"divisions={self.division_lengths!r}")
        if self.name:
            parts.append(f"name={self.name!r}")
        if self.labels:
            parts.append(f"labels={self.labels!r}")
        return "Vector(" + ", ".join(parts) + ")"

    def __str__(self):
        """A single number as that number; any other vector as its repr."""
        return str(self._scalar()) if self.is_scalar else repr(self)

    def __format__(self, fmt):
        """A one-element vector formats as its element; others as their repr, with an empty format only."""
        if self.size == 1 and self.kind != "none":
            return format(self._scalar(), fmt)
        if fmt:
            raise TypeError("only a one-element vector can be formatted with a format string such as '.3g'")
        return repr(self)

    def __getitem__(self, key):
        """v[i] is a one-element Vector keeping its x-value; v[a:b], v[mask] and
        v[indices] are Vectors of those elements with theirs. Positions count
        over all runs back to back; v.divisions[k] is run k.

        A mask (a comparison such as v > 1, a numpy bool array or a list of bools,
        as long as v) keeps the runs too: each run keeps its own elements where the
        mask is true, so a run can become empty. A mask of another length raises
        IndexError, as numpy does."""
        kind = self.kind
        if kind == "none":
            raise IndexError("a vector without values has no elements")
        single = False
        if isinstance(key, Vector) and not key.is_scalar:
            key = _np.asarray(key)
        elif isinstance(key, list):
            key = _np.asarray(key) if key else _np.empty(0, dtype=_np.intp)
        if isinstance(key, _np.ndarray) and key.dtype == bool:
            return _masked(self, key)
        if not isinstance(key, (slice, list, tuple, _np.ndarray)) and not isinstance(key, (bool, _np.bool_)):
            try:
                i = _operator.index(key)
            except TypeError:
                raise TypeError(f"vector indices must be integers, slices, integer arrays or boolean masks, "
                                f"not {type(key).__name__}") from None
            n = self.size
            if not -n <= i < n:
                raise IndexError(f"index {i} is out of range for a vector of {n} element{'s' * (n != 1)}")
            i %= n
            key, single = slice(i, i + 1), True
        if kind == "string":
            values = self.values
            if single:
                return values[key.start]
            picked = _np.asarray(values, dtype=object)[key].tolist()
        else:
            picked = self.values[key]
            if picked.ndim != 1:
                raise IndexError("a vector is one-dimensional: one index, slice, integer array or mask")
        out = _picked(self, picked, key)
        return out._as_scalar() if single else out

    def __iter__(self):
        values = self.values
        return iter(() if values is None else values)

    def __getattr__(self, name):
        """What numpy arrays offer and a Vector does not (max, mean, tolist, ...)
        works on its values; the answer is a plain numpy result."""
        if name.startswith("_"):
            raise AttributeError(f"'Vector' object has no attribute {name!r}")
        array = _np.asarray(self)
        try:
            return getattr(array, name)
        except AttributeError:
            raise AttributeError(f"'Vector' object has no attribute {name!r}") from None

    def runs(self):
        """The runs as a 2-D array, one row per run (a read-only view, no copy).
        All runs must have one length."""
        lengths = self.division_lengths
        if len(set(lengths)) > 1:
            raise ValueError(f"the runs have different lengths ({min(lengths)} to {max(lengths)} points), so they "
                             "make no 2-D array: take them one by one from v.divisions, or use v.to_pandas()")
        return self.values.reshape(len(lengths), lengths[0])

    def to_pandas(self):
        """One tidy table for every vector, a row per value:

        run    the label of the run the value belongs to, as the file gave it
               ("r2=1k", "3"); the run numbers "0", "1", ... for runs without
               labels, "0" for a vector of one run;
        x      the x-values, when there are any, named after the reference: its
               name ("time"), else its physical type in lower case, else "x";
        value  the values, named after the vector ("out"), else "value".

        A result of one value per run (a statistic such as Maximum over the runs,
        see run_labels) has those runs' labels in `run`; its x-values stand for
        the labels and are a column only when they are a swept parameter's values,
        named after the parameter ("r2"). Complex values make a complex column,
        strings a column of str, a single number one row. A name already taken
        gets "_value" (or "_x") appended. Units are in df.attrs["units"] and
        physical types in df.attrs["phys"], keyed by column name."""
        pd = _require("pandas", "python3-pandas", "Vector.to_pandas")
        columns, units, phys = {}, {}, {}
        ref = _flat_ref(self)
        runs = self.run_labels
        if runs is not None:
            columns["run"] = _np.asarray(runs, dtype=object)
            xname = self.ref_name if ref is not None else ""
        else:
            columns["run"] = _np.repeat(_np.asarray(Divisions(self).labels, dtype=object), self.division_lengths)
            xname = _x_name(self) if ref is not None else ""
        if xname:
            xname = _unique(xname, columns, "_x")
            columns[xname], units[xname], phys[xname] = ref, self.ref_unit, self.ref_phys
        yname = _unique(self.name or "value", columns, "_value")
        columns[yname], units[yname], phys[yname] = _flat_values(self), self.unit, self.phys
        df = pd.DataFrame(columns)
        df.attrs["units"], df.attrs["phys"] = units, phys
        return df

    def to_xarray(self):
        """The vector as an xarray.DataArray of dims ("run", x): a row per run
        against the x-values, the shape Monte Carlo and sweep code works on.

        run    coordinate: the run labels as the file gave them (as to_pandas);
        x      dimension and coordinate named after the reference (its name,
               "time", else its physical type in lower case, else "x"), holding
               the x-values; "point" without a coordinate when there are none.

        Every vector has both dimensions, a single run or a single number too
        (one row; da.squeeze("run") drops it). The name is the vector's (None
        when unnamed), attrs["units"] and attrs["long_name"] its unit and physical
        type, and the x coordinate's attrs likewise.

        The runs must share their x-values: runs of different lengths or at
        different x (a transient run's own time steps) raise ValueError, as a
        common axis would be made up. Resample them onto one grid first, e.g.
        cvfunc.Interp(v, [n, start, stop], 1, [1]), which gives every run the same
        n points from start to stop.

        A result of one value per run (see run_labels) has dims ("run",) only,
        with a swept parameter's values, when the runs have them, as a second
        coordinate along "run" named after the parameter ("r2")."""
        xr = _require("xarray", "python3-xarray", "Vector.to_xarray")

        def described(unit, phys):
            return {k: v for k, v in (("units", unit), ("long_name", phys)) if v}

        values, ref = _flat_values(self), _flat_ref(self)
        name = self.name or None
        attrs = described(self.unit, self.phys)
        runs = self.run_labels
        if runs is not None:
            coords = {"run": _np.asarray(runs, dtype=object)}
            if ref is not None and self.ref_name and self.ref_name != "run":
                coords[self.ref_name] = ("run", ref, described(self.ref_unit, self.ref_phys))
            return xr.DataArray(values, dims=("run",), coords=coords, name=name, attrs=attrs)
        lengths = self.division_lengths
        if len(set(lengths)) > 1:
            raise ValueError(f"the runs have different lengths ({min(lengths)} to {max(lengths)} points), so they "
                             "share no x-axis: resample them onto one grid first, e.g. "
                             "cvfunc.Interp(v, [n, start, stop], 1, [1]), or use v.to_pandas() (one row per point)")
        shape = (len(lengths), lengths[0])
        coords = {"run": _np.asarray(Divisions(self).labels, dtype=object)}
        xname = "point"
        if ref is not None:
            xname = _unique(_x_name(self), ("run",), "_x")
            grid = ref.reshape(shape)
            if any(not _np.array_equal(row, grid[0], equal_nan=True) for row in grid[1:]):
                raise ValueError("the runs have different x-values, so they share no x-axis: resample them onto one "
                                 "grid first, e.g. cvfunc.Interp(v, [n, start, stop], 1, [1]), or use v.to_pandas() "
                                 "(one row per point)")
            coords[xname] = (xname, grid[0], described(self.ref_unit, self.ref_phys))
        return xr.DataArray(values.reshape(shape), dims=("run", xname), coords=coords, name=name, attrs=attrs)

    def plot(self, ax=None, **kwargs):
        """Draws the vector with matplotlib, one line per run, against its
        x-values (or the element positions); the axes are labelled with the
        physical types and units. Complex values are drawn as magnitudes. Returns
        the matplotlib Axes."""
        _require("matplotlib", "python3-matplotlib", "Vector.plot")
        import matplotlib.pyplot as plt
        if self.kind not in ("real", "complex", "integer", "bool"):
            raise TypeError(f"only numbers can be plotted, not a {self.kind} vector")
        if ax is None:
            ax = plt.figure().add_subplot()
        runs = Divisions(self).items()
        magnitude = self.kind == "complex"
        for label, run in runs:
            y = _np.abs(run) if magnitude else _np.asarray(run)
            x = run.ref if run.ref is not None else _np.arange(len(run))
            if _np.iscomplexobj(x):
                x = x.real
            ax.plot(x, y, label=label if len(runs) > 1 else (self.name or None), **kwargs)
        ylabel = _axis_label(self.name, self.phys, self.unit)
        ax.set_ylabel(f"|{ylabel}|" if magnitude and ylabel else ylabel)
        ax.set_xlabel(_axis_label(self.ref_name, self.ref_phys, self.ref_unit) if self.ref is not None else "point")
        x = self.ref
        if self.ref_phys == "Frequency" and x is not None and len(x) > 1 and _np.all(_np.real(x) > 0) \
                and _np.real(x).max() / _np.real(x).min() > 100:
            ax.set_xscale("log")
        if 1 < len(runs) <= 20:
            ax.legend(fontsize="small")
        return ax

    def __array_ufunc__(self, ufunc, method, *inputs, **kwargs):
        """numpy functions on Vectors: those with a script operator go through
        it; other element-wise ones of one argument keep the x-values, runs
        and names (and the physical type where the result has the argument's);
        anything else works on the plain values."""
        if method == "__call__" and not kwargs:
            op = _UFUNC_OPERATORS.get(ufunc)
            if op is not None and all(_one_dimensional(x) for x in inputs):
                return _operate(op, *inputs) if len(inputs) == 2 else call(op, *inputs)
            v = inputs[0]
            if ufunc.nin == 1 and ufunc.nout == 1 and isinstance(v, Vector) and v.kind in ("real", "complex", "bool"):
                out = ufunc(v.values)
                if _np.shape(out) == (v.size,) and out.dtype.kind in "fcb":
                    derived = v._derived(out, v.phys if ufunc in _KEEPS_PHYS else None)
                    return derived._truth() if out.dtype.kind == "b" else derived
                return out.reshape(v.shape) if v.is_scalar else out
        # Anything else (reductions, several outputs, out=) on plain arrays.
        arrays = [_np.asarray(x) if isinstance(x, Vector) else x for x in inputs]
        return getattr(ufunc, method)(*arrays, **kwargs)

    real = _part("real")
    imag = _part("imag")
    divisions = property(Divisions, doc="The runs: labels and per-run Vectors (see Divisions).")

    # Operators go through the script's operator functions, so physical types
    # and x-values follow the library's rules.
    __add__, __radd__ = _operator_methods("add", "_Plus")
    __sub__, __rsub__ = _operator_methods("sub", "_Minus")
    __mul__, __rmul__ = _operator_methods("mul", "_Times")
    __truediv__, __rtruediv__ = _operator_methods("truediv", "_Divide")
    __pow__, __rpow__ = _operator_methods("pow", "_Power")
    __mod__, __rmod__ = _operator_methods("mod", "_Mod")
    __and__, __rand__ = _operator_methods("and", "_And")
    __or__, __ror__ = _operator_methods("or", "_Or")
    __eq__ = _operator_method("_Eq", "__eq__")
    __ne__ = _operator_method("_Ne", "__ne__")
    __lt__ = _operator_method("_Lt", "__lt__")
    __le__ = _operator_method("_Le", "__le__")
    __gt__ = _operator_method("_Gt", "__gt__")
    __ge__ = _operator_method("_Ge", "__ge__")

    def __neg__(self):
        return call("_UMinus", self)

    def __invert__(self):
        return _np.invert(self)  # a mask's complement; numbers refuse it, as in numpy

    def __pos__(self):
        return self

    def __abs__(self):
        return _np.absolute(self)

    def __round__(self, ndigits=None):
        return round(float(self), ndigits)


_cvfunc._use_vector_class(Vector)


# ---------------------------------------------------------------- data files

class Data(dict):
    """The vectors of a data file, {name: Vector}, the reference (scale) first.
    `metadata` holds what the loader keeps about the file beside its vectors
    (a Touchstone file's version, ports, parameter, format, frequency_unit and
    z0); it is empty for other files."""

    def __init__(self, *args, metadata=None, **kwargs):
        super().__init__(*args, **kwargs)
        self.metadata = dict(metadata or {})

    # A raw or CSV file's vectors are read when first asked for: until then
    # the dict holds a _Pending in their place, which every way of reading a
    # value here replaces by the Vector.
    def __getitem__(self, key):
        value = dict.__getitem__(self, key)
        if isinstance(value, _cvfunc._Pending):
            value = value.read()
            dict.__setitem__(self, key, value)
        return value

    def __iter__(self):
        # Defined so that dict(data) and {**data} go through __getitem__.
        return dict.__iter__(self)

    def get(self, key, default=None):
        return self[key] if key in self else default

    def _read_all(self):
        """Reads every vector not read yet, each file in one pass (one at a
        time, a file is read once per vector)."""
        pending = [v for v in dict.values(self) if isinstance(v, _cvfunc._Pending)]
        if len(pending) > 1:
            _cvfunc._Pending.read_together(pending)

    def values(self):
        self._read_all()
        return _abc.ValuesView(self)

    def items(self):
        self._read_all()
        return _abc.ItemsView(self)

    def pop(self, key, *default):
        value = dict.pop(self, key, *default)
        return value.read() if isinstance(value, _cvfunc._Pending) else value

    def popitem(self):
        key, value = dict.popitem(self)
        return key, value.read() if isinstance(value, _cvfunc._Pending) else value

    def setdefault(self, key, default=None):
        if key not in self:
            dict.__setitem__(self, key, default)
        return self[key]

    def copy(self):
        """A shallow copy; vectors not read yet stay so in both."""
        return Data(dict.items(self), metadata=self.metadata)

    def to_pandas(self):
        """The whole file as one tidy table, in the shape of Vector.to_pandas:
        a row per point and run; columns run (the run labels as the file gave
        them, "0", "1", ... for runs without labels, "0" for a file of one
        run), the reference under its name in the file ("time",
        "frequency") and every signal under its name. Units are in
        df.attrs["units"], physical types in df.attrs["phys"]. Signals whose
        runs do not line up with the first one's raise ValueError."""
        pd = _require("pandas", "python3-pandas", "Data.to_pandas")
        signals = [(n, v) for n, v in self.items() if v.ref is not None]
        scales = [(n, v) for n, v in self.items() if v.ref is None]
        if not signals:
            signals, scales = scales, []
        if not signals:
            return pd.DataFrame({"run": []})
        first = signals[0][1]
        lengths = first.division_lengths
        columns = {"run": _np.repeat(_np.asarray(Divisions(first).labels, dtype=object), lengths)}
        units, phys = {}, {}
        if scales or first.ref is not None:
            xname = _unique(scales[0][0] if scales else _x_name(first), columns, "_x")
            columns[xname], units[xname], phys[xname] = _flat_ref(first), first.ref_unit, first.ref_phys
        for n, v in signals:
            if v.division_lengths != lengths:
                raise ValueError(f"{n!r} has runs of {v.division_lengths} points where {signals[0][0]!r} has "
                                 f"{lengths}: its rows do not line up")
            n = _unique(n, columns, "_value")  # a column of the file named "run" keeps the run labels' place
            columns[n], units[n], phys[n] = _np.asarray(v), v.unit, v.phys
        df = pd.DataFrame(columns)
        df.attrs["units"], df.attrs["phys"] = units, phys
        return df


def load(path):
    vectors, metadata = _cvfunc.load(path, metadata=True)
    return Data(vectors, metadata=metadata)


load.__doc__ = _cvfunc.load.__doc__.replace(", metadata=False", "").split("\nWith metadata=True")[0] + \
    "\n\nThe dict is a cvfunc.Data: load(path).to_pandas() is the whole file as one long table, and " \
    "load(path).metadata what the loader keeps beside the vectors. read_network(path) gives a Touchstone file " \
    "as a Network."

from .network import Network, read_network  # noqa: E402  (uses load)


# ---------------------------------------------------------------- functions as attributes

_callables = {}


def _default_value(literal):
    """A default in script syntax as Python shows it in a signature."""
    if len(literal) >= 2 and literal[0] == literal[-1] and literal[0] in "'\"":
        # The escapes the script language reads inside quotes.
        escapes = {"n": "\n", "t": "\t", "\\": "\\", "'": "'", '"': '"'}
        body, out, i = literal[1:-1], [], 0
        while i < len(body):
            if body[i] == "\\" and i + 1 < len(body):
                out.append(escapes.get(body[i + 1], body[i:i + 2]))
                i += 2
            else:
                out.append(body[i])
                i += 1
        return "".join(out)
    try:
        value = float(literal)
    except ValueError:
        return literal
    return int(value) if value.is_integer() and "." not in literal and "e" not in literal.lower() else value


def _signature(params):
    out = []
    for pname, kind, literal in params:
        if kind == "rest":
            out.append(_inspect.Parameter(pname, _inspect.Parameter.VAR_POSITIONAL))
            continue
        default = _inspect.Parameter.empty
        if kind == "literal":
            default = _default_value(literal)
        elif kind == "rule":
            default = None
        out.append(_inspect.Parameter(pname, _inspect.Parameter.POSITIONAL_OR_KEYWORD, default=default))
    return _inspect.Signature(out)


def _positions(name, params, args, kwargs):
    """Keyword arguments placed at their positions. A position skipped over
    gets an empty list, which a script function reads as not given, exactly
    as when a trailing argument is left out; so does an optional argument
    given None, by keyword or by position (its signature shows None)."""
    index = {p[0]: i for i, p in enumerate(params) if p[1] != "rest"}
    placed = [_MISSING if value is None and i < len(params) and params[i][1] in ("rule", "literal") else value
              for i, value in enumerate(args)]
    for key, value in kwargs.items():
        i = index.get(key)
        if i is None:
            raise TypeError(f"{name}() got an unexpected keyword argument {key!r}")
        if i < len(args):
            raise TypeError(f"{name}() got multiple values for argument {key!r}")
        if i >= len(placed):
            placed.extend([_MISSING] * (i + 1 - len(placed)))
        placed[i] = _MISSING if value is None else value
    while len(placed) > len(args) and placed[-1] is _MISSING and params[len(placed) - 1][1] != "required":
        placed.pop()
    for i, value in enumerate(placed):
        if value is _MISSING:
            if params[i][1] == "required":
                raise TypeError(f"{name}() missing required argument {params[i][0]!r}")
            placed[i] = []
    return placed


_MISSING = object()


def _script_function(name, doc, params=None, max_args=None):
    """cvfunc.NAME: a call by position goes straight to the host (the
    extension's _Function); keyword arguments, and an optional argument
    given None by position, take the Python rules below."""
    slow = _slow_script_function(name, params)
    retry = None if params is None else (lambda *args: call(name, *_positions(name, params, args, {})))
    function = _cvfunc._Function(name, slow, retry)
    function.__signature__ = slow.__signature__
    function.__name__ = function.__qualname__ = name
    function.__doc__ = doc
    function.__module__ = __name__
    return function


def _slow_script_function(name, params):
    if params is None:
        def function(*args, **kwargs):
            if kwargs:
                raise TypeError(f"{name}() takes its arguments by position only (it has no reference entry "
                                f"naming them), but was given {', '.join(map(repr, kwargs))} by keyword")
            return call(name, *args)

        function.__signature__ = _inspect.Signature(
            [_inspect.Parameter("args", _inspect.Parameter.VAR_POSITIONAL)])
    else:
        def function(*args, **kwargs):
            if kwargs:
                args = _positions(name, params, args, kwargs)
            try:
                return call(name, *args)
            except Error:
                # An optional argument given None by position means not
                # given; looked for only when a call failed, so that the
                # usual call pays nothing for it.
                if not any(a is None for a in args):
                    raise
            return call(name, *_positions(name, params, args, {}))

        function.__signature__ = _signature(params)
    return function


def __getattr__(name):
    """cvfunc.XFromY: the script function of that name (case-insensitive)."""
    if name.startswith("__"):
        raise AttributeError(f"module 'cvfunc' has no attribute {name!r}")
    f = _callables.get(name)
    if f is None:
        found = _cvfunc.function(name)
        if found is None:
            raise AttributeError(f"module 'cvfunc' has no attribute {name!r}, and no script function has that name")
        f = _callables[name] = _script_function(*found)
        # Kept as a module attribute too, so that the next cvfunc.NAME is a
        # plain look-up rather than a call of this function.
        globals()[name] = f
    return f


def __dir__():
    return sorted(set(globals()) | {row[0] for row in functions()})
