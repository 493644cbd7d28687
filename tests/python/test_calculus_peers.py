"""The running integral, the derivative and the area between limits against numpy, on random uneven grids."""

import numpy as np
import pytest

import cvfunc

trapezoid = getattr(np, "trapezoid", None) or np.trapz


def uneven_grid(rng, n):
    x = np.cumsum(rng.uniform(0.01, 2.0, n)) - 1.0
    y = np.sin(x) * 3 + rng.normal(0, 0.5, n)
    return x, y


@pytest.mark.parametrize("seed", range(5))
def test_integ_is_the_cumulative_trapezoid(seed):
    x, y = uneven_grid(np.random.default_rng(seed), 2000)
    expected = np.concatenate([[0], np.cumsum(0.5 * (y[1:] + y[:-1]) * np.diff(x))])
    got = cvfunc.integ(cvfunc.Vector(y, ref=x))
    np.testing.assert_allclose(np.asarray(got), expected, rtol=1e-13, atol=1e-12)
    np.testing.assert_array_equal(got.ref, x)


@pytest.mark.parametrize("seed", range(3))
def test_diff_is_the_backward_difference_on_distinct_steps(seed):
    x, y = uneven_grid(np.random.default_rng(seed), 500)
    slopes = np.diff(y) / np.diff(x)
    got = np.asarray(cvfunc.diff(cvfunc.Vector(y, ref=x)))
    np.testing.assert_allclose(got, np.concatenate([[slopes[0]], slopes]), rtol=1e-12)


@pytest.mark.parametrize("seed", range(10))
def test_area_is_the_trapezoid_between_interpolated_limits(seed):
    rng = np.random.default_rng(seed)
    x, y = uneven_grid(rng, 300)
    lo, hi = np.sort(rng.uniform(x[0], x[-1], 2))
    inside = (x > lo) & (x < hi)
    xs = np.concatenate([[lo], x[inside], [hi]])
    ys = np.concatenate([[np.interp(lo, x, y)], y[inside], [np.interp(hi, x, y)]])
    expected = trapezoid(ys, xs)
    w = cvfunc.Vector(y, ref=x)
    assert cvfunc.area(w, lo, hi) == pytest.approx(expected, rel=1e-11, abs=1e-11)
    assert cvfunc.area(w, hi, lo) == pytest.approx(-expected, rel=1e-11, abs=1e-11)
    # The same waveform stored with x falling gives the same signed integral.
    assert cvfunc.area(cvfunc.Vector(y[::-1], ref=x[::-1]), lo, hi) == pytest.approx(expected, rel=1e-11, abs=1e-11)


def test_area_over_the_whole_waveform():
    x, y = uneven_grid(np.random.default_rng(42), 1000)
    w = cvfunc.Vector(y, ref=x)
    assert cvfunc.area(w) == pytest.approx(trapezoid(y, x), rel=1e-12, abs=1e-12)
