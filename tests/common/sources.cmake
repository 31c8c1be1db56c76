list(APPEND PLAIN_TEST_SOURCES common/text_format_test.cpp common/byte_reader_test.cpp)
