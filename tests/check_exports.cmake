# Compares the library's exported names with the functions its header declares:
# the library must export exactly those, under their plain names.
#   ELF:  cmake -DLIBRARY=... -DHEADER=... -DNM=... -P check_exports.cmake
#   DLL:  cmake -DLIBRARY=... -DHEADER=... -DOBJDUMP=... -P check_exports.cmake
# For a DLL the import table is checked too: the library must need nothing but
# what every Windows installation has (KERNEL32.dll and msvcrt.dll), so that
# hosts can load it without any other DLL beside it.
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/VelmoraDeclared.cmake)
velmora_declared_functions("${HEADER}" declared)
list(SORT declared)

function(run_tool out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

set(exported "")
if(OBJDUMP)
  run_tool(lines "${OBJDUMP}" -p "${LIBRARY}")
  # objdump -p lists, among other things:
  #   Number in:
  #   	Export Address Table 		00000006
  #   [Ordinal/Name Pointer] Table
  #   	[   0] velmora_cleanup
  #   	DLL Name: KERNEL32.dll
  set(section "")
  set(address_count "")
  set(imports "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
      set(section names)
    elseif(line MATCHES "^[^\t ]")
      set(section "")
    elseif(section STREQUAL "names" AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
      list(APPEND exported "${CMAKE_MATCH_1}")
    elseif(address_count STREQUAL "" AND line MATCHES "^\tExport Address Table[ \t]+([0-9a-fA-F]+)$")
      # The first such line is the count ("Number in:"); a later one, the address.
      math(EXPR address_count "0x${CMAKE_MATCH_1}")
    elseif(line MATCHES "^\tDLL Name: (.+)$")
      list(APPEND imports "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(LENGTH exported name_count)
  if(NOT address_count EQUAL name_count)
    # An entry without a name is an export by ordinal only: still an export.
    message(FATAL_ERROR "${address_count} exported addresses but ${name_count} names")
  endif()
  if(imports STREQUAL "")
    message(FATAL_ERROR "no import table found in ${LIBRARY}")
  endif()
  foreach(dll IN LISTS imports)
    if(NOT dll STREQUAL "KERNEL32.dll" AND NOT dll STREQUAL "msvcrt.dll")
      message(FATAL_ERROR "imports ${dll}; only KERNEL32.dll and msvcrt.dll may be needed\n"
                          "  imports: ${imports}")
    endif()
  endforeach()
else()
  run_tool(lines "${NM}" -D --defined-only "${LIBRARY}")
  foreach(line IN LISTS lines)
    # Code and data symbols; the linker's own markers (A) are not ours.
    if(line MATCHES "^[0-9a-fA-F]+ [TtDdBbRrVvWwiu] ([^ ]+)$")
      list(APPEND exported "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endif()
list(SORT exported)

if(NOT exported STREQUAL declared)
  message(FATAL_ERROR "exports differ from the header\n  declared: ${declared}\n  exported: ${exported}")
endif()
list(LENGTH exported n)
message(STATUS "${n} exports, exactly the declared velmora_* functions")
