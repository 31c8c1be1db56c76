list(APPEND ANALYZER_SOURCES
  process/core_loader.cpp)
