#!/usr/bin/env bash
# Runs the benchmarks and writes their tables to docs/BENCHMARKS.md:
#  1. call overhead (Google Benchmark, bench/*.cpp);
#  2. script functions against numpy/scipy on the same arrays (bench/compare.py).
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

/usr/bin/python3 - "$work/calls.json" "$work/compare.md" "$out" <<'PY'
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
          "`BM_EvaluateScript`: statements `x = f(x, 1.5)` parsed and evaluated, per statement.", "",
          "## Script functions against numpy/scipy", "",
          "Each function is called through `cvfunc.call` on pre-built `cvfunc.Vector` arguments (conversion not "
          "timed) and its peer on the same numpy arrays in the same process; best of at least 3 repeats. "
          "peer/cvfunc > 1 means cvfunc is faster. cvfunc/copy is the cvfunc time over the time of `np.copyto` "
          "of the bytes the function reads (single-pass functions only): 1 is the memory system's limit.", ""]
lines.append(open(sys.argv[2]).read().rstrip())
lines.append("")
open(sys.argv[3], "w").write("\n".join(lines))
print("\n".join(lines))
PY
