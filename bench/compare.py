"""Times script functions against their numpy/scipy equivalents on the same
arrays in the same process, and writes the table as Markdown.

Each row calls the function through cvfunc.call on pre-built cvfunc.Vector
arguments (so conversion from numpy is not timed) and the peer on the numpy
arrays, best of several repeats. For single-pass functions the table also
gives the time of np.copyto over the bytes the function reads: the memory
system's floor for any code that reads them once.

    python3 bench/compare.py [--sizes 1e3,1e5,1e7] [--out FILE] [--only NAME,...]
"""

import argparse
import functools
import sys
import time

import numpy as np

import cvfunc

RNG = np.random.default_rng(12345)


def best_times(fns, budget=0.6, max_repeats=25):
    """Best wall time of each fn() over repeats that fit a time budget (at
    least 3), the functions taking turns so that the machine's drift (this
    VM's speed changes by tens of percent from one second to the next)
    falls on all of them alike.

    A call of a few microseconds is timed in batches of about 0.2 ms, each
    call's share taken: the clock's own cost and resolution would otherwise
    be a large part of one reading, and one reading of a single call catches
    every interruption whole."""
    batches = []
    for fn in fns:
        fn()  # warm: page in buffers, load code
        t0 = time.perf_counter()
        fn()
        once = time.perf_counter() - t0
        batches.append(1 if once >= 2e-5 else max(1, min(1000, int(2e-4 / max(once, 1e-7)))))
    best, spent, repeats = [float("inf")] * len(fns), 0.0, 0
    while repeats < 3 or (spent < budget * len(fns) and repeats < max_repeats):
        for k, (fn, batch) in enumerate(zip(fns, batches)):
            t0 = time.perf_counter()
            for _ in range(batch):
                fn()
            dt = time.perf_counter() - t0
            best[k], spent = min(best[k], dt / batch), spent + dt
        repeats += 1
    return best


def best_time(fn, budget=0.6, max_repeats=25):
    """Best wall time of fn() (see best_times)."""
    return best_times([fn], budget, max_repeats)[0]


# ----------------------------------------------------------------- inputs

def waveform(n):
    """A noisy sine on an uneven, increasing time grid."""
    x = np.cumsum(RNG.uniform(0.5, 1.5, n)) * 1e-9
    y = np.sin(2 * np.pi * x / (x[-1] / 20 if n > 1 else 1)) + 0.01 * RNG.standard_normal(n)
    return y, x


def ac_response(n):
    """The response of a third-order low-pass over a log frequency grid."""
    f = np.logspace(1, 9, n)
    s = 2j * np.pi * f / 1e6
    return 1 / (1 + s) ** 3, f


# ----------------------------------------------------------------- rows

class Row:
    def __init__(self, name, build, call, peer, peer_name, reads=None, sizes=None, label=None, release=None):
        self.name = name            # script function
        self.label = label or name  # as shown in the table
        self.sizes = sizes          # sizes of its own, instead of the run's
        self.build = build          # n -> dict of arrays
        self.call = call            # dict -> tuple of cvfunc arguments
        self.peer = peer            # dict -> callable doing the peer's work
        self.peer_name = peer_name
        self.reads = reads          # dict -> bytes read by one pass, for single-pass rows
        self.release = release      # result -> None: lets go of what the call kept (timed with it,
                                    # as the peer's garbage is freed within its own time)


def _cumtrapz(d):
    y, x = d["y"], d["x"]
    out = np.empty_like(y)
    out[0] = 0
    np.cumsum(0.5 * (y[1:] + y[:-1]) * np.diff(x), out=out[1:])
    return out


def _db(d):
    return 20 * np.log10(np.abs(d["z"]))


def _phase(d):
    return np.degrees(np.unwrap(np.angle(d["z"])))


def _erf(d):
    import scipy.special
    return scipy.special.erf(d["a"])


def two_reals(n):
    return {"a": RNG.uniform(-10, 10, n), "b": RNG.uniform(0.5, 10, n)}


def one_real(lo, hi):
    return lambda n: {"a": RNG.uniform(lo, hi, n)}


def wave(n):
    y, x = waveform(n)
    return {"y": y, "x": x}


def ac(n):
    z, f = ac_response(n)
    return {"z": z, "f": f}


