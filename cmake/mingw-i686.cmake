# Cross-compiles for 32-bit Windows with Debian's MinGW-w64 (package g++-mingw-w64-i686):
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The win32 thread variant is used: the programs are single-threaded, and it links statically
# without the POSIX thread library, whose imports (GetTickCount64 among them) a Windows 9x or
# early NT system lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CDIF_MINGW_PREFIX i686-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${CDIF_MINGW_PREFIX}-g++-win32 ${CDIF_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${CDIF_MINGW_PREFIX}-gcc-win32 ${CDIF_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${CDIF_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CDIF_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
