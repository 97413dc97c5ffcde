# Installs the library as the CMake package "txlib":
#   find_package(txlib) gives txlib::txlib (everything), txlib::fml32
#   (the FML32/ATMI platform alone), the tools txlib::mkfldhdr32 and (with
#   the builtin platform) txlib::viewc32 and the function
#   txlib_fml32_header (cmake/TxlibFieldHeaders.cmake).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TXLIB_INSTALL_TARGETS txlib txlib_fml32 txlib_platform txlib_client txlib_buffer txlib_xml
    txlib_service txlib_dataset)

if(TXLIB_PLATFORM STREQUAL "builtin")
  list(APPEND TXLIB_INSTALL_TARGETS viewc32)  # a vendor's installation brings its own
endif()

install(TARGETS ${TXLIB_INSTALL_TARGETS} mkfldhdr32
        EXPORT txlibTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Public headers: the middleware's C API at the include root, units under
# their folder names.
if(TXLIB_PLATFORM STREQUAL "builtin")
  install(FILES platform/tuxedo/include/fml32.h platform/tuxedo/include/atmi.h platform/tuxedo/include/xatmi.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()
foreach(dir platform client buffer xml service dataset)
  install(DIRECTORY ${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${dir}
          FILES_MATCHING PATTERN "*.h" PATTERN "*_internal.h" EXCLUDE PATTERN "builtin" EXCLUDE)
endforeach()

install(EXPORT txlibTargets NAMESPACE txlib:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/txlib)
configure_package_config_file(cmake/txlibConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/txlibConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/txlib)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/txlibConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/txlibConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/txlibConfigVersion.cmake
              cmake/TxlibFieldHeaders.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/txlib)
