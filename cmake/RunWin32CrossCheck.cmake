# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds cmake/win32-check with a MinGW-w64 toolchain file:
#   cmake -DSOURCE_DIR=<project> -DBINARY_DIR=<scratch> -DTOOLCHAIN=<file>
#         -DHIDAPI_INCLUDE_DIR=<dir> [-DQT_INCLUDE_DIR=<dir>] -P RunWin32CrossCheck.cmake
cmake_minimum_required(VERSION 3.16)

include(${TOOLCHAIN})
find_program(compiler ${CMAKE_CXX_COMPILER})
if(NOT compiler)
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} not found: install Debian's g++-mingw-w64 packages")
endif()

execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/cmake/win32-check -B ${BINARY_DIR}
          -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release
          -DZUD_SOURCE_DIR=${SOURCE_DIR} -DHIDAPI_INCLUDE_DIR=${HIDAPI_INCLUDE_DIR}
          -DQT_INCLUDE_DIR=${QT_INCLUDE_DIR}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the Windows cross build failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the Windows cross build failed")
endif()

# The probe compiled like the core must call the transport's four functions
# and none of hidapi's that they stand in for.
string(REGEX REPLACE "g\\+\\+$" "nm" nm "${compiler}")
file(GLOB_RECURSE probe_object "${BINARY_DIR}/CMakeFiles/zud_win32_redirect_probe.dir/*.obj")
if(NOT probe_object)
  message(FATAL_ERROR "the redirect probe's object file is missing")
endif()
execute_process(COMMAND ${nm} -u ${probe_object} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${nm} failed on ${probe_object}")
endif()
foreach(f hid_open_path hid_close hid_read hid_set_nonblocking)
  if(NOT symbols MATCHES "U _?zud_${f}\n")
    message(FATAL_ERROR "the core's ${f} calls do not reach zud_${f}:\n${symbols}")
  endif()
  if(symbols MATCHES "U _?${f}\n")
    message(FATAL_ERROR "the core still calls hidapi's ${f} directly:\n${symbols}")
  endif()
endforeach()
