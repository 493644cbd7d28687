"""cvfunc --plot: the pictures open as images of the promised size and show
drawn content, in each of the three formats; what cannot be drawn is said."""
import os
import subprocess
import xml.etree.ElementTree as ET

import numpy as np
import pytest

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
TOOL = os.path.abspath(os.path.join(BUILD, "cvfunc"))
EXAMPLES = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
WIDTH, PANEL = 800, 360


def run_tool(*args, cwd=None):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, stdin=subprocess.DEVNULL, cwd=cwd)


def png_pixels(path):
    from PIL import Image
    with Image.open(path) as im:
        return np.asarray(im.convert("RGB"))


# (data file, statements, panels): a transient, a Monte Carlo set with a line
# per run and a histogram of a per-run measurement, a complex AC response.
CASES = [
    ("filter_tran.raw", ["out"], 1),
    ("filter_mc.raw", ["out", "Histogram(Coll(XFromY(out, 0.5, 1, 1)), 5)", "Maximum(out)"], 3),
    ("filter_ac.raw", ["out"], 1),
]


@pytest.mark.parametrize("data,statements,panels", CASES)
def test_png_has_the_size_and_drawn_panels(sandbox, data, statements, panels):
    args = ["--load", os.path.join(EXAMPLES, data)]
    for s in statements:
        args += ["-e", s]
    r = run_tool(*args, "--plot", "out.png")
    assert r.returncode == 0, r.stderr
    px = png_pixels(sandbox / "out.png")
    assert px.shape == (PANEL * panels, WIDTH, 3)
    for p in range(panels):
        # Inside each panel's frame: white background, grey grid, coloured data.
        area = px[p * PANEL + 40:(p + 1) * PANEL - 60, 90:WIDTH - 180].reshape(-1, 3)
        colours = {tuple(c) for c in area[::7]}
        assert len(colours) > 3, f"panel {p + 1} is blank"
        coloured = np.abs(area.astype(int) - area.mean(axis=1, keepdims=True)).max(axis=1) > 40
        assert coloured.sum() > 200, f"panel {p + 1} has no data drawn"
    assert not list(sandbox.glob("out.png.*")), "a temporary file was left behind"


def test_svg_and_pdf(sandbox):
    tran = os.path.join(EXAMPLES, "filter_tran.raw")
    assert run_tool("--load", tran, "-e", "out", "-e", "in", "--plot", "w.svg").returncode == 0
    root = ET.parse(sandbox / "w.svg").getroot()
    assert root.tag.endswith("svg")
    assert float(root.get("width").rstrip("pt")) == WIDTH and float(root.get("height").rstrip("pt")) == 2 * PANEL
    assert len(root.findall(".//{http://www.w3.org/2000/svg}path")) > 10

    assert run_tool("--load", tran, "-e", "out", "--plot", "w.PDF").returncode == 0
    pdf = (sandbox / "w.PDF").read_bytes()
    assert pdf.startswith(b"%PDF") and b"/Type /Page" in pdf and b"%%EOF" in pdf[-32:]


def test_what_cannot_be_drawn(sandbox):
    tran = os.path.join(EXAMPLES, "filter_tran.raw")
    # A number only: a warning, no file, and the value still printed.
    r = run_tool("--load", tran, "-e", "RMS1(out, 410u, 610u)", "--plot", "n.png")
    assert r.returncode == 0 and r.stdout.strip() and "nothing to plot" in r.stderr
    assert not (sandbox / "n.png").exists()
    # A format that is not drawn: refused before anything runs.
    for name in ["p.gif", "p", "dir.png/p"]:
        r = run_tool("--load", tran, "-e", "out", "--plot", name)
        assert r.returncode == 2 and "png, .svg or .pdf" in r.stderr, name
    # A folder that does not exist: an error, after the values were printed.
    r = run_tool("--load", tran, "-e", "out", "--plot", "missing/p.png")
    assert r.returncode == 1 and "cannot write 'missing/p.png'" in r.stderr and r.stdout
    # Results printed before a failing statement are still drawn.
    r = run_tool("--load", tran, "-e", "out", "-e", "NoSuchFunction(out)", "--plot", "f.png")
    assert r.returncode == 1 and (sandbox / "f.png").exists()
