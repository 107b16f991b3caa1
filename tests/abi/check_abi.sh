#!/usr/bin/env bash
# Compiles the layout assertions under the 32-bit model (the hosts' model) and
# the native one. Exits non-zero when either model breaks a layout, or when the
# 32-bit toolchain (g++-multilib) is missing: an unchecked ABI is a failure.
set -u
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cxx="${CXX:-g++}"
source_file="$root/tests/abi/abi_layout.cpp"
status=0
for model in -m32 ""; do
  label="${model:-native}"
  # shellcheck disable=SC2086  # an empty model must vanish
  if "$cxx" $model -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$root" "$source_file"; then
    echo "abi: $label layout ok"
  else
    echo "abi: $label layout FAILED" >&2
    status=1
  fi
done
exit "$status"
