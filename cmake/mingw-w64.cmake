# Shared part of the Windows cross toolchains (toolchain-win32.cmake and
# toolchain-win64.cmake set VELTORA_MINGW_TRIPLE and the processor first).
# The posix-thread variants of Debian's mingw-w64 compilers: GoogleTest and
# std::thread need them. Runtimes are linked statically (-static), so the
# DLL and the executables need only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VELTORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTORA_MINGW_TRIPLE}-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# Libraries come from the mingw-w64 sysroot and from the cache folder that
# scripts/windows_deps.sh fills (VELTORA_WINDOWS_DEPS, else the user's cache
# folder, ~/.cache/veltora-windows-deps), never from the Linux system.
if(DEFINED ENV{VELTORA_WINDOWS_DEPS})
  set(veltora_deps_root $ENV{VELTORA_WINDOWS_DEPS})
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(veltora_deps_root $ENV{XDG_CACHE_HOME}/veltora-windows-deps)
else()
  set(veltora_deps_root $ENV{HOME}/.cache/veltora-windows-deps)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${VELTORA_MINGW_TRIPLE} ${veltora_deps_root}/${VELTORA_WINDOWS_ARCH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config (the tests' and the sample generator's libturbojpeg) reads the
# cache's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} ${veltora_deps_root}/${VELTORA_WINDOWS_ARCH}/lib/pkgconfig)
