list(APPEND ANALYZER_SOURCES
  process/address_space.cpp
  process/core_loader.cpp
  process/core_notes.cpp
  process/debugger_mmu.cpp
  process/module_list_stub.cpp
  process/region_claim.cpp
  process/region_index.cpp
  process/region_listing.cpp
  process/thread_table.cpp)
