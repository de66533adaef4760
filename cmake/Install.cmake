# Installs headers, libraries, the CMake package and the pkg-config files.
include(CMakePackageConfigHelpers)

#
# Components, one a Debian package (cmake/Package.cmake): runtime, the shared
# library; dev, what building against it needs (headers, the static
# libraries, the test kit, the CMake package and pkg-config files); tools,
# the command-line tools (installed from tools/).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/opossvc
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(TARGETS ${OPOSSVC_LIBRARIES} opossvc_testing
        EXPORT opossvcTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT opossvcTargets NAMESPACE opossvc::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/opossvc COMPONENT dev)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/opossvcConfig.cmake.in
  ${PROJECT_BINARY_DIR}/opossvcConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/opossvc)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/opossvcConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/opossvcConfig.cmake
              ${PROJECT_BINARY_DIR}/opossvcConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/opossvc COMPONENT dev)

# The .pc file finds the prefix from its own place, so that an installation
# moved elsewhere (or made with cmake --install --prefix) still works.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(OPOSSVC_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH OPOSSVC_PC_UP "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" OPOSSVC_PC_UP "${OPOSSVC_PC_UP}")
  set(OPOSSVC_PC_PREFIX "\${pcfiledir}/${OPOSSVC_PC_UP}")
endif()
foreach(pc opossvc opossvc_testing)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT dev)
endforeach()
