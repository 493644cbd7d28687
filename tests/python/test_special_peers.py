"""The gamma family and the error functions against scipy.special, over wide
random samples (fixed seed) that include the tails.

The bounds are the largest relative errors these samples reach, with some
headroom; where a region is known to do worse, it has its own bound and the
reason is given beside it.
"""
import numpy as np
import pytest
import scipy.special as sc

import cvfunc

N = 4000


@pytest.fixture
def rng():
    return np.random.default_rng(20240611)


def log_uniform(rng, lo, hi, n=N):
    return 10.0 ** rng.uniform(lo, hi, n)


def max_rel(got, want):
    """The largest relative error, exact matches (zeros, infinities) counting 0."""
    got, want = np.asarray(got, float), np.asarray(want, float)
    with np.errstate(divide="ignore", invalid="ignore"):
        err = np.where(got == want, 0.0, np.abs(got - want) / np.abs(want))
    assert not np.isnan(err).any()
    return err.max()


class TestErrorFunctions:
    def test_erf_and_erfc_everywhere_they_are_representable(self, rng):
        # The library's vector error functions, within a few units in the last
        # place; deep in the erfc tail x^2 itself is rounded, which costs x^2
        # times the unit roundoff on one side or the other.
        signs = rng.choice([-1.0, 1.0], N)
        x = np.concatenate([rng.uniform(-6, 6, N), signs * log_uniform(rng, -300, 1.3)])
        assert max_rel(cvfunc.erf(x), sc.erf(x)) < 1e-15
        x = np.concatenate([rng.uniform(-6, 26, N), log_uniform(rng, -300, 1.42)])
        assert max_rel(cvfunc.erfc(x), sc.erfc(x)) < 2e-13
        assert max_rel(cvfunc.erfc(x[x < 15]), sc.erfc(x[x < 15])) < 3e-14

    def test_erf_and_erfc_saturate_far_out(self):
        x = np.array([-1e200, -40.0, 40.0, 1e200])
        np.testing.assert_array_equal(cvfunc.erf(x), [-1.0, -1.0, 1.0, 1.0])
        np.testing.assert_array_equal(cvfunc.erfc(x), [2.0, 2.0, 0.0, 0.0])


class TestGamma:
    # gamma is exp(ln|Gamma|): for tiny and large arguments ln|Gamma| is of
    # size up to 709, and its absolute error becomes the relative error of the result.
    @pytest.mark.parametrize("sample, bound", [
        (lambda rng: np.concatenate([rng.uniform(-20, 20, N), log_uniform(rng, -10, 1.3)]), 3e-14),
        (lambda rng: log_uniform(rng, -300, -10), 1.5e-13),
        (lambda rng: np.concatenate([rng.uniform(-170, -20, N), rng.uniform(20, 171.4, N)]), 4e-13),
    ], ids=["moderate", "tiny", "large"])
    def test_gamma(self, rng, sample, bound):
        x = sample(rng)
        x = x[x != np.round(x)]
        assert max_rel(cvfunc.gamma(x), sc.gamma(x)) < bound

    def test_lgamma_real_and_imaginary_parts(self, rng):
        x = np.concatenate([rng.uniform(-300, 300, N), log_uniform(rng, -300, 300),
                            -log_uniform(rng, -300, 15), rng.uniform(0, 10, N)])
        x = x[x != np.round(x)]
        got, want = cvfunc.lgamma(x), sc.gammaln(x)
        # Near its zeros at negative x, ln|Gamma| is a difference of terms of
        # order 1 (reflection), so there the bound is on the absolute error.
        assert (np.abs(got.real - want) / np.maximum(np.abs(want), 1.0)).max() < 5e-15
        # Gamma is negative between an odd negative integer and the next one
        # up (scipy's gammasgn says +1 beyond about -1e10, so it is not asked).
        negative = (x < 0) & (np.floor(x) % 2 == 1)
        np.testing.assert_array_equal(got.imag, np.where(negative, np.pi, 0.0))

    def test_lgamma_next_to_its_zeros_at_one_and_two(self, rng):
        # scipy loses relative accuracy here (1e-3 of it at 1 - 3e-14), so the
        # peer is the Taylor series about the zero, summed in d = x - x0 (exact).
        euler, z2, z3, z4 = 0.5772156649015329, 1.6449340668482264, 1.2020569031595942, 1.0823232337111382
        near = {1.0: (-euler, z2 / 2, -z3 / 3, z4 / 4), 2.0: (1 - euler, (z2 - 1) / 2, -(z3 - 1) / 3, (z4 - 1) / 4)}
        for x0, (c1, c2, c3, c4) in near.items():
            x = x0 + rng.choice([-1.0, 1.0], N) * log_uniform(rng, -15, -4)
            d = x - x0
            assert max_rel(cvfunc.lgamma(x).real, d * (c1 + d * (c2 + d * (c3 + d * c4)))) < 1.5e-15


class TestIncompleteGamma:
    # Moderate shapes: the series next to x = a for a up to 100, and the
    # continued fraction next to x = a + 1 for small a, where each converges
    # slowest, stop at a 1e-13 step; the prefactor adds its rounding. Large
    # shapes: the prefactor exp(a log x - x - lnGamma(a)) is a difference of
    # terms of size a log x, so its rounding grows with a (scipy's own error
    # here is of the same order).
    @pytest.mark.parametrize("shape, bound", [((-1, 2), 4e-13), ((2, 3), 3e-12)], ids=["moderate", "large"])
    @pytest.mark.parametrize("name, peer", [("gammp", sc.gammainc), ("gammq", sc.gammaincc)])
    def test_shapes(self, rng, name, peer, shape, bound):
        a = log_uniform(rng, *shape)
        x = a * log_uniform(rng, -2, 1)  # around the turning point, and either side
        got, want = cvfunc.call(name, a, x), peer(a, x)
        big = want > 1e-290
        assert max_rel(got[big], want[big]) < bound

    def test_gammq_as_complement_of_the_series(self, rng):
        # Below x = a + 1, Q is 1 - P; with a small a, P is close to 1 there
        # and Q keeps only the absolute accuracy of P.
        a = log_uniform(rng, -6, -1)
        x = rng.uniform(0.05, 1, N) * (a + 1)
        got, want = cvfunc.gammq(a, x), sc.gammaincc(a, x)
        assert np.abs(got - want).max() < 1.5e-14

    def test_small_shape_and_tiny_x(self, rng):
        a = log_uniform(rng, -6, -1)
        x = log_uniform(rng, -300, 0.5)
        assert max_rel(cvfunc.gammp(a, x), sc.gammainc(a, x)) < 3e-14

    def test_chisquare(self, rng):
        dof = np.floor(log_uniform(rng, 0, 2.5))
        x = dof * log_uniform(rng, -1.5, 0.7)
        got, want = cvfunc.chisquare(x, dof), sc.chdtr(dof, x)
        big = want > 1e-290
        assert max_rel(got[big], want[big]) < 4e-13

    def test_limits_and_fractional_degrees_of_freedom(self):
        a = np.array([0.5, 3.0, 1e3])
        np.testing.assert_array_equal([cvfunc.gammp(a, np.full(3, np.inf)), cvfunc.gammq(a, np.zeros(3))], np.ones((2, 3)))
        # chisquare truncates the degrees of freedom.
        x = np.array([0.5, 3.84, 10.0])
        np.testing.assert_array_equal(cvfunc.chisquare(x, np.array([2.9, 1.99, 3.5])),
                                      cvfunc.chisquare(x, np.array([2.0, 1.0, 3.0])))
