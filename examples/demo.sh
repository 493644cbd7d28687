#!/usr/bin/env bash
# The demo of the README: measures the bundled ngspice runs of a filter with
# the scripts examples/demo.cvf (one transient) and examples/demo_mc.cvf (a
# Monte Carlo set of 20 runs).
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
cvfunc="$build/cvfunc"

echo "== Vectors of the transient run (examples/filter_tran.raw)"
"$cvfunc" --load "$here/filter_tran.raw" --vars
echo
echo "== Measurements of the transient (examples/demo.cvf)"
"$cvfunc" --load "$here/filter_tran.raw" "$here/demo.cvf"
echo
echo "== Vectors of the Monte Carlo set (examples/filter_mc.raw): one division per run"
"$cvfunc" --load "$here/filter_mc.raw" --vars
echo
echo "== Measurements over the runs (examples/demo_mc.cvf)"
"$cvfunc" --load "$here/filter_mc.raw" "$here/demo_mc.cvf"
