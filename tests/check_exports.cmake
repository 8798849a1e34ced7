# Compares the library's exported names with the functions its header declares:
# the library must export exactly those.
#   cmake -DLIBRARY=... -DHEADER=... -DNM=... -P check_exports.cmake
file(READ "${HEADER}" header)
string(REGEX MATCHALL "VELMORA_API[^;(]*velmora_[A-Za-z0-9_]+[ ]*\\(" decls "${header}")
set(declared "")
foreach(d IN LISTS decls)
  string(REGEX MATCH "velmora_[A-Za-z0-9_]+" name "${d}")
  list(APPEND declared "${name}")
endforeach()
list(SORT declared)

execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
  OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
foreach(line IN LISTS lines)
  # Code and data symbols; the linker's own markers (A) are not ours.
  if(line MATCHES "^[0-9a-fA-F]+ [TtDdBbRrVvWwiu] ([^ ]+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT exported)

if(NOT exported STREQUAL declared)
  message(FATAL_ERROR "exports differ from the header\n  declared: ${declared}\n  exported: ${exported}")
endif()
list(LENGTH exported n)
message(STATUS "${n} exports, exactly the declared velmora_* functions")
