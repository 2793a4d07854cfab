# The same program for 64-bit Windows. Not shipped: it lets the Wine
# end-to-end test exercise the Win32 platform on hosts whose kernel cannot
# run 32-bit Linux programs, which 32-bit Wine needs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TQ72_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
