# Sourced by the other scripts: paths and the Wine environment.
# BUILD_DIR may be set to keep several build trees apart.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR=${BUILD_DIR:-$root/build}
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
capstone_src() { ls -d "$root"/build/third_party/capstone-*/ 2>/dev/null | head -n 1; }

# A 32-bit prefix inside the build tree, made once, without prompts.
ensure_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1 || true
    # A program that crashes ends there, instead of waiting on a crash debugger
    # that no one answers (a test would hang until its time-out).
    wine reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
    [ -f "$WINEPREFIX/system.reg" ] || { echo "could not create the Wine prefix $WINEPREFIX" >&2; return 1; }
  fi
  # The prefix's registry names Wine's own font files (the bitmap "MS Sans
  # Serif" is sserife.fon, with the real font's metrics), but Debian's wine
  # finds none of them in the prefix: the dialog font falls back to a wider
  # one and the template's texts are cut. Linked into the prefix's Fonts folder.
  local fonts=/usr/share/wine/fonts
  if [ -f "$fonts/sserife.fon" ] && [ ! -e "$WINEPREFIX/drive_c/windows/Fonts/sserife.fon" ]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    ln -sf "$fonts"/* "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
}

# An X display for Wine's windows: the caller's, else a private Xvfb.
xvfb_pid=
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    kill "$xvfb_pid" 2>/dev/null; xvfb_pid=
  done
  echo "could not start Xvfb" >&2; return 1
}
stop_display() { if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi; xvfb_pid=; }

# Wine ready for a run of tests: the prefix, a display and a persistent server,
# the prefix's services started now, detached from our output (started first
# inside ctest they would inherit its pipe and keep it waiting forever).
start_wine() {
  ensure_prefix
  ensure_display
  wineserver -p 2>/dev/null || true
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
stop_wine() { wineserver -k 2>/dev/null || true; stop_display; }

# Whether this machine runs 32-bit x86 programs at all. Some kernels boot with
# their 32-bit emulation off (dmesg: "32-bit emulation disabled"); Wine's
# 32-bit loader cannot start there, and neither can any Win32 test.
can_run_32bit() { wine --version >/dev/null 2>&1; }
