# Dispatcher tests: the run in-process with recorded services, stub analyzers that record how they
# were started, a stub of the outside library Tessiv, and the programs started as a user starts
# them (tests/dispatcher/*.sh).
add_executable(stub_analyzer dispatcher/stub_analyzer.cpp)
set_target_properties(stub_analyzer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TEST_BIN_DIR})
ferrovane_warnings(stub_analyzer)

add_library(tessiv_stub SHARED dispatcher/tessiv_stub.cpp)
set_target_properties(tessiv_stub PROPERTIES OUTPUT_NAME Tessiv RUNTIME_OUTPUT_DIRECTORY ${TEST_BIN_DIR}
                                             LIBRARY_OUTPUT_DIRECTORY ${TEST_BIN_DIR})
if(WIN32)
  set_target_properties(tessiv_stub PROPERTIES PREFIX "" WINDOWS_EXPORT_ALL_SYMBOLS ON)
endif()
ferrovane_warnings(tessiv_stub)

set(FERROVANE_TEST_ENVIRONMENT
    "XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-home/config;XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-home/data")

# Builds a test program of the Dispatcher and Setting areas and registers it with CTest.
function(ferrovane_app_tests target prefix)
  add_executable(${target} ${ARGN} dispatcher/memory_store.cpp support/temp_folder.cpp support/test_main.cpp)
  target_link_libraries(${target} PRIVATE ferrovane_dispatcher ferrovane_setting GTest::gtest)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${target} PRIVATE
    FERROVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    STUB_ANALYZER_PATH="$<TARGET_FILE:stub_analyzer>"
    TESSIV_STUB_PATH="$<TARGET_FILE:tessiv_stub>")
  add_dependencies(${target} stub_analyzer tessiv_stub)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TEST_BIN_DIR})
  ferrovane_warnings(${target})
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  else()
    gtest_discover_tests(${target} TEST_PREFIX "${prefix}." DISCOVERY_MODE PRE_TEST
                         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} DISCOVERY_TIMEOUT 60)
    # The environment is set on the discovered tests afterwards: passed through the discovery, a
    # list of variables would keep only the first.
    set(environment_script ${CMAKE_CURRENT_BINARY_DIR}/${target}_environment.cmake)
    file(WRITE ${environment_script}
         "if(${target}_TESTS)\n  set_tests_properties(\${${target}_TESTS} PROPERTIES ENVIRONMENT \"${FERROVANE_TEST_ENVIRONMENT}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${environment_script})
  endif()
endfunction()

ferrovane_app_tests(dispatcher_tests dispatcher
  dispatcher/dispatch_run.cpp
  dispatcher/container_builder.cpp
  dispatcher/container_test.cpp
  dispatcher/classify_test.cpp
  dispatcher/run_test.cpp
  dispatcher/launch_test.cpp
  dispatcher/install_test.cpp
  dispatcher/desktop_entries_test.cpp
  dispatcher/platform_services_test.cpp)

# The chain as a user runs it: the Dispatcher program, the settings store, the analyzers.
set(FERROVANE_TEST_OUTPUT ${CMAKE_BINARY_DIR}/test-output)
if(CMAKE_CROSSCOMPILING)
  add_test(NAME dispatcher.chain-wine
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/dispatcher/chain-wine.sh $<TARGET_FILE_DIR:Dispatcher>
                   $<TARGET_FILE:stub_analyzer> ${FERROVANE_TEST_OUTPUT}/chain ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-data)
  set_tests_properties(dispatcher.chain-wine PROPERTIES RESOURCE_LOCK ferrovane-registry TIMEOUT 300)
else()
  add_test(NAME dispatcher.chain
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/dispatcher/chain.sh $<TARGET_FILE_DIR:Dispatcher>
                   $<TARGET_FILE:stub_analyzer> ${FERROVANE_TEST_OUTPUT}/chain ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/test-data)
  set_tests_properties(dispatcher.chain PROPERTIES TIMEOUT 120)
endif()
