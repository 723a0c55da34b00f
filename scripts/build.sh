#!/usr/bin/env bash
# Builds the Win32 programs (MinGW, run under Wine) and the native, sanitized
# build of the pure logic. Usage: build.sh [win32] [native] [fuzz] [bench]
# (default: win32 native).
set -euo pipefail
. "$(dirname "$0")/env.sh"
kinds=("$@"); [ ${#kinds[@]} -gt 0 ] || kinds=(win32 native)
jobs=$(nproc)

for kind in "${kinds[@]}"; do
  dir="$BUILD_DIR/$kind"
  case "$kind" in
    win32) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
                 -DTRACER_CAPSTONE_SRC="$(capstone_src)" -DTRACER_BENCH=OFF)
           # The Win32 tests run where the packages of install-deps.sh are, maybe
           # in the emulated machine of vm.sh: Debian's Python, not one found
           # first on this PATH.
           [ -x /usr/bin/python3 ] && args+=(-DPython3_EXECUTABLE=/usr/bin/python3) ;;
    native) args=(-DCMAKE_BUILD_TYPE=Debug -DTRACER_SANITIZE=ON -DTRACER_BENCH=OFF) ;;
    fuzz) args=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
                -DTRACER_FUZZ=ON -DTRACER_TESTS=OFF -DTRACER_BENCH=OFF) ;;
    bench) args=(-DCMAKE_BUILD_TYPE=Release -DTRACER_TESTS=OFF -DTRACER_BENCH=ON) ;;
    *) echo "build.sh: unknown build '$kind' (win32, native, fuzz, bench)" >&2; exit 2 ;;
  esac
  cmake -S "$root" -B "$dir" -G Ninja "${args[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs"
done
