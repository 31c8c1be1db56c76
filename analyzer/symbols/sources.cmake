list(APPEND ANALYZER_SOURCES
  symbols/decompress.cpp
  symbols/elf_image.cpp
  symbols/elf_layout.cpp
  symbols/elf_notes.cpp
  symbols/elf_sections.cpp
  symbols/mapped_file.cpp
  symbols/code_comparison.cpp
  symbols/function_match.cpp
  symbols/function_tables.cpp
  symbols/linker_records.cpp
  symbols/module_create.cpp
  symbols/module_headers.cpp
  symbols/module_list.cpp
  symbols/module_list_build.cpp
  symbols/module_match.cpp
  symbols/module_regions.cpp
  symbols/symbol_file_search.cpp)
list(APPEND ANALYZER_LIBRARIES ferrovane_compression)
