# Tests of the core kit (every build, also under wine) and of the host fixture tools.
list(APPEND PLAIN_TEST_SOURCES
  tools/corekit_test.cpp
  tools/committed_dbs_test.cpp
  support/temp_folder.cpp)
list(APPEND PLAIN_TEST_LIBRARIES corekit)
if(NOT CMAKE_CROSSCOMPILING)
  list(APPEND PLAIN_TEST_SOURCES
    tools/maps_and_completion_test.cpp
    tools/offline_to_db_test.cpp
    tools/compare_backtrace_test.cpp)
  list(APPEND PLAIN_TEST_LIBRARIES fixturekit)
endif()
