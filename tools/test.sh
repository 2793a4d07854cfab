#!/usr/bin/env bash
# Installs what the tests need (Debian packages; run as root), builds every
# preset and runs every test: unit and end-to-end on the hosted build, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# portable suites under valgrind's memcheck (the default preset), the fuzz
# targets over their corpora (a short run; tools/fuzz.sh runs them longer),
# and the release: CTest runs tools/release.sh into its build folder before
# the tests that read the release (what it holds, a second release
# elsewhere, the image check, the Windows program from its floppy under
# Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev util-linux
  python3 g++-mingw-w64-i686-win32 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine wine32 wine64 fonts-wine xvfb xdotool x11-utils imagemagick
  clang libclang-rt-14-dev mtools unzip valgrind libcreg-utils python3-libcreg strace
  groff man-db bsdextrautils file lintian dpkg-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing+=(wine32)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
echo "== Windows program"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
# The same sources as a 64-bit program: the Wine test runs it where the kernel
# cannot execute 32-bit code (and so 32-bit Wine cannot start).
cmake --preset windows64 >/dev/null
cmake --build --preset windows64 -j "$jobs"

echo "== hosted build and tests"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

echo "== optimised build and tests"
# The optimiser warns about things a debug build never sees, and a fault may
# show only at -O2: build and run the tests that way too.
cmake --preset optimized >/dev/null
cmake --build --preset optimized -j "$jobs"
ctest --preset optimized -j "$jobs"

echo "== sanitizers"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== fuzz targets: corpora and a bounded number of new inputs"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz -j "$jobs"

echo "== benchmarks build"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
