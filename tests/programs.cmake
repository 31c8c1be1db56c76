# The built programs started as a user starts them (under wine for the Windows build).
set(BANNER32 "== CoreSift v3.7 ==")
set(BANNER64 "== CoreSift64 v2.5 ==")

add_test(NAME program.CoreSift.help COMMAND CoreSift -ext 1 -lang eng -h)
set_tests_properties(program.CoreSift.help PROPERTIES
  PASS_REGULAR_EXPRESSION "^${BANNER32}\r?\nUsage: [^\n]*CoreSift")
add_test(NAME program.CoreSift64.help COMMAND CoreSift64 -ext 1 -h)
set_tests_properties(program.CoreSift64.help PROPERTIES PASS_REGULAR_EXPRESSION "^${BANNER64}")
add_test(NAME program.CoreSift64.badArgument COMMAND CoreSift64 -ext 257 -bogus)
set_tests_properties(program.CoreSift64.badArgument PROPERTIES WILL_FAIL TRUE)

# The Chinese report of the sample db, under its Chinese name and in the output encoding (GBK in
# the Windows build, checked under wine).
if(CMAKE_CROSSCOMPILING)
  set(report_encoding GBK)
else()
  set(report_encoding UTF-8)
endif()
add_test(NAME program.CoreSift64.chineseReport
         COMMAND ${CMAKE_COMMAND} -DANALYZER=$<TARGET_FILE:CoreSift64> "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}"
                 -DARCHIVE=${CMAKE_CURRENT_SOURCE_DIR}/data/arm64-static-nullwrite.tar.zst -DDB=arm64-static-nullwrite
                 -DWORK=${CMAKE_BINARY_DIR}/test-output/chinese-report -DENCODING=${report_encoding}
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/driver/chinese_report.cmake)
