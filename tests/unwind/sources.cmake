# Unwinder tests: hand-built tables for every rule and message, real libraries against readelf,
# and steps replayed from Android's offline unwind snapshots.
list(APPEND SUPPORT_SOURCES
  unwind/unwind_support.cpp)
list(APPEND WIDTH_TEST_SOURCES
  unwind/cfi_reader_test.cpp
  unwind/cfi_program_test.cpp
  unwind/dwarf_expression_test.cpp
  unwind/cfi_step_test.cpp
  unwind/exidx_test.cpp
  unwind/prologue_test.cpp)
