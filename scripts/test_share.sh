#!/usr/bin/env bash
# Prints the share of test code among all C++ code lines of the project (lines
# that are neither blank nor only a // comment):
# tests/ (test support and fixtures included) against every C++ file outside
# the build directories. The house keeps it between a quarter and a third.
# Usage: test_share.sh [project root]
set -euo pipefail
cd "${1:-$(dirname "${BASH_SOURCE[0]}")/..}"
count() {
  git ls-files -- "$@" | grep -E '\.(cpp|h)$' | tr '\n' '\0' | xargs -0 cat | grep -v '^[[:space:]]*$' | grep -cv '^[[:space:]]*//'
}
tests=$(count tests)
all=$(count .)
printf 'test lines %d of %d C++ code lines: %d.%d%%\n' "$tests" "$all" \
  $((tests * 100 / all)) $((tests * 1000 / all % 10))
