list(APPEND ANALYZER_SOURCES
  logs/log_tables.cpp)
