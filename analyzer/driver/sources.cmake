list(APPEND ANALYZER_SOURCES
  driver/android_version.cpp
  driver/c_library_phase.cpp
  driver/console.cpp
  driver/driver.cpp
  driver/messages.cpp
  driver/module_services.cpp
  driver/options.cpp
  driver/report.cpp
  driver/report_writer.cpp
  driver/run_context.cpp)
