#!/bin/bash
# What tools/release.sh put in dist/ is what a user must get:
# - exactly the seven files, and SHA256SUMS right for the six others;
# - the zip (read back by unzip) and the floppy (read back by mtools) hold
#   exactly tq72uninst.exe and README.TXT, in that order, byte for byte,
#   every entry and the volume label dated SOURCE_DATE_EPOCH; on the floppy
#   the exe under its long name, with the short alias TQ72UN~1.EXE;
# - README.TXT is ASCII, CR LF line ends, at most 78 columns a line;
# - the exe's PE header has no link time, and its version resource, read
#   back from the image by windres, names the project's version and Quorvane;
# - the Linux program is one static executable (no interpreter, no dynamic
#   section) for kernels from 3.2 on, and --version names the version;
# - the Debian package installs that same program and the man page of the
#   version, names no dependency, and lintian finds no error in it.
#
# usage: check_release.sh SOURCE_DIR VERSION [DIST]   (default SOURCE_DIR/dist)
set -u
src=$1 version=$2
dist=${3:-$src/dist}
status=0
fail() { echo "FAIL: $*" >&2; status=1; }
source "$(dirname "$0")/../windows/skip_or_fail.bash"
for tool in unzip mdir mcopy python3 i686-w64-mingw32-windres readelf file dpkg-deb lintian; do
  command -v $tool >/dev/null || skip_or_fail "$tool not installed"
done
[ -d "$dist" ] || { echo "FAIL: no release in $dist (tools/release.sh)" >&2; exit 1; }
# The date release.sh gives every entry: the same rule.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C

zip=tq72uninst-$version.zip img=tq72uninst-$version.img
linux=tq72uninst-$version-linux-x86_64 deb=tq72uninst_${version}_amd64.deb
members=$'tq72uninst.exe\nREADME.TXT'
released=$(printf '%s\n' README.TXT "$img" "$zip" tq72uninst.exe "$linux" "$deb" | sort)
[ "$(cd "$dist" && ls -A | sort)" = "$(printf '%s\n' $released SHA256SUMS | sort)" ] ||
  fail "dist/ holds $(cd "$dist" && echo $(ls -A)), not the seven release files"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) >&2 || fail "SHA256SUMS does not match the files"
[ "$(awk '{ print $2 }' "$dist/SHA256SUMS" | sort)" = "$released" ] ||
  fail "SHA256SUMS does not list exactly the six release files"

same_members() { # label folder: the members read back, against dist/
  local f
  for f in $members; do
    cmp -s "$dist/$f" "$2/$f" || fail "$1: $f is not the released $f"
  done
}

# --- the zip
unzip -tqq "$dist/$zip" >&2 || fail "$zip: unzip finds it damaged"
[ "$(unzip -Z1 "$dist/$zip")" = "$members" ] || fail "$zip holds $(unzip -Z1 "$dist/$zip" | tr '\n' ' ')"
mkdir "$work/zip"
unzip -qq "$dist/$zip" -d "$work/zip" && same_members "$zip" "$work/zip"
# Zip dates are even seconds; unzip -Z -T prints them as yyyymmdd.hhmmss.
want=$(date -u -d @$((epoch / 2 * 2)) +%Y%m%d.%H%M%S)
unzip -Z -T "$dist/$zip" | awk -v want="$want" '/^-/ && $7 != want { print $8 ": " $7; bad = 1 } END { exit bad }' >&2 ||
  fail "$zip: entries not dated $want (SOURCE_DATE_EPOCH $epoch)"

# --- the floppy
[ "$(stat -c %s "$dist/$img")" = 1474560 ] || fail "$img is not 1.44 MB"
listing=$(mdir -i "$dist/$img" :: 2>&1) || fail "$img: mdir cannot read it: $listing"
[ "$(mdir -b -i "$dist/$img" ::)" = $'::/tq72uninst.exe\n::/README.TXT' ] ||
  fail "$img: not tq72uninst.exe and README.TXT, in that order:"$'\n'"$listing"
