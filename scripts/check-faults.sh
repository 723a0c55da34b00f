#!/usr/bin/env bash
# Plants each fault of tests/faults/*/*.patch in the working tree, one at a
# time, rebuilds, runs the tests the fault names, takes the fault out again,
# and prints which tests caught it. A fault no test catches is a gap in the
# tests; one that no longer applies needs its patch renewed.
#
# Usage: scripts/check-faults.sh [PATCH...]   (default: every patch)
# Needs the trees of `scripts/build.sh native win32` (BUILD_DIR as there).
# Where no 32-bit code runs, KORVANE_VM=1 runs the Win32 tests in the
# emulated machine of scripts/vm.sh.
#
# A patch is a `git diff` of the fault, preceded by lines that say what it is
# and which tests are to catch it:
#   # fault: a resume between the check and the suspension is lost
#   # run: native debug_engine_tests
#   # run: win32 debug_run_tests|e2e_run_control
# `run: KIND REGEX` runs the ctest entries of build KIND (native or win32)
# whose names match REGEX; several lines run several sets.
set -uo pipefail
. "$(dirname "$0")/env.sh"
cd "$root"
here=$root/tests/faults

patches=("$@")
[ ${#patches[@]} -gt 0 ] || mapfile -t patches < <(ls "$here"/*/*.patch 2>/dev/null)
[ ${#patches[@]} -gt 0 ] || { echo "no fault patches" >&2; exit 2; }

need_win32=0 vm=0
grep -h '^# run: win32' "${patches[@]}" >/dev/null 2>&1 && need_win32=1
if [ $need_win32 = 1 ] && ! can_run_32bit; then
  if [ "${KORVANE_VM:-0}" != 1 ]; then
    echo "this machine runs no 32-bit code: the Win32 tests of each fault are not run" >&2
    echo "(KORVANE_VM=1 runs them in the emulated machine of scripts/vm.sh)" >&2
    need_win32=skip
  else
    # One emulated machine for every fault's Win32 tests; one that was up
    # already is used and left up. A test too slow there (see test.sh) fails
    # with the fault and without it alike: such a catch proves nothing.
    echo "this machine runs no 32-bit code: the Win32 tests run in an emulated machine" >&2
    vm=1
    if ! bash "$root/scripts/vm.sh" status; then
      vm=2
      bash "$root/scripts/vm.sh" start || { echo "the emulated machine did not start" >&2; exit 2; }
    fi
  fi
fi
[ $need_win32 = 1 ] && [ $vm = 0 ] && start_wine

current=
restore() {
  if [ -n "$current" ]; then git apply -R "$current" 2>/dev/null; current=; fi
}
cleanup() {
  restore
  if [ $vm = 2 ]; then bash "$root/scripts/vm.sh" stop
  elif [ $need_win32 = 1 ] && [ $vm = 0 ]; then stop_wine; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log=$(mktemp -d)
caught=0 total=0
results=()
for patch in "${patches[@]}"; do
  name=${patch#"$here"/}; name=${name#tests/faults/}; name=${name%.patch}
  total=$((total + 1))
  if ! git apply --check "$patch" 2>/dev/null; then
    results+=("$name|does not apply")
    continue
  fi
  git apply "$patch" && current=$patch
  found=() built=1
  while read -r _ _ kind regex <&3; do
    [ "$kind" = win32 ] && [ $need_win32 = skip ] && continue
    dir="$BUILD_DIR/$kind"
    if ! cmake --build "$dir" >"$log/build" 2>&1; then built=0; break; fi
    runner=() timeout=300
    # Emulated, a test takes several times as long.
    [ "$kind" = win32 ] && [ $vm != 0 ] && runner=(bash "$root/scripts/vm.sh" exec) timeout=900
    "${runner[@]}" ctest --test-dir "$dir" -R "$regex" --timeout $timeout --output-on-failure >"$log/ctest" 2>&1
    gtests=$(grep -o '\[  FAILED  \] [A-Za-z0-9_/]*\.[A-Za-z0-9_/]*' "$log/ctest" | sed 's/.*\] //' | sort -u)
    entries=$(sed -n '/The following tests FAILED/,$p' "$log/ctest" |
              sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (\(.*\))$/\1 (\2)/p')
    # GoogleTest's own names where it printed them; the ctest entry where it
    # could not (a scenario, a crash, a time-out).
    while read -r t; do [ -n "$t" ] && found+=("$t"); done <<<"$gtests"
    while read -r e; do
      [ -z "$e" ] || [[ "$e" == *"(Not Run)" ]] && continue
      if [ -z "$gtests" ] || [[ "$e" != *"(Failed)" ]] || [[ "$e" == e2e_* ]]; then found+=("$e"); fi
    done <<<"$entries"
  done 3< <(grep "^# run: " "$patch")
  restore
  if [ $built = 0 ]; then
    results+=("$name|does not build")
  elif [ ${#found[@]} -eq 0 ]; then
    results+=("$name|NOT CAUGHT")
  else
    caught=$((caught + 1))
    results+=("$name|$(IFS=,; echo "${found[*]}" | sed 's/,/, /g')")
  fi
  printf '%s: %s\n' "$name" "${results[-1]#*|}" >&2
done
# The trees go back to the code as it stands.
for kind in native win32; do [ -d "$BUILD_DIR/$kind" ] && cmake --build "$BUILD_DIR/$kind" >/dev/null 2>&1; done

printf '\n| fault | caught by |\n|---|---|\n'
for r in "${results[@]}"; do
  printf '| %s | %s |\n' "${r%%|*}" "${r#*|}"
done
printf '\n%d of %d faults caught\n' "$caught" "$total"
rm -rf "$log"
[ "$caught" = "$total" ]
