# Installs the header, the shared library, a CMake package (find_package(kve)
# gives kve::kve) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS kve EXPORT kveTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT kveTargets NAMESPACE kve:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kve)

configure_package_config_file(cmake/kveConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kveConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kve)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kveConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kveConfig.cmake ${PROJECT_BINARY_DIR}/kveConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kve)

# Relative to the .pc file, so an installed tree can be moved.
file(RELATIVE_PATH KVE_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/kve.pc.in ${PROJECT_BINARY_DIR}/kve.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kve.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
