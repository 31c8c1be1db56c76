list(APPEND ANALYZER_SOURCES
  symbols/decompress.cpp
  symbols/elf_image.cpp
  symbols/elf_layout.cpp
  symbols/elf_notes.cpp
  symbols/elf_sections.cpp
  symbols/mapped_file.cpp)
list(APPEND ANALYZER_LIBRARIES ferrovane_compression)
