"""Comparison rows of the measure module at 10^7 points: each measurement
beside the numpy recipe a user would otherwise write for it.

- RiseTime: the settled levels as the modes of a histogram of each half of
  the values (numpy.histogram, 100 bins), then the 10 % and 90 % crossings
  of the first rising edge from the sign changes, interpolated linearly.
- SettlingTime: the last sample outside final +- tolerance (final the last
  value), then the band edge interpolated on the segment after it.
- THD: numpy.fft.rfft over the whole periods (even steps, 1000 samples a
  period), harmonics 2 to 10 against the fundamental.
- PhaseMargin: 20 log10 |T|, the first fall through 0 dB, the unwrapped
  phase there.
- StdDev: numpy.std(ddof=1) of 10^7 values.
"""

import numpy as np

import cvfunc

SIZES = [10**7]


def _step(n):
    rng = np.random.default_rng(3)
    t = np.cumsum(rng.uniform(0.5, 1.5, n))
    t *= 20.0 / t[-1]
    zeta, wn = 0.4, 2 * np.pi
    wd = wn * np.sqrt(1 - zeta**2)
    tau = np.maximum(t - 1, 0)
    y = 1 - np.exp(-zeta * wn * tau) * (np.cos(wd * tau) + zeta / np.sqrt(1 - zeta**2) * np.sin(wd * tau))
    return {"y": y, "x": t}


def _sine(n):
    rng = np.random.default_rng(4)
    t = np.arange(n) * 1e-9
    f0 = 1e6  # 1000 samples a period
    y = np.sin(2 * np.pi * f0 * t) + 0.01 * np.sin(2 * np.pi * 3 * f0 * t) + 1e-4 * rng.standard_normal(n)
    return {"y": y, "x": t, "f0": f0}


def _loop(n):
    f = np.logspace(1, 9, n)
    s = 2j * np.pi * f
    return {"z": 1e4 / ((1 + s / (2 * np.pi * 100)) * (1 + s / (2 * np.pi * 1e6)) * (1 + s / (2 * np.pi * 3e6))),
            "f": f}


def _values(n):
    return {"a": np.random.default_rng(5).normal(1.0, 0.05, n)}


def _crossing(t, y, level, start=0):
    k = start + np.flatnonzero((y[start:-1] < level) & (y[start + 1:] >= level))[0]
    return t[k] + (level - y[k]) * (t[k + 1] - t[k]) / (y[k + 1] - y[k])


def _mode(values):
    counts, edges = np.histogram(values, 100)
    k = np.argmax(counts)
    return 0.5 * (edges[k] + edges[k + 1])


def _rise_time(d):
    t, y = d["x"], d["y"]
    mid = 0.5 * (y.min() + y.max())
    top, base = _mode(y[y >= mid]), _mode(y[y < mid])
    low, high = base + 0.1 * (top - base), base + 0.9 * (top - base)
    t_high = _crossing(t, y, high)
    k_high = np.searchsorted(t, t_high)
    below = np.flatnonzero((y[:k_high - 1] < low) & (y[1:k_high] >= low))[-1]
    return t_high - (t[below] + (low - y[below]) * (t[below + 1] - t[below]) / (y[below + 1] - y[below]))


def _settling(d, tol):
    t, y = d["x"], d["y"]
    final = y[-1]
    k = np.flatnonzero(np.abs(y - final) > tol)[-1]
    edge = final + tol if y[k] > final else final - tol
    return t[k] + (edge - y[k]) * (t[k + 1] - t[k]) / (y[k + 1] - y[k]) - t[0]


def _thd(d):
    y, f0 = d["y"], d["f0"]
    per = int(round(1 / (f0 * (d["x"][1] - d["x"][0]))))
    periods = len(y) // per
    spectrum = np.abs(np.fft.rfft(y[len(y) - periods * per:]))
    harmonics = spectrum[periods * np.arange(1, 11)]
    return 100 * np.sqrt(np.sum(harmonics[1:] ** 2)) / harmonics[0]


def _phase_margin(d):
    g = 20 * np.log10(np.abs(d["z"]))
    k = np.flatnonzero((g[:-1] > 0) & (g[1:] <= 0))[0]
    w = g[k] / (g[k] - g[k + 1])
    phase = np.degrees(np.unwrap(np.angle(d["z"])))
    return 180 + phase[k] + w * (phase[k + 1] - phase[k])


def rows(Row, names):
    wave = lambda d: (cvfunc.Vector(d["y"], ref=d["x"]),)  # noqa: E731
    return [
        Row("RiseTime", _step, wave, lambda d: (lambda: _rise_time(d)), "histogram levels + crossings",
            sizes=SIZES),
        Row("SettlingTime", _step, lambda d: wave(d) + (0.02,), lambda d: (lambda: _settling(d, 0.02)),
            "last sample outside the band + edge", sizes=SIZES),
        Row("THD", _sine, lambda d: wave(d) + (d["f0"],), lambda d: (lambda: _thd(d)),
            "numpy.fft.rfft over whole periods", sizes=SIZES),
        Row("PhaseMargin", _loop, lambda d: (cvfunc.Vector(d["z"], ref=d["f"]),),
            lambda d: (lambda: _phase_margin(d)), "db, unwrap(angle), crossing", sizes=SIZES),
        Row("StdDev", _values, lambda d: (cvfunc.Vector(d["a"]),), lambda d: (lambda: np.std(d["a"], ddof=1)),
            "numpy.std(ddof=1)", sizes=SIZES),
    ]
