"""The arithmetic operators against numpy on random real and complex vectors,
element by element and with a single value spread over the other operand."""

import numpy as np
import pytest

import cvfunc

RNG = np.random.default_rng(20240611)
N = 2000

OPERATORS = {
    "_Plus": np.add,
    "_Minus": np.subtract,
    "_Times": np.multiply,
    "_Divide": np.divide,
    "_Power": np.power,
}

def random_complex(n):
    return RNG.uniform(-10, 10, n) + 1j * RNG.uniform(-10, 10, n)


def random_real(n, positive=False):
    return RNG.uniform(0.1, 10, n) if positive else RNG.uniform(-10, 10, n)


def relative_error(got, want):
    got, want = np.asarray(got), np.asarray(want)
    assert got.shape == want.shape
    scale = np.maximum(np.abs(want), np.finfo(float).tiny)
    return float(np.max(np.abs(got - want) / scale)) if want.size else 0.0


def operand_pair(kinds):
    """Left and right operands of the given kinds; real bases of powers stay
    positive where the exponent is real, as a negative base needs an integer."""
    left = random_complex(N) if kinds[0] == "c" else random_real(N, positive=kinds == "rr")
    right = random_complex(N) if kinds[1] == "c" else random_real(N)
    return left, right


@pytest.mark.parametrize("kinds", ["cc", "rc", "cr", "rr"])
@pytest.mark.parametrize("name", sorted(OPERATORS))
def test_operators_match_numpy(name, kinds):
    left, right = operand_pair(kinds)
    if name == "_Power":
        # Keep magnitudes where the power is representable.
        right = right / 5
    # Element by element, and a single value spread over the other operand.
    for a, b in ((left, right), (left[:1], right), (left, right[:1])):
        got = cvfunc.call(name, a, b)
        with np.errstate(all="ignore"):
            want = OPERATORS[name](a.astype(complex) if "c" in kinds else a, b)
        err = relative_error(got, want)
        # A few units in the last place: complex quotients and products round
        # differently from numpy's; powers go through exp/log of the polar form.
        assert err < (1e-12 if name == "_Power" else 1e-15), err
        assert got.shape == (N,) and np.iscomplexobj(got) == ("c" in kinds)

