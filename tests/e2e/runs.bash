# What the end-to-end scripts of both programs share (sourced): the hosted
# ones (hosted_common.bash) and the Windows program's under Wine.

# Each check that fails says so, naming its scenario, and the script goes
# on to its other checks; finish then ends it with 1.
FAILURES=0
CASE="(setup)"

# A scenario name for the messages that follow.
scenario() {
  CASE=$1
  echo "-- $CASE"
}

fail() {
  echo "FAIL [$CASE]: $*" >&2
  FAILURES=$((FAILURES + 1))
}

# Ends the script: 0 when every check passed.
finish() {
  if [ "$FAILURES" -ne 0 ]; then
    echo "$FAILURES check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

# The message boxes of a call log (the hosted --log, or the Windows program's
# /LOG), one a line: STYLE|RESULT|TEXT, with TEXT as the log escapes it (\r\n
# for a line break). `boxes LOG | cut -d'|' -f3-` gives the texts alone.
boxes() {
  sed -nE '/"call": *"MessageBoxA"/{
    s/.*"style": *([0-9]+).*"result": *(-?[0-9]+).*/\1|\2|&/
    s/^([0-9]+\|-?[0-9]+)\|.*"text": *"(([^"\\]|\\.)*)".*/\1|\2/
    p
  }' "$1"
}

# Holds a flock on FILE in the background, as a program that has the file
# open holds it, until the holder (its pid in HOLDER) is ended; false when the
# lock is not taken within 5 s. One process, exec'd into sleep with the
# locked descriptor: ending it lets go of the lock (flock FILE CMD would leave
# CMD holding it).
hold_lock() {
  local i
  bash -c 'exec 9<"$1" && flock 9 && exec sleep 600' _ "$1" &
  HOLDER=$!
  # Once the lock is taken, a non-blocking try of ours fails.
  for i in $(seq 100); do
    flock -n "$1" true 2>/dev/null || return 0
    sleep 0.05
  done
  return 1
}

# The keys of a REGEDIT4 file, regedit's UTF-16 export included: one a line,
# as written, sorted. Deletion lines ([-KEY]) are no keys.
reg_keys() {
  local text
  if head -c2 "$1" | od -An -tx1 | grep -q 'ff fe'; then
    text=$(iconv -f UTF-16 -t UTF-8 "$1")
  else
    text=$(cat "$1")
  fi
  printf '%s\n' "$text" | tr -d '\r' | sed -n 's/^\[\([^-].*\)\]$/\1/p' | sort
}
