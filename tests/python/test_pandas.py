"""Runs as a 2-D array, as pandas tables and as plots."""
import numpy as np
import pytest

import cvfunc

pd = pytest.importorskip("pandas")


def stepped(lengths=(3, 3)):
    n = sum(lengths)
    t = np.concatenate([np.arange(k) * 1e-6 for k in lengths])
    return cvfunc.Vector(np.arange(n, dtype=float), ref=t, divisions=list(lengths), phys="Voltage",
                         ref_phys="Time", name="out", labels=[f"R={k}k" for k in range(1, len(lengths) + 1)])


class TestRuns:
    def test_divisions_labels_and_runs(self):
        v = stepped()
        d = v.divisions
        assert (len(d), d.labels, d.lengths) == (2, ["R=1k", "R=2k"], [3, 3])
        assert [list(run) for run in d] == [[0, 1, 2], [3, 4, 5]] and list(d[-1].ref) == [0, 1e-6, 2e-6]
        assert [label for label, _ in d.items()] == ["R=1k", "R=2k"]
        r = v.runs()
        assert r.shape == (2, 3) and np.shares_memory(r, np.asarray(v)) and list(r[1]) == [3, 4, 5]
        assert cvfunc.Vector([1.0, 2.0]).divisions.labels == ["0"]

    def test_runs_of_different_lengths_make_no_array(self):
        with pytest.raises(ValueError, match="different lengths \\(2 to 3 points\\)"):
            stepped((3, 2)).runs()


class TestPandas:
    def test_a_vector_in_long_format(self):
        df = stepped((3, 2)).to_pandas()
        assert list(df.columns) == ["run", "time", "out"] and len(df) == 5
        assert list(df["run"]) == ["R=1k"] * 3 + ["R=2k"] * 2
        assert list(df["out"]) == [0, 1, 2, 3, 4] and df["time"].iloc[4] == 1e-6
        assert df.attrs["units"] == {"time": "s", "out": "V"} and df.attrs["phys"]["out"] == "Voltage"
        plain = cvfunc.Vector([1.0, 2.0]).to_pandas()
        assert list(plain.columns) == ["run", "value"] and list(plain["run"]) == ["0", "0"]

    def test_a_whole_file(self, tmp_path, data_file):
        path = tmp_path / "run.csv"
        path.write_text("time,in,out\n0,1,0\n1u,1,0.5\n2u,1,1\n")
        df = cvfunc.load(path).to_pandas()
        assert list(df.columns) == ["run", "time", "in", "out"] and list(df["out"]) == [0, 0.5, 1]
        out = cvfunc.load(data_file("divisions.csv"))
        df = out.to_pandas()
        assert len(df) == sum(out["out"].division_lengths) and df["run"].nunique() == 3
        assert df.groupby("run", sort=False)["out"].size().tolist() == out["out"].division_lengths


class TestPlot:
    def test_one_line_per_run_with_labelled_axes_and_a_drawn_png(self, tmp_path):
        matplotlib = pytest.importorskip("matplotlib")
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        ax = stepped().plot()
        assert len(ax.get_lines()) == 2
        assert (ax.get_xlabel(), ax.get_ylabel()) == ("Time (s)", "Voltage (V)")
        path = tmp_path / "runs.png"
        ax.figure.savefig(path)
        plt.close(ax.figure)
        image = plt.imread(path)
        # Not blank: many pixels differ from the background.
        assert (np.abs(image[..., :3] - image[0, 0, :3]).sum(axis=-1) > 0.1).mean() > 0.01

    def test_without_matplotlib_the_error_says_what_to_install(self, monkeypatch):
        import builtins
        real_import = builtins.__import__

        def no_matplotlib(name, *args, **kwargs):
            if name.startswith("matplotlib"):
                raise ImportError("No module named 'matplotlib'")
            return real_import(name, *args, **kwargs)

        monkeypatch.setattr(builtins, "__import__", no_matplotlib)
        with pytest.raises(ImportError, match="python3-matplotlib"):
            stepped().plot()
