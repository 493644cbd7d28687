"""What the tool prints: a long result is shortened in text and whole in CSV
and JSON; --plot reports the file it wrote instead of printing what it drew;
measurements per run make one CSV table whose runs read as the file wrote
them, whichever way each statement carries its runs."""
import csv
import io
import json
import os
import subprocess

import pytest

from rawfiles import write_raw

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
TOOL = os.path.abspath(os.path.join(BUILD, "cvfunc"))
EXAMPLES = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
TRAN = os.path.join(EXAMPLES, "filter_tran.raw")
MC = os.path.join(EXAMPLES, "filter_mc.raw")      # 20 runs labelled 1 ... 20
STEP = os.path.join(EXAMPLES, "filter_step.raw")  # 5 runs labelled r2=500 ... r2=8k
HINT = "use --format csv or --format json for all)"


def ok(*args, stdin=None):
    """The tool's run, which must succeed."""
    r = subprocess.run([TOOL, *args], capture_output=True, text=True,
                       input=stdin, stdin=None if stdin is not None else subprocess.DEVNULL)
    assert r.returncode == 0, r.stderr
    return r


def csv_rows(text):
    return list(csv.reader(io.StringIO(text)))


def run_labels(data):
    """The runs as the tool's text names them in its division headers."""
    lines = ok("--load", data, "-e", "mean(out)").stdout
    return [line.split(": ", 1)[1] for line in lines.splitlines() if line.startswith("# division")]


# ---------------------------------------------------------------- long values

@pytest.fixture(scope="module")
def big(tmp_path_factory):
    path = tmp_path_factory.mktemp("big") / "big.raw"
    write_raw(path, [(1.0, 5e6)], points=181000)
    return str(path)


def test_a_long_result_shows_its_ends_and_how_to_get_all(big):
    text = ok("--load", big, "-e", "out").stdout.splitlines()
    rows = csv_rows(ok("--load", big, "-e", "out", "--format", "csv").stdout)[1:]
    assert len(rows) == 181000                                   # CSV: every value
    pairs = ["\t".join(r) for r in rows]
    assert text == pairs[:10] + ["..."] + pairs[-10:] + ["(181000 values; " + HINT]
    assert len(json.loads(ok("--load", big, "-e", "out", "--format", "json").stdout)["values"]) == 181000
    # A script on standard input prints through the same rule.
    assert ok("--load", big, stdin="x = out\nx\n").stdout.splitlines() == text


def test_the_shortening_starts_above_a_thousand_values():
    assert ok("-e", "Interp([0, 1], 1000)").stdout.count("\n") == 1000
    text = ok("-e", "Interp([0, 1], 1001)").stdout.splitlines()
    assert len(text) == 22 and text[-1] == "(1001 values; " + HINT


def test_long_runs_keep_their_headers_and_shorten_each_and_their_number():
    labels = run_labels(MC)
    text = ok("--load", MC, "-e", "out").stdout.splitlines()
    headers = [line for line in text if line.startswith("# ")]
    shown = [0, 1, 2, 17, 18, 19]
    assert headers[:3] + headers[4:] == [f"# division {i + 1}: {labels[i]}" for i in shown]
    assert headers[3] == "# ... (divisions 4 to 17 not shown)"
    assert len(text) == len(shown) * 22 + 2                     # header, 10, "...", 10 each
    total = len(csv_rows(ok("--load", MC, "-e", "out", "--format", "csv").stdout)) - 1
    assert text[-1] == f"({total} values in 20 divisions; " + HINT
    # Few runs: every one is shown, each shortened.
    text = ok("--load", STEP, "-e", "out").stdout.splitlines()
    assert sum(line.startswith("# division") for line in text) == 5 and text.count("...") == 5


# ---------------------------------------------------------------------- --plot

def test_plot_prints_only_the_file_it_wrote_unless_asked_for_values(sandbox):
    r = ok("--load", TRAN, "-e", "out", "-e", "in", "--plot", "w.png")
    assert r.stdout == "" and r.stderr == "Wrote w.png (2 panels)\n"
    assert (sandbox / "w.png").stat().st_size > 0
    # What cannot be drawn is still printed: no result is lost.
    r = ok("--load", TRAN, "-e", "out", "-e", "RMS1(out, 410u, 610u)", "--plot", "w.png")
    assert float(r.stdout) > 0 and r.stderr == "Wrote w.png (1 panel)\n"
    # A --format asks for the values too.
    r = ok("--load", TRAN, "-e", "out", "--plot", "w.svg", "--format", "csv")
    assert r.stdout == ok("--load", TRAN, "-e", "out", "--format", "csv").stdout
    assert r.stderr == "Wrote w.svg (1 panel)\n"


# ------------------------------------------------------------ one tidy table

@pytest.mark.parametrize("data", [STEP, MC, os.path.join(os.path.dirname(__file__), "..", "data", "step.raw")])
def test_measurements_per_run_make_one_table_with_the_files_run_labels(data):
    statements = ["Mean1(out)", "mean(out)", "Maximum(out)", "Mean(Mean1(out))"]
    rows = csv_rows(ok("--load", data, "--format", "csv", *(a for s in statements for a in ("-e", s))).stdout)
    labels = run_labels(data)
    assert rows[0] == ["run", *statements] and [r[0] for r in rows[1:]] == labels
    # Each column holds what the statement gives alone; the lone number repeats.
    for k, s in enumerate(statements[:3], start=1):
        alone = json.loads(ok("--load", data, "--format", "json", "-e", s).stdout)
        assert [float(r[k]) for r in rows[1:]] == alone["values"]
        assert alone["runs"] == labels                            # JSON names the runs alike
    mean = json.loads(ok("--load", data, "--format", "json", "-e", statements[3]).stdout)["values"][0]
    assert {float(r[4]) for r in rows[1:]} == {mean}


def test_each_keys_a_collected_statistic_by_the_same_run_labels():
    rows = csv_rows(ok("--each", STEP, "-e", "Mean1(out)", "-e", "mean(out)").stdout)
    assert rows[0] == ["file", "run", "Mean1(out)", "mean(out)", "error"]
    assert [row[1] for row in rows[1:]] == run_labels(STEP) and all(row[4] == "" for row in rows[1:])


def test_other_results_keep_a_table_each():
    r = ok("--load", STEP, "--format", "csv", "-e", "Mean1(out)", "-e", "out")
    out = ok("--load", STEP, "--format", "csv", "-e", "out").stdout
    assert r.stdout.startswith("r2,value\n500,") and r.stdout.endswith("\n" + out)
    # A waveform and a lone number: a table each, not the number on every row.
    r = ok("--load", TRAN, "--format", "csv", "-e", "out", "-e", "Maximum(out)")
    assert r.stdout.count("\n") == 1 + 1081 + 2 and r.stdout.startswith("time,out\n")
    # Lone numbers: one row, no run column, whatever x-values they carry.
    rows = csv_rows(ok("--load", TRAN, "--format", "csv", "-e", "Maximum(out)", "-e", "Minimum(out)").stdout)
    assert rows[0] == ["Maximum(out)", "Minimum(out)"] and len(rows) == 2
