"""Vectors as numpy users expect them: one result type through every call
form, the array protocol with x-values kept, and arrays shared rather than copied."""
import gc
import os
import weakref

import numpy as np
import pytest

import cvfunc


def rss_bytes():
    with open(f"/proc/{os.getpid()}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def runs_vector():
    """Three runs of a sine at different amplitudes, on one time grid."""
    t = np.linspace(0, 1e-3, 201)
    y = np.concatenate([a * np.sin(2 * np.pi * 3e3 * t) for a in (1.0, 2.0, 3.0)])
    return cvfunc.Vector(y, ref=t, divisions=[201] * 3, phys="Voltage", ref_phys="Time", name="out",
                         labels=["a=1", "a=2", "a=3"])


class TestOneResultType:
    @pytest.mark.parametrize("form", ["attribute", "call", "eval"])
    def test_every_call_form_keeps_runs_x_values_and_types(self, form):
        def call_as(name, arg, *rest):
            cvfunc.bind("form_arg", arg)
            return {"attribute": lambda: getattr(cvfunc, name)(arg, *rest), "call": lambda: cvfunc.call(name, arg, *rest),
                    "eval": lambda: cvfunc.eval(f"{name}(form_arg{''.join(f', {r}' for r in rest)})")}[form]()
        got = call_as("XFromY", runs_vector(), 0.5)
        assert (got.labels, got.phys, len(got.divisions)) == (["a=1", "a=2", "a=3"], "Time", 3)
        # Crossings of a*sin at 0.5 come earlier as the amplitude grows.
        first = [float(run[0]) for run in got.divisions]
        assert first[0] > first[1] > first[2] > 0
        np.testing.assert_allclose(first[0], np.arcsin(0.5) / (2 * np.pi * 3e3), rtol=1e-3)
        # A maximum keeps where it occurs.
        t = np.linspace(0, 1, 1001)
        y = np.exp(-(t - 0.3) ** 2 * 50)
        m = call_as("Maximum", cvfunc.Vector(y, ref=t, phys="Voltage", ref_phys="Time"))
        assert (m.is_scalar, m.shape, m.phys, m.ref_phys, float(m), float(m.ref)) == \
            (True, (), "Voltage", "Time", y.max(), t[np.argmax(y)])

    def test_numbers_behave_as_numpy_scalars_and_text_stays_str(self):
        s = cvfunc.call("_Plus", 1.0, 2.0)
        assert (float(s), s, f"{s:.1f}", str(s), int(s), [10, 20, 30, 40][s]) == (3.0, 3, "3.0", "3.0", 3, 40)
        # A list of numbers is a 1-D array, not a column.
        assert np.asarray(s).shape == () and np.array([cvfunc.Maximum(r) for r in runs_vector().divisions]).shape == (3,)
        assert (s + 1).is_scalar and not (s + [1, 2]).is_scalar
        assert cvfunc.ToUpper("abc") == "ABC" and cvfunc.eval("'x'") == "x"
        with pytest.raises(TypeError, match="one element"):
            float(cvfunc.Vector([1.0, 2.0]))
        with pytest.raises(TypeError, match="complex"):
            float(cvfunc.Vector([1j]))
        with pytest.raises(ValueError, match="ambiguous"):
            bool(cvfunc.Vector([1.0, 2.0]))


class TestArrayProtocol:
    def test_shape_indexing_and_slicing_keep_x_values(self):
        v = cvfunc.Vector([1.0, 2.0, 3.0, 4.0], ref=[0.0, 0.1, 0.2, 0.3], phys="V", ref_phys="s")
        assert (v.shape, len(v), v.ndim, v.dtype, v.size) == ((4,), 4, 1, np.float64, 4)
        cases = [(-1, [4.0], [0.3]), (slice(1, 3), [2.0, 3.0], [0.1, 0.2]), (slice(None, None, -2), [4.0, 2.0], [0.3, 0.1]),
                 (np.array([True, False, False, True]), [1.0, 4.0], [0.0, 0.3]), ([2, 0], [3.0, 1.0], [0.2, 0.0])]
        for key, values, xs in cases:
            got = v[key]
            assert (list(np.atleast_1d(got)), list(np.atleast_1d(got.ref)), got.phys) == (values, xs, "Voltage"), key
        assert v[-1].is_scalar and not v[1:2].is_scalar
        with pytest.raises(IndexError, match="out of range"):
            v[4]
        with pytest.raises(TypeError, match="indices"):
            v[1.5]
        # A reference shared by equal runs follows each element.
        r = cvfunc.Vector([1.0, 2.0, 3.0, 4.0], ref=[5.0, 6.0], divisions=[2, 2])
        assert list(r[1:3].ref) == [6.0, 5.0]
        assert cvfunc.Vector(["a", "b", "c"])[1] == "b" and cvfunc.Vector(["a", "b", "c"])[1:].values == ["b", "c"]

    def test_operators_follow_the_library_rules_for_physical_types(self):
        v = cvfunc.Vector([1.0, 2.0], ref=[0.0, 1.0], phys="Voltage", ref_phys="Time")
        i = cvfunc.Vector([2.0, 4.0], phys="Current")
        table = [(v * i, [2.0, 8.0], "Power"), (v / i, [0.5, 0.5], "Resistance"), (v + 1, [2.0, 3.0], "Voltage"),
                 (1 - v, [0.0, -1.0], "Voltage"), (2 ** v, [2.0, 4.0], "Unknown"), (-v, [-1.0, -2.0], "Voltage"),
                 (v > 1.5, [0.0, 1.0], ""), (v == [1, 5], [1.0, 0.0], ""), (np.float64(3) * v, [3.0, 6.0], "Voltage"),
                 (np.array([1.0, 1.0]) + v, [2.0, 3.0], "Voltage")]
        for got, values, phys in table:
            assert (list(np.asarray(got, dtype=float)), got.phys) == (values, phys)
        assert list((v + 1).ref) == [0.0, 1.0]
        assert (v == None) is False  # noqa: E711 - the comparison with None is the point
        with pytest.raises(TypeError):
            v + {}

    def test_numpy_functions(self):
        v = cvfunc.Vector([-1.0, 0.5], ref=[0.0, 1.0], phys="Voltage", ref_phys="Time")
        s, a = np.sin(v), np.abs(v)
        assert (s.phys, list(s.ref)) == ("", [0.0, 1.0]) and np.allclose(s, np.sin([-1.0, 0.5]), rtol=1e-7, atol=0)
        assert (a.phys, list(a), list(a.ref)) == ("Voltage", [1.0, 0.5], [0.0, 1.0])
        # Reductions, binary functions without an operator and out= give plain numpy results.
        assert np.sum(v) == -0.5 and v.max() == 0.5 and np.mean(v) == -0.25
        m, out = np.maximum(v, 0), np.empty(2)
        np.multiply(v, 2, out=out)
        assert (type(m), list(m), list(out)) == (np.ndarray, [0.0, 0.5], [-2.0, 1.0])
        z = cvfunc.Vector([1 + 1j, 2 - 1j], ref=[0.0, 1.0], phys="Voltage")
        assert list(z.real) == [1.0, 2.0] and list(z.imag.ref) == [0.0, 1.0] and np.abs(z).phys == "Voltage"
        assert np.isnan(np.sqrt(cvfunc.Vector([-1.0]))).all()

    def test_spectrum_frequencies_are_real(self):
        t = np.arange(1024) * 1e-6
        f = cvfunc.fft(cvfunc.Vector(np.sin(2 * np.pi * 5e3 * t), ref=t, ref_phys="Time"))
        assert f.ref.dtype == np.float64 and f.ref_phys == "Frequency"
        assert f.ref[np.argmax(np.abs(f))] == pytest.approx(5e3, rel=0.2)


# Keywords by the reference's names, skipped positions and mistakes: test_reference.py.
class TestZeroCopy:
    def test_a_vector_shares_an_array_that_owns_its_memory_and_keeps_it_alive(self):
        x = np.arange(1000.0)
        alive = weakref.ref(x)
        v = cvfunc.Vector(x)
        assert np.shares_memory(np.asarray(v), x) and not x.flags.writeable
        with pytest.raises(ValueError, match="read-only"):
            x[0] = 5
        del x
        gc.collect()
        assert alive() is not None and np.asarray(v)[999] == 999
        del v
        gc.collect()
        assert alive() is None
        # Nor a hidden copy: 20 copies of 32 MB would show in the resident size.
        x = np.random.default_rng(0).standard_normal(4_000_000)
        before = rss_bytes()
        vectors = [cvfunc.Vector(x) for _ in range(20)]
        assert rss_bytes() - before < 4 << 20
        del vectors

    def test_what_cannot_be_kept_unchanged_is_copied(self):
        for source in (np.arange(10.0)[2:], np.arange(10.0)[::2], np.arange(10, dtype=np.float32)):
            v = cvfunc.Vector(source)
            assert not np.shares_memory(np.asarray(v), source) and source.flags.writeable
        y = np.arange(5.0)
        v = cvfunc.Vector(y, copy=True)
        y[0] = 7  # still the caller's to change
        assert np.asarray(v)[0] == 0
        # Vectors made from a vector's own values share them.
        v = cvfunc.Vector(np.arange(100.0))
        assert np.shares_memory(np.asarray(cvfunc.Vector(v.values[10:])), np.asarray(v))

    def test_call_arguments_are_lent_and_results_cut_loose(self):
        x = np.arange(5000.0)
        r = cvfunc.StripRef(x)  # passes its argument's values through
        assert x.flags.writeable and not np.shares_memory(np.asarray(r), x)
        x[0] = 99.0
        assert float(r[0]) == 0.0
        np.testing.assert_array_equal(cvfunc._Plus(x, x)[:2], [198.0, 2.0])
