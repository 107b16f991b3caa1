#!/usr/bin/env bash
# Sets up, builds and runs the veltora host on the bundled sample picture.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build
./build/veltora version
./build/veltora supported
