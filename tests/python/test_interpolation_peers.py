"""Resampling against numpy.interp and level crossings against a numpy
sign-change search."""

import numpy as np
import pytest

import cvfunc


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
