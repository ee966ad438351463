# SPDX-License-Identifier: GPL-3.0-or-later
# Checks that the product libraries call only hidapi functions that every
# transport runs the same way (see ZUD_HID_ROUTED in transport/CMakeLists.txt):
#
#   cmake -DNM=nm -DLIBRARIES="a.a|b.a" -DROUTED="..." -DDIRECT="..."
#         -DREAD_LAYER="..." -DWIN32_REDIRECT=transport/HidApiRedirectWin32.h
#         -DVIRTUAL_BUS=simulator/VirtualHidBus.cpp -DHIDRAW="x.o|y.o"
#         -P CheckHidRouting.cmake
#
# Fails, naming the function, when
# - a library has an undefined hid_* symbol in none of the three lists,
# - the hidraw transport's objects do not define __wrap_ for every routed
#   function (the link wraps exactly the routed ones),
# - the Windows redirect header does not rename exactly the routed functions,
# - the virtual bus's definition of a routed function does not go through
#   the read layer, or that of a direct function does.

cmake_minimum_required(VERSION 3.16)

foreach(var NM LIBRARIES ROUTED DIRECT READ_LAYER WIN32_REDIRECT VIRTUAL_BUS HIDRAW)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "CheckHidRouting: ${var} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" LIBRARIES "${LIBRARIES}")
string(REPLACE "|" ";" HIDRAW "${HIDRAW}")
separate_arguments(ROUTED)
separate_arguments(DIRECT)
separate_arguments(READ_LAYER)
set(failed OFF)

# 1. The libraries' calls.
foreach(lib IN LISTS LIBRARIES)
  execute_process(COMMAND ${NM} --undefined-only --format=posix ${lib}
    OUTPUT_VARIABLE symbols RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${lib}: ${err}")
  endif()
  string(REGEX MATCHALL "(^|\n)hid_[A-Za-z0-9_]+ U" calls "${symbols}")
  set(seen "")
  foreach(call IN LISTS calls)
    string(REGEX REPLACE "^\n?(hid_[A-Za-z0-9_]+) U$" "\\1" fn "${call}")
    if(fn IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${fn})
    if(NOT fn IN_LIST ROUTED AND NOT fn IN_LIST DIRECT AND NOT fn IN_LIST READ_LAYER)
      get_filename_component(name ${lib} NAME)
      message(SEND_ERROR "${name} calls ${fn}, which is not known to run alike on every "
        "transport (the virtual bus may read through the read layer where hidapi reads past "
        "it). Use the routed or split-phase read functions instead, or add ${fn} to "
        "ZUD_HID_DIRECT (transport/CMakeLists.txt) if no transport's ${fn} touches the read layer, "
        "or route it on every transport and add it to ZUD_HID_ROUTED.")
      set(failed ON)
    endif()
  endforeach()
endforeach()

# 2. The hidraw link wraps the routed functions.
execute_process(COMMAND ${NM} --defined-only --format=posix ${HIDRAW}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on the hidraw transport: ${err}")
endif()
foreach(fn IN LISTS ROUTED)
  if(NOT symbols MATCHES "(^|\n)__wrap_${fn} T")
    message(SEND_ERROR "the hidraw transport does not define __wrap_${fn}")
    set(failed ON)
  endif()
endforeach()

# 3. Windows renames the routed functions with macros.
file(STRINGS ${WIN32_REDIRECT} defines REGEX "^#define hid_[a-z_]+ zud_hid_[a-z_]+$")
set(renamed "")
foreach(line IN LISTS defines)
  string(REGEX REPLACE "^#define (hid_[a-z_]+) zud_(hid_[a-z_]+)$" "\\1;\\2" pair "${line}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  if(NOT from STREQUAL to)
    message(SEND_ERROR "${WIN32_REDIRECT} renames ${from} to zud_${to}")
    set(failed ON)
  endif()
  list(APPEND renamed ${from})
endforeach()
foreach(fn IN LISTS ROUTED)
  if(NOT fn IN_LIST renamed)
    message(SEND_ERROR "${WIN32_REDIRECT} does not route ${fn}")
    set(failed ON)
  endif()
endforeach()
foreach(fn IN LISTS renamed)
  if(NOT fn IN_LIST ROUTED)
    message(SEND_ERROR "${WIN32_REDIRECT} routes ${fn}, which ZUD_HID_ROUTED does not list")
    set(failed ON)
  endif()
endforeach()

# 4. The virtual bus defines the hidapi functions itself: a definition routes
# through the read layer when its body opens, closes or reads through it.
file(STRINGS ${VIRTUAL_BUS} lines)
set(current "")
foreach(line IN LISTS lines)
  if(current STREQUAL "")
    if(line MATCHES "^[A-Za-z_].*[ *](hid_[a-z_]+)\\([^;]*$")
      set(current ${CMAKE_MATCH_1})
      set(body_${current} "")
    endif()
  elseif(line STREQUAL "}")
    list(APPEND defined ${current})
    set(current "")
  else()
    string(APPEND body_${current} "${line}\n")
  endif()
endforeach()
foreach(fn IN LISTS ROUTED DIRECT)
  if(NOT fn IN_LIST defined)
    message(SEND_ERROR "${VIRTUAL_BUS} does not define ${fn}")
    set(failed ON)
    continue()
  endif()
  if(body_${fn} MATCHES "hidsplit::|BusAccess::(open|close)")
    set(routes ON)
  else()
    set(routes OFF)
  endif()
  if(fn IN_LIST ROUTED AND NOT routes)
    message(SEND_ERROR "the virtual bus's ${fn} does not go through the read layer")
    set(failed ON)
  elseif(fn IN_LIST DIRECT AND routes)
    message(SEND_ERROR "the virtual bus's ${fn} goes through the read layer, "
      "which hidapi's does not: move ${fn} to ZUD_HID_ROUTED and route it on every transport")
    set(failed ON)
  endif()
endforeach()

if(failed)
  message(FATAL_ERROR "hidapi routing differs between the transports")
endif()
list(LENGTH LIBRARIES count)
message(STATUS "hidapi routing: ${count} libraries call only functions every transport runs alike")
