# Cross build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix),
# tests run under Wine:
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex and friends, which the
# win32 model's libstdc++ lacks.
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_OBJDUMP ${_mingw}-objdump CACHE FILEPATH "objdump for the target")

# Only mingw's own headers and libraries: glibc's under /usr/include must never
# be seen. Programs (the build's own tools) still come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: the DLL and the programs then
# import only KERNEL32.dll and msvcrt.dll, and nothing else has to be shipped.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs (and GoogleTest's discovery) run through Wine.
find_program(WINE_PROGRAM NAMES wine wine64)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
