#!/usr/bin/env bash
# korvane-trace run on the sample from a script, as CI would: its exports are
# archive-tool's, the target runs as untraced, its own exceptions reach its
# handler and are listed, and every exit code: the target's own, 124 for a
# time limit, 125 for what cannot be traced (no program, bad arguments).
# usage: trace_tool_runs.sh TRACE_TOOL DISASSEMBLER ARCHIVE_TOOL SAMPLE WORK EMULATOR
set -uo pipefail
[ $# = 6 ] || { echo "usage: trace_tool_runs.sh TRACE_TOOL DISASSEMBLER ARCHIVE_TOOL SAMPLE WORK EMULATOR" >&2; exit 2; }
tool=$1 disassembler=$2 archive_tool=$3 sample=$4 work=$5 wine=$6
winpath() { printf 'Z:%s' "${1//\//\\}"; }
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

# A tracer folder of its own (the tool, the disassembler, its AR folder); the
# target in a folder with a blank; runs from a third folder.
rm -rf "$work" && mkdir -p "$work/tracer" "$work/target dir" "$work/run" "$work/untraced"
cp "$tool" "$disassembler" "$work/tracer/"
cp "$sample" "$work/target dir/sample.exe"
cp "$sample" "$work/untraced/sample.exe"
trace() { # EXPECTED_CODE ARGS...: runs the tool in $work/run, its error output in $work/err
  local want=$1; shift
  (cd "$work/run" && "$wine" "$work/tracer/korvane-trace.exe" "$@" </dev/null >"$work/out" 2>"$work/err")
  local code=$?
  [ "$code" = "$want" ] || fail "korvane-trace $* ended with $code, not $want: $(cat "$work/err")"
}
untraced() { (cd "$work/untraced" && "$wine" sample.exe "$@" >/dev/null 2>&1); }
target=$(winpath "$work/target dir/sample.exe")
ar=$work/tracer/AR

# A run: the exports are what archive-tool exports from the archive (its
# counts are the window's, as the archives scenario shows); the target wrote
# what it writes untraced; no progress line on a pipe.
trace 0 --kinds call,jmp --out "$(winpath "$ar/three.ar")" --csv three.csv --drcov three.drcov "$target" 3
untraced 3
cmp -s "$work/run/sample.out" "$work/untraced/sample.out" || fail "the traced sample wrote otherwise than untraced"
grep -q 'hits/s' "$work/err" && fail "a progress line on a pipe: $(cat "$work/err")"
(cd "$ar" && "$wine" "$archive_tool" export --csv three.ar >"$work/three.csv" &&
  "$wine" "$archive_tool" export --drcov three.ar --module "$target" >"$work/three.drcov")
cmp -s "$work/run/three.csv" "$work/three.csv" || fail "the CSV differs from archive-tool's"
cmp -s "$work/run/three.drcov" "$work/three.drcov" || fail "the drcov file differs from archive-tool's"

# The default archive is the target's name in AR; the default kind is Str
# Data alone.
trace 0 --csv str.csv "$target"
[ -f "$ar/sample.ar" ] || fail "no archive AR\\sample.ar by default"
[ "$(awk -F, 'NR > 1 && $4 != 0 { print $2 }' "$work/run/str.csv" | sort -u)" = "Str Data" ] ||
  fail "default kinds: points hit other than Str Data"

# The target's own exit code: it cannot write sample.out where a folder has the name.
rm -f "$work/run/sample.out" && mkdir "$work/run/sample.out"
trace 2 --quiet "$target"
rmdir "$work/run/sample.out"

# An access violation it handles: listed with the registers, passed on, handled.
trace 0 --quiet --kinds call "$target" fault
grep -q 'STATUS_ACCESS_VIOLATION' "$work/err" && grep -q '^ECX = 00000000' "$work/err" ||
  fail "the access violation not listed: $(cat "$work/err")"
grep -q 'fault: handled' "$work/run/sample.out" || fail "the handled fault did not reach the sample's handler"

# A time limit ends a long run as "Cancel Process" does.
trace 124 --quiet --timeout 1 --kinds call,jmp "$target" 999999999
grep -q 'time limit' "$work/err" || fail "the time limit not said: $(cat "$work/err")"

# Nothing to trace: no file, no program, bad arguments; each says why.
trace 125 --quiet "$(winpath "$work/none.exe")"
grep -q 'cannot open the target' "$work/err" || fail "a missing target: $(cat "$work/err")"
printf 'MZ not a program%.0s' {1..10} >"$work/target dir/text.exe"
trace 125 --quiet "$(winpath "$work/target dir/text.exe")"
grep -q 'no PE header' "$work/err" || fail "a file that is no program: $(cat "$work/err")"
trace 125 --kinds calls "$target"
grep -q '"calls" is no kind' "$work/err" && grep -q '^usage:' "$work/err" || fail "bad kinds: $(cat "$work/err")"
trace 125
grep -q 'no target program' "$work/err" || fail "no target: $(cat "$work/err")"
trace 125 --compare "$(winpath "$work/none.ar")" "$target"
grep -q 'cannot open the archive' "$work/err" || fail "a missing compare archive: $(cat "$work/err")"

[ $failures = 0 ] && echo "trace_tool_runs: all passed"
exit $((failures != 0))
