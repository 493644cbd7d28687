"""Statistics over runs against numpy on the same per-run values, and a
measurement over a Monte Carlo set fed straight into them."""

import pathlib

import numpy as np
import pytest

import cvfunc


@pytest.mark.parametrize("n", [2, 3, 50, 1001])
def test_statistics_agree_with_numpy(n):
    v = np.random.default_rng(n).normal(1.0, 0.05, n)
    assert cvfunc.StdDev(v) == pytest.approx(np.std(v, ddof=1), rel=1e-13)
    assert cvfunc.Median(v) == np.median(v)
    for p in (0, 2.5, 30, 50, 97.5, 100):
        assert cvfunc.Percentile(v, p) == pytest.approx(np.percentile(v, p), rel=1e-15, abs=0), p
    low, high = 0.95, 1.08
    assert cvfunc.Yield(v, low, high) == pytest.approx(100 * np.mean((v >= low) & (v <= high)), rel=1e-15)
    mu, s = np.mean(v), np.std(v, ddof=1)
    assert cvfunc.Cpk(v, low, high) == pytest.approx(min(high - mu, mu - low) / (3 * s), rel=1e-12)
    assert float(cvfunc.MaxRun(v)) == v.max() and float(cvfunc.MinRun(v)) == v.min()
    assert list(cvfunc.MaxRun(v).ref) == [float(np.argmax(v))]


def test_a_measurement_over_the_runs_feeds_the_statistics():
    examples = pathlib.Path(__file__).resolve().parents[2] / "examples"
    out = cvfunc.load(str(examples / "filter_mc.raw"))["out"]
    peaks = cvfunc.Maximum(out)
    per_run = np.array([np.max(np.asarray(run)) for run in out.divisions])
    assert np.asarray(peaks) == pytest.approx(per_run, rel=0, abs=0)
    assert cvfunc.StdDev(peaks) == pytest.approx(np.std(per_run, ddof=1), rel=1e-13)
    best = cvfunc.MaxRun(peaks)
    assert float(best) == per_run.max()
    assert list(best.ref) == [list(peaks.ref)[int(np.argmax(per_run))]]
