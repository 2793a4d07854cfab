# Cross-compiles the Windows program for 32-bit x86 with MinGW-w64.
#
# The win32 thread-model compiler is used on purpose: the posix variant links
# winpthreads, whose kernel32 imports (and those of its C++ runtime) are not
# all present on Windows 95/98, and the program has one thread anyway.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TQ72_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TQ72_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TQ72_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TQ72_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TQ72_MINGW_PREFIX}-gcc-ar-win32 CACHE FILEPATH "")
set(CMAKE_RANLIB ${TQ72_MINGW_PREFIX}-gcc-ranlib-win32 CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${TQ72_MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TQ72_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
