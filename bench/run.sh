#!/usr/bin/env bash
# Runs the benchmarks and writes their tables to docs/BENCHMARKS.md:
#  1. call overhead (Google Benchmark, bench/*.cpp);
#  2. script functions against numpy/scipy on the same arrays (bench/compare.py);
#  3. loading files, one vector of large files (bench/files.py: it writes a
#     32 GB file where the disk has room), many files, Python, scaling.
# Usage: bench/run.sh [build dir] [sizes, e.g. 1e3,1e5,1e7]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
sizes=${2:-1e3,1e5,1e7}
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/docs/BENCHMARKS.md"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "bench: call overhead" >&2
"$build/cvfunc_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$work/calls.json" --benchmark_out_format=json >/dev/null
echo "bench: functions against numpy/scipy (sizes $sizes)" >&2
PYTHONPATH="$build/python" /usr/bin/python3 "$here/bench/compare.py" --sizes "$sizes" --tool "$build/cvfunc" --out "$work/compare.md"
echo "bench: loading files against numpy" >&2
PYTHONPATH="$build/python" /usr/bin/python3 "$here/bench/loaders.py" > "$work/loaders.md"
echo "bench: Python wrapping and memory" >&2
PYTHONPATH="$build/python" /usr/bin/python3 "$here/bench/rows_python.py" > "$work/python.txt"
echo "bench: --each over many files" >&2
/usr/bin/python3 "$here/bench/each.py" "$build" > "$work/each.md"
echo "bench: one vector of large files" >&2
PYTHONPATH="$build/python" /usr/bin/python3 "$here/bench/files.py" --build "$build" > "$work/files.md"

/usr/bin/python3 - "$work/calls.json" "$work/compare.md" "$out" "$work/loaders.md" "$work/each.md" "$work/python.txt" "$work/files.md" <<'PY'
import json, sys, platform, datetime, subprocess
import numpy, scipy
data = json.load(open(sys.argv[1]))
rows = [b for b in data["benchmarks"] if b.get("aggregate_name") == "median"]
cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"],
                     capture_output=True, text=True).stdout.strip()
lines = ["# Benchmarks", "",
         f"Machine: {cpu}, {data['context'].get('num_cpus')} cores; {platform.platform()}; "
         f"run {datetime.date.today().isoformat()}; Python {platform.python_version()}, "
         f"numpy {numpy.__version__}, scipy {scipy.__version__}. Written by `make bench`.", "",
         "## Call overhead", "",
         "Median of 3 repetitions.", "",
         "| benchmark | time per iteration | items per second |", "|---|---|---|"]
for b in rows:
    t = b["real_time"]; unit = b["time_unit"]
    ips = b.get("items_per_second")
    lines.append(f"| {b['run_name']} | {t:.1f} {unit} | {ips/1e6:.2f} M/s |" if ips else f"| {b['run_name']} | {t:.1f} {unit} | |")
lines += ["", "`BM_CallThroughTable`: one call of a two-argument scalar function through the calling pipeline "
          "(count check, conversion, handler, result). `BM_CallByName` adds the case-insensitive look-up. "
          "`BM_EvaluateScript`: statements `x = f(x, 1.5)` parsed and evaluated, per statement. "
          "`BM_ElementWiseThousand`: `_Plus` of two 10^3-element vectors through the pipeline, the module loaded.", "",
          "## Script functions against numpy/scipy", "",
          "Each function is called through `cvfunc.call` on pre-built `cvfunc.Vector` arguments (conversion not "
          "timed) and its peer on the same numpy arrays in the same process, the two taking turns; best of at least 3 "
          "repeats, calls of a few microseconds timed in batches of about 0.2 ms. "
          "peer/cvfunc > 1 means cvfunc is faster. cvfunc/copy is the cvfunc time over the time of `np.copyto` "
          "of the bytes the function reads (single-pass functions only): 1 is the memory system's limit. "
          "A fresh 4 KiB page costs 13-19 µs to fault in on this VM, so peers that allocate their results "
          "look slower than on usual hardware: from 10^6 elements the row is timed again with glibc told to "
          "keep freed memory (\"freed memory kept\"), the figure to trust where page faults are cheap.", ""]
lines.append(open(sys.argv[2]).read().rstrip())
lines += ["", "## Loading simulator output", "",
          "`cvfunc.load` with every vector read, against numpy reading the same bytes, each measurement in a "
          "fresh process, best of several; both allocator conditions. The Monte Carlo rows show the load time against the number of "
          "plots (it should grow linearly) and the two-thread speed-up.", "",
          open(sys.argv[4]).read().rstrip(), "",
          open(sys.argv[7]).read().rstrip(), "",
          "## Many files at once", "",
          "`cvfunc --each` (one forked session per file, two at a time) against one cvfunc process per file "
          "run by `xargs -P2`, best of three.", "",
          open(sys.argv[5]).read().rstrip(), "",
          "## Python", "",
          "Wrapping numpy arrays without a copy, the cost of a scalar call, and the memory a call adds "
          "(`bench/rows_python.py`):", ""]
lines += ["- " + l for l in open(sys.argv[6]).read().splitlines() if l.strip()]
lines.append("")
open(sys.argv[3], "w").write("\n".join(lines))
print("\n".join(lines))
PY
nice -n 10 /usr/bin/python3 "$here/bench/scaling.py" --build "$build" --doc "$out" >/dev/null
