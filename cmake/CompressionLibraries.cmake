# The decompression libraries of the ELF reader, as one interface target `ferrovane_compression`:
# Zstandard (compressed sections), liblzma (XZ, `.gnu_debugdata`) and zlib (compressed sections).
# Linux: the system's packages, found with pkg-config. Windows (mingw-w64 cross build): static
# zstd and liblzma built from Debian's sources by scripts/windows-deps into FERROVANE_WINDOWS_DEPS,
# and zlib from libz-mingw-w64-dev.
add_library(ferrovane_compression INTERFACE)

if(WIN32)
  set(FERROVANE_WINDOWS_DEPS "" CACHE PATH "Prefix holding the mingw-w64 builds of zstd and liblzma")
  if(NOT FERROVANE_WINDOWS_DEPS)
    message(FATAL_ERROR "Set FERROVANE_WINDOWS_DEPS (scripts/build-windows builds and passes it)")
  endif()
  find_path(FERROVANE_ZSTD_INCLUDE zstd.h PATHS ${FERROVANE_WINDOWS_DEPS}/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_path(FERROVANE_LZMA_INCLUDE lzma.h PATHS ${FERROVANE_WINDOWS_DEPS}/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(FERROVANE_ZSTD_LIBRARY NAMES libzstd.a PATHS ${FERROVANE_WINDOWS_DEPS}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(FERROVANE_LZMA_LIBRARY NAMES liblzma.a PATHS ${FERROVANE_WINDOWS_DEPS}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_path(FERROVANE_ZLIB_INCLUDE zlib.h)
  find_library(FERROVANE_ZLIB_LIBRARY NAMES libz.a)
  foreach(var FERROVANE_ZSTD_INCLUDE FERROVANE_LZMA_INCLUDE FERROVANE_ZSTD_LIBRARY FERROVANE_LZMA_LIBRARY
              FERROVANE_ZLIB_INCLUDE FERROVANE_ZLIB_LIBRARY)
    if(NOT ${var})
      message(FATAL_ERROR "${var} not found (run scripts/build-windows, which builds zstd and liblzma)")
    endif()
  endforeach()
  target_include_directories(ferrovane_compression SYSTEM INTERFACE
    ${FERROVANE_ZSTD_INCLUDE} ${FERROVANE_LZMA_INCLUDE} ${FERROVANE_ZLIB_INCLUDE})
  target_link_libraries(ferrovane_compression INTERFACE
    ${FERROVANE_ZSTD_LIBRARY} ${FERROVANE_LZMA_LIBRARY} ${FERROVANE_ZLIB_LIBRARY})
  target_compile_definitions(ferrovane_compression INTERFACE LZMA_API_STATIC)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(FERROVANE_DECOMPRESS REQUIRED IMPORTED_TARGET libzstd liblzma zlib)
  target_link_libraries(ferrovane_compression INTERFACE PkgConfig::FERROVANE_DECOMPRESS)
endif()
