list(APPEND ANALYZER_SOURCES
  process/address_space.cpp
  process/core_loader.cpp
  process/core_notes.cpp
  process/db_inputs.cpp
  process/db_text.cpp
  process/debugger_mmu.cpp
  process/file_state.cpp
  process/internal_record.cpp
  process/page_map.cpp
  process/process_maps.cpp
  process/process_table.cpp
  process/property_table.cpp
  process/region_claim.cpp
  process/region_index.cpp
  process/region_listing.cpp
  process/thread_report.cpp
  process/thread_table.cpp)
