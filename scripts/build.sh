#!/usr/bin/env bash
# Configures and builds Veltora into build/ (warnings are errors).
# Usage: scripts/build.sh [build-dir] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTORA_WERROR=ON "$@" >/dev/null
cmake --build "$dir"
