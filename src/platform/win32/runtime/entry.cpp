// The Windows program's process entry. The program links no C runtime (a
// Windows 95 need not have msvcrt.dll, and the loader refuses a program whose
// DLL is missing), so nothing runs before this function: no argument parsing,
// no constructors of globals (there must be none: every global is
// constant-initialised, and the image check refuses a constructor list), no
// atexit handlers after it. The program reads none of the start-up
// information (instance, command line, show state).
#include "app/uninstall.h"
#include "platform/platform.h"

// The handle constants are the logic's globals most easily made to need an
// initialiser (an integer cast to a pointer is never constant); these
// compile only while they need none. Before <windows.h>, whose macros share
// their names.
[[maybe_unused]] constinit const auto CheckedRootKey = platform::HKEY_LOCAL_MACHINE;
[[maybe_unused]] constinit const auto CheckedInvalidHandle = platform::INVALID_HANDLE_VALUE;

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// Windows 95/98 enter with whatever stack alignment the loader had; the
// attribute realigns it for the code below.
extern "C" [[noreturn]] __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  ExitProcess(static_cast<UINT>(RunUninstall()));
}
