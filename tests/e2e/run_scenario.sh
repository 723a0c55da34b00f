#!/usr/bin/env bash
# Runs one end-to-end scenario: starts Korvane.exe from its dist folder, as a
# user would, and has korvane-driver follow the scenario's steps.
# usage: run_scenario.sh SCENARIO DIST DRIVER SAMPLE REBUILT LISTING_TOOL WORK THROWS CODEDATA
# The steps see these variables (Windows paths):
#   TARGET            a copy of the sample target, in a folder whose name has a blank
#   TARGET_OUT        the sample.out that TARGET writes beside itself
#   OTHER             the same program as other.exe in that folder: another target
#   REBUILT           the sample built anew from the same source (other points)
#   UNTRACED          another copy of the sample, in a folder of its own, to run
#                     without the tracer ("run"); UNTRACED_OUT is its sample.out
#   EXPECTED          a folder with the points of TARGET's listing, one file per
#   EXPECTED_REBUILT  kind (CallPtr.txt, Call.txt, JmpPtr.txt, Jmp.txt, StrData.txt),
#                     one address a line, made by the companion disassembler and
#                     listing-tool apart from the tracer; the same for REBUILT
#   FAULT_EIP         the address of the sample's read of address 0 ("fault")
#   WORK              a folder for the scenario's own files (archives), with a
#                     folder "tool" in it
#   TRACE_TOOL        korvane-trace.exe in the tracer's folder
#   THROWS            a copy of the C++ sample that throws and catches, and
#   CODEDATA          of the C sample with data in its code section;
#                     THROWS_UNTRACED and CODEDATA_UNTRACED are copies to run
#                     untraced; each _OUT is the file that copy writes
set -euo pipefail
[ $# = 9 ] || { echo "usage: run_scenario.sh SCENARIO DIST DRIVER SAMPLE REBUILT LISTING_TOOL WORK THROWS CODEDATA" >&2; exit 2; }
# A prefix of the build's (scripts/env.sh), and a display for the window.
[ -n "${WINEPREFIX:-}" ] || { echo "run_scenario: WINEPREFIX is not set (scripts/test.sh sets it)" >&2; exit 2; }
[ -n "${DISPLAY:-}" ] || { echo "run_scenario: no DISPLAY for the tracer's window (scripts/test.sh makes one)" >&2; exit 2; }
scenario=$1 dist=$2 driver=$3 sample=$4 rebuilt=$5 listing_tool=$6 throws=$8 codedata=$9
name=$(basename "$scenario" .steps)
work=$7/$name
winpath() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work/target dir" "$work/untraced" "$work/rebuilt" "$work/tool"
cp "$sample" "$work/target dir/sample.exe"
cp "$sample" "$work/target dir/other.exe"
cp "$sample" "$work/untraced/sample.exe"
cp "$rebuilt" "$work/rebuilt/sample.exe"
mkdir -p "$work/code data" "$work/code data untraced"
for copy in "$work/code data" "$work/code data untraced"; do
  cp "$throws" "$copy/throws.exe"
  cp "$codedata" "$copy/codedata.exe"
done

# The oracle: a program's listing made and converted outside the tracer, its
# points split by kind into the folder given.
cp "$dist/Korvane.dll" "$work/disasm.exe"
kinds=(CallPtr Call JmpPtr Jmp StrData)
oracle() { # PROGRAM FOLDER
  mkdir -p "$2"
  wine "$work/disasm.exe" "$(winpath "$1")" > "$2/raw.lst"
  cp "$2/raw.lst" "$2/listing.dsm" # converted in place below
  wine "$listing_tool" convert "$(winpath "$2/listing.dsm")" > "$2/maps.txt"
  for kind in "${kinds[@]}"; do
    awk -v kind="$kind" '$1 == kind { print $2 }' "$2/maps.txt" > "$2/$kind.txt"
  done
  [ -s "$2/StrData.txt" ] || { echo "run_scenario: the listing of $1 has no string-data points" >&2; exit 1; }
}
oracle "$work/target dir/sample.exe" "$work/expected"
oracle "$work/rebuilt/sample.exe" "$work/expected rebuilt"
# A rebuild that kept every point would prove nothing.
points() { for kind in "${kinds[@]}"; do cat "$1/$kind.txt"; done; }
if cmp -s <(points "$work/expected") <(points "$work/expected rebuilt"); then
  echo "run_scenario: the rebuilt sample has the same points as the sample" >&2; exit 1
fi
fault=$(grep -E '^:[0-9A-F]{8} [0-9A-F]+ +mov eax, dword ptr \[ecx\]' "$work/expected/raw.lst" | cut -c2-9 || true)
[ "$(printf '%s\n' "$fault" | wc -w)" = 1 ] || { echo "run_scenario: no single faulting read in the sample's listing" >&2; exit 1; }

# The tracer makes its own listings on attach: none may be left from before.
rm -f "$dist/AR/sample.dsm" "$dist/AR/other.dsm"
export TARGET TARGET_OUT OTHER REBUILT UNTRACED UNTRACED_OUT EXPECTED EXPECTED_REBUILT FAULT_EIP WORK TRACE_TOOL
export THROWS THROWS_OUT THROWS_UNTRACED THROWS_UNTRACED_OUT CODEDATA CODEDATA_OUT CODEDATA_UNTRACED CODEDATA_UNTRACED_OUT
TARGET=$(winpath "$work/target dir/sample.exe")
TARGET_OUT=$(winpath "$work/target dir/sample.out")
OTHER=$(winpath "$work/target dir/other.exe")
REBUILT=$(winpath "$work/rebuilt/sample.exe")
UNTRACED=$(winpath "$work/untraced/sample.exe")
UNTRACED_OUT=$(winpath "$work/untraced/sample.out")
EXPECTED=$(winpath "$work/expected")
EXPECTED_REBUILT=$(winpath "$work/expected rebuilt")
FAULT_EIP=$fault
WORK=$(winpath "$work")
TRACE_TOOL=$(winpath "$dist/korvane-trace.exe")
for program in throws codedata; do
  upper=${program^^}
  printf -v "$upper" '%s' "$(winpath "$work/code data/$program.exe")"
  printf -v "${upper}_OUT" '%s' "$(winpath "$work/code data/$program.out")"
  printf -v "${upper}_UNTRACED" '%s' "$(winpath "$work/code data untraced/$program.exe")"
  printf -v "${upper}_UNTRACED_OUT" '%s' "$(winpath "$work/code data untraced/$program.out")"
done

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
