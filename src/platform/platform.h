// The platform contract: exactly the Windows 95/98 calls the removal logic
// makes, under their Win32 names and with the Win32 constants, in namespace
// platform so that <windows.h> macros can never collide with them.
//
// Two implementations exist and CMake links exactly one:
//   win32/   forwards to the real API (tq72uninst.exe)
//   hosted/  a Windows 98 machine kept in a folder (tq72uninst on Linux)
//
// The removal logic includes this header and nothing else of the platform.
#pragma once

#include <cstdint>

#include "platform/key_path.h"

namespace platform {

using BYTE = unsigned char;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using REGSAM = DWORD;
using LPSTR = char *;
using LPCSTR = const char *;
using LPBYTE = BYTE *;
using LPDWORD = DWORD *;
using LPVOID = void *;
using LPCVOID = const void *;

// Opaque handles, laid out as the real ones so that the win32 forwarding
// layer can pass them straight through.
struct HKEY__;
using HKEY = HKEY__ *;
using PHKEY = HKEY *;
struct HWND__;
using HWND = HWND__ *;
using HANDLE = void *;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME *;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES *;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED *;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// The predefined root keys carry the same values as on Windows (sign-extended
// on a 64-bit host, as the real headers do).
inline HKEY PredefinedKey(std::uint32_t value) {
  return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(
      static_cast<std::intptr_t>(static_cast<std::int32_t>(value))));
}

// A handle whose value is a fixed integer. No cast from an integer to a
// pointer is a constant expression, so a handle variable initialised with one
// would be set by start-up code, and the Windows program has none: it would
// stay null. These constants are therefore objects that need no
// initialisation at all and become the handle where they are used.
struct PredefinedKeyConstant {
  std::uint32_t value;
  operator HKEY() const { return PredefinedKey(value); }
};
struct InvalidHandleConstant {
  operator HANDLE() const { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)); }
};

inline constexpr PredefinedKeyConstant HKEY_CLASSES_ROOT{0x80000000u};
inline constexpr PredefinedKeyConstant HKEY_CURRENT_USER{0x80000001u};
inline constexpr PredefinedKeyConstant HKEY_LOCAL_MACHINE{0x80000002u};
inline constexpr PredefinedKeyConstant HKEY_USERS{0x80000003u};
inline constexpr PredefinedKeyConstant HKEY_CURRENT_CONFIG{0x80000005u};
inline constexpr PredefinedKeyConstant HKEY_DYN_DATA{0x80000006u};

inline constexpr InvalidHandleConstant INVALID_HANDLE_VALUE{};

// Status codes (winerror.h).
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_KEY_DELETED = 1018;

// Registry access rights and value types.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// Message boxes.
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_YESNO = 0x0004;
constexpr UINT MB_DEFBUTTON2 = 0x0100;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Files.
constexpr UINT MAX_PATH = 260;
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;

// ---------------------------------------------------------------- registry
// Every registry call refuses a path with an empty element (leading,
// trailing or doubled backslash) with ERROR_INVALID_PARAMETER, so that no
// value read from the registry can widen an operation to a parent branch:
// the rule is IsWellFormedKeyPath (key_path.h), which a caller may apply to
// a name before it builds on it. Names compare case-insensitively and keep
// their case.

// ERROR_SUCCESS and *phkResult set when hKey\lpSubKey exists; otherwise
// ERROR_FILE_NOT_FOUND (or another non-zero status) and *phkResult untouched.
// A null or empty lpSubKey opens a new handle to hKey itself.
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   PHKEY phkResult);

// *lpcchName is the capacity in characters including the terminator; on
// success the name is copied with its terminator and *lpcchName is set to its
// length without it. ERROR_MORE_DATA when the name and its terminator do not
// fit: the buffer may then hold part of the name, so it must not be used;
// ERROR_NO_MORE_ITEMS past the last subkey. Subkeys are not ordered (the
// documented Win32 rule): the hosted machine gives them in upper-case-folded
// name order, Wine in lower-case-folded order ("_A" before "B"), Windows 98 in
// an order of its own; the order is stable while no key is added or removed.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                   LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                   PFILETIME lpftLastWriteTime);

// *lpcbData is the capacity in bytes; the data is returned as stored and
// *lpcbData set to its size. Text stored without its terminator comes without
// one, as on Windows 98 and the hosted machine; Wine (also as Windows 98) adds
// one, counts it, and wants room for it. A caller must find the end of the
// text within *lpcbData bytes, or terminate it itself when there is room.
// ERROR_MORE_DATA when the data does not fit, with *lpcbData set to the size
// needed and the buffer's content undefined; ERROR_FILE_NOT_FOUND when the
// value is missing. A null lpValueName or "" names the default value.
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

// Removes hKey\lpSubKey with its whole subtree (Windows 95/98 behaviour).
// ERROR_FILE_NOT_FOUND when it does not exist. Handles open on a removed key
// fail every later call but RegCloseKey with ERROR_KEY_DELETED.
LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);

LONG RegCloseKey(HKEY hKey);

// ------------------------------------------------------- files and folders
// Paths are full: a drive, ":\" and names joined by single backslashes.
// Windows also takes '/' between names; the hosted machine refuses it.

// Both return the length copied without the terminator, or, when uSize is
// too small for the path and its terminator, the size needed including the
// terminator and nothing copied; 0 on failure.
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);

// Non-zero on success; zero when the file is missing or in use.
BOOL DeleteFileA(LPCSTR lpFileName);

// Replaces an existing target unless bFailIfExists; zero on failure. A failed
// copy may leave the target as it was, missing, or partly written: Windows
// writes the target in place (only the hosted copy is atomic), so a caller
// must keep the source until a copy has succeeded. Windows refuses to copy
// over a file another handle holds open without write sharing; the hosted
// copy replaces it (only deletion knows "in use" there).
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);

// Binary file access, the ground the system.ini text streams are built on.
// INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE hTemplateFile);

// Non-zero on success; *lpNumberOfBytesRead is 0 at the end of the file.
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);

// Non-zero on success; *lpNumberOfBytesWritten may be less than asked.
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);

// Releases the handle whatever it returns.
BOOL CloseHandle(HANDLE hObject);

// --------------------------------------------------------------- messages
// Modal. IDOK, IDYES or IDNO; 0 when no box can be shown.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

}  // namespace platform
