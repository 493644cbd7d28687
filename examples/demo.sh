#!/usr/bin/env bash
# The demo of the README: loads the bundled ngspice runs of a filter and
# evaluates the script in examples/demo.cvf on them.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
cvfunc="$build/cvfunc"

echo "== Vectors of the transient run (examples/filter_tran.raw)"
"$cvfunc" --load "$here/filter_tran.raw" --vars
echo
echo "== Vectors of the stepped run (examples/filter_step.raw): one division per run"
"$cvfunc" --load "$here/filter_step.raw" --vars
echo
echo "== examples/demo.cvf on the transient run"
"$cvfunc" --load "$here/filter_tran.raw" "$here/demo.cvf"