printf '%s\n' "$listing" | grep -q '^TQ72UN~1 EXE .* tq72uninst\.exe$' || fail "$img: the exe's short name is not TQ72UN~1.EXE"
printf '%s\n' "$listing" | grep -q 'Volume in drive : is TQ72UNINST' || fail "$img: volume label is not TQ72UNINST"
mkdir "$work/img"
mcopy -n -i "$dist/$img" ::tq72uninst.exe ::README.TXT "$work/img" && same_members "$img" "$work/img"
# Every date of every entry of the root folder, the volume label's included
# (no mtools command shows those): created, accessed, written.
python3 - "$dist/$img" "$epoch" <<'EOF' >&2 || fail "$img: entries not dated SOURCE_DATE_EPOCH $epoch"
import struct, sys, time
image = open(sys.argv[1], "rb").read()
t = time.gmtime(int(sys.argv[2]))
day = (t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday
clock = t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2
sector, per_cluster, reserved, fats, entries = struct.unpack_from("<HBHBH", image, 11)
fat_sectors = struct.unpack_from("<H", image, 22)[0]
root = (reserved + fats * fat_sectors) * sector
bad = 0
for i in range(entries):
    e = image[root + 32 * i : root + 32 * (i + 1)]
    if e[0] == 0:
        break
    if e[0] == 0xE5 or e[11] == 0x0F:  # deleted, or a piece of a long name
        continue
    ctime, cdate, adate, _, wtime, wdate = struct.unpack_from("<HHHHHH", e, 14)
    if (cdate, adate, wdate) != (day, day, day) or (ctime, wtime) != (clock, clock):
        print(f"{e[:11].decode('ascii', 'replace')!r}: dates {cdate:#x} {adate:#x} {wdate:#x}, "
              f"times {ctime:#x} {wtime:#x}; expected date {day:#x}, time {clock:#x}")
        bad = 1
sys.exit(bad)
EOF

# --- README.TXT, for Notepad and EDIT on the Windows machine
readme=$dist/README.TXT
bad=$(LC_ALL=C grep -naP '[^\x20-\x7e\r]' "$readme") && fail "README.TXT: bytes other than printable ASCII and CR LF: ${bad:0:200}"
bad=$(LC_ALL=C grep -nav $'\r$' "$readme") && fail "README.TXT: lines without CR LF: ${bad:0:200}"
[ "$(tail -c 2 "$readme" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "README.TXT: the last line has no CR LF"
tr -d '\r' < "$readme" | awk 'length > 78 { print "line " NR ": " length " columns"; bad = 1 } END { exit bad }' >&2 ||
  fail "README.TXT: lines longer than 78 columns"
grep -q "^Version $version"$'\r$' "$readme" || fail "README.TXT does not name version $version"

# --- the exe's header: no link time (ld writes SOURCE_DATE_EPOCH there if it
# writes one, so only this check sees it)
pe=$(od -An -tu4 -j 60 -N 4 "$dist/tq72uninst.exe" | tr -d ' ')
[ "$(od -An -tu4 -j $((pe + 8)) -N 4 "$dist/tq72uninst.exe" | tr -d ' ')" = 0 ] ||
  fail "tq72uninst.exe: the PE header carries a link time"

# --- the version resource, as windres reads it back out of the image
resource=$(i686-w64-mingw32-windres -i "$dist/tq72uninst.exe" -O rc 2>&1) || fail "windres cannot read the resources: $resource"
numbers=$(echo "$version" | awk -F. '{ printf "%d, %d, %d, %d", $1, $2, $3, $4 }')
for want in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"FileVersion\", \"$version\"" \
            "VALUE \"ProductVersion\", \"$version\"" 'VALUE "CompanyName", "Quorvane"' \
            'VALUE "OriginalFilename", "tq72uninst.exe"'; do
  printf '%s\n' "$resource" | sed 's/^ *//' | grep -qxF -- "$want" || fail "version resource: no $want"
done

# --- the Linux program, for any x86-64 Linux from kernel 3.2 on (a live
# system's included) with nothing installed beside it
program=$dist/$linux
[ -x "$program" ] || fail "$linux is not executable"
headers=$(readelf -lW "$program" 2>&1) || fail "readelf cannot read $linux: $headers"
bad=$(grep -E '^ +(INTERP|DYNAMIC) ' <<<"$headers") && fail "$linux is not static: it has $bad"
described=$(file -b "$program")
for want in 'ELF 64-bit LSB executable, x86-64' 'statically linked' 'for GNU/Linux 3.2.0'; do
  [[ $described == *"$want"* ]] || fail "$linux: file says \"$described\", not \"$want\""
done
said=$("$program" --version 2>&1)
[ "$said" = "tq72uninst $version" ] || fail "$linux --version says \"$said\", not \"tq72uninst $version\""

# --- the Debian package of it
mkdir "$work/deb"
dpkg-deb -x "$dist/$deb" "$work/deb" || fail "$deb: dpkg-deb cannot unpack it"
cmp -s "$program" "$work/deb/usr/bin/tq72uninst" || fail "$deb: usr/bin/tq72uninst is not $linux"
zcat "$work/deb/usr/share/man/man1/tq72uninst.1.gz" 2>/dev/null | grep -q "^\.TH TQ72UNINST 1 .*\"tq72uninst $version\"" ||
  fail "$deb: no man page tq72uninst(1) of version $version"
fields=$(dpkg-deb -f "$dist/$deb" Package Version Architecture Depends Pre-Depends)
[ "$fields" = $'Package: tq72uninst\nVersion: '"$version"$'\nArchitecture: amd64' ] ||
  fail "$deb: control fields are not the package's, or name dependencies: $fields"
# lintian finds no error; whatever else it says goes to the test's output.
findings=$(lintian --fail-on error "$dist/$deb" 2>&1) || fail "lintian finds errors in $deb"
grep -v 'running with root privileges' <<<"$findings" >&2

[ $status = 0 ] && echo "release OK: $(cd "$dist" && echo $(ls))"
exit $status
