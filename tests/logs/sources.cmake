list(APPEND WIDTH_TEST_SOURCES logs/log_tables_test.cpp)
