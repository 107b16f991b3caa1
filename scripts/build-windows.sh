#!/usr/bin/env bash
# Cross-builds Veltora for Windows with Debian's mingw-w64 toolchains, after
# installing what that needs (scripts/setup.sh --windows) and building the
# static libraries into the cache (scripts/windows_deps.sh).
#   win32: the product, build-win32/Veltora.pcp (PE32, i686) and veltora.exe;
#          then the record layout assertions compiled by the 32-bit Windows
#          compiler and the DLL's export and import tables checked.
#   win64: the twin that runs here, with the test suite, in build-win64
#          (scripts/test-windows.sh runs it under wine64).
# Usage: scripts/build-windows.sh win32|win64 [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-}
case "$arch" in
  win32) tests=OFF ;;
  win64) tests=ON ;;
  *) echo "usage: $0 win32|win64 [target...]" >&2; exit 2 ;;
esac
shift
bash scripts/setup.sh --windows
bash scripts/windows_deps.sh "$arch"
# Optimised as the Linux build, without debug information: these builds are
# inspected and run under Wine, not debugged, and build and link faster so.
bash scripts/build.sh "build-$arch" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-$arch.cmake" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DVELTORA_TESTS=$tests -DVELTORA_BENCH=OFF "$@"
if [ "$arch" = win32 ] && [ $# -eq 0 ]; then
  CXX=i686-w64-mingw32-g++-posix bash tests/interface/check_abi.sh
  bash tests/plugin/check_windows_dll.sh build-win32/Veltora.pcp
fi
