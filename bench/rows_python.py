"""Comparison rows of the Python binding: what calling from Python costs on
top of the work itself.

Rows (loaded by compare.py):
  _Plus scalar      cvfunc.call("_Plus", 1.0, 2.0) on Python floats, against
                    numpy.add on the same two floats (a one-element result
                    is a Vector over the host value: no numpy array built);
  _Plus numpy args  _Plus given two numpy arrays (lent to the call, not
                    copied), against numpy.add.

Run as a script for what the rows cannot show: the time to make a Vector from
a 10^7-element array, and the memory a Vector and a call add.

    PYTHONPATH=build-X/python /usr/bin/python3 bench/rows_python.py
"""

import os
import sys
import timeit

import numpy as np

import cvfunc


def _floats(n):
    return {}


def _arrays(n):
    rng = np.random.default_rng(7)
    return {"a": rng.standard_normal(n), "b": rng.standard_normal(n)}


def rows(Row, names):
    return [
        Row("_Plus", _floats, lambda d: (1.0, 2.0), lambda d: (lambda: np.add(1.0, 2.0)), "numpy.add(1.0, 2.0)",
            sizes=[1], label="_Plus scalar"),
        Row("_Plus", _arrays, lambda d: (d["a"], d["b"]), lambda d: (lambda: np.add(d["a"], d["b"])), "numpy.add",
            sizes=[10**5, 10**7], label="_Plus numpy args"),
    ]


def _rss():
    with open(f"/proc/{os.getpid()}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _best(stmt, number, repeat=7):
    return min(timeit.repeat(stmt, number=number, repeat=repeat)) / number


def main():
    x = np.random.default_rng(1).standard_normal(10**7)
    frozen = x.copy()
    cvfunc.Vector(frozen)  # later Vectors of it find it read-only already
    before = _rss()
    t_new = _best(lambda: cvfunc.Vector(frozen), 2000)
    grown = _rss() - before
    # Fresh copies made first, then wrapped: straight after an 80 MB copy the
    # caches hold nothing of the interpreter, and any Python statement (even
    # numpy's own flags.writeable = False) takes tens of microseconds.
    fresh = [x.copy() for _ in range(5)]
    t_first = min(_first(y) for y in fresh)
    print(f"Vector(10^7 float64 array): {t_new * 1e6:.2f} us (array read-only already), "
          f"{t_first * 1e6:.2f} us (first time: made read-only); RSS grew {grown / 2**20:.1f} MiB over 2000*7 Vectors")

    # Interleaved, the best of each: this VM's speed drifts by more than the
    # differences measured.
    t_call = t_np = t_attr = float("inf")
    for _ in range(9):
        t_call = min(t_call, _best(lambda: cvfunc.call("_Plus", 1.0, 2.0), 20_000, 1))
        t_np = min(t_np, _best(lambda: np.add(1.0, 2.0), 20_000, 1))
        t_attr = min(t_attr, _best(lambda: cvfunc._Plus(1.0, 2.0), 20_000, 1))
    print(f"scalar: cvfunc.call('_Plus', 1.0, 2.0) {t_call * 1e9:.0f} ns, cvfunc._Plus(1.0, 2.0) {t_attr * 1e9:.0f} ns, "
          f"numpy.add(1.0, 2.0) {t_np * 1e9:.0f} ns, ratio numpy/call {t_np / t_call:.2f}, "
          f"numpy/attribute {t_np / t_attr:.2f} (above 1: cvfunc faster)")

    a, b = x, np.random.default_rng(2).standard_normal(10**7)
    before = _rss()
    r = cvfunc._Plus(a, b)
    print(f"_Plus of two 10^7 numpy arrays: RSS +{(_rss() - before) / 2**20:.0f} MiB (the result is 76 MiB)")
    del r


def _first(y):
    t = timeit.default_timer()
    cvfunc.Vector(y)
    return timeit.default_timer() - t


if __name__ == "__main__":
    sys.exit(main())
