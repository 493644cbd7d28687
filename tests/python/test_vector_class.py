"""Every Vector the package gives is a cvfunc.Vector, whichever path made it."""
import numpy as np
import pytest

import cvfunc


def test_every_result_is_the_package_class(tmp_path):
    csv = tmp_path / "runs.csv"
    csv.write_text("time,out\n0,0\n1,0.5\ntime,out\n0,0\n1,0.7\n")
    data = cvfunc.load(str(csv))
    v = cvfunc.Vector([0.0, 1.0, 2.0, 3.0], ref=[0, 1, 2, 3], divisions=[2, 2])
    made = {
        "call": cvfunc.call("abs", 1.5), "attribute": cvfunc.Maximum(data["out"]),
        "eval": cvfunc.eval("[1, 2]"), "lookup": cvfunc.lookup("out"), "load": data["out"],
        "division": v.division(1), "divisions": v.divisions[0], "operator": v + 1,
        "comparison": v > 1, "mask": v[v > 1], "element": v[0], "ufunc": np.sin(v),
        "real part": v.real, "copy": cvfunc.Vector(v, name="w"),
    }
    for how, x in made.items():
        assert type(x) is cvfunc.Vector, how
    assert cvfunc.Maximum(data["out"]).run_labels == ["1", "2"]


def test_the_class_is_one_and_closed():
    v = cvfunc.Vector([1.0])
    with pytest.raises(AttributeError):
        v.anything = 1
    with pytest.raises(TypeError):
        hash(v)
    with pytest.raises(TypeError):
        cvfunc._cvfunc._use_vector_class(int)
    assert "to_pandas" in cvfunc.Vector.__dict__ and "values" not in cvfunc.Vector.__dict__
    assert cvfunc.Vector.__doc__.startswith("A vector of the host")


def test_results_are_freed_when_dropped_without_the_cycle_collector():
    # Vectors hold no Python object the collector could follow, so the
    # package's class is left out of it (as numpy's arrays are); each result
    # is released by its own dealloc, subclasses by Python's as usual.
    import gc
    import os
    import weakref

    def rss():
        with open(f"/proc/{os.getpid()}/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    class Tagged(cvfunc.Vector):
        __slots__ = ()

    a = cvfunc.Vector(np.arange(1000.0))
    r = cvfunc._Plus(a, a)
    assert not gc.is_tracked(r) and not gc.is_tracked(a)
    gone = weakref.ref(r)
    del r
    assert gone() is None
    t = Tagged([1.0, 2.0])
    assert type(t) is Tagged and list(cvfunc._Plus(t, t)) == [2.0, 4.0]
    gc.disable()
    try:
        before = rss()
        for _ in range(100_000):  # 800 MB if results were kept
            cvfunc._Plus(a, a)
            Tagged(a)
        assert rss() - before < 32 << 20
    finally:
        gc.enable()
