# Debian packages, one an install component (cmake/Install.cmake):
#
#   libopossvc0     runtime  the shared library
#   libopossvc-dev  dev      headers, static libraries, the test kit, the
#                            CMake package and the pkg-config files
#   opossvc-tools   tools    oposreg, its manual page and shell completion
#
# Built in the build folder with `cpack -G DEB`; scripts/install-check
# builds, installs and checks them. Shared-library dependencies come from
# dpkg-shlibdeps; each package carries its copyright and changelog in
# /usr/share/doc/<package>, as Debian policy asks.

set(CPACK_PACKAGE_NAME opossvc)
set(CPACK_PACKAGE_VENDOR "the opossvc developers")
set(CPACK_PACKAGE_CONTACT "opossvc developers <opossvc-devel@lists.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools link the library of this build, which no installed package has.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(OPOSSVC_DEB_ABOUT
    "opossvc gives an OPOS service object what does not depend on its device: a\n"
    "base class that delivers events to the control object under the OPOS rules, a\n"
    "serial-port driver shared by the service objects of a port, typed access to\n"
    "the OPOS registry database, an API trace file and setup utilities.\n")
string(CONCAT OPOSSVC_DEB_ABOUT ${OPOSSVC_DEB_ABOUT})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libopossvc0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The linker cache is brought up to date by dpkg's trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "library for writing OPOS service objects\n${OPOSSVC_DEB_ABOUT}This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libopossvc-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
# The static library and the CMake package need them.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libsqlite3-dev, libicu-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "library for writing OPOS service objects - development files\n${OPOSSVC_DEB_ABOUT}"
    "This package holds the headers, the static libraries, the test kit (a\n"
    "virtual serial port, a recording control object, a private registry per\n"
    "test), the CMake package and the pkg-config files.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME opossvc-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "tools for the OPOS registry of opossvc\n${OPOSSVC_DEB_ABOUT}"
    "This package holds oposreg, which imports, exports, shows and edits the\n"
    "OPOS registry store and maps serial devices to COM names.")
foreach(component RUNTIME DEV TOOLS)
  string(CONCAT CPACK_COMPONENT_${component}_DESCRIPTION ${CPACK_COMPONENT_${component}_DESCRIPTION})
endforeach()

# The copyright file in Debian's format, with the licence text from LICENSE,
# and the changelog, compressed as policy asks; installed for the packages
# only.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE OPOSSVC_LICENSE)
string(REGEX REPLACE "\n+$" "" OPOSSVC_LICENSE "${OPOSSVC_LICENSE}")
string(REGEX REPLACE "\n\n" "\n.\n" OPOSSVC_LICENSE "${OPOSSVC_LICENSE}")
string(REPLACE "\n" "\n " OPOSSVC_LICENSE "${OPOSSVC_LICENSE}")
file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: opossvc\n\n"
  "Files: *\n"
  "Copyright: 2026 the opossvc developers\n"
  "License: Expat\n"
  " ${OPOSSVC_LICENSE}\n")
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in
  ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/debian/changelog
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz)
foreach(component runtime dev tools)
  string(TOUPPER ${component} upper)
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
