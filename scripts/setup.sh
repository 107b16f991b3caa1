#!/usr/bin/env bash
# Installs the Debian packages Veltora needs, when they are missing: what
# building and running the plug-in and the veltora host need, and with --dev
# also what the tests, the sanitizer and fuzz builds, the 32-bit layout check
# and the benchmarks need. Safe to run again: it installs only what is absent.
# Usage: scripts/setup.sh [--dev]
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

case "${1:-}" in
  "") ;;
  --dev) packages+=("${dev_packages[@]}") ;;
  *) echo "usage: $0 [--dev]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
