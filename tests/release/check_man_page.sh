#!/bin/bash
# The man page says what --help says: the same options, each with the same
# value name, in OPTIONS, and the same usage in SYNOPSIS; and groff reads it
# without a single warning, as man shows it.
#
# usage: check_man_page.sh PROGRAM PAGE   (the configured tq72uninst.1)
set -u
program=$1 page=$2
status=0
fail() { echo "FAIL: $*" >&2; status=1; }
source "$(dirname "$0")/../windows/skip_or_fail.bash"
for tool in groff man; do
  command -v $tool >/dev/null || skip_or_fail "$tool not installed (apt-get install groff man-db)"
done
export LC_ALL=C
help=$("$program" --help) || { echo "FAIL: $program --help failed" >&2; exit 1; }

warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns about $page:"$'\n'"$warnings"
shown=$(MANWIDTH=80 man -l "$page" 2>&1 | col -b) && grep -q '^NAME$' <<<"$shown" ||
  fail "man -l does not show $page: ${shown:0:300}"

# The page as text, without bold or underlining.
text=$(groff -man -Tascii -P-cbou "$page" 2>/dev/null)
section() { awk -v name="$1" '/^[A-Z]/ { inside = ($0 == name); next } inside' <<<"$text"; }
# An option of --help: a line that starts with two spaces and a dash, up to
# the two spaces before its description. An option of the page: a tag of
# OPTIONS, which groff sets at the section's indent, its text beneath.
diff <(sed -n 's/^  \(-[^ ].*\)$/\1/p' <<<"$help" | sed 's/  .*//' | sort) \
     <(section OPTIONS | sed -n 's/^       \(-.*\)$/\1/p' | sort) >&2 ||
  fail "the options of --help (<) and of the page's OPTIONS (>) differ"
usage=$(sed -n 's/^usage: //p' <<<"$help" | tr -s ' ')
synopsis=$(section SYNOPSIS | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
[ "$usage" = "$synopsis" ] || fail "the usage of --help ($usage) is not the page's SYNOPSIS ($synopsis)"

[ $status = 0 ] && echo "man page OK: $(section OPTIONS | grep -c '^       -') options, as --help lists them"
exit $status
