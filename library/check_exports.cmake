# cmake -DOBJDUMP=<objdump> -DDLL=<qmx71adll.dll> -DHEADER=<qmx71a.h> -P check_exports.cmake
#
# The DLL must export exactly the header's functions, each as "_" + its name,
# at ordinals 1, 2, ... in the header's order, and nothing else: hosts bind by
# name and by ordinal.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP DLL HEADER)
  if(NOT ${var})
    message(FATAL_ERROR "check_exports: ${var} not given")
  endif()
endforeach()

file(STRINGS "${HEADER}" declarations REGEX "^QMX_EXPORT ")
set(expected "")
set(ordinal 0)
foreach(line IN LISTS declarations)
  if(NOT line MATCHES "([A-Za-z0-9_]+)\\(")
    message(FATAL_ERROR "check_exports: cannot read a name in: ${line}")
  endif()
  math(EXPR ordinal "${ordinal} + 1")
  list(APPEND expected "${ordinal} _${CMAKE_MATCH_1}")
endforeach()
if(NOT ordinal EQUAL 20)
  message(FATAL_ERROR "check_exports: ${HEADER} declares ${ordinal} exports, not 20")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_exports: ${OBJDUMP} -p ${DLL} failed (${rc})")
endif()
string(REPLACE "\r" "" dump "${dump}")
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" dump_lines "${dump}")

# Sections of objdump's export listing: the address table (every ordinal,
# named or not) and the name table. Older binutils print unbiased indices in
# the name table, newer ones the ordinals; its heading tells which.
set(section "")
set(base "")
set(name_biased FALSE)
set(addresses 0)
set(actual "")
foreach(line IN LISTS dump_lines)
  if(line MATCHES "^Export Address Table -- Ordinal Base ([0-9]+)")
    set(section address_table)
    set(base "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section name_table)
    if(line MATCHES "Ordinal Base")
      set(name_biased TRUE)
    endif()
  elseif(line STREQUAL "" OR line MATCHES "^[A-Z]")
    set(section "")
  elseif(section STREQUAL "address_table" AND line MATCHES "^[ \t]*\\[ *[0-9]+\\]")
    math(EXPR addresses "${addresses} + 1")
  elseif(section STREQUAL "name_table" AND line MATCHES "^[ \t]*\\[ *([0-9]+)\\] ([^ \t]+)")
    set(number "${CMAKE_MATCH_1}")
    if(NOT name_biased)
      math(EXPR number "${number} + ${base}")
    endif()
    list(APPEND actual "${number} ${CMAKE_MATCH_2}")
  endif()
endforeach()

if(base STREQUAL "")
  message(FATAL_ERROR "check_exports: ${DLL} has no export table")
endif()
list(SORT expected COMPARE NATURAL)
list(SORT actual COMPARE NATURAL)
if(NOT actual STREQUAL expected OR NOT addresses EQUAL 20)
  list(JOIN expected "\n  " want)
  list(JOIN actual "\n  " got)
  message(FATAL_ERROR "check_exports: ${DLL} exports differ from ${HEADER}\n"
    "expected (ordinal name):\n  ${want}\n"
    "found (${addresses} ordinals in all):\n  ${got}")
endif()
message(STATUS "check_exports: ${DLL}: 20 exports, names and ordinals as the header declares")
