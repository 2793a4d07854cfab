#!/bin/bash
# A second release, built from the same sources in another folder (another
# path, time zone and umask, a later time), must match DIST (default
# SOURCE_DIR/dist) file by file: the same names, the same SHA-256. The path
# reaches the Linux program if a build path gets into it; the umask, the
# modes in the Debian package; the time, every date not taken from
# SOURCE_DATE_EPOCH (a compressed man page's, a package member's).
#
# The second build works on a copy of the files git would commit (tracked,
# and untracked ones not ignored) as they are in the working tree. In a clean
# clone, as in CI, that is what a clone gives; with uncommitted changes it is
# still the tree dist/ was built from, so that neither a false failure nor a
# false pass comes from them. The copy has no git history and gets the same
# SOURCE_DATE_EPOCH.
#
# usage: reproducible.sh SOURCE_DIR [DIST]   (after tools/release.sh there)
set -u
src=$(realpath "$1")
dist=$(realpath -m "${2:-$src/dist}")
source "$(dirname "$0")/../windows/skip_or_fail.bash"
[ -d "$dist" ] || { echo "FAIL: no release in $dist (tools/release.sh)" >&2; exit 1; }
git -C "$src" rev-parse --git-dir >/dev/null 2>&1 || skip_or_fail "$src is not a git checkout"
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct)}
if [ -n "$(git -C "$src" status --porcelain)" ]; then
  echo "NOTE: uncommitted changes: the second release is built from a copy of the working tree"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/another/folder/tq72uninst
mkdir -p "$copy"
(cd "$src" && git ls-files -z --cached --others --exclude-standard |
   while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
   tar --null -T - -cf -) | tar -xf - -C "$copy" || { echo "FAIL: cannot copy the tree" >&2; exit 1; }

(cd "$copy" && umask 077 && TZ=Pacific/Kiritimati SOURCE_DATE_EPOCH=$epoch bash tools/release.sh) >"$work/log" 2>&1 ||
  { cat "$work/log" >&2; echo "FAIL: the second release failed" >&2; exit 1; }

sums() { (cd "$1" && find . -type f -printf '%P\0' | sort -z | xargs -0 sha256sum); }
if ! diff <(sums "$dist") <(sums "$copy/dist") >&2; then
  echo "FAIL: the release built in $copy differs from $dist (< first, > second)" >&2
  exit 1
fi
echo "reproducible: $(ls "$copy/dist" | wc -l) files match"
sums "$copy/dist"
