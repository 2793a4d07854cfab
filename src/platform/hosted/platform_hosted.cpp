// The hosted platform: the one running machine (the program has one thread),
// started and stopped by the control API of hosted.h, and the platform calls
// of platform.h on it, reached through the call table of call_table.h. Each
// call does its work; the log and the answers are the session's, faults a
// test layer's, both above the table.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/call_table.h"
#include "platform/hosted/hosted.h"
#include "platform/hosted/message_box.h"
#include "platform/hosted/registry.h"
#include "platform/hosted/text_helpers.h"
#include "platform/hosted/windows_files.h"

namespace hosted {

namespace {

struct Machine {
  bool started = false;
  WindowsFiles files;  // the machine folder, locked from Start to Stop
  std::unique_ptr<Registry> registry = std::make_unique<Registry>();
};

Machine &State() {
  static Machine machine;
  return machine;
}

}  // namespace

bool Start(const StartOptions &options, std::string *error) {
  Machine &s = State();
  if (s.started) {
    *error = "the hosted platform is already started";
    return false;
  }
  if (!s.files.Open(options.machine, error)) return false;
  auto registry = std::make_unique<Registry>();
  if (!registry->Open(s.files.DirFd(), error)) {
    // The reason names a file of the folder; the person reading it may have
    // several machine folders.
    *error = "machine folder " + Quoted(options.machine) + ": " + *error;
    s.files.Close();
    return false;
  }
  // Under the lock, what a killed run left is known to be abandoned; and
  // nothing is removed before the start can no longer be refused.
  s.files.RemoveLeftovers();
  s.registry = std::move(registry);
  s.started = true;
  return true;
}

bool Stop(std::string *error) {
  Machine &s = State();
  if (!s.started) return true;
  s.started = false;
  std::string reason;
  const bool ok = s.registry->Close(&reason);
  if (!ok && error != nullptr) *error = reason;
  s.files.Close();
  return ok;
}

std::string UnsavedNotice() { return State().registry->UnsavedNotice(); }

}  // namespace hosted

namespace platform::native {

using hosted::State;

namespace {

UINT DirectoryQuery(const std::string &answer, LPSTR buffer, UINT size) {
  const UINT length = static_cast<UINT>(answer.size());
  if (size < length + 1) return length + 1;
  if (buffer == nullptr) return 0;
  std::memcpy(buffer, answer.c_str(), length + 1);
  return length;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
  return State().registry->OpenKey(hKey, lpSubKey, phkResult);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR,
                   LPDWORD, PFILETIME) {
  return State().registry->EnumKey(hKey, dwIndex, lpName, lpcchName);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  return State().registry->QueryValue(hKey, lpValueName, lpType, lpData, lpcbData);
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  return State().registry->DeleteKey(hKey, lpSubKey);
}

LONG RegCloseKey(HKEY hKey) { return State().registry->CloseKey(hKey); }

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return DirectoryQuery("C:\\WINDOWS", lpBuffer, uSize);
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return DirectoryQuery("C:\\WINDOWS\\SYSTEM", lpBuffer, uSize);
}

BOOL DeleteFileA(LPCSTR lpFileName) { return State().files.Delete(lpFileName); }

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  return State().files.Copy(lpExistingFileName, lpNewFileName, bFailIfExists != 0);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
  return State().files.Create(lpFileName, dwDesiredAccess, dwCreationDisposition);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
  return State().files.Read(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
  return State().files.Write(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten);
}

BOOL CloseHandle(HANDLE hObject) { return State().files.CloseHandle(hObject); }

// A box is asked on the terminal when standard input is one; otherwise it
// cannot be shown (0), and the person reading standard error is told why.
int MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  // Windows titles a box without a caption "Error".
  const char *caption = lpCaption != nullptr ? lpCaption : "Error";
  const char *text = lpText != nullptr ? lpText : "";
  if (::isatty(STDIN_FILENO))
    return hosted::AskOnTerminal(caption, text, uType, stdin,
                                 ::isatty(STDOUT_FILENO) ? stdout : stderr);
  std::fprintf(stderr, "tq72uninst: no terminal to show the box %s on: it counts as not shown\n",
               hosted::Quoted(caption).c_str());
  return 0;
}

}  // namespace platform::native
