list(APPEND PLAIN_TEST_SOURCES process/hash_table_test.cpp)
list(APPEND WIDTH_TEST_SOURCES
  process/address_space_test.cpp
  process/core_loader_test.cpp
  process/core_notes_test.cpp
  process/damaged_cores_test.cpp
  process/real_cores_test.cpp
  process/region_claim_test.cpp
  process/thread_table_test.cpp)
list(APPEND WIDTH_TEST_LIBRARIES corekit)

# The elfutils cores, unpacked into the test data folder when the shared fixtures are present.
set(PROCESS_ELFUTILS_CORES ${FERROVANE_SHARED_DIR}/fixtures/elfutils/tests)
find_program(BZIP2_PROGRAM bzip2)
if(EXISTS ${PROCESS_ELFUTILS_CORES} AND BZIP2_PROGRAM)
  set(unpacked)
  foreach(core testfile_aarch64_core backtrace.aarch64.core backtrace.aarch64.fp.core)
    set(out ${CMAKE_BINARY_DIR}/test-data/elfutils/${core})
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -DBZIP2=${BZIP2_PROGRAM} -DIN=${PROCESS_ELFUTILS_CORES}/${core}.bz2 -DOUT=${out}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/process/unpack_bz2.cmake
      DEPENDS ${PROCESS_ELFUTILS_CORES}/${core}.bz2 ${CMAKE_CURRENT_SOURCE_DIR}/process/unpack_bz2.cmake
      COMMENT "Unpacking ${core}")
    list(APPEND unpacked ${out})
  endforeach()
  add_custom_target(process_real_cores ALL DEPENDS ${unpacked})
endif()
