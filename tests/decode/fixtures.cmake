# Decoder test fixtures built with the Debian cross toolchains at build time: PLT stubs as GNU ld
# and ld.lld write them, and ordinary code in ARM, Thumb and AArch64 state without unwind tables.
# Missing compilers leave fixtures out; the tests that need them skip.
set(DECODE_FIXTURE_DIR ${CMAKE_BINARY_DIR}/test-data/decode)
set(DECODE_FIXTURE_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/decode/data)
find_program(ARM_GCC arm-linux-gnueabihf-gcc)
find_program(A64_GCC aarch64-linux-gnu-gcc)
find_program(CLANG_FOR_FIXTURES clang)
find_program(LLD_FOR_FIXTURES ld.lld)
set(DECODE_FIXTURES)

function(decode_fixture output compiler)
  add_custom_command(OUTPUT ${DECODE_FIXTURE_DIR}/${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${DECODE_FIXTURE_DIR}
    COMMAND ${compiler} ${ARGN} -o ${DECODE_FIXTURE_DIR}/${output}
    DEPENDS ${DECODE_FIXTURE_SOURCE}/stub_calls.c ${DECODE_FIXTURE_SOURCE}/sample_code.c
    COMMENT "Building decoder fixture ${output}" VERBATIM)
  set(DECODE_FIXTURES ${DECODE_FIXTURES} ${DECODE_FIXTURE_DIR}/${output} PARENT_SCOPE)
endfunction()

set(SHARED_FLAGS -O2 -fPIC -shared -nostdlib -fno-asynchronous-unwind-tables -fno-unwind-tables)
if(ARM_GCC)
  decode_fixture(gnu_arm_stubs.so ${ARM_GCC} ${SHARED_FLAGS} -marm ${DECODE_FIXTURE_SOURCE}/stub_calls.c)
  decode_fixture(gnu_thumb_stubs.so ${ARM_GCC} ${SHARED_FLAGS} -mthumb ${DECODE_FIXTURE_SOURCE}/stub_calls.c)
  decode_fixture(sample_arm.so ${ARM_GCC} ${SHARED_FLAGS} -marm ${DECODE_FIXTURE_SOURCE}/sample_code.c)
  decode_fixture(sample_thumb.so ${ARM_GCC} ${SHARED_FLAGS} -mthumb ${DECODE_FIXTURE_SOURCE}/sample_code.c)
endif()
if(A64_GCC)
  decode_fixture(sample_a64.so ${A64_GCC} ${SHARED_FLAGS} ${DECODE_FIXTURE_SOURCE}/sample_code.c)
endif()
if(CLANG_FOR_FIXTURES AND LLD_FOR_FIXTURES)
  set(LLD_FLAGS --target=armv7a-linux-gnueabihf -fuse-ld=lld ${SHARED_FLAGS})
  decode_fixture(lld_arm_stubs.so ${CLANG_FOR_FIXTURES} ${LLD_FLAGS} -marm ${DECODE_FIXTURE_SOURCE}/stub_calls.c)
  decode_fixture(lld_thumb_stubs.so ${CLANG_FOR_FIXTURES} ${LLD_FLAGS} -mthumb ${DECODE_FIXTURE_SOURCE}/stub_calls.c)
endif()
add_custom_target(decode_fixtures ALL DEPENDS ${DECODE_FIXTURES})
