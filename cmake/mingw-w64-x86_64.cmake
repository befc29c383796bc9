# Cross-compiles for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64) and runs the
# built programs under Wine (Debian: wine64), so that CTest tests the Windows build on Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KALO_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model: its libstdc++ has std::thread and std::mutex; libwinpthread is linked
# statically below, so the programs still depend on Windows' own DLLs only.
find_program(CMAKE_C_COMPILER NAMES ${KALO_MINGW_PREFIX}-gcc-posix ${KALO_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KALO_MINGW_PREFIX}-g++-posix ${KALO_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KALO_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${KALO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and DLL carries its C and C++ run-times and the thread library.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

find_program(KALO_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(KALO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KALO_WINE})
endif()
