"""Rows of the hot kernels against the memory floor and against the peers
that write into a buffer they already hold.

- "<name> / read": the peer is one read-only pass over the bytes the function
  reads (a bitwise-or reduction of each array viewed as integers: vectorised,
  no arithmetic to speak of, nothing written). peer/cvfunc is then the
  fraction of the memory floor the function reaches; 1/1.1 = 0.91 is the
  target.
- "_Plus / add(out=)": numpy.add into an output array allocated once, so
  neither side pays for fresh pages.
- "Mean1 runs 2thr": Mean1 over 1000 runs of n points each (one divided
  Vector), timed with Threads=2; the peer is the same call with Threads=1, so
  peer/cvfunc is the speed-up of the second core.

Run with CVFUNC_KERNELS=sse2 or avx2 to measure a lower instruction-set level.
"""

import numpy as np

import cvfunc

RNG = np.random.default_rng(4321)


def _wave(n):
    x = np.cumsum(RNG.uniform(0.5, 1.5, n)) * 1e-9
    y = np.sin(2 * np.pi * x / (x[-1] / 20 if n > 1 else 1)) + 0.01 * RNG.standard_normal(n)
    return {"y": y, "x": x}


def _two(n):
    return {"a": RNG.uniform(-10, 10, n), "b": RNG.uniform(0.5, 10, n), "out": np.empty(n)}


def _read(*keys):
    """One read-only pass over the named arrays."""
    def peer(d):
        views = [d[k].view(np.uint64) for k in keys]
        return lambda: [np.bitwise_or.reduce(v) for v in views]
    return peer


def _wave_args(d):
    return (cvfunc.Vector(d["y"], ref=d["x"]),)


RUNS = 1000


def _runs(n):
    d = _wave(n * RUNS)
    d["v"] = cvfunc.Vector(d["y"], ref=np.tile(d["x"][:n], RUNS), divisions=[n] * RUNS)
    cvfunc.set_option("Threads", "2")
    return d


def _one_thread(d):
    def peer():
        cvfunc.set_option("Threads", "1")
        try:
            cvfunc.call("Mean1", d["v"])
        finally:
            cvfunc.set_option("Threads", "2")
    return peer


def rows(Row, names):
    floor = []
    # Maximum and Minimum read y (x only where the extreme lies); the
    # integrals read both.
    for name, keys in (("Maximum", ("y",)), ("Minimum", ("y",)), ("Mean1", ("y", "x")), ("RMS1", ("y", "x"))):
        floor.append(Row(name, _wave, _wave_args, _read(*keys), "read-only pass, " + " and ".join(keys),
                         label=f"{name} / read"))
    # The crossing scan reads y alone; the few crossings read x where they lie.
    floor.append(Row("XFromY", _wave, lambda d: _wave_args(d) + (0.0, 1), _read("y"), "read-only pass, y",
                     label="XFromY / read"))
    floor.append(Row("Histogram", lambda n: {"a": RNG.uniform(0, 1, n)}, lambda d: (cvfunc.Vector(d["a"]), 100),
                     _read("a"), "read-only pass", label="Histogram / read"))
    return floor + [
        Row("_Plus", _two, lambda d: (cvfunc.Vector(d["a"]), cvfunc.Vector(d["b"])),
            lambda d: (lambda: np.add(d["a"], d["b"], out=d["out"])), "numpy.add(out=)", label="_Plus / add(out=)"),
        Row("Mean1", _runs, lambda d: (d["v"],), _one_thread, "Mean1 with Threads=1", sizes=[10**4, 10**5],
            label="Mean1 runs 2thr"),
    ]
