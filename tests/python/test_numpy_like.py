"""Vectors behave as numpy users expect: operators that cannot pair their
operands raise, comparisons are masks, numbers may be written as the script
language writes them, every vector makes one tidy table and a DataArray, and
Ctrl-C stops a long call."""
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import cvfunc

V = cvfunc.Vector


def stepped():
    """Three runs of different lengths with their own time steps, labelled as a sweep."""
    t = np.concatenate([np.linspace(0, 1e-3, n) for n in (5, 4, 3)])
    y = [0.0, 1.0, 2.0, 1.0, 0.0] + [0.0, 2.0, 4.0, 2.0] + [0.0, 3.0, 6.0]
    return V(y, ref=V(t, name="time"), divisions=[5, 4, 3], phys="Voltage", ref_phys="Time", name="out",
             labels=["r2=500", "r2=1k", "r2=2k"])


class TestOperatorsThatCannotPair:
    @pytest.mark.parametrize("make", [
        lambda a, b: a - b, lambda a, b: b.values.tolist() + a, lambda a, b: a == b, lambda a, b: a & b,
        lambda a, b: np.add(a, b), lambda a, b: np.less(a, b),
    ], ids=["sub", "radd", "eq", "and", "np.add", "np.less"])
    def test_lengths_neither_equal_nor_one_raise_as_numpy(self, make):
        a, b = V([1.0, 2.0, 3.0]), V([1.0, 2.0])
        with pytest.raises(ValueError, match=r"^operands could not be broadcast together with lengths (3 and 2|2 and 3)$"):
            make(a, b)

    def test_runs_are_paired_run_by_run_and_the_failing_run_is_named(self):
        with pytest.raises(ValueError, match=r"lengths 4 and 5 \(run 'r2=1k'\)"):
            stepped() + np.arange(5.0)
        # Runs of one length against a value per element of a run pair fine.
        w = V(np.arange(6.0), divisions=[3, 3])
        assert list(w + [10, 20, 30]) == [10, 21, 32, 13, 24, 35]

    def test_kinds_that_give_nothing_say_so_and_empty_operands_stay_empty(self):
        with pytest.raises(ValueError, match="could not be combined: '==' gives no result for real and string"):
            V([1.0, 2.0]) == V(["a", "b"])
        assert (V([]) + 1).size == 0 and (V([]) > 1).dtype == bool
        with pytest.raises(ValueError, match="lengths 2 and 0"):
            V([1.0, 2.0]) * V([])

    def test_direct_calls_and_the_language_keep_their_rule(self):
        assert cvfunc._Minus([1, 2, 3], [1, 2]) is None
        with pytest.warns(cvfunc.Warning, match="cannot pair operands of 3 and 2"):
            assert cvfunc.eval("[1, 2, 3] - [1, 2]") is None


class TestMasks:
    def test_comparisons_are_bool_masks_that_still_work_as_vectors(self):
        v = V([1.0, 2.0, 3.0], ref=[0.0, 0.1, 0.2], phys="Voltage", ref_phys="Time")
        m = v > 1.5
        assert m.dtype == np.bool_ and np.asarray(m).dtype == np.bool_ and list(m.ref) == [0.0, 0.1, 0.2]
        assert list(~m) == [True, False, False] and list(m & (v < 2.5)) == [False, True, False]
        # In further calls a mask is 0 and 1 against the same x-values.
        assert list(m * 2) == [0.0, 2.0, 2.0] and cvfunc.XFromY(m, 0.5, 1)[0] == pytest.approx(0.05)
        with pytest.raises(TypeError):
            ~v

    def test_a_mask_selects_per_run_keeping_x_values_labels_and_names(self):
        w = stepped()
        picked, mask = w[w > 0.5], np.asarray(w) > 0.5
        assert list(picked) == list(np.asarray(w)[mask]) and list(picked.ref) == list(w.ref[mask])
        assert (picked.name, picked.phys, picked.ref_name, picked.ref_phys) == ("out", "Voltage", "time", "Time")
        # numpy bool arrays and lists of bools select alike; a run can end up empty.
        assert picked.division_lengths == w[mask].division_lengths == w[list(mask)].division_lengths == [3, 3, 2]
        assert picked.labels == w.labels and w[w > 3.5].division_lengths == [0, 1, 1]

    @pytest.mark.parametrize("mask", [V([True, False]) > 0, np.array([True, False, True]), [True] * 13])
    def test_a_mask_of_another_length_raises_index_error_as_numpy(self, mask):
        n = np.size(mask)
        with pytest.raises(IndexError, match=f"dimension is 12 but corresponding boolean dimension is {n}$"):
            stepped()[mask]


class TestEngineeringNumbers:
    def test_real_arguments_read_the_languages_numbers(self):
        w = stepped()
        want = cvfunc.Mean1(w, 2e-4, 8e-4)
        for start, stop in (("200u", "800u"), (" 0.2m ", "800E-6"), ("200us", "0.8ms")):
            np.testing.assert_array_equal(cvfunc.Mean1(w, start, stop), want)
        np.testing.assert_array_equal(cvfunc.Mean1(w, end="800u"), cvfunc.Mean1(w, [], 8e-4))

    def test_other_text_stays_text(self):
        with pytest.raises(cvfunc.Error, match="Argument 2 in function 'Mean1' must be real, not a string"):
            cvfunc.Mean1(stepped(), "5u5")
        assert cvfunc.ToUpper("5meg") == "5MEG"
        with pytest.raises(cvfunc.Error, match="must be numeric"):
            V([1.0]) + "5u"


