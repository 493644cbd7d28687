import concurrent.futures
import gc
import os
import subprocess
import sys

import numpy as np
import pytest

import cvfunc

# Result kinds as functions declare them (PythonReturnType).
PY_VECTOR, PY_BOOL, PY_BOOL_VECTOR, PY_INTEGER, PY_INTEGER_VECTOR = 0, 1, 3, 5, 6
PY_REAL, PY_REAL_VECTOR, PY_STRING, PY_STRING_LIST, PY_NONE = 7, 9, 10, 12, 16

remove_items = cvfunc._TestRemoveItems


def run_python(code, env=None):
    package_dir = os.path.dirname(os.path.dirname(cvfunc.__file__))
    path = os.pathsep.join(p for p in (package_dir, os.environ.get("PYTHONPATH")) if p)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env={**os.environ, "PYTHONPATH": path, **(env or {})}, timeout=60)


class TestCalling:
    def test_attribute_call_by_name_listing_and_dir_agree(self):
        for got in (remove_items([10, 20, 30, 40], [2, 0]), cvfunc.call("_TestRemoveItems", [10, 20, 30, 40], [2, 0]),
                    cvfunc._testremoveitems((10, 20, 30, 40), (2, 0))):
            np.testing.assert_array_equal(got, [20.0, 40.0])
        assert {row[0]: row[1:] for row in cvfunc.functions()}["_TestRemoveItems"] == (2, 2, "real-vector")
        assert "_TestAccessViolation" in dir(cvfunc) and "Vector" in dir(cvfunc)
        assert remove_items.__name__ == "_TestRemoveItems" and remove_items.__doc__.startswith("_TestRemoveItems(values, positions)")

    @pytest.mark.parametrize("values", [
        np.array([1.0, 2.0, 3.0, 4.0]),
        np.array([1, 2, 3, 4], dtype=np.int32),
        np.array([1, 2, 3, 4], dtype=np.float32),
        np.array([1.0, 9.0, 2.0, 9.0, 3.0, 9.0, 4.0])[::2],       # not contiguous
        np.array([1.0, 2.0, 3.0, 4.0]).astype(">f8"),              # not native byte order
        [1, 2.0, True + 2, np.float64(4)],
        cvfunc.Vector([1, 2, 3, 4]),
    ], ids=["float64", "int32", "float32", "strided", "big-endian", "list", "vector"])
    def test_argument_forms(self, values):
        np.testing.assert_array_equal(remove_items(values, np.int64(1)), [1.0, 3.0, 4.0])

    def test_results_are_read_only_float_vectors_of_any_length_that_outlive_their_vector(self):
        out = remove_items([1, 2, 3], [])
        assert out.dtype == np.float64 and not np.asarray(out).flags.writeable
        with pytest.raises(TypeError):
            out[0] = 5
        assert remove_items([], []).shape == (0,)
        # Positions out of range or repeated are passed over.
        np.testing.assert_array_equal(remove_items([1, 2, 3], [2, 2, -1, 7, 1e300, float("nan")]), [1.0, 2.0])
        x = np.random.default_rng(1).standard_normal(1_000_000)
        view = np.asarray(remove_items(x, [0]))
        gc.collect()
        np.testing.assert_array_equal(view, x[1:])

    def test_calls_from_several_threads(self):
        x = np.arange(200_000, dtype=float)
        work = lambda k: all(np.array_equal(remove_items(x, [k]), np.delete(x, k)) for _ in range(5))  # noqa: E731
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            assert all(pool.map(work, range(4)))


