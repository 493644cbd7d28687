"""The statistical reports against independent readers: the data file checked
by xmllint against the shipped schema, the CSV lines read back by Python's csv
module, the statistics and sensitivities on the pages recomputed with numpy,
the pages parsed by html5lib in strict mode and rendered by headless Chromium.

Every test runs in conftest.py's sandbox, out of reach of the user's files.
"""

import csv
import os
import pathlib
import shutil
import subprocess
import tempfile

import numpy as np
import pytest

import cvfunc

html5lib = pytest.importorskip("html5lib")

SCHEMA = pathlib.Path(__file__).parents[2] / "share" / "schema" / "statreport.xsd"


@pytest.fixture
def data_set(sandbox):
    """A Monte Carlo set: three parameters drawn per run, two measurements
    (one linear in the parameters with noise, one with a failed run)."""
    rng = np.random.default_rng(11)
    runs = np.arange(1, 41)
    params = {"R1": rng.uniform(900, 1100, 40), "C1": rng.uniform(9e-9, 11e-9, 40), "L<1>": rng.normal(1e-6, 5e-8, 40)}
    gain = 3 * params["R1"] / 1000 - 2e8 * params["C1"] + 1e6 * params["L<1>"] + rng.normal(0, 0.01, 40)
    delay = rng.normal(1e-5, 1e-6, 40)
    delay[7] = np.nan
    f = str(sandbox / "set.xml")
    assert cvfunc.AppendSensitivityData(f, ["gain", "ac"], list(gain), list(runs))
    assert cvfunc.AppendSensitivityData(f, ["delay & <rise>"], list(delay), list(runs))
    for name, values in params.items():
        assert cvfunc.AppendSensitivityData(f, [name, "parameter"], list(values), list(runs))
    return f, runs, params, {"gain": gain, "delay & <rise>": delay}


def parse_strict(path):
    parser = html5lib.HTMLParser(strict=True, namespaceHTMLElements=False)
    return parser.parse(pathlib.Path(path).read_bytes())


@pytest.mark.skipif(shutil.which("xmllint") is None, reason="xmllint not installed")
def test_data_file_is_valid_against_the_shipped_schema(data_set):
    f = data_set[0]
    r = subprocess.run(["xmllint", "--noout", "--nonet", "--schema", str(SCHEMA), f], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    bad = pathlib.Path(f).with_name("bad.xml")
    bad.write_text("<statreport version='1'><merit analysis='tran'/></statreport>")
    assert subprocess.run(["xmllint", "--noout", "--schema", str(SCHEMA), str(bad)], capture_output=True).returncode != 0
    assert cvfunc.XmlValidate(str(bad), "")[0] == "validationfailed"


def test_page_statistics_equal_numpy(data_set):
    f, runs, params, measured = data_set
    assert cvfunc.BuildMclogHTML(f, "mc.html")
    doc = parse_strict("mc.html")
    rows = {tr.get("data-name"): tr for tr in doc.iter("tr") if tr.get("data-name")}
    for name, values in list(measured.items()) + list(params.items()):
        cells = list(rows[name].iter("td"))
        finite = ~np.isnan(values)
        v = values[finite]
        mean, sd, lo, hi = (float(cells[k].get("data-value")) for k in (1, 2, 3, 5))
        assert mean == pytest.approx(np.mean(v), rel=1e-12)
        assert sd == pytest.approx(np.std(v, ddof=1), rel=1e-9)  # the sample standard deviation
        # Count, extremes with the runs that gave them, failed runs.
        assert (int(cells[0].text), lo, int(cells[4].text), hi, int(cells[6].text), int(cells[7].text)) == (
            v.size, np.min(v), runs[finite][np.argmin(v)], np.max(v), runs[finite][np.argmax(v)], np.count_nonzero(~finite))
    # One inline SVG histogram per measurement, the names shown as text.
    assert len(list(doc.iter("{http://www.w3.org/2000/svg}svg"))) == len(measured)
    assert "delay & <rise>" in "".join(doc.itertext())


def test_sensitivity_csv_reads_back_and_matches_a_least_squares_fit(data_set):
    f, runs, params, measured = data_set
    rows = list(csv.DictReader(cvfunc.BuildSensitivityCsv(f)))
    assert {r["measurement"] for r in rows} == set(measured)
    gain = measured["gain"]
    x = np.column_stack([params[p] for p in params] + [np.ones(len(runs))])
    slopes, *_ = np.linalg.lstsq(x, gain, rcond=None)
    by_name = {r["parameter"]: r for r in rows if r["measurement"] == "gain"}
    # Largest normalised sensitivity first.
    assert list(by_name) == sorted(params, key=lambda p: -abs(float(by_name[p]["normalised sensitivity"])))
    for k, p in enumerate(params):
        assert float(by_name[p]["absolute sensitivity"]) == pytest.approx(slopes[k], rel=1e-6)
        normalised = slopes[k] * np.mean(params[p]) / np.mean(gain)
        assert float(by_name[p]["normalised sensitivity"]) == pytest.approx(normalised, rel=1e-6)
        assert float(by_name[p]["contribution"]) == pytest.approx(slopes[k] * np.std(params[p], ddof=1), rel=1e-6)
    # The perturbation lines of the first measurement (gain): the same numbers.
    for line in cvfunc.BuildSensitivityPerturbCsv(f, 1):
        name, normalised, contribution = next(csv.reader([line]))
        assert float(normalised) == pytest.approx(float(by_name[name]["normalised sensitivity"]), rel=1e-15)


def test_the_other_pages_are_strict_html5(data_set):
    assert cvfunc.BuildSensitivityHTML(data_set[0], "b.html") == 1 and cvfunc.BuildWorstCaseHTML(data_set[0], "c.html") == 1
    parse_strict("b.html")  # raises on the first parse error
    parse_strict("c.html")


@pytest.mark.skipif(not os.path.exists("/usr/bin/chromium"), reason="chromium not installed")
def test_chromium_renders_the_page_without_console_errors(data_set, sandbox):
    PIL = pytest.importorskip("PIL.Image")
    f = data_set[0]
    assert cvfunc.BuildMclogHTML(f, "mc.html")
    shot = sandbox / "shot.png"
    # Chromium's singleton socket needs a short path: its scratch folder
    # (profile and temporary files) is a fresh one under /tmp, removed after.
    with tempfile.TemporaryDirectory(prefix="cr", dir="/tmp") as scratch:
        env = dict(os.environ, TMPDIR=scratch, HOME=scratch)
        r = subprocess.run(["/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                            "--enable-logging=stderr", "--v=0", f"--user-data-dir={scratch}/profile",
                            f"--screenshot={shot}", "--window-size=1200,1600", (sandbox / "mc.html").as_uri()],
                           capture_output=True, text=True, timeout=120, env=env)
    assert shot.exists(), r.stderr
    assert "CONSOLE" not in r.stderr and "Uncaught" not in r.stderr
    image = PIL.open(shot).convert("L")
    lo, hi = image.getextrema()
    assert hi - lo > 100  # not blank
    assert len(image.getcolors(maxcolors=1 << 16) or range(1 << 16)) > 10
