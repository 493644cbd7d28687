#!/usr/bin/env bash
# Runs the benchmarks and writes their table to docs/BENCHMARKS.md.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/docs/BENCHMARKS.md"
json=$(mktemp)
"$build/cvfunc_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$json" --benchmark_out_format=json >/dev/null
/usr/bin/python3 - "$json" "$out" <<'PY'
import json, sys, platform, datetime, subprocess
data = json.load(open(sys.argv[1]))
rows = [b for b in data["benchmarks"] if b.get("aggregate_name") == "median"]
cpu = subprocess.run(["sh", "-c", "grep -m1 'model name' /proc/cpuinfo | cut -d: -f2"], capture_output=True, text=True).stdout.strip()
lines = ["# Benchmarks", "",
         f"Machine: {cpu}, {data['context'].get('num_cpus')} cores; {platform.platform()}; "
         f"run {datetime.date.today().isoformat()}; median of 3 repetitions.", "",
         "| benchmark | time per iteration | items per second |", "|---|---|---|"]
for b in rows:
    name = b["run_name"]
    t = b["real_time"]; unit = b["time_unit"]
    ips = b.get("items_per_second")
    lines.append(f"| {name} | {t:.1f} {unit} | {ips/1e6:.2f} M/s |" if ips else f"| {name} | {t:.1f} {unit} | |")
lines += ["", "`BM_CallThroughTable`: one call of a two-argument scalar function through the calling pipeline "
          "(count check, conversion, handler, result). `BM_CallByName` adds the case-insensitive look-up. "
          "`BM_EvaluateScript`: statements `x = f(x, 1.5)` parsed and evaluated, per statement.", ""]
open(sys.argv[2], "w").write("\n".join(lines))
print("\n".join(lines))
PY
rm -f "$json"