def _crossings(s, r, level):
    """All crossings of s through level, r interpolated linearly: the numpy way."""
    d = s - level
    i = np.nonzero(np.signbit(d[:-1]) != np.signbit(d[1:]))[0]
    return r[i] + (level - s[i]) * (r[i + 1] - r[i]) / (s[i + 1] - s[i])


def _find_peaks(d):
    import scipy.signal
    return scipy.signal.find_peaks(d["y"])


def _lfilter(d):
    import scipy.signal
    return scipy.signal.lfilter([0.5], [1, -0.3, -0.2], d["a"])


def _lowpass(d):
    import scipy.signal
    a = 1e-9 / (1e-9 + 5e-9)
    return scipy.signal.lfilter([a], [1, a - 1], d["y"])


def _trapz(y, x):
    return np.trapz(y, x)


def _truncate(d):
    x, y = d["x"], d["y"]
    lo, hi = x[len(x) // 4], x[3 * len(x) // 4]
    m = (x >= lo) & (x <= hi)
    return y[m], x[m]


FFT_SIZES = [2**10, 2**16, 2**20]


def even_wave(n):
    x = np.arange(n) * 1e-9
    return {"y": np.sin(2 * np.pi * 50 * np.arange(n) / n) + 0.01 * RNG.standard_normal(n), "x": x}


def _fourier(d, harmonics):
    """Coefficients of the first harmonics by the trapezoid rule: one pass per harmonic."""
    y, x = d["y"], d["x"]
    w = 2 * np.pi * 20 / (x[-1] - x[0])
    return [np.trapz(y * np.exp(-1j * k * w * x), x) for k in range(harmonics)]


def wave_grid(n):
    y, x = waveform(n)
    return {"y": y, "x": x, "grid": np.linspace(x[0], x[-1], n)}


def names(n):
    """Net names with repeats and mixed case, and a second list half like the first."""
    ids = RNG.integers(0, n, n)
    first = [f"Net{i}" if i % 2 else f"net{i}" for i in ids]
    second = [f"NET{i}" for i in RNG.integers(0, 2 * n, n)]
    return {"s": first, "t": second}


def _union(d):
    seen, out = set(), []
    for s in d["s"] + d["t"]:
        k = s.lower()
        if k not in seen:
            seen.add(k)
            out.append(s)
    return out


def _intersect(d):
    inside = {s.lower() for s in d["s"]}
    seen, out = set(), []
    for s in d["t"]:
        k = s.lower()
        if k in inside and k not in seen:
            seen.add(k)
            out.append(s)
    return out


WAVE = lambda d: (cvfunc.Vector(d["y"], ref=d["x"]),)  # noqa: E731
AC = lambda d: (cvfunc.Vector(d["z"], ref=d["f"]),)  # noqa: E731
A = lambda d: (cvfunc.Vector(d["a"]),)  # noqa: E731
AB = lambda d: (cvfunc.Vector(d["a"]), cvfunc.Vector(d["b"]))  # noqa: E731
TAPS8, TAPS64 = RNG.uniform(-1, 1, 8), RNG.uniform(-1, 1, 64)
NAME_SIZES = [10**5, 10**6]

ROWS = [
    Row("_Plus", two_reals, AB, lambda d: (lambda: np.add(d["a"], d["b"])), "numpy.add",
        reads=lambda d: 16 * len(d["a"])),
    Row("_Times", two_reals, AB, lambda d: (lambda: np.multiply(d["a"], d["b"])), "numpy.multiply",
        reads=lambda d: 16 * len(d["a"])),
    Row("sin", one_real(-10, 10), A, lambda d: (lambda: np.sin(d["a"])), "numpy.sin"),
    Row("exp", one_real(-50, 50), A, lambda d: (lambda: np.exp(d["a"])), "numpy.exp"),
    Row("db", ac, AC, lambda d: (lambda: _db(d)), "20*log10(abs(z))"),
    Row("phase", ac, AC, lambda d: (lambda: _phase(d)), "degrees(unwrap(angle(z)))"),
    Row("erf", one_real(-4, 4), A, lambda d: (lambda: _erf(d)), "scipy.special.erf"),
    Row("integ", wave, WAVE, lambda d: (lambda: _cumtrapz(d)), "cumsum of trapezoids",
        reads=lambda d: 16 * len(d["y"])),
    Row("diff", wave, WAVE, lambda d: (lambda: np.diff(d["y"]) / np.diff(d["x"])), "diff(y)/diff(x)"),
    Row("XFromY", wave, lambda d: WAVE(d) + (0.0, 1), lambda d: (lambda: _crossings(d["y"], d["x"], 0.0)),
        "sign changes + linear", reads=lambda d: 8 * len(d["y"])),
    Row("YFromX", wave, lambda d: WAVE(d) + (d["x"][len(d["x"]) // 2 + 1] * 0.5 + d["x"][len(d["x"]) // 2] * 0.5,),
        lambda d: (lambda: _crossings(d["x"], d["y"], d["x"][len(d["x"]) // 2])), "sign changes + linear"),
    Row("Interp", wave_grid, lambda d: WAVE(d) + (len(d["y"]), 1),
        lambda d: (lambda: np.interp(d["grid"], d["x"], d["y"])), "numpy.interp (order 1)"),
    Row("Maxima", wave, lambda d: WAVE(d) + ([], ["xsort", "nointerp"]), lambda d: (lambda: _find_peaks(d)),
        "scipy.signal.find_peaks"),
    Row("Maximum", wave, WAVE, lambda d: (lambda: (d["x"][np.argmax(d["y"])], np.max(d["y"]))), "argmax + max",
        reads=lambda d: 8 * len(d["y"])),
    Row("Mean1", wave, WAVE, lambda d: (lambda: _trapz(d["y"], d["x"]) / (d["x"][-1] - d["x"][0])),
        "numpy.trapz / span", reads=lambda d: 16 * len(d["y"])),
    Row("RMS1", wave, WAVE, lambda d: (lambda: np.sqrt(_trapz(d["y"] ** 2, d["x"]) / (d["x"][-1] - d["x"][0]))),
        "sqrt(trapz(y^2) / span)", reads=lambda d: 16 * len(d["y"])),
    Row("Histogram", one_real(0, 1), lambda d: A(d) + (100,), lambda d: (lambda: np.histogram(d["a"], 100)),
        "numpy.histogram", reads=lambda d: 8 * len(d["a"])),
    Row("Truncate", wave, lambda d: WAVE(d) + (d["x"][len(d["x"]) // 4], d["x"][3 * len(d["x"]) // 4]),
        lambda d: (lambda: _truncate(d)), "boolean mask", reads=lambda d: 16 * len(d["y"])),
    Row("FIR", one_real(-1, 1), lambda d: A(d) + (cvfunc.Vector(TAPS8),),
        lambda d: (lambda: np.convolve(d["a"], TAPS8)[: len(d["a"])]), "numpy.convolve, 8 taps", label="FIR 8"),
    Row("IIR", one_real(-1, 1), lambda d: A(d) + (cvfunc.Vector([0.5, 0.3, 0.2]),), lambda d: (lambda: _lfilter(d)),
        "scipy.signal.lfilter, order 2"),
    Row("LPF", wave, lambda d: WAVE(d) + (5e-9,), lambda d: (lambda: _lowpass(d)),
        "scipy.signal.lfilter, order 1"),
    Row("fft", even_wave, WAVE, lambda d: (lambda: np.fft.fft(d["y"])), "numpy.fft.fft", sizes=FFT_SIZES),
    Row("fft", even_wave, WAVE, lambda d: (lambda: np.fft.rfft(d["y"])), "numpy.fft.rfft", sizes=FFT_SIZES,
        label="fft (rfft)"),
    Row("Spectrum", wave, lambda d: WAVE(d) + (len(d["y"]),),
        lambda d: (lambda: np.fft.rfft(np.interp(np.linspace(d["x"][0], d["x"][-1], len(d["y"]), endpoint=False),
                                                  d["x"], d["y"]))),
        "numpy.interp + rfft", sizes=FFT_SIZES),
    Row("Fourier", wave, lambda d: WAVE(d) + (20 / (d["x"][-1] - d["x"][0]), 10),
        lambda d: (lambda: _fourier(d, 10)), "trapezoid per harmonic", sizes=[10**4, 10**6], label="Fourier 10"),
    Row("Fourier", wave, lambda d: WAVE(d) + (20 / (d["x"][-1] - d["x"][0]), 100),
        lambda d: (lambda: _fourier(d, 100)), "trapezoid per harmonic", sizes=[10**4, 10**6], label="Fourier 100"),
    Row("FIR", one_real(-1, 1), lambda d: A(d) + (cvfunc.Vector(TAPS64),),
        lambda d: (lambda: np.convolve(d["a"], TAPS64)[: len(d["a"])]), "numpy.convolve, 64 taps", label="FIR 64"),
    Row("Sort", names, lambda d: (cvfunc.Vector(d["s"]),), lambda d: (lambda: sorted(d["s"], key=str.lower)),
        "sorted(key=str.lower)", sizes=NAME_SIZES),
    Row("SortIdx", names, lambda d: (cvfunc.Vector(d["s"]),),
        lambda d: (lambda: sorted(range(len(d["s"])), key=[s.lower() for s in d["s"]].__getitem__)),
        "sorted indices, key=str.lower", sizes=NAME_SIZES),
    Row("SetUnion", names, lambda d: (cvfunc.Vector(d["s"]), cvfunc.Vector(d["t"])), lambda d: (lambda: _union(d)),
        "set of str.lower, in order", sizes=NAME_SIZES),
    Row("SetIntersect", names, lambda d: (cvfunc.Vector(d["s"]), cvfunc.Vector(d["t"])),
        lambda d: (lambda: _intersect(d)), "set of str.lower, in order", sizes=NAME_SIZES),
    Row("FormatNumber", one_real(-1e6, 1e6), lambda d: A(d) + (6,),
        lambda d: (lambda: [format(v, ".6g") for v in d["a"].tolist()]), "format(v, '.6g')", sizes=NAME_SIZES),
]


def _family_rows():
    """Rows that families keep beside this file, in bench/rows_<family>.py:
    each such file defines rows(Row, names) returning a list of Row."""
    import pathlib
    import runpy
    extra = []
    for path in sorted(pathlib.Path(__file__).parent.glob("rows_*.py")):
        extra += runpy.run_path(str(path))["rows"](Row, names)
    return extra


ROWS += _family_rows()


# Large arrays come from fresh mmap pages, and a fresh 4 KiB page costs
# 13-19 us to fault in on this VM: a peer that allocates its result pays that
# on every call. The second condition tells glibc to keep freed memory (what
# MALLOC_MMAP_MAX_=0 MALLOC_TRIM_THRESHOLD_=... would), so that a reader can
# tell which ratios hold where page faults are cheap. It runs last, once,
# because it cannot be undone within the process.
KEPT_FROM = 10**6


def keep_freed_memory():
    import ctypes
    libc = ctypes.CDLL("libc.so.6")
    M_TRIM_THRESHOLD, M_TOP_PAD, M_MMAP_MAX = -1, -2, -4
    libc.mallopt(M_MMAP_MAX, 0)
    libc.mallopt(M_TRIM_THRESHOLD, 2**31 - 1)
    libc.mallopt(M_TOP_PAD, 1 << 30)


def bound_call(name, args):
    """cvfunc.call(name, *args) as a script writes it: the arguments named, not
    unpacked into a tuple made for each call (which costs 0.1 us, a fifth of
    a call on 10^3 elements, and no peer pays it). A partial passes them on
    by vectorcall, from the stack."""
    return functools.partial(cvfunc.call, name, *args)


def time_pair(row, d):
    run = bound_call(row.name, row.call(d))
    mine = (lambda: row.release(run())) if row.release else run
    return tuple(best_times([mine, row.peer(d)]))


def run(sizes, only=None, out=sys.stdout):
    registered = {r[0].lower() for r in cvfunc.functions()}
    rows = []
    for row in ROWS:
        if only and row.name not in only and row.label not in only:
            continue
        if row.name.lower() not in registered:
            print(f"skipping {row.name}: not registered", file=sys.stderr)
            continue
        for n in row.sizes or sizes:
            d = row.build(n)
            t_cv, t_peer = time_pair(row, d)
            t_bw = None
            if row.reads:
                nbytes = row.reads(d)
                src = np.ones(nbytes // 8)
                dst = np.empty_like(src)
                t_bw = best_time(lambda: np.copyto(dst, src))
            rows.append([row, n, t_cv, t_peer, t_bw, None])
            bw = f"{t_cv / t_bw:5.2f}" if t_bw else "    -"
            print(f"{row.label:10s} n={n:>9d}  cvfunc {t_cv * 1e3:9.3f} ms  {row.peer_name} {t_peer * 1e3:9.3f} ms"
                  f"  peer/cvfunc {t_peer / t_cv:6.2f}  cvfunc/copy {bw}", file=sys.stderr)
    large = [r for r in rows if r[1] >= KEPT_FROM]
    if large:
        keep_freed_memory()
        for r in large:
            t_cv, t_peer = time_pair(r[0], r[0].build(r[1]))
            r[5] = t_peer / t_cv
            print(f"{r[0].label:10s} n={r[1]:>9d}  freed memory kept: peer/cvfunc {r[5]:6.2f}", file=sys.stderr)
    return rows


def overhead(tool, statements=10**6):
    """Cost of one scalar operation: through cvfunc.call, through the evaluator
    (the cvfunc tool running a script of `statements` lines) and, for the
    same work, CPython running the same lines as a Python file."""
    import os
    import subprocess
    import tempfile

    rows = []
    a, b = cvfunc.Vector(1.0), cvfunc.Vector(2.0)
    calls = 20000
    t = best_time(lambda: [cvfunc.call("_Plus", a, b) for _ in range(calls)], budget=1.0, max_repeats=5)
    rows.append(("cvfunc.call('_Plus', a, b) from Python", t / calls, "a + b on Python floats",
                 best_time(lambda: [1.0 + 2.0 for _ in range(calls)], budget=0.3) / calls))
    if tool:
        with tempfile.TemporaryDirectory() as d:
            text = "x = 0\n" + "x = x + 1.5\n" * statements
            cvf, py = os.path.join(d, "s.cvf"), os.path.join(d, "s.py")
            with open(cvf, "w") as f:
                f.write(text + "x\n")
            with open(py, "w") as f:
                f.write(text + "print(x)\n")
            run = lambda *cmd: subprocess.run(cmd, check=True, capture_output=True)  # noqa: E731
            t_cv = best_time(lambda: run(tool, cvf), budget=0, max_repeats=3)
            t_py = best_time(lambda: run(sys.executable, "-B", py), budget=0, max_repeats=3)
            rows.append((f"cvfunc tool, script of {statements:.0e} statements x = x + 1.5", t_cv / statements,
                         "python3 on the same lines", t_py / statements))
    return rows


def overhead_markdown(rows):
    lines = ["| what | cvfunc per operation | peer | peer per operation | peer/cvfunc |", "|---|---:|---|---:|---:|"]
    for what, t, peer, tp in rows:
        lines.append(f"| {what} | {t * 1e9:.0f} ns | {peer} | {tp * 1e9:.0f} ns | {tp / t:.2f} |")
    return "\n".join(lines)


def markdown(rows):
    lines = ["| function | n | cvfunc | ns/element | peer | peer time | ns/element | peer/cvfunc | "
             "peer/cvfunc, freed memory kept | cvfunc/copy |",
             "|---|---:|---:|---:|---|---:|---:|---:|---:|---:|"]
    for row, n, t_cv, t_peer, t_bw, kept in rows:
        bw = f"{t_cv / t_bw:.2f}" if t_bw else ""
        lines.append(f"| `{row.label}` | {n:.0e} | {fmt(t_cv)} | {t_cv / n * 1e9:.2f} | {row.peer_name} | "
                     f"{fmt(t_peer)} | {t_peer / n * 1e9:.2f} | {t_peer / t_cv:.2f} | "
                     f"{'' if kept is None else f'{kept:.2f}'} | {bw} |")
    return "\n".join(lines)


def fmt(t):
    if t < 1e-3:
        return f"{t * 1e6:.1f} µs"
    if t < 1:
        return f"{t * 1e3:.2f} ms"
    return f"{t:.2f} s"


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--sizes", default="1e3,1e5,1e7")
    p.add_argument("--only", default="")
    p.add_argument("--out", default="")
    p.add_argument("--tool", default="", help="the cvfunc tool, for the evaluator's overhead")
    a = p.parse_args()
    sizes = [int(float(s)) for s in a.sizes.split(",") if s]
    only = {s for s in a.only.split(",") if s}
    text = markdown(run(sizes, only))
    if not only:
        text += "\n\n### Cost of one scalar operation\n\n" + overhead_markdown(overhead(a.tool))
    if a.out:
        with open(a.out, "w") as f:
            f.write(text + "\n")
    else:
        print(text)


if __name__ == "__main__":
    main()
