# txlib_fml32_header(<target> <field_table>... [OUTPUT_DIR <dir>])
#
# Generates, at build time, the C header of each FML32 field table with
# mkfldhdr32 ("<table name>.h", one #define per field) and lets <target>
# include it: the headers go to OUTPUT_DIR (default
# <current binary dir>/fml32_headers), which becomes an include directory of
# <target> (PUBLIC, so targets linking it see the headers too). A header is
# made again whenever its table changes. Relative table paths are taken
# from the current source directory.
#
# Works in txlib's own tree and, after find_package(txlib), in applications
# (the installed mkfldhdr32 is txlib::mkfldhdr32).
function(txlib_fml32_header target)
  cmake_parse_arguments(ARG "" "OUTPUT_DIR" "" ${ARGN})
  if(NOT ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "txlib_fml32_header(${target}) needs at least one field table")
  endif()
  if(NOT TARGET txlib::mkfldhdr32)
    message(FATAL_ERROR "txlib_fml32_header needs the mkfldhdr32 tool (txlib::mkfldhdr32)")
  endif()
  set(outdir ${ARG_OUTPUT_DIR})
  if(NOT outdir)
    set(outdir ${CMAKE_CURRENT_BINARY_DIR}/fml32_headers)
  endif()
  file(MAKE_DIRECTORY ${outdir})
  set(headers)
  foreach(table IN LISTS ARG_UNPARSED_ARGUMENTS)
    get_filename_component(table_path ${table} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    get_filename_component(table_name ${table_path} NAME)
    set(header ${outdir}/${table_name}.h)
    add_custom_command(
      OUTPUT ${header}
      COMMAND txlib::mkfldhdr32 -d ${outdir} ${table_path}
      DEPENDS ${table_path} txlib::mkfldhdr32
      COMMENT "Generating FML32 field header ${table_name}.h"
      VERBATIM)
    list(APPEND headers ${header})
  endforeach()
  target_sources(${target} PRIVATE ${headers})
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${outdir}>)
endfunction()
