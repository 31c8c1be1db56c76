# Unwinder tests: hand-built tables for every rule and message, real libraries against readelf,
# and steps replayed from Android's offline unwind snapshots.
include(${CMAKE_CURRENT_LIST_DIR}/fixtures.cmake)
list(APPEND SUPPORT_SOURCES
  unwind/unwind_support.cpp
  unwind/unwind_fixtures.cpp
  unwind/readelf_frames.cpp
  unwind/offline_case.cpp
  unwind/qemu_dbs.cpp)
list(APPEND WIDTH_TEST_SOURCES
  unwind/cfi_reader_test.cpp
  unwind/cfi_program_test.cpp
  unwind/dwarf_expression_test.cpp
  unwind/cfi_step_test.cpp
  unwind/exidx_test.cpp
  unwind/prologue_test.cpp
  unwind/cfi_oracle_test.cpp
  unwind/exidx_oracle_test.cpp
  unwind/offline_step_test.cpp
  unwind/qemu_db_step_test.cpp
  unwind/process_adapters_test.cpp
  unwind/emulation_walk_test.cpp
  unwind/frame_heuristics_test.cpp
  unwind/backtrace_walk_test.cpp)
# Whole runs against gdb and Android's unwinder, through the comparator of the fixture tools
# (built on the build machine only).
if(NOT CMAKE_CROSSCOMPILING)
  list(APPEND WIDTH_TEST_SOURCES unwind/backtrace_oracle_test.cpp unwind/tableless_backtrace_test.cpp)
  list(APPEND WIDTH_TEST_LIBRARIES fixturekit)
endif()
