# Cross-compiles tq72uninst.exe, the real product: 32-bit x86 Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TQ72_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
