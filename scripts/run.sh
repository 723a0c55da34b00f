#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds the tracer and starts it
# from its own folder (Korvane.exe, the companion disassembler Korvane.dll and
# the AR folder). With a usable DISPLAY the window opens there. Without one, a
# short demonstration runs under a private Xvfb: korvane-driver attaches the
# sample target, ticks every kind, runs it, runs it again in compare mode, and
# after each run the top rows of the hit list and a screenshot are printed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/install-deps.sh"
. "$here/env.sh"
bash "$here/build.sh" win32
dist="$BUILD_DIR/win32/dist"
[ -f "$dist/Korvane.exe" ] || { echo "run: $dist/Korvane.exe was not built" >&2; exit 1; }
mkdir -p "$dist/AR"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  ensure_prefix
  echo "run: starting the tracer on $DISPLAY from $dist"
  cd "$dist" && exec wine Korvane.exe
fi

# The sample target of the end-to-end tests, in a folder of its own: it
# writes sample.out beside itself.
demo=$BUILD_DIR/demo
mkdir -p "$demo"
cp "$BUILD_DIR/win32/tests/e2e/sample.exe" "$demo/sample.exe"
export TARGET="Z:${demo//\//\\}\\sample.exe"
echo "run: no display here, so a short demonstration runs under Xvfb on a Wine virtual desktop:"
echo "run: $dist/Korvane.exe traces $demo/sample.exe with every kind ticked,"
echo "run: first with the argument 5 (its loop goes round 5 times), then \"Run File\" with 8 in"
echo "run: compare mode (Comp = the first run's hits - this run's). After each run, the 12 points"
echo "run: hit most and a screenshot:"
bash "$here/screenshot.sh" "$demo/first-run.png" "$root/docs/first-run.steps" \
  "$demo/compare-run.png" "$root/docs/compare-run.steps"
echo "run: screenshots: $demo/first-run.png and $demo/compare-run.png"
