# minizip (zlib's contrib ZIP reader, 64-bit offsets, default C-file I/O) over
# zlib, as the target `launcher_minizip`: the system's libraries on Linux;
# for Windows, Debian's minizip sources (fetched by scripts/setup) compiled
# here and linked statically with MinGW's zlib.
if(WIN32)
  set(LAUNCHER_MINIZIP_SOURCE "${PROJECT_SOURCE_DIR}/.deps/minizip" CACHE PATH
      "Debian's minizip sources (scripts/setup fetches them)")
  if(NOT EXISTS "${LAUNCHER_MINIZIP_SOURCE}/unzip.c")
    message(FATAL_ERROR "minizip sources missing in ${LAUNCHER_MINIZIP_SOURCE}: run scripts/setup")
  endif()
  find_library(LAUNCHER_MINGW_ZLIB NAMES libz.a REQUIRED)
  find_path(LAUNCHER_MINGW_ZLIB_INCLUDE zlib.h REQUIRED)
  # <minizip/unzip.h> as on Linux: the include root is the sources' parent.
  set(minizip_include "${CMAKE_BINARY_DIR}/minizip-include")
  file(MAKE_DIRECTORY "${minizip_include}")
  file(CREATE_LINK "${LAUNCHER_MINIZIP_SOURCE}" "${minizip_include}/minizip" SYMBOLIC)
  add_library(launcher_minizip STATIC
    "${LAUNCHER_MINIZIP_SOURCE}/unzip.c"
    "${LAUNCHER_MINIZIP_SOURCE}/ioapi.c")
  target_include_directories(launcher_minizip
    PUBLIC "${minizip_include}" "${LAUNCHER_MINGW_ZLIB_INCLUDE}"
    PRIVATE "${LAUNCHER_MINIZIP_SOURCE}")
  target_compile_options(launcher_minizip PRIVATE -w)
  target_link_libraries(launcher_minizip PUBLIC "${LAUNCHER_MINGW_ZLIB}")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LAUNCHER_MINIZIP REQUIRED IMPORTED_TARGET minizip)
  find_package(ZLIB REQUIRED)
  add_library(launcher_minizip INTERFACE)
  target_link_libraries(launcher_minizip INTERFACE PkgConfig::LAUNCHER_MINIZIP ZLIB::ZLIB)
endif()
