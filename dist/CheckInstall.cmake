# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a build into a scratch prefix and checks that every file of the
# desktop integration landed where the desktop looks for it and agrees with
# the others (binary, menu entry, metainfo, icons, udev rule, systemd user
# unit). Run by CTest
# as `cmake -D... -P CheckInstall.cmake`; validators run on the result.
cmake_minimum_required(VERSION 3.16)

set(failures 0)
macro(fail message)
  message(SEND_ERROR "${message}")
  math(EXPR failures "${failures} + 1")
endmacro()

file(REMOVE_RECURSE "${PREFIX}")
unset(ENV{DESTDIR})
execute_process(
  COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
endif()

set(binary "${PREFIX}/${BINDIR}/${BINARY}")
set(cli "${PREFIX}/${BINDIR}/${CLI_BINARY}")
set(desktop "${PREFIX}/${DATADIR}/applications/${APP_ID}.desktop")
set(metainfo "${PREFIX}/${DATADIR}/metainfo/${APP_ID}.metainfo.xml")
set(icons "${PREFIX}/${DATADIR}/icons/hicolor")
set(rule "${PREFIX}/${UDEV_RULE}")
set(unit "")
if(WATCH_UNIT)
  set(unit "${PREFIX}/${WATCH_UNIT}")
endif()

foreach(f IN ITEMS "${binary}" "${cli}" "${desktop}" "${metainfo}" "${rule}" ${unit}
                   "${icons}/scalable/apps/${APP_ID}.svg")
  if(NOT EXISTS "${f}")
    fail("not installed: ${f}")
  endif()
endforeach()
foreach(program IN ITEMS "${binary}" "${cli}")
  if(EXISTS "${program}" AND NOT IS_DIRECTORY "${program}")
    execute_process(COMMAND test -x "${program}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      fail("installed binary is not executable: ${program}")
    endif()
  endif()
endforeach()

# Every PNG is a PNG of its directory's size.
foreach(size IN LISTS ICON_SIZES)
  set(png "${icons}/${size}x${size}/apps/${APP_ID}.png")
  if(NOT EXISTS "${png}")
    fail("not installed: ${png}")
    continue()
  endif()
  file(READ "${png}" signature LIMIT 8 HEX)
  file(READ "${png}" ihdr OFFSET 16 LIMIT 8 HEX)
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT ihdr MATCHES "^[0-9a-f]+$")
    fail("not a PNG file: ${png}")
    continue()
  endif()
  string(SUBSTRING "${ihdr}" 0 8 w)
  string(SUBSTRING "${ihdr}" 8 8 h)
  math(EXPR w "0x${w}")
  math(EXPR h "0x${h}")
  if(NOT w EQUAL size OR NOT h EQUAL size)
    fail("${png} is ${w}x${h}, not ${size}x${size}")
  endif()
endforeach()

# The menu entry starts the installed binary and names the installed icon.
if(EXISTS "${desktop}")
  file(STRINGS "${desktop}" lines)
  set(exec "")
  set(icon "")
  set(categories "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Exec=([^ ]+)")
      set(exec "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^Icon=(.*)$")
      set(icon "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^Categories=(.*)$")
      set(categories "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(NOT exec STREQUAL BINARY)
    fail("the menu entry runs '${exec}', not the installed '${BINARY}'")
  endif()
  if(NOT icon STREQUAL APP_ID)
    fail("the menu entry names icon '${icon}', the icon installed is '${APP_ID}'")
  endif()
  if(NOT categories STREQUAL "Game;Utility;")
    fail("the menu entry's categories are '${categories}', not 'Game;Utility;'")
  endif()
endif()

# The metainfo names the component, the menu entry, the binary, the hardware
# and the version being installed.
if(EXISTS "${metainfo}")
  file(READ "${metainfo}" xml)
  foreach(expected IN ITEMS
      "<id>${APP_ID}</id>"
      "<launchable type=\"desktop-id\">${APP_ID}.desktop</launchable>"
      "<binary>${BINARY}</binary>")
    string(FIND "${xml}" "${expected}" at)
    if(at EQUAL -1)
      fail("the metainfo lacks ${expected}")
    endif()
  endforeach()
  foreach(pid IN LISTS PRODUCT_IDS)
    string(FIND "${xml}" "<modalias>usb:v0483p${pid}d*</modalias>" at)
    if(at EQUAL -1)
      fail("the metainfo does not provide the modalias of product ${pid}")
    endif()
  endforeach()
  string(REGEX MATCHALL "<modalias>[^<]*</modalias>" modaliases "${xml}")
  list(LENGTH modaliases n)
  list(LENGTH PRODUCT_IDS expected_n)
  if(NOT n EQUAL expected_n)
    fail("the metainfo provides ${n} modaliases, the tool supports ${expected_n} products")
  endif()
  if(NOT xml MATCHES "<release version=\"([^\"]+)\"")
    fail("the metainfo has no release")
  elseif(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    fail("the newest release in the metainfo is ${CMAKE_MATCH_1}, the project is ${VERSION}")
  endif()
endif()

if(EXISTS "${rule}")
  file(READ "${rule}" text)
  if(NOT text MATCHES "TAG\\+=\"uaccess\"")
    fail("the installed udev rule does not tag the devices for uaccess")
  endif()
endif()

# The user unit runs the installed command line's watch, starts with the
# user's session and comes back after a failure; systemd-analyze, where
# there is one, finds nothing wrong with it (the manual page it names is
# not installed system-wide here, so that lookup is left out).
if(unit AND EXISTS "${unit}")
  file(STRINGS "${unit}" lines)
  foreach(expected IN ITEMS "ExecStart=${cli} watch" "WantedBy=default.target"
                            "Restart=on-failure")
    list(FIND lines "${expected}" at)
    if(at EQUAL -1)
      fail("the installed unit ${unit} lacks the line ${expected}")
    endif()
  endforeach()
  if(SYSTEMD_ANALYZE)
    execute_process(COMMAND "${SYSTEMD_ANALYZE}" verify --man=no "${unit}"
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
      fail("systemd-analyze verify finds fault with ${unit} (${rc}):\n${out}")
    endif()
  else()
    message(STATUS "systemd-analyze not found: the unit's syntax is not verified")
  endif()
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} problem(s) in the installed tree under ${PREFIX}")
endif()
message(STATUS "installed tree under ${PREFIX} is complete")
