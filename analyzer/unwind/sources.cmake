# Stack unwinding: DWARF call-frame information (.eh_frame through .eh_frame_hdr, .debug_frame),
# DWARF expressions, ARM exception tables, and one unwind step per module.
list(APPEND ANALYZER_SOURCES
  unwind/pointer_encoding.cpp
  unwind/cfi_entries.cpp
  unwind/cfi_program.cpp
  unwind/dwarf_expression.cpp
  unwind/cfi_step.cpp
  unwind/fde_index.cpp
  unwind/eh_frame_table.cpp
  unwind/debug_frame_table.cpp
  unwind/exidx_interpreter.cpp
  unwind/exidx_table.cpp
  unwind/module_unwinder.cpp
  unwind/prologue_analysis.cpp
  unwind/process_adapters.cpp
  unwind/frame_heuristics.cpp
  unwind/backtrace_walk.cpp
  unwind/frame_symbolizer.cpp
  unwind/frame_printer.cpp
  unwind/run_process.cpp
  unwind/native_backtrace.cpp
  unwind/diagnosis_services.cpp)
