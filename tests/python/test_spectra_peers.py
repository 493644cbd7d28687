"""Spectra against independent peers: numpy.fft for fft and Spectrum, and
closed forms for Fourier on even and uneven grids.

The module's transforms use the positive exponent, X[m] = sum x[k] e^{+2 pi i mk/N};
numpy uses the negative one, so its bins are compared as conjugates. Bins
are scaled by 2/N with the DC bin halved."""

import numpy as np
import pytest

import cvfunc


def scaled_conjugate_rfft(samples):
    n = len(samples)
    want = np.conj(np.fft.fft(samples))[: n // 2] * (2.0 / n)
    want[0] *= 0.5
    return want


# Sizes cover the tiny transform, the first stages gathered in one pass, the
# blocked stages, the smallest four-step transform and its square and oblong
# shapes, one spread over threads, and one beyond the second-level cache.
@pytest.mark.parametrize("n", [2, 4, 8, 16, 1000, 2048, 4096, 16384, 2**16 + 3, 2**20])
def test_fft_matches_numpy_conjugate(n):
    rng = np.random.default_rng(n)
    y = rng.standard_normal(n)
    dt = 1e-6
    v = cvfunc.Vector(y, ref=np.arange(n) * dt, phys="Voltage", ref_phys="Time")
    N = 1 << (n - 1).bit_length()
    padded = np.zeros(N)
    padded[:n] = y
    got = cvfunc.fft(v, "none")
    want = scaled_conjugate_rfft(padded)
    assert np.max(np.abs(np.asarray(got.values) - want)) < 1e-13 * max(1.0, np.max(np.abs(want)))
    assert np.isrealobj(np.asarray(got.ref))
    assert np.allclose(np.asarray(got.ref), np.arange(N // 2) / (N * dt), rtol=1e-15)
    # The default window (also for an unknown name) is 1 - cos(2 pi i / N)
    # over the padded length, Hamming 1.08 - 0.92 cos(2 pi i / N).
    c = np.cos(2 * np.pi * np.arange(N) / N)
    for window, a0, a1 in ((None, 1.0, -1.0), ("whatever", 1.0, -1.0), ("Hamming", 1.08, -0.92)):
        got = np.asarray((cvfunc.fft(v) if window is None else cvfunc.fft(v, window)).values)
        want = scaled_conjugate_rfft(padded * (a0 + a1 * c))
        assert np.max(np.abs(got - want)) < 1e-13 * max(1.0, np.max(np.abs(want))), window


def test_spectrum_on_its_own_grid_matches_numpy():
    N, dt = 256, 2e-6
    rng = np.random.default_rng(5)
    y = rng.standard_normal(N)
    v = cvfunc.Vector(y, ref=np.arange(N) * dt)
    got = cvfunc.Spectrum(v, N, 0.0, N * dt)  # grid on the samples
    windowed = y * (1 - np.cos(2 * np.pi * np.arange(N) / N))
    assert np.max(np.abs(np.asarray(got.values) - scaled_conjugate_rfft(windowed))) < 1e-12
    assert np.allclose(np.asarray(got.ref), np.arange(N // 2) / (N * dt))


def cosine_wave(n, uneven, periods=3, f=1e3):
    u = np.linspace(0.0, 1.0, n)
    if uneven:
        u = u + 0.25 * np.sin(2 * np.pi * u) / (2 * np.pi)  # spacing varies about 1:1.7
    t = u * periods / f
    y = 0.25 + 1.5 * np.cos(2 * np.pi * f * t + 0.3) + 0.4 * np.cos(2 * np.pi * 2 * f * t - 1.0)
    return t, y


@pytest.mark.parametrize("order,tolerance", [(1, 3e-6), (2, 1e-8)])
@pytest.mark.parametrize("uneven", [False, True])
def test_fourier_of_cosines_over_whole_periods(uneven, order, tolerance):
    t, y = cosine_wave(6001, uneven)
    F = np.asarray(cvfunc.Fourier(cvfunc.Vector(y, ref=t), 1e3, 4, [0, order]).values)
    # (2/T) integral of A cos(w t + p) e^{+i w t} dt = A e^{-i p}; harmonic 2
    # of the fundamental 1 kHz is the 2 kHz term, harmonic 3 is absent.
    want = np.array([0.25, 1.5 * np.exp(-0.3j), 0.4 * np.exp(1.0j), 0.0])
    err = np.max(np.abs(F - want))
    assert err < tolerance, err
