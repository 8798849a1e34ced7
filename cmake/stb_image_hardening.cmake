# stb_image as the library compiles it: the system header, copied into the
# build tree with stb_image-2.27-hardening.patch applied, the way a
# distribution patches a package. Sets STB_HARDENED_DIR, the folder to put on
# the include path before STB_INCLUDE_DIR.
#
# The configuration stops if the patch does not apply exactly (another stb
# version): the fixes must then be checked against that version, never
# silently dropped.

find_program(PATCH_PROGRAM patch NO_CMAKE_FIND_ROOT_PATH)
if(NOT PATCH_PROGRAM)
  message(FATAL_ERROR "patch not found: install the patch package")
endif()

set(_stb_original "${STB_INCLUDE_DIR}/stb_image.h")
set(_stb_patch "${CMAKE_CURRENT_LIST_DIR}/stb_image-2.27-hardening.patch")
set(STB_HARDENED_DIR "${CMAKE_BINARY_DIR}/stb-hardened")
set(_stb_new "${STB_HARDENED_DIR}/stb_image.h.new")

file(MAKE_DIRECTORY "${STB_HARDENED_DIR}")
execute_process(
  COMMAND "${PATCH_PROGRAM}" --batch --silent --fuzz=0 --reject-file=-
          "--output=${_stb_new}" "${_stb_original}" "${_stb_patch}"
  RESULT_VARIABLE _stb_patch_result
  OUTPUT_VARIABLE _stb_patch_log
  ERROR_VARIABLE _stb_patch_log)
if(NOT _stb_patch_result EQUAL 0)
  file(REMOVE "${_stb_new}")
  message(FATAL_ERROR
    "${_stb_patch} does not apply to ${_stb_original}:\n${_stb_patch_log}\n"
    "Port the fixes to this stb_image version (or install libstb-dev's 2.27).")
endif()
# Rewritten only when it changed, so a new configuration rebuilds nothing.
file(COPY_FILE "${_stb_new}" "${STB_HARDENED_DIR}/stb_image.h" ONLY_IF_DIFFERENT)
file(REMOVE "${_stb_new}")

# Configure again when either input changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${_stb_original}" "${_stb_patch}")
