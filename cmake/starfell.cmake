# starfell_sources(COMMON ... WIN32 ... POSIX ...): adds a folder's files to the
# launcher library, picking the platform files for the target being built.
function(starfell_sources)
  cmake_parse_arguments(ARG "" "" "COMMON;WIN32;POSIX" ${ARGN})
  set(files ${ARG_COMMON})
  if(WIN32)
    list(APPEND files ${ARG_WIN32})
  else()
    list(APPEND files ${ARG_POSIX})
  endif()
  list(TRANSFORM files PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
  target_sources(starfell PRIVATE ${files})
endfunction()

# Warnings for our own code (not for third-party sources).
function(starfell_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()
