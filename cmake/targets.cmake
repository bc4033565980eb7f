# Every target of ours compiles with the same strict warnings and, in the
# sanitizer build, the same instrumentation.
if(SKYFLIT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
# The fuzz build instruments every target for libFuzzer's coverage as well;
# only the fuzz programs link libFuzzer itself (fuzz/CMakeLists.txt).
if(SKYFLIT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "SKYFLIT_FUZZ needs clang (CXX=clang++ CC=clang)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

function(skyflit_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# Registers a GoogleTest binary with CTest, one CTest entry per test case.
if(SKYFLIT_TESTS)
  include(GoogleTest)
  find_package(GTest REQUIRED)
endif()
# Cross-built tests are listed when CTest starts, not while linking: the build
# needs no emulator, and parallel link steps never start it at once.
if(CMAKE_CROSSCOMPILING)
  set(SKYFLIT_DISCOVERY PRE_TEST)
else()
  set(SKYFLIT_DISCOVERY POST_BUILD)
endif()
# skyflit_test(NAME [RUN_SERIAL] SOURCE...): RUN_SERIAL keeps every other
# test from running beside this binary's.
function(skyflit_test name)
  cmake_parse_arguments(PARSE_ARGV 1 test "RUN_SERIAL" "" "")
  add_executable(${name} ${test_UNPARSED_ARGUMENTS})
  skyflit_strict(${name})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE ${SKYFLIT_DISCOVERY} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 120 RUN_SERIAL ${test_RUN_SERIAL})
endfunction()
