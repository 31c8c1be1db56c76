# Instruction decoding: the normalized operation form, the A32/T32 (CoreSift) and A64 (CoreSift64)
# front-ends, the printer, linker stubs.
list(APPEND ANALYZER_SOURCES
  decode/a32_decoder.cpp
  decode/t32_decoder.cpp
  decode/t32_wide.cpp
  decode/a64_decoder.cpp
  decode/a64_data_processing.cpp
  decode/a64_load_store.cpp
  decode/effects.cpp
  decode/it_block.cpp
  decode/printer.cpp
  decode/value_math.cpp
  decode/emulator.cpp
  decode/forward_emulation.cpp
  decode/argument_scanner.cpp
  decode/linker_stub.cpp)
