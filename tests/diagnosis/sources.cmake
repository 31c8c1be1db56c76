list(APPEND WIDTH_TEST_SOURCES
  diagnosis/crash_verdict_test.cpp
  diagnosis/fault_evaluation_test.cpp
  diagnosis/instruction_listing_test.cpp
  diagnosis/qemu_crash_test.cpp)
list(APPEND WIDTH_TEST_LIBRARIES corekit)
