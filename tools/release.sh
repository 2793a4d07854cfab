#!/usr/bin/env bash
# Makes the release in dist/: tq72uninst.exe, README.TXT (the guide for the
# person at the Windows machine), a zip and a 1.44 MB floppy image of the
# two; the Linux program, one static executable
# (tq72uninst-VERSION-linux-x86_64), and its Debian package; and SHA256SUMS.
# It builds the windows preset in build/dist and the linux preset in
# build/dist-linux, build folders of their own. Given a folder, it writes
# FOLDER/dist and builds in FOLDER/build and FOLDER/build-linux instead,
# leaving the repository's dist/ alone (the tests make their release in
# their build folder).
#
# The same sources give the same bytes, wherever and whenever they are built,
# so that anyone can check a download against their own build: the program
# carries no link time and no build path, and every date in the zip and on
# the floppy and in the package is the last commit's (SOURCE_DATE_EPOCH).
#
# usage: tools/release.sh [FOLDER]
#   SOURCE_DATE_EPOCH  the date the files carry, in seconds since 1970
#                      (default: the last commit's); a tree without its git
#                      history needs it
# Needs the windows preset's MinGW-w64, python3, mtools and dpkg-dev.
set -euo pipefail
out=${1:+$(realpath -m "$1")}
cd "$(dirname "$0")/.."
root=$PWD build=$PWD/build/dist linux_build=$PWD/build/dist-linux dist=$PWD/dist
[ -z "$out" ] || build=$out/build linux_build=$out/build-linux dist=$out/dist

for tool in python3 mformat mcopy sha256sum gzip dpkg-shlibdeps; do
  command -v $tool >/dev/null ||
    { echo "release.sh: $tool not found (apt-get install python3 mtools dpkg-dev)" >&2; exit 2; }
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) && [ -n "$SOURCE_DATE_EPOCH" ] ||
    { echo "release.sh: no git history in $root: set SOURCE_DATE_EPOCH" >&2; exit 2; }
fi
# Dates on the floppy are local times: UTC, whoever builds.
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
if [ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ]; then
  echo "NOTE: uncommitted changes: $dist is not what a clone of $(git -C "$root" rev-parse --short HEAD) makes"
fi

cmake --preset windows -B "$build" -DTQ72_WINDOWS_TESTS=OFF >/dev/null
cmake --build "$build" --target tq72uninst
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "release.sh: no project version in $build/CMakeCache.txt" >&2; exit 1; }
zip=tq72uninst-$version.zip img=tq72uninst-$version.img
linux=tq72uninst-$version-linux-x86_64 deb=tq72uninst_${version}_amd64.deb

# The Linux program, and the package that installs it with its man page.
# The modes in the package (and in its ar headers) are the umask's: pinned.
(umask 022
 cmake --preset linux -B "$linux_build" >/dev/null
 cmake --build "$linux_build"
 cd "$linux_build" && cpack -G DEB >/dev/null)

rm -rf "$dist"
mkdir -p "$dist"
# The order in which both archives hold the files.
files=(tq72uninst.exe README.TXT)
for f in "${files[@]}"; do install -m 644 "$build/$f" "$dist/$f"; done
install -m 755 "$linux_build/tq72uninst" "$dist/$linux"
install -m 644 "$linux_build/$deb" "$dist/$deb"
cd "$dist"

# Written with Python's zipfile rather than zip, which takes the dates, the
# owner and the permissions from the files on disk: every entry here is
# dated SOURCE_DATE_EPOCH and carries MS-DOS attributes (archive), as a
# Windows 95/98 machine would store it.
python3 - "$zip" "${files[@]}" <<'EOF'
import os, sys, time, zipfile
archive, *members = sys.argv[1:]
when = time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6]
with zipfile.ZipFile(archive, "w") as z:
    for name in members:
        entry = zipfile.ZipInfo(name, date_time=when)
        entry.compress_type = zipfile.ZIP_DEFLATED
        entry.create_system = 0
        entry.external_attr = 0x20
        with open(name, "rb") as f:
            z.writestr(entry, f.read(), compresslevel=9)
EOF

# mtools dates the volume label and every file from SOURCE_DATE_EPOCH (and,
# without it, from the clock). The serial number would be random: it is the
# date too, so that two releases' floppies differ and Windows notices the
# change of disk. Settings in mtools.conf or ~/.mtoolsrc that would change
# the names written are pinned: a VFAT long name for tq72uninst.exe (Windows
# 95 reads it) beside the short alias TQ72UN~1.EXE.
export MTOOLS_NO_VFAT=0 MTOOLS_NAME_NUMERIC_TAIL=1
mformat -i "$img" -C -f 1440 -v TQ72UNINST -N "$(printf '%08X' $((SOURCE_DATE_EPOCH & 0xFFFFFFFF)))" ::
mcopy -i "$img" "${files[@]}" ::

sha256sum "${files[@]}" "$zip" "$img" "$linux" "$deb" > SHA256SUMS
echo "== $dist (version $version, dated $(date -d @"$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"
cat SHA256SUMS
