"""Crossings and pulses against ngspice's `meas` on a PWM source and the RC
stage it drives, and against the source's analytic edges. Both read the same
time points (the raw file ngspice writes), so where both interpolate them
linearly they agree to rounding."""

import re

import numpy as np
import pytest

import cvfunc

from ngspice_run import run_ngspice

# PULSE(v1 v2 delay rise fall width period): rising through 0.5 at
# delay + rise/2 + k period, falling at delay + rise + width + fall/2 + k period.
DELAY, RISE, FALL, WIDTH, PERIOD = 1e-6, 100e-9, 200e-9, 2e-6, 5e-6
CYCLES = 6

DECK = """* PWM source and the RC stage it drives
V1 in 0 PULSE(0 1 {delay} {rise} {fall} {width} {period})
R1 in out 1k
C1 out 0 300p
.tran 10n {stop} 0 10n
{meas}
.control
run
let d = deriv(v(out))
write out.raw v(in) v(out) d
.endc
.end
"""

WHEN = {
    "rise2": "v(out)=0.5 rise=2",
    "fall3": "v(out)=0.3 fall=3",
    "cross5": "v(out)=0.5 cross=5",
    "crosslast": "v(out)=0.5 cross=last",
    "riselast": "v(in)=0.7 rise=last",
    **{f"r{k}": f"v(out)=0.5 rise={k}" for k in range(1, CYCLES + 1)},
    **{f"f{k}": f"v(out)=0.5 fall={k}" for k in range(1, CYCLES + 1)},
}
OTHER = [
    "tt trig v(in) val=0.5 rise=2 targ v(out) val=0.4 fall=3",
    "pp pp v(out)",
    # The window's ends are corners of the source: time points of both.
    "ppw pp v(out) from=3.3e-6 to=8.2e-6",
]


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    meas = "\n".join([f".meas tran {k} when {v}" for k, v in WHEN.items()] + [f".meas tran {m}" for m in OTHER])
    deck = DECK.format(delay=DELAY, rise=RISE, fall=FALL, width=WIDTH, period=PERIOD, stop=CYCLES * PERIOD, meas=meas)
    with pytest.MonkeyPatch.context() as env:
        # WHEN results with all their digits rather than seven.
        env.setenv("NGSPICE_MEAS_PRECISION", "15")
        stdout, data = run_ngspice(tmp_path_factory.mktemp("pwm"), deck)
    found = dict(re.findall(r"^(\w+)\s*=\s*([-+0-9.eE]+)", stdout, re.MULTILINE))
    assert set(WHEN) | {m.split()[0] for m in OTHER} <= set(found), "ngspice did not measure:\n" + stdout
    return data, {k: float(v) for k, v in found.items()}


def edges(k):
    """The analytic k-th (from 1) rising and falling crossings of 0.5 by the source."""
    start = DELAY + (k - 1) * PERIOD
    return start + RISE / 2, start + RISE + WIDTH + FALL / 2


def test_nth_crossing_of_each_edge_and_trig_targ_as_when(run):
    data, meas = run
    out = data["out"]
    assert cvfunc.Cross(out, 0.5, "rise", 2) == pytest.approx(meas["rise2"], rel=1e-9)
    assert cvfunc.Cross(out, 0.3, "fall", 3) == pytest.approx(meas["fall3"], rel=1e-9)
    assert cvfunc.Cross(out, 0.5, "either", 5) == pytest.approx(meas["cross5"], rel=1e-9)
    assert cvfunc.Cross(out, 0.5, "either", -1) == pytest.approx(meas["crosslast"], rel=1e-9)
    assert cvfunc.Cross(data["in"], 0.7, "rise", -1) == pytest.approx(meas["riselast"], rel=1e-9)
    # The source's edges are straight: any two samples on them interpolate
    # exactly.
    for k in range(1, CYCLES + 1):
        rise, fall = edges(k)
        assert cvfunc.Cross(data["in"], 0.5, "rise", k) == pytest.approx(rise, rel=1e-12)
        assert cvfunc.Cross(data["in"], 0.5, "fall", k - CYCLES - 1) == pytest.approx(fall, rel=1e-12)
    got = cvfunc.TrigTarg(data["in"], 0.5, "rise", 2, out, 0.4, "fall", 3)
    assert got == pytest.approx(meas["tt"], rel=1e-6)  # ngspice prints seven digits here
    assert got == pytest.approx(cvfunc.Cross(out, 0.4, "fall", 3) - edges(2)[0], rel=1e-11)


