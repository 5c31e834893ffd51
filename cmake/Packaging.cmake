# The Debian package (CPack's DEB generator), configured when ZEMBRA_PACKAGE is on:
#   cmake -S . -B build-package -DZEMBRA_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/usr ...
#   cpack --config build-package/CPackConfig.cmake -B build/package
# (scripts/package.sh does both). The package holds everything `cmake --install` installs,
# plus the service, its defaults file, the copyright file and the maintainer scripts.
if(NOT ZEMBRA_PACKAGE)
  return()
endif()
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "ZEMBRA_PACKAGE needs CMAKE_INSTALL_PREFIX=/usr (it is ${CMAKE_INSTALL_PREFIX})")
endif()

set(ZEMBRA_SERVICE_NAME zembra-serve)
set(ZEMBRA_SERVICE_USER zembra-serve)
set(ZEMBRA_SERVICE_STATE_DIR /var/lib/${ZEMBRA_SERVICE_NAME})
set(ZEMBRA_SERVICE_DEFAULTS /etc/default/${ZEMBRA_SERVICE_NAME})
set(ZEMBRA_BOOKKEEPING_DIR /var/lib/zembra)
# Debian's mdbtools and FreeTDS packages put their ODBC drivers in the multiarch folder.
set(ZEMBRA_ODBC_DRIVER_DIR /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/odbc)
if(NOT CMAKE_LIBRARY_ARCHITECTURE)
  message(FATAL_ERROR "ZEMBRA_PACKAGE: the multiarch triplet (CMAKE_LIBRARY_ARCHITECTURE) is unknown")
endif()

set(zembra_pkg_src ${PROJECT_SOURCE_DIR}/packaging)
set(zembra_pkg_out ${CMAKE_BINARY_DIR}/packaging)
configure_file(${zembra_pkg_src}/zembra-serve.service.in
               ${zembra_pkg_out}/${ZEMBRA_SERVICE_NAME}.service @ONLY)
foreach(script postinst prerm postrm)
  configure_file(${zembra_pkg_src}/debian/${script}.in ${zembra_pkg_out}/control/${script}
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
file(WRITE ${zembra_pkg_out}/control/conffiles "${ZEMBRA_SERVICE_DEFAULTS}\n")
configure_file(${zembra_pkg_src}/debian/triggers ${zembra_pkg_out}/control/triggers COPYONLY)

# Debian 12 packages put their units in /lib/systemd/system.
install(FILES ${zembra_pkg_out}/${ZEMBRA_SERVICE_NAME}.service DESTINATION /lib/systemd/system)
install(FILES ${zembra_pkg_src}/zembra-serve.default DESTINATION /etc/default
        RENAME ${ZEMBRA_SERVICE_NAME})
install(FILES ${zembra_pkg_src}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zembra)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zembra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zembra developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "puts US zip codes on map pictures")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Zembra developers <zembra@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Zembra looks US zip codes up in a zip-code table, projects them onto a map picture
and marks them there; in the other direction it tells the zip code under a pixel.

The package holds the command line zembra (render, points, lookup, list, db load
and the web server zembra serve, with the service zembra-serve.service, not
enabled), the desktop client ZembraClient, the engine libZembra.so and its
runtime, the map pictures, markers, boundary data, the zip-code database and the
client's help file.")
# Libraries from the binaries; beside them what is only loaded at run time: the ODBC
# drivers of the batch sources (registered by the postinst), unixODBC's odbcinst for that,
# Qt's platform plugins for the client's window, the help viewer and the desktop's launcher.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "odbcinst, odbc-mdbtools, tdsodbc, qt6-qpa-plugins, xchm, xdg-utils, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${zembra_pkg_out}/control/postinst ${zembra_pkg_out}/control/prerm
    ${zembra_pkg_out}/control/postrm ${zembra_pkg_out}/control/conffiles
    ${zembra_pkg_out}/control/triggers)
# Debian's layout: manual pages compressed.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageStaging.cmake)

include(CPack)
