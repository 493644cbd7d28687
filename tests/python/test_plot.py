"""cvfunc --plot: the pictures open as images of the promised size and show
drawn content, in each of the three formats; what cannot be drawn is said;
a histogram's count axis reads in whole numbers."""
import os
import re
import subprocess
import xml.etree.ElementTree as ET
import zlib

import numpy as np
import pytest

BUILD = os.environ.get("CVFUNC_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "build")
TOOL = os.path.abspath(os.path.join(BUILD, "cvfunc"))
EXAMPLES = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "examples"))
TRAN = os.path.join(EXAMPLES, "filter_tran.raw")
WIDTH, PANEL = 800, 360


def run_tool(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, stdin=subprocess.DEVNULL)


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
    r = run_tool("--load", os.path.join(EXAMPLES, data), *(a for s in statements for a in ("-e", s)), "--plot", "out.png")
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
    assert run_tool("--load", TRAN, "-e", "out", "-e", "in", "--plot", "w.svg").returncode == 0
    root = ET.parse(sandbox / "w.svg").getroot()
    assert root.tag.endswith("svg") and [float(root.get(k).rstrip("pt")) for k in ("width", "height")] == [WIDTH, 2 * PANEL]
    assert len(root.findall(".//{http://www.w3.org/2000/svg}path")) > 10
    assert run_tool("--load", TRAN, "-e", "out", "--plot", "w.PDF").returncode == 0
    pdf = (sandbox / "w.PDF").read_bytes()
    assert pdf.startswith(b"%PDF") and b"/Type /Page" in pdf and b"%%EOF" in pdf[-32:]


def test_what_cannot_be_drawn(sandbox):
    # A number only: a warning, no file, and the value still printed.
    r = run_tool("--load", TRAN, "-e", "RMS1(out, 410u, 610u)", "--plot", "n.png")
    assert r.returncode == 0 and r.stdout.strip() and "nothing to plot" in r.stderr
    assert not (sandbox / "n.png").exists()
    # A format that is not drawn: refused before anything runs.
    for name in ["p.gif", "p", "dir.png/p"]:
        r = run_tool("--load", TRAN, "-e", "out", "--plot", name)
        assert r.returncode == 2 and "png, .svg or .pdf" in r.stderr, name
    # A folder that does not exist: an error, after the values asked for were printed.
    r = run_tool("--load", TRAN, "-e", "out", "--plot", "missing/p.png", "--format", "text")
    assert r.returncode == 1 and "cannot write 'missing/p.png'" in r.stderr and r.stdout
    # Results printed before a failing statement are still drawn.
    r = run_tool("--load", TRAN, "-e", "out", "-e", "NoSuchFunction(out)", "--plot", "f.png")
    assert r.returncode == 1 and (sandbox / "f.png").exists()


def pdf_texts(path):
    """(x, y, text) of the upright 11-point texts a PDF shows, top-down y:
    the tick labels. The page streams are deflated; each text sits in a
    text matrix followed by the string it shows."""
    data = path.read_bytes()
    found = []
    for m in re.finditer(rb"<<(.*?)>>\s*stream\r?\n", data, re.S):
        if b"FlateDecode" not in m.group(1):
            continue
        try:
            content = zlib.decompress(data[m.end():data.index(b"endstream", m.end())])
        except zlib.error:
            continue
        for t in re.finditer(rb"11 0 0 -11 ([-\d.]+) ([-\d.]+) Tm\s*/\S+ [\d.]+ Tf\s*(\[.*?\]\s*TJ|\(.*?\)\s*Tj)",
                             content, re.S):
            text = b"".join(re.findall(rb"\((.*?)(?<!\\)\)", t.group(3))).decode("latin-1")
            found.append((float(t.group(1)), float(t.group(2)), text))
    return found


def y_ticks(path):
    """The count axis' labels from the bottom up: left of the frame, above the x-axis labels."""
    texts = pdf_texts(path)
    x_row = max(y for _, y, _ in texts)
    return [s for x, y, s in sorted(texts, key=lambda t: -t[1]) if y < x_row - 1 and x < 78]


@pytest.mark.parametrize("statement", [
    "Histogram([1, 2, 3, 4], 2)",           # two counts of 2: no half steps between them
    "Histogram(Interp(out, 20000), 5)",     # thousands: written out, not 1k, 2k
])
def test_histogram_counts_tick_as_whole_numbers(sandbox, statement):
    r = run_tool("--load", TRAN, "-e", statement, "--plot", "h.pdf", "--format", "text")
    assert r.returncode == 0, r.stderr
    most = max(float(line.split("\t")[1]) for line in r.stdout.splitlines())
    ticks = y_ticks(sandbox / "h.pdf")
    assert ticks[0] == "0" and len(ticks) >= 3, ticks
    assert all(re.fullmatch(r"\d+", t) for t in ticks), ticks
    steps = {int(b) - int(a) for a, b in zip(ticks, ticks[1:])}
    assert len(steps) == 1 and int(ticks[-1]) <= most * 1.05 < int(ticks[-1]) + steps.pop(), ticks
    # A waveform's axis keeps its engineering ticks.
    assert run_tool("--load", TRAN, "-e", "out", "--plot", "w.pdf").returncode == 0
    assert any(t.endswith("m") for t in y_ticks(sandbox / "w.pdf"))
