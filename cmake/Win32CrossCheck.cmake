# SPDX-License-Identifier: GPL-3.0-or-later
# `make test` cross-compiles the Windows read layer for 32-bit and 64-bit
# Windows (see cmake/win32-check), one CTest test per architecture. The
# host's Qt headers serve the compile check of the game rules' Windows side.
list(GET Qt5Core_INCLUDE_DIRS 0 zud_qt_include_dir)
foreach(arch i686 x86_64)
  add_test(NAME win32_layer_${arch}
    COMMAND ${CMAKE_COMMAND}
      -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
      -DBINARY_DIR=${PROJECT_BINARY_DIR}/win32-check-${arch}
      -DTOOLCHAIN=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-w64-${arch}.cmake
      "-DHIDAPI_INCLUDE_DIR=${HIDAPI_INCLUDE_DIRS}"
      -DQT_INCLUDE_DIR=${zud_qt_include_dir}
      -P ${PROJECT_SOURCE_DIR}/cmake/RunWin32CrossCheck.cmake)
endforeach()
