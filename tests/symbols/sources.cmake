list(APPEND SUPPORT_SOURCES
  symbols/module_core.cpp
  symbols/module_test_support.cpp
  symbols/elf_builder.cpp
  symbols/elf_exercise.cpp
  symbols/elf_fixtures.cpp
  symbols/readelf_oracle.cpp)
list(APPEND WIDTH_TEST_LIBRARIES corekit)
list(APPEND WIDTH_TEST_SOURCES
  symbols/linker_records_test.cpp
  symbols/module_match_test.cpp
  symbols/module_symbols_test.cpp
  symbols/dex_match_test.cpp
  symbols/module_headers_test.cpp
  symbols/symbol_file_search_test.cpp
  symbols/code_comparison_test.cpp
  symbols/elf_compressed_test.cpp
  symbols/elf_fixture_test.cpp
  symbols/elf_header_test.cpp
  symbols/elf_malformed_test.cpp
  symbols/elf_notes_test.cpp
  symbols/elf_tables_test.cpp)

# Real dumps: the qemu-made dbs and Android's offline cases converted by the fixture kit (a host
# tool, so not in the Windows tree).
if(NOT CMAKE_CROSSCOMPILING)
  list(APPEND WIDTH_TEST_SOURCES symbols/module_real_dbs_test.cpp)
  list(APPEND WIDTH_TEST_LIBRARIES fixturekit)
endif()

# The differential tests compare with binutils (readelf, objcopy) on the build host; the Windows
# tree, run under wine, has no such oracle and skips them.
set(FERROVANE_READELF "")
if(NOT CMAKE_CROSSCOMPILING)
  find_program(FERROVANE_READELF_PROGRAM readelf)
  if(FERROVANE_READELF_PROGRAM)
    set(FERROVANE_READELF ${FERROVANE_READELF_PROGRAM})
  endif()

  # The reader's own ARM and AArch64 test files, cross-compiled into the build tree.
  set(ELF_FIXTURE_DIR ${CMAKE_BINARY_DIR}/test-data/elf)
  set(ELF_FIXTURE_SOURCES ${CMAKE_CURRENT_LIST_DIR}/data/elf_fixture.c ${CMAKE_CURRENT_LIST_DIR}/data/notes.ld)
  add_custom_command(
    OUTPUT ${ELF_FIXTURE_DIR}/stamp
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/data/make-elf-fixtures ${CMAKE_CURRENT_LIST_DIR}/data ${ELF_FIXTURE_DIR}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/data/make-elf-fixtures ${ELF_FIXTURE_SOURCES}
    COMMENT "Cross-compiling the ELF reader's test files")
  add_custom_target(elf_test_fixtures DEPENDS ${ELF_FIXTURE_DIR}/stamp)

  # The module-matching tests' libraries: one build and its variants.
  set(MODULE_FIXTURE_DIR ${CMAKE_BINARY_DIR}/test-data/modules)
  add_custom_command(
    OUTPUT ${MODULE_FIXTURE_DIR}/stamp
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/data/make-module-fixtures ${CMAKE_CURRENT_LIST_DIR}/data ${MODULE_FIXTURE_DIR}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/data/make-module-fixtures ${CMAKE_CURRENT_LIST_DIR}/data/module_fixture.c
    COMMENT "Cross-compiling the module-matching test libraries")
  add_custom_target(module_test_fixtures DEPENDS ${MODULE_FIXTURE_DIR}/stamp)
  cmake_language(DEFER CALL add_dependencies analyzer_tests32 module_test_fixtures)
  cmake_language(DEFER CALL add_dependencies analyzer_tests64 module_test_fixtures)
  # The test programs are defined after this file is read.
  cmake_language(DEFER CALL add_dependencies analyzer_tests32 elf_test_fixtures)
  cmake_language(DEFER CALL add_dependencies analyzer_tests64 elf_test_fixtures)
endif()
set_source_files_properties(symbols/readelf_oracle.cpp PROPERTIES
  COMPILE_DEFINITIONS "FERROVANE_READELF=\"${FERROVANE_READELF}\"")

# The developer tool on one of the cross-compiled files.
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME program.elfdump.libfixture COMMAND elfdump -s -m ${ELF_FIXTURE_DIR}/arm64/libfixture_mini.so)
  set_tests_properties(program.elfdump.libfixture PROPERTIES
    PASS_REGULAR_EXPRESSION "ELF64 type 3.*build-id: [0-9a-f]+\n.*\\.gnu_debugdata \\.symtab: [0-9]+ symbols.* frame_dummy\n")
  add_test(NAME program.elfdump.usage COMMAND elfdump)
  set_tests_properties(program.elfdump.usage PROPERTIES WILL_FAIL TRUE)
