#!/usr/bin/env bash
# Runs one command-line case: cases/NAME.sh runs in a fresh scratch folder
# holding in.jpg (the sample photograph), with $VELMORA the program (after the
# exec prefix, e.g. wine, when one is given); its stdout, stderr and exit
# status must equal NAME.stdout, NAME.stderr and NAME.exit (a missing file
# means empty output, exit status 0). A case that cannot apply exits 77 with
# the reason on stderr and is skipped. Cases see VELMORA_WINDOWS=1 when the
# program is the Windows one.
#   run_case.sh VELMORA SAMPLE CASES_DIR NAME SCRATCH [EXEC_PREFIX...]
set -uo pipefail
velmora=$1 sample=$2 cases=$3 name=$4 scratch=$5
shift 5
rm -rf "$scratch" && mkdir -p "$scratch/work" && cp "$sample" "$scratch/work/in.jpg"
cd "$scratch/work"
export VELMORA_WINDOWS=""
case "$velmora" in *.exe) VELMORA_WINDOWS=1 ;; esac
VELMORA="${*:+$* }$velmora" bash "$cases/$name.sh" >../stdout.txt 2>../stderr.txt
status=$?
if [ "$status" = 77 ]; then echo "skipped: $(cat ../stderr.txt)"; exit 77; fi
expect() { if [ -f "$cases/$name.$1" ]; then cat "$cases/$name.$1"; else printf '%s' "$2"; fi; }
ok=1
if ! diff -u <(expect stdout "") ../stdout.txt; then echo "stdout differs"; ok=0; fi
if ! diff -u <(expect stderr "") ../stderr.txt; then echo "stderr differs"; ok=0; fi
want=$(expect exit 0)
if [ "$status" != "$want" ]; then echo "exit status $status, expected $want"; ok=0; fi
[ $ok = 1 ]
