# Shared by the hosted end-to-end scripts (sourced, not a test of its own):
#   source "$(dirname "$0")/hosted_common.bash" "$@"
# after which BIN is the hosted tq72uninst, SRC the source tree, DEMO its demo
# machine, EXPECTED the expected end state, PRODUCT_FILES the product's files
# (relative to a machine folder), and WORK a scratch folder removed on exit.
# Every run of the program goes through bounded (below).
set -euo pipefail
export LC_ALL=C
source "$(dirname "${BASH_SOURCE[0]}")/runs.bash"

if [ $# -lt 2 ]; then
  echo "usage: bash $0 PATH-TO-tq72uninst SOURCE-DIR" >&2
  exit 2
fi
BIN=$(realpath "$1")
SRC=$(realpath "$2")
DEMO=$SRC/demo
EXPECTED=$SRC/tests/e2e/expected
# The suites' list of them (product_files.inc), in the order a run deletes
# them: the four in the system folder that RemoveDriverFiles deletes, then
# the applet and its help.
mapfile -t PRODUCT_FILES < <(sed -n 's#^"\(.*\)",$#WINDOWS/\1#p' "$SRC/tests/support/product_files.inc" |
  sed 's#\\\\#/#g')
[ ${#PRODUCT_FILES[@]} -gt 0 ] || { echo "no product files in product_files.inc" >&2; exit 2; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tq72-e2e.XXXXXX")
# Background helpers (lock holders) register their pids here to be ended on exit.
HELPER_PIDS=()
cleanup() {
  local pid
  for pid in "${HELPER_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# A fresh copy of the demo machine (or of machine FROM) at $WORK/NAME;
# prints its path.
fresh_machine() { # name [from]
  local dir=$WORK/$1
  rm -rf "$dir"
  cp -a "${2:-$DEMO}" "$dir"
  echo "$dir"
}

# Every run of the program is bounded: one still going after RUN_SECONDS is
# ended, and fails its case and the script at once. A hang then costs
# seconds rather than CTest's ten minutes, says which case hung, and leaves
# no process behind.
RUN_SECONDS=${TQ72_E2E_RUN_SECONDS:-60}
exec 7>&1 8>&2  # the script's own streams, whatever a run's are

# Sets WORDS to the command that runs COMMAND [ARGS...] (the program, or a
# command that execs it) bounded, with the program's own pid in $WORK/pid.
bounded_words() {
  WORDS=(timeout --foreground --kill-after=5 "$RUN_SECONDS"
         bash -c 'echo $$ >"$0" && exec "$@"' "$WORK/pid" "$@")
}

# Runs COMMAND [ARGS...] bounded; sets STATUS. The caller redirects its
# standard streams.
bounded() {
  bounded_words "$@"
  STATUS=0
  "${WORDS[@]}" || STATUS=$?
  ended_in_time
}

# Ends the script, failing the current case, when the run that set STATUS
# was ended by the bound (timeout's 124: the program never exits so).
ended_in_time() {
  if [ "$STATUS" -eq 124 ]; then
    # Back to the script's streams: one held open here (a pipe the caller
    # redirected into) would keep the clean-up waiting for its reader.
    exec 1>&7 2>&8
    echo "FAIL [$CASE]: tq72uninst still running after ${RUN_SECONDS} s; ended it" >&2
    exit 124
  fi
}

# Runs the uninstaller with ARGS and no terminal; sets STATUS, and leaves its
# standard output and error in $WORK/stdout and $WORK/stderr.
run_plain() {
  bounded "$BIN" "$@" </dev/null >"$WORK/stdout" 2>"$WORK/stderr"
}

# run_plain with its call log in $WORK/log.
run() {
  rm -f "$WORK/log"
  run_plain "$@" --log "$WORK/log"
}

expect_status() {
  [ "$STATUS" -eq "$1" ] || fail "exit status $STATUS, expected $1 (stderr: $(head -c 300 "$WORK/stderr"))"
}


CONFIRMATION='If you want to remove the Quorvane TQ72 Modem from your system, Click Yes.  If you are intending to Upgrade the TQ72 Modem with new software drivers, Click No and simply run Setup.exe from within the new installation kit.'
COMPLETION='Software uninstall is finished.  To complete uninstallation, you must remove the hardware from the computer. '
APPLET_PROMPT='Unable to delete Control Panel entry\r\n\r\nPlease close the Control Panel and continue'
NO_PRODUCT_KEY='Could not open either key'

# Checks that the log shows exactly these boxes, in order: STYLE|RESULT|TEXT...
expect_boxes() {
  local want got
  want=$(printf '%s\n' "$@")
  got=$(boxes "$WORK/log")
  if [ "$want" != "$got" ]; then
    fail "message boxes differ from what was expected"
    diff <(echo "$want") <(echo "$got") | sed 's/^/    /' >&2 || true
  fi
  if ! grep -q '"caption": *"Quorvane TQ72 Modem"' "$WORK/log" && [ $# -gt 0 ]; then
    fail "no box carries the caption \"Quorvane TQ72 Modem\""
  fi
  # (No "grep | grep -q" under pipefail: the early exit of -q fails the pipe.)
  if grep -v '"caption": *"Quorvane TQ72 Modem"' <(grep '"call": *"MessageBoxA"' "$WORK/log") >/dev/null; then
    fail "a box has another caption than \"Quorvane TQ72 Modem\""
  fi
}

# MACHINE's registry.reg is FROM's bytes less the blocks of the keys listed
# in GONE (drop_keys): exactly those keys went, and everything else kept its
# bytes (values, order, CR LF, wrapping, blank lines). FROM and GONE are the
# demo's registry and the keys a full run removes unless given.
expect_registry() { # machine [from] [gone]
  local from=${2:-$DEMO/registry.reg} gone=${3:-$EXPECTED/removed-keys.txt}
  cmp -s <(drop_keys "$from" "$gone") "$1/registry.reg" && return
  fail "registry.reg is not ${from#"$SRC/"} less the keys of ${gone#"$SRC/"} (< expected, > found)"
  diff <(drop_keys "$from" "$gone") "$1/registry.reg" | head -10 | sed 's/^/    /' >&2 || true
}

# MACHINE's registry and SYSTEM.INI are those one full run leaves on the demo.
expect_full_run_result() {
  expect_registry "$1"
  cmp -s "$EXPECTED/SYSTEM.INI" "$1/WINDOWS/SYSTEM.INI" || fail "SYSTEM.INI differs from expected"
}

# The machine folder is byte for byte as REFERENCE (no file added or lost).
expect_same_tree() {
  local diffs
  if ! diffs=$(diff -r "$1" "$2" 2>&1); then
    fail "machine changed: $(echo "$diffs" | head -5)"
  fi
}

# The file listing of a machine folder, relative, sorted.
files_of() {
  (cd "$1" && find . -mindepth 1 | sort)
}

# FILE without the blocks (header, values, trailing blank line) of the keys
# named in LIST, one a line; every other byte kept.
drop_keys() {
  awk 'FILENAME == ARGV[1] { gone["[" $0 "]"] = 1; next }
       /^\[/ { header = $0; sub(/\r$/, "", header); skip = (header in gone) }
       !skip' "$2" "$1"
}

# The keys of REGEDIT4 FILE that are, or lie below, one listed in LIST (in
# any case): what deleting the listed keys takes away.
keys_at_or_below() {
  reg_keys "$1" | awk 'FILENAME == ARGV[1] { p[tolower($0)] = 1; next }
    { k = tolower($0); for (x in p) if (k == x || index(k, x "\\") == 1) { print; next } }' "$2" -
}

# Holds a flock on FILE in the background until released (runs.bash).
hold() {
  local taken=0
  hold_lock "$1" || taken=$?
  HELPER_PIDS+=("$HOLDER")
  [ $taken = 0 ] || fail "could not take the lock on $1"
}

release() {
  kill "$HOLDER" 2>/dev/null || true
  wait "$HOLDER" 2>/dev/null || true
}

# Starts the uninstaller with ARGS on a pseudo-terminal (script), so that its
# boxes are asked there once the answers run out. Keys typed go to fd 3; the
# screen is $WORK/screen, the uninstaller's pid $WORK/pid once it has started.
run_on_terminal() {
  rm -f "$WORK/log" "$WORK/screen" "$WORK/keys" "$WORK/pid"
  mkfifo "$WORK/keys"
  bounded_words "$BIN" "$@" --log "$WORK/log"
  script -qefc "exec $(printf '%q ' "${WORDS[@]}")" "$WORK/screen" <"$WORK/keys" >/dev/null 2>&1 &
  RUNNER=$!
  HELPER_PIDS+=("$RUNNER")
  exec 3>"$WORK/keys"
}

# Waits up to 10 s for TEXT on the terminal; false if it does not show.
wait_for_screen() {
  local i
  for i in $(seq 200); do
    grep -aqF "$1" "$WORK/screen" 2>/dev/null && return 0
    kill -0 "$RUNNER" 2>/dev/null || break
    sleep 0.05
  done
  grep -aqF "$1" "$WORK/screen" 2>/dev/null && return 0
  # A run the bound has ended shows nothing more: say so at once.
  if ! kill -0 "$RUNNER" 2>/dev/null; then
    STATUS=0
    wait "$RUNNER" || STATUS=$?
    ended_in_time
  fi
  return 1
}

# Stops typing and waits for the run to end; sets STATUS.
end_terminal_run() {
  exec 3>&-
  STATUS=0
  wait "$RUNNER" || STATUS=$?
  ended_in_time
}
