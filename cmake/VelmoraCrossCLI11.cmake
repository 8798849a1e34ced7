# CLI11 for a cross build. CLI11 is headers only, but its CMake package points
# at /usr/include, which the cross compiler must never see: the headers are
# copied into the build tree and find_package(CLI11) is answered from there.
find_path(VELMORA_CLI11_INCLUDE_DIR CLI/CLI.hpp HINTS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT VELMORA_CLI11_INCLUDE_DIR)
  message(FATAL_ERROR "CLI/CLI.hpp not found: install libcli11-dev")
endif()
file(COPY ${VELMORA_CLI11_INCLUDE_DIR}/CLI DESTINATION ${PROJECT_BINARY_DIR}/cli11)
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/cli11-config.cmake
"if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES \"${PROJECT_BINARY_DIR}/cli11\")
endif()
")
