# cmake -P script: configures the vendor platform against two made-up client
# installations (the builtin headers, an empty libclient.so). A library that is
# not there stops the configuration and is named; a changed TUXDIR finds the
# headers and libraries of the new one.
# The installations lie outside the source tree, as real ones do (an exported
# target may not name include folders inside it).
if(DEFINED ENV{TMPDIR})
  set(temp $ENV{TMPDIR})
else()
  set(temp /tmp)
endif()
string(RANDOM LENGTH 8 tag)
set(WORK_DIR ${temp}/txlib_vendor_configure_${tag})
file(REMOVE_RECURSE ${WORK_DIR})
file(WRITE ${WORK_DIR}/two_libraries.cmake "set(TXLIB_TUX_LIBS \"client;absent\" CACHE STRING \"\")\n")
foreach(install one two)
  file(COPY ${SOURCE_DIR}/platform/tuxedo/include/atmi.h ${SOURCE_DIR}/platform/tuxedo/include/fml32.h
       DESTINATION ${WORK_DIR}/${install}/include)
  file(WRITE ${WORK_DIR}/${install}/lib/libclient.so "")
endforeach()

set(build ${WORK_DIR}/build)
function(configure expect_success)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -DTXLIB_PLATFORM=vendor
                          -DTXLIB_BUILD_TESTS=OFF -DTXLIB_BUILD_BENCH=OFF -DTXLIB_BUILD_EXAMPLES=OFF
                          -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_C_COMPILER=${C_COMPILER} ${ARGN}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expect_success AND NOT rc EQUAL 0)
    message(FATAL_ERROR "Configuring with ${ARGN} failed:\n${out}\n${err}")
  elseif(NOT expect_success AND rc EQUAL 0)
    message(FATAL_ERROR "Configuring with ${ARGN} succeeded; it should have failed")
  endif()
  set(output "${out}${err}" PARENT_SCOPE)
endfunction()

function(expect_cached name value)
  file(STRINGS ${build}/CMakeCache.txt line REGEX "^${name}:")
  if(NOT line MATCHES "=${value}$")
    message(FATAL_ERROR "Expected ${name} = ${value}, the cache has: ${line}")
  endif()
endfunction()

configure(FALSE -DTUXDIR=${WORK_DIR}/one -C ${WORK_DIR}/two_libraries.cmake)
string(REGEX REPLACE "[ \n]+" " " output "${output}")
if(NOT output MATCHES "Client libraries not found in ${WORK_DIR}/one/lib: absent TXLIB_TUX_LIBS")
  message(FATAL_ERROR "The missing library is not named:\n${output}")
endif()

configure(TRUE -DTXLIB_TUX_LIBS=client)
expect_cached(TXLIB_TUX_LIB_client ${WORK_DIR}/one/lib/libclient.so)

configure(TRUE -DTUXDIR=${WORK_DIR}/two)
expect_cached(TXLIB_TUX_LIB_client ${WORK_DIR}/two/lib/libclient.so)
expect_cached(TXLIB_TUX_INCLUDE ${WORK_DIR}/two/include)
file(REMOVE_RECURSE ${WORK_DIR})
