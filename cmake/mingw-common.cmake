# Shared part of the MinGW-w64 toolchain files; they set TQ72_MINGW_PREFIX.
#
# The win32 thread-model compiler is used on purpose: the posix variant links
# winpthreads, whose kernel32 imports (and those of its C++ runtime) are not
# all present on Windows 95/98, and the program has one thread anyway.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TQ72_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TQ72_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TQ72_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TQ72_MINGW_PREFIX}-gcc-ar-win32 CACHE FILEPATH "")
set(CMAKE_RANLIB ${TQ72_MINGW_PREFIX}-gcc-ranlib-win32 CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TQ72_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
