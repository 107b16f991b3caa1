#!/usr/bin/env bash
# Builds the libraries the Windows builds link statically, from Debian's
# source packages, with the mingw-w64 toolchains, into a cache folder that
# every later build reuses: libjpeg-turbo, libpng, libtiff, giflib, pixman,
# fmt, CLI11 and nlohmann-json (headers and CMake packages), and for win64
# GoogleTest from /usr/src/googletest. zlib is Debian's libz-mingw-w64-dev.
# A library already in the cache is not built again (delete its stamp file,
# <cache>/<arch>/.built-<name>, to rebuild it).
# Usage: scripts/windows_deps.sh win32|win64
# The cache is $VELTORA_WINDOWS_DEPS, else the user's cache folder
# (~/.cache/veltora-windows-deps), which clones and build trees share.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=${1:-}
case "$arch" in
  win32) triple=i686-w64-mingw32 cpu_family=x86 cpu=i686 ;;
  win64) triple=x86_64-w64-mingw32 cpu_family=x86_64 cpu=x86_64 ;;
  *) echo "usage: $0 win32|win64" >&2; exit 2 ;;
esac
cache=${VELTORA_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/veltora-windows-deps}
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
export VELTORA_WINDOWS_DEPS=$cache
prefix=$cache/$arch
src=$cache/src
work=$cache/work-$arch
toolchain=$root/cmake/toolchain-$arch.cmake
sysroot=/usr/$triple
mkdir -p "$prefix" "$src" "$work"

# Debian's source packages, fetched and unpacked once for both architectures.
packages=(libjpeg-turbo libpng1.6 tiff giflib pixman fmtlib cli11 nlohmann-json3)
source_dir() { # the unpacked tree of one source package
  find "$src" -maxdepth 1 -mindepth 1 -type d -name "$1-*" | head -n 1
}
fetch_sources() {
  local missing=()
  for p in "${packages[@]}"; do
    [ -n "$(source_dir "$p")" ] || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  # This mirror does not serve pixman's Debian diff (a 1.0-format package);
  # its upstream tarball is then built as Debian ships it.
  (cd "$src" && apt-get source --download-only "${missing[@]}" >/dev/null 2>&1) || true
  for p in "${missing[@]}"; do
    local dsc
    dsc=$(find "$src" -maxdepth 1 -name "${p}_*.dsc" | head -n 1)
    [ -n "$dsc" ] || { echo "windows_deps: no source package $p (deb-src entry: scripts/setup.sh --windows)" >&2; exit 1; }
    if ! (cd "$src" && dpkg-source --no-check -x "$dsc" >/dev/null 2>&1); then
      local orig version
      orig=$(find "$src" -maxdepth 1 -name "${p}_*.orig.tar.*" | head -n 1)
      version=$(basename "$orig" | sed -E "s/^${p}_(.*)\.orig\.tar\..*$/\1/")
      [ -n "$orig" ] || { echo "windows_deps: cannot unpack $p" >&2; exit 1; }
      mkdir -p "$src/$p-$version"
      tar -xf "$orig" -C "$src/$p-$version" --strip-components=1
    fi
  done
}

# Runs a build step with its output in <work>/<name>.log, shown when it fails.
logged() { # name command...
  local name=$1
  shift
  if ! "$@" >>"$work/$name.log" 2>&1; then
    tail -n 30 "$work/$name.log" >&2
    echo "windows_deps: $arch $name failed (log: $work/$name.log)" >&2
    exit 1
  fi
}

built() { [ -f "$prefix/.built-$1" ]; }
mark_built() { touch "$prefix/.built-$1"; }

cmake_install() { # name source-dir [cmake options...]
  local name=$1 dir=$2
  shift 2
  rm -f "$work/$name.log"
  logged "$name" cmake -S "$dir" -B "$work/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DCMAKE_POSITION_INDEPENDENT_CODE=OFF -Wno-dev "$@"
  logged "$name" cmake --build "$work/$name"
  logged "$name" cmake --install "$work/$name"
}