endif()

# Debugging information, symbols, source lines and demangling.
list(APPEND SUPPORT_SOURCES
  symbols/dwarf_builder.cpp
  symbols/symbol_oracles.cpp
  symbols/symbol_test_support.cpp)
list(APPEND WIDTH_TEST_SOURCES
  symbols/dwarf_units_test.cpp
  symbols/line_table_test.cpp
  symbols/dwarf_expression_test.cpp
  symbols/demangle_test.cpp
  symbols/symbol_lookup_test.cpp
  symbols/symbol_oracle_test.cpp
  symbols/dwarf_types_test.cpp
  symbols/layout_fact_table_test.cpp
  symbols/dwarf_damage_test.cpp)

# The oracles of the symbol look-up's differential tests, and its cross-compiled libraries.
set(FERROVANE_SYMBOL_ORACLES "")
if(NOT CMAKE_CROSSCOMPILING)
  find_program(FERROVANE_LLVM_SYMBOLIZER_PROGRAM NAMES llvm-symbolizer llvm-symbolizer-14)
  find_program(FERROVANE_CXXFILT_PROGRAM c++filt)
  find_program(FERROVANE_OBJDUMP_PROGRAM objdump)
  find_program(FERROVANE_ADDR2LINE_PROGRAM addr2line)
  find_program(FERROVANE_LLVM_OBJDUMP_PROGRAM NAMES llvm-objdump llvm-objdump-14)
  if(FERROVANE_LLVM_SYMBOLIZER_PROGRAM AND FERROVANE_CXXFILT_PROGRAM AND FERROVANE_OBJDUMP_PROGRAM AND
     FERROVANE_ADDR2LINE_PROGRAM AND FERROVANE_LLVM_OBJDUMP_PROGRAM)
    set(FERROVANE_SYMBOL_ORACLES
        "FERROVANE_LLVM_SYMBOLIZER=\"${FERROVANE_LLVM_SYMBOLIZER_PROGRAM}\";FERROVANE_CXXFILT=\"${FERROVANE_CXXFILT_PROGRAM}\";FERROVANE_OBJDUMP=\"${FERROVANE_OBJDUMP_PROGRAM}\";FERROVANE_ADDR2LINE=\"${FERROVANE_ADDR2LINE_PROGRAM}\";FERROVANE_LLVM_OBJDUMP=\"${FERROVANE_LLVM_OBJDUMP_PROGRAM}\"")
  endif()

  set(SYMBOL_FIXTURE_DIR ${CMAKE_BINARY_DIR}/test-data/symbols)
  add_custom_command(
    OUTPUT ${SYMBOL_FIXTURE_DIR}/stamp
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/data/make-symbol-fixtures ${CMAKE_CURRENT_LIST_DIR}/data ${SYMBOL_FIXTURE_DIR}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/data/make-symbol-fixtures ${CMAKE_CURRENT_LIST_DIR}/data/symbols_fixture.cpp
    COMMENT "Cross-compiling the symbol look-up's test libraries")
  add_custom_target(symbol_test_fixtures DEPENDS ${SYMBOL_FIXTURE_DIR}/stamp)

  # The layout-fact tests' libraries: units named and laid out like Android's runtime libraries.
  set(LAYOUT_FIXTURE_DIR ${CMAKE_BINARY_DIR}/test-data/layouts)
  file(GLOB_RECURSE LAYOUT_FIXTURE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/data/layouts/*)
  add_custom_command(
    OUTPUT ${LAYOUT_FIXTURE_DIR}/stamp
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/data/make-layout-fixtures ${CMAKE_CURRENT_LIST_DIR}/data ${LAYOUT_FIXTURE_DIR}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/data/make-layout-fixtures ${LAYOUT_FIXTURE_SOURCES}
    COMMENT "Cross-compiling the layout-fact test libraries")
  add_custom_target(layout_test_fixtures DEPENDS ${LAYOUT_FIXTURE_DIR}/stamp)
  cmake_language(DEFER CALL add_dependencies analyzer_tests32 layout_test_fixtures)
  cmake_language(DEFER CALL add_dependencies analyzer_tests64 layout_test_fixtures)
  cmake_language(DEFER CALL add_dependencies analyzer_tests32 symbol_test_fixtures)
  cmake_language(DEFER CALL add_dependencies analyzer_tests64 symbol_test_fixtures)
endif()
set_source_files_properties(symbols/symbol_oracles.cpp PROPERTIES COMPILE_DEFINITIONS "${FERROVANE_SYMBOL_ORACLES}")
