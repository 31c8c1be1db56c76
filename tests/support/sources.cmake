list(APPEND SUPPORT_SOURCES
  support/run_capture.cpp
  support/temp_folder.cpp)
