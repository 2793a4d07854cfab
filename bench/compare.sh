#!/usr/bin/env bash
# Our program against the tools an administrator would pick for the same job,
# on the same files in the same loop, as ratios with their targets:
#
#   full run on a 64 MB SYSTEM.INI / grep -v -F qvnvcd in > out   <= 1.5 (goal 1.0)
#   full run on a 64 MB SYSTEM.INI / sed -i '/qvnvcd/d' file       <= 0.7 (goal 0.5)
#   peak memory, full run on a 256 MB SYSTEM.INI minus on a 1 MB one   <= 4 MB
#   full run / declined run, on a 25 MB registry                   <= 1.5
#
# cp of the 64 MB file is timed beside them as the floor of any rewrite.
# Each figure is the median of the rounds; every full run's SYSTEM.INI is
# checked against the bytes it must hold. Exit status 1 when it does not;
# a figure over its target is marked, not an error: timings on a shared
# machine are no verdict.
#
#   bench/compare.sh [--rounds N] [--no-build]
#
#   --rounds N   rounds of the loop (default 5)
#   --no-build   use build/release/tq72uninst as it is
#
# TQ72_BENCH_DIR=/some/dir puts the scratch machines (about 1 GB) there
# instead of the system's temporary folder. Needs python3, GNU grep and sed;
# the peak memory is measured only where GNU time (Debian package "time") is.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=5
build=yes
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) [ $# -ge 2 ] || { echo "compare.sh: --rounds needs a number" >&2; exit 2; }
              rounds=$2; shift ;;
    --rounds=*) rounds=${1#*=} ;;
    --no-build) build=no ;;
    -h | --help) sed -n '2,/^set -e/{/^set -e/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "compare.sh: unknown argument \"$1\" (try --help)" >&2; exit 2 ;;
  esac
  shift
done
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "compare.sh: --rounds takes a positive number" >&2; exit 2; }
for tool in python3 grep sed cp; do
  command -v "$tool" >/dev/null || { echo "compare.sh: needs $tool" >&2; exit 2; }
done

if [ "$build" = yes ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release
fi
[ -x build/release/tq72uninst ] || { echo "compare.sh: build/release/tq72uninst not built" >&2; exit 2; }
exec python3 bench/compare.py --program build/release/tq72uninst --demo demo --rounds "$rounds"
