// The table every call of platform.h goes through, in the manner of a
// syscall table. Each implementation defines its functions in namespace
// native, and NativeCalls holds them from compile time on; Calls starts as a copy of it, so the
// shipped program needs no start-up code. A test layer may replace entries of Calls to inject
// faults between the removal logic and whichever implementation is linked,
// and calls NativeCalls to reach that implementation.
//
// The removal logic never includes this header: it sees platform.h only.
#pragma once

#include "platform/platform.h"

namespace platform {

struct CallTable {
  decltype(&platform::RegOpenKeyExA) RegOpenKeyExA;
  decltype(&platform::RegEnumKeyExA) RegEnumKeyExA;
  decltype(&platform::RegQueryValueExA) RegQueryValueExA;
  decltype(&platform::RegDeleteKeyA) RegDeleteKeyA;
  decltype(&platform::RegCloseKey) RegCloseKey;
  decltype(&platform::GetWindowsDirectoryA) GetWindowsDirectoryA;
  decltype(&platform::GetSystemDirectoryA) GetSystemDirectoryA;
  decltype(&platform::DeleteFileA) DeleteFileA;
  decltype(&platform::CopyFileA) CopyFileA;
  decltype(&platform::CreateFileA) CreateFileA;
  decltype(&platform::ReadFile) ReadFile;
  decltype(&platform::WriteFile) WriteFile;
  decltype(&platform::CloseHandle) CloseHandle;
  decltype(&platform::MessageBoxA) MessageBoxA;
};

// Each implementation defines these, with the signatures of platform.h;
// NativeCalls holds them.
namespace native {
decltype(platform::RegOpenKeyExA) RegOpenKeyExA;
decltype(platform::RegEnumKeyExA) RegEnumKeyExA;
decltype(platform::RegQueryValueExA) RegQueryValueExA;
decltype(platform::RegDeleteKeyA) RegDeleteKeyA;
decltype(platform::RegCloseKey) RegCloseKey;
decltype(platform::GetWindowsDirectoryA) GetWindowsDirectoryA;
decltype(platform::GetSystemDirectoryA) GetSystemDirectoryA;
decltype(platform::DeleteFileA) DeleteFileA;
decltype(platform::CopyFileA) CopyFileA;
decltype(platform::CreateFileA) CreateFileA;
decltype(platform::ReadFile) ReadFile;
decltype(platform::WriteFile) WriteFile;
decltype(platform::CloseHandle) CloseHandle;
decltype(platform::MessageBoxA) MessageBoxA;
}  // namespace native

// The linked implementation's calls; never changed.
extern const CallTable NativeCalls;
// The calls the platform.h functions make now.
extern CallTable Calls;

}  // namespace platform
