"""Step responses of an RC stage and of series RLC stages (zeta 0.3 and 0.7)
simulated by ngspice: rise and fall times against its `meas` TRIG/TARG at the
same levels, settling against its WHEN on the band edges, overshoot against
its MAX, and all of them against the analytic values of the circuits."""

import re

import numpy as np
import pytest

import cvfunc

from ngspice_run import run_ngspice

TAU = 0.5e-6  # the RC stage
STEP_AT, FALL_AT = 1e-6, 13e-6
ZETA = {"a2": 0.3, "b2": 0.7}  # series R, 10 uH, 1 nF: zeta = R / 2 * sqrt(C / L)
SIDES = (("above", 0.02), ("below", -0.02))  # the edges of a 2 % settling band

# A 2 ns step everywhere: ngspice measures the same samples it writes.
DECK = """* an RC stage and two series RLC stages driven by one pulse
V1 in 0 PULSE(0 1 1u 1p 1p 12u 100u)
Rr in rc 500
Cr rc 0 1n
Ra in a1 60
La a1 a2 10u
Ca a2 0 1n
Rb in b1 140
Lb b1 b2 10u
Cb b2 0 1n
.control
tran 2n 25u 0 2n
{meas}
write out.raw v(rc) v(a2) v(b2)
.endc
.end
"""


def before_fall(wave):
    """The step alone: the samples before the pulse falls."""
    t, y = np.asarray(wave.ref), np.asarray(wave)
    keep = t < FALL_AT - 0.1e-6
    return cvfunc.Vector(y[keep], ref=t[keep])


@pytest.fixture(scope="module")
def steps(tmp_path_factory):
    """The waveforms and ngspice's measurements at the levels of a step from 0
    to 1, which cvfunc finds too (checked below)."""
    lines = []
    for n in ("rc", "a2", "b2"):
        lines += [
            f"meas tran rise_{n} TRIG v({n}) VAL=0.1 RISE=1 TARG v({n}) VAL=0.9 RISE=1",
            # After the top has settled, so that ringing about 90 % is not a fall.
            f"meas tran fall_{n} TRIG v({n}) VAL=0.9 TD=12u FALL=1 TARG v({n}) VAL=0.1 TD=12u FALL=1",
            f"meas tran max_{n} MAX v({n}) FROM=0 TO=12.9u",
            *[f"meas tran set_{e}_{n} WHEN v({n})={1 + d} CROSS=LAST FROM=0 TO=12.9u" for e, d in SIDES],
        ]
    stdout, data = run_ngspice(tmp_path_factory.mktemp("step"), DECK.format(meas="\n".join(lines)))
    return data, {k: float(v) for k, v in re.findall(r"^(\w+)\s*=\s*([-+0-9.eE]+)", stdout, re.MULTILINE)}


def test_levels_rise_and_fall_against_trig_targ(steps):
    data, meas = steps
    for n in ("rc", "a2", "b2"):
        # Each stage dwells at 0 before the step and settles to the source's 1.
        assert (cvfunc.BaseLevel(data[n]), cvfunc.TopLevel(data[n])) == pytest.approx((0, 1), abs=1e-9)
        # ngspice prints 7 digits; both interpolate the same samples linearly.
        assert cvfunc.RiseTime(data[n]) == pytest.approx(meas[f"rise_{n}"], rel=2e-6)
        assert cvfunc.FallTime(data[n]) == pytest.approx(meas[f"fall_{n}"], rel=2e-6)
        assert cvfunc.SlewRate(data[n], edge="fall") == pytest.approx(0.8 / meas[f"fall_{n}"], rel=2e-6)
    # An RC stage rises from 10 % to 90 % in ln(9) time constants.
    assert cvfunc.RiseTime(data["rc"]) == pytest.approx(np.log(9) * TAU, rel=1e-5)


def test_overshoot_against_max_and_the_damping(steps):
    data, meas = steps
    for n, zeta in ZETA.items():
        got = cvfunc.Overshoot(data[n])
        assert got == pytest.approx((meas[f"max_{n}"] - 1) * 100, rel=1e-5)
        # The simulator's integration keeps the peak to within 1e-4 of it.
        assert got == pytest.approx(100 * np.exp(-zeta * np.pi / np.sqrt(1 - zeta**2)), rel=1e-3)
        # The fall overshoots below the base as the rise did above the top.
        assert cvfunc.Undershoot(data[n]) == pytest.approx(got, rel=1e-3)


def test_settling_against_the_last_band_edge_crossing(steps):
    data, meas = steps
    for n in ZETA:
        last = max(meas.get(f"set_above_{n}", 0), meas[f"set_below_{n}"])
        assert cvfunc.SettlingTime(before_fall(data[n]), 0.02) == pytest.approx(last, rel=2e-6)
    # A first-order step settles to within tol in -ln(tol) time constants.
    rc = before_fall(data["rc"])
    assert cvfunc.SettlingTime(rc, 1e-3, 1, STEP_AT) == pytest.approx(-TAU * np.log(1e-3), rel=1e-5)
    assert cvfunc.SettlingTime(rc, 0.02, start=STEP_AT) + STEP_AT == pytest.approx(meas["set_below_rc"], rel=2e-6)
