list(APPEND SUPPORT_SOURCES
  symbols/elf_builder.cpp)
list(APPEND WIDTH_TEST_SOURCES
  symbols/elf_compressed_test.cpp
  symbols/elf_header_test.cpp
  symbols/elf_notes_test.cpp
  symbols/elf_tables_test.cpp)
