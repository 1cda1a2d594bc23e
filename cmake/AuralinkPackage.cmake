# The Debian package: what the "runtime" component installs (programs, server modules,
# shared libraries, the service unit, the documentation), installed under /usr with the
# layout `cmake --install` gives, and maintainer scripts that register the server modules
# into /var/lib/auralink/registry.reg. `make package` (or `cpack` in the build folder)
# writes auralink_<version>_<architecture>.deb.
set(AURALINK_PACKAGE_PREFIX /usr)
set(AURALINK_PACKAGE_BINDIR ${AURALINK_PACKAGE_PREFIX}/${CMAKE_INSTALL_BINDIR})
set(AURALINK_PACKAGE_MODULEDIR ${AURALINK_PACKAGE_PREFIX}/${CMAKE_INSTALL_LIBDIR}/auralink)
# The hub first: the source servers' registrations record their agents with it.
set(AURALINK_PACKAGE_MODULES "")
foreach(module Touchpoint Quillon Marrowby Dunmere)
  string(APPEND AURALINK_PACKAGE_MODULES " \"$modules/lib${module}.so\"")
endforeach()
string(STRIP "${AURALINK_PACKAGE_MODULES}" AURALINK_PACKAGE_MODULES)

set(maintainer_scripts "")
foreach(script postinst prerm postrm)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/${script}.in ${CMAKE_BINARY_DIR}/packaging/${script}
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  list(APPEND maintainer_scripts ${CMAKE_BINARY_DIR}/packaging/${script})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME auralink)
set(CPACK_PACKAGE_VENDOR Kestrova)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "listening bridge from management sources to Orvex")
set(CPACK_PACKAGE_DESCRIPTION
  "Finds the objects, links and status changes of monitored management sources and\n hands them to the service-management server Orvex.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${AURALINK_PACKAGE_PREFIX})
# The service unit is written at install time with the prefix it will be found under.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${AURALINK_PACKAGE_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_PACKAGE_NAME auralink)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrova Auralink team <auralink@kestrova.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# Shared libraries from dpkg-shlibdeps; the ODBC driver manager with its tools, and a Java
# runtime for the VM the adapter bridge loads (default-java is where it looks first).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, default-jre-headless | java-runtime-headless")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${maintainer_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
