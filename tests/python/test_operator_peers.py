"""The arithmetic operators against numpy on random real and complex vectors,
directly and through the expression language."""

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


def test_operators_through_the_expression_language():
    np.testing.assert_array_equal(cvfunc.eval("[1,2,3] + 10"), [11.0, 12.0, 13.0])
    np.testing.assert_array_equal(cvfunc.eval("10 - [1,2]"), [9.0, 8.0])
    np.testing.assert_array_equal(cvfunc.eval("[1,2,3] * [2,2,2] / 4"), [0.5, 1.0, 1.5])
    np.testing.assert_array_equal(cvfunc.eval("2 ^ [0,1,10]"), [1.0, 2.0, 1024.0])
    assert cvfunc.eval("(3,4)") == 3 + 4j
    np.testing.assert_array_equal(cvfunc.eval("2 * ([1,2,3], 1)"), [2 + 2j, 4 + 2j, 6 + 2j])
    np.testing.assert_array_equal(cvfunc.eval("[1,2,3] == [1,5,3]"), [1.0, 0.0, 1.0])
    np.testing.assert_array_equal(cvfunc.eval("'abc' == 'ABC'"), [1.0])
    with pytest.raises(cvfunc.Error, match="^Divide by zero$"):
        cvfunc.eval("[1,2] / 0")