class TestErrors:
    def test_host_messages_become_errors(self):
        # The messages themselves: the C++ calling tests.
        for args, message in [(([1, 2],), "Function '_TestRemoveItems' takes 2 arguments, 1 given"),
                              (([1.0], "zero"), "Argument 2 in function '_TestRemoveItems' must be numeric, not a string"),
                              ((None, [0]), "Argument 1 in function '_TestRemoveItems' has no value")]:
            with pytest.raises(cvfunc.Error) as e:
                remove_items(*args)
            assert str(e.value) == message

    def test_access_violation_is_an_error_and_the_interpreter_goes_on(self):
        for _ in range(2):
            with pytest.raises(cvfunc.Error, match=r"^Access violation in function '_TestAccessViolation'$"):
                cvfunc._TestAccessViolation()
        np.testing.assert_array_equal(remove_items([1, 2], [0]), [2.0])

    def test_unknown_functions(self):
        for name in ("NoSuchFunction", "__no_such_dunder__"):
            with pytest.raises(AttributeError, match=name):
                getattr(cvfunc, name)
        with pytest.raises(cvfunc.Error, match=r"^Unknown function 'NoSuchFunction'$"):
            cvfunc.call("NoSuchFunction", 1)

    @pytest.mark.parametrize("arg, error, text", [
        ({"a": 1}, TypeError, "dict"), ({1, 2}, TypeError, "set"), (b"abc", TypeError, "bytes"),
        (np.zeros((2, 2)), ValueError, "one-dimensional"), ([1, "a"], TypeError, "cannot mix strings and numbers"),
        ([1, None], TypeError, "NoneType"), ([[1, 2], [3]], TypeError, "list"), (object(), TypeError, "object"),
        (np.array(["2024-01-01"], dtype="datetime64[D]"), TypeError, "datetime64"),
    ])
    def test_python_objects_that_cannot_be_arguments(self, arg, error, text):
        with pytest.raises(error, match=text) as e:
            remove_items(arg, [0])
        assert "Argument 1 in function '_TestRemoveItems'" in str(e.value)

    def test_integers_too_large_for_a_double(self):
        with pytest.raises(OverflowError):
            remove_items([10 ** 400], [0])


class TestVector:
    def test_round_trip_of_everything(self):
        v = cvfunc.Vector([1, 2, 3, 4, 5], ref=[0, 1, 0, 1, 2], divisions=[2, 3], phys="voltage",
                          ref_phys="s", name="out", labels=["R=1k", "R=2k"])
        assert (list(v), list(v.ref), v.division_lengths, v.phys, v.ref_phys, v.name, v.labels, v.kind) == \
            ([1, 2, 3, 4, 5], [0, 1, 0, 1, 2], [2, 3], "Voltage", "Time", "out", ["R=1k", "R=2k"], "real")
        d = v.division(-1)
        assert (list(d), list(d.ref), d.division_lengths, d.labels, d.phys) == ([3, 4, 5], [0, 1, 2], [3], ["R=2k"], "Voltage")
        # A shared reference serves divisions of one length.
        np.testing.assert_array_equal(cvfunc.Vector([1, 2, 3, 4], ref=[0, 1], divisions=[2, 2]).division(1).ref, [0, 1])

    @pytest.mark.parametrize("values, kind", [
        ([1, 2.5], "real"), ([True, False], "real"), (np.array([1 + 2j, 3]), "complex"),
        ([1, 2j], "complex"), (["a", "b"], "string"), ("text", "string"), (3, "real"), ([], "real"),
    ])
    def test_kinds(self, values, kind):
        assert cvfunc.Vector(values).kind == kind

    def test_strings_complex_values_none_and_bad_division_index(self):
        s = cvfunc.Vector(np.array(["x", "yz"]))
        assert s.values == ["x", "yz"] and np.asarray(s).dtype == object
        z = cvfunc.Vector([1 + 2j, 3], ref=[1.0, 2.0])
        np.testing.assert_array_equal(np.asarray(z), [1 + 2j, 3 + 0j])
        assert cvfunc.Vector([1.0], ref=[1j]).ref.dtype == np.complex128
        with pytest.raises(TypeError, match="None"):
            cvfunc.Vector(None)
        with pytest.raises(IndexError):
            cvfunc.Vector([1, 2]).division(1)

    def test_physical_types_by_name_unit_and_code_and_copies_keep_metadata(self):
        assert [cvfunc.Vector([1], phys=given).phys for given in ("Voltage", "voltage", "V", 2, "")] == ["Voltage"] * 4 + [""]
        v = cvfunc.Vector([1, 2, 3, 4], ref=[5, 6, 7, 8], phys="V", ref_phys="Time", name="w")
        w = cvfunc.Vector(v, divisions=[1, 3])
        assert (w.division_lengths, w.phys, w.ref_phys, w.name) == ([1, 3], "Voltage", "Time", "w")
        np.testing.assert_array_equal(w.division(1).ref, [6, 7, 8])
        assert cvfunc.Vector(v, name="x").name == "x" and v.name == "w"
        u = cvfunc.Vector([1, 2, 3, 4], ref=cvfunc.Vector([0, 1, 2, 3], phys="Time", name="t"))
        assert (u.ref_phys, u.ref_name) == ("Time", "t")

    @pytest.mark.parametrize("kwargs, error, text", [
        (dict(divisions=[2, 2]), ValueError, "add up to 4, but there are 3"),
        (dict(divisions=[4, -1]), ValueError, "negative"), (dict(divisions=[1.5, 1.5]), TypeError, "int"),
        (dict(ref=[1, 2]), ValueError, "ref has 2 values, but values has 3"),
        (dict(ref=["a", "b", "c"]), TypeError, "numeric"), (dict(phys=99), ValueError, "code 99"),
        (dict(phys="furlongs"), ValueError, "unknown physical type 'furlongs'"),
        (dict(ref_phys="Time"), ValueError, "ref_phys needs a ref"),
        (dict(labels=["a", "b"]), ValueError, "2 labels for 1 division"), (dict(name=3), TypeError, "name"),
    ])
    def test_invalid_construction(self, kwargs, error, text):
        with pytest.raises(error, match=text):
            cvfunc.Vector([1, 2, 3], **kwargs)

    def test_repr_names_what_is_set_and_bound_vectors_keep_it(self):
        text = repr(cvfunc.Vector(np.arange(100.0), ref=np.arange(100.0), phys="V", name="out"))
        assert text.startswith("Vector([") and "..." in text and "phys='Voltage'" in text and "name='out'" in text
        assert "\n" not in text
        cvfunc.bind("vec_arg", cvfunc.Vector([1.0, 2.0], ref=[0.0, 1.0], phys="Current"))
        v = cvfunc.lookup("vec_arg")
        assert (v.phys, v.name, list(v.ref)) == ("Current", "vec_arg", [0.0, 1.0])


