"""The Dask example (examples/dask/measure.py) on a LocalCluster of two
worker processes: the gathered table equals what cvfunc gives per file."""
import importlib
import os
import subprocess
import sys

import pytest

from rawfiles import make_set
from test_each import STATEMENTS, TOOL, one_file  # the tool's own answer for one file

distributed = pytest.importorskip("distributed")
pd = pytest.importorskip("pandas")

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "dask", "measure.py")


def load_example():
    folder = os.path.dirname(os.path.abspath(EXAMPLE))
    if folder not in sys.path:
        sys.path.insert(0, folder)
    return importlib.import_module("measure")


def test_local_cluster_of_two_workers(sandbox):
    measure = load_example()
    paths = []
    for runs in (1, 3):
        (sandbox / f"set{runs}").mkdir()
        p, _ = make_set(sandbox / f"set{runs}", 15, runs_per_file=runs, seed=runs)
        paths += p
    (sandbox / "bad.raw").write_bytes(b"not a raw file\n")
    paths.append(sandbox / "bad.raw")

    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    try:
        with distributed.Client(cluster) as client:
            assert len(client.scheduler_info()["workers"]) == 2
            table = measure.measure_files(client, paths, STATEMENTS, batch=4, tool=TOOL)
    finally:
        cluster.close()

    assert list(table.columns) == ["file", "run", *STATEMENTS, "error"]
    assert list(dict.fromkeys(table["file"])) == [str(p) for p in paths]
    good = table[table["file"] != str(paths[-1])]
    assert good["error"].isna().all()
    expected = {(str(p), run): values for p in paths[:-1] for run, values in one_file(p).items()}
    got = {(r.file, r.run if isinstance(r.run, str) else ""): list(r[2:2 + len(STATEMENTS)])
           for r in good.itertuples(index=False)}
    assert got == expected
    assert table[table["file"] == str(paths[-1])]["error"].notna().all()


def test_command_line_writes_one_table(sandbox):
    make_set(sandbox, 6, runs_per_file=2)
    r = subprocess.run(["/usr/bin/python3", EXAMPLE, "--workers", "2", "--batch", "2", "--tool", TOOL,
                        "-e", "Maximum(out)", "-o", "t.csv", "run*.raw"], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    table = pd.read_csv(sandbox / "t.csv")
    assert len(table) == 12 and table["file"].nunique() == 6 and table["error"].isna().all()
