# What `cmake --install` puts on a system, and the Debian package made of it (scripts/package).
# Only the program and the simulator are installed, with what a desktop needs to show the
# program in its menus (desktop entry, icon, AppStream metainfo), a man page for each, and the
# copyright file and changelog every Debian package carries.
include(GNUInstallDirs)

set(QX_APP_ID io.quenrix.Quenrix)   # desktop entry, icon and metainfo share this name
set(data ${PROJECT_SOURCE_DIR}/data)
set(gen ${CMAKE_BINARY_DIR}/data)

install(TARGETS quenrix quenrix-ecu-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${data}/${QX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The PNG is the SVG rendered at 128 pixels (rsvg-convert -w 128), for menus that draw no SVG.
install(FILES ${data}/icons/scalable/${QX_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${data}/icons/128x128/${QX_APP_ID}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
# Where the project's site is, and under it the pictures of docs/ that the metainfo shows as
# screenshots (README.md, Install). A build for another site sets both.
set(QX_HOMEPAGE "https://quenrix.io" CACHE STRING "The project's home page")
set(QX_DOCS_URL "${QX_HOMEPAGE}/docs" CACHE STRING "Where the files of docs/ are published")
set(QX_CONTACT "The Quenrix IO developers <developers@quenrix.invalid>")

# The release notes, once, for the metainfo and the Debian changelog.
include(${CMAKE_CURRENT_LIST_DIR}/ReleaseNotes.cmake)
qx_release_notes(${gen}/changelog.Debian "${QX_CONTACT}")
configure_file(${data}/${QX_APP_ID}.metainfo.xml.in ${gen}/${QX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${gen}/${QX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The licence as Debian expects it with every package: a copyright file in the machine-readable
# format, beside the changelog, both under the package's name (not the project's).
set(doc ${CMAKE_INSTALL_DATADIR}/doc/quenrix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${gen}/copyright @ONLY)
add_custom_command(OUTPUT ${gen}/changelog.Debian.gz
  COMMAND gzip -9nkf ${gen}/changelog.Debian
  DEPENDS ${gen}/changelog.Debian VERBATIM)
add_custom_target(qx_changelog ALL DEPENDS ${gen}/changelog.Debian.gz)
install(FILES ${gen}/copyright ${gen}/changelog.Debian.gz DESTINATION ${doc})

# Man pages, compressed as Debian keeps them. The simulator's is made from its own --help and
# --version, so that its options are listed once, in the program.
configure_file(${data}/man/quenrix.1.in ${gen}/quenrix.1 @ONLY)
set(man_pages ${gen}/quenrix.1.gz)
add_custom_command(OUTPUT ${gen}/quenrix.1.gz
  COMMAND gzip -9nkf ${gen}/quenrix.1
  DEPENDS ${gen}/quenrix.1 VERBATIM)
# Not in a sanitizer build, which nobody installs: its leak checker may not run where
# the build does.
find_program(QX_HELP2MAN help2man)
if(QX_HELP2MAN AND NOT QX_SANITIZE)
  add_custom_command(OUTPUT ${gen}/quenrix-ecu-sim.1.gz
    COMMAND ${QX_HELP2MAN} --no-info --section 1 --source "Quenrix IO"
            --name "a simulated engine control unit for Quenrix IO"
            --include ${data}/man/quenrix-ecu-sim.h2m
            --output ${gen}/quenrix-ecu-sim.1 $<TARGET_FILE:quenrix-ecu-sim>
    COMMAND gzip -9nf ${gen}/quenrix-ecu-sim.1
    DEPENDS quenrix-ecu-sim ${data}/man/quenrix-ecu-sim.h2m VERBATIM)
  list(APPEND man_pages ${gen}/quenrix-ecu-sim.1.gz)
elseif(NOT QX_SANITIZE)
  message(STATUS "help2man not found: the simulator's man page is not made (scripts/package installs it)")
endif()
add_custom_target(qx_man ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package. Its library dependencies are read from the binaries by dpkg-shlibdeps;
# the Qt platform plugins (to open a window at all) and the font the window is laid out for
# are no libraries the binaries link, so they are recommended, as apt installs by default.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenrix)
set(CPACK_PACKAGE_VENDOR "Quenrix IO")
set(CPACK_PACKAGE_CONTACT "${QX_CONTACT}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${QX_HOMEPAGE}")
# The synopsis goes first; CPack puts it there itself and indents each line of the body by one
# space, turning an empty line into " .". So the body is written here unindented, wrapped to
# stay inside 80 columns once indented.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tuning and monitoring tool for an aftermarket engine control unit")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quenrix IO reads the calibration memory of an aftermarket ECU over a
serial line, shows it as twelve maps and twenty-five settings, writes every
edit to the ECU at once, polls the live engine values and records them into
a fourteen-channel data log.

The package also holds quenrix-ecu-sim, a simulated ECU on a
pseudo-terminal, to use and test the program without hardware:
quenrix --demo starts it and connects to it.")
# Packaged by the project itself: the first Debian revision of each release.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins, fonts-dejavu-core")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
