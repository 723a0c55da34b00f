#!/usr/bin/env bash
# Runs one end-to-end scenario: starts Korvane.exe from its dist folder, as a
# user would, and has korvane-driver follow the scenario's steps.
# usage: run_scenario.sh SCENARIO DIST DRIVER SAMPLE LISTING_TOOL WORK
# The steps see these variables (Windows paths):
#   TARGET    a copy of the sample target, in a folder whose name has a blank
#   EXPECTED  a folder with the points of the target's listing, one file per
#             kind (CallPtr.txt, Call.txt, JmpPtr.txt, Jmp.txt, StrData.txt),
#             one address a line, made by the companion disassembler and
#             listing-tool apart from the tracer
set -euo pipefail
[ $# = 6 ] || { echo "usage: run_scenario.sh SCENARIO DIST DRIVER SAMPLE LISTING_TOOL WORK" >&2; exit 2; }
# A prefix of the build's (scripts/env.sh), and a display for the window.
[ -n "${WINEPREFIX:-}" ] || { echo "run_scenario: WINEPREFIX is not set (scripts/test.sh sets it)" >&2; exit 2; }
[ -n "${DISPLAY:-}" ] || { echo "run_scenario: no DISPLAY for the tracer's window (scripts/test.sh makes one)" >&2; exit 2; }
scenario=$1 dist=$2 driver=$3 sample=$4 listing_tool=$5
name=$(basename "$scenario" .steps)
work=$6/$name
winpath() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work/expected" "$work/target dir"
cp "$sample" "$work/target dir/sample.exe"

# The oracle: the target's listing made and converted outside the tracer.
cp "$dist/Korvane.dll" "$work/disasm.exe"
wine "$work/disasm.exe" "$(winpath "$work/target dir/sample.exe")" > "$work/sample.dsm"
wine "$listing_tool" convert "$(winpath "$work/sample.dsm")" > "$work/maps.txt"
for kind in CallPtr Call JmpPtr Jmp StrData; do
  awk -v kind="$kind" '$1 == kind { print $2 }' "$work/maps.txt" > "$work/expected/$kind.txt"
done
[ -s "$work/expected/StrData.txt" ] || { echo "run_scenario: the sample's listing has no string-data points" >&2; exit 1; }

# The tracer makes its own listing on attach: none may be left from before.
rm -f "$dist/AR/sample.dsm"
export TARGET EXPECTED
TARGET=$(winpath "$work/target dir/sample.exe")
EXPECTED=$(winpath "$work/expected")

start=$(date +%s%N)
(cd "$dist" && exec wine Korvane.exe) >"$work/tracer.log" 2>&1 &
tracer=$!
status=0
wine "$driver" -v "$(winpath "$scenario")" || status=$?

# A scenario ends with the window closed; the program then ends by itself.
# One that is still there after the steps, or after a failed step, is ended here.
timeout 10 tail --pid="$tracer" -f /dev/null || true
if kill -0 "$tracer" 2>/dev/null; then
  [ $status != 0 ] || { echo "run_scenario: Korvane.exe is still running after the last step" >&2; status=1; }
  kill "$tracer" 2>/dev/null || true
  wait "$tracer" 2>/dev/null || true
fi
echo "run_scenario: $name took $(( ($(date +%s%N) - start) / 1000000 )) ms"
exit $status
