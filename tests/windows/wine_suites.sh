#!/bin/bash
# The suites that run on every platform (tests/portable: the logic's, the
# platform contract, the fault sweep), cross-built against the Win32
# platform, run under Wine in a fresh prefix: once as the default NT-family
# version, whose RegDeleteKeyA refuses keys with subkeys, and once as
# Windows 98. They answer every box themselves and keep to a scratch key and
# a scratch folder, so no display is needed.
#
# usage: wine_suites.sh DIR32 DIR64   (the tests/windows build folders of the
#                                      windows and windows64 presets)
set -u
dir32=$1 dir64=$2
status=0

source "$(dirname "$0")/skip_or_fail.bash"

# 32-bit where the host can run it, as the product is (choose_wine.bash).
source "$(dirname "$0")/choose_wine.bash"
choose_wine
dir=$dir32
[ $arch = win64 ] && dir=$dir64
# Every suite of tests/portable, so that a new one cannot be left out.
suites=()
for source in "$(dirname "$0")"/../portable/*_test.cpp; do
  suites+=("$(basename "$source" .cpp)")
done
# The preset not built is a build missing here; the preset built without a
# suite (no GoogleTest sources when it was configured) is a failure, or the
# suites would pass by not running.
[ -f "$dir/hold_file.exe" ] ||
  skip_or_fail "$dir not built (cmake --preset $preset && cmake --build --preset $preset)"
for suite in "${suites[@]}"; do
  [ -f "$dir/$suite.exe" ] || {
    echo "FAIL: $dir/$suite.exe not built: the $preset preset needs GoogleTest's sources" \
         "(apt-get install googletest) and a build" >&2
    exit 1
  }
done

prefix=$(mktemp -d)
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=$arch WINELOADER=$wine WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
$wine wineboot -i >/dev/null 2>&1
wineserver -w
[ -f "$prefix/system.reg" ] || { echo "FAIL: wineboot did not create a prefix" >&2; exit 1; }

for version in nt win98; do
  [ $version = win98 ] && $wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1
  for suite in "${suites[@]}"; do
    echo "== $suite ($arch, $version)"
    start=$SECONDS
    # Wine's loader has been seen to die of a Unix signal (exit above 128) at
    # exit on a loaded machine, after every case had passed. Only that case
    # runs once more, and the second run decides: a crash of ours (a Windows
    # exception's code may exceed 128 too) never reaches the summary line.
    for try in 1 2; do
      $wine "$dir/$suite.exe" --gtest_brief=1 2>&1 | tr -d '\r' | tee "$prefix/output"
      rc=${PIPESTATUS[0]}
      [ "$try" = 1 ] && [ "$rc" -gt 128 ] && grep -q '^\[  PASSED  \]' "$prefix/output" &&
        ! grep -q '^\[  FAILED  \]' "$prefix/output" || break
      echo "NOTE: $suite ($version): Wine ended by signal $((rc - 128)) after every case passed; running it once more"
    done
    echo "   $((SECONDS - start)) s"
    [ "$rc" = 0 ] || { echo "FAIL: $suite ($version) exited with $rc" >&2; status=1; }
  done
  wineserver -w
done
# Every scratch machine removes its key again.
left=$($wine reg query 'HKCU\Software' 2>/dev/null | tr -d '\r' | grep 'tq72-scratch' || true)
[ -z "$left" ] || { echo "FAIL: scratch keys left behind: $left" >&2; status=1; }
[ $status = 0 ] && echo "wine suites passed"
exit $status
