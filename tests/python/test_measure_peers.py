"""Peaks against the analytic peaks of sampled sines, and the windowed mean, RMS,
maximum and minimum against ngspice's `meas tran` on a transient it computes."""

import re

import numpy as np
import pytest

import cvfunc

from ngspice_run import run_ngspice


@pytest.mark.parametrize("points_per_period", [7, 10, 16, 40])
def test_maxima_vertex_beats_the_nearest_sample(points_per_period):
    rng = np.random.default_rng(points_per_period)
    freq, phase = 3.0, rng.uniform(0, 2 * np.pi)
    # Uneven steps: the sampling jitters by a fifth of a step.
    h = 1 / (freq * points_per_period)
    t = np.cumsum(np.full(12 * points_per_period, h) + rng.uniform(-0.2, 0.2, 12 * points_per_period) * h)
    y = np.sin(2 * np.pi * freq * t + phase)
    peaks = cvfunc.Maxima(cvfunc.Vector(y, ref=t), [], ["xsort", "noendpts"])
    px, py = np.asarray(peaks.ref), np.asarray(peaks)
    # Analytic peaks inside the data: 2 pi f t + phase = pi / 2 + 2 pi k.
    k = np.arange(-2, 20)
    true_x = (np.pi / 2 - phase + 2 * np.pi * k) / (2 * np.pi * freq)
    true_x = true_x[(true_x > t[1]) & (true_x < t[-2])]
    assert len(px) == len(true_x)
    nearest = np.array([t[np.argmin(abs(t - x))] for x in true_x])
    x_err, sample_err = np.abs(px - true_x), np.abs(nearest - true_x)
    assert np.all(x_err <= sample_err + 1e-15)
    # In value the vertex can overshoot a sample that lies almost on the
    # peak, but over all peaks it is far nearer.
    assert np.sum(np.abs(1 - py)) < 0.2 * np.sum(1 - np.sin(2 * np.pi * freq * nearest + phase))
    # The parabola's error falls as the cube of the step (cf. the half step of
    # the nearest sample).
    assert x_err.max() < 0.05 * (2 * np.pi * freq * h) ** 2 * h
    # Sorted by value unless asked otherwise.
    by_value = np.asarray(cvfunc.Maxima(cvfunc.Vector(y, ref=t), [], "noendpts"))
    assert np.all(np.diff(by_value) <= 0)


DECK = """* diode clipper driven by a sine
V1 in 0 SIN(0 2 1k)
R1 in out 1k
D1 out 0 dmod
D2 0 out dmod
.model dmod D(IS=1e-14 N=1)
* breakpoints at the window edges, so that the simulator steps onto them
V2 mark 0 PWL(0 0 {a} 0 {a2} 1 {b} 1 {b2} 0)
R2 mark 0 1k
.control
tran 2u 3m
meas tran vavg avg v(out) from={a} to={b}
meas tran vrms rms v(out) from={a} to={b}
meas tran vmax max v(out) from={a} to={b}
meas tran vmin min v(out) from={a} to={b}
write out.raw v(out)
.endc
.end
"""


@pytest.fixture(scope="module")
def clipper(tmp_path_factory):
    a, b = 0.25e-3, 2.6e-3
    stdout, data = run_ngspice(tmp_path_factory.mktemp("clipper"), DECK.format(a=a, a2=a + 1e-5, b=b, b2=b + 1e-5))
    meas = dict(re.findall(r"^(v\w+)\s*=\s*([-+0-9.eE]+)", stdout, re.MULTILINE))
    assert set(meas) == {"vavg", "vrms", "vmax", "vmin"}, "ngspice did not measure:\n" + stdout
    return data["out"], a, b, {k: float(v) for k, v in meas.items()}


def test_mean_against_ngspice(clipper):
    wave, a, b, meas = clipper
    # Both integrate the same linear segments over the same time points (the
    # edges are breakpoints of the simulation, so neither interpolates): only
    # the 7 digits ngspice prints separate them.
    assert cvfunc.Mean1(wave, a, b) == pytest.approx(meas["vavg"], rel=1e-6)


def test_rms_against_ngspice(clipper):
    wave, a, b, meas = clipper
    t, y = np.asarray(wave.ref), np.asarray(wave)
    # The edges are time points of the run (up to the rounding of their sum).
    inside = (t >= a * (1 - 1e-12)) & (t <= b * (1 + 1e-12))
    t, y = t[inside], y[inside]
    dx, u, w = np.diff(t), y[:-1], y[1:]
    exact = np.sqrt(np.sum((u * u + u * w + w * w) / 3 * dx) / (b - a))
    got = cvfunc.RMS1(wave, a, b)
    assert got == pytest.approx(exact, rel=1e-11)
    # ngspice takes the trapezoid of the squared samples, which exceeds the
    # integral of the squared linear segment by (u - w)^2 / 6 per unit of x:
    # that, and its printed digits, is the whole difference.
    excess = np.sum((u - w) ** 2 / 6 * dx) / (b - a)
    assert meas["vrms"] ** 2 - got ** 2 == pytest.approx(excess, rel=0.05, abs=2e-6 * meas["vrms"] ** 2)
    assert cvfunc.RMS1_AC(wave, a, b) == pytest.approx(np.sqrt(exact ** 2 - cvfunc.Mean1(wave, a, b) ** 2), rel=1e-9)


def test_extremes_against_ngspice(clipper):
    wave, a, b, meas = clipper
    # Both look at the same samples inside the window.
    assert cvfunc.Maximum(wave, a, b) == pytest.approx(meas["vmax"], abs=1e-6)
    assert cvfunc.Minimum(wave, a, b) == pytest.approx(meas["vmin"], abs=1e-6)
