#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --dev
bash scripts/build.sh build -DVELTORA_TESTS=ON -DVELTORA_BENCH=ON
ctest --test-dir build --output-on-failure -j2
