"""The function reference from Python: docstrings, signatures and keyword
arguments by the names the reference gives."""
import inspect

import numpy as np
import pytest

import cvfunc


def test_docstring_and_signature_come_from_the_reference():
    sig = inspect.signature(cvfunc.Mid)
    assert list(sig.parameters) == ["text", "start", "length"]
    assert sig.parameters["start"].default is inspect.Parameter.empty
    assert sig.parameters["length"].default is None          # a default given by a rule
    assert inspect.signature(cvfunc.StrStr).parameters["offset"].default == 0
    rest = inspect.signature(cvfunc.SprintfNumber).parameters["values"]
    assert rest.kind is inspect.Parameter.VAR_POSITIONAL
    assert cvfunc.Mid.__doc__.startswith("Mid(text, start, length=?)\n\nA substring")
    assert "> Mid('abcdef', 2, 2)\n  cd" in cvfunc.Mid.__doc__


@pytest.mark.parametrize("call, expected", [
    (lambda: cvfunc.Mid("abcdef", start=2, length=2), "cd"),
    (lambda: cvfunc.Mid(text="abcdef", start=2), "cdef"),
    (lambda: cvfunc.Mid("abcdef", 2, length=None), "cdef"),                # None: not given
    (lambda: cvfunc.Mid("abcdef", 2, None), "cdef"),                       # by position too
    (lambda: cvfunc.Search(["a", "b", "b"], ["b", "x"], options="count"), 1),
    (lambda: cvfunc.SprintfNumber("%g-%g", 1, 2), "1-2"),
])
def test_keywords_are_placed_at_their_positions(call, expected):
    assert call() == expected


def test_skipped_optional_arguments_read_as_not_given():
    # separator skipped: ';' as when it is left out; minimum given by keyword.
    assert cvfunc.Scan("a;b", minimum=3) == ["a", "b", ""]
    assert cvfunc.ParseParameterString("10k R=5", "R", ["read", "1"], options=None) == ["5"]


@pytest.mark.parametrize("call, message", [
    (lambda: cvfunc.Mid("abc", 1, size=1), "unexpected keyword argument 'size'"),
    (lambda: cvfunc.Mid("abc", 1, start=1), "multiple values for argument 'start'"),
    (lambda: cvfunc.Mid("abc", length=1), "missing required argument 'start'"),
    (lambda: cvfunc.SprintfNumber("%g", values=1), "unexpected keyword argument 'values'"),
])
def test_keyword_mistakes_are_type_errors(call, message):
    with pytest.raises(TypeError, match=message):
        call()


def test_a_function_without_an_entry_takes_its_arguments_by_position_only():
    # Every function of the module has an entry; one a plug-in registers
    # later may not, and is wrapped without argument names.
    f = cvfunc._script_function("_TestRemoveItems", "registration text", None)
    assert f.__doc__ == "registration text" and list(inspect.signature(f).parameters) == ["args"]
    np.testing.assert_array_equal(f([10.0, 20.0], [0]), [20.0])
    with pytest.raises(TypeError, match="by position only"):
        f(cvfunc.Vector([0.0, 1.0]), items=[0])


def test_waveform_keywords_skip_to_later_arguments():
    w = cvfunc.Vector([0.0, 2.0, 0.0, 2.0], ref=[0.0, 1.0, 2.0, 3.0])
    assert inspect.signature(cvfunc.XFromY).parameters["order"].default is None
    np.testing.assert_allclose(cvfunc.XFromY(w, 1, order=1, direction=-1), [1.5])
    np.testing.assert_allclose(cvfunc.XFromY(w, 1, direction=-1), cvfunc.XFromY(w, 1, 2, -1))
