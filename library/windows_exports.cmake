# Windows side of the library's exports, included from library/CMakeLists.txt.
#
# The DLL exports "_QmxOpen" ... "_QmxDRead" (qmx71a.def). ld's own import
# library would offer those same underscored names to a C host, which calls
# QmxOpen: it is replaced by one from dlltool that binds each C name to its
# underscored export, so a host built against qmx71a.h links as on Linux.

if(CMAKE_DLLTOOL)
  set(qmx_dlltool "${CMAKE_DLLTOOL}")
else()
  get_filename_component(qmx_cc_name "${CMAKE_C_COMPILER}" NAME)
  string(REGEX REPLACE "-gcc.*$" "" qmx_triple "${qmx_cc_name}")
  find_program(qmx_dlltool NAMES ${qmx_triple}-dlltool dlltool REQUIRED)
endif()
if(NOT QMX_MINGW_OBJDUMP)
  get_filename_component(qmx_cc_name "${CMAKE_C_COMPILER}" NAME)
  string(REGEX REPLACE "-gcc.*$" "" qmx_triple "${qmx_cc_name}")
  find_program(QMX_MINGW_OBJDUMP NAMES ${qmx_triple}-objdump objdump REQUIRED)
endif()

# "  _QmxOpen = QmxOpen @1" becomes "  QmxOpen @1 == _QmxOpen": the host's
# QmxOpen imports _QmxOpen by name, the ordinal as its hint.
file(STRINGS "${CMAKE_CURRENT_SOURCE_DIR}/qmx71a.def" qmx_def_lines)
set(qmx_import_def "EXPORTS\n")
foreach(line IN LISTS qmx_def_lines)
  if(line MATCHES "^[ \t]*(_[A-Za-z0-9]+)[ \t]*=[ \t]*([A-Za-z0-9]+)[ \t]+(@[0-9]+)")
    string(APPEND qmx_import_def "  ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} == ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(CONFIGURE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/qmx71a_imports.def" CONTENT "${qmx_import_def}")

set_property(TARGET qmx71a APPEND PROPERTY LINK_DEPENDS
  "${CMAKE_CURRENT_SOURCE_DIR}/qmx71a.def" "${CMAKE_CURRENT_BINARY_DIR}/qmx71a_imports.def")

# Every link checks the export table against the header before anything uses
# the DLL: a missing, renamed, extra or re-numbered export fails the build.
add_custom_command(TARGET qmx71a POST_BUILD
  COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${QMX_MINGW_OBJDUMP}" "-DDLL=$<TARGET_FILE:qmx71a>"
          "-DHEADER=${CMAKE_CURRENT_SOURCE_DIR}/qmx71a.h"
          -P "${CMAKE_CURRENT_SOURCE_DIR}/check_exports.cmake"
  COMMAND "${qmx_dlltool}" -d "${CMAKE_CURRENT_BINARY_DIR}/qmx71a_imports.def"
          -D "$<TARGET_FILE_NAME:qmx71a>" -l "$<TARGET_LINKER_FILE:qmx71a>"
  COMMENT "Checking the exports of qmx71adll.dll and writing its import library"
  VERBATIM)

if(QMX_BUILD_TESTS)
  add_test(NAME qmx71a_dll_exports
    COMMAND "${CMAKE_COMMAND}" "-DOBJDUMP=${QMX_MINGW_OBJDUMP}" "-DDLL=$<TARGET_FILE:qmx71a>"
            "-DHEADER=${CMAKE_CURRENT_SOURCE_DIR}/qmx71a.h"
            -P "${CMAKE_CURRENT_SOURCE_DIR}/check_exports.cmake")
  set_tests_properties(qmx71a_dll_exports PROPERTIES LABELS unit TIMEOUT 60)
endif()
