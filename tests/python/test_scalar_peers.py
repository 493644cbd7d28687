"""Elementary functions on complex vectors against numpy, and the group delay of
an RC low-pass with a pure delay against its analytic value.

Kept away from the cases where the library knowingly differs from numpy:
sign(), the degree variants on complex input, the overflow limits of exp,
sin, cos, sinh and cosh, and the branch of acosh for Re z < 0, where it gives
ln(z + sqrt(z^2 - 1)), the negative of numpy's principal value.
"""

import numpy as np
import pytest

import cvfunc


def relative_error(got, expected):
    got = np.asarray(got)
    return np.abs(got - expected) / np.maximum(np.abs(expected), 1e-300)


@pytest.fixture(scope="module")
def moderate():
    # |Re|, |Im| of a few units: every kernel is far from its overflow limits.
    rng = np.random.default_rng(7)
    return rng.normal(0, 2, 20000) + 1j * rng.normal(0, 2, 20000)


@pytest.fixture(scope="module")
def wide():
    # Magnitudes from 1e-3 to 1e3 in every direction.
    rng = np.random.default_rng(11)
    return 10 ** rng.uniform(-3, 3, 20000) * np.exp(1j * rng.uniform(-np.pi, np.pi, 20000))


PEERS = {
    "sin": np.sin, "cos": np.cos, "tan": np.tan, "exp": np.exp, "ln": np.log, "log": np.log10,
    "log10": np.log10, "sqrt": np.sqrt, "sinh": np.sinh, "cosh": np.cosh, "tanh": np.tanh,
    "atan": np.arctan, "asin": np.arcsin, "acos": np.arccos, "asinh": np.arcsinh, "atanh": np.arctanh,
    "abs": np.abs, "arg_rad": np.angle,
}

# Largest relative error seen with the seeds above is about 2e-14; the wide set
# loses up to ~5e-11 in asin, acos and asinh, whose sqrt(1 - z^2) or
# sqrt(z^2 + 1) nearly cancels against z for |z| near 1e3.
WIDE = {"ln", "log", "sqrt", "atan", "asin", "acos", "asinh", "atanh", "abs", "tanh", "tan"}


@pytest.mark.parametrize("name", sorted(PEERS))
def test_complex_kernels_match_numpy(name, moderate, wide):
    assert relative_error(cvfunc.call(name, moderate), PEERS[name](moderate)).max() < 1e-12
    if name in WIDE:
        assert relative_error(cvfunc.call(name, wide), PEERS[name](wide)).max() < 1e-9


def test_acosh_is_principal_on_the_right_half_plane_and_an_inverse_everywhere(moderate):
    got = np.asarray(cvfunc.acosh(moderate))
    right = moderate.real > 0
    assert relative_error(got[right], np.arccosh(moderate[right])).max() < 1e-12
    assert relative_error(np.cosh(got), moderate).max() < 1e-12


def test_db_and_angles(moderate):
    np.testing.assert_allclose(cvfunc.db(moderate), 20 * np.log10(np.abs(moderate)), rtol=0, atol=1e-12)
    np.testing.assert_allclose(cvfunc.arg(moderate), np.angle(moderate, deg=True), rtol=1e-14, atol=1e-12)


@pytest.mark.parametrize("seed", range(3))
def test_phase_unwraps_like_numpy(seed):
    # A random walk of the angle with steps up to 3 rad: many wraps each way.
    rng = np.random.default_rng(seed)
    angle = np.cumsum(rng.uniform(-3, 3, 5000))
    z = rng.uniform(0.1, 10, 5000) * np.exp(1j * angle)
    expected = np.unwrap(np.angle(z))
    np.testing.assert_allclose(cvfunc.phase_rad(z), expected, rtol=0, atol=1e-9)
    np.testing.assert_allclose(cvfunc.phase(z), np.degrees(expected), rtol=0, atol=1e-7)


# ---------------------------------------------------------------- group delay

R, C = 1e3, 1e-9
RC = R * C


def rc_group_delay(f):
    w = 2 * np.pi * f
    return RC / (1 + (w * RC) ** 2)


def check_against_analytic(delay, f, extra=0.0):
    # The inner points come from a parabola through three neighbours: its error
    # is about (df/f)^2 = 2.2e-3 of the delay with 50 points per decade where
    # the delay falls as 1/f^2. The ends use the chord of the last pair, a
    # first-order estimate: about df/f = 4.7% off there.
    expected = rc_group_delay(f) + extra
    error = relative_error(delay, expected)
    assert error[1:-1].max() < 3e-3
    assert error[[0, -1]].max() < 6e-2


def test_group_delay_of_an_rc_lowpass_with_a_pure_delay():
    f = np.logspace(1, 6, 251)
    delay = 2e-6  # turns the phase several times over: the unwrapping is needed
    h = np.exp(-2j * np.pi * f * delay) / (1 + 2j * np.pi * f * RC)
    got = cvfunc.GroupDelay(cvfunc.Vector(h, ref=f, phys="Voltage", ref_phys="Frequency"))
    assert got.phys == "Time"
    np.testing.assert_array_equal(got.ref, f)
    check_against_analytic(np.asarray(got), f, extra=delay)
