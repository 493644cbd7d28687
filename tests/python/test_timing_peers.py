"""Peer checks of the timing measurements and the histogram: Histogram against
numpy.histogram on the same bin edges, PropagationDelay against ngspice's
own `meas` on an RC transient that ngspice simulates inside the test, and
CyclePeriod of the PULSE source against its period."""

import re

import numpy as np
import pytest

import cvfunc

from ngspice_run import run_ngspice


def edges_of(stepped):
    """Bin edges of a stepped Histogram: the lower edge of each bin, then the last upper edge."""
    x = np.asarray(stepped.ref)
    return np.append(x[0::2], x[-1])


class TestHistogramAgainstNumpy:
    @pytest.mark.parametrize("bins", [2, 7, 100, 1581])
    def test_counts_match_on_the_same_edges(self, bins):
        data = np.random.default_rng(bins).standard_normal(200_000)
        stepped = cvfunc.Histogram(data, bins, "step")
        counts = np.asarray(stepped)[0::2]
        expected, _ = np.histogram(data, bins=edges_of(stepped))
        np.testing.assert_array_equal(counts, expected)
        # numpy's own uniform bins over the data range agree too.
        uniform, numpy_edges = np.histogram(data, bins=bins)
        np.testing.assert_array_equal(counts, uniform)
        np.testing.assert_allclose(edges_of(stepped), numpy_edges, rtol=0, atol=1e-12)

    def test_fixed_width_and_values_on_edges(self):
        # Quantised data: many values sit exactly on (or an ulp off) the edges.
        data = np.round(np.random.default_rng(5).uniform(0, 3, 50_000), 1)
        stepped = cvfunc.Histogram(data, 0.1, "step fixedBin".split())
        expected, _ = np.histogram(data, bins=edges_of(stepped))
        np.testing.assert_array_equal(np.asarray(stepped)[0::2], expected)
        assert len(expected) == 31  # floor(3 / 0.1 + 1)

    def test_default_rule_and_bin_centres(self):
        data = np.random.default_rng(9).uniform(-1, 1, 10_000)
        points = cvfunc.Histogram(data, 0)
        counts, edges = np.histogram(data, bins=50)  # floor(sqrt(10000)) / 2
        np.testing.assert_array_equal(np.asarray(points), counts)
        np.testing.assert_allclose(points.ref, (edges[:-1] + edges[1:]) / 2, rtol=0, atol=1e-15)


DECK = """* RC delay line driven by a pulse train
V1 in 0 PULSE(0 1 50n 2n 2n 0.5u 1u)
R1 in out 1k
C1 out 0 100p
.control
tran 1n 3u 0 2n
meas tran tpd TRIG v(in) VAL=0.5 RISE=1 TARG v(out) VAL=0.5 RISE=1
meas tran tpdf TRIG v(in) VAL=0.5 FALL=2 TARG v(out) VAL=0.5 FALL=2
write out.raw v(in) v(out)
.endc
.end
"""


@pytest.fixture(scope="module")
def rc_run(tmp_path_factory):
    stdout, data = run_ngspice(tmp_path_factory.mktemp("rc"), DECK)
    meas = {m.group(1): float(m.group(2)) for m in re.finditer(r"^(\w+)\s*=\s*(\S+)", stdout, re.M)}
    assert {"tpd", "tpdf"} <= meas.keys(), stdout
    return meas, data["in"], data["out"]


class TestTimingAgainstNgspice:
    def test_propagation_delay_matches_meas(self, rc_run):
        meas, vin, vout = rc_run
        rise = cvfunc.PropagationDelay(vin, vout, 0.5, 0.5, 1)
        fall = cvfunc.PropagationDelay(vin, vout, 0.5, 0.5, -1)
        # Both interpolate linearly between the same time points; ngspice
        # rounds its measurement to seven significant digits.
        assert rise[0] == pytest.approx(meas["tpd"], rel=1e-6)
        assert fall[1] == pytest.approx(meas["tpdf"], rel=1e-6)
        # The first delay starts from rest; later ones from a not quite
        # discharged capacitor, so they come out slightly shorter.
        assert rise[0] == pytest.approx(1e-7 * np.log(2), rel=0.01)
        assert np.all(np.asarray(rise)[1:] < rise[0])

    @pytest.mark.parametrize("order", [1, 2])
    def test_cycle_period_of_the_pulse_source(self, rc_run, order):
        _, vin, _ = rc_run
        periods = cvfunc.CyclePeriod(vin, 0.5, order)
        assert len(periods) == 4  # six crossings of 0.5 in three pulses
        np.testing.assert_allclose(periods, 1e-6, rtol=1e-9)
