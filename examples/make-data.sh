#!/bin/sh
# Regenerates the example raw files from filter.cir with ngspice in batch mode:
#   filter_tran.raw  transient, 1 ms, binary, real
#   filter_ac.raw    AC sweep 10 Hz .. 10 MHz, binary, complex
#   filter_step.raw  the transient for five values of R2, one plot per run,
#                    binary (ngspice has no .step: foreach/alter and write with
#                    appendwrite; each plot's title names its R2)
#   filter_mc.raw    the transient (600 us) for 20 runs with R1, C1, R2, C2
#                    drawn uniformly within +-10% (a fixed seed, so the file
#                    is reproducible): a Monte Carlo set, runs labelled 1 ... 20
# The raw files are committed, so the demo needs no ngspice; run this script
# only after changing the circuit. The files are written in a scratch folder
# and moved here at the end, so a failed run leaves the old ones in place.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command -v ngspice >/dev/null 2>&1 || { echo "make-data.sh: ngspice not found (apt-get install ngspice)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The Monte Carlo runs, one block of alter statements each.
mc_runs=$(awk 'BEGIN {
    srand(20261206)
    for (k = 1; k <= 20; k++) {
        printf "alter R1 %.6g\n", 1e3 * (0.9 + 0.2 * rand())
        printf "alter C1 %.6g\n", 10e-9 * (0.9 + 0.2 * rand())
        printf "alter R2 %.6g\n", 1e3 * (0.9 + 0.2 * rand())
        printf "alter C2 %.6g\n", 10e-9 * (0.9 + 0.2 * rand())
        printf "tran 1u 600u 0 1u\nset curplottitle = \"filter mc %d\"\nwrite filter_mc.raw\n", k
    }
}')

cat > "$work/run.cir" <<DECK
filter: second-order RC low-pass driven by a pulse train
.include "$here/filter.cir"
.control
set filetype=binary
tran 1u 1m 0 1u
write filter_tran.raw
ac dec 20 10 10meg
write filter_ac.raw
set appendwrite
foreach r2 500 1k 2k 4k 8k
  alter R2 \$r2
  tran 1u 1m 0 1u
  set curplottitle = "filter r2=\$r2"
  write filter_step.raw
end
alter R2 1k
$mc_runs
quit 0
.endc
.end
DECK

# Errors inside a .control block do not change ngspice's exit status: look
# for them in its output as well.
if ! (cd "$work" && ngspice -b run.cir >ngspice.log 2>&1) ||
    grep -E -q '[Ee]rror|no such command' "$work/ngspice.log"; then
    cat "$work/ngspice.log" >&2
    exit 1
fi
for f in filter_tran.raw filter_ac.raw filter_step.raw filter_mc.raw; do
    [ -s "$work/$f" ] || { echo "make-data.sh: ngspice wrote no $f" >&2; cat "$work/ngspice.log" >&2; exit 1; }
done
mv "$work/filter_tran.raw" "$work/filter_ac.raw" "$work/filter_step.raw" "$work/filter_mc.raw" "$here/"
ls -l "$here"/filter_*.raw
