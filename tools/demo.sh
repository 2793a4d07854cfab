#!/usr/bin/env bash
# Builds the hosted uninstaller, runs it on a fresh copy of the demo Windows 98
# machine (demo/) and shows what it changed: registry keys, files, SYSTEM.INI.
#
#   tools/demo.sh [--answers LIST] [--hold-applet[=SECONDS]] [--drive] [--no-build]
#
#   --answers LIST   answers to the message boxes (yes,no,ok,enter,none), for a
#                    run without questions; by default they are asked here.
#   --hold-applet    play a Control Panel that holds tqc.cpl: a flock on it
#                    from the start, let go SECONDS (default 5) after the
#                    applet prompt appears. Answer the prompt before that and
#                    the applet stays; after, and it goes.
#                    Same as TQ72_DEMO_HOLD_APPLET=SECONDS in the environment.
#   --drive          run on the demo machine as a Windows 98 drive
#                    (make_drive: MSDOS.SYS naming C:\WIN98, the registry in
#                    WIN98\SYSTEM.DAT) and show SYSTEM.DAT's keys and backup.
#   --no-build       use build/default/tq72uninst (and tests/make_drive) as they are.
#
# TQ72UNINST=PATH in the environment runs that program instead, unbuilt.
#
# The machine is left in scratch/demo-machine (scratch/demo-drive with
# --drive, scratch/demo-drive-before as it was made), the run's call log
# (one JSON line per platform call) in scratch/demo.log.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

answers=()
hold=${TQ72_DEMO_HOLD_APPLET:-}
build=yes
drive=no
while [ $# -gt 0 ]; do
  case $1 in
    --answers) [ $# -ge 2 ] || { echo "demo.sh: --answers needs a list" >&2; exit 2; }
               answers=(--answers "$2"); shift ;;
    --answers=*) answers=(--answers "${1#*=}") ;;
    --hold-applet) hold=5 ;;
    --hold-applet=*) hold=${1#*=} ;;
    --drive) drive=yes ;;
    --no-build) build=no ;;
    -h | --help) sed -n '2,/^set -e/{/^set -e/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown argument \"$1\" (try --help)" >&2; exit 2 ;;
  esac
  shift
done
if [ -n "$hold" ] && ! [[ $hold =~ ^[0-9]+$ ]]; then
  echo "demo.sh: --hold-applet takes a number of seconds, not \"$hold\"" >&2
  exit 2
fi

bin=$repo/build/default/tq72uninst
make_drive=$repo/build/default/tests/make_drive
targets=(tq72uninst)
[ "$drive" = no ] || targets+=(make_drive)
if [ -n "${TQ72UNINST:-}" ]; then
  bin=$(realpath "$TQ72UNINST")
  build=no
fi
if [ "$build" = yes ]; then
  # The default preset also builds the tests, so configuring it needs
  # GoogleTest; on a fresh Debian machine install what the build needs.
  missing=()
  for p in cmake ninja-build g++ libgtest-dev libgmock-dev util-linux; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
      echo "demo.sh: please install ${missing[*]} (or run as root)" >&2
      exit 2
    fi
    echo "== installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  echo "== building"
  cmake --preset default >/dev/null
  # Quiet when it works, the whole compiler output when it does not.
  if ! out=$(cmake --build --preset default --target "${targets[@]}" 2>&1); then
    echo "$out" >&2
    exit 1
  fi
fi
[ -x "$bin" ] || { echo "demo.sh: $bin is missing: build with cmake --preset default && cmake --build --preset default" >&2; exit 2; }
[ "$drive" = no ] || [ -x "$make_drive" ] ||
  { echo "demo.sh: $make_drive is missing: build with cmake --build --preset default --target make_drive" >&2; exit 2; }

demo=$repo/demo
scratch=$repo/scratch
machine=$scratch/demo-machine
log=$scratch/demo.log
windows=WINDOWS
mkdir -p "$scratch"
rm -rf "$machine" "$log"
if [ "$drive" = yes ]; then
  # The drive as made stays beside the one the run changes, to compare.
  machine=$scratch/demo-drive
  demo=$scratch/demo-drive-before
  windows=WIN98
  rm -rf "$machine" "$demo"
  echo "== making the drive: $("$make_drive" "$repo/demo" "$demo")"
fi
cp -a "$demo" "$machine"