def test_results_map_by_their_declared_kind():
    m = cvfunc._cvfunc._map_result
    # One number is a vector seen as a scalar, whatever kind of number was declared.
    for value, declared, expected in [([2.0], PY_BOOL, True), ([0.0], PY_BOOL, False), ([3.0], PY_INTEGER, 3),
                                      ([2.5], PY_INTEGER, 2.5), ([1.5], PY_REAL, 1.5), ([1 + 2j], PY_REAL, 1 + 2j)]:
        got = m(value, declared)
        assert isinstance(got, cvfunc.Vector) and got.is_scalar, (value, declared)
        assert (bool(got) if declared == PY_BOOL else got) == expected, (value, declared)
    assert m(["a"], PY_STRING) == "a" and m(["a"], PY_STRING_LIST) == ["a"] and m(["a", "b"], PY_STRING) == ["a", "b"]
    assert isinstance(m(cvfunc.Vector(["a", "b"], divisions=[1, 1]), PY_STRING_LIST), cvfunc.Vector)  # runs kept
    # Two values stay a vector whatever was declared, an unknown kind too.
    for declared in (PY_VECTOR, PY_REAL_VECTOR, PY_INTEGER_VECTOR, PY_BOOL_VECTOR, PY_STRING, PY_REAL, 1234):
        got = m([1.0, 2.0], declared)
        assert isinstance(got, cvfunc.Vector) and not got.is_scalar and got.shape == (2,), declared
    assert m([1 + 1j], PY_REAL_VECTOR).dtype == np.complex128 and m(["x"], PY_REAL_VECTOR) == ["x"]
    assert all(m(None, d) is None for d in (PY_BOOL, PY_INTEGER, PY_REAL, PY_STRING, PY_VECTOR, PY_NONE))
    assert m([], PY_INTEGER).shape == (0,) and np.isnan(m([float("nan")], PY_INTEGER))


