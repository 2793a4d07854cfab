// The functions of platform.h: each makes its call through the table.
#include "platform/call_table.h"

namespace platform {

// Constant-initialised, so that the shipped program needs no start-up code.
#define TQ72_NATIVE_ENTRY(name) .name = &native::name,
extern constexpr CallTable NativeCalls{TQ72_PLATFORM_CALLS(TQ72_NATIVE_ENTRY)};
#undef TQ72_NATIVE_ENTRY
constinit CallTable Calls = NativeCalls;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
  return Calls.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return Calls.RegEnumKeyExA(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                             lpftLastWriteTime);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  return Calls.RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) { return Calls.RegDeleteKeyA(hKey, lpSubKey); }

LONG RegCloseKey(HKEY hKey) { return Calls.RegCloseKey(hKey); }

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return Calls.GetWindowsDirectoryA(lpBuffer, uSize);
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return Calls.GetSystemDirectoryA(lpBuffer, uSize);
}

BOOL DeleteFileA(LPCSTR lpFileName) { return Calls.DeleteFileA(lpFileName); }

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  return Calls.CopyFileA(lpExistingFileName, lpNewFileName, bFailIfExists);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  return Calls.CreateFileA(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                           dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  return Calls.ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  return Calls.WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten,
                         lpOverlapped);
}

BOOL CloseHandle(HANDLE hObject) { return Calls.CloseHandle(hObject); }

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  return Calls.MessageBoxA(hWnd, lpText, lpCaption, uType);
}

}  // namespace platform
