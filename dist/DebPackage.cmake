# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: `make deb` (cpack -G DEB in the build folder) makes
# zud-wheel-tool_VERSION_ARCH.deb of everything the install rules put under
# /usr, so a new install rule (a second program, say) lands in it by itself.
# Its dependencies come from dpkg-shlibdeps on the binaries; its maintainer
# scripts apply the udev rule to devices that are plugged in already.
set(ZUD_DEB_NAME zud-wheel-tool)
set(ZUD_DEB_MAINTAINER "ZUD wheel tool maintainers <maintainers@users.noreply.c-seed-1f29d00b.example>"
  CACHE STRING "The Maintainer field of the Debian package")

# Debian's documentation of every package: its copyright and its changelog,
# compressed as policy wants (gzip -9n, no timestamp); and the manual page.
set(ZUD_DEB_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZUD_DEB_NAME})
set(changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
configure_file(ZUD_wheel_tool.1.in ${CMAKE_CURRENT_BINARY_DIR}/ZUD_wheel_tool.1 @ONLY)
set(manpage_gz ${CMAKE_CURRENT_BINARY_DIR}/ZUD_wheel_tool.1.gz)
add_custom_command(
  OUTPUT ${changelog_gz} ${manpage_gz}
  COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog > ${changelog_gz}
  COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/ZUD_wheel_tool.1 > ${manpage_gz}
  DEPENDS debian/changelog ${CMAKE_CURRENT_BINARY_DIR}/ZUD_wheel_tool.1
  VERBATIM)
add_custom_target(zud_docs ALL DEPENDS ${changelog_gz} ${manpage_gz})
install(FILES debian/copyright ${changelog_gz} DESTINATION ${ZUD_DEB_DOCDIR})
install(FILES ${manpage_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The command line's manual page, when it is built.
if(TARGET zud-wheel)
  configure_file(zud-wheel.1.in ${CMAKE_CURRENT_BINARY_DIR}/zud-wheel.1 @ONLY)
  set(cli_manpage_gz ${CMAKE_CURRENT_BINARY_DIR}/zud-wheel.1.gz)
  add_custom_command(
    OUTPUT ${cli_manpage_gz}
    COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/zud-wheel.1 > ${cli_manpage_gz}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/zud-wheel.1
    VERBATIM)
  add_custom_target(zud_cli_docs ALL DEPENDS ${cli_manpage_gz})
  install(FILES ${cli_manpage_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME ${ZUD_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZUD_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "configuration tool for a direct-drive force-feedback wheel base")
# Lines of the long description stay within lintian's 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
  "Shows the attached wheel bases, pedal sets and their USB bootloader, turns
a rim picture with the live steering angle and shows motor, encoder and
force-feedback values. Edits and saves the force-feedback profiles kept on
the wheel base, logs live data to CSV files and updates the firmware.
The command line zud-wheel does the same for scripts and headless machines.

A udev rule gives the user logged in at the machine access to the devices.")
set(CPACK_DEBIAN_PACKAGE_NAME ${ZUD_DEB_NAME})
# name_version_arch.deb: a native package, no Debian revision.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Directories 0755 whatever the umask of whoever builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

if(ZUD_BUILD_TESTS AND ZUD_SANITIZE STREQUAL "")
  # Every file the package must hold, relative to /; the command-line tool
  # joins the list when it is built.
  set(expected
    usr/${CMAKE_INSTALL_BINDIR}/ZUD_wheel_tool
    "$<$<TARGET_EXISTS:zud-wheel>:usr/${CMAKE_INSTALL_BINDIR}/zud-wheel>"
    usr/${CMAKE_INSTALL_DATADIR}/applications/${ZUD_APP_ID}.desktop
    usr/${CMAKE_INSTALL_DATADIR}/metainfo/${ZUD_APP_ID}.metainfo.xml
    usr/${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps/${ZUD_APP_ID}.svg
    usr/${ZUD_UDEV_RULES_DIR}/${ZUD_UDEV_RULE}
    "$<$<TARGET_EXISTS:zud-wheel>:usr/${ZUD_SYSTEMD_USER_UNIT_DIR}/${ZUD_WATCH_UNIT}>"
    usr/${CMAKE_INSTALL_MANDIR}/man1/ZUD_wheel_tool.1.gz
    "$<$<TARGET_EXISTS:zud-wheel>:usr/${CMAKE_INSTALL_MANDIR}/man1/zud-wheel.1.gz>"
    usr/${ZUD_DEB_DOCDIR}/copyright
    usr/${ZUD_DEB_DOCDIR}/changelog.gz)
  foreach(size IN LISTS ZUD_ICON_SIZES)
    list(APPEND expected usr/${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps/${ZUD_APP_ID}.png)
  endforeach()
  list(JOIN expected "\n" expected)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/deb-check-files.txt CONTENT "${expected}\n")

  find_program(LINTIAN lintian)
  if(NOT LINTIAN)
    message(WARNING "lintian not found: the package test will fail (install lintian)")
    set(LINTIAN lintian-not-found)
  endif()
  # Makes the package into a scratch folder, checks its files against the
  # list above and against the scratch install of install_tree, its
  # dependencies and its maintainer scripts, and runs lintian on it.
  add_test(NAME deb_package
    COMMAND ${CMAKE_COMMAND}
      -DCPACK=${CMAKE_CPACK_COMMAND}
      -DBUILD_DIR=${CMAKE_BINARY_DIR}
      -DOUT_DIR=${CMAKE_BINARY_DIR}/deb-check
      -DEXPECTED=${CMAKE_BINARY_DIR}/deb-check-files.txt
      -DINSTALLED=${CMAKE_BINARY_DIR}/install-check
      -DPACKAGE=${ZUD_DEB_NAME}
      -DVERSION=${PROJECT_VERSION}
      -DCHANGELOG=${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog
      "-DDEPENDS=libc6;libhidapi-hidraw0;libqt5widgets5"
      -DLINTIAN=${LINTIAN}
      "-DWATCH_UNIT=$<$<TARGET_EXISTS:zud-wheel>:usr/${ZUD_SYSTEMD_USER_UNIT_DIR}/${ZUD_WATCH_UNIT}>"
      -DCLI=usr/${CMAKE_INSTALL_BINDIR}/zud-wheel
      -P ${CMAKE_CURRENT_SOURCE_DIR}/CheckDeb.cmake)
  set_tests_properties(deb_package PROPERTIES FIXTURES_REQUIRED installed_tree)
endif()
