#!/usr/bin/env bash
# Sets up, builds and runs the veltora host on the bundled sample picture:
# which plug-in it loaded, then the main job, `veltora info`: the picture, its
# preview and every EXIF attribute record. Installs and builds only what
# running needs: the plug-in, the host and the sample picture (no tests, no
# benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DVELTORA_TESTS=OFF -DVELTORA_BENCH=OFF veltora
./build/veltora version
./build/veltora info build/veltora-sample.jpg
