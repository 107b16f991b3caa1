#!/usr/bin/env bash
# Installs the Debian packages Veltora needs, when they are missing: what
# building and running the plug-in and the veltora host need, and with --dev
# also what the tests, the sanitizer and fuzz builds, the 32-bit layout check
# and the benchmarks need; with --windows what the Windows cross builds need
# (the mingw-w64 toolchains, wine64, and a deb-src entry for the codec sources
# that scripts/windows_codecs.sh builds). Safe to run again: it installs only
# what is absent and adds the deb-src entry once.
# Usage: scripts/setup.sh [--dev | --windows]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libturbojpeg0-dev libjpeg62-turbo-dev libpng-dev libtiff-dev libgif-dev
  libpixman-1-dev libcairo2-dev libfmt-dev libcli11-dev nlohmann-json3-dev
)
dev_packages=(
  clang libclang-rt-14-dev g++-multilib
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg-turbo-progs libimage-exiftool-perl exiv2 libexiv2-dev libexif-dev imagemagick valgrind
  gcovr
  strace
)
# googletest gives the sources the Windows test suite is built from; nasm
# libjpeg-turbo's SIMD code; meson pixman's build; dpkg-dev `apt-get source`.
windows_packages=(
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64
  googletest nasm meson dpkg-dev
)

case "${1:-}" in
  "") ;;
  --dev) packages+=("${dev_packages[@]}") ;;
  --windows) packages+=("${windows_packages[@]}") ;;
  *) echo "usage: $0 [--dev | --windows]" >&2; exit 2 ;;
esac

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
need_update=0

# The codec sources come from the suite the machine already installs from.
sources=/etc/apt/sources.list.d/veltora-deb-src.sources
if [ "${1:-}" = --windows ] && [ ! -f "$sources" ]; then
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
    "$suite" /usr/share/keyrings/debian-archive-keyring.gpg | "${sudo_cmd[@]}" tee "$sources" >/dev/null
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  need_update=1
fi
if ((need_update)); then
  "${sudo_cmd[@]}" apt-get update -qq
fi
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
