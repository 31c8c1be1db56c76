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
