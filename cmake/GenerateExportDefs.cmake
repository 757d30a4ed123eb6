# Writes the export lists of ImgEngine from the export table.
# Windows:  cmake -DTABLE=ImgEngineExports.h -DDEF=ImgEngine.def -DORDINAL_DEF=ImgEngineByOrdinal.def
#                 -DIMPORT_DEF=ImgEngineByName.def -DPOINTER_SIZE=4|8 -P GenerateExportDefs.cmake
# Linux:    cmake -DTABLE=ImgEngineExports.h -DVERSION_SCRIPT=ImgEngine.map -P GenerateExportDefs.cmake
# ImgEngine.def exports every row under its exact name and ordinal; an alias exports its
# target's code a second time. ImgEngineByOrdinal.def describes an import library whose
# entries bind by ordinal only. ImgEngineByName.def describes the import library by name:
# each entry's symbol is what a C caller of the declared function refers to, and it imports
# the exported name ("_VelIsColorSensor@0" for VelIsColorSensor). 32-bit code symbols carry
# the __stdcall "@bytes" suffix; 64-bit ones have none (there is a single calling convention
# there). ImgEngine.map is the linker version script that makes the C names the only
# dynamic symbols of the .so.
file(STRINGS "${TABLE}" rows REGEX "^VEL_(FN|ALIAS)\\(")
set(def "LIBRARY ImgEngine.dll\nEXPORTS\n")
set(ordinal_def "LIBRARY ImgEngine.dll\nEXPORTS\n")
set(import_def "LIBRARY ImgEngine.dll\nEXPORTS\n")
set(version_script "{\n  global:\n")
set(expected 1)
foreach(row IN LISTS rows)
  if(NOT row MATCHES "^VEL_(FN|ALIAS)\\(([0-9]+), (PLAIN|DECORATED), [^,]+, ([A-Za-z0-9_]+), ([0-9]+), \\(([^)]*)\\)(, ([A-Za-z0-9_]+))?\\)")
    message(FATAL_ERROR "${TABLE}: row not understood: ${row}")
  endif()
  set(ordinal ${CMAKE_MATCH_2})
  set(name ${CMAKE_MATCH_4})
  set(bytes ${CMAKE_MATCH_5})
  if(NOT ordinal EQUAL expected)
    message(FATAL_ERROR "${TABLE}: ordinal ${ordinal} where ${expected} was expected")
  endif()
  math(EXPR expected "${expected} + 1")
  set(symbol ${name})
  if(CMAKE_MATCH_1 STREQUAL "ALIAS")
    set(symbol ${CMAKE_MATCH_8})
  endif()
  if(CMAKE_MATCH_3 STREQUAL "DECORATED")
    set(exported "_${name}@${bytes}")
  else()
    set(exported "${name}")
  endif()
  set(suffix "")
  if(POINTER_SIZE EQUAL 4)
    set(suffix "@${bytes}")
  endif()
  string(APPEND def "  ${exported} = ${symbol}${suffix} @${ordinal}\n")
  string(APPEND ordinal_def "  ${name}${suffix} @${ordinal} NONAME\n")
  string(APPEND import_def "  ${name}${suffix} @${ordinal} == ${exported}\n")
  string(APPEND version_script "    ${name};\n")
endforeach()
if(NOT expected EQUAL 360)
  math(EXPR count "${expected} - 1")
  message(FATAL_ERROR "${TABLE}: ${count} exports, 359 expected")
endif()
string(APPEND version_script "  local:\n    *;\n};\n")
# Written only when changed, so that an unchanged table relinks nothing.
foreach(pair "DEF;def" "ORDINAL_DEF;ordinal_def" "IMPORT_DEF;import_def" "VERSION_SCRIPT;version_script")
  list(GET pair 0 file_var)
  list(GET pair 1 text_var)
  if(NOT ${file_var})
    continue()
  endif()
  set(old "")
  if(EXISTS "${${file_var}}")
    file(READ "${${file_var}}" old)
  endif()
  if(NOT old STREQUAL "${${text_var}}")
    file(WRITE "${${file_var}}" "${${text_var}}")
  endif()
endforeach()
