"""Loading simulator output: cvfunc.load against numpy reading the same bytes.

cvfunc.load reads a file's header; the rows ask for every vector too, so
that both sides read all values. Rows (best of several repeats, warm page cache, each in a fresh process so
that one row's freed memory does not serve the next):
  - a binary raw file of 10^7 points x 2 variables, against numpy.fromfile
    plus the column split (two contiguous float64 columns);
  - a Monte Carlo file of P plots x 10^5 points x 2 variables, P = 10, 100,
    1000 (the load time should grow linearly), and the 1000-plot file loaded
    and measured with Mean1 per run end to end;
  - the same load with CVFUNC_THREADS=1 and 2;
  - a 10^7-point raw file with a UTF-16 header, double time and single
    values, against numpy.fromfile of a record dtype plus the conversion of
    both columns to float64.
Every peer row runs under two conditions: the default, and glibc told to keep
freed memory (MALLOC_MMAP_MAX_=0 MALLOC_TRIM_THRESHOLD_=...), since a fresh
4 KiB page costs 13-19 us to fault in on this VM and numpy allocates fresh
arrays for every read.

    PYTHONPATH=build/python /usr/bin/python3 bench/loaders.py [--plots 10,100,1000] [--dir /tmp/...]

Files are written to a scratch directory (default: a new one under /tmp) and
removed at the end; the 1000-plot file takes 1.6 GB.
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

KEEP_FREED = {"MALLOC_MMAP_MAX_": "0", "MALLOC_TRIM_THRESHOLD_": str(1 << 40), "MALLOC_TOP_PAD_": str(1 << 30)}


def ngspice_header(title, points):
    return ("Title: %s\nDate: now\nPlotname: Transient Analysis\nFlags: real\nNo. Variables: 2\n"
            "No. Points: %d\nVariables:\n\t0\ttime\ttime\n\t1\tv(out)\tvoltage\nBinary:\n" % (title, points)).encode()


def write_runs(path, plots, points):
    """plots runs of `points` points: time and a noisy value, as a Monte Carlo run writes them."""
    import numpy as np
    rng = np.random.default_rng(7)
    t = np.arange(points, dtype="<f8") * 1e-9
    block = np.empty((points, 2), dtype="<f8")
    block[:, 0] = t
    offsets = []
    with open(path, "wb") as f:
        for run in range(plots):
            header = ngspice_header("mc run %d" % (run + 1), points)
            f.write(header)
            offsets.append(f.tell())
            block[:, 1] = 1.0 + 0.01 * run + 0.001 * rng.standard_normal(points)
            block.tofile(f)
    return offsets


def write_compact(path, points):
    """A UTF-16 header, then points of (double time, float value)."""
    import numpy as np
    header = ("Title: * bench.asc\nDate: now\nPlotname: Transient Analysis\nFlags: real forward\n"
              "No. Variables: 2\nNo. Points: %d\nOffset: 0\nCommand: LTspice\nVariables:\n"
              "\t0\ttime\ttime\n\t1\tV(out)\tvoltage\nBinary:\n" % points).encode("utf-16-le")
    rec = np.empty(points, dtype=[("t", "<f8"), ("v", "<f4")])
    rec["t"] = np.arange(points) * 1e-9
    rec["v"] = np.sin(np.arange(points) * 1e-4)
    with open(path, "wb") as f:
        f.write(header)
        rec.tofile(f)
    return len(header)


def best(fn, repeats):
    fn()
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


# ------------------------------------------------------------- child side

def child(job):
    import numpy as np
    kind, path = job["kind"], job["path"]
    repeats = job.get("repeats", 5)
    if kind == "cvfunc-load":
        import cvfunc

        def run():
            d = cvfunc.load(path)
            list(d.values())  # the vectors are read when first asked for
            d.clear()
        return best(run, repeats)
    if kind == "cvfunc-load-mean":
        import cvfunc

        def run():
            d = cvfunc.load(path)
            m = cvfunc.eval("Mean1(out)")
            assert len(np.asarray(m)) == job["plots"], len(np.asarray(m))
            d.clear()
        return best(run, repeats)
    if kind == "numpy-split":
        offsets = job["offsets"]
        points = job["points"]

        def run():
            a = np.fromfile(path, dtype="<f8", count=2 * points, offset=offsets[0]).reshape(-1, 2)
            t, v = a[:, 0].copy(), a[:, 1].copy()
            return t, v
        return best(run, repeats)
    if kind == "numpy-compact":
        dtype = np.dtype([("t", "<f8"), ("v", "<f4")])

        def run():
            rec = np.fromfile(path, dtype=dtype, offset=job["offset"])
            return np.abs(rec["t"]), rec["v"].astype(np.float64)
        return best(run, repeats)
    if kind == "numpy-fromfile":
        def run():
            return np.fromfile(path, dtype=np.uint8)
        return best(run, repeats)
    raise ValueError(kind)


def measure(job, env_extra=None):
    env = dict(os.environ)
    env.update(env_extra or {})
    out = subprocess.run([sys.executable, __file__, "--child", json.dumps(job)], env=env,
                         capture_output=True, text=True, check=True)
    return float(out.stdout.strip().splitlines()[-1])


# ------------------------------------------------------------- parent side

def ms(t):
    return "%.0f ms" % (t * 1e3) if t >= 0.1 else "%.1f ms" % (t * 1e3)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--child")
    ap.add_argument("--plots", default="10,100,1000")
    ap.add_argument("--dir")
    args = ap.parse_args()
    if args.child:
        print(child(json.loads(args.child)))
        return
    plot_counts = [int(p) for p in args.plots.split(",")]
    work = args.dir or tempfile.mkdtemp(prefix="cvfunc_loaders_", dir="/tmp")
    os.makedirs(work, exist_ok=True)
    free = shutil.disk_usage(work).free
    need = max(plot_counts) * 10**5 * 16 * 1.1 + 300e6
    if free < need:
        print("only %.1f GB free in %s: fewer plots" % (free / 1e9, work), file=sys.stderr)
        plot_counts = [p for p in plot_counts if p * 10**5 * 16 * 1.1 + 300e6 < free]
    try:
        lines = []
        # 1. One plot of 10^7 points x 2 variables.
        one = os.path.join(work, "one.raw")
        offsets = write_runs(one, 1, 10**7)
        cv1 = measure({"kind": "cvfunc-load", "path": one})
        np_default = measure({"kind": "numpy-split", "path": one, "offsets": offsets, "points": 10**7})
        np_kept = measure({"kind": "numpy-split", "path": one, "offsets": offsets, "points": 10**7}, KEEP_FREED)
        cv1_kept = measure({"kind": "cvfunc-load", "path": one}, KEEP_FREED)
        lines += ["| binary raw, 10^7 points x 2 variables | cvfunc.load | numpy.fromfile + column split | ratio |",
                  "|---|---|---|---|",
                  "| default | %s | %s | %.2f |" % (ms(cv1), ms(np_default), np_default / cv1),
                  "| glibc keeps freed memory | %s | %s | %.2f |" % (ms(cv1_kept), ms(np_kept), np_kept / cv1_kept),
                  ""]
        os.remove(one)

        # 2. Monte Carlo files: load time against plot count, threads, load + Mean1.
        curve = ["| plots (x 10^5 points x 2 variables) | file | load, 2 threads | per plot | load, 1 thread | 1 thread / 2 threads |",
                 "|---|---|---|---|---|---|"]
        end_to_end = None
        for plots in plot_counts:
            path = os.path.join(work, "mc_%d.raw" % plots)
            write_runs(path, plots, 10**5)
            repeats = 5 if plots < 1000 else 3
            two = measure({"kind": "cvfunc-load", "path": path, "repeats": repeats}, {"CVFUNC_THREADS": "2"})
            single = measure({"kind": "cvfunc-load", "path": path, "repeats": repeats}, {"CVFUNC_THREADS": "1"})
            curve.append("| %d | %.0f MB | %s | %.2f ms | %s | %.2f |" % (
                plots, os.path.getsize(path) / 1e6, ms(two), two / plots * 1e3, ms(single), single / two))
            if plots == max(plot_counts):
                end_to_end = (plots, measure({"kind": "cvfunc-load-mean", "path": path, "plots": plots, "repeats": 3},
                                             {"CVFUNC_THREADS": "2"}),
                              measure({"kind": "numpy-fromfile", "path": path, "repeats": 3}))
            os.remove(path)
        lines += curve + [""]
        if end_to_end:
            plots, t, raw = end_to_end
            lines += ["| %d-plot Monte Carlo file | time |" % plots, "|---|---|",
                      "| cvfunc.load + Mean1 per run, end to end | %s |" % ms(t),
                      "| numpy.fromfile of the whole file as bytes (the read alone) | %s |" % ms(raw), ""]

        # 3. The compact layout with a UTF-16 header.
        compact = os.path.join(work, "compact.raw")
        offset = write_compact(compact, 10**7)
        cvc = measure({"kind": "cvfunc-load", "path": compact})
        npc = measure({"kind": "numpy-compact", "path": compact, "offset": offset})
        cvc_kept = measure({"kind": "cvfunc-load", "path": compact}, KEEP_FREED)
        npc_kept = measure({"kind": "numpy-compact", "path": compact, "offset": offset}, KEEP_FREED)
        lines += ["| UTF-16 header, 10^7 points (double time, single value) | cvfunc.load | numpy.fromfile + to float64 | ratio |",
                  "|---|---|---|---|",
                  "| default | %s | %s | %.2f |" % (ms(cvc), ms(npc), npc / cvc),
                  "| glibc keeps freed memory | %s | %s | %.2f |" % (ms(cvc_kept), ms(npc_kept), npc_kept / cvc_kept)]
        print("\n".join(lines))
    finally:
        if not args.dir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
