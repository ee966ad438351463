# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the Debian package of a build into a scratch folder and checks it:
# its name, that it holds exactly the expected files and exactly what
# `cmake --install` put under the scratch prefix of install_tree, that its
# dependencies came from the binaries' libraries, its maintainer scripts and
# the version of its changelog; then lintian, whose errors fail the test.
# Run by CTest as `cmake -D... -P CheckDeb.cmake`.
cmake_minimum_required(VERSION 3.16)

set(failures 0)
macro(fail message)
  message(SEND_ERROR "${message}")
  math(EXPR failures "${failures} + 1")
endmacro()

file(REMOVE_RECURSE "${OUT_DIR}")
execute_process(
  COMMAND ${CPACK} -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${OUT_DIR}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}")
endif()

execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
  OUTPUT_STRIP_TRAILING_WHITESPACE)
set(deb "${OUT_DIR}/${PACKAGE}_${VERSION}_${arch}.deb")
if(NOT EXISTS "${deb}")
  file(GLOB made "${OUT_DIR}/*.deb")
  message(FATAL_ERROR "expected ${deb}, cpack made: ${made}")
endif()

# The files (not the folders) of the package, as usr/... paths.
execute_process(COMMAND dpkg-deb --contents "${deb}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dpkg-deb --contents ${deb} failed")
endif()
string(REGEX MATCHALL "\n[-l][^\n]* \\./[^\n]*[^/\n]" entries "\n${listing}")
set(packaged "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^.* \\./([^ ]+)( -> .*)?$" "\\1" path "${entry}")
  list(APPEND packaged "${path}")
endforeach()
list(SORT packaged)

file(STRINGS "${EXPECTED}" expected)
list(FILTER expected EXCLUDE REGEX "^$")
list(SORT expected)
file(GLOB_RECURSE installed RELATIVE "${INSTALLED}" LIST_DIRECTORIES false "${INSTALLED}/*")
list(TRANSFORM installed PREPEND "usr/")
list(SORT installed)
foreach(other expected installed)
  set(missing ${${other}})
  list(REMOVE_ITEM missing ${packaged})
  set(extra ${packaged})
  list(REMOVE_ITEM extra ${${other}})
  if(missing OR extra)
    fail("the package's files differ from the ${other} ones: missing ${missing}; not ${other}: ${extra}")
  endif()
endforeach()

execute_process(COMMAND dpkg-deb --field "${deb}" Depends OUTPUT_VARIABLE depends)
foreach(dependency IN LISTS DEPENDS)
  if(NOT depends MATCHES "(^|, )${dependency} \\(>= [^)]+\\)")
    fail("Depends lacks a versioned ${dependency} from dpkg-shlibdeps: ${depends}")
  endif()
endforeach()

foreach(script postinst postrm)
  execute_process(COMMAND dpkg-deb --info "${deb}" ${script}
    OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT text MATCHES "udevadm trigger --subsystem-match=hidraw")
    fail("the package's ${script} does not apply the udev rule")
  endif()
endforeach()

# The user unit runs the program where the package puts it, not where the
# build's own install prefix would have.
if(WATCH_UNIT)
  execute_process(COMMAND dpkg-deb --fsys-tarfile "${deb}"
                  COMMAND tar -xO "./${WATCH_UNIT}"
                  OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT text MATCHES "\nExecStart=/${CLI} watch\n")
    fail("the package's ${WATCH_UNIT} does not run /${CLI} watch:\n${text}")
  endif()
endif()

file(STRINGS "${CHANGELOG}" first LIMIT_COUNT 1)
if(NOT first MATCHES "^${PACKAGE} \\(${VERSION}\\) ")
  fail("the changelog's newest entry is '${first}', the package is ${PACKAGE} ${VERSION}")
endif()

# lintian prints every error and warning; errors fail the test.
execute_process(COMMAND ${LINTIAN} --fail-on error "${deb}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("lintian found errors in ${deb} (status ${rc})")
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} problem(s) in ${deb}")
endif()
message(STATUS "${deb} is complete")
