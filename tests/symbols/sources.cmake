list(APPEND SUPPORT_SOURCES
  symbols/elf_builder.cpp)
list(APPEND WIDTH_TEST_SOURCES
  symbols/elf_header_test.cpp)
