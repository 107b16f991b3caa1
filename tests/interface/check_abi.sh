#!/usr/bin/env bash
# Compiles the layout assertions, and the host's view of the chief header,
# under the 32-bit model (the hosts' model) and the native one. Exits non-zero
# when either model breaks a layout or a warning appears, or when the 32-bit
# toolchain (g++-multilib) is missing: an unchecked ABI is a failure.
set -u
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
cxx="${CXX:-g++}"
status=0
for model in -m32 ""; do
  label="${model:-native}"
  for source_file in "$root/tests/interface/abi_layout.cpp" "$root/tests/interface/host_view.cpp"; do
    name="$(basename "$source_file" .cpp)"
    # shellcheck disable=SC2086  # an empty model must vanish
    if "$cxx" $model -std=c++20 -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion \
        -Werror -fsyntax-only -I"$root" "$source_file"; then
      echo "abi: $name ($label) ok"
    else
      echo "abi: $name ($label) FAILED" >&2
      status=1
    fi
  done
done
exit "$status"
