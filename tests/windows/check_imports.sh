#!/bin/bash
# Fails when tq72uninst.exe might not start on every Windows 95 and 98.
#
# - Imports: only the calls the platform layer forwards to and those of the
#   entry (ExitProcess, the command line, the log's append, the one-run
#   guard), from KERNEL32, USER32 and ADVAPI32. No C runtime DLL (msvcrt.dll is not
#   on every Windows 95) and nothing a later Windows added: the loader refuses
#   a program with a missing DLL or function before it runs a single line.
# - Header: 32-bit x86, GUI subsystem 4.0, operating system version 4.0, no
#   TLS directory (Windows 95/98 do not run TLS callbacks in a program).
# - Nothing that needs start-up code, which the program does not have: no
#   constructor or TLS lists in the link map, no sections beyond code, data,
#   imports and resources (so no unwind tables, no debug info, and no
#   relocations: Windows 95/98 load a program at its own base, always).
# - Code for a 386: no instruction that a 486 or Pentium lacks (cmov, ...).
# - At most 16 KB.
#
# usage: check_imports.sh EXE [MAP]     (EXE's link map; default: EXE.map
#                                        beside it)
#        check_imports.sh --dump FILE   (an `objdump -p` listing, for self-tests:
#                                        imports and header only)
set -u
source "$(dirname "$0")/skip_or_fail.bash"
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
if [ "${1:-}" = --dump ]; then
  exe=
  listing=$(cat "$2") || exit 1
else
  exe=${1:?usage: check_imports.sh EXE}
  command -v "$objdump" >/dev/null || skip_or_fail "$objdump not found"
  [ -f "$exe" ] || skip_or_fail "$exe not built (cmake --preset windows && cmake --build --preset windows)"
  listing=$("$objdump" -p "$exe") || exit 1
fi

# DLL:function, upper-case DLL names: the platform layer's calls and the
# entry's (its switches, the appended log, the one-run guard), all in
# Windows 95's first release.
allowed="
ADVAPI32.DLL:RegOpenKeyExA ADVAPI32.DLL:RegEnumKeyExA ADVAPI32.DLL:RegQueryValueExA
ADVAPI32.DLL:RegDeleteKeyA ADVAPI32.DLL:RegCloseKey
KERNEL32.DLL:GetWindowsDirectoryA KERNEL32.DLL:GetSystemDirectoryA
KERNEL32.DLL:DeleteFileA KERNEL32.DLL:CopyFileA KERNEL32.DLL:CreateFileA
KERNEL32.DLL:ReadFile KERNEL32.DLL:WriteFile KERNEL32.DLL:CloseHandle
KERNEL32.DLL:ExitProcess KERNEL32.DLL:GetCommandLineA KERNEL32.DLL:SetFilePointer
KERNEL32.DLL:CreateMutexA KERNEL32.DLL:GetLastError
USER32.DLL:MessageBoxA
"

# "DLL Name: X" opens a block; its rows are "vma hint name".
imports=$(printf '%s\n' "$listing" | awk '
  /^[ \t]*DLL Name:/ { dll = toupper($3); next }
  dll != "" && /^[ \t]*$/ { dll = ""; next }
  dll != "" && $1 ~ /^[0-9a-fA-F]+$/ && NF >= 3 { print dll ":" $3 }')
[ -n "$imports" ] || fail "no imports found in the listing"
for entry in $imports; do
  case " $(echo $allowed) " in
    *" $entry "*) ;;
    *) fail "import not allowed: $entry" ;;
  esac
done

# One header field of the listing, e.g. "Subsystem".
field() { printf '%s\n' "$listing" | awk -v f="$1" '$1 == f { print $2; exit }'; }
printf '%s\n' "$listing" | grep -q 'file format pei-i386' || fail "not a 32-bit x86 image"
[ "$(field Magic)" = 010b ] || fail "not a PE32 image (Magic $(field Magic))"
[ "$(field Subsystem)" = 00000002 ] || fail "not the GUI subsystem (Subsystem $(field Subsystem))"
for f in MajorSubsystemVersion:4 MinorSubsystemVersion:0 MajorOSystemVersion:4 MinorOSystemVersion:0; do
  [ "$(field "${f%%:*}")" = "${f#*:}" ] || fail "${f%%:*} is $(field "${f%%:*}"), not ${f#*:}"
done
tls=$(printf '%s\n' "$listing" | awk '/Thread Storage Directory/ { print $3 $4; exit }')
[ "$tls" = 0000000000000000 ] || fail "the image has a TLS directory ($tls)"

if [ -n "$exe" ]; then
  size=$(stat -c %s "$exe")
  [ "$size" -le 16384 ] || fail "$size bytes, more than 16 KB"

  sections=$("$objdump" -h "$exe" | awk '$1 ~ /^[0-9]+$/ { print $2 }')
  for s in $sections; do
    case $s in
      .text | .data | .rdata | .bss | .idata | .rsrc) ;;
      *) fail "section not allowed: $s" ;;
    esac
  done

  # The input sections the linker placed, from its map: a constructor list
  # entry is code nobody would run; a TLS or .CRT one is a callback nobody
  # would call. "name address size file", the name alone on its line when long.
  map=${2:-${exe%.exe}.map}
  if [ -f "$map" ]; then
    startup=$(awk '
      /^ \.[^ ]+$/ { name = $1; next }
      /^ \.[^ ]+ +0x/ { name = $1; sub(/^ \.[^ ]+/, "") }
      name != "" && $1 ~ /^0x/ && $2 ~ /^0x/ && $2 !~ /^0x0+$/ &&
          name ~ /^\.(ctors?|dtors?|init_array|fini_array|tls|CRT)([.$]|$)/ { print name " from " $3 }
      { name = "" }' "$map")
    [ -z "$startup" ] || fail "start-up code needed for: $(echo $startup)"
  else
    fail "no link map $map"
  fi

  # Instructions of the Pentium Pro and later, and MMX/SSE registers.
  later=$("$objdump" -d "$exe" |
          grep -E $'\t(cmov|fcmov|fcomi|fucomi|cmpxchg|xadd|bswap|cpuid|rdtsc|sysenter)|%x?mm[0-9]' | head -3)
  [ -z "$later" ] || fail "instructions a 386 lacks: $later"
fi

if [ $status = 0 ]; then
  echo "image OK: ${size:+$size bytes, }$(echo "$imports" | wc -l) imports: $(echo $imports)"
fi
exit $status
