#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time (FUZZ_SECONDS each, default 60),
# starting from its seed corpus in tests/fuzz/corpus/NAME when there is one.
set -euo pipefail
. "$(dirname "$0")/env.sh"
seconds=${FUZZ_SECONDS:-60}
dir="$BUILD_DIR/fuzz/tests/fuzz"
shopt -s nullglob
targets=("$dir"/*_fuzz)
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets built in $dir"; exit 0; }
status=0
for t in "${targets[@]}"; do
  name=$(basename "$t")
  work="$BUILD_DIR/fuzz/corpus/$name"; mkdir -p "$work"
  seeds=(); [ -d "$root/tests/fuzz/corpus/$name" ] && seeds=("$root/tests/fuzz/corpus/$name")
  log="$BUILD_DIR/fuzz/$name.log"
  if "$t" -max_total_time="$seconds" -print_final_stats=1 "$work" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
    echo "fuzz: $name ran clean: $runs executions in ${seconds}s"
  else
    echo "fuzz: $name FAILED; log follows"; tail -n 60 "$log"; status=1
  fi
done
exit $status
