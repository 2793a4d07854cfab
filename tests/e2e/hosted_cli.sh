# The hosted command line around the run: --version, --help, the call log on
# standard error, and a machine whose files are links to elsewhere.
#   bash hosted_cli.sh PATH-TO-tq72uninst SOURCE-DIR
set -euo pipefail
export LC_ALL=C
BIN=$(realpath "$1")
SRC=$(realpath "$2")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/tq72-cli.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
FAILURES=0
fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}
# Runs the binary with ARGS and no terminal; STATUS, $WORK/out, $WORK/err.
run() {
  STATUS=0
  "$BIN" "$@" </dev/null >"$WORK/out" 2>"$WORK/err" || STATUS=$?
}

echo "-- --version and --help"
run --version
[ "$STATUS" -eq 0 ] || fail "--version exit $STATUS"
grep -qxE 'tq72uninst [0-9]+\.[0-9]+\.[0-9]+' "$WORK/out" || fail "--version printed: $(cat "$WORK/out")"
run --machine "$WORK/nowhere" --help
[ "$STATUS" -eq 0 ] || fail "--help exit $STATUS"
for word in --machine --answers --log enter none; do
  grep -q -- "$word" "$WORK/out" || fail "--help does not mention $word"
done
[ ! -s "$WORK/err" ] || fail "--help wrote to stderr"

echo "-- log on standard error, declined"
cp -a "$SRC/demo" "$WORK/m"
run --machine "$WORK/m" --answers no --log -
[ "$STATUS" -eq 0 ] || fail "declined run exit $STATUS"
lines=$(wc -l <"$WORK/err")
[ "$lines" -eq 1 ] || fail "expected one logged call, got $lines"
grep -qE '^\{"n":1,"call":"MessageBoxA",.*"style":260,"result":7\}$' "$WORK/err" ||
  fail "log line: $(cat "$WORK/err")"
diff -r "$SRC/demo" "$WORK/m" >/dev/null || fail "a declined run changed the machine"

echo "-- answers run out without a terminal"
run --machine "$WORK/m" --answers "" --log "$WORK/log"
[ "$STATUS" -eq 0 ] || fail "unanswered confirmation exit $STATUS"
grep -q '"call":"MessageBoxA".*"result":0' "$WORK/log" || fail "the box was not 'cannot be shown'"

echo "-- linked files and folders stay outside"
mkdir "$WORK/outside"
printf 'outside applet' >"$WORK/outside/tqc.cpl"
printf 'outside ini' >"$WORK/outside/SYSTEM.INI"
printf 'outside help' >"$WORK/outside/tqc.hlp"
cp -a "$WORK/outside" "$WORK/outside.before"
rm -rf "$WORK/m" && cp -a "$SRC/demo" "$WORK/m"
ln -sf "$WORK/outside/tqc.cpl" "$WORK/m/WINDOWS/SYSTEM/tqc.cpl"
ln -sf "$WORK/outside/SYSTEM.INI" "$WORK/m/WINDOWS/SYSTEM.INI"
rm -rf "$WORK/m/WINDOWS/Help" && ln -s "$WORK/outside" "$WORK/m/WINDOWS/Help"
run --machine "$WORK/m" --answers yes,ok,ok,ok --log "$WORK/log"
[ "$STATUS" -eq 1 ] || fail "linked run exit $STATUS: $(head -c 300 "$WORK/err")"
diff -r "$WORK/outside.before" "$WORK/outside" >/dev/null || fail "a file outside the machine changed"
[ ! -L "$WORK/m/WINDOWS/SYSTEM/tqc.cpl" ] || fail "the linked applet was not removed as a link"
[ -L "$WORK/m/WINDOWS/Help" ] || fail "the linked Help folder itself went"

echo "-- a linked registry.reg is refused"
rm -rf "$WORK/m" && cp -a "$SRC/demo" "$WORK/m"
cp "$WORK/m/registry.reg" "$WORK/outside/registry.reg"
cp "$WORK/m/registry.reg" "$WORK/registry.before"
ln -sf "$WORK/outside/registry.reg" "$WORK/m/registry.reg"
run --machine "$WORK/m" --answers yes,ok,ok,ok
[ "$STATUS" -eq 2 ] || fail "linked registry.reg exit $STATUS"
[ "$(wc -l <"$WORK/err")" -eq 1 ] || fail "expected a one-line reason: $(cat "$WORK/err")"
cmp -s "$WORK/registry.before" "$WORK/outside/registry.reg" || fail "the linked registry changed"

if [ "$FAILURES" -ne 0 ]; then
  echo "$FAILURES check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
