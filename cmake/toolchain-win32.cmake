# 32-bit Windows, the plug-in's own platform: the product build.
set(VELTORA_MINGW_TRIPLE i686-w64-mingw32)
set(VELTORA_WINDOWS_ARCH win32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
