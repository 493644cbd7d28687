"""Resampling against numpy.interp, level crossings against a numpy sign-change
search and against the WHEN measurements of ngspice on transients it simulates."""

import re
import shutil

import numpy as np
import pytest

import cvfunc

from ngspice_run import run_ngspice


def uneven_wave(rng, n):
    x = np.cumsum(rng.uniform(0.01, 1.0, n))
    y = np.sin(x * 0.7) + rng.normal(0, 0.2, n)
    return x, y


@pytest.mark.parametrize("seed", range(4))
def test_linear_resampling_is_numpy_interp_on_an_even_grid(seed):
    rng = np.random.default_rng(seed)
    x, y = uneven_wave(rng, 3000)
    count = 10007
    got = cvfunc.Interp(cvfunc.Vector(y, ref=x), count, 1, [1])
    grid = np.linspace(x[0], x[-1], count)
    np.testing.assert_allclose(got.ref, grid, rtol=1e-13, atol=1e-12)
    np.testing.assert_allclose(np.asarray(got), np.interp(grid, x, y), rtol=1e-12, atol=1e-12)
    # A grid of its own inside the data, last point short of the stop value.
    start, stop = np.sort(rng.uniform(x[0], x[-1], 2))
    got = cvfunc.Interp(cvfunc.Vector(y, ref=x), [500, start, stop], 1)
    grid = start + np.arange(500) * ((stop - start) / 500)
    np.testing.assert_allclose(np.asarray(got), np.interp(grid, x, y), rtol=1e-12, atol=1e-12)


def sign_change_crossings(x, y, level):
    s = y - level
    i = np.nonzero((s[:-1] < 0) != (s[1:] < 0))[0]
    return x[i] + (level - y[i]) * (x[i + 1] - x[i]) / (y[i + 1] - y[i]), np.sign(s[i + 1])


@pytest.mark.parametrize("seed", range(4))
def test_linear_crossings_are_the_sign_changes(seed):
    rng = np.random.default_rng(seed)
    x, y = uneven_wave(rng, 5000)
    level = 0.1234  # no sample lies exactly on it
    want, rising = sign_change_crossings(x, y, level)
    v = cvfunc.Vector(y, ref=x)
    np.testing.assert_allclose(cvfunc.XFromY(v, level, 1), want, rtol=1e-13)
    np.testing.assert_allclose(cvfunc.XFromY(v, level, 1, 1), want[rising > 0], rtol=1e-13)
    np.testing.assert_allclose(cvfunc.XFromY(v, level, 1, -1), want[rising < 0], rtol=1e-13)


# ---------------------------------------------------------------- ngspice

DECKS = {
    "sine": ("V1 in 0 SIN(0 1 1k)\nR1 in out 1k\nC1 out 0 0.1u\n", "tran 2u 3m",
             ["RISE=1", "FALL=1", "RISE=2", "FALL=2", "CROSS=5"]),
    "step": ("V1 in 0 PULSE(0 1 0.1m 1u 1u 1m 2m)\nR1 in out 1k\nC1 out 0 0.2u\n", "tran 1u 2m",
             ["RISE=1", "FALL=1"]),
}


def measured_crossings(tmp_path, circuit, tran, whens, level):
    names = [f"m{k}" for k in range(len(whens))]
    meas = "\n".join(f"meas tran {n} WHEN v(out)={level} {w}" for n, w in zip(names, whens))
    deck = f"* RC transient\n{circuit}.control\n{tran}\n{meas}\nwrite out.raw v(out)\n.endc\n.end\n"
    stdout, data = run_ngspice(tmp_path, deck)
    found = dict(re.findall(r"^(m\d+)\s*=\s*(\S+)", stdout, re.M))
    assert set(found) == set(names), stdout
    return [float(found[n]) for n in names], data["out"]


def nth(crossings, rising, when):
    kind, k = when.split("=")
    k = int(k) - 1
    if kind == "CROSS":
        return crossings[k]
    return crossings[rising == (1 if kind == "RISE" else -1)][k]


@pytest.mark.skipif(shutil.which("ngspice") is None, reason="ngspice is not installed")
@pytest.mark.parametrize("deck", sorted(DECKS))
def test_linear_crossings_agree_with_ngspice_measurements(tmp_path, deck):
    circuit, tran, whens = DECKS[deck]
    level = 0.5
    measured, out = measured_crossings(tmp_path, circuit, tran, whens, level)
    both = cvfunc.XFromY(out, level, 1)
    rises = cvfunc.XFromY(out, level, 1, 1)
    falls = cvfunc.XFromY(out, level, 1, -1)
    rising = np.isin(both, rises).astype(int) - np.isin(both, falls).astype(int)
    ours = np.array([nth(both, rising, w) for w in whens])
    # ngspice prints its measurements to 7 significant digits.
    np.testing.assert_allclose(ours, measured, rtol=6e-7)
    # The default quadratic solves the curve through three samples instead of
    # the chord: the shift is bounded by the curvature over one time step.
    quadratic = np.array([nth(cvfunc.XFromY(out, level), rising, w) for w in whens])
    assert np.all(np.abs(quadratic - ours) < np.max(np.diff(out.ref)))
