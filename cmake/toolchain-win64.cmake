# 64-bit Windows: the twin of the product that runs here, under wine64, with
# the test suite (this machine runs no 32-bit code).
set(VELTORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(VELTORA_WINDOWS_ARCH win64)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# Test discovery and ctest start the test programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