class TestLanguage:
    def test_eval_returns_the_last_value_that_is_not_an_assignment_and_sees_bound_values(self):
        out = cvfunc.eval("x_ev = [10, 20, 30]\n_TestRemoveItems(x_ev, 1)")
        np.testing.assert_array_equal(out, [10.0, 30.0])
        assert cvfunc.eval("3; 'text'") == "text"
        assert cvfunc.eval("y_ev = 2") is None and cvfunc.lookup("Y_EV").name == "y_ev"
        with pytest.raises(cvfunc.Error, match="^Unknown name 'no_such_name'$"):
            cvfunc.eval("no_such_name")
        cvfunc.bind("from_numpy", np.array([1.0, 2.0, 3.0]))
        np.testing.assert_array_equal(cvfunc.eval("_TestRemoveItems(from_numpy, 0)"), [2.0, 3.0])
        assert cvfunc.lookup("no_such_vector") is None
        with pytest.raises(TypeError):
            cvfunc.bind("nothing", None)


class TestLoad:
    def test_a_loaded_file_binds_its_vectors_for_eval(self, tmp_path):
        # What the loaders read and under which names: the C++ loader and session tests.
        path = tmp_path / "run.csv"
        path.write_text("time,out\n0,0\n1u,0.5\n2u,1\n")
        data = cvfunc.load(path)
        assert list(data) == ["time", "out"]
        np.testing.assert_allclose(data["out"].ref, [0, 1e-6, 2e-6])
        np.testing.assert_array_equal(cvfunc.eval("out"), data["out"])

    def test_skipped_plots_warn_and_unreadable_files_fail(self, tmp_path, data_file):
        with pytest.warns(cvfunc.Warning, match="skipped plot"):
            cvfunc.load(data_file("mixed.raw"))
        with pytest.raises(cvfunc.Error, match="missing.csv"):
            cvfunc.load(tmp_path / "missing.csv")
        # Values are read when first used: a damaged one fails its vector then.
        data = cvfunc.load(data_file("bad_number.csv"))
        with pytest.raises(cvfunc.Error, match="bad_number.csv"):
            list(data.values())


def test_options_set_get_reset_unknown_and_invalid():
    for value, text in ((2048, "2048"), (0.5, "0.5"), (True, "1"), ("64", "64")):
        cvfunc.set_option("MCNumberOfBins", value)
        assert cvfunc.get_option("mcnumberofbins") == text
    cvfunc.set_option("MCNumberOfBins", None)  # back to its default
    assert (cvfunc.get_option("MCNumberOfBins"), cvfunc.get_option("NoSuchOption")) == ("0", None)
    with pytest.raises(TypeError):
        cvfunc.set_option("MCNumberOfBins", [1])
    # An option kept for a graphical host is set, and a warning says nothing here reads it.
    with pytest.warns(cvfunc.Warning, match="no function here reads the option 'InterpPts'"):
        cvfunc.set_option("InterpPts", 64)
    assert cvfunc.get_option("InterpPts") == "64"
    cvfunc.set_option("InterpPts", None)


class TestSession:
    def test_post_cli_fires_after_every_call_failed_or_not(self):
        before = cvfunc._cvfunc._event_counts()["PostCli"]
        remove_items([1], [0])
        with pytest.raises(cvfunc.Error):
            remove_items([1])
        cvfunc.eval("1")
        assert cvfunc._cvfunc._event_counts()["PostCli"] == before + 3

    def test_exit_events_fire_once_at_interpreter_exit(self):
        # Registered before the import, so it runs after the package's own exit handler.
        code = ("import atexit\n"
                "def check():\n"
                "    from cvfunc import _cvfunc\n"
                "    c = _cvfunc._event_counts()\n"
                "    print(c['ExitCli'], c['Exit'])\n"
                "atexit.register(check)\n"
                "import cvfunc\n"
                "assert cvfunc._cvfunc._event_counts()['Exit'] == 0\n")
        r = run_python(code)
        assert r.returncode == 0, r.stderr
        assert r.stdout.split() == ["1", "1"]

    def test_module_path_override(self, tmp_path):
        r = run_python("import cvfunc", env={"CVFUNC_MODULE": str(tmp_path / "nothing.so")})
        assert r.returncode != 0 and "ImportError" in r.stderr and "nothing.so" in r.stderr
