# The Windows release archive: `cpack` in the Windows build directory makes
# tarvinex-velmora-<version>-win64.zip with the DLL and the command, the header,
# import libraries for MSVC (.lib, made from a .def) and mingw (.dll.a), the
# bindings, the licence and the notices.
include(${PROJECT_SOURCE_DIR}/cmake/VelmoraDeclared.cmake)

if(WIN32)
  # The .def lists exactly the functions that velmora.h declares.
  velmora_declared_functions(${PROJECT_SOURCE_DIR}/src/velmora.h _velmora_exports)
  string(REPLACE ";" "\n    " _velmora_export_lines "${_velmora_exports}")
  set(VELMORA_DEF ${PROJECT_BINARY_DIR}/tarvinex-velmora.def)
  file(CONFIGURE OUTPUT ${VELMORA_DEF} CONTENT
"LIBRARY tarvinex-velmora.dll
EXPORTS
    ${_velmora_export_lines}
")
  find_program(VELMORA_DLLTOOL NAMES x86_64-w64-mingw32-dlltool dlltool)
  if(VELMORA_DLLTOOL)
    set(VELMORA_MSVC_LIB ${PROJECT_BINARY_DIR}/tarvinex-velmora.lib)
    add_custom_command(OUTPUT ${VELMORA_MSVC_LIB}
      COMMAND ${VELMORA_DLLTOOL} --machine i386:x86-64 -d ${VELMORA_DEF}
              -D tarvinex-velmora.dll -l ${VELMORA_MSVC_LIB}
      DEPENDS ${VELMORA_DEF} VERBATIM)
    add_custom_target(velmora_msvc_lib ALL DEPENDS ${VELMORA_MSVC_LIB})
    install(FILES ${VELMORA_MSVC_LIB} ${VELMORA_DEF} DESTINATION lib)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/THIRD-PARTY-NOTICES
          DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/README-windows.txt DESTINATION . RENAME README.txt)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/csharp ${PROJECT_SOURCE_DIR}/bindings/python
          DESTINATION bindings
          PATTERN "__pycache__" EXCLUDE PATTERN "tests" EXCLUDE)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME tarvinex-velmora)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME tarvinex-velmora-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
endif()