zlib=(-DZLIB_INCLUDE_DIR="$sysroot/include" -DZLIB_LIBRARY="$sysroot/lib/libz.a")

build_libjpeg_turbo() {
  cmake_install libjpeg-turbo "$(source_dir libjpeg-turbo)" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=ON -DWITH_JAVA=OFF
}
build_libpng() {
  cmake_install libpng "$(source_dir libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF "${zlib[@]}"
}
build_tiff() {
  # The codecs the corpus's TIFF files use (none, LZW, PackBits, deflate,
  # JPEG); the optional external ones (JBIG, LZMA, ZSTD, WebP, LERC) are off.
  cmake_install tiff "$(source_dir tiff)" -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF \
    -Dtiff-docs=OFF -Dtiff-opengl=OFF -Dcxx=OFF -Dzlib=ON -Djpeg=ON -Dlibdeflate=OFF -Djbig=OFF \
    -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF "${zlib[@]}" \
    -DJPEG_INCLUDE_DIR="$prefix/include" -DJPEG_LIBRARY="$prefix/lib/libjpeg.a"
}
build_giflib() {
  # giflib ships a plain Makefile: its library is these eight C files.
  local dir out
  dir=$(source_dir giflib)
  out=$work/giflib
  mkdir -p "$out"
  for f in dgif_lib egif_lib gifalloc gif_err gif_font gif_hash openbsd-reallocarray quantize; do
    logged giflib "$triple-gcc-posix" -O2 -c "$dir/$f.c" -o "$out/$f.o"
  done
  rm -f "$out/libgif.a"
  logged giflib "$triple-ar" rcs "$out/libgif.a" "$out"/*.o
  install -D -m 644 "$out/libgif.a" "$prefix/lib/libgif.a"
  install -D -m 644 "$dir/gif_lib.h" "$prefix/include/gif_lib.h"
}
build_pixman() {
  local cross=$work/meson-cross.ini
  cat >"$cross" <<EOF
[binaries]
c = '$triple-gcc-posix'
ar = '$triple-ar'
strip = '$triple-strip'
windres = '$triple-windres'
[host_machine]
system = 'windows'
cpu_family = '$cpu_family'
cpu = '$cpu'
endian = 'little'
EOF
  rm -rf "$work/pixman" "$work/pixman.log"
  logged pixman meson setup "$work/pixman" "$(source_dir pixman)" --cross-file "$cross" \
    --prefix "$prefix" --libdir lib --buildtype release --default-library static \
    -Dtests=disabled -Dgtk=disabled -Dlibpng=disabled -Dopenmp=disabled
  logged pixman meson compile -C "$work/pixman"
  logged pixman meson install -C "$work/pixman"
  # pixman marks its functions dllexport even in a static build; without
  # these export directives the DLL that links it exports only its own names.
  logged pixman "$triple-objcopy" --remove-section=.drectve "$prefix/lib/libpixman-1.a"
}
build_fmt() {
  cmake_install fmt "$(source_dir fmtlib)" -DFMT_DOC=OFF -DFMT_TEST=OFF -DFMT_INSTALL=ON
}
build_cli11() {
  cmake_install cli11 "$(source_dir cli11)" -DCLI11_BUILD_TESTS=OFF -DCLI11_BUILD_EXAMPLES=OFF \
    -DCLI11_BUILD_DOCS=OFF -DCLI11_INSTALL=ON
}
build_nlohmann_json() {
  cmake_install nlohmann-json "$(source_dir nlohmann-json3)" -DJSON_BuildTests=OFF -DJSON_Install=ON
}
build_googletest() {
  cmake_install googletest /usr/src/googletest -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON
}

fetch_sources
libraries=(libjpeg_turbo libpng tiff giflib pixman fmt cli11 nlohmann_json)
[ "$arch" = win64 ] && libraries+=(googletest)
for lib in "${libraries[@]}"; do
  if ! built "$lib"; then
    start=$SECONDS
    "build_$lib"
    mark_built "$lib"
    echo "windows_deps: $arch $lib built in $((SECONDS - start)) s"
  fi
done
