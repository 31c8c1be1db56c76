list(APPEND PLAIN_TEST_SOURCES common/text_format_test.cpp)
