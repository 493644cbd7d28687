"""Touchstone files loaded like a waveform: the tool and cvfunc.load bind S11 ... Snn as complex
vectors over frequency in Hz, and cvfunc.network.read_network gives the f, s and z0 that
scikit-rf reads from the sample files it ships (to 1e-12 relative)."""

import glob
import json
import os
import re
import subprocess
import sys
import warnings

import numpy as np
import pytest

import cvfunc
from cvfunc import network

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
TOOL = os.path.abspath(os.path.join(BUILD, "cvfunc"))

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # scikit-rf 0.15 warns on import
        import skrf
        from skrf.io.touchstone import Touchstone
    if "complex" not in np.__dict__:
        np.complex = complex  # scikit-rf 0.15 still names numpy.complex, which numpy has dropped
    SKRF_DIR = os.path.dirname(skrf.__file__)
    SKRF_FILES = sorted(os.path.relpath(p, SKRF_DIR) for p in glob.glob(SKRF_DIR + "/**/*", recursive=True)
                        if re.search(r"\.(s\d+p|ts)$", p, re.I))
except ImportError:
    skrf, SKRF_DIR, SKRF_FILES = None, "", []
needs_skrf = pytest.mark.skipif(skrf is None, reason="scikit-rf is not installed")
# Sample files of scikit-rf that do not follow the format, refused with what is wrong and where.
REFUSED = {
    # A complex reference resistance "R (50+50j)": the option line's R is one real number.
    "simple_touchstone.s2p": "line 2: '(50+50j)' is not a number",
    # Frequency 1.5 twice: where frequencies stop increasing a two-port's noise data begins.
    "ntwk_noise.s2p": "line 12: a line of noise data holds 5 numbers, this one more",
}


def close(a, b, rel=1e-12):
    a, b = np.asarray(a), np.asarray(b)
    return a.shape == b.shape and bool(np.all(np.abs(a - b) <= rel * np.maximum(np.abs(a), np.abs(b))))


def tool(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, stdin=subprocess.DEVNULL)


# ---------------------------------------------------------------- the tool and load()

def test_the_tool_binds_parameters_over_frequency_in_hertz(data_file):
    path = str(data_file("touchstone/ntwk1.s2p"))
    numbers = np.loadtxt(path, comments=["!", "#"], ndmin=2)  # one line per frequency
    s21 = numbers[:, 3] + 1j * numbers[:, 4]  # a version 1 two-port writes 11, 21, 12, 22
    r = tool("--load", path, "--format", "json", "-e", "S21", "-e", "db(S21)")
    assert r.returncode == 0 and r.stderr == "", r.stderr
    values, decibels = (json.loads(line) for line in r.stdout.splitlines())
    assert values["kind"] == "complex" and values["ref_phys"] == "Frequency"
    assert np.array_equal(values["ref"], numbers[:, 0] * 1e9)  # GHz in the file
    assert close(np.array(values["values"]) @ [1, 1j], s21)
    assert close(decibels["values"], 20 * np.log10(np.abs(s21)))
    # The text form: one line per frequency, x first.
    first = tool("--load", path, "-e", "S21").stdout.splitlines()[0]
    assert first == "1e+09\t(0.926746562,-0.170089428)"


def test_load_gives_vectors_with_physical_types(data_file):
    data = cvfunc.load(str(data_file("touchstone/ex_9.s1p")))  # Z-parameters, version 1, MHz, R 75
    z11 = data["Z11"]
    assert (list(data), z11.phys, z11.ref_phys, z11.unit, np.asarray(data["frequency"])[0]) == \
        (["frequency", "Z11"], "Resistance", "Frequency", "Ohm", 100e6)
    assert close(abs(np.asarray(z11)[0]), 0.99 * 75)  # written divided by R
    assert cvfunc.eval("Length(Z11)") == 5  # bound for the language too


# ---------------------------------------------------------------- Network

