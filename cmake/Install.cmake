# Where `cmake --install` puts Stowbay, and the .deb CPack builds from the same tree.
include(GNUInstallDirs)

install(TARGETS stowbay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/org.stowbay.Stowbay.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/org.stowbay.Stowbay.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES resources/stowbay.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Menus and trays that cannot scale an SVG pick one of these.
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(icons)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/stowbay.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/resources/stowbay.svg
      DEPENDS resources/stowbay.svg VERBATIM)
    list(APPEND icons ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(stowbay_icons ALL DEPENDS ${icons})
else()
  message(STATUS "rsvg-convert not found: only the scalable icon is installed")
endif()

# The manual page comes from the program's own --help when it has one (help2man), else from
# resources/stowbay.1.
find_program(HELP2MAN help2man)
set(manpage ${CMAKE_BINARY_DIR}/stowbay.1.gz)
add_custom_command(OUTPUT ${manpage}
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:stowbay> -DHELP2MAN=${HELP2MAN}
          -DFALLBACK=${CMAKE_SOURCE_DIR}/resources/stowbay.1 -DOUTPUT=${manpage}
          -P ${CMAKE_SOURCE_DIR}/cmake/ManPage.cmake
  DEPENDS stowbay resources/stowbay.1 cmake/ManPage.cmake VERBATIM)
add_custom_target(stowbay_manpage ALL DEPENDS ${manpage})
install(FILES ${manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The copyright and changelog every Debian package carries.
string(TIMESTAMP STOWBAY_PACKAGE_DATE "%a, %d %b %Y 00:00:00 +0000" UTC)
set(STOWBAY_MAINTAINER "The Stowbay developers <stowbay@example.org>" CACHE STRING
    "Maintainer named in the .deb and its changelog")
configure_file(packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/packaging/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog VERBATIM)
add_custom_target(stowbay_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/stowbay)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stowbay)
set(CPACK_PACKAGE_VENDOR "The Stowbay developers")
set(CPACK_PACKAGE_CONTACT "${STOWBAY_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "holding place for files while you drag")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "While you drag files anywhere on screen, shake the pointer and a floating panel"
    "slides in at the edge of the screen. Drop the files on it, go to another window"
    "or folder, and drag them out again: one, the selection, or all at once."
    "Stowbay keeps references to the files, never copies, and lives in the system"
    "tray (X11).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads the SVG reader as a plugin, which dpkg-shlibdeps cannot see: the icons need it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
