"""Every measurement of the measure module over a 50-run Monte Carlo set
gives 50 values, labelled like the runs, each equal to the measurement of
that run alone."""

import numpy as np
import pytest

import cvfunc

RUNS = 50
LABELS = [f"R1={1000 + 7 * k}" for k in range(RUNS)]


def _runs(make):
    """A 50-run Vector of make(k) -> (y, x) with uneven grids of their own lengths."""
    ys, xs = zip(*(make(k) for k in range(RUNS)))
    return cvfunc.Vector(np.concatenate(ys), ref=np.concatenate(xs), divisions=[len(y) for y in ys],
                         labels=LABELS)


def _grid(rng, stop, n):
    x = np.cumsum(rng.uniform(0.5, 1.5, n))
    return (x - x[0]) * stop / (x[-1] - x[0])


def _step(k):
    """A second-order step at t = 1 with damping 0.3 ... 0.8, then a step down at t = 11."""
    rng = np.random.default_rng(k)
    zeta, wn = 0.3 + 0.5 * k / RUNS, 2 * np.pi * rng.uniform(0.9, 1.1)
    t = _grid(rng, 20, 4000 + k)
    wd = wn * np.sqrt(1 - zeta**2)

    def response(tau):
        tau = np.maximum(tau, 0)
        return 1 - np.exp(-zeta * wn * tau) * (np.cos(wd * tau) + zeta / np.sqrt(1 - zeta**2) * np.sin(wd * tau))

    return response(t - 1) - response(t - 11), t


def _clock(k):
    rng = np.random.default_rng(100 + k)
    t = _grid(rng, 10e-6, 3000 + k)
    edges = np.cumsum(rng.normal(0.5e-6, 5e-9, 40)) - 0.3e-6
    y = np.zeros_like(t)
    for i, e in enumerate(edges):
        y = np.where(t >= e, float(i % 2 == 0), y)
    return np.convolve(y, np.ones(5) / 5, mode="same"), t


def _sine(k):
    rng = np.random.default_rng(200 + k)
    t = _grid(rng, 1e-3, 8001 + k)
    f0 = 10e3
    y = np.sin(2 * np.pi * f0 * t) + 0.01 * (1 + k / RUNS) * np.sin(2 * np.pi * 3 * f0 * t) \
        + 1e-3 * rng.standard_normal(t.size)
    return y, t


def _loop(k):
    f = np.logspace(1, 8, 500)
    s = 2j * np.pi * f
    a0 = 1e4 * (1 + k / RUNS)
    return a0 / ((1 + s / (2 * np.pi * 100)) * (1 + s / (2 * np.pi * 1e6)) * (1 + s / (2 * np.pi * 3e6))), f


SETS = {"step": _step, "clock": _clock, "sine": _sine, "loop": _loop}

# function, the set it measures, the arguments after the waveform (WAVE: the
# same run of that set again, for measurements between two waveforms)
WAVE = object()
CALLS = [
    *[(n, "step", ()) for n in ("PeakToPeak", "TopLevel", "BaseLevel", "RiseTime", "FallTime", "SlewRate",
                                "Overshoot", "Undershoot")],
    ("DerivAt", "step", (1.5,)),
    ("SettlingTime", "step", (0.02,)),
    ("Cross", "clock", (0.5, "rise", 3)),
    ("TrigTarg", "clock", (0.5, "rise", 1, WAVE, 0.5, "fall", 1)),
    *[(n, "clock", ()) for n in ("PulseWidth", "DutyCycle", "Frequency", "PeriodJitter")],
    *[(n, "sine", (10e3,)) for n in ("THD", "THDN", "SNR", "SINAD", "ENOB", "SFDR")],
    *[(n, "loop", ()) for n in ("Bandwidth", "UnityGainFrequency", "PhaseMargin", "GainMargin")],
    ("GainAt", "loop", (1e3,)),
]


@pytest.fixture(scope="module")
def sets():
    return {name: _runs(make) for name, make in SETS.items()}


@pytest.mark.parametrize("name,which,args", CALLS, ids=[c[0] for c in CALLS])
def test_each_run_measures_as_it_would_alone(sets, name, which, args):
    def measure(w):
        return cvfunc.call(name, w, *(w if a is WAVE else a for a in args))

    w = sets[which]
    together = measure(w)
    assert np.asarray(together).shape == (RUNS,)
    np.testing.assert_array_equal(together, [float(measure(w.division(k))) for k in range(RUNS)])
    assert together.run_labels == LABELS

