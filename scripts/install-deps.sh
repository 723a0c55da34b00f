#!/usr/bin/env bash
# Installs, as root on Debian 12, everything the build and the tests need.
# Safe to run again: apt skips what is there, the capstone source is fetched once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

need_root() { [ "$(id -u)" = 0 ] || { echo "install-deps: run as root (apt-get)" >&2; exit 1; }; }

# Source entries beside the machine's own package entries, with the same URIs,
# suites, components and signing key, so that whichever mirror the machine
# uses serves the sources too. Only entries of this release's suites are
# copied: a third-party repository may serve no sources and stop apt-get update.
add_source_entries() {
  local codename dir=/etc/apt/sources.list.d
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "install-deps: no release codename in /etc/os-release" >&2; exit 1; }
  local suite="(^|[ \t])$codename(-[a-z]+)?([ \t]|$)"
  shopt -s nullglob
  local stanzas=("$dir"/*.sources) lines=(/etc/apt/sources.list "$dir"/*.list)
  shopt -u nullglob
  # deb822 stanzas are copied whole (a Signed-By that holds the key itself
  # included), with Types: deb-src.
  if [ ${#stanzas[@]} -gt 0 ]; then
    awk -v suite="$suite" '
      function flush(  i) {
        if (n && types ~ /(^|[ \t])deb([ \t]|$)/ && tolower(enabled) !~ /^(no|false)$/ && suites ~ suite) {
          print "Types: deb-src"
          for (i = 1; i <= n; i++) if (text[i] !~ /^Types:/) print text[i]
          print ""
        }
        n = 0; types = suites = enabled = ""
      }
      FNR == 1 { flush() }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      { text[++n] = $0; value = $0; sub(/^[^:]*:[ \t]*/, "", value) }
      /^Types:/ { types = value }
      /^Suites:/ { suites = value }
      /^Enabled:/ { enabled = value }
      END { flush() }
    ' "${stanzas[@]}" > "$dir/korvane-deb-src.sources.new"
  else
    : > "$dir/korvane-deb-src.sources.new"
  fi
  # One-line entries: "deb [options] URI suite components" becomes "deb-src ...".
  local existing=()
  for f in "${lines[@]}"; do [ -f "$f" ] && [ "$f" != "$dir/korvane-deb-src.list" ] && existing+=("$f"); done
  if [ ${#existing[@]} -gt 0 ]; then
    awk -v suite="$suite" '
      /^[ \t]*deb[ \t]/ {
        rest = $0; sub(/^[ \t]*deb[ \t]+/, "", rest)
        probe = rest; sub(/^\[[^]]*\][ \t]*/, "", probe)
        split(probe, f, /[ \t]+/)
        if (f[2] ~ suite) print "deb-src " rest
      }
    ' "${existing[@]}" > "$dir/korvane-deb-src.list.new"
  else
    : > "$dir/korvane-deb-src.list.new"
  fi
  local kind wrote=0
  for kind in sources list; do
    if [ -s "$dir/korvane-deb-src.$kind.new" ]; then
      mv "$dir/korvane-deb-src.$kind.new" "$dir/korvane-deb-src.$kind"; wrote=1
    else
      rm -f "$dir/korvane-deb-src.$kind.new"
    fi
  done
  [ $wrote = 1 ] || { echo "install-deps: no package entry of '$codename' in the apt sources to take the source entries from" >&2; exit 1; }
}

packages=(
  wine wine32:i386 wine64 fonts-wine
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  cmake ninja-build make g++ clang libclang-rt-14-dev googletest
  xvfb xauth xdotool imagemagick x11-utils python3
  libcapstone-dev dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ] || ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Capstone's sources, for the MinGW build of the disassembler. Fetched once into
# the build tree (never committed).
src="$here/build/third_party"
if ! ls -d "$src"/capstone-*/ >/dev/null 2>&1; then
  need_root
  if ! apt-get source --print-uris capstone >/dev/null 2>&1; then
    add_source_entries
    apt-get update -qq
  fi
  mkdir -p "$src"
  (cd "$src" && apt-get source -qq capstone >/dev/null 2>&1)
  ls -d "$src"/capstone-*/ >/dev/null
fi
echo "install-deps: all packages present"
