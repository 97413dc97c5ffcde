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

# txlib_needs_builtin(<out-var> <source>...)
# TRUE when a source, or a test header it includes (next to it or under
# tests/), reaches into the builtin engine (its control and testing headers,
# its internals) or makes the calls only a server makes (advertising
# services). Such programs exist only with the builtin platform; all others
# use nothing but <fml32.h> and <atmi.h> and build against any client
# installation.
function(txlib_needs_builtin out)
  set(builtin_pattern "tuxedo/builtin/|tpadvertise|tpunadvertise")
  set(needs FALSE)
  foreach(src ${ARGN})
    get_filename_component(dir ${src} DIRECTORY)
    set(files ${src})
    file(STRINGS ${src} local_includes REGEX "^#include \"[^\"]+\"")
    foreach(line ${local_includes})
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
      foreach(root ${dir} ${PROJECT_SOURCE_DIR}/tests)
        if(EXISTS ${root}/${header})
          list(APPEND files ${root}/${header})
        endif()
      endforeach()
    endforeach()
    foreach(file ${files})
      file(STRINGS ${file} hits REGEX "${builtin_pattern}")
      if(hits)
        set(needs TRUE)
      endif()
    endforeach()
  endforeach()
  set(${out} ${needs} PARENT_SCOPE)
endfunction()

# txlib_add_test(<name> [BUILTIN_ONLY] SOURCES ... LINKS ...)
# Every test program goes through here so that none is silently left out of ctest.
# Programs that need the builtin engine (found in their sources, or said by
# BUILTIN_ONLY) are left out with any other platform; the rest carry the
# label "portable".
function(txlib_add_test name)
  cmake_parse_arguments(ARG "BUILTIN_ONLY" "" "SOURCES;LINKS" ${ARGN})
  txlib_needs_builtin(builtin_only ${ARG_SOURCES})
  if(ARG_BUILTIN_ONLY)
    set(builtin_only TRUE)
  endif()
  if(builtin_only AND NOT TXLIB_PLATFORM STREQUAL "builtin")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  txlib_set_warnings(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "TXLIB_TESTDATA=${PROJECT_SOURCE_DIR}/tests/data"
    TIMEOUT 600)
  if(NOT builtin_only)
    set_tests_properties(${name} PROPERTIES LABELS portable)
  endif()
endfunction()

# txlib_add_bench(<name> SOURCES ... LINKS ...)
# Left out, like tests, when it needs the builtin engine and another platform is chosen.
function(txlib_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  txlib_needs_builtin(builtin_only ${ARG_SOURCES})
  if(builtin_only AND NOT TXLIB_PLATFORM STREQUAL "builtin")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LINKS} benchmark::benchmark benchmark::benchmark_main)
  txlib_set_warnings(${name})
  # Every case once, no timing: a benchmark that no longer runs (a refused
  # allocation, an abort on a changed result) shows up with the tests.
  add_test(NAME ${name}_runs COMMAND ${name} --benchmark_min_time=0)
  set_tests_properties(${name}_runs PROPERTIES LABELS bench TIMEOUT 600)
endfunction()

# txlib_add_fuzzer(<name> SOURCES ... LINKS ... [CORPUS dir])
# Registers the fuzzer with ctest as a short time-boxed run (label "fuzz").
# Left out, like tests, when it needs the builtin engine and another platform is chosen.
function(txlib_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LINKS" ${ARGN})
  txlib_needs_builtin(builtin_only ${ARG_SOURCES})
  if(builtin_only AND NOT TXLIB_PLATFORM STREQUAL "builtin")
    return()
  endif()
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
