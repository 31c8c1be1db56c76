list(APPEND PLAIN_TEST_SOURCES process/hash_table_test.cpp)
list(APPEND WIDTH_TEST_SOURCES
  process/address_space_test.cpp
  process/core_notes_test.cpp
  process/region_claim_test.cpp
  process/thread_table_test.cpp)
