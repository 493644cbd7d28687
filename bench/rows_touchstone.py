"""Comparison rows of the Touchstone reader: LoadTouchstone of a 4-port file of
10^5 frequencies and of a 16-port file of 10^3 frequencies, beside scikit-rf
reading the same file into a Network.

The files (S-parameters, RI, one matrix row per line, 9 significant digits)
are made once in a temporary directory and removed when the run ends; n is
the number of frequency points. Each timed LoadTouchstone also deletes the
table it made, as each timed Network is dropped before the next.
"""

import os
import warnings

import numpy as np

import cvfunc
from scratch import once as _once, workdir as _workdir


def _file(ports, points):
    return _once(("touchstone", ports, points), lambda: _make_file(ports, points))


def _make_file(ports, points):
    path = os.path.join(_workdir(), f"bench_{points}.s{ports}p")
    rng = np.random.default_rng(ports)
    values = rng.uniform(-1, 1, (points, ports, 2 * ports))
    freqs = np.linspace(1e6, 40e9, points)
    with open(path, "w") as f:
        f.write("! made for the benchmark\n# Hz S RI R 50\n")
        for i in range(points):
            for r in range(ports):
                head = f"{freqs[i]:.12g}" if r == 0 else " "
                f.write(head + " " + " ".join(f"{v:.9g}" for v in values[i, r]) + "\n")
    return path


def _skrf(path):
    warnings.simplefilter("ignore")
    import skrf
    return lambda: skrf.Network(path)


def _delete(handle):
    cvfunc.DeleteTouchstone(handle)


def rows(Row, names):
    return [
        Row("LoadTouchstone", lambda n: {"p": _file(4, n)}, lambda d: (d["p"], 4), lambda d: _skrf(d["p"]),
            "skrf.Network(file)", sizes=[10**5], label="LoadTouchstone 4-port", release=_delete),
        Row("LoadTouchstone", lambda n: {"p": _file(16, n)}, lambda d: (d["p"], 16), lambda d: _skrf(d["p"]),
            "skrf.Network(file)", sizes=[10**3], label="LoadTouchstone 16-port", release=_delete),
    ]
