# Dependencies: Dear ImGui and miniz from their Debian source packages for both
# targets; libpng and GoogleTest built from source for Windows, Debian's for Linux;
# libsodium and zstd built by scripts/setup.sh for Windows, Debian's for Linux.
set(TP "${STARFELL_THIRD_PARTY}")

add_library(imgui STATIC
  ${TP}/imgui/imgui.cpp ${TP}/imgui/imgui_draw.cpp ${TP}/imgui/imgui_tables.cpp
  ${TP}/imgui/imgui_widgets.cpp ${TP}/imgui/imgui_demo.cpp)
target_include_directories(imgui SYSTEM PUBLIC ${TP}/imgui ${TP}/imgui/backends)

add_library(miniz STATIC ${TP}/miniz/miniz.c)
target_include_directories(miniz SYSTEM PUBLIC ${TP}/miniz)
# 64-bit file offsets on 32-bit targets too, so archives past 2 GiB still open.
target_compile_definitions(miniz PUBLIC MINIZ_NO_ZLIB_COMPATIBLE_NAMES _LARGEFILE64_SOURCE)
# Entries are checked against their CRC with zlib's crc32, several times faster
# than miniz's byte-at-a-time table: the readers of update/ check it themselves.
target_compile_definitions(miniz PUBLIC MINIZ_DISABLE_ZIP_READER_CRC32_CHECKS)

add_library(starfell_platform_libs INTERFACE)

if(WIN32)
  find_library(MINGW_ZLIB NAMES libz.a z REQUIRED)
  target_link_libraries(miniz PUBLIC ${MINGW_ZLIB})
  set(PNG_SRC png.c pngerror.c pngget.c pngmem.c pngpread.c pngread.c pngrio.c
      pngrtran.c pngrutil.c pngset.c pngtrans.c pngwio.c pngwrite.c pngwtran.c pngwutil.c)
  list(TRANSFORM PNG_SRC PREPEND "${TP}/libpng/")
  configure_file(${TP}/libpng/scripts/pnglibconf.h.prebuilt ${CMAKE_BINARY_DIR}/libpng/pnglibconf.h COPYONLY)
  add_library(png_static STATIC ${PNG_SRC})
  target_include_directories(png_static SYSTEM PUBLIC ${TP}/libpng ${CMAKE_BINARY_DIR}/libpng)
  target_compile_definitions(png_static PRIVATE PNG_ARM_NEON_OPT=0 PNG_INTEL_SSE_OPT=0)
  target_link_libraries(png_static PUBLIC ${MINGW_ZLIB})
  add_library(PNG::PNG ALIAS png_static)

  # No import of a DLL outside the loader's protected system set, whose look-alike
  # a game folder might hold: Direct3D 8, urlmon and wininet are looked up in the
  # system folder by the launcher's code, the backend's dwmapi calls through
  # ui/dwm_imports_win32.cpp.
  target_sources(imgui PRIVATE ${TP}/imgui/backends/imgui_impl_win32.cpp ${CMAKE_SOURCE_DIR}/ui/dwm_imports_win32.cpp)
  target_include_directories(imgui PRIVATE ${CMAKE_SOURCE_DIR})
  set(SODIUM_PREFIX "${TP}/libsodium-i686")
  if(NOT EXISTS "${SODIUM_PREFIX}/lib/libsodium.a")
    message(FATAL_ERROR "libsodium for Windows is missing: run scripts/setup.sh (or make test)")
  endif()
  add_library(sodium STATIC IMPORTED)
  set_target_properties(sodium PROPERTIES
    IMPORTED_LOCATION "${SODIUM_PREFIX}/lib/libsodium.a"
    INTERFACE_INCLUDE_DIRECTORIES "${SODIUM_PREFIX}/include"
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC=1
    INTERFACE_LINK_LIBRARIES advapi32)  # its random source (RtlGenRandom)

  set(ZSTD_PREFIX "${TP}/zstd-i686")
  if(NOT EXISTS "${ZSTD_PREFIX}/lib/libzstd.a")
    message(FATAL_ERROR "zstd for Windows is missing: run scripts/setup.sh (or make test)")
  endif()
  add_library(zstd STATIC IMPORTED)
  set_target_properties(zstd PROPERTIES
    IMPORTED_LOCATION "${ZSTD_PREFIX}/lib/libzstd.a"
    INTERFACE_INCLUDE_DIRECTORIES "${ZSTD_PREFIX}/include")

  target_link_libraries(starfell_platform_libs INTERFACE
    imgui miniz PNG::PNG sodium zstd ws2_32 advapi32 psapi shlwapi shell32 ole32 uuid)

  # Static run-time: the launcher is one file with no DLLs of its own.
  add_link_options(-static -static-libgcc -static-libstdc++)

  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(PkgConfig REQUIRED)
  find_package(SDL2 REQUIRED)
  find_package(OpenGL REQUIRED)
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED)
  find_package(PNG REQUIRED)
  find_package(ZLIB REQUIRED)
  target_link_libraries(miniz PUBLIC ZLIB::ZLIB)
  find_package(Threads REQUIRED)
  find_package(GTest REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
  pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
  target_sources(imgui PRIVATE ${TP}/imgui/backends/imgui_impl_sdl.cpp ${TP}/imgui/backends/imgui_impl_opengl3.cpp)
  target_link_libraries(imgui PUBLIC SDL2::SDL2 OpenGL::GL ${CMAKE_DL_LIBS})
  target_link_libraries(starfell_platform_libs INTERFACE
    imgui miniz PNG::PNG CURL::libcurl OpenSSL::Crypto PkgConfig::SODIUM PkgConfig::ZSTD PkgConfig::FONTCONFIG Threads::Threads)
endif()
