#!/usr/bin/env bash
# Prints the share of test code among all C++ lines of the project: tests/
# (test support and fixtures included) against every C++ file outside the
# build directories, counted two ways: non-blank lines, and code lines (also
# without the lines that hold only a // comment). The house keeps the share
# between a quarter and a third.
# Usage: test_share.sh [project root]
set -euo pipefail
cd "${1:-$(dirname "${BASH_SOURCE[0]}")/..}"
files() { git ls-files -- "$@" | grep -E '\.(cpp|h)$' | tr '\n' '\0' | xargs -0 cat; }
non_blank() { files "$@" | grep -cv '^[[:space:]]*$'; }
code() { files "$@" | grep -v '^[[:space:]]*$' | grep -cv '^[[:space:]]*//'; }
share() {
  printf 'test %-15s %d of %d: %d.%d%%\n' "$1" "$2" "$3" $(($2 * 100 / $3)) $(($2 * 1000 / $3 % 10))
}
share "non-blank lines" "$(non_blank tests)" "$(non_blank .)"
share "code lines" "$(code tests)" "$(code .)"
