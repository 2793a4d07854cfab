// The platform contract over the real Win32 API: every call forwards to the
// ANSI function of the same name, through the call table of call_table.h. platform::HKEY, HANDLE
// and the pointer types are laid out as the real ones, so handles and buffers pass straight
// through.
//
// platform.h comes before <windows.h> on purpose: its constants (FALSE,
// ERROR_SUCCESS, KEY_READ, ...) share their names with the Win32 macros, and
// the macros must not exist yet when the header declares them. Below, the
// macros carry the same values as the platform constants.
#include "platform/call_table.h"
#include "platform/key_path.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static_assert(sizeof(platform::HKEY) == sizeof(::HKEY));
static_assert(sizeof(platform::HWND) == sizeof(::HWND));
static_assert(sizeof(platform::DWORD) == sizeof(::DWORD));
static_assert(sizeof(platform::LONG) == sizeof(::LONG));
static_assert(sizeof(platform::FILETIME) == sizeof(::FILETIME));

namespace {

::HKEY Real(platform::HKEY key) { return reinterpret_cast<::HKEY>(key); }
::LPDWORD Real(platform::LPDWORD p) { return reinterpret_cast<::LPDWORD>(p); }

// Windows 95/98 removes a key together with its subtree, and the removal
// steps rely on that. The NT family (and Wine when it reports an NT version)
// refuses a key that still has subkeys, so the subtree goes first, deepest
// keys first. Each pass deletes the current first subkey; a refusal stops
// the pass, so a key that cannot go is never asked for again, and the depth
// and the number of keys are bounded so that no registry can keep us here.
constexpr int MaxSubtreeDepth = 512;  // deeper than the registry allows
constexpr long MaxSubtreeKeys = 1000000;

void DeleteSubkeys(::HKEY key, int depth, long &budget) {
  if (depth >= MaxSubtreeDepth) return;
  char name[256];  // a key name has at most 255 characters
  while (budget > 0) {
    ::DWORD length = sizeof name;
    if (::RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      return;
    ::HKEY child;
    if (::RegOpenKeyExA(key, name, 0, KEY_READ | KEY_ENUMERATE_SUB_KEYS, &child) == ERROR_SUCCESS) {
      DeleteSubkeys(child, depth + 1, budget);
      ::RegCloseKey(child);
    }
    --budget;
    if (::RegDeleteKeyA(key, name) != ERROR_SUCCESS) return;
  }
}

}  // namespace

namespace platform::native {

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult) {
  if (!IsWellFormedKeyPath(lpSubKey)) return ERROR_INVALID_PARAMETER;
  // Windows clears the caller's handle on failure; the contract keeps it.
  ::HKEY opened;
  LONG status = ::RegOpenKeyExA(Real(hKey), lpSubKey, ulOptions, samDesired, &opened);
  if (status == ERROR_SUCCESS) *phkResult = reinterpret_cast<HKEY>(opened);
  return status;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  return ::RegEnumKeyExA(Real(hKey), dwIndex, lpName, Real(lpcchName), Real(lpReserved), lpClass,
                         Real(lpcchClass), reinterpret_cast<::PFILETIME>(lpftLastWriteTime));
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
  return ::RegQueryValueExA(Real(hKey), lpValueName, Real(lpReserved), Real(lpType), lpData,
                            Real(lpcbData));
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  // An empty sub-path would name hKey itself: never delete a key through a
  // path that says nothing.
  if (lpSubKey == nullptr || *lpSubKey == '\0' || !IsWellFormedKeyPath(lpSubKey))
    return ERROR_INVALID_PARAMETER;
  ::HKEY key;
  LONG status = ::RegOpenKeyExA(Real(hKey), lpSubKey, 0, KEY_READ | KEY_ENUMERATE_SUB_KEYS, &key);
  if (status != ERROR_SUCCESS) return status;
  long budget = MaxSubtreeKeys;
  DeleteSubkeys(key, 0, budget);
  ::RegCloseKey(key);
  return ::RegDeleteKeyA(Real(hKey), lpSubKey);
}

LONG RegCloseKey(HKEY hKey) { return ::RegCloseKey(Real(hKey)); }

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return ::GetWindowsDirectoryA(lpBuffer, uSize);
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return ::GetSystemDirectoryA(lpBuffer, uSize);
}

BOOL DeleteFileA(LPCSTR lpFileName) { return ::DeleteFileA(lpFileName); }

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  return ::CopyFileA(lpExistingFileName, lpNewFileName, bFailIfExists);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  return ::CreateFileA(lpFileName, dwDesiredAccess, dwShareMode,
                       reinterpret_cast<::LPSECURITY_ATTRIBUTES>(lpSecurityAttributes),
                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
  return ::ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, Real(lpNumberOfBytesRead),
                    reinterpret_cast<::LPOVERLAPPED>(lpOverlapped));
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  return ::WriteFile(hFile, lpBuffer, nNumberOfBytesToWrite, Real(lpNumberOfBytesWritten),
                     reinterpret_cast<::LPOVERLAPPED>(lpOverlapped));
}

BOOL CloseHandle(HANDLE hObject) { return ::CloseHandle(hObject); }

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  return ::MessageBoxA(reinterpret_cast<::HWND>(hWnd), lpText, lpCaption, uType);
}

}  // namespace platform::native
