# Instruction decoder tests. Front-end tests compile to nothing in the other width; the rest run
# in both test programs.
include(${CMAKE_CURRENT_LIST_DIR}/fixtures.cmake)
list(APPEND WIDTH_TEST_SOURCES
  decode/a32_decoder_test.cpp
  decode/t32_decoder_test.cpp
  decode/a64_decoder_test.cpp
  decode/normalized_form_test.cpp
  decode/linker_stub_test.cpp
  decode/forward_emulation_test.cpp
  decode/argument_scanner_test.cpp)
list(APPEND SUPPORT_SOURCES
  decode/decode_support.cpp
  ${PROJECT_SOURCE_DIR}/tools/decode/elf_sections.cpp)

# The reduced differential against capstone (the full one is scripts/decoder-diff): real code of
# the fixture libraries must agree completely; random words and the capstone MC encodings run a
# short sample for crashes and hangs.
if(TARGET decoder-diff32 AND TARGET decoder-diff64)
  set(DIFF_FIXTURES ${FERROVANE_SHARED_DIR}/fixtures)
  add_test(NAME decode.differential.A32T32
           COMMAND decoder-diff32 --strict --examples 1 --random 20000
                   --elf ${DIFF_FIXTURES}/simpleperf-testdata/simpleperf/testdata/libc.so
                   --elf ${DECODE_FIXTURE_DIR}/sample_arm.so --elf ${DECODE_FIXTURE_DIR}/sample_thumb.so
                   --mc ${DIFF_FIXTURES}/capstone-mc/suite/MC)
  add_test(NAME decode.differential.A64
           COMMAND decoder-diff64 --strict --examples 1 --random 20000
                   --elf ${DIFF_FIXTURES}/unwindstack-offline/cases/empty_arm64/netd.gz
                   --elf ${DECODE_FIXTURE_DIR}/sample_a64.so
                   --mc ${DIFF_FIXTURES}/capstone-mc/suite/MC)
endif()
