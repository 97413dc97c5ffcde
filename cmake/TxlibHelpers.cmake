# Shared build settings for every txlib target.
function(txlib_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  if(TXLIB_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# txlib_add_library(<name> <layer-dir> SOURCES ... LINKS ...)
# One static library per layer folder; the repository root is the include
# root, so units are included as "buffer/TxFbfr.h".
function(txlib_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:include>)
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  txlib_set_warnings(${name})
endfunction()

# txlib_add_test(<name> SOURCES ... LINKS ...)
# Every test program goes through here so that none is silently left out of ctest.
function(txlib_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  txlib_set_warnings(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "TXLIB_TESTDATA=${PROJECT_SOURCE_DIR}/tests/data"
    TIMEOUT 600)
endfunction()

# txlib_add_bench(<name> SOURCES ... LINKS ...)
function(txlib_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} benchmark::benchmark benchmark::benchmark_main)
  txlib_set_warnings(${name})
endfunction()

# txlib_add_fuzzer(<name> SOURCES ... LINKS ... [CORPUS dir])
# Registers the fuzzer with ctest as a short time-boxed run (label "fuzz").
function(txlib_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LINKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LINKS})
  set(seconds $ENV{TXLIB_FUZZ_SECONDS})
  if(NOT seconds)
    set(seconds 5)
  endif()
  # New inputs go to a scratch corpus in the build tree; the seeds in the
  # source tree are only read.
  set(work_corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${work_corpus})
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${seconds} -rss_limit_mb=2048
           ${work_corpus} ${ARG_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
