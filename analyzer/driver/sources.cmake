list(APPEND ANALYZER_SOURCES
  driver/console.cpp
  driver/driver.cpp
  driver/messages.cpp
  driver/options.cpp
  driver/run_context.cpp)
