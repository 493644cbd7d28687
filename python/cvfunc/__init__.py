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
module; its informational messages go to the "cvfunc" logger.

Other entries: eval(text), bind(name, value), lookup(name), load(path),
set_option(name, value), get_option(name), functions().

The package runs one host session per process, made on import: it loads the
function module (libfunctions.so beside the host library, or $CVFUNC_MODULE),
fires the host event PostCli after every call of a script function and
ExitCli / Exit when the interpreter exits.
"""

import atexit as _atexit
import inspect as _inspect
import logging as _logging
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


def _report(severity, text):
    if severity == _INFO:
        _log.info("%s", text)
        return
    # Point the warning at the user's line, past this package's own frames.
    level, frame = 1, _sys._getframe(0)
    while frame is not None and frame.f_code.co_filename == __file__:
        frame, level = frame.f_back, level + 1
    _warnings.warn(text, Warning, stacklevel=level)


from . import _cvfunc  # noqa: E402  (needs Error and _report defined first)
from ._cvfunc import (  # noqa: E402
    Vector,
    __version__,
    bind,
    call,
    eval,
    functions,
    get_option,
    load,
    lookup,
    set_option,
)

_cvfunc._start(Error, _report)
_atexit.register(_cvfunc._exit)

__all__ = [
    "Error", "Warning", "Vector", "call", "eval", "bind", "lookup", "load",
    "set_option", "get_option", "functions", "__version__",
]


# ---------------------------------------------------------------- Vector, Python side

def _short(values):
    if isinstance(values, list):
        if len(values) > 8:
            return "[" + ", ".join(map(repr, values[:3])) + ", ..., " + ", ".join(map(repr, values[-3:])) + "]"
        return repr(values)
    return _np.array2string(values, threshold=8, edgeitems=3, separator=", ", max_line_width=1 << 20)


def _vector_repr(self):
    if self.kind == "none":
        return "Vector(none)"
    parts = [_short(self.values)]
    if self.ref is not None:
        parts.append("ref=" + _short(self.ref))
    if self.phys:
        parts.append(f"phys={self.phys!r}")
    if self.ref is not None and self.ref_phys:
        parts.append(f"ref_phys={self.ref_phys!r}")
    if len(self.divisions) > 1:
        parts.append(f"divisions={self.divisions!r}")
    if self.name:
        parts.append(f"name={self.name!r}")
    if self.labels:
        parts.append(f"labels={self.labels!r}")
    return "Vector(" + ", ".join(parts) + ")"


def _vector_getitem(self, key):
    values = self.values
    if values is None:
        raise IndexError("a vector without values has no elements")
    return values[key]


def _vector_iter(self):
    values = self.values
    return iter(() if values is None else values)


Vector.__repr__ = _vector_repr
Vector.__getitem__ = _vector_getitem
Vector.__iter__ = _vector_iter


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
    as when a trailing argument is left out; so does a keyword given None."""
    index = {p[0]: i for i, p in enumerate(params) if p[1] != "rest"}
    placed = list(args)
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
    if params is None:
        def function(*args):
            return call(name, *args)
    else:
        def function(*args, **kwargs):
            if kwargs:
                args = _positions(name, params, args, kwargs)
            return call(name, *args)

        function.__signature__ = _signature(params)

    function.__name__ = function.__qualname__ = name
    function.__doc__ = doc
    function.__module__ = __name__
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
    return f


def __dir__():
    return sorted(set(globals()) | {row[0] for row in functions()})
