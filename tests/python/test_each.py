"""cvfunc --each: the table over many files holds what the tool gives for
each file alone, keeps the order of the files, and reports a bad file in
its own row while the others go on."""
import csv
import io
import json
import os
import subprocess

import pytest

from rawfiles import make_set, write_raw

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
TOOL = os.path.abspath(os.path.join(BUILD, "cvfunc"))
STATEMENTS = ["Maximum(out)", "Minimum(out)", "Mean(Maximum(out))"]


def run_tool(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, stdin=subprocess.DEVNULL)


def one_file(path):
    """The same statements on the file alone, through the tool's JSON:
    {run: [values]}; a lone number stands for every run."""
    args = ["--load", str(path), "--format", "json"]
    for s in STATEMENTS:
        args += ["-e", s]
    r = run_tool(*args)
    assert r.returncode == 0, r.stderr
    objs = [json.loads(line) for line in r.stdout.splitlines()]
    per_run = next((o for o in objs if len(o["values"]) > 1), None)
    runs = [f"{x:g}" for x in per_run["ref"]] if per_run else [""]
    return {run: [o["values"][0 if len(o["values"]) == 1 else i] for o in objs] for i, run in enumerate(runs)}


@pytest.fixture
def fifty(sandbox):
    """50 raw files of one to three runs each, and one that is not a raw file."""
    (sandbox / "runs").mkdir()
    paths = []
    for runs in (1, 2, 3):
        p, _ = make_set(sandbox / "runs", 17 if runs < 3 else 16, runs_per_file=runs, seed=runs)
        for i, old in enumerate(p):
            new = old.with_name(f"r{runs}_{i:02d}.raw")
            old.rename(new)
            paths.append(new)
    return sorted(paths)


def each(*args):
    cmd = []
    for s in STATEMENTS:
        cmd += ["-e", s]
    return run_tool("--each", *args, *cmd)


def test_fifty_files_equal_their_one_file_results(fifty, sandbox):
    assert len(fifty) == 50
    r = each("runs/*.raw", "--jobs", "2")
    assert r.returncode == 0, r.stderr
    rows = list(csv.reader(io.StringIO(r.stdout)))
    assert rows[0] == ["file", "run", *STATEMENTS, "error"]
    # Rows come in the order of the files, a row per run.
    files = [row[0] for row in rows[1:]]
    assert list(dict.fromkeys(files)) == [f"runs/{p.name}" for p in fifty]
    for path in fifty:
        mine = {row[1]: [float(x) for x in row[2:-1]] for row in rows[1:] if row[0] == f"runs/{path.name}"}
        assert mine == one_file(path), path.name
        assert all(row[-1] == "" for row in rows[1:])

    # JSON holds the same table, numbers as numbers.
    j = json.loads(each("runs/*.raw", "--format", "json").stdout)
    assert [(o["file"], o["run"] or "") for o in j] == [(row[0], row[1]) for row in rows[1:]]
    assert [o["Maximum(out)"] for o in j] == [float(row[2]) for row in rows[1:]]


def test_a_bad_file_fails_alone(sandbox):
    (sandbox / "a.raw").write_bytes(b"Title: broken\nNo. Variables: x\n")
    write_raw(sandbox / "b.raw", [(1.0, 3e6)])
    # A raw file without v(out): the statement fails there, and only there.
    (sandbox / "c.raw").write_bytes((sandbox / "b.raw").read_bytes().replace(b"v(out)", b"v(xyz)"))
    r = each("a.raw", "b.raw", "c.raw", "missing.raw")
    assert r.returncode == 1
    rows = list(csv.reader(io.StringIO(r.stdout)))
    assert [row[0] for row in rows[1:]] == ["a.raw", "b.raw", "c.raw", "missing.raw"]
    errors = {row[0]: row[-1] for row in rows[1:]}
    assert errors["b.raw"] == "" and float(rows[2][2]) == one_file(sandbox / "b.raw")[""][0]
    assert errors["a.raw"] and "missing.raw" in errors["missing.raw"]
    assert "Unknown name 'out'" in errors["c.raw"]


def test_statements_that_give_no_number_per_run(sandbox):
    write_raw(sandbox / "two.raw", [(1.0, 3e6), (2.0, 4e6)])
    r = run_tool("--each", "two.raw", "-e", "Maximum(out)", "-e", "out", "-e", "'text'", "-e", "n = 2",
                 "-e", "Maximum(out) * n")
    assert r.returncode == 1
    rows = list(csv.reader(io.StringIO(r.stdout)))
    assert rows[0] == ["file", "run", "Maximum(out)", "out", "'text'", "Maximum(out) * n", "error"]
    assert [row[1] for row in rows[1:]] == ["1", "2"]
    for row in rows[1:]:
        assert float(row[5]) == 2 * float(row[2]) and row[3] == row[4] == ""
        assert "'out' gives 400 values" in row[-1] and "'text'' gives text" in row[-1]


@pytest.mark.parametrize("args,message", [
    (["--each", "x.raw"], "needs the statements"),
    (["--each", "x.raw", "-e", "1", "--format", "text"], "csv or json"),
    (["--each", "x.raw", "-e", "1", "--plot", "a.png"], "--plot"),
    (["--each", "x.raw", "-e", "1", "--jobs", "0"], "--jobs"),
    (["-e", "1", "--jobs", "2"], "--jobs goes with --each"),
])
def test_usage(sandbox, args, message):
    r = run_tool(*args)
    assert r.returncode == 2 and message in r.stderr