class TestTables:
    @pytest.mark.parametrize("make, columns, runs", [
        (lambda: V([1 + 2j, 3.0], ref=[1e3, 2e3], ref_phys="Frequency", name="s21"), ["run", "frequency", "s21"],
         ["0", "0"]),
        (lambda: V(["a", "b"]), ["run", "value"], ["0", "0"]),
        (lambda: cvfunc.call("_Plus", 1.0, 2.0), ["run", "value"], ["0"]),
        (lambda: cvfunc.Maximum(stepped()), ["run", "r2", "value"], ["r2=500", "r2=1k", "r2=2k"]),
        (lambda: cvfunc.Maximum(V(np.arange(6.0), ref=np.arange(6.0), divisions=[3, 3])) * 2, ["run", "value"],
         ["0", "1"]),
    ], ids=["complex", "strings", "scalar", "statistic", "statistic-times-2"])
    def test_one_tidy_shape_for_every_result(self, make, columns, runs):
        pytest.importorskip("pandas")
        v = make()
        df = v.to_pandas()
        assert list(df.columns) == columns and list(df["run"]) == runs
        assert list(df[columns[-1]]) == list(np.asarray(v).reshape(-1) if v.kind != "string" else v.values)

    def test_statistics_know_their_runs(self):
        m = cvfunc.Maximum(stepped())
        assert m.run_labels == ["r2=500", "r2=1k", "r2=2k"] and list(m.ref) == [500, 1000, 2000]
        assert m[1:].run_labels == ["r2=1k", "r2=2k"] and m[m > 3].run_labels == ["r2=1k", "r2=2k"]
        assert stepped().run_labels is None

    def test_dataarray_of_runs_against_x(self):
        pytest.importorskip("xarray")
        w = cvfunc.Interp(stepped(), [5, 0, 1e-3], 1, [1])
        da = cvfunc.Vector(w, name="out").to_xarray()
        assert da.dims == ("run", "time") and da.shape == (3, 5) and da.name == "out"
        assert list(da["run"].values) == ["r2=500", "r2=1k", "r2=2k"] and da.attrs["units"] == "V"
        np.testing.assert_allclose(da["time"], np.linspace(0, 1e-3, 5))
        np.testing.assert_array_equal(da.sel(run="r2=1k"), w.divisions[1])
        assert V([1.0, 2.0], ref=[0.0, 1.0], ref_phys="Time").to_xarray().shape == (1, 2)
        assert V([1.0, 2.0]).to_xarray().dims == ("run", "point")
        m = cvfunc.Maximum(stepped()).to_xarray()
        assert m.dims == ("run",) and list(m["r2"].values) == [500, 1000, 2000]

    def test_runs_without_a_common_x_axis_are_refused(self):
        pytest.importorskip("xarray")
        with pytest.raises(ValueError, match=r"different lengths \(3 to 5 points\).*Interp"):
            stepped().to_xarray()
        shifted = V([1.0, 2.0, 3.0, 4.0], ref=[0.0, 1.0, 0.0, 2.0], divisions=[2, 2])
        with pytest.raises(ValueError, match="different x-values"):
            shifted.to_xarray()

    def test_without_xarray_the_error_says_what_to_install(self, monkeypatch):
        monkeypatch.setitem(sys.modules, "xarray", None)
        with pytest.raises(ImportError, match="python3-xarray"):
            V([1.0]).to_xarray()


# A call that takes seconds and polls for Ctrl-C, then one that must still work.
# "replaced": Python code put its own SIGINT handler in place after the import
# (as asyncio.run and notebook kernels do); Ctrl-C must still end a Sleep.
CHILD = """
import signal, sys, time, numpy as np, cvfunc
t = np.linspace(0, 1e-3, 1_000_001)
cvfunc.bind("w", cvfunc.Vector(np.sin(2 * np.pi * 1e3 * t), ref=t))
long = {"call": lambda: cvfunc.Fourier(cvfunc.lookup("w"), 1e3, 4000),
        "eval": lambda: cvfunc.eval("Fourier(w, 1e3, 4000)"), "python": lambda: time.sleep(30),
        "replaced": lambda: cvfunc.Sleep(1e300)}[sys.argv[1]]
cvfunc.call("abs", 1.0)
if sys.argv[1] == "replaced":
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    signal.signal(signal.SIGINT, signal.default_int_handler)
print("ready", flush=True)
try:
    long()
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
print(cvfunc.call("abs", -2.0), flush=True)
"""


@pytest.mark.parametrize("form", ["call", "eval", "python", "replaced"])
def test_ctrl_c_raises_keyboard_interrupt_at_once_and_the_session_goes_on(form):
    package = os.path.dirname(os.path.dirname(cvfunc.__file__))
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in (package, os.environ.get("PYTHONPATH")) if p)}
    p = subprocess.Popen([sys.executable, "-c", CHILD, form], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True, env=env)
    try:
        assert p.stdout.readline().strip() == "ready"
        time.sleep(1.0)
        start = time.monotonic()
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=60)
    finally:
        p.kill()
    assert out.split() == ["interrupted", "2.0"], err
    assert time.monotonic() - start < 1.0
