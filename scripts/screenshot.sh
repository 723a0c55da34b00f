#!/usr/bin/env bash
# Saves a picture of the tracer's window, title bar included, to docs/idle.png
# (or to the file given). Runs Korvane.exe from the dist folder on a Wine
# virtual desktop under a private Xvfb, in a prefix of its own so that the
# desktop setting never reaches the tests' prefix. With a script of
# korvane-driver steps (tools/driver) after a picture's file, the picture is
# taken after the steps; more pairs take more pictures of the same session,
# each after its steps: usage: screenshot.sh [OUT.png [STEPS [OUT.png STEPS]...]]
# The driver's output (print rows, ...) goes to standard output.
set -euo pipefail
. "$(dirname "$0")/env.sh"
outs=() steps=()
[ $# -gt 0 ] || set -- "$root/docs/idle.png"
while [ $# -gt 0 ]; do
  outs+=("$(realpath -m "$1")")
  steps+=("${2:+$(realpath "$2")}")
  shift $(( $# >= 2 ? 2 : 1 ))
done
dist=$BUILD_DIR/win32/dist
[ -f "$dist/Korvane.exe" ] || bash "$root/scripts/build.sh" win32

export WINEPREFIX=$BUILD_DIR/screenshot-prefix
work=$(mktemp -d)
tracer_pid=
cleanup() {
  [ -n "$tracer_pid" ] && kill "$tracer_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  stop_display
  rm -rf "$work"
}
trap cleanup EXIT

# The virtual desktop gives windows their title bars; it is read when the
# wineserver starts, so the server that wrote it must be gone first.
ensure_prefix
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
wineserver -w

# Another display than the caller's: the picture must not depend on it.
unset DISPLAY
ensure_display

# Prints "x y width height" of the first visible window whose title starts
# with the given text, in desktop coordinates, and brings it to the top (a
# live target's console may cover it); fails when there is none.
cat > "$work/findwin.c" <<'C'
#include <stdio.h>
#include <string.h>
#include <windows.h>
static const char* prefix;
static HWND found;
static BOOL CALLBACK Visit(HWND hWnd, LPARAM unused)
{
    char title[256];
    (void)unused;
    if (IsWindowVisible(hWnd) && GetWindowTextA(hWnd, title, sizeof title) > 0 &&
        strncmp(title, prefix, strlen(prefix)) == 0) {
        found = hWnd;
        return FALSE;
    }
    return TRUE;
}
int main(int argc, char** argv)
{
    RECT r;
    if (argc < 2)
        return 2;
    prefix = argv[1];
    EnumWindows(Visit, 0);
    if (!found || !GetWindowRect(found, &r))
        return 1;
    SetWindowPos(found, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(found);
    printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
}
C
i686-w64-mingw32-gcc -O2 -o "$work/findwin.exe" "$work/findwin.c"

(cd "$dist" && exec wine Korvane.exe >/dev/null 2>&1) &
tracer_pid=$!
window_rect() {
  local rect
  for _ in $(seq 1 100); do
    rect=$(wine "$work/findwin.exe" "Korvane - " 2>/dev/null | tr -d '\r') && [ -n "$rect" ] && { echo "$rect"; return 0; }
    sleep 0.2
  done
  echo "screenshot.sh: the tracer's window did not appear" >&2; return 1
}
window_rect >/dev/null

for i in "${!outs[@]}"; do
  out=${outs[$i]} step_file=${steps[$i]}
  if [ -n "$step_file" ]; then
    wine "$BUILD_DIR/win32/tools/korvane-driver.exe" "Z:${step_file//\//\\}" |
      tr -d '\r' || { echo "screenshot.sh: the steps of $step_file failed" >&2; exit 1; }
  fi
  rect=$(window_rect)
  read -r x y w h <<<"$rect"
  (( x < 0 )) && { w=$((w + x)); x=0; }
  (( y < 0 )) && { h=$((h + y)); y=0; }
  sleep 1 # let it paint

  mkdir -p "$(dirname "$out")"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$work/shot.png"
  convert "$work/shot.png" -strip "$out"
  echo "saved $out (${w}x${h})"
done
