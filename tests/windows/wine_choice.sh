#!/bin/bash
# The tests under Wine must pick the Wine this host can run (choose_wine.bash):
# 32-bit Wine wherever the kernel runs 32-bit programs, and the 64-bit
# fallback, with a NOTE, only where it cannot or when asked to.
set -u
library=$(dirname "$0")/choose_wine.bash
source "$(dirname "$0")/skip_or_fail.bash"
status=0 missing=()
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What this host can do, asked apart from the Wine test: the 32-bit dynamic
# loader is a small 32-bit program of its own. Without it only the check of
# this host cannot be made; the others do not depend on the host.
host=
if [ -e /lib/ld-linux.so.2 ]; then
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then host=win32; else host=win64; fi
else
  missing+=("no 32-bit C library to ask what this host can run")
fi
# An ELF header the kernel refuses, as one without 32-bit support refuses a
# 32-bit program: "Exec format error".
printf '\177ELF\001\001\001' > "$work/refused"
chmod +x "$work/refused"
printf '#!/bin/sh\nexit 1\n' > "$work/broken"
chmod +x "$work/broken"

check() { # label expected(win32|win64|error) environment...
  local label=$1 want=$2 out rc
  shift 2
  out=$(env -u TQ72_WINE32 -u TQ72_WINE_ARCH "$@" bash -c '
    source "${0%/*}/skip_or_fail.bash" && source "$0" && choose_wine && echo "chose $arch: $wine"' \
    "$library" 2>&1)
  rc=$?
  # A Wine that is not installed: the check cannot be made here.
  if [ $rc = 77 ] && [ $want != error ]; then
    missing+=("$label: ${out%%$'\n'*}")
    return
  fi
  case $want in
    win32) [[ $rc = 0 && $out == *"chose win32"* && $out != *NOTE* ]] ;;
    win64) [[ $rc = 0 && $out == *"chose win64"* && $out == *NOTE:* ]] ;;
    error) [[ $rc != 0 && $out != *chose* ]] ;;
  esac || { echo "FAIL: $label: expected $want, got status $rc:" >&2; echo "$out" >&2; status=1; }
}

[ -n "$host" ] && check "this host" $host
check "a kernel without 32-bit support" win64 TQ72_WINE32="$work/refused"
check "fallback asked for" win64 TQ72_WINE_ARCH=win64
check "32-bit Wine missing" error TQ72_WINE32="$work/missing" CI=true
check "32-bit Wine broken" error TQ72_WINE32="$work/broken"
[ $status = 0 ] || exit 1
[ ${#missing[@]} = 0 ] || skip_or_fail "$(IFS=';'; echo "${missing[*]}")"
echo "Wine choice OK (this host: $host)"
