# Cross-compiles the Windows executable with MinGW-w64 (Debian's g++-mingw-w64-x86-64 and
# binutils-mingw-w64-x86-64). The gateway starts no threads, so either thread model will do;
# the win32 one needs no winpthread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZORERIVI_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER
  NAMES ${ZORERIVI_MINGW_TRIPLET}-g++-win32 ${ZORERIVI_MINGW_TRIPLET}-g++-posix
        ${ZORERIVI_MINGW_TRIPLET}-g++
  REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZORERIVI_MINGW_TRIPLET}-windres REQUIRED)

# Libraries and headers come from the MinGW-w64 sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZORERIVI_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
