"""Bandwidth, gain, unity-gain frequency and the margins of AC sweeps against
ngspice's `meas ac` on circuits it simulates, and against their analytic
values.

Tolerances: cvfunc and `meas ac` interpolate the same samples the same way
(linear in frequency), so only the 7 digits ngspice prints separate them
(relative 1e-6). Against the analytic values the sweeps have 1000 points a
decade: linear interpolation between samples of ratio r errs by about
(r - 1)^2 / 8, below 1e-6 relative, so 1e-5 leaves room."""

import math
import re

import numpy as np
import pytest
from scipy.optimize import brentq

import cvfunc

from ngspice_run import run_ngspice

SWEEP = "ac dec {n} {f0} {f1}"


def measured(stdout, names):
    meas = {k: float(v) for k, v in re.findall(r"^(\w+)\s*=\s*([-+0-9.eE]+)", stdout, re.MULTILINE)}
    assert set(names) <= set(meas), "ngspice did not measure:\n" + stdout
    return meas


RC = """* RC low-pass, one run per capacitor
V1 in 0 AC 1
R1 in out 1k
C1 out 0 {c0}
.control
set appendwrite
{runs}
.endc
.end
"""

RC_RUN = """{alter}
{sweep}
let lvl = vdb(out)[0] - 3
meas ac f3_{k} WHEN vdb(out)=$&lvl
meas ac g_{k} FIND vdb(out) AT=300
write out.raw v(out)
"""

CAPS = [1e-6, 2.2e-6, 0.47e-6]


# 2 points a decade show the interpolation: linear in f, not in log f.
@pytest.mark.parametrize("per_decade", [1000, 2])
def test_rc_bandwidth_and_gain_agree_with_meas_run_by_run(tmp_path, per_decade):
    sweep = SWEEP.format(n=per_decade, f0=1, f1="100k")
    runs = "".join(RC_RUN.format(k=k, alter=f"alter C1 {c}" if k else "", sweep=sweep) for k, c in enumerate(CAPS))
    stdout, data = run_ngspice(tmp_path, RC.format(c0=CAPS[0], runs=runs))
    meas, out = measured(stdout, [f"{m}_{k}" for k in range(len(CAPS)) for m in ("f3", "g")]), data["out"]
    bw = np.asarray(cvfunc.Bandwidth(out))
    assert bw == pytest.approx([meas[f"f3_{k}"] for k in range(len(CAPS))], rel=1e-6)
    assert np.asarray(cvfunc.GainAt(out, 300)) == pytest.approx([meas[f"g_{k}"] for k in range(len(CAPS))], rel=1e-6)
    # Magnitude and db() of the raw file's voltage read like the complex sweep.
    assert np.asarray(cvfunc.Bandwidth(cvfunc.mag(out))) == pytest.approx(bw, rel=1e-12)
    assert np.asarray(cvfunc.Bandwidth(cvfunc.db(out))) == pytest.approx(bw, rel=1e-12)
    if per_decade == 1000:
        # Half the power of the lowest frequency's (1 Hz), not of DC's.
        fc = 1 / (2 * math.pi * 1e3 * np.array(CAPS))
        half = np.asarray(cvfunc.Bandwidth(out, 10 * math.log10(2)))
        assert half == pytest.approx(fc * np.sqrt(1 + 2 * (1 / fc) ** 2), rel=1e-5)


# A feedback amplifier (gain 1000 at its inverting input, then RC poles behind
# buffers, a 1/10 divider back) opened at the inverting input: v(r) is the
# returned signal, the loop gain with its inversion; v(t) = -v(r) is T.
LOOP = """* loop gain of a feedback amplifier, opened at its inverting input
Vx x 0 AC 1
E1 a 0 0 x 1000
{stages}
Rf1 {last} r 9k
Rf2 r 0 1k
E9 t 0 r 0 -1
.control
{sweep}
meas ac fu WHEN vdb(t)=0
meas ac pm FIND vp(t) WHEN vdb(t)=0
{gm}
write out.raw v(t) v(r)
.endc
.end
"""

# vp wraps at -pi and never crosses it: the continuous phase does.
GM = """let ph = cph(v(t))
meas ac gm FIND vdb(t) WHEN ph=-3.141592653589793
"""


def loop_deck(poles):
    stages, node = [], "a"
    for k, p in enumerate(poles):
        # R = 1k, C = 1 / (2 pi R p); a unity buffer after each pole.
        stages += [f"R{k} {node} n{k} 1k", f"C{k} n{k} 0 {1 / (2 * math.pi * 1e3 * p)!r}", f"Eb{k} b{k} 0 n{k} 0 1"]
        node = f"b{k}"
    sweep = SWEEP.format(n=1000, f0=10, f1="100meg")
    return LOOP.format(stages="\n".join(stages), last=node, sweep=sweep, gm=GM if len(poles) > 2 else "")


def analytic(poles, t0=100.0):
    def gain(f):
        return t0 / math.prod(math.hypot(1, f / p) for p in poles)

    def phase(f):
        return -sum(math.degrees(math.atan(f / p)) for p in poles)

    fu = brentq(lambda f: math.log(gain(f)), 10, 1e8, xtol=1e-12, rtol=1e-15)
    out = {"fu": fu, "pm": 180 + phase(fu)}
    if len(poles) > 2:
        f180 = brentq(lambda f: phase(f) + 180, 10, 1e8, xtol=1e-12, rtol=1e-15)
        out["gm"] = -20 * math.log10(gain(f180))
    return out


@pytest.mark.parametrize("poles", [(1e3, 1e5), (1e3, 1e5, 1e6)], ids=["two poles", "three poles"])
def test_loop_margins_agree_with_meas_and_the_analytic_loop(tmp_path, poles):
    stdout, data = run_ngspice(tmp_path, loop_deck(poles))
    meas = measured(stdout, ["fu", "pm"] + (["gm"] if len(poles) > 2 else []))
    t, r, want = data["t"], data["r"], analytic(poles)

    fu = float(cvfunc.UnityGainFrequency(t))
    assert fu == pytest.approx(meas["fu"], rel=1e-6)
    assert fu == pytest.approx(want["fu"], rel=1e-5)
    pm = float(cvfunc.PhaseMargin(t))
    # meas gives vp in radians, wrapped to (-pi, pi]: T's phase at the crossover.
    assert pm == pytest.approx(180 + math.degrees(meas["pm"]), abs=1e-4)
    assert pm == pytest.approx(want["pm"], abs=1e-4)
    # The returned signal starts at 180 degrees: read as inverted by default.
    assert float(cvfunc.PhaseMargin(r)) == pytest.approx(pm, abs=1e-9)
    assert float(cvfunc.PhaseMargin(r, "plain")) == pytest.approx(pm + 180, abs=1e-9)

    if len(poles) == 2:
        with pytest.raises(cvfunc.Error, match=r"never reaches -180 degrees of phase"):
            cvfunc.GainMargin(t)
        return
    gm = float(cvfunc.GainMargin(t))
    assert gm == pytest.approx(-meas["gm"], rel=1e-6)
    assert float(cvfunc.GainMargin(r)) == pytest.approx(gm, rel=1e-9)
    assert gm == pytest.approx(want["gm"], rel=1e-5)
