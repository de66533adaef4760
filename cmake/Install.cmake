# Installs headers, libraries, tools, the CMake package and pkg-config file.
include(CMakePackageConfigHelpers)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/opossvc
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS ${OPOSSVC_LIBRARIES} opossvc_testing
        EXPORT opossvcTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT opossvcTargets NAMESPACE opossvc::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/opossvc)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/opossvcConfig.cmake.in
  ${PROJECT_BINARY_DIR}/opossvcConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/opossvc)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/opossvcConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/opossvcConfig.cmake
              ${PROJECT_BINARY_DIR}/opossvcConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/opossvc)

# The .pc file finds the prefix from its own place, so that an installation
# moved elsewhere (or made with cmake --install --prefix) still works.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(OPOSSVC_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH OPOSSVC_PC_UP "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" OPOSSVC_PC_UP "${OPOSSVC_PC_UP}")
  set(OPOSSVC_PC_PREFIX "\${pcfiledir}/${OPOSSVC_PC_UP}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/opossvc.pc.in ${PROJECT_BINARY_DIR}/opossvc.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/opossvc.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
