# The release packages, made by `cpack` in a build directory: on Windows the
# archive, on Linux a Debian package. Each holds exactly what `cmake --install`
# installs, and its test lists it against the files it should hold.
#
# The Windows release archive: `cpack` in the Windows build directory makes
# tarvinex-velmora-<version>-win64.zip with the DLL and the command, the header,
# import libraries for MSVC (.lib, made from a .def) and mingw (.dll.a), the
# bindings, the licence and the notices.
include(${PROJECT_SOURCE_DIR}/cmake/VelmoraDeclared.cmake)
include(GNUInstallDirs)

# The manual page, made from the list of adjustments by a small program that
# includes it, so that every adjustment and option is in it.
if(TARGET velmora AND NOT CMAKE_CROSSCOMPILING)
  add_executable(velmora_man ${PROJECT_SOURCE_DIR}/packaging/man/velmora_man.cpp)
  target_link_libraries(velmora_man PRIVATE tarvinex-velmora)
  set(VELMORA_MAN_PAGE ${PROJECT_BINARY_DIR}/velmora.1)
  add_custom_command(OUTPUT ${VELMORA_MAN_PAGE}
    COMMAND velmora_man ${PROJECT_SOURCE_DIR}/packaging/man/velmora.1.in ${VELMORA_MAN_PAGE}
            ${PROJECT_VERSION}
    DEPENDS velmora_man ${PROJECT_SOURCE_DIR}/packaging/man/velmora.1.in VERBATIM)
  add_custom_target(velmora_man_page ALL DEPENDS ${VELMORA_MAN_PAGE})
  install(FILES ${VELMORA_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

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
  # The bindings file by file: the archive must never take whatever else lies
  # in the source tree (a Linux library copied into the Python package, pip's
  # build folder, egg-info). A test compares the archive with its own list.
  set(VELMORA_ARCHIVE_BINDINGS
    csharp/Velmora.cs csharp/Example.cs csharp/Test.cs
    python/README.md python/pyproject.toml python/setup.py
    python/velmora/__init__.py python/velmora/parallel.py)
  foreach(_file IN LISTS VELMORA_ARCHIVE_BINDINGS)
    get_filename_component(_dir ${_file} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/bindings/${_file} DESTINATION bindings/${_dir})
  endforeach()

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME tarvinex-velmora)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME tarvinex-velmora-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
else()
  # The Debian package: everything `cmake --install` puts under /usr (library
  # with its soname link, header, pkg-config file, CMake package, the command
  # and its manual page, the licences).
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME tarvinex-velmora)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
  set(CPACK_PACKAGE_DESCRIPTION
      "The tarvinex-velmora library (one call per adjustment, for any host that can call C), its header, pkg-config file and CMake package, and the velmora command with its manual page.")
  set(CPACK_PACKAGE_CONTACT "tarvinex-velmora maintainers <velmora@tarvinex.invalid>")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # A shlibs file for packages built against it, and ldconfig run after
  # install and removal, so that programs find the library at once.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  find_program(VELMORA_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(VELMORA_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
  include(CPack)
endif()
