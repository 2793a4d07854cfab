#!/bin/bash
# Fails when the Windows program imports anything that Windows 95/98 may not
# have: a DLL other than the four system ones, or a function outside the list
# below. A statically linked MinGW runtime can quietly bring in calls that only
# newer systems export (msvcrt's _stat64, _fstat64, _time64, _strtoi64;
# kernel32's GetTickCount64, TryEnterCriticalSection, GetFileSizeEx,
# SetFilePointerEx, IsDebuggerPresent, AddVectoredExceptionHandler), and the
# loader then refuses to start the program at all.
#
# usage: check_imports.sh EXE            (reads the import table with objdump)
#        check_imports.sh --dump FILE    (an `objdump -p` listing, for self-tests)
set -u
skip_or_fail() {
  echo "SKIP: $1" >&2
  [ "${CI:-}" = true ] && { echo "FAIL: required under CI" >&2; exit 1; }
  exit 77
}

if [ "${1:-}" = --dump ]; then
  listing=$(cat "$2") || exit 1
else
  exe=${1:?usage: check_imports.sh EXE}
  objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
  command -v "$objdump" >/dev/null || skip_or_fail "$objdump not found"
  [ -f "$exe" ] || skip_or_fail "$exe not built (cmake --preset windows && cmake --build --preset windows)"
  listing=$("$objdump" -p "$exe") || exit 1
fi

# DLL:function, upper-case DLL names. Adding an entry means checking that the
# function exists on Windows 95 (msvcrt: the version shipped with Windows 98).
allowed="
ADVAPI32.DLL:RegCloseKey ADVAPI32.DLL:RegDeleteKeyA ADVAPI32.DLL:RegEnumKeyExA
ADVAPI32.DLL:RegOpenKeyExA ADVAPI32.DLL:RegQueryValueExA
USER32.DLL:MessageBoxA
KERNEL32.DLL:CloseHandle KERNEL32.DLL:CopyFileA KERNEL32.DLL:CreateFileA
KERNEL32.DLL:DeleteFileA KERNEL32.DLL:ReadFile KERNEL32.DLL:WriteFile
KERNEL32.DLL:GetSystemDirectoryA KERNEL32.DLL:GetWindowsDirectoryA
KERNEL32.DLL:DeleteCriticalSection KERNEL32.DLL:EnterCriticalSection
KERNEL32.DLL:InitializeCriticalSection KERNEL32.DLL:LeaveCriticalSection
KERNEL32.DLL:FreeLibrary KERNEL32.DLL:GetLastError KERNEL32.DLL:GetModuleHandleA
KERNEL32.DLL:GetProcAddress KERNEL32.DLL:GetStartupInfoA KERNEL32.DLL:LoadLibraryA
KERNEL32.DLL:SetUnhandledExceptionFilter KERNEL32.DLL:Sleep KERNEL32.DLL:TlsGetValue
KERNEL32.DLL:VirtualProtect KERNEL32.DLL:VirtualQuery KERNEL32.DLL:ExitProcess
KERNEL32.DLL:GetCommandLineA KERNEL32.DLL:GetCurrentProcessId
KERNEL32.DLL:GetCurrentThreadId KERNEL32.DLL:GetTickCount
KERNEL32.DLL:QueryPerformanceCounter KERNEL32.DLL:GetSystemTimeAsFileTime
KERNEL32.DLL:TlsAlloc KERNEL32.DLL:TlsFree KERNEL32.DLL:TlsSetValue
KERNEL32.DLL:RaiseException KERNEL32.DLL:RtlUnwind
MSVCRT.DLL:__getmainargs MSVCRT.DLL:__initenv MSVCRT.DLL:__p__acmdln
MSVCRT.DLL:__p__commode MSVCRT.DLL:__p__fmode MSVCRT.DLL:__set_app_type
MSVCRT.DLL:__setusermatherr MSVCRT.DLL:_amsg_exit MSVCRT.DLL:_cexit
MSVCRT.DLL:_initterm MSVCRT.DLL:_iob MSVCRT.DLL:_onexit MSVCRT.DLL:_errno
MSVCRT.DLL:abort MSVCRT.DLL:calloc MSVCRT.DLL:exit MSVCRT.DLL:fprintf
MSVCRT.DLL:free MSVCRT.DLL:fwrite MSVCRT.DLL:malloc MSVCRT.DLL:realloc
MSVCRT.DLL:memcpy MSVCRT.DLL:memmove MSVCRT.DLL:memset MSVCRT.DLL:memcmp MSVCRT.DLL:memchr
MSVCRT.DLL:signal MSVCRT.DLL:strcat MSVCRT.DLL:strcmp MSVCRT.DLL:strcpy
MSVCRT.DLL:strlen MSVCRT.DLL:strncmp MSVCRT.DLL:strncpy MSVCRT.DLL:strchr
MSVCRT.DLL:vfprintf
"

# "DLL Name: X" opens a block; its rows are "vma hint name".
imports=$(printf '%s\n' "$listing" | awk '
  /^[ \t]*DLL Name:/ { dll = toupper($3); next }
  dll != "" && /^[ \t]*$/ { dll = ""; next }
  dll != "" && $1 ~ /^[0-9a-fA-F]+$/ && NF >= 3 { print dll ":" $3 }')
if [ -z "$imports" ]; then
  echo "FAIL: no imports found in the listing" >&2
  exit 1
fi

status=0
for entry in $imports; do
  case " $(echo $allowed) " in
    *" $entry "*) ;;
    *) echo "FAIL: import not allowed: $entry" >&2; status=1 ;;
  esac
done
[ $status = 0 ] && echo "imports OK: $(echo "$imports" | wc -l) functions from $(echo "$imports" | cut -d: -f1 | sort -u | tr '\n' ' ')"
exit $status
