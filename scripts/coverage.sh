#!/usr/bin/env bash
# Line coverage of the product code after one ctest run in a --coverage build.
# Product: plugin frame platform exif query edit create info imaging host, and the bottom layers
# bytes and interface; tests, benchmarks and fuzz targets are not counted.
# Needs gcovr (Debian: apt-get install gcovr). Exits 2 when line coverage is
# below the floor: what it was when the floor was set, in whole percent, less
# one point for runs whose timing takes other paths (94.5% when set, in the
# sanitizer build CI measures); VELTORA_COVERAGE_MIN overrides it. Raise the
# floor as coverage grows.
#
#   scripts/coverage.sh [build-dir] [source-dir]
#     build-dir   default: <source-dir>/build-cov
#     source-dir  default: this checkout
#   scripts/coverage.sh --measured build-dir
#     only reads the counts of a --coverage build whose tests have run (CI
#     measures its sanitizer build this way instead of building once more)
set -euo pipefail
measured=false
if [[ "${1:-}" == --measured ]]; then measured=true; shift; fi
source_dir="$(cd "${2:-$(dirname "${BASH_SOURCE[0]}")/..}" && pwd)"
build_dir="${1:-$source_dir/build-cov}"
floor=${VELTORA_COVERAGE_MIN:-93}

if ! $measured; then
cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELTORA_BENCH=OFF \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_C_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build_dir" -j1
find "$build_dir" -name '*.gcda' -delete
# The sample picture is made by the build, not by a test: make it once more so
# that its generator's lines count.
sample_maker="$(find "$build_dir" -name make_sample_picture -type f -perm -u+x -printf '%T@ %p\n' |
  sort -rn | head -n 1 | cut -d' ' -f2-)"
if [[ -n "$sample_maker" ]]; then "$sample_maker" "$build_dir/coverage-sample.jpg"; fi
# A failing test still counts the lines it ran; the failures are listed.
ctest --test-dir "$build_dir" -j1 --timeout 900 || echo "coverage: some tests failed" >&2
fi

filters=()
for dir in plugin frame platform exif query edit create info imaging host bytes interface; do
  [[ -d "$source_dir/$dir" ]] && filters+=(--filter "$source_dir/$dir/")
done
gcovr --root "$source_dir" "${filters[@]}" --object-directory "$build_dir" \
  --gcov-ignore-parse-errors --print-summary --txt "$build_dir/coverage.txt" \
  --fail-under-line "$floor" "$build_dir"
