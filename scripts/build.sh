#!/usr/bin/env bash
# Configures and builds Veltora into build/ (warnings are errors): everything,
# or only the targets named.
# Usage: scripts/build.sh [build-dir] [-Doption=value...] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
options=()
targets=()
for arg in "$@"; do
  case "$arg" in
    -D*) options+=("$arg") ;;
    *) targets+=(--target "$arg") ;;
  esac
done
# ccache, where installed, lets build trees of the same sources share objects.
if command -v ccache >/dev/null; then
  options=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
    ${options[@]+"${options[@]}"})
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTORA_WERROR=ON \
  ${options[@]+"${options[@]}"} >/dev/null
cmake --build "$dir" ${targets[@]+"${targets[@]}"}
