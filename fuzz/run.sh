#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer and runs each for a
# bounded time (FUZZ_SECONDS, default 60) seeded with the real corpus beside
# the project. New inputs go to a scratch directory; a crash fails the run
# and leaves its input in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELTORA_FUZZ=ON -DVELTORA_TESTS=OFF -DVELTORA_BENCH=OFF >/dev/null
cmake --build build-fuzz
mkdir -p build-fuzz/crashes
status=0
for target in build-fuzz/fuzz/*_fuzzer; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  scratch=$(mktemp -d)
  seeds=()
  [ -d ../shared/corpus ] && seeds+=(../shared/corpus)
  [ -d "fuzz/regressions/$name" ] && seeds+=("fuzz/regressions/$name")
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -max_len=262144 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix=build-fuzz/crashes/"$name"- -print_final_stats=1 \
      "$scratch" "${seeds[@]}" 2>build-fuzz/"$name".log; then
    tail -n 40 build-fuzz/"$name".log
    status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' build-fuzz/"$name".log || true
  fi
  rm -rf "$scratch"
done
exit $status
