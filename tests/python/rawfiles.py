"""Small SPICE raw files for the tests of many files at once: a transient
of a damped sine per run, its amplitude and frequency drawn per file."""
import numpy as np


def write_raw(path, runs, points=200):
    """Writes `runs` (a list of (amplitude, frequency) pairs) as one binary
    raw file, a plot per run; returns the per-run maxima of v(out)."""
    t = np.linspace(0.0, 1e-6, points)
    maxima = []
    with open(path, "wb") as f:
        for k, (amp, freq) in enumerate(runs):
            out = amp * np.exp(-t / 4e-7) * np.sin(2 * np.pi * freq * t)
            maxima.append(float(out.max()))
            header = (f"Title: run {k + 1}\nDate: today\nPlotname: Transient Analysis\nFlags: real\n"
                      f"No. Variables: 2\nNo. Points: {points}\nVariables:\n"
                      "\t0\ttime\ttime\n\t1\tv(out)\tvoltage\nBinary:\n")
            f.write(header.encode())
            f.write(np.column_stack([t, out]).astype("<f8").tobytes())
    return maxima


def make_set(directory, files, runs_per_file=1, seed=7):
    """`files` raw files run000.raw ... in `directory`; returns their paths
    and, per file, the maxima of v(out) by run."""
    rng = np.random.default_rng(seed)
    paths, maxima = [], []
    for i in range(files):
        path = directory / f"run{i:03d}.raw"
        runs = [(rng.uniform(0.5, 2.0), rng.uniform(2e6, 8e6)) for _ in range(runs_per_file)]
        maxima.append(write_raw(path, runs))
        paths.append(path)
    return paths, maxima
