#!/usr/bin/env bash
# The demo of the README: measures the bundled ngspice runs of a filter with
# the scripts examples/demo.cvf (one transient) and examples/demo_mc.cvf (a
# Monte Carlo set of 20 runs), draws the transient and a histogram of the set,
# then writes the statistical report pages of that set with
# examples/demo_reports.cvf.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
cvfunc=$(cd "$build" && pwd)/cvfunc

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
echo
echo "== Plots: the transient, and the rising-edge time over the 20 runs as a histogram"
plots=$(cd "$build" && pwd)/demo-plots
mkdir -p "$plots"
"$cvfunc" --load "$here/filter_tran.raw" -e 'in' -e 'out' --plot "$plots/filter_tran.png" >/dev/null
"$cvfunc" --load "$here/filter_mc.raw" -e 'out' -e 'Histogram(Coll(XFromY(out, 0.5, 1, 1)), 5)' \
  --plot "$plots/filter_mc.png" >/dev/null
echo "Transient plot:    $plots/filter_tran.png"
echo "Monte Carlo plot:  $plots/filter_mc.png (the runs, and the histogram)"
echo
echo "== Statistical reports of the Monte Carlo set (examples/demo_reports.cvf)"
# The script writes its data file and pages in the folder it runs in; a data
# file left by an earlier demo is replaced, not appended to.
out=$(cd "$build" && pwd)/demo-reports
mkdir -p "$out"
rm -f "$out/filter_mc.xml"
(cd "$out" && "$cvfunc" --load "$here/filter_mc.raw" "$here/demo_reports.cvf")
echo
echo "Monte Carlo page:  $out/filter_mc.html"
echo "Sensitivity page:  $out/filter_mc_sensitivity.html"
