#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root), builds the tracer and starts it
# from its own folder (Korvane.exe, the companion disassembler Korvane.dll and
# the AR folder). With a usable DISPLAY the window opens there; without one the
# tracer runs under a private Xvfb, a screenshot is saved and its path printed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/install-deps.sh"
. "$here/env.sh"
bash "$here/build.sh" win32
dist="$BUILD_DIR/win32/dist"
[ -f "$dist/Korvane.exe" ] || { echo "run: $dist/Korvane.exe was not built" >&2; exit 1; }
mkdir -p "$dist/AR"
ensure_prefix

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "run: starting the tracer on $DISPLAY from $dist"
  cd "$dist" && exec wine Korvane.exe
fi

ensure_display
# The clean-up must not turn a finished run into a failure.
trap 'set +e; wineserver -k >/dev/null 2>&1; stop_display' EXIT
(cd "$dist" && wine Korvane.exe >/dev/null 2>&1 &)
shot="$BUILD_DIR/korvane-screen.png"
for _ in $(seq 1 100); do
  xdotool search --name '^Korvane' >/dev/null 2>&1 && break
  sleep 0.2
done
sleep 1
import -window root "$shot"
echo "run: no display here, so the tracer ran under Xvfb ($DISPLAY); screenshot: $shot"
