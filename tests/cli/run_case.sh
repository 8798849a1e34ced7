#!/usr/bin/env bash
# Runs one command-line case: cases/NAME.sh runs in a fresh scratch folder
# holding in.jpg (the sample photograph), with $VELMORA the program; its stdout,
# stderr and exit status must equal NAME.stdout, NAME.stderr and NAME.exit
# (a missing file means empty output, exit status 0).
#   run_case.sh VELMORA SAMPLE CASES_DIR NAME SCRATCH
set -uo pipefail
velmora=$1 sample=$2 cases=$3 name=$4 scratch=$5
rm -rf "$scratch" && mkdir -p "$scratch/work" && cp "$sample" "$scratch/work/in.jpg"
cd "$scratch/work"
VELMORA=$velmora bash "$cases/$name.sh" >../stdout.txt 2>../stderr.txt
status=$?
expect() { if [ -f "$cases/$name.$1" ]; then cat "$cases/$name.$1"; else printf '%s' "$2"; fi; }
ok=1
if ! diff -u <(expect stdout "") ../stdout.txt; then echo "stdout differs"; ok=0; fi
if ! diff -u <(expect stderr "") ../stderr.txt; then echo "stderr differs"; ok=0; fi
want=$(expect exit 0)
if [ "$status" != "$want" ]; then echo "exit status $status, expected $want"; ok=0; fi
[ $ok = 1 ]