def test_duty_and_frequency_from_when_pairs(run):
    data, meas = run
    r = np.array([meas[f"r{k}"] for k in range(1, CYCLES + 1)])
    f = np.array([meas[f"f{k}"] for k in range(1, CYCLES + 1)])
    # The RC output's first cycle starts from rest, so its cycles differ:
    # the measurement spans all whole ones.
    whole = len(r) - 1
    assert cvfunc.DutyCycle(data["out"], 0.5) == pytest.approx(100 * np.sum(f[:whole] - r[:whole]) / (r[-1] - r[0]),
                                                               rel=1e-9)
    assert cvfunc.Frequency(data["out"], 0.5) == pytest.approx(whole / (r[-1] - r[0]), rel=1e-9)
    assert cvfunc.PulseWidth(data["out"], 0.5) == pytest.approx(np.mean(f - r), rel=1e-9)
    assert cvfunc.PulseWidth(data["out"], 0.5, "low") == pytest.approx(np.mean(r[1:] - f[:-1]), rel=1e-9)
    periods = np.diff(r)
    assert cvfunc.PeriodJitter(data["out"], 0.5) == pytest.approx(np.std(periods), rel=1e-6, abs=1e-18)
    assert cvfunc.PeriodJitter(data["out"], 0.5, "pp") == pytest.approx(np.ptp(periods), rel=1e-6, abs=1e-18)
    # The source itself: its analytic duty, frequency and width, no jitter.
    src = data["in"]
    assert cvfunc.DutyCycle(src) == pytest.approx(100 * (WIDTH + (RISE + FALL) / 2) / PERIOD, rel=1e-12)
    assert cvfunc.Frequency(src) == pytest.approx(1 / PERIOD, rel=1e-12)
    assert cvfunc.PeriodJitter(src, 0.5, "cycle") < 1e-12 * PERIOD


def test_slope_on_samples_is_ngspice_deriv_and_on_edges_the_ramp(run):
    data, _ = run
    out, d = data["out"], data["d"]
    t, slope = np.asarray(out.ref), np.asarray(d)
    # Inner samples only: at the two ends ngspice fits its parabola on one
    # side, where the measurement takes the end segment's slope. And between
    # steps of at least half the largest: ngspice's formula works on the times
    # themselves and loses digits on the short steps at breakpoints (errors
    # near 1e-8 where a step is 1e5 times shorter than the time).
    h = np.diff(t)
    inner = np.flatnonzero(np.minimum(h[:-1], h[1:]) >= 0.5 * h.max()) + 1
    assert len(inner) > 0.9 * len(t)
    for i in inner[::17]:
        assert cvfunc.DerivAt(out, t[i]) == pytest.approx(slope[i], rel=1e-9, abs=1e-9 * np.abs(slope).max())
    rise, fall = edges(3)
    assert cvfunc.DerivAt(data["in"], rise) == pytest.approx(1 / RISE, rel=1e-9)
    assert cvfunc.DerivAt(data["in"], fall) == pytest.approx(-1 / FALL, rel=1e-9)


def test_peak_to_peak_as_pp(run):
    data, meas = run  # ngspice prints seven digits for PP
    assert cvfunc.PeakToPeak(data["out"]) == pytest.approx(meas["pp"], rel=1e-6)
    assert cvfunc.PeakToPeak(data["out"], 3.3e-6, 8.2e-6) == pytest.approx(meas["ppw"], rel=1e-6)

