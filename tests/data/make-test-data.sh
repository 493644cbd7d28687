#!/bin/sh
# Regenerates the raw files of the loader tests from rc2.cir with ngspice, and
# derives the malformed ones from them. The CSV files are written by hand.
#   tran_ascii.raw, tran_binary.raw  one transient run written both ways
#   ac_ascii.raw, ac_binary.raw      one AC run written both ways (complex)
#   step.raw                         three runs over R2, one plot each (binary)
#   mixed.raw                        tran, AC, tran plots in one file (ASCII)
#   batch.raw                        `ngspice -b -r` output (padded point count)
#   bad_batch_interp.raw             the same with .options interp: counts disagree
#   bad_*.raw, ok_*.raw              edited copies: malformed / unusual but valid
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command -v ngspice >/dev/null 2>&1 || { echo "make-test-data.sh: ngspice not found" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_ngspice() {  # deck file; errors in .control blocks do not set the exit status
    if ! (cd "$work" && ngspice -b "$@" >ngspice.log 2>&1) ||
        grep -E -q '[Ee]rror|no such command' "$work/ngspice.log"; then
        cat "$work/ngspice.log" >&2
        exit 1
    fi
}

cat > "$work/run.cir" <<DECK
rc2: loader test circuit
.include "$here/rc2.cir"
.options interp
.control
tran 1u 40u
set filetype=ascii
write tran_ascii.raw
set filetype=binary
write tran_binary.raw
ac dec 5 1k 1meg
write ac_binary.raw
set filetype=ascii
write ac_ascii.raw
set filetype=binary
set appendwrite
foreach r2 500 1k 2k
  alter R2 \$r2
  tran 1u 20u
  set curplottitle = "rc2 r2=\$r2"
  write step.raw
end
set filetype=ascii
alter R2 1k
tran 2u 10u
write mixed.raw
ac dec 1 1k 100k
write mixed.raw
tran 2u 8u
write mixed.raw
quit 0
.endc
.end
DECK
run_ngspice run.cir

cat > "$work/batch.cir" <<DECK
rc2: batch run
.include "$here/rc2.cir"
.tran 5u 20u
.end
DECK
run_ngspice -r batch.raw batch.cir
# With interp, ngspice 39 writes every internal time point to the -r file but
# patches in the interpolated point count: a real file whose counts disagree.
sed 's/^.tran/.options interp\n.tran/' "$work/batch.cir" >"$work/batch_interp.cir"
run_ngspice -r bad_batch_interp.raw batch_interp.cir

cd "$work"
# Edited copies. Line numbers refer to tran_ascii.raw: 5 variables, so point
# p starts on line 14 + 6p (its index and time, four more values, a blank line).
a=tran_ascii.raw
b=tran_binary.raw
size=$(wc -c <"$b")
head -c $((size - 100)) "$b" >bad_truncated_binary.raw
head -n 52 "$a" >bad_truncated_ascii_point.raw              # point 6 has 3 of 5 values
asize=$(wc -c <"$a")
head -c $((asize - 4)) "$a" >bad_truncated_ascii_number.raw  # ends inside a number: "...e"
sed '35d' "$a" >bad_missing_value.raw                        # point 3 loses v(out)
sed 's/^No. Points: .*/No. Points: 40/' "$a" >bad_extra_point.raw
sed 's/^No. Points: .*/No. Points: 4611686018427387904/' "$b" >bad_huge_points.raw
sed 's/^No. Variables: .*/No. Variables: 2000000000/' "$a" >bad_huge_variables.raw
sed '40s/.*/\t1.0x5/' "$a" >bad_number.raw
sed '32s/^ 3\t/ 7\t/' "$a" >bad_point_index.raw
sed '/^No. Points:/d' "$a" >bad_no_point_count.raw
sed 's/^\t2\tv(mid)\tvoltage$/\t5\tv(mid)\tvoltage/' "$a" >bad_variable_index.raw
sed '15s/.*/\t1.5,2.5/' "$a" >bad_complex_in_real.raw
sed -n '1,/^Values:/p' "$a" | sed 's/^No. Points: .*/No. Points: 0/' >ok_no_points.raw
sed -e '21s/.*/\tnan/' -e '22s/.*/\tinf/' -e '23s/.*/\t-inf/' "$a" >ok_nan_inf.raw
sed 's/$/\r/' "$a" >ok_crlf.raw
for f in *.raw; do cp "$f" "$here/$f"; done
ls -l "$here"/*.raw
