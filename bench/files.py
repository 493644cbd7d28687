"""One vector of a large file: what it costs to measure one node of a
simulation that saved every node.

Rows (each in a fresh process; time is wall time from the start of the
process's work, memory the peak resident size above what the process held
before it: the tool's own start for the tool, the interpreter with its
modules imported for Python):
  - a 51-variable binary raw file of 2*10^6 points (816 MB), Maximum of one
    vector: the tool (`cvfunc --load F -e 'Maximum(n3)'`), Python
    (cvfunc.load + eval), and numpy reading the same column through
    np.memmap; best of three, page cache warm;
  - a file of the same shape larger than the machine's memory (32 GB, made
    here and deleted after; skipped with a message where the disk lacks
    room): the tool's Maximum of one vector end to end, once, as the disk
    and the page cache allow.

    PYTHONPATH=build/python /usr/bin/python3 bench/files.py [--build build] [--dir DIR] [--no-large]

Prints a Markdown section for docs/BENCHMARKS.md.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

VARIABLES = 51


def write_raw(path, points, chunk=100_000):
    """A transient of VARIABLES columns: the scale, then noise; returns the
    byte offset of the values."""
    names = ["time"] + ["v(n%d)" % i for i in range(1, VARIABLES)]
    header = ("Title: wide\nDate: now\nPlotname: Transient Analysis\nFlags: real\nNo. Variables: %d\n"
              "No. Points: %d\nVariables:\n" % (VARIABLES, points))
    header += "".join("\t%d\t%s\t%s\n" % (i, n, "time" if i == 0 else "voltage") for i, n in enumerate(names))
    header = (header + "Binary:\n").encode()
    rng = np.random.default_rng(1)
    with open(path, "wb") as f:
        f.write(header)
        for start in range(0, points, chunk):
            n = min(chunk, points - start)
            block = np.empty((n, VARIABLES))
            block[:, 0] = np.arange(start, start + n) * 1e-9
            block[:, 1:] = rng.standard_normal((n, VARIABLES - 1))
            f.write(block.tobytes())
    return len(header)


CHILD = r"""
import json, resource, sys, time
kind, path, offset, points = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
import numpy as np
if kind == "python":
    import cvfunc
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
t0 = time.perf_counter()
if kind == "python":
    cvfunc.load(path)
    m = float(np.asarray(cvfunc.eval("Maximum(n3)")))
else:
    a = np.memmap(path, dtype="<f8", mode="r", offset=offset, shape=(points, %d))
    m = float(a[:, 3].max())
t = time.perf_counter() - t0
print(json.dumps([t, (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) * 1024, m]))
""" % VARIABLES


def run_tool(tool, args):
    """Wall time, peak resident bytes and output of one run of the tool."""
    t0 = time.perf_counter()
    proc = subprocess.Popen([tool, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = proc.stdout.read()
    proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - t0
    if status != 0:
        raise RuntimeError("%s failed" % " ".join(args))
    return elapsed, usage.ru_maxrss * 1024, out.decode().strip()


def run_child(kind, path, offset, points):
    out = subprocess.run([sys.executable, "-c", CHILD, kind, path, str(offset), str(points)],
                         capture_output=True, text=True, check=True).stdout
    return json.loads(out)


def mb(n):
    return "%.0f MB" % (n / 1e6)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.environ.get("CVFUNC_BUILD_DIR", "build"))
    ap.add_argument("--dir", default=None)
    ap.add_argument("--no-large", action="store_true")
    args = ap.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "cvfunc"))
    work = args.dir or tempfile.mkdtemp(prefix="cvfunc_files_", dir="/var/tmp")
    lines = ["## Files larger than the question", "",
             "One vector of a file that saved every node (`bench/files.py`): the tool and Python read the "
             "file's header when it is loaded and the vector a statement uses when the statement runs, "
             "gathered from the file's mapping on both cores, each piece of the file let go of once read. "
             "Time from the start of the work, peak resident memory above the process's own start "
             "(the tool's start: %s).", ""]
    try:
        wide = os.path.join(work, "wide.raw")
        points = 2_000_000
        offset = write_raw(wide, points)
        size = os.path.getsize(wide)
        _, start, _ = run_tool(tool, ["-e", "1"])
        lines[-2] = lines[-2] % mb(start)
        run_tool(tool, ["--load", wide, "-e", "Maximum(n3)"])  # warm the page cache
        tool_best = min((run_tool(tool, ["--load", wide, "-e", "Maximum(n3)"]) for _ in range(3)),
                        key=lambda r: r[0])
        py_best = min((run_child("python", wide, offset, points) for _ in range(3)), key=lambda r: r[0])
        np_best = min((run_child("numpy", wide, offset, points) for _ in range(3)), key=lambda r: r[0])
        assert abs(float(tool_best[2]) - np_best[2]) < 1e-12 and abs(py_best[2] - np_best[2]) < 1e-12
        lines += ["| %d variables x 2*10^6 points, %s, Maximum(n3) | time | peak memory above start |" % (VARIABLES, mb(size)),
                  "|---|---:|---:|",
                  "| `cvfunc --load F -e 'Maximum(n3)'` | %.3f s | %s |" % (tool_best[0], mb(tool_best[1] - start)),
                  "| `cvfunc.load(F)` + `eval('Maximum(n3)')` | %.3f s | %s |" % (py_best[0], mb(py_best[1])),
                  "| numpy: `np.memmap(F)[:, 3].max()` | %.3f s | %s |" % (np_best[0], mb(np_best[1])),
                  ""]
        os.remove(wide)

        if args.no_large:
            return lines
        big = 32 * 10**9
        big_points = big // (8 * VARIABLES)
        free = shutil.disk_usage(work).free
        if free < big + 4 * 10**9:
            lines += ["The %s file was skipped: %s free on the disk of %s." % (mb(big), mb(free), work), ""]
            return lines
        path = os.path.join(work, "big.raw")
        t0 = time.perf_counter()
        write_raw(path, big_points, chunk=250_000)
        made = time.perf_counter() - t0
        memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
        elapsed, peak, value = run_tool(tool, ["--load", path, "-e", "Maximum(n3)"])
        lines += ["| %s file (%d x %.1f*10^7 points; memory %s), Maximum(n3) | time | read rate | peak memory above start |" %
                  (mb(os.path.getsize(path)), VARIABLES, big_points / 1e7, mb(memory)),
                  "|---|---:|---:|---:|",
                  "| `cvfunc --load F -e 'Maximum(n3)'`, once | %.1f s | %.2f GB/s | %s |" %
                  (elapsed, os.path.getsize(path) / elapsed / 1e9, mb(peak - start)),
                  "", "(Writing the file took %.0f s.)" % made, ""]
        os.remove(path)
        return lines
    finally:
        if not args.dir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    print("\n".join(main()))
