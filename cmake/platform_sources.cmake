# veltora_platform_sources(<var> <source>...): the sources of a target whose
# modules may have one implementation per platform. On Windows a module's
# `<name>_win32.cpp`, where it exists, stands in for its `<name>.cpp` (the
# POSIX one); elsewhere the `_win32` files are never compiled.
function(veltora_platform_sources var)
  set(chosen)
  foreach(source IN LISTS ARGN)
    string(REGEX REPLACE "\\.cpp$" "_win32.cpp" win32_source ${source})
    if(WIN32 AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${win32_source})
      list(APPEND chosen ${win32_source})
    else()
      list(APPEND chosen ${source})
    endif()
  endforeach()
  set(${var} ${chosen} PARENT_SCOPE)
endfunction()
