"""The Dask example (examples/dask/measure.py) on a LocalCluster of two
worker processes: the gathered table equals what cvfunc gives per file."""
import importlib.util
import json
import os
import subprocess

import pytest

from rawfiles import make_set

distributed = pytest.importorskip("distributed")
pd = pytest.importorskip("pandas")

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
TOOL = os.path.abspath(os.path.join(BUILD, "cvfunc"))
EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "dask", "measure.py")
STATEMENTS = ["Maximum(out)", "Mean(Maximum(out))"]


def load_example():
    spec = importlib.util.spec_from_file_location("dask_measure", EXAMPLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def per_file(path):
    """{(file, run): [values]} from the tool's JSON for the file alone."""
    args = [TOOL, "--load", str(path), "--format", "json"]
    for s in STATEMENTS:
        args += ["-e", s]
    out = subprocess.run(args, capture_output=True, text=True, check=True).stdout
    objs = [json.loads(line) for line in out.splitlines()]
    per_run = next((o for o in objs if len(o["values"]) > 1), None)
    runs = [f"{x:g}" for x in per_run["ref"]] if per_run else [""]
    return {(str(path), run): [o["values"][0 if len(o["values"]) == 1 else i] for o in objs]
            for i, run in enumerate(runs)}


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
    expected = {}
    for p in paths[:-1]:
        expected.update(per_file(p))
    got = {(r.file, r.run if isinstance(r.run, str) else ""): [r[2], r[3]] for r in good.itertuples(index=False)}
    assert got == expected
    assert table[table["file"] == str(paths[-1])]["error"].notna().all()


def test_command_line_writes_one_table(sandbox):
    make_set(sandbox, 6, runs_per_file=2)
    r = subprocess.run(["/usr/bin/python3", EXAMPLE, "--workers", "2", "--batch", "2", "--tool", TOOL,
                        "-e", "Maximum(out)", "-o", "t.csv", "run*.raw"], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    table = pd.read_csv(sandbox / "t.csv")
    assert len(table) == 12 and table["file"].nunique() == 6 and table["error"].isna().all()
