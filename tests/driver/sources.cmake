list(APPEND WIDTH_TEST_SOURCES
  driver/catalog_test.cpp
  driver/command_line_test.cpp)