holder=
watcher=
stop_helpers() {
  [ -z "$watcher" ] || kill "$watcher" 2>/dev/null || true
  [ -z "$holder" ] || kill "$holder" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop_helpers EXIT

if [ -n "$hold" ]; then
  applet=$(find "$machine/$windows" -ipath '*/system/tqc.cpl' | head -n 1)
  # The holder execs into sleep with the locked descriptor, so that ending
  # that one process lets go of the lock (flock FILE CMD would leave CMD
  # holding it after flock itself is gone).
  bash -c 'exec 9<"$1" && flock 9 && exec sleep 3600' _ "$applet" &
  holder=$!
  # Wait until the lock is really held before the run starts.
  for _ in $(seq 100); do flock -n "$applet" true 2>/dev/null || break; sleep 0.05; done
  # The failed first deletion of the applet is logged just before its prompt
  # opens: let go of the applet a few seconds after that.
  (
    until grep -q '"call":"DeleteFileA".*tqc\.cpl.*"result":0' "$log" 2>/dev/null; do
      kill -0 "$holder" 2>/dev/null || exit 0
      sleep 0.1
    done
    sleep "$hold"
    kill "$holder" 2>/dev/null
    echo
    echo "   (the Control Panel has let go of tqc.cpl)"
  ) &
  watcher=$!
  echo "== the Control Panel holds tqc.cpl; it lets go $hold s after the applet prompt appears"
fi

echo "== running: tq72uninst --machine ${machine#"$repo/"} ${answers[*]}"
status=0
"$bin" --machine "$machine" "${answers[@]}" --log "$log" || status=$?
stop_helpers
trap - EXIT
echo
case $status in
  0) echo "== exit status 0: declined (or the completion box was not shown)" ;;
  1) echo "== exit status 1: uninstall finished" ;;
  *) echo "== exit status $status: the uninstaller could not start"; exit "$status" ;;
esac

# A drive's keys as libcreg reads SYSTEM.DAT (our own reader where Debian's
# python3-libcreg is missing), a machine folder's from registry.reg.
keys() {
  if [ "$drive" = no ]; then
    tr -d '\r' <"$1/registry.reg" | grep -a '^\[' | LC_ALL=C sort
  elif /usr/bin/python3 -c 'import pycreg' 2>/dev/null; then
    /usr/bin/python3 "$repo/tests/support/libcreg_list.py" "$1/WIN98/SYSTEM.DAT" | sed -n 's/^K \(..*\)$/[HKEY_LOCAL_MACHINE\\\1]/p' | LC_ALL=C sort
  else
    "$make_drive" --list "$1/WIN98/SYSTEM.DAT" | sed -n 's/^K \(..*\)$/[HKEY_LOCAL_MACHINE\\\1]/p' | LC_ALL=C sort
  fi
}
files() { (cd "$1" && find . -mindepth 1 | LC_ALL=C sort); }
sysini() { find "$1/$windows" -maxdepth 1 -iname system.ini | head -n 1; }

# "- line" for a line only in the first file, "+ line" for one only in the second.
changes() {
  local out
  out=$(diff "$1" "$2" | sed -n 's/^</  -/p; s/^>/  +/p' || true)
  echo "${out:-   none}"
}

# The listing wraps as the program's own boxes do: at the terminal's width,
# at most 80 columns, between words.
width=$( (tput cols 2>/dev/null || echo 80) | head -n 1)
[[ $width =~ ^[0-9]+$ ]] && [ "$width" -le 80 ] && [ "$width" -ge 20 ] || width=80
width=$((width - 4))

echo
echo "== message boxes (from the call log)"
sed -nE '/"call":"MessageBoxA"/{
  s/.*"text":"(([^"\\]|\\.)*)".*"result":(-?[0-9]+).*/\3 \1/
  s/^0 /  (not shown) /; s/^1 /  [OK] /; s/^6 /  [Yes] /; s/^7 /  [No] /
  s/\\r\\n/ /g
  p
}' "$log" | fold -s -w "$width" | sed 's/^[^ ]/    &/'

echo
echo "== registry keys (- removed, + added)"
changes <(keys "$demo") <(keys "$machine")

echo
echo "== files (- removed, + added)"
changes <(files "$demo") <(files "$machine")

echo
echo "== SYSTEM.INI (^M is a CR; \$ ends a line, so a line without \$ has no line end)"
diff <(cat -A "$(sysini "$demo")") <(cat -A "$(sysini "$machine")") || true
cmp -s "$(sysini "$demo")" "$(sysini "$machine")" && echo "   unchanged"

if [ "$drive" = yes ]; then
  echo
  echo "== SYSTEM.DAT and its backup"
  size() { stat -c %s "$1"; }
  echo "   SYSTEM.DAT: $(size "$demo/WIN98/SYSTEM.DAT") bytes before, $(size "$machine/WIN98/SYSTEM.DAT") after (changed in place)"
  echo "   $(cmp -s "$demo/WIN98/SYSTEM.DAT" "$machine/WIN98/SYSTEM.DAT" && echo unchanged ||
    echo "$(cmp -l "$demo/WIN98/SYSTEM.DAT" "$machine/WIN98/SYSTEM.DAT" | wc -l) bytes changed")"
  for backup in "$machine"/WIN98/SYSTEM.Q[0-9][0-9]; do
    [ -e "$backup" ] || continue
    cmp -s "$backup" "$demo/WIN98/SYSTEM.DAT" && same="the file as it was before the run" || same="NOT the file before the run"
    echo "   backup ${backup#"$machine/"}: $same"
  done
fi

echo
echo "The machine is in ${machine#"$repo/"}, the call log in scratch/demo.log."
