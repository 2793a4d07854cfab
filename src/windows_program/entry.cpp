// The Windows program's process entry. The program links no C runtime (a
// Windows 95 need not have msvcrt.dll, and the loader refuses a program whose
// DLL is missing), so nothing runs before this function: no argument parsing,
// no constructors of globals (there must be none: every global is
// constant-initialised, and the image check refuses a constructor list), no
// atexit handlers after it.
//
// Without switches, or with none it knows, the program is the removal logic
// alone: the confirmation, the steps, the completion. The switches only set
// up the session around it (switches.h).
#include "app/uninstall.h"
#include "platform/platform.h"
#include "session/session.h"
#include "windows_program/switches.h"
#include "texts/texts.h"

// The handle constants are the logic's globals most easily made to need an
// initialiser (an integer cast to a pointer is never constant); these
// compile only while they need none. Before <windows.h>, whose macros share
// their names.
[[maybe_unused]] constinit const auto CheckedRootKey = platform::HKEY_LOCAL_MACHINE;
[[maybe_unused]] constinit const auto CheckedInvalidHandle = platform::INVALID_HANDLE_VALUE;

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// Exit status of a run that did not start: it touched nothing.
constexpr int NotStarted = 2;

// One run at a time on the whole system: two runs' copies of system.new and
// system.ini would truncate each other. Windows gives the mutex up when the
// process ends, however it ends, so a run that dies blocks no later one.
constexpr char GuardName[] = "Quorvane TQ72 Modem Uninstaller";

constexpr char AlreadyRunningText[] =
    "The uninstaller is already running. Wait until it has finished.";

constexpr char LogFailedText[] =
    "Nothing was removed: the log cannot be opened (no such folder, or the "
    "name of a file that the run changes):\r\n\r\n";

constexpr char UsageText[] =
    "tq72uninst [/S] [/LOG=FILE] [/?]\r\n\r\n"
    "/S: no box; Yes, then OK to every box.\r\n"
    "/LOG=FILE: a line for every call, added to FILE.\r\n"
    "/?: this box.\r\n\r\n"
    "Exit status: 0 declined, 1 done, 2 not started.";

HANDLE Log = INVALID_HANDLE_VALUE;

void WriteLog(const char *bytes, unsigned length) {
  DWORD written;
  ::WriteFile(Log, bytes, length, &written, nullptr);
}

// The log, opened for appending; false when it cannot be.
bool OpenLog(const char *path) {
  if (path[0] == '\0' || IsRunFileName(path)) return false;
  Log = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (Log == INVALID_HANDLE_VALUE) return false;
  if (::SetFilePointer(Log, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER) {
    ::CloseHandle(Log);
    Log = INVALID_HANDLE_VALUE;
    return false;
  }
  return true;
}

void ShowLogFailed(const char *path) {
  char text[sizeof LogFailedText + MAX_PATH];
  unsigned n = 0;
  for (const char *p = LogFailedText; *p != '\0'; ++p) text[n++] = *p;
  for (const char *p = path; *p != '\0' && n + 1 < sizeof text; ++p) text[n++] = *p;
  text[n] = '\0';
  ::MessageBoxA(nullptr, text, ProductCaption, MB_OK | MB_ICONSTOP);
}

int RunProgram() {
  Switches switches;
  ParseSwitches(::GetCommandLineA(), &switches);
  if (switches.usage) {
    ::MessageBoxA(nullptr, UsageText, ProductCaption, MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  // Held until the process ends: never closed.
  if (::CreateMutexA(nullptr, FALSE, GuardName) == nullptr ||
      ::GetLastError() == ERROR_ALREADY_EXISTS) {
    if (!switches.silent)
      ::MessageBoxA(nullptr, AlreadyRunningText, ProductCaption, MB_OK | MB_ICONSTOP);
    return NotStarted;
  }
  if (switches.log && !OpenLog(switches.logPath)) {
    if (!switches.silent) ShowLogFailed(switches.logPath);
    return NotStarted;
  }
  session::Begin({.goOn = switches.silent,
                  .log = Log != INVALID_HANDLE_VALUE ? &WriteLog : nullptr,
                  .crlf = true});
  const int status = RunUninstall();
  session::End();
  if (Log != INVALID_HANDLE_VALUE) ::CloseHandle(Log);
  return status;
}

}  // namespace

// Windows 95/98 enter with whatever stack alignment the loader had; the
// attribute realigns it for the code below.
extern "C" [[noreturn]] __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  ExitProcess(static_cast<UINT>(RunProgram()));
}
