"""FIR against numpy.convolve, IIR against scipy.signal.lfilter with matching
initial conditions, and LPF against the closed form of a first-order step
response on an uneven time grid."""

import numpy as np
import pytest
from scipy import signal

import cvfunc


def fir(x, c, *history):
    return np.asarray(cvfunc.call("FIR", x, c, *history))


def iir(x, c, *history):
    return np.asarray(cvfunc.call("IIR", x, c, *history))


@pytest.mark.parametrize("m", [1, 2, 3, 8, 17, 64])
@pytest.mark.parametrize("n", [1, 7, 1000, 12345])
def test_fir_is_the_convolution_over_the_history_and_the_signal(m, n):
    rng = np.random.default_rng(m * 100003 + n)
    x, c, h = rng.standard_normal(n), rng.standard_normal(m) / m, rng.standard_normal(max(m - 1, 0))
    scale = np.abs(c).sum() * max(np.abs(x).max(), 1)
    # A history of zeros: the first n values of the full convolution.
    np.testing.assert_allclose(fir(x, c, [0.0]), np.convolve(x, c)[:n], rtol=0, atol=1e-14 * scale)
    # No history given: the signal held at its first value before the start.
    held = np.convolve(np.concatenate([np.full(m - 1, x[0]), x]), c, "valid")
    np.testing.assert_allclose(fir(x, c), held, rtol=0, atol=1e-14 * scale)
    # A given history, newest first, is the signal's past read backwards.
    past = np.convolve(np.concatenate([h[::-1], x]), c, "valid")
    np.testing.assert_allclose(fir(x, c, h if m > 1 else [0.0]), past, rtol=0, atol=1e-14 * scale)


def stable_feedback(rng, order):
    """Coefficients [b0, c1, ..., c_order] of a stable filter, in the added-feedback form."""
    pairs = rng.uniform(0.3, 0.9, order // 2) * np.exp(1j * rng.uniform(0.1, np.pi - 0.1, order // 2))
    poles = np.concatenate([pairs, pairs.conj(), rng.uniform(-0.9, 0.9, order % 2)])
    return np.concatenate([[rng.uniform(0.5, 1.5)], -np.real(np.poly(poles))[1:]])


@pytest.mark.parametrize("order", [0, 1, 2, 4, 8, 9, 20])
def test_iir_is_lfilter_with_the_history_as_past_outputs(order):
    rng = np.random.default_rng(order + 17)
    c = stable_feedback(rng, order) if order else np.array([0.7])
    n = 20000
    x, h = rng.standard_normal(n), rng.standard_normal(order)
    b, a = [c[0]], np.concatenate([[1.0], -c[1:]])
    expected = signal.lfilter(b, a, x)
    np.testing.assert_allclose(iir(x, c), expected, rtol=0, atol=1e-11 * np.abs(expected).max())
    if order:
        zi = signal.lfiltic(b, a, y=h)
        expected, _ = signal.lfilter(b, a, x, zi=zi)
        np.testing.assert_allclose(iir(x, c, h), expected, rtol=0, atol=1e-11 * np.abs(expected).max())


@pytest.mark.parametrize("tau", [1e-9, 3.7e-6, 1e-3])
def test_lpf_step_response_on_an_uneven_grid(tau):
    rng = np.random.default_rng(int(tau * 1e12))
    dt = rng.uniform(0.01, 0.2, 5000) * tau
    dt[::97] = 0.0  # repeated time points
    t = np.concatenate([[0.0], np.cumsum(dt)])
    got = np.asarray(cvfunc.call("LPF", cvfunc.Vector(np.ones(t.size), ref=t), tau, 0.0))
    # Each step keeps tau / (tau + dt) of the remaining difference.
    closed = 1 - np.concatenate([[1.0], np.cumprod(tau / (tau + dt))])
    np.testing.assert_allclose(got, closed, rtol=0, atol=1e-13)
    # The continuous response 1 - exp(-t / tau) within the rule's first-order step error.
    assert np.abs(got - (1 - np.exp(-t / tau))).max() < 0.2 * dt.max() / tau

