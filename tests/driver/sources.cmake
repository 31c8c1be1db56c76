list(APPEND WIDTH_TEST_SOURCES
  driver/analysis_run_test.cpp
  driver/catalog_test.cpp
  driver/command_line_test.cpp
  driver/report_fixtures_test.cpp
  driver/report_test.cpp)
