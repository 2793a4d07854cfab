# Which Wine the tests under Wine use; sourced by them. The product is a
# 32-bit program and runs under 32-bit Wine in a 32-bit prefix wherever the
# host can run 32-bit programs. Whether it can is found out by running one,
# the 32-bit Wine loader. Only when the kernel refuses it (Exec format error:
# some virtual machines have no 32-bit support) do the 64-bit builds of the
# same sources run under 64-bit Wine instead, with a NOTE. A 32-bit Wine that
# is missing or fails in any other way is an error, never a reason to test
# the other build.
#   TQ72_WINE32=FILE       the 32-bit loader (default /usr/lib/wine/wine); a
#                          file the kernel refuses shows the fallback
#   TQ72_WINE_ARCH=win64   use the 64-bit fallback whatever the host can do

# Sets wine (the loader), arch (win32 or win64) and preset (the build that
# arch needs). The caller defines skip_or_fail.
choose_wine() {
  local wine32=${TQ72_WINE32:-/usr/lib/wine/wine} wine64=/usr/lib/wine/wine64
  local why rc
  if [ "${TQ72_WINE_ARCH:-}" = win64 ]; then
    why="TQ72_WINE_ARCH=win64"
  else
    [ -e "$wine32" ] || skip_or_fail "no 32-bit Wine at $wine32 (install wine32:i386)"
    why=$(export LC_ALL=C; exec "$wine32" --version 2>&1 >/dev/null)
    rc=$?
    why=${why%%$'\n'*}
    if [ $rc = 0 ]; then
      wine=$wine32 arch=win32 preset=windows
      return
    fi
    # Only the kernel's refusal of the format means the host cannot; anything
    # else (no permission, a missing library) is a broken Wine.
    case $rc:$why in
      126:*"Exec format error"*) why="this host cannot run 32-bit programs ($why)" ;;
      *) echo "FAIL: 32-bit Wine $wine32 does not start (status $rc): $why" >&2; exit 1 ;;
    esac
  fi
  "$wine64" --version >/dev/null 2>&1 || skip_or_fail "no runnable 64-bit Wine at $wine64"
  wine=$wine64 arch=win64 preset=windows64
  echo "NOTE: $why: testing the 64-bit build of the same sources under 64-bit Wine, not the shipped 32-bit one"
}
