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
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTORA_WERROR=ON \
  ${options[@]+"${options[@]}"} >/dev/null
cmake --build "$dir" ${targets[@]+"${targets[@]}"}
