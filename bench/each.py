"""Files per second of `cvfunc --each` over many small raw files, against the
baseline of one cvfunc process per file run two at a time by `xargs -P2`.
Both measure Maximum(out) and Mean(out) on the same files (a 200-point
transient each, written to a temporary folder first); best of three runs.
Prints a Markdown table row.

    python3 bench/each.py [BUILD_DIR] [--files 1000]
"""
import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "python"))
from rawfiles import make_set  # noqa: E402

STATEMENTS = ["Maximum(out)", "Mean(out)"]


def best_of(n, fn):
    best = float("inf")
    for _ in range(n):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--files", type=int, default=1000)
    ap.add_argument("--repeats", type=int, default=3)
    args = ap.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "cvfunc"))
    exprs = [a for s in STATEMENTS for a in ("-e", s)]
    with tempfile.TemporaryDirectory() as tmp:
        paths, _ = make_set(pathlib.Path(tmp), args.files)
        names = "\n".join(str(p) for p in paths).encode()

        def each():
            subprocess.run([tool, "--each", os.path.join(tmp, "*.raw"), *exprs], check=True,
                           stdout=subprocess.DEVNULL)

        def xargs():
            subprocess.run(["xargs", "-P2", "-n1", tool, *exprs, "--format", "csv", "--load"], input=names,
                           check=True, stdout=subprocess.DEVNULL)

        t_each = best_of(args.repeats, each)
        t_xargs = best_of(args.repeats, xargs)
    n = args.files
    print("| Measurement | Files | `cvfunc --each` | `xargs -P2` one process per file | Ratio |")
    print("|---|---:|---:|---:|---:|")
    print(f"| {', '.join(STATEMENTS)} on 200-point raw files | {n} | {n / t_each:.0f} files/s "
          f"| {n / t_xargs:.0f} files/s | {t_xargs / t_each:.1f}x |")


if __name__ == "__main__":
    main()
