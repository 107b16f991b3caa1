#!/usr/bin/env bash
# Installs the Debian packages Veltora builds, tests and benchmarks with,
# when they are missing. Safe to run again: it installs only what is absent.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev g++-multilib
  libgtest-dev libgmock-dev libbenchmark-dev
  libturbojpeg0-dev libjpeg62-turbo-dev libjpeg-turbo-progs libpng-dev libtiff-dev libgif-dev
  libpixman-1-dev libcairo2-dev libfmt-dev libcli11-dev nlohmann-json3-dev
  libimage-exiftool-perl exiv2 libexiv2-dev libexif-dev imagemagick valgrind
)

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
