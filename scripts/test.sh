#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds everything and runs every
# test: the native tests under the sanitizers, the Win32 tests under Wine on a
# private X display, and each fuzz target for a bounded time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/install-deps.sh"
. "$here/env.sh"
bash "$here/build.sh" native win32 fuzz

status=0
echo "== native tests (ASan/UBSan)"
ctest --test-dir "$BUILD_DIR/native" --output-on-failure --timeout 900 -j "$(nproc)" || status=1

if can_run_32bit; then
  start_wine
  trap stop_wine EXIT
  echo "== Win32 tests (Wine)"
  ctest --test-dir "$BUILD_DIR/win32" --output-on-failure --timeout 900 || status=1
elif [ "${KORVANE_VM:-1}" != 0 ]; then
  # This machine runs no 32-bit x86 code (its kernel boots with 32-bit
  # emulation off): the tests run under Wine in an emulated Debian machine
  # that does, on the same build tree (scripts/vm.sh). Emulated, real
  # debuggee runs take 20-50 times as long: one scenario of a real run is
  # run with its time limits scaled, the other scenarios and the real-run
  # tests are left out (KORVANE_VM_ALL=1 runs them too, for an hour or more).
  echo "== Win32 tests (Wine, in an emulated machine: this one runs no 32-bit code)"
  slow='^(e2e_|debug_run_tests)' real='^e2e_run_and_compare$'
  [ "${KORVANE_VM_ALL:-0}" = 1 ] && real=$slow
  if bash "$here/vm.sh" start; then
    bash "$here/vm.sh" exec ctest --test-dir "$BUILD_DIR/win32" --output-on-failure --timeout 900 -E "$slow" || status=1
    echo "== a real run, emulated (time limits x30)"
    bash "$here/vm.sh" exec env KORVANE_TIME_SCALE=30 ctest --test-dir "$BUILD_DIR/win32" --output-on-failure \
      --timeout 3600 -R "$real" || status=1
    bash "$here/vm.sh" stop
    [ "$real" = "$slow" ] || echo "   NOT RUN emulated (too slow there): $(ctest --test-dir "$BUILD_DIR/win32" -N -R "$slow" \
      -E "$real|^e2e_unmanaged_windows$" | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' ')"
  else
    echo "   NOT RUN: the emulated machine did not start (scripts/vm.sh)"
    [ "${KORVANE_REQUIRE_WINE:-0}" = 1 ] && status=1
  fi
else
  echo "== Win32 tests (Wine): NOT RUN"
  echo "   This machine runs no 32-bit x86 code (its kernel boots with 32-bit emulation"
  echo "   off), so Wine cannot start any Win32 program here, and KORVANE_VM=0 keeps"
  echo "   them out of an emulated machine. They were built, not run."
  [ "${KORVANE_REQUIRE_WINE:-0}" = 1 ] && status=1
fi
echo "== fuzz targets"
bash "$here/fuzz.sh" || status=1
exit $status
