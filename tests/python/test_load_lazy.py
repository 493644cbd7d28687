"""cvfunc.load reads a raw or CSV file's vectors when they are first asked
for: the Data dict reads an entry on access, keeps it, and raises
cvfunc.Error for a vector whose file changed or whose values are damaged."""
import numpy as np
import pytest

import cvfunc
from rawfiles import write_raw


def test_entries_are_read_on_access_and_kept(tmp_path):
    path = tmp_path / "runs.raw"
    maxima = write_raw(path, [(1.0, 3e6), (2.0, 5e6)])
    d = cvfunc.load(path)
    assert list(d) == ["time", "out"]
    out = d["out"]
    assert d["out"] is out and d.get("out") is out
    assert np.allclose(cvfunc.eval("Maximum(out)"), maxima)
    assert np.allclose(cvfunc.Maximum(out), maxima)
    # Every way of reading the dict gives Vectors.
    assert all(isinstance(v, cvfunc.Vector) for v in d.values())
    assert all(isinstance(v, cvfunc.Vector) for v in dict(d).values())
    assert [k for k, _ in d.items()] == ["time", "out"] and d.copy()["time"] is d["time"]
    assert len(d.to_pandas()) == 2 * 200


def test_a_damaged_column_or_a_changed_file_raises_cvfunc_error_when_used(tmp_path):
    # Which reads fail, and with which messages, is the loaders' tests' concern; here, that the dict and
    # eval() raise it as cvfunc.Error and the rest of the file stays usable.
    path = tmp_path / "table.csv"
    path.write_text("time,a,b\n" + "".join("%d,%d,%s\n" % (i, i, "oops" if i == 899 else i) for i in range(1000)))
    d = cvfunc.load(path)
    with pytest.raises(cvfunc.Error, match="line 901: 'oops' in column 'b' is not a number"):
        d["b"]
    assert float(cvfunc.eval("Maximum(a)")) == 999
    path.write_text("time,a,b\n0,1,2\n")
    with pytest.raises(cvfunc.Error, match="the file changed on disk after it was loaded"):
        cvfunc.eval("b")