@needs_skrf
@pytest.mark.parametrize("rel", SKRF_FILES)
def test_networks_agree_with_scikit_rf_on_its_sample_files(rel):
    path = os.path.join(SKRF_DIR, rel)
    if os.path.basename(rel) in REFUSED:
        with pytest.raises(cvfunc.Error, match=re.escape(f"{path}: {REFUSED[os.path.basename(rel)]}")):
            network.read_network(path)
        return
    ours = network.read_network(path)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        theirs = skrf.Network(path)
        option_line = Touchstone(path)
    assert close(ours.f, theirs.f)
    assert close(ours.s, theirs.s)
    if option_line.is_from_hfss():
        # scikit-rf takes z0 from the port impedances an HFSS export lists in comments, which the
        # format does not define: ours stays the option line's R.
        assert ours.z0.ndim == 0 and ours.z0 == float(option_line.resistance)
    else:
        assert close(np.broadcast_to(ours.z0, theirs.z0.shape), theirs.z0)


@needs_skrf
def test_a_network_knows_its_file_and_goes_to_scikit_rf(data_file):
    net = network.read_network(data_file("touchstone/ex_5.ts"))
    assert repr(net) == "Network('ex_5', 4-port, 2 points, 5 GHz to 6 GHz, z0=[50, 75, 0.01, 0.01] ohm)"
    assert net.metadata == {"version": "2.0", "ports": "4", "parameter": "S", "format": "MA",
                            "frequency_unit": "GHz", "z0": "50 75 0.01 0.01"}
    theirs = net.to_skrf()
    assert isinstance(theirs, skrf.Network) and theirs.frequency.unit == "GHz"
    assert np.array_equal(theirs.s, net.s) and np.array_equal(theirs.f, net.f)
    assert np.array_equal(theirs.z0, np.broadcast_to(net.z0, (2, 4)))
    single = network.read_network(data_file("touchstone/ex_11.s2p"))
    assert repr(single) == "Network('ex_11', 2-port, H-parameters, 1 point, 2 kHz, z0=1 ohm)"


@needs_skrf
def test_y_z_h_and_g_files_give_the_s_parameters_scikit_rf_computes(data_file, tmp_path):
    z2s = skrf.network.z2s
    # Version 1 writes Z divided by R, version 2 in ohms; both come back in ohms.
    for name, z0 in [("ex_9.s1p", 75.0), ("ex_7.ts", 20.0)]:
        net = network.read_network(data_file("touchstone/" + name))
        assert net.kind == "Z" and net.z0 == z0
        assert close(net.s, z2s(net.params, z0))
    y = tmp_path / "y.s2p"
    y.write_text("# MHz Y RI R 50\n1 0.02 0.001 -0.01 0 -0.01 0.0 0.03 -0.002\n")
    net = network.read_network(y)
    assert net.kind == "Y" and close(net.params[0, 1, 0], -0.01 / 50)  # version 1 writes Y times R
    assert close(net.s, skrf.network.y2s(net.params, 50.0))
    # H and G through the Z-parameters of the same two-port.
    net = network.read_network(data_file("touchstone/ex_11.s2p"))
    h11, h12, h21, h22 = (net.params[:, r, c] for r, c in [(0, 0), (0, 1), (1, 0), (1, 1)])
    z = np.stack([np.stack([(h11 * h22 - h12 * h21) / h22, h12 / h22], -1), np.stack([-h21 / h22, 1 / h22], -1)], -2)
    assert close(net.s, z2s(z, 1.0))
    assert close(network.Network([2e3], np.linalg.inv(net.params), 1.0, kind="G").s, z2s(z, 1.0), 1e-10)


def test_ten_ports_or_more_are_read_by_their_underscored_names(tmp_path):
    path = tmp_path / "wide.s11p"
    rows = [" ".join(f"{r * 100 + c} {r + c}" for c in range(11)) for r in range(11)]
    path.write_text("# GHz S RI R 50\n1 " + "\n".join(rows) + "\n")
    s = network.read_network(path).s
    assert (s.shape, s[0, 0, 10], s[0, 10, 0]) == ((1, 11, 11), 10 + 10j, 1000 + 10j)


def test_what_is_no_network_is_refused(data_file, monkeypatch):
    with pytest.raises(ValueError, match="holds no network parameters"):
        network.read_network(data_file("simple.csv"))
    with pytest.raises(cvfunc.Error, match="Example20.ts: line 9: a 2-port file needs"):
        network.read_network(data_file("touchstone/Example20.ts"))
    monkeypatch.setitem(sys.modules, "skrf", None)  # as if scikit-rf were not installed
    net = network.Network([1e9], np.zeros((1, 1, 1)))
    with pytest.raises(ImportError, match="to_skrf needs scikit-rf"):
        net.to_skrf()
