"""THD, THDN, SNR, SINAD, ENOB and SFDR against numpy. Read as 'samples' they
are the DFT of the samples over whole periods: the numpy recipe (rfft) to
rounding. Read as 'lines' (the default) they integrate the straight lines
between the samples exactly: on fine sampling with noise well below the sample
rate that is the recipe but for the lines' softening of component m,
sinc²(πm/N) ≈ 1 - (πm/N)²/3 at N samples per period; on uneven steps it is the
same integral written independently with numpy, component by component."""

import math

import numpy as np
import pytest

import cvfunc

F0 = 1e3
NAMES = ["THD", "THDN", "SNR", "SINAD", "ENOB", "SFDR"]


def recipe(c, ac_power, K, harmonics=10):
    """The six from the amplitudes c[m] at m / T (m = 0 ... M), the power
    without the mean, and the fundamental's bin K."""
    A = np.abs(c)
    P1, harm = A[K] ** 2 / 2, [A[k * K] for k in range(2, harmonics + 1) if k * K < len(A)]
    sinad = 10 * np.log10(P1 / (ac_power - P1))
    spurs = np.delete(A[1:], K - 1)
    return {"THD": 100 * np.sqrt(np.sum(np.square(harm))) / A[K],
            "THDN": 100 * np.sqrt((ac_power - P1) / P1),
            "SNR": 10 * np.log10(P1 / (ac_power - P1 - np.sum(np.square(harm)) / 2)),
            "SINAD": sinad, "ENOB": (sinad - 1.76) / 6.02, "SFDR": 20 * np.log10(A[K] / spurs.max())}


def rfft_recipe(samples, K):
    return recipe(np.fft.rfft(samples) * 2 / len(samples), np.var(samples), K)


def coherent(L, K, components, noise, rng):
    """L steps over K periods, sines [(bin, amplitude)], an offset and noise;
    the closing sample repeats the first."""
    t = np.arange(L + 1) * K / (F0 * L)
    y = 0.2 + sum(a * np.sin(2 * np.pi * m / K * F0 * t + rng.uniform(0, 7)) for m, a in components)
    y[:L] += noise
    y[L] = y[0]
    return t, y


def check(v, want, rel, db, **kw):
    for name in NAMES:
        got = getattr(cvfunc, name)(v, F0, **kw)
        tol = rel * abs(want[name]) if name in ("THD", "THDN") else db / 6.02 if name == "ENOB" else db
        assert abs(got - want[name]) <= tol, (name, got, want[name])


# Few samples per period; prime numbers of periods in 4096 and 1000 samples.
@pytest.mark.parametrize("L, K", [(40, 5), (4096, 561), (1000, 37), (16384, 4)])
def test_samples_are_the_dft_of_the_samples(L, K):
    rng = np.random.default_rng(L + K)
    comps = [(m, a) for m, a in [(K, 1), (2 * K, 3e-3), (3 * K, 1e-3), (3 * K // 2 + 1, 2e-3)] if m <= L // 2]
    t, y = coherent(L, K, comps, 1e-4 * rng.standard_normal(L), rng)
    # The window's samples after its start are the last L.
    check(cvfunc.Vector(y, ref=t), rfft_recipe(y[1:], K), rel=1e-9, db=1e-7, signal="samples")


def test_lines_match_the_recipe_where_the_lines_follow_the_samples():
    # At 4096 samples per period the 10th harmonic loses (10π/4096)²/3 = 2e-5
    # of its amplitude, noise below the 50th up to 1e-3 of its power (0.004
    # dB), and the sine's images beyond half the sample rate are 141 dB down.
    rng = np.random.default_rng(3)
    K, L = 8, 8 * 4096
    band = np.zeros(L // 2 + 1, complex)
    band[1 : 50 * K] = rng.standard_normal(50 * K - 1) + 1j * rng.standard_normal(50 * K - 1)
    noise = np.fft.irfft(band, L)
    t, y = coherent(L, K, [(K, 1), (2 * K, 0.02), (5 * K, 5e-3), (28, 1e-3)], noise * 1e-3 / noise.std(), rng)
    check(cvfunc.Vector(y, ref=t), rfft_recipe(y[1:], K), rel=1e-4, db=5e-3)


def exact_components(x, y, T, bins):
    """(2/T) ∫ y e^{+2πi m t/T} dt over the straight lines through (x, y),
    x from 0 to T, for m in bins, by ∫_0^1 (a + (b - a) u) e^{iθu} du per
    segment (a series where θ is small); and the power without the mean."""
    L, a, b = np.diff(x), y[:-1], y[1:]
    mean = np.sum(L * (a + b) / 2) / T
    a, b = a - mean, b - mean
    out = []
    for m in bins:
        theta = 2 * np.pi * m / T * L
        small, e = np.abs(theta) < 0.05, np.exp(1j * theta)
        s = np.where(small, 1.0, theta)
        g0 = np.where(small, 0, (e - 1) / (1j * s))
        g1 = np.where(small, 0, e / (1j * s) + (e - 1) / s**2)
        for k in range(10):
            term = np.where(small, (1j * theta) ** k / math.factorial(k), 0)
            g0, g1 = g0 + term / (k + 1), g1 + term / (k + 2)
        out.append(2 / T * np.sum(np.exp(2j * np.pi * m / T * x[:-1]) * L * (a * g0 + (b - a) * g1)))
    return np.array(out), np.sum(L * (a * a + a * b + b * b) / 3) / T


@pytest.mark.parametrize("seed, per_period, jitter", [(1, 6, 0.4), (2, 40, 0.45), (3, 300, 0.3)])
def test_lines_on_uneven_steps_are_the_exact_integral(seed, per_period, jitter):
    rng = np.random.default_rng(seed)
    K, S = 3, 3 * per_period
    T = K / F0
    x = np.arange(S + 1) * T / S
    x[1:-1] += rng.uniform(-jitter, jitter, S - 1) * T / S
    y = np.sin(2 * np.pi * F0 * x + 1) + 0.01 * np.sin(4 * np.pi * F0 * x) + 3e-3 * np.sin(4 * np.pi * F0 / 3 * x)
    y += 1e-4 * rng.standard_normal(S + 1)
    # Before the analysed periods, a stretch that is not a whole period.
    v = cvfunc.Vector(np.concatenate([np.full(6, 5.0), y]), ref=np.concatenate([np.linspace(-T / 7, 0, 7)[:-1], x]))
    c, power = exact_components(x, y, T, range(S // 2 + 1))
    check(v, recipe(c, power, K), rel=1e-8, db=1e-8)


def test_white_noise_keeps_two_thirds_of_its_power_in_the_lines():
    # (1/L) Σ (a_i² + a_i a_{i+1} + a_{i+1}²) / 3 ≈ 2σ²/3 for independent
    # samples: SINAD reads 10 log10(3/2) = 1.76 dB more than the samples'.
    rng = np.random.default_rng(9)
    t, y = coherent(20000, 20, [(20, 1)], 1e-3 * rng.standard_normal(20000), rng)
    v = cvfunc.Vector(y, ref=t)
    assert cvfunc.SINAD(v, F0) - cvfunc.SINAD(v, F0, signal="samples") == pytest.approx(1.761, abs=0.05)

