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
  symbols/module_symbols.cpp
  symbols/dex_match.cpp
  symbols/symbol_file_search.cpp)
list(APPEND ANALYZER_LIBRARIES ferrovane_compression)

# Debugging information, symbol look-up, source lines and demangling.
list(APPEND ANALYZER_SOURCES
  symbols/address_index.cpp
  symbols/demangle.cpp
  symbols/dwarf_abbrev.cpp
  symbols/dwarf_entries.cpp
  symbols/dwarf_expression.cpp
  symbols/dwarf_ranges.cpp
  symbols/dwarf_scopes.cpp
  symbols/dwarf_sections.cpp
  symbols/dwarf_units.cpp
  symbols/dynamic_symbols.cpp
  symbols/entry_tree.cpp
  symbols/exported_symbols.cpp
  symbols/frame_parameters.cpp
  symbols/inline_scopes.cpp
  symbols/layout_facts.cpp
  symbols/line_header.cpp
  symbols/line_table.cpp
  symbols/symbol_file.cpp
  symbols/symbol_lookup.cpp
  symbols/type_text.cpp
  symbols/value_format.cpp)
