# The unwinder's own ARM and AArch64 test libraries, cross-compiled into the build tree
# (data/make-unwind-fixtures). Without the cross compilers the script leaves a note and the
# tests that need the libraries skip.
if(NOT CMAKE_CROSSCOMPILING)
  set(UNWIND_FIXTURE_DIR ${CMAKE_BINARY_DIR}/test-data/unwind)
  set(UNWIND_FIXTURE_DATA ${CMAKE_CURRENT_LIST_DIR}/data)
  add_custom_command(
    OUTPUT ${UNWIND_FIXTURE_DIR}/stamp
    COMMAND ${UNWIND_FIXTURE_DATA}/make-unwind-fixtures ${UNWIND_FIXTURE_DATA} ${UNWIND_FIXTURE_DIR} 2>/dev/null
    DEPENDS ${UNWIND_FIXTURE_DATA}/make-unwind-fixtures ${UNWIND_FIXTURE_DATA}/frames.c ${UNWIND_FIXTURE_DATA}/support.c
            ${UNWIND_FIXTURE_DATA}/cfi_cases_arm.S ${UNWIND_FIXTURE_DATA}/cfi_cases_a64.S
    COMMENT "Cross-compiling the unwinder's test libraries")
  add_custom_target(unwind_test_fixtures DEPENDS ${UNWIND_FIXTURE_DIR}/stamp)
  cmake_language(DEFER CALL add_dependencies analyzer_tests32 unwind_test_fixtures)
  cmake_language(DEFER CALL add_dependencies analyzer_tests64 unwind_test_fixtures)
endif()
