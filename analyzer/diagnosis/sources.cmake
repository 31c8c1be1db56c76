list(APPEND ANALYZER_SOURCES
  diagnosis/crash_verdict.cpp
  diagnosis/fault_evaluation.cpp
  diagnosis/instruction_listing.cpp
  diagnosis/library_rules.cpp
  diagnosis/listing_slice.cpp
  diagnosis/listing_window.cpp
  diagnosis/signal_sender.cpp)
