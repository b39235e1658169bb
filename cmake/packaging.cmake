# Installation and the Debian package.
#
# `cmake --install build --prefix P` lays out P/bin/tarvik beside
# P/share/tarvik/, which is what makes the program choose its installed layout
# (configuration and trend files in the XDG directories, help pages from
# P/share/tarvik/help/). `scripts/package` builds the .deb from the same rules.
include(GNUInstallDirs)

set(TARVIK_APP_ID "org.tarvik.Tarvik" CACHE STRING "Reverse-DNS application id (desktop entry, AppStream, icon)")
set(TARVIK_HOMEPAGE "https://tarvik.org" CACHE STRING "Project home page named in the AppStream data")
set(TARVIK_MAINTAINER "The Tarvik developers <developers@tarvik.org>" CACHE STRING "Package maintainer")

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
file(GLOB TARVIK_HELP_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/help/*.html)
set(_gen ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_gen})

# Generated files: the AppStream data and the manual page carry the version;
# manual pages and the changelog are installed compressed, as Debian does.
configure_file(${_pkg}/linux/${TARVIK_APP_ID}.metainfo.xml.in ${_gen}/${TARVIK_APP_ID}.metainfo.xml @ONLY)
function(tarvik_gzip in out)
  add_custom_command(OUTPUT ${out}
    COMMAND gzip -9nc ${in} > ${out}
    DEPENDS ${in} VERBATIM)
endfunction()
configure_file(${_pkg}/man/tarvik.1 ${_gen}/tarvik.1 @ONLY)
tarvik_gzip(${_gen}/tarvik.1 ${_gen}/tarvik.1.gz)
tarvik_gzip(${_pkg}/debian/changelog ${_gen}/changelog.gz)
set(_man_pages ${_gen}/tarvik.1.gz)
if(EXISTS ${_pkg}/man/tarvik-cli.1)
  configure_file(${_pkg}/man/tarvik-cli.1 ${_gen}/tarvik-cli.1 @ONLY)
  tarvik_gzip(${_gen}/tarvik-cli.1 ${_gen}/tarvik-cli.1.gz)
  list(APPEND _man_pages ${_gen}/tarvik-cli.1.gz)
endif()
add_custom_target(tarvik_packaging_files ALL DEPENDS ${_man_pages} ${_gen}/changelog.gz)

install(TARGETS tarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tarvik-cli)
  install(TARGETS tarvik-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${TARVIK_HELP_PAGES} DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvik/help)
install(FILES ${_pkg}/linux/${TARVIK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_gen}/${TARVIK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_pkg}/icons/${TARVIK_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${_pkg}/icons/hicolor/${size}x${size}/apps/${TARVIK_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${_pkg}/debian/copyright ${_gen}/changelog.gz ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvik)
# The files for watching many machines: Prometheus, Grafana, systemd.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/contrib/ DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvik/examples)

# ---- the .deb ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TARVIK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "measure and record the speed of network resources")
set(CPACK_PACKAGE_DESCRIPTION
  "Tarvik measures the data transfer speed of network resources and keeps a
day-by-day history of it: directories on network drives (write and read
speed of a test file), read-only files (read speed) and Internet hosts (ICMP
ping speed), each in its own thread. It shows current speeds in a table and a
live chart, keeps quarter-hour averages in a trend file, prints and exports
any day's trend, fires minimum and maximum speed events and presses
reconnect buttons in dial-up dialog boxes.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TARVIK_HOMEPAGE}")
# Library dependencies come from the executables' shared libraries; the
# sound player loads GStreamer plugins at run time, which no library names.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The table's narrow face comes from fonts-liberation.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
