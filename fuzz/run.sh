#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a bounded
# time, seeded with the real corpus and the kept findings beside the project
# and the target's regression inputs. New inputs go to a scratch directory; a
# crash fails the run and leaves its input in <build dir>/crashes/.
#
#   fuzz/run.sh                       CI: every target for FUZZ_SECONDS (default 60)
#                                     and at most FUZZ_RUNS inputs (default 30000)
#                                     from FUZZ_SEED (default 1): the same run every
#                                     time, so CI does not pass or fail by chance
#   fuzz/run.sh --minutes 60          before a release: every target for an hour
#   fuzz/run.sh --build-dir DIR NAME  only the named targets, built in DIR
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
seed=${FUZZ_SEED:-1}
runs=${FUZZ_RUNS:-30000}
build="build-fuzz"
names=()
usage() { echo "usage: fuzz/run.sh [--minutes N] [--build-dir DIR] [target...]" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage; seconds=$(($2 * 60)); runs=-1; seed=${FUZZ_SEED:-0}; shift 2 ;;
    --build-dir) [ -n "${2:-}" ] || usage; build=$2; shift 2 ;;
    -*) usage ;;
    *) names+=("$1"); shift ;;
  esac
done
# Line tables only (-g1): enough for the crash reports' stack traces.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DVELTORA_FUZZ=ON -DVELTORA_TESTS=OFF -DVELTORA_BENCH=OFF >/dev/null
cmake --build "$build" ${names[@]+--target "${names[@]}"}
mkdir -p "$build/crashes"
if [ ${#names[@]} -eq 0 ]; then
  for target in "$build"/fuzz/*_fuzzer; do names+=("$(basename "$target")"); done
fi
status=0
for name in "${names[@]}"; do
  target=$build/fuzz/$name
  [ -x "$target" ] || continue
  scratch=$(mktemp -d)
  seeds=()
  for dir in ../shared/corpus ../shared/fuzz-findings "fuzz/regressions/$name"; do
    if [ -d "$dir" ]; then seeds+=("$dir"); fi
  done
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -seed="$seed" -runs="$runs" -max_len=262144 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$build/crashes/$name-" -print_final_stats=1 \
      "$scratch" "${seeds[@]}" 2>"$build/$name.log"; then
    tail -n 40 "$build/$name.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/$name.log" || true
  fi
  rm -rf "$scratch"
done
exit $status
