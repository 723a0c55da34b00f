#!/usr/bin/env bash
# Installs, as root on Debian 12, everything the build and the tests need.
# Safe to run again: apt skips what is there, the capstone source is fetched once.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

need_root() { [ "$(id -u)" = 0 ] || { echo "install-deps: run as root (apt-get)" >&2; exit 1; }; }

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
  if ! apt-get source --print-uris capstone >/dev/null 2>&1 || \
     ! grep -rqs 'deb-src' /etc/apt/sources.list.d/ /etc/apt/sources.list 2>/dev/null; then
    cat > /etc/apt/sources.list.d/debian-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt-get update -qq
  fi
  mkdir -p "$src"
  (cd "$src" && apt-get source -qq capstone >/dev/null 2>&1)
  ls -d "$src"/capstone-*/ >/dev/null
fi
echo "install-deps: all packages present"
